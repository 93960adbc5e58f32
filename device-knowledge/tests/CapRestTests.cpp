#include "SpaceMouseKit/CapRest.h"

#include <gtest/gtest.h>

namespace smk {
namespace {

SpaceMouseAxes onX(std::int64_t x) {
    return {x, 0, 0, 0, 0, 0};
}

TEST(CapRest, constants) {
    EXPECT_EQ(CapRest::wobble, 4);
    EXPECT_EQ(CapRest::reach, 58);
    EXPECT_DOUBLE_EQ(CapRest::settle, 1.5);
    EXPECT_EQ(CapRest().rest(), SpaceMouseAxes::zero);
}

TEST(CapRest, learnsAStillOffsetAfterSettleAndTakesItOff) {
    CapRest cap;
    EXPECT_EQ(cap.corrected(onX(20), 0.0), onX(20));
    EXPECT_EQ(cap.corrected(onX(20), 1.0), onX(20));
    EXPECT_EQ(cap.rest(), SpaceMouseAxes::zero);
    EXPECT_EQ(cap.corrected(onX(20), 1.6), onX(0));
    EXPECT_EQ(cap.rest(), onX(20));
    EXPECT_EQ(cap.corrected(onX(23), 1.7), onX(0));
    EXPECT_EQ(cap.corrected(onX(24), 1.8), onX(0));
    EXPECT_EQ(cap.corrected(onX(25), 1.9), onX(5));
    EXPECT_EQ(cap.corrected(onX(26), 2.0), onX(6));
    EXPECT_EQ(cap.corrected(onX(-30), 2.1), onX(-50));
    EXPECT_EQ(cap.corrected(SpaceMouseAxes::zero, 2.2), SpaceMouseAxes::zero);
    EXPECT_EQ(cap.rest(), SpaceMouseAxes::zero);
    EXPECT_EQ(cap.corrected(onX(20), 2.3), onX(20));
}

TEST(CapRest, settleIsInclusiveAndMeasuredFromTheStartOfTheStillPeriod) {
    CapRest cap;
    cap.corrected(onX(10), 0.0);
    cap.corrected(onX(13), 1.0);   // within wobble of 10: the period keeps running
    cap.corrected(onX(14), 1.499); // not yet
    EXPECT_EQ(cap.rest(), SpaceMouseAxes::zero);
    EXPECT_EQ(cap.corrected(onX(14), 1.5), onX(0)); // 14 - 10 is within wobble
    // The rest is the sample at which the period began, not the current one.
    EXPECT_EQ(cap.rest(), onX(10));
}

TEST(CapRest, aMoveBeyondWobbleRestartsTheStillPeriod) {
    CapRest cap;
    cap.corrected(onX(10), 0.0);
    cap.corrected(onX(15), 1.0); // moved by 5: a new period from here
    cap.corrected(onX(15), 2.0);
    EXPECT_EQ(cap.rest(), SpaceMouseAxes::zero);
    cap.corrected(onX(15), 2.5);
    EXPECT_EQ(cap.rest(), onX(15));
}

TEST(CapRest, wobblingByFiveNeverSettles) {
    CapRest cap;
    for (int i = 0; i < 40; ++i)
        cap.corrected(onX(i % 2 == 0 ? 10 : 15), i * 0.5);
    EXPECT_EQ(cap.rest(), SpaceMouseAxes::zero);
}

TEST(CapRest, offsetsBeyondReachAreNeverLearned) {
    CapRest cap;
    for (int i = 0; i < 20; ++i)
        EXPECT_EQ(cap.corrected(onX(70), i * 0.5), onX(70));
    EXPECT_EQ(cap.rest(), SpaceMouseAxes::zero);

    CapRest edge;
    edge.corrected({0, 0, 0, 0, 0, -58}, 0.0);
    edge.corrected({0, 0, 0, 0, 0, -58}, 1.5);
    EXPECT_EQ(edge.rest(), (SpaceMouseAxes{0, 0, 0, 0, 0, -58}));

    CapRest past;
    past.corrected({0, 0, 0, 0, 0, -59}, 0.0);
    past.corrected({0, 0, 0, 0, 0, -59}, 1.5);
    EXPECT_EQ(past.rest(), SpaceMouseAxes::zero);
}

TEST(CapRest, reachIsJudgedOnTheCurrentSample) {
    CapRest cap;
    cap.corrected(onX(56), 0.0);
    cap.corrected(onX(60), 2.0); // within wobble of 56, but 60 is out of reach
    EXPECT_EQ(cap.rest(), SpaceMouseAxes::zero);
    cap.corrected(onX(58), 2.1);
    EXPECT_EQ(cap.rest(), onX(56));
}

TEST(CapRest, aLaterStillPeriodReplacesTheRest) {
    CapRest cap;
    cap.corrected(onX(20), 0.0);
    cap.corrected(onX(20), 1.5);
    ASSERT_EQ(cap.rest(), onX(20));
    const SpaceMouseAxes other{-8, 30, 0, 0, 0, 0};
    EXPECT_EQ(cap.corrected(other, 2.0), (SpaceMouseAxes{-28, 30, 0, 0, 0, 0}));
    EXPECT_EQ(cap.corrected(other, 3.5), SpaceMouseAxes::zero);
    EXPECT_EQ(cap.rest(), other);
}

TEST(CapRest, axesWithoutRestPassUnchanged) {
    CapRest cap;
    const SpaceMouseAxes resting{0, 0, 3, 0, 0, 0};
    cap.corrected(resting, 0.0);
    cap.corrected(resting, 2.0);
    ASSERT_EQ(cap.rest(), resting);
    // A small value on an axis without rest is not swallowed.
    EXPECT_EQ(cap.corrected({2, 0, 3, 0, 0, 1}, 2.1), (SpaceMouseAxes{2, 0, 0, 0, 0, 1}));
}

TEST(CapRest, correctionAtTheEdgeOfTheRangeDoesNotOverflow) {
    CapRest cap;
    cap.corrected(onX(20), 0.0);
    cap.corrected(onX(20), 1.5);
    ASSERT_EQ(cap.rest(), onX(20));
    EXPECT_EQ(cap.corrected(onX(INT64_MIN), 1.6), onX(INT64_MIN));
    EXPECT_EQ(cap.corrected(onX(INT64_MAX), 1.7), onX(INT64_MAX - 20));
}

TEST(CapRest, equalityCoversTheHiddenState) {
    CapRest a;
    CapRest b;
    EXPECT_EQ(a, b);
    a.corrected(onX(20), 0.0);
    EXPECT_NE(a, b);
    b.corrected(onX(20), 0.5);
    EXPECT_NE(a, b); // same sample, different start of the still period
}

} // namespace
} // namespace smk
