#pragma once

#include <array>
#include <cstddef>
#include <cstdlib>
#include <initializer_list>

namespace scroll {

// A list of at most N values held inline. The per-tick results (scroll and gesture steps) are
// one or two entries long; keeping them in place lets a tick run without touching the heap.
template <class T, std::size_t N> class SmallList {
public:
    using value_type = T;
    using iterator = const T*;
    using const_iterator = const T*;
    using size_type = std::size_t;

    constexpr SmallList() = default;
    constexpr SmallList(std::initializer_list<T> values) {
        for (const T& value : values)
            push_back(value);
    }

    constexpr void push_back(const T& value) {
        // More entries than the capacity is a programming error of this library.
        if (count_ == N) std::abort();
        items_[count_++] = value;
    }

    constexpr std::size_t size() const { return count_; }
    constexpr bool empty() const { return count_ == 0; }
    constexpr const T& operator[](std::size_t index) const {
        if (index >= count_) std::abort();
        return items_[index];
    }
    constexpr const T& back() const { return (*this)[count_ - 1]; }
    constexpr const T* begin() const { return items_.data(); }
    constexpr const T* end() const { return items_.data() + count_; }

    friend constexpr bool operator==(const SmallList& a, const SmallList& b) {
        if (a.count_ != b.count_) return false;
        for (std::size_t i = 0; i < a.count_; ++i) {
            if (!(a.items_[i] == b.items_[i])) return false;
        }
        return true;
    }

private:
    std::array<T, N> items_{};
    std::size_t count_ = 0;
};

} // namespace scroll
