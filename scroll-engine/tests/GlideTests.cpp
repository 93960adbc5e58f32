#include "ScrollCore/Glide.h"

#include <cmath>
#include <gtest/gtest.h>

namespace scroll {
namespace {

constexpr double tick = 1.0 / 120;

TEST(Glide, withoutMomentumPassesInputThrough) {
    Glide glide(0, 20);
    EXPECT_EQ(glide.apply(100, 0, 0.01), (Glide::Output{100, 0, false}));
    EXPECT_EQ(glide.apply(0, 0, 0.01), (Glide::Output{0, 0, false}));
    Glide notANumber(std::nan(""), 20);
    EXPECT_EQ(notANumber.apply(5, -5, 0.01), (Glide::Output{5, -5, false}));
}

TEST(Glide, releaseDecaysExponentiallyCoastsAndStopsBelowStopSpeed) {
    Glide glide(0.3, 20);
    EXPECT_EQ(glide.apply(3000, 0, tick), (Glide::Output{3000, 0, false}));
    const auto first = glide.apply(0, 0, tick);
    EXPECT_NEAR(first.x, 2917.8134, 1e-4); // 3000 e^(-1/36)
    EXPECT_EQ(first.y, 0);
    EXPECT_TRUE(first.coasting);
    int ticks = 1;
    Glide::Output out = first;
    double last = first.x;
    while (out.coasting && ticks < 10000) {
        out = glide.apply(0, 0, tick);
        ++ticks;
        if (out.coasting) {
            EXPECT_GE(std::hypot(out.x, out.y), 20);
            EXPECT_LT(out.x, last);
            last = out.x;
        }
    }
    EXPECT_EQ(out, (Glide::Output{0, 0, false}));
    EXPECT_EQ(glide.x, 0);
    // 3000 * exp(-n / 36) < 20 first at n = ceil(36 * ln 150) = 181.
    EXPECT_EQ(ticks, 181);
}

TEST(Glide, stopSpeedIsInclusiveAndUsesBothAxes) {
    Glide glide(0.3, 20);
    glide.x = 20;
    EXPECT_EQ(glide.apply(0, 0, 0), (Glide::Output{20, 0, true}));
    glide.x = 19.999;
    EXPECT_EQ(glide.apply(0, 0, 0), (Glide::Output{0, 0, false}));
    glide.x = 15;
    glide.y = 15; // hypot 21.2, above the stop speed although each axis is below it
    EXPECT_TRUE(glide.apply(0, 0, 0).coasting);
    Glide vertical(0.3, 20);
    vertical.y = -100;
    EXPECT_EQ(vertical.apply(0, 0, -1), (Glide::Output{0, -100, true})); // no decay back in time
    // With no stop speed, a glide at rest still does not coast.
    Glide resting(0.3, 0);
    EXPECT_EQ(resting.apply(0, 0, tick), (Glide::Output{0, 0, false}));
}

TEST(Glide, fasterGlideWinsOverSlowerPushSameDirection) {
    Glide glide(0.3, 20);
    glide.x = 2000;
    const auto faster = glide.apply(1000, 0, tick);
    EXPECT_NEAR(faster.x, 1945.2090, 1e-3); // 2000 e^(-1/36)
    EXPECT_FALSE(faster.coasting);
    glide.x = 2000;
    EXPECT_EQ(glide.apply(-1000, 0, tick), (Glide::Output{-1000, 0, false}));
    glide.x = 2000;
    EXPECT_EQ(glide.apply(3000, 0, tick), (Glide::Output{3000, 0, false}));
    // Negative directions compare by magnitude too.
    glide.x = -2000;
    EXPECT_NEAR(glide.apply(-1000, 0, tick).x, -1945.2090, 1e-3);
}

TEST(Glide, pushOnOneAxisKeepsGlideOnTheOther) {
    Glide glide(0.3, 20);
    glide.x = 1000;
    glide.y = 10; // below stop speed, but no stop test while pushing
    EXPECT_NEAR(glide.apply(0, 500, tick).x, 972.6045, 1e-3);
    EXPECT_EQ(glide.y, 500);
}

} // namespace
} // namespace scroll
