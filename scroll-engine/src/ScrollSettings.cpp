#include "ScrollCore/ScrollSettings.h"

#include "ScrollCore/StoredText.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <limits>

namespace scroll {

namespace {

using Role = AxisMapping::Role;

// A speed times a factor, held within the double range: each stored speed is finite, but the
// product of two large ones is not.
double finiteProduct(double speed, double factor) {
    const double product = speed * factor;
    if (std::isinf(product)) return std::copysign(std::numeric_limits<double>::max(), product);
    return product;
}

std::string axisKey(Role role) {
    return std::string(role.rawValue()) + "_axis";
}
std::string invertKey(Role role) {
    return std::string(role.rawValue()) + "_invert";
}

std::string activitiesText(ActivitySet set) {
    std::string text;
    for (auto activity : Activity::allCases()) {
        if (!set.contains(activity)) continue;
        if (!text.empty()) text += ',';
        text += activity.rawValue();
    }
    return text.empty() ? "none" : text;
}

// Every piece must name an activity; "none" and blank pieces name nothing.
std::optional<ActivitySet> readActivities(std::string_view text) {
    ActivitySet set;
    for (auto piece : stored::splitAtCommas(text)) {
        const auto word = stored::lowercased(stored::trimBlanks(piece));
        if (word.empty() || word == "none") continue;
        const auto activity = Activity::fromRawValue(word);
        if (!activity) return std::nullopt;
        set.insert(*activity);
    }
    return set;
}

// std::set keeps strings ordered by character code, which is the stored order.
std::string appsText(const std::set<std::string>& apps) {
    std::string text;
    for (const auto& app : apps) {
        if (!text.empty()) text += ',';
        text += app;
    }
    return text;
}

std::set<std::string> readApps(std::string_view text) {
    std::set<std::string> apps;
    for (auto piece : stored::splitAtCommas(text)) {
        const auto app = stored::trimBlanks(piece);
        if (!app.empty()) apps.emplace(app);
    }
    return apps;
}

} // namespace

double ScrollSettings::Response::deadzone() const {
    switch (value_) {
    case direct:
        return 0.06;
    case balanced:
        return 0.12;
    case precise:
        return 0.2;
    }
    std::abort();
}

double ScrollSettings::Response::exponent() const {
    switch (value_) {
    case direct:
        return 1.8;
    case balanced:
        return 3.0;
    case precise:
        return 4.0;
    }
    std::abort();
}

double ScrollSettings::Momentum::time() const {
    switch (value_) {
    case off:
        return 0.0;
    case short_:
        return 0.15;
    case medium:
        return 0.3;
    case long_:
        return 0.6;
    }
    std::abort();
}

std::span<const std::string_view> ScrollSettings::AppSetting::keys() const {
    static constexpr std::array<std::string_view, 1> speedKeys{"speed"};
    static constexpr std::array<std::string_view, 1> responseKeys{"response"};
    static constexpr std::array<std::string_view, 1> momentumKeys{"momentum_preset"};
    static constexpr std::array<std::string_view, 2> togetherKeys{"diagonal", "simultaneous"};
    switch (value_) {
    case speed:
        return speedKeys;
    case response:
        return responseKeys;
    case momentum:
        return momentumKeys;
    case together:
        return togetherKeys;
    }
    std::abort();
}

bool ScrollSettings::isPerAppKey(std::string_view key) {
    return std::find(perAppKeys.begin(), perAppKeys.end(), key) != perAppKeys.end();
}

AxisShaping ScrollSettings::shaping() const {
    return AxisShaping{response.deadzone(), response.exponent(), diagonal ? 0.5 : 1.0};
}

double ScrollSettings::effectiveScrollSpeed() const {
    return finiteProduct(scrollSpeed, speed);
}

double ScrollSettings::rate(GestureKind kind) const {
    const double factor = std::sqrt(speed);
    if (kind == GestureKind::rotate) return finiteProduct(rotateSpeed, factor);
    return finiteProduct(std::log(zoomSpeed), factor);
}

bool ScrollSettings::scrollsWhileZooming() const {
    return simultaneous.contains(Activity::scroll) && simultaneous.contains(Activity::zoom);
}

bool ScrollSettings::rotatesWhileZooming() const {
    return simultaneous.contains(Activity::zoom) && simultaneous.contains(Activity::rotate);
}

void ScrollSettings::setScrollsWhileZooming(bool on) {
    if (on) {
        simultaneous.insert(Activity::scroll);
        simultaneous.insert(Activity::zoom);
    } else if (scrollsWhileZooming()) {
        simultaneous.erase(Activity::scroll);
    }
    // A single activity "together" with nothing means nothing.
    if (simultaneous.size() < 2) simultaneous.clear();
}

void ScrollSettings::setRotatesWhileZooming(bool on) {
    if (on) {
        simultaneous.insert(Activity::zoom);
        simultaneous.insert(Activity::rotate);
    } else if (rotatesWhileZooming()) {
        simultaneous.erase(Activity::rotate);
    }
    if (simultaneous.size() < 2) simultaneous.clear();
}

double ScrollSettings::sliderPosition(double speed) {
    return std::log(4 * speed) / 2.772588722239781; // ln 16
}

double ScrollSettings::speedAtSliderPosition(double position) {
    const double p = clamped(position, ClosedRange<double>{0, 1});
    // std::round rounds half away from zero.
    return std::round(0.25 * std::exp2(4 * p) * 100) / 100;
}

ScrollSettings::Encoded ScrollSettings::encoded() const {
    Encoded e;
    e["response"] = response.rawValue();
    e["momentum_preset"] = momentum.rawValue();
    e["diagonal"] = stored::flagText(diagonal);
    e["simultaneous"] = activitiesText(simultaneous);
    e["speed"] = stored::numberText(speed);
    e["scroll_speed"] = stored::numberText(scrollSpeed);
    e["zoom_speed"] = stored::numberText(zoomSpeed);
    e["rotate_speed"] = stored::numberText(rotateSpeed);
    e["tick_rate"] = stored::numberText(tickRate);
    e["allowed_apps"] = appsText(allowedApps);
    e["excluded_apps"] = appsText(excludedApps);
    e["new_apps_on"] = stored::flagText(newAppsOn);
    e["diagnostics"] = stored::flagText(diagnostics);
    for (auto role : Role::allCases()) {
        e[axisKey(role)] = mapping.text(role);
        e[invertKey(role)] = stored::flagText(mapping.invertedRoles.contains(role));
    }
    return e;
}

ScrollSettings ScrollSettings::decoded(const Lookup& lookup,
                                       const std::map<std::string, std::string>& appMomentum,
                                       const AppOverrides& appSettings) {
    ScrollSettings s;
    const auto flag = [&](const std::string& key, bool& field) {
        if (auto text = lookup(key)) {
            if (auto value = stored::readFlag(*text)) field = *value;
        }
    };
    // A number within the key's range; NaN fails every range test, and infinities are not
    // read at all, so an infinite speed never reaches the pixel and gesture conversions.
    const auto number = [&](const std::string& key, double& field, ClosedRange<double> range) {
        if (auto text = lookup(key)) {
            if (auto value = stored::readNumber(*text); value && range.contains(*value)) {
                field = *value;
            }
        }
    };
    constexpr double unbounded = 1.7976931348623157e308;

    if (auto text = lookup("response")) {
        if (auto value = Response::fromRawValue(*text)) s.response = *value;
    }
    if (auto text = lookup("momentum_preset")) {
        if (auto value = Momentum::fromRawValue(*text)) s.momentum = *value;
    }
    flag("diagonal", s.diagonal);
    if (auto text = lookup("simultaneous")) {
        if (auto value = readActivities(*text)) s.simultaneous = *value;
    }
    number("speed", s.speed, speedRange);
    number("scroll_speed", s.scrollSpeed, {0, unbounded});
    number("zoom_speed", s.zoomSpeed, {1, unbounded});
    number("rotate_speed", s.rotateSpeed, {0, unbounded});
    number("tick_rate", s.tickRate, {1, 240});

    // Overrides, with the per-app momentum of older versions moved in unless the app already
    // overrides its momentum.
    AppOverrides overrides = appSettings;
    for (const auto& [app, text] : appMomentum) {
        if (!Momentum::fromRawValue(text)) continue;
        auto& keys = overrides[app];
        if (!keys.contains("momentum_preset")) keys["momentum_preset"] = text;
    }
    for (auto app = overrides.begin(); app != overrides.end();) {
        std::erase_if(app->second, [](const auto& entry) { return !isPerAppKey(entry.first); });
        app = app->second.empty() ? overrides.erase(app) : std::next(app);
    }
    s.appSettings = std::move(overrides);

    for (auto role : Role::allCases()) {
        if (auto text = lookup(axisKey(role))) {
            if (auto terms = AxisMapping::axesFrom(*text)) s.mapping.setTerms(role, *terms);
        }
        if (auto text = lookup(invertKey(role))) {
            if (auto inverted = stored::readFlag(*text)) s.mapping.setInverted(*inverted, role);
        }
    }
    if (auto text = lookup("allowed_apps")) s.allowedApps = readApps(*text);
    if (auto text = lookup("excluded_apps")) s.excludedApps = readApps(*text);
    flag("new_apps_on", s.newAppsOn);
    flag("diagnostics", s.diagnostics);
    return s;
}

ScrollSettings::StoredKeys ScrollSettings::storedKeys(const ScrollSettings& reference) const {
    const Encoded mine = encoded();
    const Encoded theirs = reference.encoded();
    StoredKeys keys;
    for (const auto& [key, text] : mine) {
        const auto found = theirs.find(key);
        if (found == theirs.end() || found->second != text) {
            keys.store.emplace(key, text);
        } else {
            keys.remove.push_back(key);
        }
    }
    // The map iterates in key order, so `remove` is already sorted.
    return keys;
}

} // namespace scroll
