#pragma once

// What KDE Plasma's KWin script and the GNOME Shell extension say of the focused window, turned
// into the facts the identity rule takes. The texts come off the session bus: anything may be in
// them, and only the identity rule decides what names an app.

#include "FrontApp/FrontAppIdentity.h"

#include <cstdint>
#include <optional>
#include <string_view>

namespace kestrix::core {

// A process id written in decimal ("4711"): 1 to 2^31-1, digits only; anything else is none.
std::optional<std::int32_t> processIDFromText(std::string_view text);

// The desktop-file id in a desktop's name for a window's app: "org.gnome.Terminal.desktop" and
// "/usr/share/applications/org.kde.konsole.desktop" name "org.gnome.Terminal" and
// "org.kde.konsole"; "org.kde.dolphin" stands as it is. The Shell's "window:<n>", its name for a
// window it found no app for, names none (empty).
std::string desktopIDFromShell(std::string_view name);

// KWin's report: the window's desktop-file name, resource class and process id (as text).
FrontAppWindow windowFromKWin(std::string_view desktopFileName, std::string_view resourceClass,
                              std::string_view processID);

// The Shell's Focus property: the window tracker's app id, the window's class and process id.
FrontAppWindow windowFromGnomeShell(std::string_view appID, std::string_view windowClass,
                                    std::int32_t processID);

} // namespace kestrix::core
