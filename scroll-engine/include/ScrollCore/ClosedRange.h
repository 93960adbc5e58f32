#pragma once

namespace scroll {

// A closed interval lower...upper.
template <class T> struct ClosedRange {
    T lower;
    T upper;

    constexpr bool contains(const T& value) const { return lower <= value && value <= upper; }
    friend constexpr bool operator==(const ClosedRange&, const ClosedRange&) = default;
};

// The value limited to the range: the larger of value and lower bound, then the smaller of that
// and the upper bound.
template <class T> constexpr T clamped(const T& value, const ClosedRange<T>& range) {
    const T& atLeast = value < range.lower ? range.lower : value;
    return range.upper < atLeast ? range.upper : atLeast;
}

} // namespace scroll
