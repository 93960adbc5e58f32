#include "ScrollCore/ScrollSettings.h"

#include <gtest/gtest.h>
#include <limits>
#include <string>

namespace scroll {
namespace {

using Response = ScrollSettings::Response;
using Momentum = ScrollSettings::Momentum;

TEST(ScrollSettings, derivedValues) {
    ScrollSettings s;
    s.response = Response::precise;
    EXPECT_EQ(s.shaping(), (AxisShaping{0.2, 4.0, 0.5}));
    s.diagonal = false;
    EXPECT_EQ(s.shaping().crosstalkRatio, 1.0);
    s.momentum = Momentum::long_;
    EXPECT_EQ(s.glide(), Glide(0.6, 20.0));
    // The speed factor scales scrolling directly and gestures by its square root.
    s.speed = 2.0;
    EXPECT_EQ(s.effectiveScrollSpeed(), 6000.0);
    EXPECT_NEAR(s.rate(GestureKind::rotate), 254.5584, 1e-4);
    EXPECT_NEAR(s.rate(GestureKind::zoom), 3.2563, 1e-4); // ln 10 = 2.3026
}

TEST(ScrollSettings, derivedRatesStayFiniteForTheLargestAcceptedSpeeds) {
    // The decoder accepts each of these values, yet speed times speed factor overflows.
    ScrollSettings s;
    s.speed = 4;
    s.scrollSpeed = 1e308;
    s.rotateSpeed = 1.7e308;
    EXPECT_EQ(s.effectiveScrollSpeed(), std::numeric_limits<double>::max());
    EXPECT_EQ(s.rate(GestureKind::rotate), std::numeric_limits<double>::max());
    // At rest a role value of zero must give zero, not the not-a-number of zero times infinity.
    EXPECT_EQ(0.0 * s.effectiveScrollSpeed(), 0.0);
}

TEST(ScrollSettings, togetherSwitches) {
    ScrollSettings s;
    EXPECT_TRUE(s.rotatesWhileZooming());
    EXPECT_FALSE(s.scrollsWhileZooming());
    s.setScrollsWhileZooming(true);
    EXPECT_EQ(s.simultaneous, (ActivitySet{Activity::scroll, Activity::zoom, Activity::rotate}));
    s.setRotatesWhileZooming(false);
    EXPECT_EQ(s.simultaneous, (ActivitySet{Activity::scroll, Activity::zoom}));
    s.setScrollsWhileZooming(false);
    EXPECT_EQ(s.simultaneous, ActivitySet{}); // {zoom} alone is emptied
    s.setRotatesWhileZooming(true);
    EXPECT_EQ(s.simultaneous, (ActivitySet{Activity::zoom, Activity::rotate}));
}

TEST(ScrollSettings, turningOffAnAbsentPairKeepsOtherPairs) {
    ScrollSettings s;
    s.simultaneous = {Activity::scroll, Activity::rotate};
    s.setScrollsWhileZooming(false);
    EXPECT_EQ(s.simultaneous, (ActivitySet{Activity::scroll, Activity::rotate}));
    s.simultaneous = {Activity::rotate};
    s.setRotatesWhileZooming(false);
    EXPECT_EQ(s.simultaneous, ActivitySet{});
}

TEST(ScrollSettings, speedSlider) {
    EXPECT_DOUBLE_EQ(ScrollSettings::sliderPosition(0.25), 0.0);
    EXPECT_DOUBLE_EQ(ScrollSettings::sliderPosition(1.0), 0.5);
    EXPECT_DOUBLE_EQ(ScrollSettings::sliderPosition(4.0), 1.0);
    EXPECT_DOUBLE_EQ(ScrollSettings::sliderPosition(2.0), 0.75);
    EXPECT_GT(ScrollSettings::sliderPosition(8.0), 1.0); // not clamped
    EXPECT_EQ(ScrollSettings::speedAtSliderPosition(0.5), 1.0);
    EXPECT_EQ(ScrollSettings::speedAtSliderPosition(0.3), 0.57);
    EXPECT_EQ(ScrollSettings::speedAtSliderPosition(-1), 0.25);
    EXPECT_EQ(ScrollSettings::speedAtSliderPosition(2), 4.0);
    EXPECT_EQ(ScrollSettings::speedAtSliderPosition(0.75), 2.0);
    // 0.25 * 2^(4 * 0.1) = 0.3298...: rounds to 0.33.
    EXPECT_EQ(ScrollSettings::speedAtSliderPosition(0.1), 0.33);
    EXPECT_EQ(clamped(std::string("m"), ClosedRange<std::string>{"a", "c"}), "c");
}

TEST(DevicePolicy, excludedWinsThenAllowed) {
    using DevicePolicy::AppChoice;
    const std::set<std::string> allowed{"a", "both"};
    const std::set<std::string> excluded{"e", "both"};
    const std::tuple<const char*, AppChoice, bool> rows[] = {
        {"a", AppChoice::on, true},
        {"e", AppChoice::off, false},
        {"both", AppChoice::off, false},
        {"x", AppChoice::unconfigured, false},
    };
    for (const auto& [app, choice, takes] : rows) {
        EXPECT_EQ(DevicePolicy::choice(app, allowed, excluded), choice) << app;
        EXPECT_EQ(DevicePolicy::takesDevice(app, allowed, excluded), takes) << app;
    }
    EXPECT_FALSE(DevicePolicy::takesDevice(std::nullopt, allowed, excluded));
}

TEST(ScrollSettings, deviceSwitchesAndNewApps) {
    using DevicePolicy::AppChoice;
    ScrollSettings s;
    const std::string editor = "org.example.editor";
    EXPECT_EQ(s.deviceChoice("com.cockos.reaper"), AppChoice::off);
    EXPECT_EQ(s.deviceChoice(editor), AppChoice::unconfigured);
    EXPECT_FALSE(s.turnsOnInFront(editor));
    s.newAppsOn = true;
    EXPECT_TRUE(s.turnsOnInFront(editor));
    EXPECT_FALSE(s.turnsOnInFront("com.cockos.reaper"));
    s.setDevice(true, editor);
    EXPECT_EQ(s.deviceChoice(editor), AppChoice::on);
    EXPECT_FALSE(s.turnsOnInFront(editor));
    s.setDevice(false, editor);
    EXPECT_FALSE(s.allowedApps.contains(editor));
    EXPECT_EQ(s.deviceChoice(editor), AppChoice::off);
    s.setDevice(true, "com.cockos.reaper");
    EXPECT_EQ(s.deviceChoice("com.cockos.reaper"), AppChoice::on);
}

// The apps that drive the SpaceMouse themselves are off by default under their Linux desktop ids
// too (Debian's Blender, the Flatpak, Google Earth Pro's and REAPER's packages), and new apps
// switched on by default leave them alone.
TEST(ScrollSettings, appsWithTheirOwnSpaceMouseHandlingAreOffUnderTheirLinuxIDs) {
    using DevicePolicy::AppChoice;
    ScrollSettings s;
    s.newAppsOn = true;
    for (const char* id : {"blender", "org.blender.Blender", "google-earth-pro", "cockos-reaper",
                           "org.blenderfoundation.blender", "com.google.GoogleEarthPro"}) {
        EXPECT_EQ(s.deviceChoice(id), AppChoice::off) << id;
        EXPECT_FALSE(s.turnsOnInFront(id)) << id;
    }
    EXPECT_EQ(s.deviceChoice("Blender"), AppChoice::unconfigured); // ids keep their case
}

} // namespace
} // namespace scroll
