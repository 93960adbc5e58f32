#include "Vantor/WheelAccumulator.h"

#include <gtest/gtest.h>

namespace vantor {
namespace {

TEST(WheelAccumulator, largeMotionPassesAtTwoUnitsPerPixel) {
    WheelAccumulator wheel;
    auto out = wheel.add(45, 0);
    EXPECT_EQ(out.units, 90);
    EXPECT_EQ(out.detents, 0);
    out = wheel.add(15, 0.01);
    EXPECT_EQ(out.units, 30);
    EXPECT_EQ(out.detents, 1);
}

TEST(WheelAccumulator, restPrimesAgainOnlyOnceTheLeadIsPaid) {
    WheelAccumulator wheel;
    EXPECT_EQ(wheel.add(1, 0).units, 60);  // a lead of 58
    EXPECT_EQ(wheel.add(1, 1.0).units, 0); // still owed: held back
    // 60 units pay the 56 owed; the 4 left come after a rest, so go as a threshold.
    EXPECT_EQ(wheel.add(30, 1.01).units, 60);
    EXPECT_EQ(wheel.add(100, 1.02).units, 144); // 200 less the 56 owed again
}

TEST(WheelAccumulator, turningTakesTheLeadBackWithIt) {
    WheelAccumulator wheel;
    EXPECT_EQ(wheel.add(2, 0).units, 60); // 4 units and a lead of 56
    // 2 units back and the lead: 58, made a threshold with a lead of 2 the other way.
    EXPECT_EQ(wheel.add(-1, 0.01).units, -60);
    EXPECT_EQ(wheel.add(-40, 0.02).units, -78);
    // A short turn needs the threshold: 2 units and a lead of 58 the other way.
    EXPECT_EQ(wheel.add(1, 0.03).units, 60);
    EXPECT_EQ(wheel.add(-30, 0.04).units, -118);
}

TEST(WheelAccumulator, passthroughSendsTheMotionAsItIs) {
    WheelAccumulator wheel(WheelHandling::passthrough);
    EXPECT_EQ(wheel.add(1, 0).units, 2);
    EXPECT_EQ(wheel.add(-1, 0.01).units, -2);
    EXPECT_EQ(wheel.add(3, 5).units, 6);
}

TEST(WheelAccumulator, detentsFollowSentUnitsInBothDirections) {
    WheelAccumulator wheel;
    int detents = 0;
    for (int i = 0; i < 10; ++i)
        detents += wheel.add(-60, i * 0.01).detents;
    EXPECT_EQ(detents, -10);
}

TEST(WheelAccumulator, absurdPixelCountsDoNotOverflow) {
    WheelAccumulator wheel;
    auto out = wheel.add(INT64_MAX, 0);
    EXPECT_EQ(out.units, INT32_MAX);
    out = wheel.add(INT64_MIN, 0.01);
    EXPECT_EQ(out.units, INT32_MIN);
}

} // namespace
} // namespace vantor
