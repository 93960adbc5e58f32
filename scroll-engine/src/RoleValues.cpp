#include "ScrollCore/RoleValues.h"

#include <algorithm>
#include <cmath>

namespace scroll {

double RoleValues::scroll() const {
    return std::max(std::abs((*this)[Role::horizontal]), std::abs((*this)[Role::vertical]));
}

bool RoleValues::isMoving() const {
    return std::any_of(values.begin(), values.end(),
                       [](const std::optional<double>& value) { return value && *value != 0; });
}

Activity RoleValues::lead(GestureKindSet running) const {
    if (running.contains(GestureKind::zoom)) return Activity::zoom;
    if (running.contains(GestureKind::rotate)) return Activity::rotate;
    const double zoom = std::abs((*this)[Role::zoom]);
    const double rotate = std::abs((*this)[Role::rotate]);
    const bool rotateLeads = rotate > zoom;
    const double gesture = rotateLeads ? rotate : zoom;
    if (gesture > scroll()) return rotateLeads ? Activity::rotate : Activity::zoom;
    return Activity::scroll;
}

ActivitySet RoleValues::activities(GestureKindSet running, ActivitySet together) const {
    const Activity leading = lead(running);
    if (together.contains(leading)) return together;
    return ActivitySet{leading};
}

} // namespace scroll
