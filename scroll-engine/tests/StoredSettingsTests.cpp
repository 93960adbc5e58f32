#include "ScrollCore/ScrollSettings.h"

#include <algorithm>
#include <gtest/gtest.h>

namespace scroll {
namespace {

using Role = AxisMapping::Role;
using Encoded = ScrollSettings::Encoded;

// Decodes settings from a map of stored strings.
ScrollSettings decodedFrom(const Encoded& stored,
                           const std::map<std::string, std::string>& appMomentum = {},
                           const ScrollSettings::AppOverrides& appSettings = {}) {
    return ScrollSettings::decoded(
        [&](const std::string& key) -> std::optional<std::string> {
            if (auto found = stored.find(key); found != stored.end()) return found->second;
            return std::nullopt;
        },
        appMomentum, appSettings);
}

TEST(ScrollSettingsEncoded, defaultsGiveTwentyOneKeys) {
    const auto e = ScrollSettings().encoded();
    EXPECT_EQ(e.size(), 21u);
    EXPECT_EQ(e.at("response"), "balanced");
    EXPECT_EQ(e.at("simultaneous"), "zoom,rotate");
    EXPECT_EQ(e.at("scroll_speed"), "3000.0");
    EXPECT_EQ(e.at("horizontal_axis"), "x,-ry");
    EXPECT_EQ(e.at("rotate_invert"), "0");
    EXPECT_EQ(e.at("allowed_apps"), "");
    EXPECT_EQ(e.at("excluded_apps"),
              "blender,cockos-reaper,com.autodesk.fusion360,com.cockos.reaper,"
              "com.google.GoogleEarthPro,google-earth-pro,org.blender.Blender,"
              "org.blenderfoundation.blender");
}

TEST(ScrollSettingsEncoded, roundTripsThroughTheDecoder) {
    ScrollSettings s;
    s.response = ScrollSettings::Response::direct;
    s.momentum = ScrollSettings::Momentum::off;
    s.diagonal = false;
    s.simultaneous = {Activity::scroll, Activity::zoom};
    s.speed = 0.3;
    s.scrollSpeed = 1234.5678;
    s.zoomSpeed = 1.0;
    s.rotateSpeed = 0.0;
    s.tickRate = 240;
    s.mapping.assign(AxisMapping::Movement::tiltForwardBack, Role::zoom);
    s.mapping.assign(AxisMapping::Movement::twist, std::nullopt);
    s.mapping.setInverted(true, Role::horizontal);
    s.allowedApps = {"org.example.one", "org.example.two"};
    s.excludedApps = {"org.example.three"};
    s.newAppsOn = true;
    s.diagnostics = true;
    EXPECT_EQ(decodedFrom(s.encoded()), s);
    EXPECT_EQ(decodedFrom({}), ScrollSettings());
    s.simultaneous.clear();
    EXPECT_EQ(decodedFrom(s.encoded()), s);
}

// One stored key at a time, and the text it reads back as: an unreadable or out-of-range value
// leaves the default.
TEST(ScrollSettingsDecoder, eachKeyReadsItsOwnForm) {
    const std::tuple<const char*, const char*, const char*> rows[] = {
        {"response", "direct", "direct"},
        {"response", "Direct", "balanced"}, // presets match exactly
        {"momentum_preset", "fast", "medium"},
        {"diagonal", " YES ", "1"},
        {"diagonal", "maybe", "1"},
        {"new_apps_on", "true", "1"},
        {"new_apps_on", "on", "0"},
        {"diagnostics", "1", "1"},
        {"simultaneous", "Scroll, ZOOM", "scroll,zoom"},
        {"simultaneous", "rotate,scroll", "scroll,rotate"}, // in activity order
        {"simultaneous", "scroll,pan", "zoom,rotate"},
        {"simultaneous", " , ,", "none"},
        {"simultaneous", "none,rotate", "rotate"},
        {"speed", " 0.25 ", "0.25"},
        {"speed", "4", "4.0"},
        {"speed", "0.57", "0.57"},
        {"speed", "4.01", "1.0"},
        {"speed", "0.2", "1.0"},
        {"scroll_speed", "0", "0.0"},
        {"scroll_speed", "-1", "3000.0"},
        {"scroll_speed", "1e6", "1.0e+06"},
        {"scroll_speed", "1e999", "3000.0"},
        {"zoom_speed", "1", "1.0"},
        {"zoom_speed", "0.5", "10.0"},
        {"rotate_speed", "-0.5", "180.0"},
        {"tick_rate", "1", "1.0"},
        {"tick_rate", "240", "240.0"},
        {"tick_rate", "241", "120.0"},
        {"horizontal_axis", " -RY , X ", "-ry,x"},
        {"vertical_axis", "x,q", "y,rx"},
        {"zoom_axis", "none", "none"},
        {"rotate_axis", "", "rz"},
        {"vertical_invert", "yes", "1"},
        {"zoom_invert", "perhaps", "0"},
        {"excluded_apps", "a.b , c.d,,", "a.b,c.d"},
        {"allowed_apps", " ,\tx.Y", "x.Y"},
        {"allowed_apps", "b.app,B.app,a.app", "B.app,a.app,b.app"}, // by character code
    };
    for (const auto& [key, text, expected] : rows)
        EXPECT_EQ(decodedFrom({{key, text}}).encoded().at(key), expected) << key << " " << text;
}

TEST(ScrollSettingsDecoder, legacyMomentumMovesIntoOverrides) {
    const auto migrated = decodedFrom({}, {{"org.example.app", "long"}});
    EXPECT_EQ(migrated.appSettings,
              (ScrollSettings::AppOverrides{{"org.example.app", {{"momentum_preset", "long"}}}}));

    const auto kept = decodedFrom({}, {{"org.example.app", "long"}},
                                  {{"org.example.app", {{"momentum_preset", "off"}}}});
    EXPECT_EQ(kept.appSettings.at("org.example.app").at("momentum_preset"), "off");

    const auto joined =
        decodedFrom({}, {{"org.example.app", "short"}}, {{"org.example.app", {{"speed", "2.0"}}}});
    EXPECT_EQ(joined.appSettings.at("org.example.app"),
              (std::map<std::string, std::string>{{"speed", "2.0"}, {"momentum_preset", "short"}}));

    EXPECT_TRUE(decodedFrom({}, {{"org.example.app", "fast"}}).appSettings.empty());
}

TEST(ScrollSettingsDecoder, overridesKeepOnlyPerAppKeysAndDropEmptyApps) {
    const auto s = decodedFrom(
        {}, {},
        {{"only.foreign", {{"scroll_speed", "9"}, {"tick_rate", "30"}}},
         {"empty", {}},
         {"mixed", {{"speed", "banana"}, {"zoom_axis", "x"}, {"simultaneous", "none"}}}});
    // Override strings are kept as they are; they are checked when applied.
    EXPECT_EQ(s.appSettings, (ScrollSettings::AppOverrides{
                                 {"mixed", {{"speed", "banana"}, {"simultaneous", "none"}}}}));
}

TEST(ScrollSettingsStoredKeys, storesOnlyDifferencesAndRemovesTheRestInOrder) {
    const auto defaults = ScrollSettings().storedKeys(ScrollSettings());
    EXPECT_TRUE(defaults.store.empty());
    ASSERT_EQ(defaults.remove.size(), 21u);
    EXPECT_TRUE(std::is_sorted(defaults.remove.begin(), defaults.remove.end()));
    ScrollSettings s;
    s.speed = 2.0;
    s.mapping.setInverted(true, Role::zoom);
    const auto keys = s.storedKeys(ScrollSettings());
    EXPECT_EQ(keys.store, (Encoded{{"speed", "2.0"}, {"zoom_invert", "1"}}));
    EXPECT_EQ(keys.remove.size(), 19u);
    EXPECT_EQ(std::count(keys.remove.begin(), keys.remove.end(), "speed"), 0);
}

} // namespace
} // namespace scroll
