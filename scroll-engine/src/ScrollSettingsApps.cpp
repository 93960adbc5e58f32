// The per-app layer of the settings (overrides in stored form) and the device switches.

#include "ScrollCore/ScrollSettings.h"

namespace scroll {

ScrollSettings ScrollSettings::applied(const std::optional<std::string>& app) const {
    if (!app) return *this;
    const auto found = appSettings.find(*app);
    if (found == appSettings.end() || found->second.empty()) return *this;

    // Decoding the override strings over this value's own strings brings every field an app
    // cannot override back unchanged; an override the decoder rejects falls back to the
    // default of its field.
    const auto& overrides = found->second;
    const Encoded own = encoded();
    ScrollSettings result = decoded([&](const std::string& key) -> std::optional<std::string> {
        if (auto hit = overrides.find(key); hit != overrides.end()) return hit->second;
        if (auto hit = own.find(key); hit != own.end()) return hit->second;
        return std::nullopt;
    });
    result.appSettings = appSettings;
    return result;
}

bool ScrollSettings::follows(AppSetting setting, const std::string& app) const {
    const auto found = appSettings.find(app);
    if (found == appSettings.end()) return true;
    for (auto key : setting.keys()) {
        if (found->second.contains(std::string(key))) return false;
    }
    return true;
}

bool ScrollSettings::hasOwnSettings(const std::string& app) const {
    const auto found = appSettings.find(app);
    return found != appSettings.end() && !found->second.empty();
}

void ScrollSettings::setOwn(AppSetting setting, const std::string& app,
                            const std::function<void(ScrollSettings&)>& modify) {
    ScrollSettings changed = applied(app);
    modify(changed);
    const Encoded e = changed.encoded();
    auto& overrides = appSettings[app];
    for (auto key : setting.keys()) {
        const std::string name(key);
        if (auto hit = e.find(name); hit != e.end()) {
            overrides[name] = hit->second;
        } else {
            overrides.erase(name);
        }
    }
}

void ScrollSettings::follow(std::optional<AppSetting> setting, const std::string& app) {
    const auto found = appSettings.find(app);
    if (found == appSettings.end()) return;
    const std::span<const std::string_view> keys =
        setting ? setting->keys() : std::span<const std::string_view>(perAppKeys);
    for (auto key : keys)
        found->second.erase(std::string(key));
    if (found->second.empty()) appSettings.erase(found);
}

DevicePolicy::AppChoice ScrollSettings::deviceChoice(const std::string& app) const {
    return DevicePolicy::choice(app, allowedApps, excludedApps);
}

void ScrollSettings::setDevice(bool on, const std::string& app) {
    if (on) {
        excludedApps.erase(app);
        allowedApps.insert(app);
    } else {
        allowedApps.erase(app);
        excludedApps.insert(app);
    }
}

bool ScrollSettings::turnsOnInFront(const std::string& app) const {
    return newAppsOn && !excludedApps.contains(app) && !allowedApps.contains(app);
}

} // namespace scroll
