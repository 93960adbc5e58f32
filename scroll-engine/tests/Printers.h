#pragma once

// Readable failure messages for the engine's small values.

#include "ScrollCore/GestureMotion.h"
#include "ScrollCore/ScrollMotion.h"

#include <ostream>

namespace scroll {

inline void PrintTo(const ScrollStep& step, std::ostream* os) {
    *os << "(" << caseName(step.phase) << ", " << step.x << ", " << step.y << ")";
}

inline void PrintTo(const GestureStep& step, std::ostream* os) {
    *os << "(" << caseName(step.phase) << ", " << step.amount << ")";
}

} // namespace scroll
