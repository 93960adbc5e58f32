#include "Vantor/WheelAccumulator.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace vantor {

namespace {

std::int32_t clampTo32(std::int64_t value) {
    return static_cast<std::int32_t>(std::clamp<std::int64_t>(
        value, std::numeric_limits<std::int32_t>::min(), std::numeric_limits<std::int32_t>::max()));
}

int signOf(std::int64_t value) {
    return (value > 0) - (value < 0);
}

} // namespace

WheelAccumulator::WheelAccumulator(double pixelsPerDetent)
    : unitsPerPixel_(static_cast<double>(unitsPerDetent) / pixelsPerDetent) {}

void WheelAccumulator::reset() {
    carry_ = 0;
    debt_ = 0;
    detentCarry_ = 0;
    lastSign_ = 0;
    lastSent_ = -1e300;
}

WheelAccumulator::Output WheelAccumulator::add(std::int64_t pixels, double now) {
    // Bound the input so the arithmetic below can never overflow; no real scroll comes close.
    constexpr double bound = 1e12;
    double exact = carry_ + std::clamp(static_cast<double>(pixels) * unitsPerPixel_, -bound, bound);
    auto units = static_cast<std::int64_t>(std::trunc(exact));
    carry_ = exact - static_cast<double>(units);
    if (units == 0) return {};

    int sign = signOf(units);
    bool turned = sign != lastSign_;
    if (turned) {
        // A turn of direction: libinput starts accumulating afresh, and any lead still owed in
        // the old direction is forgiven (the view stays at most half a detent ahead).
        debt_ = 0;
        detentCarry_ = 0;
        lastSign_ = sign;
    }
    if (debt_ != 0) {
        std::int64_t held = sign * std::min(std::abs(units), std::abs(debt_));
        units -= held;
        debt_ -= held;
        if (units == 0) return {};
    }
    if ((turned || now - lastSent_ >= restGap) && std::abs(units) < startThreshold) {
        debt_ += sign * startThreshold - units;
        units = sign * startThreshold;
    }
    lastSent_ = now;

    detentCarry_ += units;
    std::int64_t detents = detentCarry_ / unitsPerDetent;
    detentCarry_ -= detents * unitsPerDetent;
    return {clampTo32(units), clampTo32(detents)};
}

} // namespace vantor
