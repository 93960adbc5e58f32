#pragma once

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
    bool operator==(const FrontmostApp&) const = default;
};

// Which app is in front, and which app a process belongs to. On the loop's thread only.
class FrontApp {
public:
    virtual ~FrontApp() = default;

    // The app in front; absent when there is none (no desktop, or no window active).
    virtual std::optional<FrontmostApp> frontmost() = 0;

    // The identifier of the running application with that process id; absent when there is no
    // such application or it has none.
    virtual std::optional<std::string> bundleID(std::int32_t processID) = 0;

    // Another app came to the front. Called on the loop.
    std::function<void()> onActivate = [] {};
};

// For tests and for machines without a desktop: the app in front is whatever was set last.
class SimulatedFrontApp final : public FrontApp {
public:
    std::optional<FrontmostApp> frontmost() override { return front_; }
    std::optional<std::string> bundleID(std::int32_t processID) override {
        auto it = bundles_.find(processID);
        if (it == bundles_.end()) return std::nullopt;
        return it->second;
    }

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

private:
    std::optional<FrontmostApp> front_;
    std::map<std::int32_t, std::string> bundles_;
};

// The desktop's app in front: X11 (the active window of the window manager) when a display can be
// reached, else a simulated one that never has an app in front. `log` hears why.
std::unique_ptr<FrontApp> makeFrontApp(MainLoop& loop, std::function<void(const std::string&)> log);

} // namespace kestrix::core
