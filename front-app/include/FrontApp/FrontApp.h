#pragma once

// The app in front, shared by both programs: the broker gives the device to the app in front,
// the scroller scrolls it and the windows name it.
//
// How a source plugs in
// ---------------------
// A source is a FrontApp that follows one desktop's idea of the focused window (X11's active
// window, a Wayland compositor's activated toplevel, a desktop's script or extension). It runs on
// the loop's thread and watches its connection with the loop (no threads of its own). It:
//   - gathers the raw facts of the focused window in a FrontAppWindow (process id, Wayland
//     app_id, WM_CLASS instance and class) and names the app with the shared FrontAppIdentity's
//     ofWindow(), never with rules of its own, so that every source names an app the same way;
//     FrontmostApp::name carries the app's name when the desktop tells it;
//   - calls onActivate whenever the app in front may have changed (also to none);
//   - reports status(): working, or unavailable with a reason the user can act on (and, where the
//     program itself can mend it, an action), and calls onStatusChange when that changes. While
//     unavailable, frontmost() is absent.
// Sources are made by the functions of front-app/linux/Sources.h, one .cpp each; makeFrontApp()
// chooses one once at start from the session.

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>

namespace kestrix {
class MainLoop;
}

namespace kestrix::core {

// The application in front, as the broker needs it for arbitration.
struct FrontmostApp {
    std::optional<std::string> bundleID; // absent when the app has no identifier
    std::optional<std::int32_t> processID;
    std::optional<std::string> name = std::nullopt; // the app's own name, when the desktop tells it
    bool operator==(const FrontmostApp&) const = default;
};

// Something the program can do to mend an unavailable source (such as turning on what the source
// needs), offered to the user as a button beside the reason.
struct FrontAppAction {
    std::string title;             // the button's text
    std::function<void()> perform; // runs on the loop's thread
};

// Whether the source can tell which app is in front.
struct FrontAppStatus {
    enum class State { working, unavailable };
    State state = State::working;
    // Unavailable: what is missing and what the user can do about it, in a sentence or two.
    std::string reason;
    std::optional<FrontAppAction> action;

    bool working() const { return state == State::working; }
    // The line for the log when the status changes.
    std::string logLine() const {
        return working() ? "the app in front can be seen" : "no app in front: " + reason;
    }
    static FrontAppStatus unavailable(std::string reason,
                                      std::optional<FrontAppAction> action = std::nullopt) {
        return {State::unavailable, std::move(reason), std::move(action)};
    }
    // Equal when they say the same (actions compare by their titles).
    bool operator==(const FrontAppStatus& other) const {
        return state == other.state && reason == other.reason &&
               action.has_value() == other.action.has_value() &&
               (!action || action->title == other.action->title);
    }
};

// Which app is in front, and which app a process belongs to. On the loop's thread only.
class FrontApp {
public:
    virtual ~FrontApp() = default;

    // The app in front; absent when there is none (no desktop, no window active, or the source
    // is unavailable).
    virtual std::optional<FrontmostApp> frontmost() = 0;

    // The identifier of the running application with that process id; absent when there is no
    // such application or it has none.
    virtual std::optional<std::string> bundleID(std::int32_t processID) = 0;

    // Working unless the source says otherwise.
    virtual FrontAppStatus status() const { return {}; }

    // Another app came to the front. Called on the loop.
    std::function<void()> onActivate = [] {};
    // status() changed. Called on the loop.
    std::function<void()> onStatusChange = [] {};
    // Where the source's own lines go (what it ignored, what it does to recover); its maker
    // points it at the program's log before the source starts.
    std::function<void(const std::string&)> log = [](const std::string&) {};
};

// For tests and for machines without a desktop: the app in front is whatever was set last.
class SimulatedFrontApp final : public FrontApp {
public:
    SimulatedFrontApp() = default;
    explicit SimulatedFrontApp(FrontAppStatus status)
        : status_(std::move(status)) {}

    std::optional<FrontmostApp> frontmost() override { return front_; }
    std::optional<std::string> bundleID(std::int32_t processID) override {
        auto it = bundles_.find(processID);
        if (it == bundles_.end()) return std::nullopt;
        return it->second;
    }
    FrontAppStatus status() const override { return status_; }

    // Brings an app to the front (or none) and tells onActivate.
    void activate(std::optional<FrontmostApp> app) {
        front_ = std::move(app);
        onActivate();
    }
    void setBundleID(std::int32_t processID, std::optional<std::string> bundleID) {
        if (bundleID)
            bundles_[processID] = *bundleID;
        else
            bundles_.erase(processID);
    }
    // Changes the status and tells onStatusChange.
    void setStatus(FrontAppStatus status) {
        status_ = std::move(status);
        onStatusChange();
    }

private:
    std::optional<FrontmostApp> front_;
    std::map<std::int32_t, std::string> bundles_;
    FrontAppStatus status_;
};

// The desktop's app in front, from the source that serves this session: on Wayland the GNOME
// or KDE source when XDG_CURRENT_DESKTOP names them, else the wlroots source when the compositor
// offers it, else X11 (the active window of the window manager) when a display can be reached.
// When none serves, a source that never has an app in front and whose status says why. `log`
// hears which source was chosen, or why none was. With `ownApp`, every window of this process is
// that app, installed or not, whatever the desktop says of it.
std::unique_ptr<FrontApp> makeFrontApp(MainLoop& loop, std::function<void(const std::string&)> log,
                                       std::optional<std::string> ownApp = std::nullopt);

// Whether the session's source is asked over D-Bus (GNOME Shell and KDE Plasma on Wayland): it
// then needs the application object and a loop that Qt drives before makeFrontApp.
bool frontAppNeedsQtEventLoop();

} // namespace kestrix::core
