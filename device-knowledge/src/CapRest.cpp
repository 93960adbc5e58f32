#include "SpaceMouseKit/CapRest.h"

#include <cstdlib>

namespace smk {

namespace {

// |a - b|, without overflow for any pair of counts.
std::uint64_t distance(std::int64_t a, std::int64_t b) {
    return a > b ? static_cast<std::uint64_t>(a) - static_cast<std::uint64_t>(b)
                 : static_cast<std::uint64_t>(b) - static_cast<std::uint64_t>(a);
}

bool within(const SpaceMouseAxes& a, const SpaceMouseAxes& b, std::int64_t limit) {
    const auto first = a.all();
    const auto second = b.all();
    for (std::size_t i = 0; i < first.size(); ++i) {
        if (distance(first[i], second[i]) > static_cast<std::uint64_t>(limit)) return false;
    }
    return true;
}

} // namespace

SpaceMouseAxes CapRest::corrected(const SpaceMouseAxes& sample, double time) {
    if (sample.isZero()) {
        rest_ = SpaceMouseAxes::zero;
        stillSince_.reset();
        return SpaceMouseAxes::zero;
    }

    if (!stillSince_) {
        still_ = sample;
        stillSince_ = time;
    } else if (within(sample, still_, wobble)) {
        // Still: the period keeps running from its start, and the rest learned is the sample
        // at which it began.
        if (time - *stillSince_ >= settle && within(sample, SpaceMouseAxes::zero, reach)) {
            rest_ = still_;
        }
    } else {
        still_ = sample;
        stillSince_ = time;
    }

    const auto values = sample.all();
    const auto offsets = rest_.all();
    std::array<std::int64_t, 6> result{};
    for (std::size_t i = 0; i < values.size(); ++i) {
        if (offsets[i] == 0) {
            result[i] = values[i];
        } else {
            // Device counts are 16-bit, but a sample at the edge of the range must not overflow.
            std::int64_t difference = 0;
            if (__builtin_sub_overflow(values[i], offsets[i], &difference)) {
                difference = offsets[i] > 0 ? INT64_MIN : INT64_MAX;
            }
            result[i] = distance(values[i], offsets[i]) <= static_cast<std::uint64_t>(wobble)
                            ? 0
                            : difference;
        }
    }
    return {result[0], result[1], result[2], result[3], result[4], result[5]};
}

} // namespace smk
