#pragma once

#include <array>
#include <cstddef>
#include <optional>
#include <string_view>
#include <utility>

namespace scroll::detail {

// The case whose text is exactly `raw` (case-sensitive, no trimming), for the enumerations whose
// stored texts are their case names.
template <class E, std::size_t N>
constexpr std::optional<E> caseNamed(std::string_view raw,
                                     const std::array<std::string_view, N>& texts) {
    for (std::size_t i = 0; i < N; ++i) {
        if (texts[i] == raw) return E(static_cast<typename E::Value>(i));
    }
    return std::nullopt;
}

template <class E, std::size_t... I>
constexpr std::array<E, sizeof...(I)> casesOf(std::index_sequence<I...>) {
    return {E(static_cast<typename E::Value>(I))...};
}

// Every case of E in declaration order.
template <class E, std::size_t N> constexpr std::array<E, N> allCasesOf() {
    return casesOf<E>(std::make_index_sequence<N>{});
}

} // namespace scroll::detail
