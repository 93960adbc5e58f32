// The app in front on wlroots compositors (sway, Hyprland, labwc, river, Wayfire), through
// zwlr_foreign_toplevel_manager_v1.
#include "Sources.h"

namespace kestrix::core {

FrontAppAttempt makeWlrootsFrontApp(MainLoop&, const FrontAppSession&, FrontAppIdentityRef) {
    return {nullptr, "Following the windows of a wlroots compositor is not built in yet."};
}

} // namespace kestrix::core
