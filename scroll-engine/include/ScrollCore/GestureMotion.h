#pragma once

#include "ScrollCore/Activity.h"
#include "ScrollCore/SmallList.h"

#include <cstdint>

namespace scroll {

enum class GesturePhase : std::uint8_t { began, changed, ended };

// The case name ("began", "changed", "ended"), for logs and recordings.
const char* caseName(GesturePhase phase);

// One zoom or rotate step. For zoom the amount is the relative change of magnification in this
// step (0.05 is 5 % larger, negative shrinks); for rotate it is degrees in this step.
struct GestureStep {
    GesturePhase phase;
    double amount;

    // Rotate events count clockwise the other way round.
    double eventRotation() const { return -amount; }

    friend bool operator==(const GestureStep&, const GestureStep&) = default;
};

using GestureSteps = SmallList<GestureStep, 2>;

// The begin / change / end phases of one gesture. Active from the first non-zero rate until a
// zero rate or end().
class GestureMotion {
public:
    GestureKind kind;
    bool active = false;

    explicit GestureMotion(GestureKind kind)
        : kind(kind) {}

    // rate in the gesture's unit per second (natural-log magnification per second for zoom,
    // degrees per second for rotate), deltaTime in seconds. The first non-zero rate returns
    // (began, 0) followed by (changed, amount).
    GestureSteps step(double rate, double deltaTime);
    // (ended, 0) when active, else nothing.
    GestureSteps end();

    friend bool operator==(const GestureMotion&, const GestureMotion&) = default;
};

} // namespace scroll
