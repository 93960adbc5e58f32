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

WheelAccumulator::WheelAccumulator(WheelHandling handling, double pixelsPerDetent)
    : handling_(handling)
    , unitsPerPixel_(static_cast<double>(unitsPerDetent) / pixelsPerDetent) {}

void WheelAccumulator::reset() {
    carry_ = 0;
    lead_ = 0;
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
    std::int64_t send = units;
    if (signOf(lead_) == sign) {
        // Already shown: hold back as much as the lead covers.
        std::int64_t held = sign * std::min(std::abs(units), std::abs(lead_));
        send -= held;
        lead_ -= held;
        if (send == 0) return {};
    } else {
        // A turn: the view goes back by the lead as well.
        send -= lead_;
        lead_ = 0;
    }
    bool fresh = sign != lastSign_ || now - lastSent_ >= restGap;
    if (handling_ == WheelHandling::filtered && fresh && std::abs(send) < startThreshold) {
        lead_ += sign * startThreshold - send;
        send = sign * startThreshold;
    }
    lastSign_ = sign;
    lastSent_ = now;

    detentCarry_ += send;
    std::int64_t detents = detentCarry_ / unitsPerDetent;
    detentCarry_ -= detents * unitsPerDetent;
    return {clampTo32(send), clampTo32(detents)};
}

} // namespace vantor
