#include "ScrollCore/ScrollSettings.h"

#include <gtest/gtest.h>

namespace scroll {
namespace {

using AppSetting = ScrollSettings::AppSetting;
using Momentum = ScrollSettings::Momentum;
using Response = ScrollSettings::Response;

const std::string app = "org.example.editor";

// Settings that differ from the defaults in every field an app cannot override, and more.
ScrollSettings customised() {
    ScrollSettings s;
    s.speed = 1.5;
    s.response = ScrollSettings::Response::direct;
    s.scrollSpeed = 2000;
    s.zoomSpeed = 4;
    s.rotateSpeed = 90;
    s.tickRate = 60;
    s.mapping.assign(AxisMapping::Movement::twist, AxisMapping::Role::horizontal);
    s.mapping.setInverted(true, AxisMapping::Role::vertical);
    s.allowedApps = {app};
    s.newAppsOn = true;
    s.diagnostics = true;
    return s;
}

TEST(AppSettings, appliedWithoutOverridesIsUnchanged) {
    ScrollSettings s = customised();
    EXPECT_EQ(s.applied(std::nullopt), s);
    EXPECT_EQ(s.applied(app), s);
    s.appSettings["other"] = {{"speed", "2.0"}};
    s.appSettings[app] = {};
    EXPECT_EQ(s.applied(app), s);
}

TEST(AppSettings, overridesReplaceOnlyTheirFields) {
    ScrollSettings s = customised();
    s.appSettings[app] = {{"speed", "0.5"},
                          {"response", "precise"},
                          {"momentum_preset", "long"},
                          {"diagonal", "0"},
                          {"simultaneous", "scroll,zoom"}};
    ScrollSettings expected = s;
    expected.speed = 0.5;
    expected.response = Response::precise;
    expected.momentum = Momentum::long_;
    expected.diagonal = false;
    expected.simultaneous = {Activity::scroll, Activity::zoom};
    EXPECT_EQ(s.applied(app), expected);
}

TEST(AppSettings, rejectedOverrideFallsBackToDefaultNotOwnValue) {
    ScrollSettings s = customised();
    s.appSettings[app] = {{"speed", "9"}, {"response", "Precise"}};
    ScrollSettings expected = s;
    expected.speed = 1.0;
    expected.response = Response::balanced;
    EXPECT_EQ(s.applied(app), expected);
}

// setOwn starts from the app's settings and stores only the keys of the one setting.
TEST(AppSettings, setOwnStoresOnlyTheModifiedSetting) {
    ScrollSettings s;
    EXPECT_FALSE(s.hasOwnSettings(app));
    s.appSettings[app] = {{"response", "direct"}};
    EXPECT_TRUE(s.follows(AppSetting::speed, app));
    Response seen = Response::balanced;
    s.setOwn(AppSetting::speed, app, [&](ScrollSettings& own) {
        seen = own.response;
        own.speed = 0.5;
        own.response = Response::precise;
    });
    EXPECT_EQ(seen, Response::direct);
    EXPECT_EQ(s.appSettings.at(app),
              (std::map<std::string, std::string>{{"response", "direct"}, {"speed", "0.5"}}));
    EXPECT_FALSE(s.follows(AppSetting::speed, app));
    EXPECT_TRUE(s.follows(AppSetting::momentum, app));
    EXPECT_EQ(s.applied(app).speed, 0.5);
    EXPECT_EQ(s.speed, 1.0);
}

TEST(AppSettings, setOwnTogetherStoresBothKeys) {
    ScrollSettings s;
    s.setOwn(AppSetting::together, app, [](ScrollSettings& own) {
        own.simultaneous = {Activity::scroll, Activity::zoom};
    });
    EXPECT_EQ(s.appSettings.at(app), (std::map<std::string, std::string>{
                                         {"diagonal", "1"}, {"simultaneous", "scroll,zoom"}}));
    s.setOwn(AppSetting::together, app, [](ScrollSettings& own) { own.simultaneous.clear(); });
    EXPECT_EQ(s.appSettings.at(app).at("simultaneous"), "none");
    EXPECT_FALSE(s.follows(AppSetting::together, app));
}

TEST(AppSettings, followRemovesKeysAndEmptyEntries) {
    ScrollSettings s;
    s.appSettings[app] = {{"speed", "2.0"}, {"diagonal", "0"}, {"simultaneous", "none"}};
    s.follow(AppSetting::together, app);
    EXPECT_EQ(s.appSettings.at(app), (std::map<std::string, std::string>{{"speed", "2.0"}}));
    s.follow(AppSetting::speed, app);
    EXPECT_FALSE(s.appSettings.contains(app));
    EXPECT_FALSE(s.hasOwnSettings(app));

    s.appSettings[app] = {{"speed", "2.0"}, {"response", "direct"}};
    s.follow(std::nullopt, app);
    EXPECT_TRUE(s.appSettings.empty());
    s.follow(std::nullopt, "unknown"); // nothing to do
    EXPECT_TRUE(s.appSettings.empty());
}

} // namespace
} // namespace scroll
