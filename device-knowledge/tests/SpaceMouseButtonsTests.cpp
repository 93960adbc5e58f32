#include "SpaceMouseKit/SpaceMouseButtons.h"
#include "SpaceMouseKit/Text.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

namespace smk {
namespace {

using B = SpaceMouseButtons;

// Button bits travel over the wire: allCases lists the named buttons in bit order, and a few
// rows pin bit and display text.
TEST(SpaceMouseButtons, namedButtonsHaveTheirBitAndDisplayText) {
    ASSERT_EQ(B::allCases().size(), 47u);
    for (std::size_t bit = 0; bit < B::allCases().size(); ++bit)
        EXPECT_EQ(B::allCases()[bit].each(), std::vector<B>{B(1ull << bit)});
    const std::tuple<int, B, const char*> rows[] = {
        {0, B::left, "1 (left)"},  {6, B::menu, "MENU"},    {16, B::rotationLock, "Rotation lock"},
        {24, B::key12, "12"},      {31, B::enter, "ENTER"}, {39, B::minus, "\xE2\x88\x92"},
        {42, B::config, "CONFIG"}, {46, B::star, "*"},
    };
    for (const auto& [bit, button, display] : rows) {
        EXPECT_EQ(button.rawValue, 1ull << bit);
        EXPECT_EQ(button.name(), display);
    }
    // The first protocol's 32 bits end with ENTER.
    EXPECT_TRUE(B::protocol1.contains(B::enter));
    EXPECT_FALSE(B::protocol1.contains(B::delete_));
}

TEST(SpaceMouseButtons, setOperations) {
    B set{B::left, B::menu};
    EXPECT_FALSE(set.contains(B{B::menu, B::fit})); // every member must be there
    set.insert(B::fit);
    set.remove(B::left);
    EXPECT_EQ(set - B::menu, B::fit);
    EXPECT_TRUE(B::fit.isSubset(set) && !set.isSubset(B::fit));
    EXPECT_TRUE(set.isDisjoint(B::left) && !set.isDisjoint(B::menu));
}

TEST(SpaceMouseButtons, nameJoinsDisplayTextsInBitOrderAndSkipsUnnamedBits) {
    EXPECT_EQ((B{B::key1, B::left}).name(), "1 (left) + 1");
    EXPECT_EQ((B{B::star, B::plus, B::minus}).name(), "+ + \xE2\x88\x92 + *");
    EXPECT_EQ(B().name(), "");
    EXPECT_EQ(B(1ull << 50).name(), "");
    const B mixed(B::right.rawValue | (1ull << 47) | (1ull << 63));
    EXPECT_EQ(mixed.each(), std::vector<B>{B::right});
    EXPECT_EQ(mixed.name(), "2 (right)");
}

TEST(SpaceMouseButtons, twoButtonsChoosesThePairAndMapsItOntoLeftAndRight) {
    EXPECT_EQ(B::twoButtons(B{B::menu, B::fit, B::key1}), (B::TwoButtons{B::menu, B::fit}));
    EXPECT_EQ(B::twoButtons(B::key3), (B::TwoButtons{B::key1, B::key2}));
    EXPECT_EQ(B::twoButtons(B{B::left, B::menu}), (B::TwoButtons{B::left, B::right}));
    const B::TwoButtons pair{B::menu, B::fit};
    EXPECT_EQ(B::fit.asTwoButtons(pair), B::right);
    EXPECT_EQ((B{B::menu, B::fit}).asTwoButtons(pair), (B{B::left, B::right}));
    EXPECT_EQ((B{B::left, B::escape}).asTwoButtons(pair), B());
    // A side of the pair counts only when all its bits are held.
    const B::TwoButtons wide{B{B::key1, B::key2}, B::key3};
    EXPECT_EQ(B::key1.asTwoButtons(wide), B());
    EXPECT_EQ((B{B::key1, B::key2}).asTwoButtons(wide), B::left);
}

TEST(SpaceMouseButtonsJSON, isTheBareUnsignedNumber) {
    EXPECT_EQ(nlohmann::json(B{B::left, B::menu}).dump(), "65");
    EXPECT_EQ(nlohmann::json::parse("2").get<B>(), B::right);
    EXPECT_EQ(nlohmann::json::parse("18446744073709551615").get<B>().rawValue, ~0ull);
    EXPECT_EQ(nlohmann::json(B(~0ull)).dump(), "18446744073709551615");
    for (const char* text : {"-1", "1.5", "\"2\"", "null", "[2]", "true"})
        EXPECT_THROW(nlohmann::json::parse(text).get<B>(), std::exception) << text;
}

TEST(Text, nonEmptyAndHex) {
    EXPECT_EQ(nonEmpty(""), std::nullopt);
    EXPECT_EQ(nonEmpty(" "), std::optional<std::string>(" "));
    const std::vector<std::uint8_t> bytes{0x00, 0xAB, 0x0F};
    EXPECT_EQ(hex(bytes), "00 ab 0f");
    EXPECT_EQ(hex(bytes, ""), "00ab0f");
    EXPECT_EQ(hex(std::vector<std::uint8_t>{}), "");
    const std::byte raw[] = {std::byte{0xFF}, std::byte{0x01}};
    EXPECT_EQ(hex(std::span<const std::byte>(raw), ":"), "ff:01");
}

} // namespace
} // namespace smk
