#pragma once

#include "SpaceMouseKit/SpaceMouseAxes.h"

#include <optional>

namespace smk {

// Learns the offset at which a cap comes to rest when it does not spring back exactly to zero,
// and takes it off later samples. A rest is learned only from a cap that stays within `wobble`
// counts for `settle` seconds while close to zero (within `reach` on every axis); an exact zero
// sample from the device forgets it.
class CapRest {
public:
    static constexpr std::int64_t wobble = 4;
    static constexpr std::int64_t reach = 58;
    static constexpr double settle = 1.5;

    // The learned rest offset; zero while none is learned.
    const SpaceMouseAxes& rest() const { return rest_; }

    // The sample with the rest taken off; `time` is a monotonic clock in seconds.
    SpaceMouseAxes corrected(const SpaceMouseAxes& sample, double time);

    bool operator==(const CapRest&) const = default;

private:
    SpaceMouseAxes rest_;
    SpaceMouseAxes still_;             // the sample at which the current still period began
    std::optional<double> stillSince_; // when that still period began
};

} // namespace smk
