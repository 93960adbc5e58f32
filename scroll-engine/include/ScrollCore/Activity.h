#pragma once

#include "ScrollCore/AxisMapping.h"
#include "ScrollCore/CaseText.h"
#include "ScrollCore/EnumSet.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>

namespace scroll {

// What a tick may drive. Sets of activities are stored in the settings ("zoom,rotate").
class Activity {
public:
    enum Value : std::uint8_t { scroll, zoom, rotate };
    static constexpr std::array<std::string_view, 3> rawValues{"scroll", "zoom", "rotate"};

    constexpr Activity(Value value)
        : value_(value) {}
    constexpr operator Value() const { return value_; }
    constexpr std::string_view rawValue() const { return rawValues[value_]; }
    static constexpr std::optional<Activity> fromRawValue(std::string_view raw) {
        return detail::caseNamed<Activity>(raw, rawValues);
    }
    static constexpr std::array<Activity, 3> allCases() {
        return detail::allCasesOf<Activity, 3>();
    }

private:
    Value value_;
};

using ActivitySet = EnumSet<Activity, 3>;

// The two trackpad-style gestures.
class GestureKind {
public:
    enum Value : std::uint8_t { zoom, rotate };

    constexpr GestureKind(Value value)
        : value_(value) {}
    constexpr operator Value() const { return value_; }
    static constexpr std::array<GestureKind, 2> allCases() {
        return detail::allCasesOf<GestureKind, 2>();
    }

    constexpr AxisMapping::Role role() const {
        return value_ == zoom ? AxisMapping::Role::zoom : AxisMapping::Role::rotate;
    }
    constexpr Activity activity() const {
        return value_ == zoom ? Activity::zoom : Activity::rotate;
    }

private:
    Value value_;
};

using GestureKindSet = EnumSet<GestureKind, 2>;

} // namespace scroll
