#pragma once

#include "KestrixProtocol/ProtocolRecords.h"
#include "Vantor/DispatchTicker.h"
#include "Vantor/EventPosting.h"
#include "Vantor/SpaceMouseInput.h"
#include "Vantor/Workspace.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace kestrix {
class UserDefaults;
}

namespace vantor {

// Everything of the system the Scroller uses; every field may be replaced (tests do).
struct ScrollerSystem {
    // Where settings are read and written.
    kestrix::UserDefaults* defaults = nullptr;
    // Seconds on a monotonic clock: the tick loop's and the axes' time stamps.
    std::function<double()> now;
    // Called once, when the Scroller is made.
    std::function<std::unique_ptr<Ticking>()> makeTicker;
    // Opens the broker connection with a claim; the caller starts it.
    std::function<std::unique_ptr<SpaceMouseInput>(const kestrix::Claim&)> connect;
    // The real event sink.
    std::shared_ptr<EventPosting> poster;
    // The app's own bundle identifier.
    std::optional<std::string> ownBundleID;
    // Whether posting events is allowed now.
    std::function<bool()> hasPermission;
    // What lets the user post events while that is not allowed, for the log (when unset: the udev
    // rule).
    std::function<std::string()> permissionAdvice;
    // The app in front and its changes.
    std::shared_ptr<Workspace> workspace;
};

} // namespace vantor
