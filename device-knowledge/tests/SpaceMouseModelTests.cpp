#include "Descriptors.h"
#include "SpaceMouseKit/SpaceMouseModel.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

namespace smk {
namespace {

using B = SpaceMouseButtons;
using M = SpaceMouseModel;
using Knowledge = M::Knowledge;
using testing::DescriptorBuilder;

const std::optional<std::string> noProduct;

std::optional<HIDReportDescriptor> descriptor(const DescriptorBuilder& builder) {
    auto parsed = HIDReportDescriptor::parse(builder.bytes);
    EXPECT_TRUE(parsed.has_value());
    return parsed;
}

// A multi-axis device with button usages first..last, recognised under the given ids.
std::optional<M> unknownWithButtons(std::uint32_t first, std::uint32_t last,
                                    std::int64_t product = 0xC6FF) {
    return M::recognise(0x256F, product, noProduct,
                        descriptor(DescriptorBuilder::multiAxis(350, first, last, true)));
}

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
        // Without a descriptor, recognition gives the row as it stands.
        const auto recognised = M::recognise(row.vendor, row.product, noProduct, std::nullopt);
        ASSERT_TRUE(recognised);
        EXPECT_EQ(recognised->axisFullScale, row.fullScale);
        EXPECT_EQ(recognised->hasStatusLED, row.led);
        EXPECT_EQ(recognised->buttonBits, model->buttonBits);
    }
    EXPECT_FALSE(M::matching(0x256F, 0xC652)); // the receiver is recognised, not listed
    EXPECT_FALSE(M::matching(0x046D, 0xC635)); // right product, wrong vendor
}

// The report bit that each model gives a button: the device's own numbering, decoded.
TEST(SpaceMouseModelTable, reportBitsDecodeToEachModelsButtons) {
    const std::tuple<const M&, std::vector<int>, B> rows[] = {
        {M::compact(), {0, 1, 2}, B{B::left, B::right}},
        {M::spaceMousePro(), {0, 3, 8, 26}, B{B::menu, B::viewRoll, B::rotationLock}},
        {M::spacePilotPro(), {9, 27, 30}, B{B::viewRollReverse, B::panZoom, B::minus}},
        {M::spaceTraveler(), {7, 8}, B::key8},
        {M::spaceball5000(), {9, 11}, B{B::keyA, B::keyC}},
        {M::spaceMousePlus(), {8, 10}, B{B::star, B::right}},
        {M::spaceExplorer(), {11, 14}, B{B::menu, B::rotationLock}},
        {M::spacePilot(), {18, 20}, B{B::dominant, B::config}},
        {M::enterprise(),
         {5, 6, 35, 36, 77, 104, 174},
         B{B::viewFront, B::enter, B::delete_, B::key12, B::view3, B::tab}},
    };
    for (const auto& [model, bits, expected] : rows)
        EXPECT_EQ(model.buttonsForBits(bits), expected) << model.name;
    EXPECT_EQ(M::spaceMousePro().buttons().each().size(), 15u);
    EXPECT_EQ(M::enterprise().buttons().each().size(), 31u);
    EXPECT_EQ(M::spacePilotPro().buttons().each().size(), 31u);
    // Raw 64-bit masks decode the same way; bits without a button are dropped.
    EXPECT_EQ(M::spaceExplorer().buttons(0b101), (B{B::key1, B::viewTop}));
    EXPECT_EQ(M::spaceExplorer().buttons(1ull << 63 | 1ull << 14), B::rotationLock);
    EXPECT_EQ(M::enterprise().buttonsForBits(std::vector<int>{-1, 3, 175, 999}), B::space);
    // The pair that stands for left and right follows the model's buttons.
    EXPECT_EQ(M::spaceTraveler().twoButtons(), (B::TwoButtons{B::key1, B::key2}));
    EXPECT_EQ(M::spaceMousePro().asTwoButtons(B{B::fit, B::escape}), B::right);
}

TEST(SpaceMouseModel, descriptionShowsIdsInUpperCaseHexAndKnowledge) {
    EXPECT_EQ(M::compact().description(), "SpaceMouse Compact (256F:C635, checked)");
    const M small{0x1, 0xAB, "Thing", {}, Knowledge::guessed, 350, false};
    EXPECT_EQ(small.description(), "Thing (0001:00AB, guessed)");
}

TEST(SpaceMouseModel, equalityComparesIdsAndNameOnly) {
    M other{0x256F, 0xC635, "SpaceMouse Compact", {}, Knowledge::guessed, 1, false};
    EXPECT_EQ(other, M::compact());
    other.name += " ";
    EXPECT_NE(other, M::compact());
}

TEST(SpaceMouseModel, statusLEDAndSerialReportDependOnVendorAndProduct) {
    EXPECT_TRUE(M::spaceMouseWireless().statusLEDNeedsCable());    // C63A
    EXPECT_TRUE(M::spaceMouseProWireless().statusLEDNeedsCable()); // C638
    EXPECT_FALSE(M::compact().statusLEDNeedsCable());
    const M olderVendor{0x046D, 0xC63A, "x", {}, Knowledge::guessed, 350, true};
    EXPECT_FALSE(olderVendor.statusLEDNeedsCable());
    EXPECT_EQ(M::compact().serialFeatureReportID(), 8);
    EXPECT_EQ(M::spaceNavigator().serialFeatureReportID(), std::nullopt);
    EXPECT_EQ(unknownWithButtons(1, 2, 0xC652)->serialFeatureReportID(), std::nullopt);
}

TEST(SpaceMouseModelKnowledge, rawValuesAndJSON) {
    EXPECT_EQ(nlohmann::json(Knowledge::guessed), "guessed");
    EXPECT_EQ(nlohmann::json("published").get<Knowledge>(), Knowledge::published);
    EXPECT_EQ(knowledgeFromRawValue("Checked"), std::nullopt);
    EXPECT_THROW(nlohmann::json("sure").get<Knowledge>(), std::exception);
    EXPECT_THROW(nlohmann::json(1).get<Knowledge>(), std::exception);
}

TEST(SpaceMouseModelRecognition, otherVendorsAndIgnoredProductsAreNotSpaceMice) {
    const auto full = descriptor(DescriptorBuilder::multiAxis(350, 1, 2, true));
    EXPECT_FALSE(M::recognise(0x1234, 0xC635, noProduct, full));
    for (auto product : {0xC650, 0xC658, 0xC671})
        EXPECT_FALSE(M::recognise(0x256F, product, noProduct, full)) << product;
    // The ignore list belongs to one vendor only.
    EXPECT_TRUE(M::recognise(0x046D, 0xC650, noProduct, full));
    // An unknown device needs a descriptor of a multi-axis application.
    EXPECT_FALSE(M::recognise(0x256F, 0xC6FF, noProduct, std::nullopt));
    DescriptorBuilder mouse;
    mouse.usagePage(1).usage(2).collection(1).reportID(1).usagePage(9).usageMinimum(1);
    mouse.usageMaximum(3).reportSize(1).reportCount(3).input(2).endCollection();
    EXPECT_FALSE(M::recognise(0x256F, 0xC6FF, noProduct, descriptor(mouse)));
    DescriptorBuilder physical; // usage 8 in a non-application collection
    physical.usagePage(1).usage(8).collection(0).endCollection();
    EXPECT_FALSE(M::recognise(0x256F, 0xC6FF, noProduct, descriptor(physical)));
}

// What a descriptor adds to a known row, and what an unknown device gets from it alone.
TEST(SpaceMouseModelRecognition, fullScaleLEDAndNameFromTheDescriptor) {
    struct Row {
        const char* what;
        std::int64_t vendor, product;
        std::optional<std::string> productName;
        DescriptorBuilder descriptor;
        const char* name;
        std::int64_t fullScale;
        bool led;
        Knowledge knowledge;
    };
    DescriptorBuilder noAxes;
    noAxes.usagePage(1).usage(8).collection(1).endCollection();
    using D = DescriptorBuilder;
    const Row rows[] = {
        {"known row, 350 and no LED", 0x046D, 0xC626, "Other", D::multiAxis(350, 1, 2, false),
         "SpaceNavigator", 350, false, Knowledge::checked},
        {"known row, maximum 0 keeps 500", 0x046D, 0xC626, noProduct, D::multiAxis(0, 1, 2, true),
         "SpaceNavigator", 500, true, Knowledge::checked},
        {"known row, no axes keeps 500", 0x046D, 0xC626, noProduct, noAxes, "SpaceNavigator", 500,
         false, Knowledge::checked},
        {"known row without LED stays so", 0x046D, 0xC621, noProduct, D::multiAxis(1, 1, 12, true),
         "Spaceball 5000", 1, false, Knowledge::checked},
        {"unknown, empty name", 0x256F, 0xC6FF, "", D::multiAxis(350, 1, 2, true),
         "SpaceMouse 256F:C6FF", 350, true, Knowledge::guessed},
        {"unknown, no name", 0x046D, 0x00AB, noProduct, D::multiAxis(350, 1, 2, true),
         "SpaceMouse 046D:00AB", 350, true, Knowledge::guessed},
        {"unknown, named, wide axes", 0x256F, 0xC6FF, "SpaceMouse X",
         D::multiAxis(1000, 1, 2, true), "SpaceMouse X", 1000, true, Knowledge::guessed},
        {"unknown, maximum 0 gives 350", 0x256F, 0xC6FF, noProduct, D::multiAxis(0, 1, 2, false),
         "SpaceMouse 256F:C6FF", 350, false, Knowledge::guessed},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        const auto model =
            M::recognise(row.vendor, row.product, row.productName, descriptor(row.descriptor));
        ASSERT_TRUE(model);
        EXPECT_EQ(model->name, row.name);
        EXPECT_EQ(model->axisFullScale, row.fullScale);
        EXPECT_EQ(model->hasStatusLED, row.led);
        EXPECT_EQ(model->knowledge, row.knowledge);
    }
}

// Buttons of an unknown device: the two-button map when it has at most usages 1 and 2, the
// shared numbering otherwise; the Universal Receiver is named after which of the two it is.
TEST(SpaceMouseModelRecognition, buttonMapAndReceiverNameFromUsages) {
    struct Row {
        std::uint32_t first;
        std::uint32_t last;
        M::ButtonBits expected;
        const char* receiver;
    };
    const char* plain = "SpaceMouse Wireless (Universal Receiver)";
    const char* pro = "SpaceMouse Pro Wireless (Universal Receiver)";
    const Row rows[] = {
        {0, 0, {}, plain},
        {1, 1, {{0, B::left}}, plain},
        {2, 2, {{1, B::right}}, plain},
        {1, 2, {{0, B::left}, {1, B::right}}, plain},
        {1, 3, {{0, B::menu}, {1, B::fit}, {2, B::viewTop}}, pro},
        {2, 3, {{1, B::fit}, {2, B::viewTop}}, plain}, // bit 2 is beyond the two-button map
        {3, 3, {{2, B::viewTop}}, plain},
        {76, 78, {{76, B::key11}, {77, B::key12}}, pro},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(::testing::Message() << row.first << ".." << row.last);
        const auto model = unknownWithButtons(row.first, row.last);
        ASSERT_TRUE(model);
        EXPECT_EQ(model->buttonBits, row.expected);
        const auto receiver = unknownWithButtons(row.first, row.last, 0xC652);
        ASSERT_TRUE(receiver);
        EXPECT_EQ(receiver->name, row.receiver);
        EXPECT_EQ(receiver->knowledge, Knowledge::published);
    }
    const auto fifteen = unknownWithButtons(1, 15, 0xC652);
    EXPECT_EQ(fifteen->buttonBits.size(), 15u);
    EXPECT_EQ(fifteen->buttonBits.at(14), B::key3);
}

} // namespace
} // namespace smk
