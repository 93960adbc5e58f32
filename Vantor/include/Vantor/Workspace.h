#pragma once

#include "FrontApp/FrontApp.h"

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
    // Whether the app in front can be seen at all, and if not, why.
    virtual kestrix::core::FrontAppStatus status() const { return {}; }
    // status() changed. Called on the main loop.
    std::function<void()> onStatusChange;
};

// For tests and for desktops without an app in front.
class SimulatedWorkspace final : public Workspace {
public:
    std::optional<RunningApp> frontmost() override { return front_; }
    void activate(std::optional<RunningApp> app) {
        front_ = std::move(app);
        if (onActivate) onActivate(front_);
    }
    kestrix::core::FrontAppStatus status() const override { return status_; }
    void setStatus(kestrix::core::FrontAppStatus status) {
        status_ = std::move(status);
        if (onStatusChange) onStatusChange();
    }

private:
    std::optional<RunningApp> front_;
    kestrix::core::FrontAppStatus status_;
};

// The desktop's app in front (from the session's front-app source), with the app's name read from
// its desktop entry when the source does not tell it; where no source serves, a workspace that
// never has an app in front and whose status says why. Every window of this process is `ownApp`
// (the program's own id), installed or not.
std::unique_ptr<Workspace> makeDesktopWorkspace(kestrix::MainLoop& loop,
                                                std::optional<std::string> ownApp = std::nullopt);

} // namespace vantor
