#pragma once

#include "KestrixProtocol/ProtocolRecords.h"
#include "ScrollCore/GestureMotion.h"
#include "ScrollCore/Glide.h"
#include "ScrollCore/RoleValues.h"
#include "ScrollCore/ScrollMotion.h"
#include "ScrollCore/ScrollSettings.h"
#include "SpaceMouseKit/SpaceMouseAxes.h"
#include "Vantor/ScrollerSystem.h"

#include <array>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace vantor {

// The scrolling app's engine: follows the app in front and the settings window's preview, claims
// the SpaceMouse from the broker for the apps the user switched on, and while the cap moves runs
// a fixed-rate tick that turns its axes into scroll and gesture steps for the current sink.
// Main loop only.
class Scroller {
public:
    // The state of the broker link, for the user interface.
    struct Connection {
        enum Kind { connected, starting, disconnected, failed };
        Kind kind = starting;
        std::vector<kestrix::SpaceMouseDevice> devices; // for `connected`
        std::string reason;                             // for `failed`: why, and what to do
        bool operator==(const Connection&) const = default;
    };

    // Per-movement statistics, logged by flush() when the diagnostics setting is on.
    struct Diagnostics {
        long long axisEvents = 0, ticks = 0, events = 0, pixelsX = 0, pixelsY = 0;
        double coastSeconds = 0, coastPixels = 0, zoomFactor = 1, rotationDegrees = 0, start = 0;
        // The summary line for the time since `start`; then every counter starts again.
        std::string flush(double now);
    };

    explicit Scroller(ScrollerSystem system);
    ~Scroller();
    Scroller(const Scroller&) = delete;
    Scroller& operator=(const Scroller&) = delete;

    void start();
    void stop();

    // Stores a new settings value and applies it.
    void update(const scroll::ScrollSettings& settings);
    // Reads the settings again (retired keys removed, legacy keys migrated) and applies them.
    void reloadSettings();

    // The preview canvas while the settings window shows, with the app whose settings it shows
    // (absent: the defaults); no sink when the window closes.
    void setPreview(std::shared_ptr<EventPosting> sink, std::optional<std::string> app);

    // Device text and driver text (absent when there is none) for menus and the window.
    std::pair<std::string, std::optional<std::string>> connectionDescription() const;
    // Why the SpaceMouse is not available, as the broker connection said; absent unless it failed.
    std::optional<std::string> connectionProblem() const;
    bool frontmostHasOwnClient() const;
    // Whether the app in front can be seen (working without a workspace).
    kestrix::core::FrontAppStatus frontAppStatus() const;

    // The status menu's operations for the app in front.
    void followDefaultInFrontmostApp(std::optional<scroll::ScrollSettings::AppSetting> setting);
    void setForFrontmostApp(scroll::ScrollSettings::AppSetting setting,
                            const std::function<void(scroll::ScrollSettings&)>& change);
    void setDeviceForFrontmostApp(bool on);

    // Called after every change of the public state.
    std::function<void()> onChange;

    const scroll::ScrollSettings& settings() const { return settings_; }
    const scroll::ScrollSettings& applied() const { return applied_; }
    const Connection& connection() const { return connection_; }
    const std::optional<std::string>& frontmostBundleID() const { return frontmostBundleID_; }
    const std::optional<std::string>& frontmostName() const { return frontmostName_; }
    bool takesDevice() const { return takesDevice_; }
    bool ticking() const { return ticking_; }
    bool postsToPreview() const { return postsToPreview_; }
    std::optional<kestrix::Claim> sentClaim() const { return sentClaim_; }
    double fullScale() const { return fullScale_; }
    const smk::SpaceMouseAxes& axes() const { return axes_; }
    const Diagnostics& diagnostics() const { return diagnostics_; }

private:
    using GestureKind = scroll::GestureKind;

    // What lets the user post events, for the log lines that say posting is not allowed.
    std::string permissionAdvice() const;
    // The broker link and the target.
    void startInput();
    kestrix::Claim claim() const;
    void frontmostChanged(const std::optional<RunningApp>& app);
    void updateTarget();
    void applyAppSettings();
    void turnOnNewFrontmostApp();
    void updateDevice();
    void handle(const SpaceMouseInput::Event& event);
    double fullScaleOf(const std::string& device) const;
    void changed();
    void setFor(const std::function<void(scroll::ScrollSettings&)>& edit);
    void logOverrides(const std::string& app);

    // The tick loop.
    void startTicking();
    void tick();
    bool scroll(const scroll::RoleValues& values, double dt);
    void drive(GestureKind kind, double value, double dt);
    void endScroll();
    void endGesture();
    void cameToRest();
    EventPosting& sink();
    void emit(const scroll::ScrollStep& step);
    void emit(const scroll::GestureStep& step, GestureKind kind);

    // Settings.
    std::string summary() const;

    scroll::ScrollSettings settings_;
    scroll::ScrollSettings applied_;
    Connection connection_;
    std::optional<std::string> frontmostBundleID_;
    std::optional<std::string> frontmostName_;
    bool takesDevice_ = false;
    const ScrollerSystem system_;
    std::unique_ptr<SpaceMouseInput> kestrix_;
    smk::SpaceMouseAxes axes_{};
    double fullScale_ = 350;
    double axesTime_ = 0;
    scroll::ScrollMotion motion_;
    scroll::Glide glide_{0.3, scroll::ScrollSettings::momentumStop};
    const std::shared_ptr<EventPosting> poster_;
    std::optional<std::pair<std::shared_ptr<EventPosting>, std::optional<std::string>>> preview_;
    bool postsToPreview_ = false;
    std::array<scroll::GestureMotion, 2> gestures_{scroll::GestureMotion(GestureKind::zoom),
                                                   scroll::GestureMotion(GestureKind::rotate)};
    const std::unique_ptr<Ticking> ticker_;
    bool ticking_ = false;
    std::optional<double> lastTick_;
    bool observing_ = false;
    bool warnedPermission_ = false;
    Diagnostics diagnostics_;
    std::optional<scroll::ScrollSettings::Momentum> appliedMomentum_;
    std::optional<kestrix::Claim> sentClaim_;
    // Callbacks hold this weakly: they do nothing once the Scroller is gone.
    std::shared_ptr<Scroller*> self_ = std::make_shared<Scroller*>(this);
};

} // namespace vantor
