#pragma once

// The sources of the app in front, one per kind of desktop, and the choice among them.
//
// Each make*FrontApp function lives in a .cpp of its own (WlrootsFrontApp.cpp, KWinFrontApp.cpp,
// GnomeFrontApp.cpp, FrontAppX11.cpp). It makes its source with `log` already attached, so that
// what goes wrong while the source starts reaches the program's log, and answers one of three
// ways:
//   - a source that serves: {source, ""};
//   - a source that exists but cannot serve yet, because the user still has to turn something on
//     (it keeps watching and turns working when that happens): {source, ""} with the source's
//     status() unavailable, saying what to do (the choice logs it as it logs every later change);
//   - nothing: {nullptr, reason}, when this session cannot use the source at all (the compositor
//     lacks the protocol, the display cannot be reached). The next source is then tried, and the
//     reason is told to the user when none serves.
// A source names apps only through `identity` (see FrontApp.h).

#include "FrontApp/FrontApp.h"
#include "FrontApp/FrontAppIdentity.h"

#include <functional>
#include <memory>
#include <string>

namespace kestrix::core {

// What the process's environment says about the desktop session.
struct FrontAppSession {
    std::string waylandDisplay; // WAYLAND_DISPLAY
    std::string
        currentDesktop;     // XDG_CURRENT_DESKTOP, a colon-separated list such as "ubuntu:GNOME"
    std::string x11Display; // DISPLAY
    static FrontAppSession fromEnvironment();

    // Whether XDG_CURRENT_DESKTOP names the desktop (one of its entries, compared without case).
    bool names(std::string_view desktop) const;
};

struct FrontAppAttempt {
    std::unique_ptr<FrontApp> source; // null when the source cannot serve this session
    std::string reason;               // then: why, for the user
};

using FrontAppIdentityRef = std::shared_ptr<const FrontAppIdentity>;
using FrontAppLog = std::function<void(const std::string&)>;

// wlroots compositors (sway, Hyprland, labwc, river, Wayfire): zwlr_foreign_toplevel_manager_v1.
FrontAppAttempt makeWlrootsFrontApp(MainLoop& loop, const FrontAppSession& session,
                                    FrontAppIdentityRef identity, const FrontAppLog& log);
// KDE Plasma: a KWin script that reports the activated window.
FrontAppAttempt makeKWinFrontApp(MainLoop& loop, const FrontAppSession& session,
                                 FrontAppIdentityRef identity, const FrontAppLog& log);
// GNOME Shell: the Shell extension that publishes the focused window's app.
FrontAppAttempt makeGnomeFrontApp(MainLoop& loop, const FrontAppSession& session,
                                  FrontAppIdentityRef identity, const FrontAppLog& log);
// X11, also XWayland when no Wayland source serves: the window manager's active window.
FrontAppAttempt makeX11FrontApp(MainLoop& loop, const FrontAppSession& session,
                                FrontAppIdentityRef identity, const FrontAppLog& log);

// The makers the choice tries; tests put their own in.
struct FrontAppSources {
    using Maker = std::function<FrontAppAttempt(MainLoop&, const FrontAppSession&,
                                                FrontAppIdentityRef, const FrontAppLog&)>;
    Maker gnome = makeGnomeFrontApp;
    Maker kwin = makeKWinFrontApp;
    Maker wlroots = makeWlrootsFrontApp;
    Maker x11 = makeX11FrontApp;
};

// The source for the session: with WAYLAND_DISPLAY, GNOME or KDE when XDG_CURRENT_DESKTOP names
// them, then wlroots; then X11 when DISPLAY is set. Never null: when nothing serves, a source
// without an app in front whose status gives the reasons. `log` hears where the app in front
// comes from, or the status the source started with when it cannot serve yet.
std::unique_ptr<FrontApp> chooseFrontApp(MainLoop& loop, const FrontAppSession& session,
                                         const FrontAppSources& sources,
                                         FrontAppIdentityRef identity, const FrontAppLog& log);

} // namespace kestrix::core
