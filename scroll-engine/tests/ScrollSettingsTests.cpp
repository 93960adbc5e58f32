#include "ScrollCore/ScrollSettings.h"

#include <cmath>
#include <gtest/gtest.h>
#include <map>
#include <optional>
#include <string>

namespace scroll {
namespace {

using Response = ScrollSettings::Response;
using Momentum = ScrollSettings::Momentum;
using AppSetting = ScrollSettings::AppSetting;

TEST(ScrollSettings, appSettingKeys) {
    const auto keys = [](AppSetting s) {
        const auto span = s.keys();
        return std::vector<std::string_view>(span.begin(), span.end());
    };
    EXPECT_EQ(keys(AppSetting::speed), std::vector<std::string_view>{"speed"});
    EXPECT_EQ(keys(AppSetting::response), std::vector<std::string_view>{"response"});
    EXPECT_EQ(keys(AppSetting::momentum), std::vector<std::string_view>{"momentum_preset"});
    EXPECT_EQ(keys(AppSetting::together),
              (std::vector<std::string_view>{"diagonal", "simultaneous"}));
    std::set<std::string_view> all;
    for (auto setting : AppSetting::allCases()) {
        for (auto key : setting.keys())
            all.insert(key);
    }
    EXPECT_EQ(all, std::set<std::string_view>(ScrollSettings::perAppKeys.begin(),
                                              ScrollSettings::perAppKeys.end()));
    EXPECT_TRUE(ScrollSettings::isPerAppKey("momentum_preset"));
    EXPECT_FALSE(ScrollSettings::isPerAppKey("scroll_speed"));
}

TEST(ScrollSettings, derivedValues) {
    ScrollSettings s;
    s.response = Response::precise;
    EXPECT_EQ(s.shaping(), (AxisShaping{0.2, 4.0, 0.5}));
    s.diagonal = false;
    EXPECT_EQ(s.shaping().crosstalkRatio, 1.0);

    s.speed = 2.0;
    EXPECT_EQ(s.effectiveScrollSpeed(), 6000.0);
    EXPECT_DOUBLE_EQ(s.rate(GestureKind::rotate), 180.0 * std::sqrt(2.0));
    EXPECT_DOUBLE_EQ(s.rate(GestureKind::zoom), std::log(10.0) * std::sqrt(2.0));

    s.momentum = Momentum::long_;
    EXPECT_EQ(s.glide(), Glide(0.6, 20.0));
    EXPECT_EQ(s.glide().x, 0);
}

TEST(ScrollSettings, derivedRatesStayFiniteForTheLargestAcceptedSpeeds) {
    // Every one of these stored values is accepted, yet speed times speed factor overflows.
    const std::map<std::string, std::string> stored{
        {"speed", "4"}, {"scroll_speed", "1e308"}, {"rotate_speed", "1.7e308"}};
    ScrollSettings s =
        ScrollSettings::decoded([&](const std::string& key) -> std::optional<std::string> {
            auto found = stored.find(key);
            return found == stored.end() ? std::nullopt : std::optional(found->second);
        });
    ASSERT_EQ(s.scrollSpeed, 1e308);
    ASSERT_EQ(s.speed, 4.0);
    EXPECT_TRUE(std::isfinite(s.effectiveScrollSpeed()));
    EXPECT_GE(s.effectiveScrollSpeed(), 1e308);
    EXPECT_TRUE(std::isfinite(s.rate(GestureKind::rotate)));
    // At rest a role value of zero must give zero, not the not-a-number of zero times infinity.
    EXPECT_EQ(0.0 * s.effectiveScrollSpeed(), 0.0);
    EXPECT_EQ(0.0 * s.rate(GestureKind::rotate), 0.0);
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
}

TEST(ClosedRange, clampedLimitsToBothEnds) {
    EXPECT_EQ(clamped(5, ClosedRange<int>{1, 3}), 3);
    EXPECT_EQ(clamped(-5, ClosedRange<int>{1, 3}), 1);
    EXPECT_EQ(clamped(2, ClosedRange<int>{1, 3}), 2);
    EXPECT_EQ(clamped(0.1, ScrollSettings::speedRange), 0.25);
    EXPECT_EQ(clamped(std::string("m"), ClosedRange<std::string>{"a", "c"}), "c");
}

TEST(DevicePolicy, choiceAndTakesDevice) {
    const std::set<std::string> allowed{"a", "both"};
    const std::set<std::string> excluded{"e", "both"};
    using DevicePolicy::AppChoice;
    EXPECT_EQ(DevicePolicy::choice("a", allowed, excluded), AppChoice::on);
    EXPECT_EQ(DevicePolicy::choice("e", allowed, excluded), AppChoice::off);
    EXPECT_EQ(DevicePolicy::choice("both", allowed, excluded), AppChoice::off);
    EXPECT_EQ(DevicePolicy::choice("x", allowed, excluded), AppChoice::unconfigured);
    EXPECT_TRUE(DevicePolicy::takesDevice("a", allowed, excluded));
    EXPECT_FALSE(DevicePolicy::takesDevice("both", allowed, excluded));
    EXPECT_FALSE(DevicePolicy::takesDevice("e", allowed, excluded));
    EXPECT_FALSE(DevicePolicy::takesDevice("x", allowed, excluded));
    EXPECT_FALSE(DevicePolicy::takesDevice(std::nullopt, allowed, excluded));
}

TEST(ScrollSettings, deviceSwitches) {
    ScrollSettings s;
    using DevicePolicy::AppChoice;
    for (auto app : DevicePolicy::defaultExcluded) {
        EXPECT_EQ(s.deviceChoice(std::string(app)), AppChoice::off);
    }
    EXPECT_EQ(s.deviceChoice("org.example.editor"), AppChoice::unconfigured);

    s.setDevice(true, "org.example.editor");
    EXPECT_EQ(s.deviceChoice("org.example.editor"), AppChoice::on);
    s.setDevice(false, "org.example.editor");
    EXPECT_FALSE(s.allowedApps.contains("org.example.editor"));
    EXPECT_TRUE(s.excludedApps.contains("org.example.editor"));
    s.setDevice(true, "com.cockos.reaper");
    EXPECT_FALSE(s.excludedApps.contains("com.cockos.reaper"));
    EXPECT_EQ(s.deviceChoice("com.cockos.reaper"), AppChoice::on);
}

TEST(ScrollSettings, turnsOnInFrontOnlyForNewAppsWhenSwitchedOn) {
    ScrollSettings s;
    s.allowedApps = {"allowed"};
    EXPECT_FALSE(s.turnsOnInFront("new"));
    EXPECT_FALSE(s.turnsOnInFront("allowed"));
    s.newAppsOn = true;
    EXPECT_TRUE(s.turnsOnInFront("new"));
    EXPECT_FALSE(s.turnsOnInFront("allowed"));
    EXPECT_FALSE(s.turnsOnInFront("com.cockos.reaper"));
}

} // namespace
} // namespace scroll
