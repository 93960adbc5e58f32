#include "SpaceMouseKit/CapRest.h"

#include <gtest/gtest.h>

namespace smk {
namespace {

SpaceMouseAxes onX(std::int64_t x) {
    return {x, 0, 0, 0, 0, 0};
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

// Samples on one axis at given times, and the rest learned after them.
TEST(CapRest, restIsLearnedOnlyFromAStillPeriodWithinReach) {
    struct Row {
        const char* what;
        std::vector<std::pair<std::int64_t, double>> samples;
        std::int64_t rest;
    };
    const Row rows[] = {
        {"settle not yet reached", {{10, 0.0}, {13, 1.0}, {14, 1.499}}, 0},
        {"settle is inclusive, rest from the period's start",
         {{10, 0.0}, {13, 1.0}, {14, 1.5}},
         10},
        {"a move beyond wobble restarts the period", {{10, 0.0}, {15, 1.0}, {15, 2.0}}, 0},
        {"the restarted period settles", {{10, 0.0}, {15, 1.0}, {15, 2.5}}, 15},
        {"beyond reach", {{70, 0.0}, {70, 5.0}}, 0},
        {"at the edge of reach", {{-58, 0.0}, {-58, 1.5}}, -58},
        {"just past reach", {{-59, 0.0}, {-59, 1.5}}, 0},
        {"reach judged on the current sample", {{56, 0.0}, {60, 2.0}}, 0},
        {"and a later sample within reach", {{56, 0.0}, {60, 2.0}, {58, 2.1}}, 56},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        CapRest cap;
        for (const auto& [x, t] : row.samples)
            cap.corrected(onX(x), t);
        EXPECT_EQ(cap.rest(), onX(row.rest));
    }
    CapRest wobbling;
    for (int i = 0; i < 40; ++i)
        wobbling.corrected(onX(i % 2 == 0 ? 10 : 15), i * 0.5);
    EXPECT_EQ(wobbling.rest(), SpaceMouseAxes::zero);
}

TEST(CapRest, aLaterStillPeriodReplacesTheRest) {
    CapRest cap;
    cap.corrected(onX(20), 0.0);
    cap.corrected(onX(20), 1.5);
    ASSERT_EQ(cap.rest(), onX(20));
    // At the edge of the range the correction does not overflow.
    EXPECT_EQ(cap.corrected(onX(INT64_MIN), 1.6), onX(INT64_MIN));
    EXPECT_EQ(cap.corrected(onX(INT64_MAX), 1.7), onX(INT64_MAX - 20));
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

} // namespace
} // namespace smk
