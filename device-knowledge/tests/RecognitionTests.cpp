#include "Descriptors.h"
#include "SpaceMouseKit/SpaceMouseModel.h"

#include <gtest/gtest.h>

namespace smk {
namespace {

using B = SpaceMouseButtons;
using M = SpaceMouseModel;
using Knowledge = M::Knowledge;
using testing::DescriptorBuilder;

std::optional<HIDReportDescriptor> descriptor(const DescriptorBuilder& builder) {
    auto parsed = HIDReportDescriptor::parse(builder.bytes);
    EXPECT_TRUE(parsed.has_value());
    return parsed;
}

const std::optional<std::string> noProduct;

TEST(SpaceMouseModelRecognition, otherVendorsAndIgnoredProductsAreNotSpaceMice) {
    const auto full = descriptor(DescriptorBuilder::multiAxis(350, 1, 2, true));
    EXPECT_FALSE(M::recognise(0x1234, 0xC635, noProduct, full));
    EXPECT_FALSE(M::recognise(0x1234, 0xC635, noProduct, std::nullopt));
    for (auto product : M::ignored) {
        EXPECT_FALSE(M::recognise(0x256F, product, noProduct, full)) << product;
    }
    // The ignore list belongs to one vendor only; the other vendor's multi-axis device with the
    // same product id is recognised.
    EXPECT_TRUE(M::recognise(0x046D, 0xC650, noProduct, full));
}

TEST(SpaceMouseModelRecognition, knownRowWithoutDescriptorIsUnchanged) {
    for (const auto& row : M::known()) {
        const auto model = M::recognise(row.vendorID, row.productID, noProduct, std::nullopt);
        ASSERT_TRUE(model) << row.name;
        EXPECT_EQ(model->axisFullScale, row.axisFullScale);
        EXPECT_EQ(model->hasStatusLED, row.hasStatusLED);
        EXPECT_EQ(model->buttonBits, row.buttonBits);
        EXPECT_EQ(model->knowledge, row.knowledge);
    }
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
        {"unknown, named", 0x256F, 0xC6FF, "SpaceMouse X", D::multiAxis(350, 1, 2, true),
         "SpaceMouse X", 350, true, Knowledge::guessed},
        {"unknown, maximum 0 gives 350", 0x256F, 0xC6FF, noProduct, D::multiAxis(0, 1, 2, false),
         "SpaceMouse 256F:C6FF", 350, false, Knowledge::guessed},
        {"unknown, wide axes", 0x256F, 0xC6FF, noProduct, D::multiAxis(1000, 1, 2, false),
         "SpaceMouse 256F:C6FF", 1000, false, Knowledge::guessed},
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

TEST(SpaceMouseModelRecognition, unknownDeviceNeedsAMultiAxisDescriptor) {
    EXPECT_FALSE(M::recognise(0x256F, 0xC6FF, noProduct, std::nullopt));
    DescriptorBuilder mouse;
    mouse.usagePage(1).usage(2).collection(1).reportID(1).usagePage(9).usageMinimum(1);
    mouse.usageMaximum(3).reportSize(1).reportCount(3).input(2).endCollection();
    EXPECT_FALSE(M::recognise(0x256F, 0xC6FF, noProduct, descriptor(mouse)));
    // Usage 8 in a non-application collection is not enough.
    DescriptorBuilder physical;
    physical.usagePage(1).usage(8).collection(0).endCollection();
    EXPECT_FALSE(M::recognise(0x256F, 0xC6FF, noProduct, descriptor(physical)));
}

TEST(SpaceMouseModelRecognition, buttonMapFromUsages) {
    struct Row {
        std::uint32_t first;
        std::uint32_t last;
        M::ButtonBits expected;
    };
    const Row rows[] = {
        {0, 0, {}},
        {1, 1, {{0, B::left}}},
        {2, 2, {{1, B::right}}},
        {1, 2, {{0, B::left}, {1, B::right}}},
        {1, 3, {{0, B::menu}, {1, B::fit}, {2, B::viewTop}}},
        {2, 3, {{1, B::fit}, {2, B::viewTop}}}, // bit 2 is beyond the two-button map
        {3, 3, {{2, B::viewTop}}},
        {76, 78, {{76, B::key11}, {77, B::key12}}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.first);
        SCOPED_TRACE(row.last);
        const auto model =
            M::recognise(0x256F, 0xC6FF, noProduct,
                         descriptor(DescriptorBuilder::multiAxis(350, row.first, row.last, true)));
        ASSERT_TRUE(model);
        EXPECT_EQ(model->buttonBits, row.expected);
    }
}

TEST(SpaceMouseModelRecognition, universalReceiverIsNamedByItsButtons) {
    const auto pro = M::recognise(0x256F, 0xC652, std::optional<std::string>("Universal Receiver"),
                                  descriptor(DescriptorBuilder::multiAxis(350, 1, 15, true)));
    ASSERT_TRUE(pro);
    EXPECT_EQ(pro->name, "SpaceMouse Pro Wireless (Universal Receiver)");
    EXPECT_EQ(pro->knowledge, Knowledge::published);
    M::ButtonBits expected;
    for (int i = 0; i <= 14; ++i)
        expected.emplace(i, M::sharedNumbering().at(i));
    EXPECT_EQ(pro->buttonBits, expected);
    EXPECT_EQ(pro->serialFeatureReportID(), std::nullopt);

    const auto plain =
        M::recognise(0x256F, 0xC652, std::optional<std::string>("Universal Receiver"),
                     descriptor(DescriptorBuilder::multiAxis(350, 1, 2, true)));
    ASSERT_TRUE(plain);
    EXPECT_EQ(plain->name, "SpaceMouse Wireless (Universal Receiver)");
    EXPECT_EQ(plain->buttonBits, (M::ButtonBits{{0, B::left}, {1, B::right}}));

    // Two buttons that are not the first two still count as at most two.
    const auto odd = M::recognise(0x256F, 0xC652, noProduct,
                                  descriptor(DescriptorBuilder::multiAxis(350, 2, 3, true)));
    ASSERT_TRUE(odd);
    EXPECT_EQ(odd->name, "SpaceMouse Wireless (Universal Receiver)");
    EXPECT_EQ(odd->buttonBits, (M::ButtonBits{{1, B::fit}, {2, B::viewTop}}));

    const auto three = M::recognise(0x256F, 0xC652, noProduct,
                                    descriptor(DescriptorBuilder::multiAxis(350, 1, 3, true)));
    ASSERT_TRUE(three);
    EXPECT_EQ(three->name, "SpaceMouse Pro Wireless (Universal Receiver)");
}

} // namespace
} // namespace smk
