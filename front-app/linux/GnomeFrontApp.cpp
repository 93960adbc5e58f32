// The app in front on GNOME Shell, through the Shell extension that publishes the focused
// window's app on the session bus.
#include "Sources.h"

namespace kestrix::core {

FrontAppAttempt makeGnomeFrontApp(MainLoop&, const FrontAppSession&, FrontAppIdentityRef) {
    return {nullptr, "Following the windows of GNOME Shell is not built in yet."};
}

} // namespace kestrix::core
