#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace kestrix {
class MainLoop;
}

namespace vantor {

// An application as the desktop shows it.
struct RunningApp {
    std::optional<std::string> bundleID; // the desktop-file id, absent when unknown
    std::optional<std::string> name;     // the name the desktop shows for it
    bool operator==(const RunningApp&) const = default;
};

// The app in front and its changes.
class Workspace {
public:
    virtual ~Workspace() = default;
    // The app in front; absent when there is none.
    virtual std::optional<RunningApp> frontmost() = 0;
    // Another app came to the front (absent: none). Called on the main loop.
    std::function<void(const std::optional<RunningApp>&)> onActivate;
};

// For tests and for desktops without an app in front.
class SimulatedWorkspace final : public Workspace {
public:
    std::optional<RunningApp> frontmost() override { return front_; }
    void activate(std::optional<RunningApp> app) {
        front_ = std::move(app);
        if (onActivate) onActivate(front_);
    }

private:
    std::optional<RunningApp> front_;
};

// The desktop's app in front (the X11 active window), with the app's name read from its desktop
// entry; without a reachable display, a workspace that never has an app in front.
std::unique_ptr<Workspace> makeDesktopWorkspace(kestrix::MainLoop& loop);

} // namespace vantor
