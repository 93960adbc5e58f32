#pragma once

#include "ScrollCore/CaseText.h"

#include <QString>
#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string_view>

namespace vantor {

// The five tabs of the main window, in the order they appear.
class MainTab {
public:
    enum Value : std::uint8_t { defaults, movements, directions, apps, settings };
    static constexpr std::array<std::string_view, 5> rawValues{"defaults", "movements",
                                                               "directions", "apps", "settings"};

    constexpr MainTab(Value value)
        : value_(value) {}
    constexpr operator Value() const { return value_; }
    constexpr std::string_view rawValue() const { return rawValues[value_]; }
    // Exactly one of the raw values (case-sensitive); no tab for any other text.
    static constexpr std::optional<MainTab> fromRawValue(std::string_view raw) {
        return scroll::detail::caseNamed<MainTab>(raw, rawValues);
    }
    static constexpr std::array<MainTab, 5> allCases() {
        return scroll::detail::allCasesOf<MainTab, 5>();
    }

    // "Defaults", "Movements", "Directions", "Apps", "Settings", translated.
    QString title() const;

private:
    Value value_;
};

} // namespace vantor

template <> struct std::hash<vantor::MainTab> {
    std::size_t operator()(vantor::MainTab tab) const noexcept {
        return std::hash<std::string_view>{}(tab.rawValue());
    }
};
