// Loading, migrating and storing the Scroller's settings in the app's user defaults: one string
// per key that differs from its default, plus the per-app overrides under "app_settings".
#include "KestrixProtocol/UserDefaults.h"
#include "ScrollCore/StoredText.h"
#include "Vantor/Log.h"
#include "Vantor/Scroller.h"

#include <filesystem>

namespace vantor {

using nlohmann::json;
using scroll::ScrollSettings;
using scroll::stored::numberText;

namespace {

// A stored value as text: strings, true and false as the user defaults read them, numbers in
// their usual form (written by older versions), lists of strings joined by ","; anything else
// is unreadable.
std::optional<std::string> text(const std::optional<json>& value) {
    if (!value) return std::nullopt;
    if (auto text = kestrix::UserDefaults::text(*value)) return text;
    if (value->is_number_integer()) return value->dump();
    if (value->is_number_float()) return numberText(value->get<double>());
    if (value->is_array()) {
        std::string out;
        for (std::size_t i = 0; i < value->size(); ++i) {
            if (!(*value)[i].is_string()) return std::nullopt;
            if (i > 0) out += ",";
            out += (*value)[i].get<std::string>();
        }
        return out;
    }
    return std::nullopt;
}

std::string joined(const std::vector<std::string>& items, const char* separator) {
    std::string out;
    for (const auto& item : items) {
        if (!out.empty()) out += separator;
        out += item;
    }
    return out;
}

// Whether `migrated` (the new "app_settings") has the value at app and key.
bool carries(const json& migrated, const std::string& app, const std::string& key,
             const json& value) {
    auto entry = migrated.find(app);
    if (entry == migrated.end() || !entry->is_object()) return false;
    auto found = entry->find(key);
    return found != entry->end() && *found == value;
}

// Whether migrating leaves out something the file held: entries of "momentum_apps" or
// "app_settings" of the wrong type or with values that do not decode.
bool dropsEntries(const json& momentumApps, const std::optional<json>& appSettings,
                  const json& migrated) {
    if (!momentumApps.is_object()) return !momentumApps.is_null();
    for (const auto& [app, value] : momentumApps.items())
        if (!carries(migrated, app, "momentum_preset", value)) return true;
    if (!appSettings) return false;
    if (!appSettings->is_object()) return true;
    for (const auto& [app, overrides] : appSettings->items()) {
        if (!overrides.is_object()) return true;
        for (const auto& [key, value] : overrides.items())
            if (!carries(migrated, app, key, value)) return true;
    }
    return false;
}

// Keeps the settings file as it is beside it, as "<file>.bak", before a rewrite loses entries.
void keepCopy(const std::string& path) {
    std::error_code error;
    std::string copy = path + ".bak";
    std::filesystem::copy_file(path, copy, std::filesystem::copy_options::overwrite_existing,
                               error);
    if (error)
        Log::error("settings migration drops unreadable entries; no copy kept (" + copy + ": " +
                   error.message() + ")");
    else
        Log::info("settings migration drops unreadable entries; the file before it is kept as " +
                  copy);
}

} // namespace

void Scroller::reloadSettings() {
    kestrix::UserDefaults& defaults = *system_.defaults;
    for (auto key : ScrollSettings::retiredKeys) {
        std::string name(key);
        if (defaults.value(name)) {
            defaults.remove(name);
            Log::info("removed retired setting " + name);
        }
    }

    std::map<std::string, std::string> appMomentum;
    auto momentumApps = defaults.value("momentum_apps");
    if (momentumApps && momentumApps->is_object())
        for (const auto& [app, value] : momentumApps->items())
            if (auto text = kestrix::UserDefaults::text(value)) appMomentum[app] = *text;

    ScrollSettings::AppOverrides appSettings;
    auto stored = defaults.value("app_settings");
    if (stored && stored->is_object()) {
        for (const auto& [app, value] : stored->items()) {
            if (!value.is_object()) continue;
            std::map<std::string, std::string> overrides;
            bool allStrings = true;
            for (const auto& [key, entry] : value.items()) {
                auto text = kestrix::UserDefaults::text(entry);
                if (!text) {
                    allStrings = false;
                    break;
                }
                overrides[key] = *text;
            }
            if (allStrings) appSettings[app] = std::move(overrides);
        }
    }

    settings_ = ScrollSettings::decoded(
        [&defaults](const std::string& key) { return text(defaults.value(key)); }, appMomentum,
        appSettings);

    if (momentumApps) {
        json migrated = json(settings_.appSettings);
        if (dropsEntries(*momentumApps, stored, migrated)) keepCopy(defaults.path());
        // One write: a file with the new key but still the old one, or with neither, never
        // exists, whenever the program is stopped.
        defaults.change({{"momentum_apps", std::nullopt}, {"app_settings", std::move(migrated)}});
        Log::info("moved momentum_apps into app_settings");
    }

    Log::info(summary());

    endGesture();
    turnOnNewFrontmostApp();
    applyAppSettings();
    updateDevice();
}

void Scroller::update(const ScrollSettings& settings) {
    auto [store, remove] = settings.storedKeys(ScrollSettings());
    // One write for the whole change: an app switched on leaves the excluded apps and joins the
    // allowed ones in the same file, whenever the program is stopped.
    std::vector<kestrix::UserDefaults::Change> changes;
    for (const auto& [key, value] : store)
        changes.emplace_back(key, value);
    for (const auto& key : remove)
        changes.emplace_back(key, std::nullopt);
    changes.emplace_back("app_settings", settings.appSettings.empty()
                                             ? std::nullopt
                                             : std::optional<json>(settings.appSettings));
    system_.defaults->change(std::move(changes));
    settings_ = settings;
    applyAppSettings();
    updateDevice();
}

std::string Scroller::summary() const {
    const ScrollSettings& s = settings_;
    std::vector<std::string> together;
    for (auto activity : scroll::Activity::allCases())
        if (s.simultaneous.contains(activity)) together.emplace_back(activity.rawValue());
    std::vector<std::string> own;
    for (const auto& [app, overrides] : s.appSettings) {
        std::vector<std::string> entries;
        for (const auto& [key, value] : overrides)
            entries.push_back(key + "=" + value);
        own.push_back(app + " " + joined(entries, " "));
    }
    std::vector<std::string> allowed(s.allowedApps.begin(), s.allowedApps.end());
    std::vector<std::string> excluded(s.excludedApps.begin(), s.excludedApps.end());
    return "settings: speed " + numberText(s.speed) + ", scroll " + numberText(s.scrollSpeed) +
           " px/s, response " + std::string(s.response.rawValue()) + ", tick " +
           numberText(s.tickRate) + " Hz, zoom ×" + numberText(s.zoomSpeed) + "/s, rotate " +
           numberText(s.rotateSpeed) + "°/s, momentum " + std::string(s.momentum.rawValue()) +
           ", diagonal " + (s.diagonal ? "true" : "false") + ", simultaneous " +
           joined(together, ",") + ", own settings " + joined(own, ", ") + ", on in " +
           joined(allowed, " ") + ", excluded " + joined(excluded, " ") + ", new apps " +
           (s.newAppsOn ? "on" : "off");
}

} // namespace vantor
