#include "SpaceMouseKit/SpaceMouseButtons.h"

#include <nlohmann/json.hpp>
#include <stdexcept>
#include <string_view>

namespace smk {

namespace {

// Display texts, indexed by bit.
constexpr std::array<std::string_view, SpaceMouseButtons::namedCount> displayNames{
    "1 (left)",
    "2 (right)",
    "1",
    "2",
    "3",
    "4",
    "MENU",
    "FIT",
    "T",
    "R",
    "F",
    "Roll",
    "ESC",
    "SHIFT",
    "CTRL",
    "ALT",
    "Rotation lock",
    "5",
    "6",
    "7",
    "8",
    "9",
    "10",
    "11",
    "12",
    "L",
    "B",
    "BK",
    "Roll back",
    "ISO1",
    "ISO2",
    "ENTER",
    "DEL",
    "TAB",
    "SPACE",
    "V1",
    "V2",
    "V3",
    "+",
    "\u2212", // the minus sign, not the hyphen
    "DOMINANT",
    "PAN/ZOOM",
    "CONFIG",
    "A",
    "B",
    "C",
    "*",
};

int bitIndex(SpaceMouseButtons single) {
    for (int bit = 0; bit < 64; ++bit) {
        if (single.rawValue == (1ull << bit)) return bit;
    }
    return -1;
}

} // namespace

const std::array<SpaceMouseButtons, SpaceMouseButtons::namedCount>& SpaceMouseButtons::allCases() {
    static const auto cases = [] {
        std::array<SpaceMouseButtons, namedCount> all{};
        for (int bit = 0; bit < namedCount; ++bit)
            all[bit] = SpaceMouseButtons(1ull << bit);
        return all;
    }();
    return cases;
}

std::vector<SpaceMouseButtons> SpaceMouseButtons::each() const {
    std::vector<SpaceMouseButtons> members;
    for (auto button : allCases()) {
        if (contains(button)) members.push_back(button);
    }
    return members;
}

std::string SpaceMouseButtons::name() const {
    std::string text;
    for (auto button : each()) {
        if (!text.empty()) text += " + ";
        const int bit = bitIndex(button);
        text += bit >= 0 && bit < namedCount ? displayNames[bit] : std::string_view("?");
    }
    return text;
}

SpaceMouseButtons::TwoButtons SpaceMouseButtons::twoButtons(SpaceMouseButtons of) {
    if (of.contains(left)) return {left, right};
    if (of.contains(menu)) return {menu, fit};
    return {key1, key2};
}

SpaceMouseButtons SpaceMouseButtons::asTwoButtons(TwoButtons pair) const {
    SpaceMouseButtons result;
    if (contains(pair.left)) result.insert(left);
    if (contains(pair.right)) result.insert(right);
    return result;
}

void to_json(nlohmann::json& json, const SpaceMouseButtons& buttons) {
    json = buttons.rawValue;
}

void from_json(const nlohmann::json& json, SpaceMouseButtons& buttons) {
    if (json.is_number_unsigned()) {
        buttons = SpaceMouseButtons(json.get<std::uint64_t>());
    } else if (json.is_number_integer() && json.get<std::int64_t>() >= 0) {
        buttons = SpaceMouseButtons(static_cast<std::uint64_t>(json.get<std::int64_t>()));
    } else {
        throw std::invalid_argument("buttons: not an unsigned integer");
    }
}

} // namespace smk
