#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <nlohmann/json_fwd.hpp>
#include <optional>
#include <string>
#include <string_view>

namespace smk {

// One six-axis sample of the cap, in raw device counts (the devices send signed 16-bit values).
struct SpaceMouseAxes {
    // The twelve one-axis motions a user can be asked to make. A thin wrapper over an
    // enumeration so that each direction carries its axis, its text and its instruction;
    // it converts to `Value`, so it works in switch statements and comparisons.
    class Direction {
    public:
        enum Value : std::uint8_t {
            slideRight,
            slideLeft,
            slideForward,
            slideBack,
            push,
            pull,
            tiltForward,
            tiltBack,
            tiltRight,
            tiltLeft,
            twistRight,
            twistLeft,
        };

        // Which field of the sample a direction reads (0 = x ... 5 = rz) and with which sign.
        struct Axis {
            int index;
            int sign;
            bool operator==(const Axis&) const = default;
        };

        constexpr Direction() = default;
        constexpr Direction(Value value)
            : value_(value) {}
        constexpr operator Value() const { return value_; }

        // The case name ("slideRight", ...); exact spelling, absent for any other text.
        static std::optional<Direction> fromRawValue(std::string_view raw);
        std::string_view rawValue() const;
        // All twelve in declaration order, the order of every search.
        static const std::array<Direction, 12>& allCases();
        Axis axis() const;
        std::string_view instruction() const;

    private:
        Value value_ = slideRight;
    };

    std::int64_t x = 0;  // slide right (+) / left (-)
    std::int64_t y = 0;  // slide back (+) / forward (-)
    std::int64_t z = 0;  // push down (+) / pull up (-)
    std::int64_t rx = 0; // tilt back (+) / forward (-)
    std::int64_t ry = 0; // tilt left (+) / right (-)
    std::int64_t rz = 0; // twist clockwise (+) / counter-clockwise (-)

    static const SpaceMouseAxes zero;
    // The count that means full deflection when nothing more specific is known.
    static constexpr std::int64_t deviceFullScale = 350;
    static constexpr std::array<std::string_view, 6> axisNames{"x", "y", "z", "rx", "ry", "rz"};

    bool operator==(const SpaceMouseAxes&) const = default;

    bool isZero() const { return x == 0 && y == 0 && z == 0 && rx == 0 && ry == 0 && rz == 0; }
    std::array<std::int64_t, 6> all() const { return {x, y, z, rx, ry, rz}; }
    // "x 12 y -3 z 0 rx 0 ry 0 rz 7"
    std::string description() const;
    // The deflection towards `direction`, 0 when the cap is moved the other way.
    std::int64_t along(Direction direction) const;
    // along(direction) / max(fullScale, 1), capped at 1; never negative.
    double fraction(Direction direction, std::int64_t fullScale) const;
    // The direction with the largest positive deflection; the earlier one on a tie.
    std::optional<Direction> strongest() const;
};

inline constexpr SpaceMouseAxes SpaceMouseAxes::zero{};

// JSON: {"x":..,"y":..,"z":..,"rx":..,"ry":..,"rz":..}; reading needs all six integer members.
void to_json(nlohmann::json& json, const SpaceMouseAxes& axes);
void from_json(const nlohmann::json& json, SpaceMouseAxes& axes);

// JSON of a direction: its raw text. Reading an unknown text throws.
void to_json(nlohmann::json& json, const SpaceMouseAxes::Direction& direction);
void from_json(const nlohmann::json& json, SpaceMouseAxes::Direction& direction);

} // namespace smk

template <> struct std::hash<smk::SpaceMouseAxes::Direction> {
    std::size_t operator()(smk::SpaceMouseAxes::Direction direction) const noexcept {
        return static_cast<std::size_t>(direction);
    }
};
