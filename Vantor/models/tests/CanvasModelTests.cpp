#include "ModelsTestSupport.h"
#include "VantorModels/CanvasModel.h"

#include <gtest/gtest.h>

namespace vantor {
namespace {

using scroll::GestureKind;
using scroll::GesturePhase;
using scroll::GestureStep;
using scroll::ScrollPhase;
using scroll::ScrollStep;
using test::SignalCount;

TEST(CanvasModel, scrollStepsMoveTheCentreTurnedAndScaled) {
    struct Case {
        double rotation, scale;
        std::int64_t x, y;
        double centerX, centerY;
    } cases[] = {
        {0, 1, 3, -4, 3, -4},     {90, 2, 10, 0, 0, -5}, {90, 1, 0, 10, 10, 0},
        {180, 0.5, 1, 2, -2, -4}, {-90, 4, 8, 0, 0, 2},  {30, 1, 0, 0, 0, 0},
    };
    for (const auto& c : cases) {
        CanvasModel canvas(c.rotation, c.scale);
        SignalCount moved(&canvas, &CanvasModel::centerChanged);
        canvas.post(ScrollStep{ScrollPhase::changed, c.x, c.y});
        EXPECT_NEAR(canvas.center().x, c.centerX, 1e-9) << c.rotation << " " << c.scale;
        EXPECT_NEAR(canvas.center().y, c.centerY, 1e-9) << c.rotation << " " << c.scale;
        EXPECT_EQ(moved.value, c.x || c.y ? 1 : 0);
    }
}

TEST(CanvasModel, zoomStaysWithinItsRangeAndSignalsOnlyChanges) {
    struct Case {
        double scale, amount, expected;
        int signals;
    } cases[] = {
        {4, 1, 8, 1},          {8, 0.5, 8, 0},        {6, 0.5, 8, 1}, {8, -0.5, 4, 1},
        {0.5, -0.75, 0.25, 1}, {0.25, -0.5, 0.25, 0}, {2, 0, 2, 0},
    };
    for (const auto& c : cases) {
        CanvasModel canvas(0, c.scale);
        SignalCount scaled(&canvas, &CanvasModel::scaleChanged);
        canvas.post(GestureStep{GesturePhase::changed, c.amount}, GestureKind::zoom);
        EXPECT_DOUBLE_EQ(canvas.scale(), c.expected) << c.scale << " " << c.amount;
        EXPECT_EQ(scaled.value, c.signals) << c.scale << " " << c.amount;
        EXPECT_DOUBLE_EQ(canvas.rotation(), 0);
    }
}

TEST(CanvasModel, rotationKeepsTheRemainderWithTheSignOfTheSum) {
    struct Case {
        double rotation, amount, expected;
        int signals;
    } cases[] = {
        {350, 20, 10, 1}, {-350, -20, -10, 1}, {10, -30, -20, 1},
        {340, 20, 0, 1},  {0, 360, 0, 0},      {45, 0, 45, 0},
    };
    for (const auto& c : cases) {
        CanvasModel canvas(c.rotation, 1);
        SignalCount turned(&canvas, &CanvasModel::rotationChanged);
        canvas.post(GestureStep{GesturePhase::changed, c.amount}, GestureKind::rotate);
        EXPECT_DOUBLE_EQ(canvas.rotation(), c.expected) << c.rotation << " " << c.amount;
        EXPECT_EQ(turned.value, c.signals) << c.rotation << " " << c.amount;
        EXPECT_DOUBLE_EQ(canvas.scale(), 1);
    }
}

TEST(CanvasModel, resetSignalsOnlyTheFieldsThatChange) {
    struct Case {
        double rotation, scale;
        std::int64_t x;
        int signals;
    } cases[] = {{0, 1, 0, 0}, {-8, 1.25, 5, 4}, {0, 2, 0, 1}};
    for (const auto& c : cases) {
        CanvasModel canvas(c.rotation, c.scale);
        canvas.post(ScrollStep{ScrollPhase::changed, c.x, 0});
        SignalCount moved(&canvas, &CanvasModel::centerChanged);
        SignalCount scaled(&canvas, &CanvasModel::scaleChanged);
        SignalCount turned(&canvas, &CanvasModel::rotationChanged);
        canvas.post(ScrollStep{ScrollPhase::changed, c.x, 0});
        canvas.reset();
        EXPECT_EQ(canvas.center(), CanvasPoint{});
        EXPECT_EQ(canvas.scale(), 1.0);
        EXPECT_EQ(canvas.rotation(), 0.0);
        EXPECT_EQ(moved.value + scaled.value + turned.value, c.signals) << c.rotation;
    }
}

TEST(CanvasModel, stepsThatAreNotNumbersLeaveTheCanvasWhereItIs) {
    CanvasModel canvas(30, 2);
    canvas.post(GestureStep{GesturePhase::changed, std::nan("")}, GestureKind::zoom);
    canvas.post(GestureStep{GesturePhase::changed, std::nan("")}, GestureKind::rotate);
    EXPECT_EQ(canvas.scale(), 2.0);
    EXPECT_EQ(canvas.rotation(), 30.0);
    canvas.post(ScrollStep{ScrollPhase::changed, 10, 0});
    EXPECT_TRUE(std::isfinite(canvas.center().x));
}

} // namespace
} // namespace vantor
