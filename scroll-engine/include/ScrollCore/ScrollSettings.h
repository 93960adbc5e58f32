#pragma once

#include "ScrollCore/Activity.h"
#include "ScrollCore/AxisMapping.h"
#include "ScrollCore/AxisShaping.h"
#include "ScrollCore/CaseText.h"
#include "ScrollCore/ClosedRange.h"
#include "ScrollCore/DevicePolicy.h"
#include "ScrollCore/Glide.h"

#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace scroll {

// Everything the user can configure about scrolling, with the values derived from it for the
// engine and its stored form: one string per snake-case key.
class ScrollSettings {
public:
    // Response curve presets: dead zone and exponent of the shaping.
    class Response {
    public:
        enum Value : std::uint8_t { direct, balanced, precise };
        static constexpr std::array<std::string_view, 3> rawValues{"direct", "balanced", "precise"};

        constexpr Response(Value value)
            : value_(value) {}
        constexpr operator Value() const { return value_; }
        constexpr std::string_view rawValue() const { return rawValues[value_]; }
        static constexpr std::optional<Response> fromRawValue(std::string_view raw) {
            return detail::caseNamed<Response>(raw, rawValues);
        }
        static constexpr std::array<Response, 3> allCases() {
            return detail::allCasesOf<Response, 3>();
        }

        double deadzone() const;
        double exponent() const;

    private:
        Value value_;
    };

    // Glide presets: the decay time constant of the momentum.
    class Momentum {
    public:
        enum Value : std::uint8_t { off, short_, medium, long_ };
        static constexpr std::array<std::string_view, 4> rawValues{"off", "short", "medium",
                                                                   "long"};

        constexpr Momentum(Value value)
            : value_(value) {}
        constexpr operator Value() const { return value_; }
        constexpr std::string_view rawValue() const { return rawValues[value_]; }
        static constexpr std::optional<Momentum> fromRawValue(std::string_view raw) {
            return detail::caseNamed<Momentum>(raw, rawValues);
        }
        static constexpr std::array<Momentum, 4> allCases() {
            return detail::allCasesOf<Momentum, 4>();
        }

        // Seconds.
        double time() const;

    private:
        Value value_;
    };

    // The groups of settings an app may override, each with its stored keys.
    class AppSetting {
    public:
        enum Value : std::uint8_t { speed, response, momentum, together };
        static constexpr std::array<std::string_view, 4> rawValues{"speed", "response", "momentum",
                                                                   "together"};

        constexpr AppSetting(Value value)
            : value_(value) {}
        constexpr operator Value() const { return value_; }
        constexpr std::string_view rawValue() const { return rawValues[value_]; }
        static constexpr std::optional<AppSetting> fromRawValue(std::string_view raw) {
            return detail::caseNamed<AppSetting>(raw, rawValues);
        }
        static constexpr std::array<AppSetting, 4> allCases() {
            return detail::allCasesOf<AppSetting, 4>();
        }

        std::span<const std::string_view> keys() const;

    private:
        Value value_;
    };

    using Encoded = std::map<std::string, std::string>;
    // Bundle identifier -> stored key -> stored string.
    using AppOverrides = std::map<std::string, std::map<std::string, std::string>>;
    // The stored string of a key, or nothing.
    using Lookup = std::function<std::optional<std::string>(const std::string& key)>;

    struct StoredKeys {
        Encoded store;
        std::vector<std::string> remove; // sorted
        friend bool operator==(const StoredKeys&, const StoredKeys&) = default;
    };

    Response response = Response::balanced;
    Momentum momentum = Momentum::medium;
    bool diagonal = true;
    ActivitySet simultaneous{Activity::zoom, Activity::rotate};
    double speed = 1.0;          // overall factor, within speedRange
    double scrollSpeed = 3000.0; // pixels per second at full deflection and speed 1
    double zoomSpeed = 10.0;     // magnification factor per second at full deflection, speed 1
    double rotateSpeed = 180.0;  // degrees per second at full deflection and speed 1
    double tickRate = 120.0;     // ticks per second
    AxisMapping mapping;
    AppOverrides appSettings;
    std::set<std::string> allowedApps;
    std::set<std::string> excludedApps{DevicePolicy::defaultExcluded.begin(),
                                       DevicePolicy::defaultExcluded.end()};
    bool newAppsOn = false;
    bool diagnostics = false;

    // Pixels per second below which a coasting glide stops.
    static constexpr double momentumStop = 20.0;
    static constexpr ClosedRange<double> speedRange{0.25, 4.0};
    // The keys an app may override.
    static constexpr std::array<std::string_view, 5> perAppKeys{
        "speed", "response", "momentum_preset", "diagonal", "simultaneous"};
    // Keys that older versions stored; the app deletes them.
    static constexpr std::array<std::string_view, 13> retiredKeys{
        "enabled",        "full_scale",    "deadzone",          "exponent",
        "pointer_button", "pointer_speed", "smart_zoom_button", "phases",
        "momentum",       "momentum_time", "momentum_stop",     "input",
        "crosstalk"};
    static bool isPerAppKey(std::string_view key);

    ScrollSettings() = default;

    // Derived values for the engine.
    AxisShaping shaping() const;
    // Pixels per second at full deflection. Never infinite: the largest accepted values multiply
    // beyond the double range, and an infinite speed times a role at rest is not a number.
    double effectiveScrollSpeed() const;
    Glide glide() const { return Glide(momentum.time(), momentumStop); }
    // The full-deflection rate of a gesture: ln(zoomSpeed) per second for zoom, degrees per
    // second for rotate. The speed factor enters by its square root. Never infinite.
    double rate(GestureKind kind) const;

    // Both scroll and zoom may run together. Turning it off drops scroll; a set left with fewer
    // than two members is emptied.
    bool scrollsWhileZooming() const;
    void setScrollsWhileZooming(bool on);
    // The same for zoom and rotate; turning it off drops rotate.
    bool rotatesWhileZooming() const;
    void setRotatesWhileZooming(bool on);

    // The speed slider runs logarithmically: 0.25 at 0, 1.0 at the middle, 4.0 at 1.
    static double sliderPosition(double speed);
    // Rounded to two decimals; positions outside 0...1 are clamped.
    static double speedAtSliderPosition(double position);

    // The stored form: exactly 21 keys.
    Encoded encoded() const;
    // Rebuilds settings from stored strings. Every missing, unreadable or out-of-range value
    // leaves that field at its default. `appMomentum` is the momentum per app of older versions,
    // migrated into `appSettings`.
    static ScrollSettings decoded(const Lookup& lookup,
                                  const std::map<std::string, std::string>& appMomentum = {},
                                  const AppOverrides& appSettings = {});
    // What to write (keys whose string differs from the reference's) and what to delete (the
    // others), so that only changed values are stored.
    StoredKeys storedKeys(const ScrollSettings& reference) const;

    // Per-app overrides.
    // The settings in force for an app: its override strings decoded over this value's own.
    ScrollSettings applied(const std::optional<std::string>& app) const;
    bool follows(AppSetting setting, const std::string& app) const;
    bool hasOwnSettings(const std::string& app) const;
    // Makes the setting the app's own, with the value `modify` gives it.
    void setOwn(AppSetting setting, const std::string& app,
                const std::function<void(ScrollSettings&)>& modify);
    // The app follows the defaults again for one setting, or for all when absent.
    void follow(std::optional<AppSetting> setting, const std::string& app);

    // Device policy.
    DevicePolicy::AppChoice deviceChoice(const std::string& app) const;
    void setDevice(bool on, const std::string& app);
    bool turnsOnInFront(const std::string& app) const;

    friend bool operator==(const ScrollSettings&, const ScrollSettings&) = default;
};

} // namespace scroll
