#pragma once

#include <array>
#include <cstdint>
#include <initializer_list>
#include <nlohmann/json_fwd.hpp>
#include <string>
#include <vector>

namespace smk {

// A set of named buttons over 64 bits. The bit numbers travel over the wire between the broker
// and its clients and must never change. Bits 47 to 63 have no name: a set may carry them, but
// they are never listed or named.
struct SpaceMouseButtons {
    std::uint64_t rawValue = 0;

    constexpr SpaceMouseButtons() = default;
    constexpr explicit SpaceMouseButtons(std::uint64_t raw)
        : rawValue(raw) {}
    // A list of buttons means their union: SpaceMouseButtons{SpaceMouseButtons::left, ...}.
    constexpr SpaceMouseButtons(std::initializer_list<SpaceMouseButtons> members) {
        for (auto member : members)
            rawValue |= member.rawValue;
    }

    static const SpaceMouseButtons left;            // bit 0
    static const SpaceMouseButtons right;           // bit 1
    static const SpaceMouseButtons key1;            // bit 2
    static const SpaceMouseButtons key2;            // bit 3
    static const SpaceMouseButtons key3;            // bit 4
    static const SpaceMouseButtons key4;            // bit 5
    static const SpaceMouseButtons menu;            // bit 6
    static const SpaceMouseButtons fit;             // bit 7
    static const SpaceMouseButtons viewTop;         // bit 8
    static const SpaceMouseButtons viewRight;       // bit 9
    static const SpaceMouseButtons viewFront;       // bit 10
    static const SpaceMouseButtons viewRoll;        // bit 11
    static const SpaceMouseButtons escape;          // bit 12
    static const SpaceMouseButtons shift;           // bit 13
    static const SpaceMouseButtons control;         // bit 14
    static const SpaceMouseButtons alt;             // bit 15
    static const SpaceMouseButtons rotationLock;    // bit 16
    static const SpaceMouseButtons key5;            // bit 17
    static const SpaceMouseButtons key6;            // bit 18
    static const SpaceMouseButtons key7;            // bit 19
    static const SpaceMouseButtons key8;            // bit 20
    static const SpaceMouseButtons key9;            // bit 21
    static const SpaceMouseButtons key10;           // bit 22
    static const SpaceMouseButtons key11;           // bit 23
    static const SpaceMouseButtons key12;           // bit 24
    static const SpaceMouseButtons viewLeft;        // bit 25
    static const SpaceMouseButtons viewBottom;      // bit 26
    static const SpaceMouseButtons viewBack;        // bit 27
    static const SpaceMouseButtons viewRollReverse; // bit 28
    static const SpaceMouseButtons viewIso1;        // bit 29
    static const SpaceMouseButtons viewIso2;        // bit 30
    static const SpaceMouseButtons enter;           // bit 31
    static const SpaceMouseButtons delete_;         // bit 32 ("delete" is a C++ keyword)
    static const SpaceMouseButtons tab;             // bit 33
    static const SpaceMouseButtons space;           // bit 34
    static const SpaceMouseButtons view1;           // bit 35
    static const SpaceMouseButtons view2;           // bit 36
    static const SpaceMouseButtons view3;           // bit 37
    static const SpaceMouseButtons plus;            // bit 38
    static const SpaceMouseButtons minus;           // bit 39
    static const SpaceMouseButtons dominant;        // bit 40
    static const SpaceMouseButtons panZoom;         // bit 41
    static const SpaceMouseButtons config;          // bit 42
    static const SpaceMouseButtons keyA;            // bit 43
    static const SpaceMouseButtons keyB;            // bit 44
    static const SpaceMouseButtons keyC;            // bit 45
    static const SpaceMouseButtons star;            // bit 46

    static constexpr int namedCount = 47;
    // Bits 0 to 31: what a client speaking protocol version 1 may receive.
    static const SpaceMouseButtons protocol1;

    // The 47 one-bit sets in bit order 0 to 46.
    static const std::array<SpaceMouseButtons, namedCount>& allCases();

    // The two buttons that act as the standard left and right buttons of a device.
    struct TwoButtons;

    bool operator==(const SpaceMouseButtons&) const = default;

    constexpr bool isEmpty() const { return rawValue == 0; }
    // True when every bit of `member` is in the set.
    constexpr bool contains(SpaceMouseButtons member) const {
        return (rawValue & member.rawValue) == member.rawValue;
    }
    constexpr bool isSubset(SpaceMouseButtons of) const { return of.contains(*this); }
    constexpr bool isDisjoint(SpaceMouseButtons with) const {
        return (rawValue & with.rawValue) == 0;
    }
    constexpr void insert(SpaceMouseButtons member) { rawValue |= member.rawValue; }
    constexpr void remove(SpaceMouseButtons member) { rawValue &= ~member.rawValue; }
    constexpr SpaceMouseButtons subtracting(SpaceMouseButtons other) const {
        return SpaceMouseButtons(rawValue & ~other.rawValue);
    }

    friend constexpr SpaceMouseButtons operator|(SpaceMouseButtons a, SpaceMouseButtons b) {
        return SpaceMouseButtons(a.rawValue | b.rawValue);
    }
    friend constexpr SpaceMouseButtons operator&(SpaceMouseButtons a, SpaceMouseButtons b) {
        return SpaceMouseButtons(a.rawValue & b.rawValue);
    }
    friend constexpr SpaceMouseButtons operator^(SpaceMouseButtons a, SpaceMouseButtons b) {
        return SpaceMouseButtons(a.rawValue ^ b.rawValue);
    }
    // Difference: the members of a that are not in b.
    friend constexpr SpaceMouseButtons operator-(SpaceMouseButtons a, SpaceMouseButtons b) {
        return a.subtracting(b);
    }
    constexpr SpaceMouseButtons& operator|=(SpaceMouseButtons b) { return *this = *this | b; }
    constexpr SpaceMouseButtons& operator&=(SpaceMouseButtons b) { return *this = *this & b; }
    constexpr SpaceMouseButtons& operator-=(SpaceMouseButtons b) { return *this = *this - b; }

    // The named members in bit order; unnamed bits 47 to 63 are skipped.
    std::vector<SpaceMouseButtons> each() const;
    // The display texts of `each()` joined by " + "; "" for the empty set.
    std::string name() const;

    // (left, right) when `buttons` has `left`; else (menu, fit) when it has `menu`;
    // else (key1, key2).
    static TwoButtons twoButtons(SpaceMouseButtons of);
    // Maps the set onto the standard pair: `left` when it holds all of pair.left, `right` when it
    // holds all of pair.right.
    SpaceMouseButtons asTwoButtons(TwoButtons pair) const;
};

struct SpaceMouseButtons::TwoButtons {
    SpaceMouseButtons left;
    SpaceMouseButtons right;
    bool operator==(const TwoButtons&) const = default;
};

inline constexpr SpaceMouseButtons SpaceMouseButtons::left{1ull << 0};
inline constexpr SpaceMouseButtons SpaceMouseButtons::right{1ull << 1};
inline constexpr SpaceMouseButtons SpaceMouseButtons::key1{1ull << 2};
inline constexpr SpaceMouseButtons SpaceMouseButtons::key2{1ull << 3};
inline constexpr SpaceMouseButtons SpaceMouseButtons::key3{1ull << 4};
inline constexpr SpaceMouseButtons SpaceMouseButtons::key4{1ull << 5};
inline constexpr SpaceMouseButtons SpaceMouseButtons::menu{1ull << 6};
inline constexpr SpaceMouseButtons SpaceMouseButtons::fit{1ull << 7};
inline constexpr SpaceMouseButtons SpaceMouseButtons::viewTop{1ull << 8};
inline constexpr SpaceMouseButtons SpaceMouseButtons::viewRight{1ull << 9};
inline constexpr SpaceMouseButtons SpaceMouseButtons::viewFront{1ull << 10};
inline constexpr SpaceMouseButtons SpaceMouseButtons::viewRoll{1ull << 11};
inline constexpr SpaceMouseButtons SpaceMouseButtons::escape{1ull << 12};
inline constexpr SpaceMouseButtons SpaceMouseButtons::shift{1ull << 13};
inline constexpr SpaceMouseButtons SpaceMouseButtons::control{1ull << 14};
inline constexpr SpaceMouseButtons SpaceMouseButtons::alt{1ull << 15};
inline constexpr SpaceMouseButtons SpaceMouseButtons::rotationLock{1ull << 16};
inline constexpr SpaceMouseButtons SpaceMouseButtons::key5{1ull << 17};
inline constexpr SpaceMouseButtons SpaceMouseButtons::key6{1ull << 18};
inline constexpr SpaceMouseButtons SpaceMouseButtons::key7{1ull << 19};
inline constexpr SpaceMouseButtons SpaceMouseButtons::key8{1ull << 20};
inline constexpr SpaceMouseButtons SpaceMouseButtons::key9{1ull << 21};
inline constexpr SpaceMouseButtons SpaceMouseButtons::key10{1ull << 22};
inline constexpr SpaceMouseButtons SpaceMouseButtons::key11{1ull << 23};
inline constexpr SpaceMouseButtons SpaceMouseButtons::key12{1ull << 24};
inline constexpr SpaceMouseButtons SpaceMouseButtons::viewLeft{1ull << 25};
inline constexpr SpaceMouseButtons SpaceMouseButtons::viewBottom{1ull << 26};
inline constexpr SpaceMouseButtons SpaceMouseButtons::viewBack{1ull << 27};
inline constexpr SpaceMouseButtons SpaceMouseButtons::viewRollReverse{1ull << 28};
inline constexpr SpaceMouseButtons SpaceMouseButtons::viewIso1{1ull << 29};
inline constexpr SpaceMouseButtons SpaceMouseButtons::viewIso2{1ull << 30};
inline constexpr SpaceMouseButtons SpaceMouseButtons::enter{1ull << 31};
inline constexpr SpaceMouseButtons SpaceMouseButtons::delete_{1ull << 32};
inline constexpr SpaceMouseButtons SpaceMouseButtons::tab{1ull << 33};
inline constexpr SpaceMouseButtons SpaceMouseButtons::space{1ull << 34};
inline constexpr SpaceMouseButtons SpaceMouseButtons::view1{1ull << 35};
inline constexpr SpaceMouseButtons SpaceMouseButtons::view2{1ull << 36};
inline constexpr SpaceMouseButtons SpaceMouseButtons::view3{1ull << 37};
inline constexpr SpaceMouseButtons SpaceMouseButtons::plus{1ull << 38};
inline constexpr SpaceMouseButtons SpaceMouseButtons::minus{1ull << 39};
inline constexpr SpaceMouseButtons SpaceMouseButtons::dominant{1ull << 40};
inline constexpr SpaceMouseButtons SpaceMouseButtons::panZoom{1ull << 41};
inline constexpr SpaceMouseButtons SpaceMouseButtons::config{1ull << 42};
inline constexpr SpaceMouseButtons SpaceMouseButtons::keyA{1ull << 43};
inline constexpr SpaceMouseButtons SpaceMouseButtons::keyB{1ull << 44};
inline constexpr SpaceMouseButtons SpaceMouseButtons::keyC{1ull << 45};
inline constexpr SpaceMouseButtons SpaceMouseButtons::star{1ull << 46};
inline constexpr SpaceMouseButtons SpaceMouseButtons::protocol1{0xFFFFFFFFull};

// JSON: the bare unsigned number `rawValue`. Reading anything else throws.
void to_json(nlohmann::json& json, const SpaceMouseButtons& buttons);
void from_json(const nlohmann::json& json, SpaceMouseButtons& buttons);

} // namespace smk
