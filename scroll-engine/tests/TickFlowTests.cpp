// The pieces together, as the app's tick drives them: a push of the cap scrolls with gesture
// phases, letting go glides out with momentum phases.

#include "Printers.h"
#include "ScrollCore/AxisShaping.h"
#include "ScrollCore/GestureMotion.h"
#include "ScrollCore/ScrollMotion.h"
#include "ScrollCore/ScrollSettings.h"

#include <gtest/gtest.h>
#include <vector>

namespace scroll {
namespace {

using Role = AxisMapping::Role;

struct Tick {
    ScrollSettings settings;
    Glide glide = settings.glide();
    ScrollMotion motion;
    GestureMotion zoom{GestureKind::zoom};
    std::vector<ScrollStep> scrolled;
    std::vector<GestureStep> zoomed;

    void run(const smk::SpaceMouseAxes& axes) {
        const double dt = 1 / settings.tickRate;
        const auto values = settings.shaping().shaped(axes, 350).roleValues(settings.mapping);
        GestureKindSet running;
        if (zoom.active) running.insert(GestureKind::zoom);
        const auto chosen = values.activities(running, settings.simultaneous);
        if (chosen.contains(Activity::scroll)) {
            const double speed = settings.effectiveScrollSpeed();
            const auto v =
                glide.apply(values[Role::horizontal] * speed, values[Role::vertical] * speed, dt);
            for (const auto& step : motion.step(v.x, v.y, dt, v.coasting))
                scrolled.push_back(step);
        } else {
            glide.reset();
            for (const auto& step : motion.end())
                scrolled.push_back(step);
        }
        const double rate = chosen.contains(Activity::zoom)
                                ? values[Role::zoom] * settings.rate(GestureKind::zoom)
                                : 0.0;
        for (const auto& step : zoom.step(rate, dt))
            zoomed.push_back(step);
    }
};

std::vector<ScrollPhase> phases(const std::vector<ScrollStep>& steps) {
    std::vector<ScrollPhase> result;
    for (const auto& step : steps) {
        if (result.empty() || result.back() != step.phase) result.push_back(step.phase);
    }
    return result;
}

TEST(TickFlow, pushThenReleaseGlidesOutWithMomentum) {
    Tick tick;
    for (int i = 0; i < 30; ++i)
        tick.run({0, 300, 0, 0, 0, 0});
    for (int i = 0; i < 400; ++i)
        tick.run({});
    using P = ScrollPhase;
    EXPECT_EQ(phases(tick.scrolled),
              (std::vector<P>{P::began, P::changed, P::ended, P::momentumBegan, P::momentumChanged,
                              P::momentumEnded}));
    for (const auto& step : tick.scrolled) {
        EXPECT_EQ(step.x, 0);
        EXPECT_GE(step.y, 0); // slide back scrolls with positive y
    }
    EXPECT_FALSE(tick.motion.inGesture());
    EXPECT_EQ(tick.glide.x, 0);
    EXPECT_EQ(tick.glide.y, 0);
    EXPECT_TRUE(tick.zoomed.empty());
}

TEST(TickFlow, withoutMomentumReleaseEndsAtOnce) {
    Tick tick;
    tick.settings.momentum = ScrollSettings::Momentum::off;
    tick.glide = tick.settings.glide();
    for (int i = 0; i < 10; ++i)
        tick.run({-300, 0, 0, 0, 0, 0});
    tick.run({});
    ASSERT_FALSE(tick.scrolled.empty());
    EXPECT_EQ(tick.scrolled.back(), (ScrollStep{ScrollPhase::ended, 0, 0}));
    EXPECT_LT(tick.scrolled.front().x, 0);
}

TEST(TickFlow, pushingDownZoomsAndEndsScrolling) {
    Tick tick;
    for (int i = 0; i < 5; ++i)
        tick.run({0, 300, 0, 0, 0, 0});
    ASSERT_TRUE(tick.motion.inGesture());
    for (int i = 0; i < 5; ++i)
        tick.run({0, 0, 300, 0, 0, 0});
    EXPECT_FALSE(tick.motion.inGesture());
    EXPECT_EQ(tick.scrolled.back(), (ScrollStep{ScrollPhase::ended, 0, 0}));
    ASSERT_EQ(tick.zoomed.size(), 6u);
    EXPECT_EQ(tick.zoomed.front(), (GestureStep{GesturePhase::began, 0}));
    EXPECT_GT(tick.zoomed.back().amount, 0);
    // The zoom keeps the lead while it runs, even when the cap then slides.
    tick.run({0, 300, 200, 0, 0, 0});
    EXPECT_EQ(tick.zoomed.back().phase, GesturePhase::changed);
    EXPECT_FALSE(tick.motion.inGesture());
    tick.run({});
    EXPECT_EQ(tick.zoomed.back(), (GestureStep{GesturePhase::ended, 0}));
}

} // namespace
} // namespace scroll
