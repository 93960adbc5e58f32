#pragma once

#include "ScrollCore/CaseText.h"
#include "ScrollCore/EnumSet.h"

#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace scroll {

// Which axes drive which role (horizontal, vertical, zoom, rotate), each axis possibly negated,
// and which roles are inverted. Also the vocabulary of the six cap movements that the settings
// window offers, and the stored text of a role's axes ("x,-ry", "none").
class AxisMapping {
public:
    // The six axes of a sample, in sample order.
    class Axis {
    public:
        enum Value : std::uint8_t { x, y, z, rx, ry, rz };
        static constexpr std::array<std::string_view, 6> rawValues{"x", "y", "z", "rx", "ry", "rz"};

        constexpr Axis(Value value)
            : value_(value) {}
        constexpr operator Value() const { return value_; }
        // Position in the sample (x 0 ... rz 5).
        constexpr std::size_t index() const { return value_; }
        constexpr std::string_view rawValue() const { return rawValues[value_]; }
        static constexpr std::optional<Axis> fromRawValue(std::string_view raw) {
            return detail::caseNamed<Axis>(raw, rawValues);
        }
        static constexpr std::array<Axis, 6> allCases() { return detail::allCasesOf<Axis, 6>(); }

    private:
        Value value_;
    };

    // What a tick can be asked to do; this order is the role order used everywhere.
    class Role {
    public:
        enum Value : std::uint8_t { horizontal, vertical, zoom, rotate };
        static constexpr std::array<std::string_view, 4> rawValues{"horizontal", "vertical", "zoom",
                                                                   "rotate"};

        constexpr Role(Value value)
            : value_(value) {}
        constexpr operator Value() const { return value_; }
        constexpr std::string_view rawValue() const { return rawValues[value_]; }
        static constexpr std::optional<Role> fromRawValue(std::string_view raw) {
            return detail::caseNamed<Role>(raw, rawValues);
        }
        static constexpr std::array<Role, 4> allCases() { return detail::allCasesOf<Role, 4>(); }

    private:
        Value value_;
    };

    // One axis feeding a role, possibly negated. Text form "x" or "-ry".
    struct Term {
        Axis axis;
        bool negated = false;

        constexpr Term(Axis axis, bool negated = false)
            : axis(axis)
            , negated(negated) {}
        // From a text form that is known to be valid (the built-in tables); an invalid text is a
        // programming error and stops the program.
        explicit Term(std::string_view literal);

        // Blanks around the text are ignored, letters may be upper case; nothing may follow the
        // "-" but the axis ("- x" is invalid).
        static std::optional<Term> parse(std::string_view text);
        std::string text() const;

        friend constexpr bool operator==(const Term&, const Term&) = default;
    };

    // The six cap movements as the user names them, in the order the settings window lists them.
    class Movement {
    public:
        enum Value : std::uint8_t {
            slideSideways,
            tiltSideways,
            slideForwardBack,
            tiltForwardBack,
            twist,
            push
        };
        static constexpr std::array<std::string_view, 6> rawValues{
            "slideSideways",   "tiltSideways", "slideForwardBack",
            "tiltForwardBack", "twist",        "push"};

        constexpr Movement(Value value)
            : value_(value) {}
        constexpr operator Value() const { return value_; }
        constexpr std::string_view rawValue() const { return rawValues[value_]; }
        static constexpr std::optional<Movement> fromRawValue(std::string_view raw) {
            return detail::caseNamed<Movement>(raw, rawValues);
        }
        static constexpr std::array<Movement, 6> allCases() {
            return detail::allCasesOf<Movement, 6>();
        }

        // The axis this movement moves.
        Axis axis() const;
        // The term the movement contributes when assigned to a role. Zoom takes the forward/back
        // movements negated, so that moving the cap away from the user zooms in.
        Term term(Role role) const;

    private:
        Value value_;
    };

    using RoleSet = EnumSet<Role, 4>;
    using Terms = std::vector<Term>;

    // Terms per role. A role that is absent differs from one mapped to an empty list.
    std::map<Role, Terms> axes;
    RoleSet invertedRoles;

    // The default mapping: horizontal [x, -ry], vertical [y, rx], zoom [z], rotate [rz].
    AxisMapping();
    AxisMapping(std::map<Role, Terms> axes, RoleSet invertedRoles);

    // The role's terms, empty when the role is absent.
    const Terms& operator[](Role role) const;
    void setTerms(Role role, Terms terms);

    // The first role, in role order, that uses the movement's axis with either sign.
    std::optional<Role> role(Movement movement) const;
    // Makes the movement drive `role` alone (or nothing when absent); every role is present
    // afterwards.
    void assign(Movement movement, std::optional<Role> role);
    void setInverted(bool inverted, Role role);

    // "x,-ry"; "none" for a role without terms.
    std::string text(Role role) const;
    // The terms of a stored text; absent when the text is not valid (the caller keeps what it
    // had). "none" gives the empty list.
    static std::optional<Terms> axesFrom(std::string_view text);

    friend bool operator==(const AxisMapping&, const AxisMapping&) = default;
};

} // namespace scroll
