#include "ScrollCore/ScrollSettings.h"

#include <gtest/gtest.h>

namespace scroll {
namespace {

using Role = AxisMapping::Role;
using Term = AxisMapping::Term;
using Response = ScrollSettings::Response;
using Momentum = ScrollSettings::Momentum;
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

TEST(ScrollSettingsEncoded, defaultsGiveExactly21Entries) {
    const Encoded expected{
        {"response", "balanced"},
        {"momentum_preset", "medium"},
        {"diagonal", "1"},
        {"simultaneous", "zoom,rotate"},
        {"speed", "1.0"},
        {"scroll_speed", "3000.0"},
        {"zoom_speed", "10.0"},
        {"rotate_speed", "180.0"},
        {"tick_rate", "120.0"},
        {"allowed_apps", ""},
        {"excluded_apps", "com.autodesk.fusion360,com.cockos.reaper,com.google.GoogleEarthPro,"
                          "org.blenderfoundation.blender"},
        {"new_apps_on", "0"},
        {"diagnostics", "0"},
        {"horizontal_axis", "x,-ry"},
        {"vertical_axis", "y,rx"},
        {"zoom_axis", "z"},
        {"rotate_axis", "rz"},
        {"horizontal_invert", "0"},
        {"vertical_invert", "0"},
        {"zoom_invert", "0"},
        {"rotate_invert", "0"},
    };
    EXPECT_EQ(ScrollSettings().encoded(), expected);
}

TEST(ScrollSettingsEncoded, changedFieldsAndTheirForms) {
    ScrollSettings s;
    s.simultaneous = {Activity::rotate, Activity::scroll};
    s.speed = 0.57;
    s.allowedApps = {"b.app", "B.app", "a.app"};
    s.excludedApps.clear();
    s.mapping.assign(AxisMapping::Movement::push, std::nullopt);
    s.mapping.setInverted(true, Role::rotate);
    s.newAppsOn = true;
    const auto e = s.encoded();
    EXPECT_EQ(e.at("simultaneous"), "scroll,rotate");
    EXPECT_EQ(e.at("speed"), "0.57");
    EXPECT_EQ(e.at("allowed_apps"), "B.app,a.app,b.app"); // by character code
    EXPECT_EQ(e.at("excluded_apps"), "");
    EXPECT_EQ(e.at("zoom_axis"), "none");
    EXPECT_EQ(e.at("rotate_invert"), "1");
    EXPECT_EQ(e.at("new_apps_on"), "1");
    s.simultaneous.clear();
    EXPECT_EQ(s.encoded().at("simultaneous"), "none");
}

TEST(ScrollSettingsEncoded, roundTripsThroughTheDecoder) {
    ScrollSettings s;
    s.response = Response::direct;
    s.momentum = Momentum::off;
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
    EXPECT_EQ(decodedFrom(ScrollSettings().encoded()), ScrollSettings());
    s.simultaneous.clear();
    EXPECT_EQ(decodedFrom(s.encoded()), s);
}

TEST(ScrollSettingsDecoder, nothingStoredGivesDefaults) {
    EXPECT_EQ(decodedFrom({}), ScrollSettings());
}

TEST(ScrollSettingsDecoder, presetsMatchExactly) {
    EXPECT_EQ(decodedFrom({{"response", "Balanced"}, {"momentum_preset", "long"}}).momentum,
              Momentum::long_);
    EXPECT_EQ(decodedFrom({{"response", "direct"}}).response, Response::direct);
    EXPECT_EQ(decodedFrom({{"response", "Direct"}}).response, Response::balanced);
    EXPECT_EQ(decodedFrom({{"response", " direct"}}).response, Response::balanced);
    EXPECT_EQ(decodedFrom({{"momentum_preset", "fast"}}).momentum, Momentum::medium);
    EXPECT_EQ(decodedFrom({{"momentum_preset", "short"}}).momentum, Momentum::short_);
}

TEST(ScrollSettingsDecoder, flagsFollowTheFlagRule) {
    EXPECT_FALSE(decodedFrom({{"diagonal", "no"}}).diagonal);
    EXPECT_TRUE(decodedFrom({{"diagonal", " YES "}}).diagonal);
    EXPECT_FALSE(decodedFrom({{"diagonal", "0"}}).diagonal);
    EXPECT_TRUE(decodedFrom({{"diagonal", "maybe"}}).diagonal);
    EXPECT_TRUE(decodedFrom({{"new_apps_on", "true"}}).newAppsOn);
    EXPECT_FALSE(decodedFrom({{"new_apps_on", "on"}}).newAppsOn);
    EXPECT_TRUE(decodedFrom({{"diagnostics", "1"}}).diagnostics);
}

TEST(ScrollSettingsDecoder, simultaneous) {
    EXPECT_EQ(decodedFrom({{"simultaneous", "Scroll, ZOOM"}}).simultaneous,
              (ActivitySet{Activity::scroll, Activity::zoom}));
    EXPECT_EQ(decodedFrom({{"simultaneous", "scroll,pan"}}).simultaneous,
              ScrollSettings().simultaneous);
    EXPECT_EQ(decodedFrom({{"simultaneous", "none"}}).simultaneous, ActivitySet{});
    EXPECT_EQ(decodedFrom({{"simultaneous", ""}}).simultaneous, ActivitySet{});
    EXPECT_EQ(decodedFrom({{"simultaneous", " , ,"}}).simultaneous, ActivitySet{});
    EXPECT_EQ(decodedFrom({{"simultaneous", "none,rotate"}}).simultaneous,
              ActivitySet{Activity::rotate});
}

TEST(ScrollSettingsDecoder, numbersWithinTheirRanges) {
    struct Case {
        const char* key;
        const char* text;
        double ScrollSettings::*field;
        double expected;
    };
    const Case cases[] = {
        {"speed", "4.01", &ScrollSettings::speed, 1.0},
        {"speed", " 0.25 ", &ScrollSettings::speed, 0.25},
        {"speed", "4", &ScrollSettings::speed, 4.0},
        {"speed", "0.2", &ScrollSettings::speed, 1.0},
        {"speed", "fast", &ScrollSettings::speed, 1.0},
        {"scroll_speed", "0", &ScrollSettings::scrollSpeed, 0.0},
        {"scroll_speed", "-1", &ScrollSettings::scrollSpeed, 3000.0},
        {"scroll_speed", "1e6", &ScrollSettings::scrollSpeed, 1e6},
        {"scroll_speed", "inf", &ScrollSettings::scrollSpeed, 3000.0},
        {"scroll_speed", "1e999", &ScrollSettings::scrollSpeed, 3000.0},
        {"scroll_speed", "nan", &ScrollSettings::scrollSpeed, 3000.0},
        {"zoom_speed", "0.5", &ScrollSettings::zoomSpeed, 10.0},
        {"zoom_speed", "1", &ScrollSettings::zoomSpeed, 1.0},
        {"zoom_speed", "infinity", &ScrollSettings::zoomSpeed, 10.0},
        {"rotate_speed", "0", &ScrollSettings::rotateSpeed, 0.0},
        {"rotate_speed", "-0.5", &ScrollSettings::rotateSpeed, 180.0},
        {"rotate_speed", "-inf", &ScrollSettings::rotateSpeed, 180.0},
        {"tick_rate", "0", &ScrollSettings::tickRate, 120.0},
        {"tick_rate", "241", &ScrollSettings::tickRate, 120.0},
        {"tick_rate", "1", &ScrollSettings::tickRate, 1.0},
        {"tick_rate", "240", &ScrollSettings::tickRate, 240.0},
        {"tick_rate", "60.5", &ScrollSettings::tickRate, 60.5},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(decodedFrom({{c.key, c.text}}).*c.field, c.expected) << c.key << " " << c.text;
    }
}

TEST(ScrollSettingsDecoder, axesAndInverts) {
    const auto s = decodedFrom({{"horizontal_axis", " X , -RY "},
                                {"vertical_axis", "x,q"},
                                {"zoom_axis", "none"},
                                {"rotate_axis", ""},
                                {"vertical_invert", "yes"},
                                {"zoom_invert", "perhaps"}});
    EXPECT_EQ(s.mapping[Role::horizontal], (AxisMapping::Terms{Term("x"), Term("-ry")}));
    EXPECT_EQ(s.mapping[Role::vertical], AxisMapping()[Role::vertical]);
    EXPECT_EQ(s.mapping[Role::zoom], AxisMapping::Terms{});
    EXPECT_EQ(s.mapping[Role::rotate], AxisMapping()[Role::rotate]);
    EXPECT_EQ(s.mapping.invertedRoles, AxisMapping::RoleSet{Role::vertical});
}

TEST(ScrollSettingsDecoder, appLists) {
    const auto s = decodedFrom({{"excluded_apps", "a.b , c.d,,"}, {"allowed_apps", " ,\tx.Y"}});
    EXPECT_EQ(s.excludedApps, (std::set<std::string>{"a.b", "c.d"}));
    EXPECT_EQ(s.allowedApps, (std::set<std::string>{"x.Y"}));
    EXPECT_TRUE(decodedFrom({{"excluded_apps", ""}}).excludedApps.empty());
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

TEST(ScrollSettingsStoredKeys, defaultsStoreNothing) {
    const auto keys = ScrollSettings().storedKeys(ScrollSettings());
    EXPECT_TRUE(keys.store.empty());
    ASSERT_EQ(keys.remove.size(), 21u);
    EXPECT_TRUE(std::is_sorted(keys.remove.begin(), keys.remove.end()));
    EXPECT_EQ(keys.remove.front(), "allowed_apps");
    EXPECT_EQ(keys.remove.back(), "zoom_speed");
}

TEST(ScrollSettingsStoredKeys, storesOnlyDifferences) {
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
