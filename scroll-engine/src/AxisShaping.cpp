#include "ScrollCore/AxisShaping.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace scroll {

double ShapedAxes::operator[](Axis axis) const {
    if (axis.index() >= count_) std::abort();
    return values_[axis.index()];
}

bool operator==(const ShapedAxes& a, const ShapedAxes& b) {
    return std::ranges::equal(a.values(), b.values());
}

double ShapedAxes::value(Role role, const AxisMapping& mapping) const {
    double best = 0;
    bool any = false;
    for (const auto& term : mapping[role]) {
        const double candidate = term.negated ? -(*this)[term.axis] : (*this)[term.axis];
        // Strictly greater: on equal magnitudes the earlier term stays.
        if (!any || std::abs(candidate) > std::abs(best)) best = candidate;
        any = true;
    }
    best = std::clamp(best, -1.0, 1.0);
    return mapping.invertedRoles.contains(role) ? -best : best;
}

RoleValues ShapedAxes::roleValues(const AxisMapping& mapping) const {
    return RoleValues([&](Role role) { return value(role, mapping); });
}

ShapedAxes AxisShaping::shaped(const smk::SpaceMouseAxes& axes, double fullScale) const {
    if (!(fullScale > 0)) return ShapedAxes::zero;
    const std::array<double, 6> raw{static_cast<double>(axes.x),  static_cast<double>(axes.y),
                                    static_cast<double>(axes.z),  static_cast<double>(axes.rx),
                                    static_cast<double>(axes.ry), static_cast<double>(axes.rz)};
    std::array<double, 6> v{};
    double strongest = 0;
    for (std::size_t i = 0; i < 6; ++i) {
        v[i] = std::clamp(raw[i] / fullScale, -1.0, 1.0);
        strongest = std::max(strongest, std::abs(v[i]));
    }
    const double threshold = crosstalkRatio * strongest;
    std::array<double, 6> out{};
    for (std::size_t i = 0; i < 6; ++i) {
        const double magnitude = std::abs(v[i]);
        if (!(deadzone < magnitude && magnitude >= threshold)) continue;
        const double shapedMagnitude = std::pow((magnitude - deadzone) / (1 - deadzone), exponent);
        // A ratio that is not a number (a degenerate dead zone or exponent) counts as rest.
        if (std::isnan(shapedMagnitude)) continue;
        out[i] = v[i] < 0 ? -shapedMagnitude : shapedMagnitude;
    }
    return ShapedAxes{out[0], out[1], out[2], out[3], out[4], out[5]};
}

} // namespace scroll
