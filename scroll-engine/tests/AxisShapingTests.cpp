#include "ScrollCore/AxisShaping.h"

#include <gtest/gtest.h>

namespace scroll {
namespace {

using Axis = AxisMapping::Axis;
using Role = AxisMapping::Role;
using Term = AxisMapping::Term;

smk::SpaceMouseAxes sample(std::int64_t x, std::int64_t y, std::int64_t z = 0, std::int64_t rx = 0,
                           std::int64_t ry = 0, std::int64_t rz = 0) {
    return smk::SpaceMouseAxes{x, y, z, rx, ry, rz};
}

TEST(AxisShaping, deflectionPastTheDeadZoneFollowsTheExponent) {
    // 100 of 350 is 0.2857; past a dead zone of 0.12 that is 0.1883 of the rest, cubed 0.006678.
    const std::tuple<AxisShaping, smk::SpaceMouseAxes, Axis, double> rows[] = {
        {{0.12, 3.0, 1.0}, sample(100, 0), Axis::x, 0.0066778},
        {{0.12, 3.0, 1.0}, sample(0, 0, 0, 0, -100, 0), Axis::ry, -0.0066778},
        {{0.12, 1.0, 1.0}, sample(0, 0, 0, 0, 0, 263), Axis::rz, 0.7175325},
        {{0.2, 4.0, 1.0}, sample(0, 0, 280, 0, 0, 0), Axis::z, 0.31640625},
    };
    for (const auto& [shaping, axes, only, expected] : rows) {
        const auto shaped = shaping.shaped(axes, 350);
        for (auto axis : Axis::allCases())
            EXPECT_NEAR(shaped[axis], axis == only ? expected : 0.0, 1e-6) << axis.rawValue();
    }
}

TEST(AxisShaping, crosstalkRatioDecidesWhichAxesSurvive) {
    const auto diagonal = AxisShaping{0.12, 1.0, 0.5}.shaped(sample(200, -120), 350);
    EXPECT_GT(diagonal[Axis::x], 0);
    EXPECT_LT(diagonal[Axis::y], 0);
    const auto straight = AxisShaping{0.12, 1.0, 1.0}.shaped(sample(200, -120), 350);
    EXPECT_GT(straight[Axis::x], 0);
    EXPECT_EQ(straight[Axis::y], 0);
    // Exactly half as deflected still survives with ratio 0.5, an exact tie with ratio 1.
    EXPECT_GT(AxisShaping({0.12, 1.0, 0.5}).shaped(sample(200, 0, 100), 350)[Axis::z], 0);
    const auto tie = AxisShaping{0.12, 1.0, 1.0}.shaped(sample(200, 0, 0, 0, 0, -200), 350);
    EXPECT_GT(tie[Axis::x], 0);
    EXPECT_DOUBLE_EQ(tie[Axis::rz], -tie[Axis::x]);
}

TEST(AxisShaping, deadZoneIsExclusive) {
    // 35 / 350 is exactly 0.1 in double arithmetic.
    const AxisShaping shaping{0.1, 1.0, 1.0};
    EXPECT_EQ(shaping.shaped(sample(35, 0), 350)[Axis::x], 0);
    EXPECT_NEAR(shaping.shaped(sample(36, 0), 350)[Axis::x], 1.0 / 315, 1e-12);
    // Even a flat curve (exponent 0, every surviving axis at full strength) leaves it at rest.
    EXPECT_EQ(AxisShaping({0.1, 0.0, 1.0}).shaped(sample(35, 0), 350)[Axis::x], 0);
    EXPECT_EQ(AxisShaping({0.1, 0.0, 1.0}).shaped(sample(36, 0), 350)[Axis::x], 1);
}

TEST(AxisShaping, beyondFullScaleClampsAndDegenerateParametersGiveRest) {
    const auto beyond = AxisShaping{0.12, 3.0, 0.5}.shaped(sample(1000, -900), 350);
    EXPECT_DOUBLE_EQ(beyond[Axis::x], 1.0);
    EXPECT_DOUBLE_EQ(beyond[Axis::y], -1.0);
    // A dead zone of 1 would divide zero by zero; nothing passes it anyway.
    EXPECT_EQ(AxisShaping({1.0, 2.0, 1.0}).shaped(sample(350, 0), 350), ShapedAxes::zero);
    EXPECT_EQ(AxisShaping({0.1, 1.0, 1.0}).shaped(sample(350, 0), 0), ShapedAxes::zero);
    EXPECT_EQ(AxisShaping({0.1, 1.0, 1.0}).shaped(sample(0, 0), 350), ShapedAxes::zero);
}

TEST(ShapedAxes, roleValueTakesStrongestTermAndEarlierOnTie) {
    const AxisMapping mapping; // horizontal [x, -ry]
    EXPECT_DOUBLE_EQ(ShapedAxes({0.3, 0, 0, 0, -0.5, 0}).value(Role::horizontal, mapping), 0.5);
    EXPECT_DOUBLE_EQ(ShapedAxes({0.5, 0, 0, 0, 0.5, 0}).value(Role::horizontal, mapping), 0.5);
    EXPECT_DOUBLE_EQ(ShapedAxes({0.5, 0, 0, 0, -0.5, 0}).value(Role::horizontal, mapping), 0.5);
    EXPECT_DOUBLE_EQ(ShapedAxes({-0.5, 0, 0, 0, -0.5, 0}).value(Role::horizontal, mapping), -0.5);
}

TEST(ShapedAxes, roleValueInvertsClampsAndReadsEmptyAsZero) {
    AxisMapping mapping;
    mapping.setInverted(true, Role::vertical);
    mapping.setTerms(Role::zoom, {});
    mapping.axes.erase(Role::rotate);
    const ShapedAxes shaped{0, 0.4, 0.9, 0.1, 0, 0.7};
    EXPECT_DOUBLE_EQ(shaped.value(Role::vertical, mapping), -0.4);
    EXPECT_EQ(shaped.value(Role::zoom, mapping), 0);
    EXPECT_EQ(shaped.value(Role::rotate, mapping), 0);
    // Values outside -1...1 (only from a hand-made list) are clamped before inverting.
    EXPECT_DOUBLE_EQ(ShapedAxes({0, 3, 0, 0, 0, 0}).value(Role::vertical, mapping), -1.0);
}

TEST(ShapedAxes, roleValuesCoverAllRoles) {
    const auto values = ShapedAxes({0.2, -0.3, 0.4, 0, 0, -0.6}).roleValues(AxisMapping());
    EXPECT_DOUBLE_EQ(values[Role::horizontal], 0.2);
    EXPECT_DOUBLE_EQ(values[Role::vertical], -0.3);
    EXPECT_DOUBLE_EQ(values[Role::zoom], 0.4);
    EXPECT_DOUBLE_EQ(values[Role::rotate], -0.6);
    EXPECT_DOUBLE_EQ(values.scroll(), 0.3);
    EXPECT_TRUE(values.isMoving());
}

TEST(ShapedAxesDeathTest, readingBeyondShortListStops) {
    const ShapedAxes shortList{0.1, 0.2};
    EXPECT_DOUBLE_EQ(shortList[Axis::y], 0.2);
    EXPECT_DEATH({ (void)shortList[Axis::z]; }, "");
}

TEST(RoleValues, absentRolesReadAsZero) {
    RoleValues values;
    EXPECT_EQ(values[Role::zoom], 0);
    EXPECT_EQ(values.scroll(), 0);
    values.set(Role::horizontal, 0);
    EXPECT_FALSE(values.isMoving());
    EXPECT_NE(values, RoleValues()); // present with 0 differs from absent
    values.set(Role::rotate, -0.1);
    EXPECT_TRUE(values.isMoving());
}

} // namespace
} // namespace scroll
