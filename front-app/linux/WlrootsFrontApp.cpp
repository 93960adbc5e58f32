// The app in front on wlroots compositors (sway, Hyprland, labwc, river, Wayfire), through
// zwlr_foreign_toplevel_manager_v1.
#include "FrontAppWlroots.h"
#include "Sources.h"

namespace kestrix::core {

FrontAppAttempt makeWlrootsFrontApp(MainLoop& loop, const FrontAppSession& session,
                                    FrontAppIdentityRef identity, const FrontAppLog& log) {
    if (session.waylandDisplay.empty()) return {nullptr, "This is no Wayland session."};
    std::string why;
    auto source = FrontAppWlroots::connect(loop, session.waylandDisplay, std::move(identity), why);
    if (!source) return {nullptr, why};
    if (log) source->log = log;
    return {std::move(source), ""};
}

} // namespace kestrix::core
