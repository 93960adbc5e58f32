#include "ScrollCore/GestureMotion.h"

#include <cmath>

namespace scroll {

const char* caseName(GesturePhase phase) {
    switch (phase) {
    case GesturePhase::began:
        return "began";
    case GesturePhase::changed:
        return "changed";
    case GesturePhase::ended:
        return "ended";
    }
    return "?";
}

GestureSteps GestureMotion::step(double rate, double deltaTime) {
    if (rate == 0) return end();
    GestureSteps steps;
    if (!active) {
        active = true;
        steps.push_back({GesturePhase::began, 0});
    }
    double amount = rate * deltaTime;
    // Magnification composes by multiplication: over a run of steps the factors multiply to
    // exp(sum of rate * deltaTime), so a constant rate zooms at a constant speed.
    if (kind == GestureKind::zoom) amount = std::expm1(amount);
    steps.push_back({GesturePhase::changed, amount});
    return steps;
}

GestureSteps GestureMotion::end() {
    if (!active) return {};
    active = false;
    return {{GesturePhase::ended, 0}};
}

} // namespace scroll
