#include "SpaceMouseKit/SpaceMouseButtons.h"
#include "SpaceMouseKit/Text.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

namespace smk {
namespace {

using B = SpaceMouseButtons;

struct ButtonRow {
    int bit;
    SpaceMouseButtons button;
    const char* display;
};

// The bit numbers travel over the wire: this table pins every one of them.
const ButtonRow buttonTable[] = {
    {0, B::left, "1 (left)"},
    {1, B::right, "2 (right)"},
    {2, B::key1, "1"},
    {3, B::key2, "2"},
    {4, B::key3, "3"},
    {5, B::key4, "4"},
    {6, B::menu, "MENU"},
    {7, B::fit, "FIT"},
    {8, B::viewTop, "T"},
    {9, B::viewRight, "R"},
    {10, B::viewFront, "F"},
    {11, B::viewRoll, "Roll"},
    {12, B::escape, "ESC"},
    {13, B::shift, "SHIFT"},
    {14, B::control, "CTRL"},
    {15, B::alt, "ALT"},
    {16, B::rotationLock, "Rotation lock"},
    {17, B::key5, "5"},
    {18, B::key6, "6"},
    {19, B::key7, "7"},
    {20, B::key8, "8"},
    {21, B::key9, "9"},
    {22, B::key10, "10"},
    {23, B::key11, "11"},
    {24, B::key12, "12"},
    {25, B::viewLeft, "L"},
    {26, B::viewBottom, "B"},
    {27, B::viewBack, "BK"},
    {28, B::viewRollReverse, "Roll back"},
    {29, B::viewIso1, "ISO1"},
    {30, B::viewIso2, "ISO2"},
    {31, B::enter, "ENTER"},
    {32, B::delete_, "DEL"},
    {33, B::tab, "TAB"},
    {34, B::space, "SPACE"},
    {35, B::view1, "V1"},
    {36, B::view2, "V2"},
    {37, B::view3, "V3"},
    {38, B::plus, "+"},
    {39, B::minus, "\xE2\x88\x92"},
    {40, B::dominant, "DOMINANT"},
    {41, B::panZoom, "PAN/ZOOM"},
    {42, B::config, "CONFIG"},
    {43, B::keyA, "A"},
    {44, B::keyB, "B"},
    {45, B::keyC, "C"},
    {46, B::star, "*"},
};

TEST(SpaceMouseButtons, everyNamedButtonHasItsBitAndDisplayText) {
    ASSERT_EQ(std::size(buttonTable), 47u);
    ASSERT_EQ(B::allCases().size(), 47u);
    for (const auto& row : buttonTable) {
        SCOPED_TRACE(row.bit);
        EXPECT_EQ(row.button.rawValue, 1ull << row.bit);
        EXPECT_EQ(B::allCases()[static_cast<std::size_t>(row.bit)], row.button);
        EXPECT_EQ(row.button.name(), row.display);
        EXPECT_EQ(row.button.each(), std::vector<B>{row.button});
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
