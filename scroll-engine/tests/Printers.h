#pragma once

// Readable failure messages for the engine's small values.

#include "ScrollCore/GestureMotion.h"
#include "ScrollCore/ScrollMotion.h"

#include <ostream>

namespace scroll {

inline const char* phaseName(ScrollPhase phase) {
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

inline void PrintTo(const ScrollStep& step, std::ostream* os) {
    *os << "(" << phaseName(step.phase) << ", " << step.x << ", " << step.y << ")";
}

inline void PrintTo(const GestureStep& step, std::ostream* os) {
    const char* names[] = {"began", "changed", "ended"};
    *os << "(" << names[static_cast<int>(step.phase)] << ", " << step.amount << ")";
}

} // namespace scroll
