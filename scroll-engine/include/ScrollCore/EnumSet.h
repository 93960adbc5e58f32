#pragma once

#include <bit>
#include <cstdint>
#include <initializer_list>

namespace scroll {

// A set of the cases of a small enumeration (up to 32 cases), one bit per case. E converts to
// an integer case number 0..N-1 (the enumerations of this library all do).
template <class E, unsigned N> class EnumSet {
    static_assert(N <= 32);

public:
    constexpr EnumSet() = default;
    constexpr EnumSet(std::initializer_list<E> members) {
        for (E member : members)
            insert(member);
    }

    constexpr bool contains(E member) const { return (bits_ & bit(member)) != 0; }
    constexpr void insert(E member) { bits_ |= bit(member); }
    constexpr void erase(E member) { bits_ &= ~bit(member); }
    constexpr void clear() { bits_ = 0; }
    constexpr bool empty() const { return bits_ == 0; }
    constexpr int size() const { return std::popcount(bits_); }
    constexpr std::uint32_t bits() const { return bits_; }

    friend constexpr bool operator==(EnumSet, EnumSet) = default;

private:
    static constexpr std::uint32_t bit(E member) {
        return std::uint32_t{1} << static_cast<unsigned>(member);
    }
    std::uint32_t bits_ = 0;
};

} // namespace scroll
