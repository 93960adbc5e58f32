#pragma once

#include "ScrollCore/AxisMapping.h"
#include "ScrollCore/RoleValues.h"
#include "SpaceMouseKit/SpaceMouseAxes.h"

#include <array>
#include <cstddef>
#include <cstdlib>
#include <initializer_list>
#include <span>

namespace scroll {

// The six axes of one sample after shaping, each in -1...1, in the order x, y, z, rx, ry, rz.
class ShapedAxes {
public:
    using Axis = AxisMapping::Axis;
    using Role = AxisMapping::Role;

    constexpr ShapedAxes() = default;
    // At most six values, in axis order. A shorter list is allowed, but reading an axis beyond
    // its end stops the program.
    constexpr ShapedAxes(std::initializer_list<double> values) {
        if (values.size() > values_.size()) std::abort();
        for (double value : values)
            values_[count_++] = value;
    }
    static const ShapedAxes zero;

    std::span<const double> values() const { return {values_.data(), count_}; }
    double operator[](Axis axis) const;

    // The strongest of the role's terms (the earlier one on equal magnitudes), clamped to
    // -1...1 and negated when the role is inverted; 0 for a role without terms.
    double value(Role role, const AxisMapping& mapping) const;
    RoleValues roleValues(const AxisMapping& mapping) const;

    friend bool operator==(const ShapedAxes& a, const ShapedAxes& b);

private:
    std::array<double, 6> values_{};
    std::size_t count_ = 0;
};

// Normalises a raw sample by the device's full scale, suppresses small deflections (dead zone)
// and the weaker axes of a mixed movement (crosstalk), and bends the rest by a power curve.
struct AxisShaping {
    double deadzone;       // fraction of full scale below which an axis counts as zero
    double exponent;       // power applied to the deflection beyond the dead zone
    double crosstalkRatio; // an axis survives only at this fraction of the strongest one or more

    // fullScale: the raw count of full deflection; it must be positive (a sample shaped with
    // any other full scale is all zero).
    ShapedAxes shaped(const smk::SpaceMouseAxes& axes, double fullScale) const;

    friend bool operator==(const AxisShaping&, const AxisShaping&) = default;
};

inline constexpr ShapedAxes ShapedAxes::zero{0, 0, 0, 0, 0, 0};

} // namespace scroll
