#include "Printers.h"
#include "ScrollCore/ScrollMotion.h"

#include <cmath>
#include <gtest/gtest.h>
#include <limits>

namespace scroll {
namespace {

using P = ScrollPhase;

// The machine's state as its behaviour shows it: end() tells gesture and momentum apart from the
// rest, and a coasting step with plenty of pixels tells idle from coastPending.
enum class Seen { idle, gesture, coastPending, momentum };
const char* const names[] = {"idle", "gesture", "coastPending", "momentum"};

Seen seen(const ScrollMotion& motion) {
    ScrollMotion ending = motion;
    const auto ended = ending.end();
    if (!ended.empty()) return ended[0].phase == P::ended ? Seen::gesture : Seen::momentum;
    ScrollMotion probing = motion;
    const auto probe = probing.step(1000, 0, 1, true);
    return probe.back().phase == P::momentumBegan ? Seen::coastPending : Seen::idle;
}

// With deltaTime 0.5: "pixel" velocity 4 gathers 2 px, "no pixel" velocity 0.5 gathers 0.25 px.
constexpr double dt = 0.5;
constexpr double pixel = 4;
constexpr double noPixel = 0.5;

ScrollMotion in(Seen state) {
    ScrollMotion motion;
    if (state == Seen::idle) return motion;
    motion.step(pixel, 0, dt, false); // began, remainder 0
    if (state == Seen::gesture) return motion;
    motion.step(noPixel, 0, dt, true); // ended, remainder 0.25
    if (state == Seen::coastPending) return motion;
    motion.step(pixel, 0, dt, true); // momentumBegan, remainder 0.25
    return motion;
}

struct Row {
    Seen from;
    double velocity;
    bool coasting;
    ScrollSteps steps;
    Seen to;
};

TEST(ScrollMotion, everyRowOfTheStateTable) {
    const ScrollStep began{P::began, 2, 0};
    const ScrollStep changed{P::changed, 2, 0};
    const ScrollStep ended{P::ended, 0, 0};
    const ScrollStep momentumBegan{P::momentumBegan, 2, 0};
    const ScrollStep momentumChanged{P::momentumChanged, 2, 0};
    const ScrollStep momentumEnded{P::momentumEnded, 0, 0};
    const Row rows[] = {
        {Seen::idle, 0, false, {}, Seen::idle},
        {Seen::idle, 0, true, {}, Seen::idle},
        {Seen::idle, noPixel, false, {}, Seen::idle},
        {Seen::idle, noPixel, true, {}, Seen::idle},
        {Seen::idle, pixel, false, {began}, Seen::gesture},
        {Seen::idle, pixel, true, {began}, Seen::gesture},
        {Seen::gesture, 0, false, {ended}, Seen::idle},
        {Seen::gesture, 0, true, {ended}, Seen::idle},
        {Seen::gesture, noPixel, false, {}, Seen::gesture},
        {Seen::gesture, pixel, false, {changed}, Seen::gesture},
        {Seen::gesture, noPixel, true, {ended}, Seen::coastPending},
        {Seen::gesture, pixel, true, {ended, momentumBegan}, Seen::momentum},
        {Seen::coastPending, 0, true, {}, Seen::idle},
        {Seen::coastPending, noPixel, true, {}, Seen::coastPending},
        {Seen::coastPending, pixel, true, {momentumBegan}, Seen::momentum},
        {Seen::coastPending, noPixel, false, {}, Seen::idle},
        {Seen::coastPending, pixel, false, {began}, Seen::gesture},
        {Seen::momentum, 0, true, {momentumEnded}, Seen::idle},
        {Seen::momentum, noPixel, true, {}, Seen::momentum},
        {Seen::momentum, pixel, true, {momentumChanged}, Seen::momentum},
        {Seen::momentum, noPixel, false, {momentumEnded}, Seen::idle},
        {Seen::momentum, pixel, false, {momentumEnded, began}, Seen::gesture},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(::testing::Message() << names[static_cast<int>(row.from)] << " v="
                                          << row.velocity << (row.coasting ? " coasting" : ""));
        ScrollMotion motion = in(row.from);
        ASSERT_EQ(seen(motion), row.from);
        EXPECT_EQ(motion.step(row.velocity, 0, dt, row.coasting), row.steps);
        EXPECT_EQ(seen(motion), row.to);
    }
}

TEST(ScrollMotion, endFromEveryState) {
    const std::tuple<Seen, bool, ScrollSteps> rows[] = {
        {Seen::idle, false, {}},
        {Seen::gesture, true, {{P::ended, 0, 0}}},
        {Seen::coastPending, false, {}},
        {Seen::momentum, true, {{P::momentumEnded, 0, 0}}},
    };
    for (const auto& [from, begun, steps] : rows) {
        ScrollMotion motion = in(from);
        EXPECT_EQ(motion.inGesture(), begun) << names[static_cast<int>(from)];
        EXPECT_EQ(motion.end(), steps) << names[static_cast<int>(from)];
        EXPECT_EQ(motion, ScrollMotion()) << names[static_cast<int>(from)];
    }
}

TEST(ScrollMotion, pushDuringMomentumStartsFromFreshRemainders) {
    ScrollMotion motion = in(Seen::coastPending); // remainder 0.25
    motion.step(5, 0, dt, true);                  // momentumBegan(2), remainder 0.75
    ASSERT_DOUBLE_EQ(motion.remainderX(), 0.75);
    // The carried 0.75 is dropped: 0.25 alone makes no pixel, so no gesture begins yet.
    EXPECT_EQ(motion.step(noPixel, 0, dt, false), (ScrollSteps{{P::momentumEnded, 0, 0}}));
    EXPECT_DOUBLE_EQ(motion.remainderX(), 0.25);
}

TEST(ScrollMotion, remaindersKeepTheirSignCarryOverAndResetOnZero) {
    ScrollMotion motion;
    EXPECT_EQ(motion.step(-1.7, 2.5, 1, false), (ScrollSteps{{P::began, -1, 2}}));
    EXPECT_NEAR(motion.remainderX(), -0.7, 1e-12);
    EXPECT_NEAR(motion.remainderY(), 0.5, 1e-12);
    // -0.7 - 0.2 = -0.9: still no whole pixel; then one more, and y alone makes no step.
    EXPECT_TRUE(motion.step(-0.2, 0, 1, false).empty());
    EXPECT_EQ(motion.step(-0.2, 0, 1, false), (ScrollSteps{{P::changed, -1, 0}}));
    EXPECT_EQ(motion.step(0, 0.5, 1, false), (ScrollSteps{{P::changed, 0, 1}}));
    motion.step(0, 0, 1, false);
    EXPECT_EQ(motion, ScrollMotion());
}

TEST(ScrollMotion, absurdVelocityClampsInsteadOfWrapping) {
    constexpr auto most = std::numeric_limits<std::int64_t>::max();
    constexpr auto least = std::numeric_limits<std::int64_t>::min();
    ScrollMotion motion;
    EXPECT_EQ(motion.step(1e300, -1e300, 1, false), (ScrollSteps{{P::began, most, least}}));
    EXPECT_TRUE(std::isfinite(motion.remainderX()));
    EXPECT_LT(std::abs(motion.remainderX()), 1);
    EXPECT_EQ(motion.step(9.3e18, 0, 1, false), (ScrollSteps{{P::changed, most, 0}}));

    const double infinity = std::numeric_limits<double>::infinity();
    ScrollMotion infinite;
    EXPECT_EQ(infinite.step(-infinity, infinity, 1, false), (ScrollSteps{{P::began, least, most}}));
    EXPECT_EQ(infinite.remainderX(), 0);
    EXPECT_EQ(infinite.remainderY(), 0);

    ScrollMotion notANumber;
    EXPECT_TRUE(notANumber.step(std::nan(""), 0, 1, false).empty());
    EXPECT_EQ(notANumber, ScrollMotion());
}

// Wheel events count the other way round and hold 32 bits: -(2^31 - 1) ... 2^31 negates safely.
TEST(ScrollStep, wheelValuesNegateAndClampTo32Bits) {
    constexpr auto int32Max = std::numeric_limits<std::int32_t>::max();
    constexpr auto int32Min = std::numeric_limits<std::int32_t>::min();
    constexpr std::int64_t twoTo31 = std::int64_t{1} << 31;
    const std::pair<std::int64_t, std::int32_t> rows[] = {
        {5, -5},
        {twoTo31, int32Min},
        {-twoTo31, int32Max},
        {-int32Max, int32Max},
        {std::numeric_limits<std::int64_t>::min(), int32Max},
        {std::numeric_limits<std::int64_t>::max(), int32Min},
    };
    for (const auto& [pixels, wheel] : rows) {
        EXPECT_EQ((ScrollStep{P::changed, 0, pixels}).wheelVertical(), wheel) << pixels;
        EXPECT_EQ((ScrollStep{P::changed, pixels, 0}).wheelHorizontal(), wheel) << pixels;
    }
}

} // namespace
} // namespace scroll
