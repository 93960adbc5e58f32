#pragma once

#include "ScrollCore/SmallList.h"

#include <cstdint>

namespace scroll {

enum class ScrollPhase : std::uint8_t {
    began,
    changed,
    ended,
    momentumBegan,
    momentumChanged,
    momentumEnded
};

// The case name ("began", "momentumChanged", ...), for logs and recordings.
const char* caseName(ScrollPhase phase);

// One scroll-wheel step: whole pixels, with the sign of the velocity that produced them.
struct ScrollStep {
    ScrollPhase phase;
    std::int64_t x;
    std::int64_t y;

    // The values of a scroll-wheel event, which counts the other way round: -y and -x, clamped
    // to the 32-bit range.
    std::int32_t wheelVertical() const;
    std::int32_t wheelHorizontal() const;

    friend bool operator==(const ScrollStep&, const ScrollStep&) = default;
};

using ScrollSteps = SmallList<ScrollStep, 2>;

// Turns a velocity recomputed every tick into whole-pixel steps with trackpad-style phases: a
// gesture while the user deflects the cap, then a momentum phase while the glide coasts. The
// state machine is tabled in scroll-engine/README.md.
class ScrollMotion {
public:
    ScrollMotion() = default;

    // Velocities in pixels per second, deltaTime in seconds, coasting from Glide::apply.
    // Returns zero, one or two steps.
    ScrollSteps step(double velocityX, double velocityY, double deltaTime, bool coasting);
    // Ends a begun gesture or momentum phase.
    ScrollSteps end();

    // A begun sequence (gesture or momentum) has not been ended yet.
    bool inGesture() const { return state_ == State::gesture || state_ == State::momentum; }

    double remainderX() const { return remainderX_; }
    double remainderY() const { return remainderY_; }

    friend bool operator==(const ScrollMotion&, const ScrollMotion&) = default;

private:
    enum class State : std::uint8_t { idle, gesture, coastPending, momentum };

    State state_ = State::idle;
    // Fractional pixels not yet emitted; each keeps the sign of the motion.
    double remainderX_ = 0;
    double remainderY_ = 0;
};

} // namespace scroll
