#include "Descriptors.h"
#include "SpaceMouseKit/SpaceMouseModel.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <set>

namespace smk {
namespace {

using B = SpaceMouseButtons;
using M = SpaceMouseModel;
using Knowledge = M::Knowledge;
using Bits = M::ButtonBits;

const Bits twoButtons{{0, B::left}, {1, B::right}};
const Bits proBits{{0, B::menu},      {1, B::fit},      {2, B::viewTop},      {4, B::viewRight},
                   {5, B::viewFront}, {8, B::viewRoll}, {12, B::key1},        {13, B::key2},
                   {14, B::key3},     {15, B::key4},    {22, B::escape},      {23, B::alt},
                   {24, B::shift},    {25, B::control}, {26, B::rotationLock}};
const Bits spacePilotProBits{{0, B::menu},          {1, B::fit},
                             {2, B::viewTop},       {3, B::viewLeft},
                             {4, B::viewRight},     {5, B::viewFront},
                             {6, B::viewBottom},    {7, B::viewBack},
                             {8, B::viewRoll},      {9, B::viewRollReverse},
                             {10, B::viewIso1},     {11, B::viewIso2},
                             {12, B::key1},         {13, B::key2},
                             {14, B::key3},         {15, B::key4},
                             {16, B::key5},         {17, B::key6},
                             {18, B::key7},         {19, B::key8},
                             {20, B::key9},         {21, B::key10},
                             {22, B::escape},       {23, B::alt},
                             {24, B::shift},        {25, B::control},
                             {26, B::rotationLock}, {27, B::panZoom},
                             {28, B::dominant},     {29, B::plus},
                             {30, B::minus}};
const Bits enterpriseBits{
    {0, B::menu},     {1, B::fit},           {2, B::viewTop}, {4, B::viewRight}, {5, B::viewFront},
    {8, B::viewRoll}, {10, B::viewIso1},     {12, B::key1},   {13, B::key2},     {14, B::key3},
    {15, B::key4},    {16, B::key5},         {17, B::key6},   {18, B::key7},     {19, B::key8},
    {20, B::key9},    {21, B::key10},        {22, B::escape}, {23, B::alt},      {24, B::shift},
    {25, B::control}, {26, B::rotationLock}, {35, B::enter},  {36, B::delete_},  {76, B::key11},
    {77, B::key12},   {102, B::view1},       {103, B::view2}, {104, B::view3},   {174, B::tab},
    {175, B::space}};
const Bits travelerBits{{0, B::key1}, {1, B::key2}, {2, B::key3}, {3, B::key4},
                        {4, B::key5}, {5, B::key6}, {6, B::key7}, {7, B::key8}};
const Bits spaceball5000Bits{{0, B::key1}, {1, B::key2}, {2, B::key3},  {3, B::key4},
                             {4, B::key5}, {5, B::key6}, {6, B::key7},  {7, B::key8},
                             {8, B::key9}, {9, B::keyA}, {10, B::keyB}, {11, B::keyC}};
const Bits plusBits{{0, B::key1}, {1, B::key2}, {2, B::key3},  {3, B::key4},
                    {4, B::key5}, {5, B::key6}, {6, B::key7},  {7, B::key8},
                    {8, B::star}, {9, B::left}, {10, B::right}};
const Bits explorerBits{
    {0, B::key1},      {1, B::key2},   {2, B::viewTop}, {3, B::viewLeft}, {4, B::viewRight},
    {5, B::viewFront}, {6, B::escape}, {7, B::alt},     {8, B::shift},    {9, B::control},
    {10, B::fit},      {11, B::menu},  {12, B::plus},   {13, B::minus},   {14, B::rotationLock}};
const Bits pilotBits{{0, B::key1},      {1, B::key2},      {2, B::key3},      {3, B::key4},
                     {4, B::key5},      {5, B::key6},      {6, B::viewTop},   {7, B::viewLeft},
                     {8, B::viewRight}, {9, B::viewFront}, {10, B::escape},   {11, B::alt},
                     {12, B::shift},    {13, B::control},  {14, B::fit},      {15, B::menu},
                     {16, B::plus},     {17, B::minus},    {18, B::dominant}, {19, B::rotationLock},
                     {20, B::config}};

struct ModelRow {
    const M& (*constant)();
    std::int64_t vendor;
    std::int64_t product;
    const char* name;
    Knowledge knowledge;
    std::int64_t fullScale;
    bool led;
    const Bits* bits;
};

const ModelRow modelTable[] = {
    {M::compact, 0x256F, 0xC635, "SpaceMouse Compact", Knowledge::checked, 350, true, &twoButtons},
    {M::spaceNavigator, 0x046D, 0xC626, "SpaceNavigator", Knowledge::checked, 500, true,
     &twoButtons},
    {M::spaceMousePro, 0x046D, 0xC62B, "SpaceMouse Pro", Knowledge::checked, 350, true, &proBits},
    {M::spaceMouseWireless, 0x256F, 0xC63A, "SpaceMouse Wireless", Knowledge::checked, 350, true,
     &twoButtons},
    {M::spaceTraveler, 0x046D, 0xC623, "SpaceTraveler", Knowledge::checked, 500, true,
     &travelerBits},
    {M::spaceball5000, 0x046D, 0xC621, "Spaceball 5000", Knowledge::checked, 500, false,
     &spaceball5000Bits},
    {M::spaceMousePlus, 0x046D, 0xC603, "SpaceMouse Plus", Knowledge::published, 500, false,
     &plusBits},
    {M::spaceNavigatorNotebook, 0x046D, 0xC628, "SpaceNavigator for Notebooks",
     Knowledge::published, 350, true, &twoButtons},
    {M::spaceExplorer, 0x046D, 0xC627, "SpaceExplorer", Knowledge::published, 350, true,
     &explorerBits},
    {M::spacePilot, 0x046D, 0xC625, "SpacePilot", Knowledge::published, 350, false, &pilotBits},
    {M::spacePilotPro, 0x046D, 0xC629, "SpacePilot Pro", Knowledge::published, 350, true,
     &spacePilotProBits},
    {M::spaceMouseWirelessCable, 0x256F, 0xC62E, "SpaceMouse Wireless (cable)",
     Knowledge::published, 350, true, &twoButtons},
    {M::spaceMouseWirelessReceiver, 0x256F, 0xC62F, "SpaceMouse Wireless (receiver)",
     Knowledge::published, 350, true, &twoButtons},
    {M::spaceMouseProWirelessCable, 0x256F, 0xC631, "SpaceMouse Pro Wireless (cable)",
     Knowledge::published, 350, true, &proBits},
    {M::spaceMouseProWirelessReceiver, 0x256F, 0xC632, "SpaceMouse Pro Wireless (receiver)",
     Knowledge::published, 350, true, &proBits},
    {M::spaceMouseProWireless, 0x256F, 0xC638, "SpaceMouse Pro Wireless", Knowledge::published, 350,
     true, &proBits},
    {M::enterprise, 0x256F, 0xC633, "SpaceMouse Enterprise", Knowledge::published, 350, true,
     &enterpriseBits},
};

TEST(SpaceMouseModelTable, everyRowInOrder) {
    const auto& known = M::known();
    ASSERT_EQ(known.size(), std::size(modelTable));
    for (std::size_t i = 0; i < known.size(); ++i) {
        const auto& row = modelTable[i];
        const auto& model = known[i];
        SCOPED_TRACE(row.name);
        EXPECT_EQ(&row.constant(), &model);
        EXPECT_EQ(model.vendorID, row.vendor);
        EXPECT_EQ(model.productID, row.product);
        EXPECT_EQ(model.name, row.name);
        EXPECT_EQ(model.knowledge, row.knowledge);
        EXPECT_EQ(model.axisFullScale, row.fullScale);
        EXPECT_EQ(model.hasStatusLED, row.led);
        EXPECT_EQ(model.buttonBits, *row.bits);
        EXPECT_EQ(M::matching(row.vendor, row.product), model);
        EXPECT_EQ(M::matching(row.product), model);
    }
}

TEST(SpaceMouseModelTable, sharedNumberingHasFortyEntries) {
    const auto& shared = M::sharedNumbering();
    EXPECT_EQ(shared.size(), 40u);
    for (const auto& [index, button] : spacePilotProBits)
        EXPECT_EQ(shared.at(index), button);
    for (const auto& [index, button] : enterpriseBits)
        EXPECT_EQ(shared.at(index), button);
    for (int missing : {31, 32, 33, 34, 37, 75, 78, 101, 105, 173, 176}) {
        EXPECT_EQ(shared.count(missing), 0u) << missing;
    }
}

TEST(SpaceMouseModelTable, constants) {
    EXPECT_EQ(M::vendorIDs, (std::array<std::int64_t, 2>{0x046D, 0x256F}));
    EXPECT_EQ(std::set<std::int64_t>(M::ignored.begin(), M::ignored.end()),
              (std::set<std::int64_t>{0xC650, 0xC651, 0xC654, 0xC655, 0xC656, 0xC657, 0xC658,
                                      0xC664, 0xC665, 0xC668, 0xC671}));
    EXPECT_EQ(M::universalReceiverProductID, 0xC652);
    EXPECT_FALSE(M::matching(0x256F, 0xC652));
    EXPECT_FALSE(M::matching(0x046D, 0xC635)); // right product, wrong vendor
    EXPECT_EQ(M::matching(0xC635), M::compact());
}

TEST(SpaceMouseModel, descriptionShowsIdsInUpperCaseHexAndKnowledge) {
    EXPECT_EQ(M::compact().description(), "SpaceMouse Compact (256F:C635, checked)");
    EXPECT_EQ(M::spaceMousePlus().description(), "SpaceMouse Plus (046D:C603, published)");
    const M small{0x1, 0xAB, "Thing", {}, Knowledge::guessed, 350, false};
    EXPECT_EQ(small.description(), "Thing (0001:00AB, guessed)");
}

TEST(SpaceMouseModel, buttonLookups) {
    EXPECT_EQ(M::spaceExplorer().buttons(0b101), (B{B::key1, B::viewTop}));
    EXPECT_EQ(M::spaceExplorer().buttons(0), B());
    EXPECT_EQ(M::spaceExplorer().buttons(1ull << 63 | 1ull << 14), B::rotationLock);
    const std::vector<int> positions{76};
    EXPECT_EQ(M::enterprise().buttonsForBits(positions), B::key11);
    const std::vector<int> mixed{-1, 3, 175, 999};
    EXPECT_EQ(M::enterprise().buttonsForBits(mixed), B::space);
    EXPECT_EQ(M::compact().buttons(), (B{B::left, B::right}));
    EXPECT_EQ(M::spaceMousePro().buttons().each().size(), 15u);
    EXPECT_EQ(M::enterprise().buttons().each().size(), 31u);
}

TEST(SpaceMouseModel, twoButtonsFollowTheModelsButtons) {
    EXPECT_EQ(M::compact().twoButtons(), (B::TwoButtons{B::left, B::right}));
    EXPECT_EQ(M::spaceMousePro().twoButtons(), (B::TwoButtons{B::menu, B::fit}));
    EXPECT_EQ(M::spaceTraveler().twoButtons(), (B::TwoButtons{B::key1, B::key2}));
    EXPECT_EQ(M::spaceMousePro().asTwoButtons(B{B::fit, B::escape}), B::right);
    EXPECT_EQ(M::spaceTraveler().asTwoButtons(B::key1), B::left);
}

TEST(SpaceMouseModel, equalityComparesIdsAndNameOnly) {
    M other = M::compact();
    other.buttonBits = proBits;
    other.axisFullScale = 1;
    other.hasStatusLED = false;
    other.knowledge = Knowledge::guessed;
    EXPECT_EQ(other, M::compact());
    other.name = "SpaceMouse Compact ";
    EXPECT_NE(other, M::compact());
}

TEST(SpaceMouseModel, statusLEDNeedsCableOnlyForTwoWirelessModels) {
    for (const auto& model : M::known()) {
        const bool expected = model.productID == 0xC63A || model.productID == 0xC638;
        EXPECT_EQ(model.statusLEDNeedsCable(), expected) << model.name;
    }
    const M olderVendor{0x046D, 0xC63A, "x", {}, Knowledge::guessed, 350, true};
    EXPECT_FALSE(olderVendor.statusLEDNeedsCable());
}

TEST(SpaceMouseModel, serialFeatureReportOnTheNewerVendorExceptTheReceiver) {
    EXPECT_EQ(M::compact().serialFeatureReportID(), 8);
    EXPECT_EQ(M::spaceNavigator().serialFeatureReportID(), std::nullopt);
    const M receiver{0x256F, 0xC652, "r", {}, Knowledge::published, 350, true};
    EXPECT_EQ(receiver.serialFeatureReportID(), std::nullopt);
}

TEST(SpaceMouseModelKnowledge, rawValuesAndJSON) {
    EXPECT_EQ(nlohmann::json(Knowledge::checked), "checked");
    EXPECT_EQ(nlohmann::json(Knowledge::published), "published");
    EXPECT_EQ(nlohmann::json(Knowledge::guessed), "guessed");
    EXPECT_EQ(nlohmann::json("published").get<Knowledge>(), Knowledge::published);
    EXPECT_EQ(knowledgeFromRawValue("Checked"), std::nullopt);
    EXPECT_THROW(nlohmann::json("sure").get<Knowledge>(), std::exception);
    EXPECT_THROW(nlohmann::json(1).get<Knowledge>(), std::exception);
}

} // namespace
} // namespace smk
