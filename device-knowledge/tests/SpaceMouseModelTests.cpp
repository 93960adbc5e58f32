#include "SpaceMouseKit/SpaceMouseModel.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

namespace smk {
namespace {

using B = SpaceMouseButtons;
using M = SpaceMouseModel;
using Knowledge = M::Knowledge;

// A few rows pin what recognition relies on: ids, name, knowledge, full scale and LED.
TEST(SpaceMouseModelTable, rowsAreFoundByTheirIds) {
    struct Row {
        std::int64_t vendor, product;
        const char* name;
        Knowledge knowledge;
        std::int64_t fullScale;
        bool led;
    };
    const Row rows[] = {
        {0x256F, 0xC635, "SpaceMouse Compact", Knowledge::checked, 350, true},
        {0x046D, 0xC626, "SpaceNavigator", Knowledge::checked, 500, true},
        {0x046D, 0xC621, "Spaceball 5000", Knowledge::checked, 500, false},
        {0x046D, 0xC603, "SpaceMouse Plus", Knowledge::published, 500, false},
        {0x046D, 0xC625, "SpacePilot", Knowledge::published, 350, false},
        {0x256F, 0xC633, "SpaceMouse Enterprise", Knowledge::published, 350, true},
    };
    EXPECT_EQ(M::known().size(), 17u);
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const auto model = M::matching(row.vendor, row.product);
        ASSERT_TRUE(model);
        EXPECT_EQ(model->name, row.name);
        EXPECT_EQ(model->knowledge, row.knowledge);
        EXPECT_EQ(model->axisFullScale, row.fullScale);
        EXPECT_EQ(model->hasStatusLED, row.led);
        EXPECT_EQ(M::matching(row.product), model);
    }
    EXPECT_FALSE(M::matching(0x256F, 0xC652)); // the receiver is recognised, not listed
    EXPECT_FALSE(M::matching(0x046D, 0xC635)); // right product, wrong vendor
}

// The report bit that each model gives a button: the device's own numbering, decoded.
TEST(SpaceMouseModelTable, reportBitsDecodeToEachModelsButtons) {
    struct Row {
        const M& model;
        std::vector<int> bits;
        B expected;
    };
    const Row rows[] = {
        {M::compact(), {0, 1, 2}, B{B::left, B::right}},
        {M::spaceMousePro(), {0, 3, 8, 26}, B{B::menu, B::viewRoll, B::rotationLock}},
        {M::spacePilotPro(), {9, 27, 30}, B{B::viewRollReverse, B::panZoom, B::minus}},
        {M::spaceTraveler(), {7, 8}, B::key8},
        {M::spaceball5000(), {9, 11}, B{B::keyA, B::keyC}},
        {M::spaceMousePlus(), {8, 10}, B{B::star, B::right}},
        {M::spaceExplorer(), {11, 14}, B{B::menu, B::rotationLock}},
        {M::spacePilot(), {18, 20}, B{B::dominant, B::config}},
        {M::enterprise(),
         {35, 36, 77, 104, 174},
         B{B::enter, B::delete_, B::key12, B::view3, B::tab}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.model.name);
        EXPECT_EQ(row.model.buttonsForBits(row.bits), row.expected);
    }
    EXPECT_EQ(M::spaceMousePro().buttons().each().size(), 15u);
    EXPECT_EQ(M::enterprise().buttons().each().size(), 31u);
    EXPECT_EQ(M::spacePilotPro().buttons().each().size(), 31u);
}

TEST(SpaceMouseModelTable, sharedNumberingJoinsTheLargestModels) {
    const auto& shared = M::sharedNumbering();
    EXPECT_EQ(shared.size(), 40u);
    EXPECT_EQ(shared.at(3), B::viewLeft);
    EXPECT_EQ(shared.at(30), B::minus);
    EXPECT_EQ(shared.at(175), B::space);
    for (int missing : {31, 34, 37, 75, 78, 101, 105, 173, 176})
        EXPECT_EQ(shared.count(missing), 0u) << missing;
}

TEST(SpaceMouseModel, descriptionShowsIdsInUpperCaseHexAndKnowledge) {
    EXPECT_EQ(M::compact().description(), "SpaceMouse Compact (256F:C635, checked)");
    const M small{0x1, 0xAB, "Thing", {}, Knowledge::guessed, 350, false};
    EXPECT_EQ(small.description(), "Thing (0001:00AB, guessed)");
}

TEST(SpaceMouseModel, buttonLookups) {
    EXPECT_EQ(M::spaceExplorer().buttons(0b101), (B{B::key1, B::viewTop}));
    EXPECT_EQ(M::spaceExplorer().buttons(0), B());
    EXPECT_EQ(M::spaceExplorer().buttons(1ull << 63 | 1ull << 14), B::rotationLock);
    const std::vector<int> mixed{-1, 3, 175, 999};
    EXPECT_EQ(M::enterprise().buttonsForBits(mixed), B::space);
}

TEST(SpaceMouseModel, twoButtonsFollowTheModelsButtons) {
    EXPECT_EQ(M::compact().twoButtons(), (B::TwoButtons{B::left, B::right}));
    EXPECT_EQ(M::spaceMousePro().twoButtons(), (B::TwoButtons{B::menu, B::fit}));
    EXPECT_EQ(M::spaceTraveler().twoButtons(), (B::TwoButtons{B::key1, B::key2}));
    EXPECT_EQ(M::spaceMousePro().asTwoButtons(B{B::fit, B::escape}), B::right);
}

TEST(SpaceMouseModel, equalityComparesIdsAndNameOnly) {
    M other = M::compact();
    other.buttonBits = M::spaceMousePro().buttonBits;
    other.axisFullScale = 1;
    other.hasStatusLED = false;
    other.knowledge = Knowledge::guessed;
    EXPECT_EQ(other, M::compact());
    other.name = "SpaceMouse Compact ";
    EXPECT_NE(other, M::compact());
}

TEST(SpaceMouseModel, statusLEDAndSerialReportDependOnVendorAndProduct) {
    for (const auto& model : M::known()) {
        const bool expected = model.productID == 0xC63A || model.productID == 0xC638;
        EXPECT_EQ(model.statusLEDNeedsCable(), expected) << model.name;
    }
    const M olderVendor{0x046D, 0xC63A, "x", {}, Knowledge::guessed, 350, true};
    EXPECT_FALSE(olderVendor.statusLEDNeedsCable());
    EXPECT_EQ(M::compact().serialFeatureReportID(), 8);
    EXPECT_EQ(M::spaceNavigator().serialFeatureReportID(), std::nullopt);
    const M receiver{0x256F, 0xC652, "r", {}, Knowledge::published, 350, true};
    EXPECT_EQ(receiver.serialFeatureReportID(), std::nullopt);
}

TEST(SpaceMouseModelKnowledge, rawValuesAndJSON) {
    EXPECT_EQ(nlohmann::json(Knowledge::guessed), "guessed");
    EXPECT_EQ(nlohmann::json("published").get<Knowledge>(), Knowledge::published);
    EXPECT_EQ(knowledgeFromRawValue("Checked"), std::nullopt);
    EXPECT_THROW(nlohmann::json("sure").get<Knowledge>(), std::exception);
    EXPECT_THROW(nlohmann::json(1).get<Knowledge>(), std::exception);
}

} // namespace
} // namespace smk
