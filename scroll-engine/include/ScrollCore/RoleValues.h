#pragma once

#include "ScrollCore/Activity.h"
#include "ScrollCore/AxisMapping.h"

#include <array>
#include <optional>

namespace scroll {

// How strongly the cap asks for each role in this sample, each in -1...1.
class RoleValues {
public:
    using Role = AxisMapping::Role;

    // Per role (in role order); a role may be absent, which reads as 0.
    std::array<std::optional<double>, 4> values{};

    RoleValues() = default;
    // Calls `value` once per role, in role order.
    template <class F> explicit RoleValues(F&& value) {
        for (auto role : Role::allCases())
            values[role] = value(role);
    }

    // The stored value, 0 when the role is absent.
    double operator[](Role role) const { return values[role].value_or(0.0); }
    void set(Role role, double value) { values[role] = value; }
    // The larger of |horizontal| and |vertical|.
    double scroll() const;
    bool isMoving() const;

    // The one activity that leads this tick. A running gesture keeps the lead (zoom before
    // rotate); otherwise the strongest of scroll, zoom and rotate, where scroll wins a tie
    // against a gesture and zoom wins a tie against rotate.
    Activity lead(GestureKindSet running) const;
    // The lead, joined by every activity the user lets run together with it.
    ActivitySet activities(GestureKindSet running, ActivitySet together) const;

    friend bool operator==(const RoleValues&, const RoleValues&) = default;
};

} // namespace scroll
