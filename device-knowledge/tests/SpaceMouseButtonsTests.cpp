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
    for (std::size_t bit = 0; bit < B::allCases().size(); ++bit) {
        EXPECT_EQ(B::allCases()[bit].rawValue, 1ull << bit);
        EXPECT_EQ(B::allCases()[bit].each().size(), 1u);
    }
    struct Row {
        int bit;
        B button;
        const char* display;
    };
    const Row rows[] = {
        {0, B::left, "1 (left)"},  {6, B::menu, "MENU"},    {16, B::rotationLock, "Rotation lock"},
        {24, B::key12, "12"},      {31, B::enter, "ENTER"}, {39, B::minus, "\xE2\x88\x92"},
        {42, B::config, "CONFIG"}, {46, B::star, "*"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.bit);
        EXPECT_EQ(row.button.rawValue, 1ull << row.bit);
        EXPECT_EQ(row.button.name(), row.display);
    }
}

TEST(SpaceMouseButtons, protocolOneCoversBitsZeroToThirtyOne) {
    EXPECT_EQ(B::protocol1.rawValue, 0xFFFFFFFFull);
    EXPECT_TRUE(B::protocol1.contains(B::enter));
    EXPECT_FALSE(B::protocol1.contains(B::delete_));
}

TEST(SpaceMouseButtons, setOperationsWorkBitwise) {
    B set{B::left, B::menu};
    EXPECT_EQ(set.rawValue, 65u);
    EXPECT_TRUE(set.contains(B::menu));
    EXPECT_FALSE(set.contains(B{B::menu, B::fit}));
    set.insert(B::fit);
    set.remove(B::left);
    EXPECT_EQ(set, (B{B::menu, B::fit}));
    EXPECT_EQ(set - B::menu, B::fit);
    EXPECT_EQ((set & B{B::fit, B::star}), B::fit);
    EXPECT_EQ((set | B::star).rawValue, (1ull << 6) | (1ull << 7) | (1ull << 46));
    EXPECT_TRUE(B::fit.isSubset(set));
    EXPECT_FALSE(set.isSubset(B::fit));
    EXPECT_TRUE(set.isDisjoint(B::left));
    EXPECT_FALSE(set.isDisjoint(B::menu));
    EXPECT_TRUE(B().isEmpty());
    EXPECT_FALSE(set.isEmpty());
}

TEST(SpaceMouseButtons, nameJoinsDisplayTextsInBitOrder) {
    EXPECT_EQ((B{B::key1, B::left}).name(), "1 (left) + 1");
    EXPECT_EQ((B{B::star, B::plus, B::minus}).name(), "+ + \xE2\x88\x92 + *");
    EXPECT_EQ(B().name(), "");
}

TEST(SpaceMouseButtons, unnamedBitsAreCarriedButNeverListed) {
    const B unnamed(1ull << 50);
    EXPECT_EQ(unnamed.name(), "");
    EXPECT_TRUE(unnamed.each().empty());
    const B mixed(B::right.rawValue | (1ull << 47) | (1ull << 63));
    EXPECT_EQ(mixed.each(), std::vector<B>{B::right});
    EXPECT_EQ(mixed.name(), "2 (right)");
}

TEST(SpaceMouseButtons, twoButtonsChoosesThePairByWhatTheDeviceHas) {
    EXPECT_EQ(B::twoButtons(B{B::menu, B::fit, B::key1}), (B::TwoButtons{B::menu, B::fit}));
    EXPECT_EQ(B::twoButtons(B::key3), (B::TwoButtons{B::key1, B::key2}));
    EXPECT_EQ(B::twoButtons(B{B::left, B::menu}), (B::TwoButtons{B::left, B::right}));
    EXPECT_EQ(B::twoButtons(B()), (B::TwoButtons{B::key1, B::key2}));
}

TEST(SpaceMouseButtons, asTwoButtonsMapsOntoLeftAndRight) {
    const B::TwoButtons pair{B::menu, B::fit};
    EXPECT_EQ(B::fit.asTwoButtons(pair), B::right);
    EXPECT_EQ((B{B::menu, B::fit}).asTwoButtons(pair), (B{B::left, B::right}));
    EXPECT_EQ(B().asTwoButtons(pair), B());
    EXPECT_EQ((B{B::left, B::escape}).asTwoButtons(pair), B());
    // A side of the pair counts only when all its bits are held.
    const B::TwoButtons wide{B{B::key1, B::key2}, B::key3};
    EXPECT_EQ(B::key1.asTwoButtons(wide), B());
    EXPECT_EQ((B{B::key1, B::key2}).asTwoButtons(wide), B::left);
}

TEST(SpaceMouseButtonsJSON, isTheBareNumber) {
    EXPECT_EQ(nlohmann::json(B::right).dump(), "2");
    EXPECT_EQ(nlohmann::json(B{B::left, B::menu}).dump(), "65");
    EXPECT_EQ(nlohmann::json::parse("2").get<B>(), B::right);
    EXPECT_EQ(nlohmann::json::parse("1152921504606846976").get<B>().rawValue, 1ull << 60);
    EXPECT_EQ(nlohmann::json::parse("18446744073709551615").get<B>().rawValue, ~0ull);
    EXPECT_EQ(nlohmann::json(B(~0ull)).dump(), "18446744073709551615");
}

TEST(SpaceMouseButtonsJSON, readingRejectsAnythingButAnUnsignedInteger) {
    for (const char* text : {"-1", "1.5", "\"2\"", "null", "[2]", "true"}) {
        SCOPED_TRACE(text);
        EXPECT_THROW(nlohmann::json::parse(text).get<B>(), std::exception);
    }
}

TEST(Text, nonEmptyDropsOnlyTheEmptyText) {
    EXPECT_EQ(nonEmpty(""), std::nullopt);
    EXPECT_EQ(nonEmpty(" "), std::optional<std::string>(" "));
    EXPECT_EQ(nonEmpty("SpaceMouse"), std::optional<std::string>("SpaceMouse"));
}

TEST(Text, hexWritesTwoLowerCaseDigitsPerByte) {
    const std::vector<std::uint8_t> bytes{0x01, 0xAB};
    EXPECT_EQ(hex(bytes), "01 ab");
    EXPECT_EQ(hex(bytes, ""), "01ab");
    EXPECT_EQ(hex(bytes, ":"), "01:ab");
    EXPECT_EQ(hex(std::vector<std::uint8_t>{}), "");
    EXPECT_EQ(hex(std::vector<std::uint8_t>{0x00, 0xF0, 0x0F}), "00 f0 0f");
    const std::byte raw[] = {std::byte{0xFF}};
    EXPECT_EQ(hex(std::span<const std::byte>(raw)), "ff");
}

} // namespace
} // namespace smk
