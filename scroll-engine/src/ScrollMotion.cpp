#include "ScrollCore/ScrollMotion.h"

#include <cmath>
#include <limits>

// The state machine implemented here is tabled in scroll-engine/README.md; keep the two in step.

namespace scroll {

const char* caseName(ScrollPhase phase) {
    switch (phase) {
    case ScrollPhase::began:
        return "began";
    case ScrollPhase::changed:
        return "changed";
    case ScrollPhase::ended:
        return "ended";
    case ScrollPhase::momentumBegan:
        return "momentumBegan";
    case ScrollPhase::momentumChanged:
        return "momentumChanged";
    case ScrollPhase::momentumEnded:
        return "momentumEnded";
    }
    return "?";
}

namespace {

std::int32_t negatedClampedTo32(std::int64_t value) {
    // -value must land in the 32-bit range, so value must lie in -(2^31 - 1) ... 2^31. Clamping
    // before negating also keeps -INT64_MIN from overflowing.
    constexpr std::int64_t lowest =
        -static_cast<std::int64_t>(std::numeric_limits<std::int32_t>::max());
    constexpr std::int64_t highest =
        -static_cast<std::int64_t>(std::numeric_limits<std::int32_t>::min());
    const std::int64_t bounded = value < lowest ? lowest : (value > highest ? highest : value);
    return static_cast<std::int32_t>(-bounded);
}

// Takes the whole pixels out of a remainder, truncated toward zero. Only an absurd scroll speed
// can gather more pixels in one tick than a step holds; then the step carries the largest count
// it can and the excess is dropped rather than carried into later ticks. A remainder that is not
// a number (from a velocity that is not one) is dropped too.
std::int64_t takeWholePixels(double& remainder) {
    constexpr double limit = 9223372036854775808.0; // 2^63
    if (std::isnan(remainder) || std::isinf(remainder)) {
        const bool positive = remainder > 0;
        const bool negative = remainder < 0;
        remainder = 0;
        if (positive) return std::numeric_limits<std::int64_t>::max();
        if (negative) return std::numeric_limits<std::int64_t>::min();
        return 0;
    }
    const double whole = std::trunc(remainder);
    remainder -= whole;
    if (whole >= limit) return std::numeric_limits<std::int64_t>::max();
    if (whole < -limit) return std::numeric_limits<std::int64_t>::min();
    return static_cast<std::int64_t>(whole);
}

} // namespace

std::int32_t ScrollStep::wheelVertical() const {
    return negatedClampedTo32(y);
}
std::int32_t ScrollStep::wheelHorizontal() const {
    return negatedClampedTo32(x);
}

ScrollSteps ScrollMotion::step(double velocityX, double velocityY, double deltaTime,
                               bool coasting) {
    if (velocityX == 0 && velocityY == 0) return end();

    ScrollSteps steps;
    switch (state_) {
    case State::idle:
        break;
    case State::gesture:
        // The user let go and the glide carries on: end the gesture now, even before momentum
        // has a whole pixel to show.
        if (coasting) {
            steps.push_back({ScrollPhase::ended, 0, 0});
            state_ = State::coastPending;
        }
        break;
    case State::coastPending:
        if (!coasting) state_ = State::idle;
        break;
    case State::momentum:
        // A push during momentum ends the momentum; a new gesture begins with its first pixel.
        if (!coasting) {
            steps.push_back({ScrollPhase::momentumEnded, 0, 0});
            state_ = State::idle;
            remainderX_ = 0;
            remainderY_ = 0;
        }
        break;
    }

    remainderX_ += velocityX * deltaTime;
    remainderY_ += velocityY * deltaTime;
    const std::int64_t wholeX = takeWholePixels(remainderX_);
    const std::int64_t wholeY = takeWholePixels(remainderY_);
    if (wholeX == 0 && wholeY == 0) return steps;

    ScrollPhase phase = ScrollPhase::changed;
    switch (state_) {
    case State::idle:
        phase = ScrollPhase::began;
        state_ = State::gesture;
        break;
    case State::gesture:
        phase = ScrollPhase::changed;
        break;
    case State::coastPending:
        phase = ScrollPhase::momentumBegan;
        state_ = State::momentum;
        break;
    case State::momentum:
        phase = ScrollPhase::momentumChanged;
        break;
    }
    steps.push_back({phase, wholeX, wholeY});
    return steps;
}

ScrollSteps ScrollMotion::end() {
    const State before = state_;
    state_ = State::idle;
    remainderX_ = 0;
    remainderY_ = 0;
    if (before == State::gesture) return {{ScrollPhase::ended, 0, 0}};
    if (before == State::momentum) return {{ScrollPhase::momentumEnded, 0, 0}};
    return {};
}

} // namespace scroll
