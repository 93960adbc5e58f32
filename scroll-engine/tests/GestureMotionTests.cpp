#include "Printers.h"
#include "ScrollCore/GestureMotion.h"
#include "ScrollCore/RoleValues.h"

#include <cmath>
#include <gtest/gtest.h>

namespace scroll {
namespace {

using Role = AxisMapping::Role;

RoleValues roles(double horizontal, double vertical, double zoom, double rotate) {
    RoleValues values;
    values.set(Role::horizontal, horizontal);
    values.set(Role::vertical, vertical);
    values.set(Role::zoom, zoom);
    values.set(Role::rotate, rotate);
    return values;
}

TEST(RoleValuesLead, strongestLeadsWithTiesToScrollThenZoomAndRunningGesturesKeepIt) {
    const std::tuple<RoleValues, GestureKindSet, Activity> rows[] = {
        {roles(0.3, 0, 0.3, 0), {}, Activity::scroll},
        {roles(0, -0.3, 0, 0.3), {}, Activity::scroll},
        {roles(0, 0.29, 0.3, 0), {}, Activity::zoom},
        {roles(0, 0.4, 0.2, -0.5), {}, Activity::rotate},
        {roles(0, 0, 0.5, -0.5), {}, Activity::zoom},
        {RoleValues(), {}, Activity::scroll},
        {roles(0, 0, 0, 0), {}, Activity::scroll},
        {roles(0, 0, 0.9, 0), {GestureKind::rotate}, Activity::rotate},
        {roles(0, 0, 0, 0.9), {GestureKind::zoom, GestureKind::rotate}, Activity::zoom},
        {roles(0.9, 0, 0, 0), {GestureKind::zoom}, Activity::zoom},
    };
    for (const auto& [values, running, lead] : rows)
        EXPECT_EQ(values.lead(running), lead) << lead.rawValue();
}

TEST(RoleValuesActivities, leadJoinedByItsTogetherSet) {
    const auto zoomLead = roles(0, 0, 0.5, 0);
    EXPECT_EQ(zoomLead.activities({}, {Activity::zoom, Activity::rotate}),
              (ActivitySet{Activity::zoom, Activity::rotate}));
    EXPECT_EQ(zoomLead.activities({}, {}), ActivitySet{Activity::zoom});
    const auto scrollLead = roles(0.5, 0, 0.1, 0);
    EXPECT_EQ(scrollLead.activities({}, {Activity::scroll, Activity::zoom}),
              (ActivitySet{Activity::scroll, Activity::zoom}));
    EXPECT_EQ(scrollLead.activities({}, {Activity::zoom, Activity::rotate}),
              ActivitySet{Activity::scroll});
}

// Zoom amounts are magnification minus one: ln 10 per second for half a second twice is a
// factor sqrt(10) = 3.16228 each time. Rotate amounts are degrees; the event counts the other way.
TEST(GestureMotion, zoomStepsMultiplyAndRotateStepsAdd) {
    GestureMotion zoom(GestureKind::zoom);
    const auto first = zoom.step(std::log(10.0), 0.5);
    ASSERT_EQ(first.size(), 2u);
    EXPECT_EQ(first[0], (GestureStep{GesturePhase::began, 0}));
    EXPECT_NEAR(first[1].amount, 2.16228, 1e-5);
    const auto second = zoom.step(std::log(10.0), 0.5);
    ASSERT_EQ(second.size(), 1u);
    EXPECT_NEAR(second[0].amount, 2.16228, 1e-5);
    GestureMotion shrinking(GestureKind::zoom);
    EXPECT_NEAR(shrinking.step(-std::log(2.0), 1.0)[1].amount, -0.5, 1e-12);
    GestureMotion rotate(GestureKind::rotate);
    const auto steps = rotate.step(180, 1.0 / 120);
    ASSERT_EQ(steps.size(), 2u);
    EXPECT_EQ(steps[1], (GestureStep{GesturePhase::changed, 1.5}));
    EXPECT_DOUBLE_EQ(steps[1].eventRotation(), -1.5);
}

TEST(GestureMotion, zeroRateOrEndEndsOnceAndOnlyWhenActive) {
    GestureMotion rotate(GestureKind::rotate);
    EXPECT_TRUE(rotate.step(0, 0.01).empty());
    rotate.step(10, 0.01);
    EXPECT_EQ(rotate.step(0, 0.01), (GestureSteps{{GesturePhase::ended, 0}}));
    EXPECT_FALSE(rotate.active);
    EXPECT_TRUE(rotate.step(0, 0.01).empty());
    GestureMotion zoom(GestureKind::zoom);
    EXPECT_TRUE(zoom.end().empty());
    zoom.step(1, 0.01);
    EXPECT_EQ(zoom.end(), (GestureSteps{{GesturePhase::ended, 0}}));
    EXPECT_TRUE(zoom.end().empty());
    // The next non-zero rate begins afresh.
    EXPECT_EQ(zoom.step(1, 0.01).size(), 2u);
    EXPECT_TRUE(zoom.active);
}

} // namespace
} // namespace scroll
