// Stored settings come from a file the user (or another version) may have edited. Whatever the
// strings, decoding must not crash, must yield finite speeds the engine can run with, and the
// decoded settings must survive a round trip through their own stored form.

#include "ScrollCore/ScrollMotion.h"
#include "ScrollCore/ScrollSettings.h"

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace {

const char* const keys[] = {"response",     "momentum_preset",   "diagonal",        "simultaneous",
                            "speed",        "scroll_speed",      "zoom_speed",      "rotate_speed",
                            "tick_rate",    "allowed_apps",      "excluded_apps",   "new_apps_on",
                            "diagnostics",  "horizontal_axis",   "vertical_axis",   "zoom_axis",
                            "rotate_axis",  "horizontal_invert", "vertical_invert", "zoom_invert",
                            "rotate_invert"};

void check(bool condition) {
    if (!condition) __builtin_trap();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // One line per key, in the order above; two more lines are an app's override of "speed"
    // and its legacy momentum. An empty line means the key is not stored.
    std::vector<std::string> lines;
    std::string_view rest(reinterpret_cast<const char*>(data), size);
    while (!rest.empty()) {
        const auto end = rest.find('\n');
        lines.emplace_back(rest.substr(0, end));
        rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
    }
    const auto line = [&](std::size_t i) -> std::optional<std::string> {
        if (i < lines.size() && !lines[i].empty()) return lines[i];
        return std::nullopt;
    };
    constexpr std::size_t keyCount = std::size(keys);
    std::map<std::string, std::string> appMomentum;
    scroll::ScrollSettings::AppOverrides appSettings;
    if (auto text = line(keyCount)) appSettings["app"]["speed"] = *text;
    if (auto text = line(keyCount + 1)) appMomentum["app"] = *text;

    const auto settings = scroll::ScrollSettings::decoded(
        [&](const std::string& key) -> std::optional<std::string> {
            for (std::size_t i = 0; i < keyCount; ++i) {
                if (key == keys[i]) return line(i);
            }
            return std::nullopt;
        },
        appMomentum, appSettings);

    for (double value : {settings.speed, settings.scrollSpeed, settings.zoomSpeed,
                         settings.rotateSpeed, settings.tickRate}) {
        check(std::isfinite(value));
    }
    check(settings.encoded().size() == keyCount);

    auto withoutApps = settings;
    withoutApps.appSettings.clear();
    const auto encoded = withoutApps.encoded();
    const auto again =
        scroll::ScrollSettings::decoded([&](const std::string& key) -> std::optional<std::string> {
            if (auto found = encoded.find(key); found != encoded.end()) return found->second;
            return std::nullopt;
        });
    check(again == withoutApps);

    const auto applied = settings.applied(std::string("app"));
    check(applied.appSettings == settings.appSettings);
    check(scroll::ScrollSettings::speedRange.contains(applied.speed));

    // The fastest scroll these settings allow, for one tick.
    scroll::ScrollMotion motion;
    motion.step(applied.effectiveScrollSpeed(), -applied.effectiveScrollSpeed(),
                1.0 / applied.tickRate, false);
    return 0;
}
