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

TEST(SpaceMouseModelRecognition, descriptorCorrectsFullScaleAndLEDOfKnownRow) {
    const auto navigator350 =
        M::recognise(0x046D, 0xC626, std::optional<std::string>("Other"),
                     descriptor(DescriptorBuilder::multiAxis(350, 1, 2, false)));
    ASSERT_TRUE(navigator350);
    EXPECT_EQ(navigator350->name, "SpaceNavigator");
    EXPECT_EQ(navigator350->axisFullScale, 350);
    EXPECT_FALSE(navigator350->hasStatusLED);
    EXPECT_EQ(navigator350->knowledge, Knowledge::checked);

    const auto navigatorZero = M::recognise(
        0x046D, 0xC626, noProduct, descriptor(DescriptorBuilder::multiAxis(0, 1, 2, true)));
    ASSERT_TRUE(navigatorZero);
    EXPECT_EQ(navigatorZero->axisFullScale, 500);
    EXPECT_TRUE(navigatorZero->hasStatusLED);

    // A descriptor without any axis keeps the row's full scale.
    DescriptorBuilder noAxes;
    noAxes.usagePage(1).usage(8).collection(1).endCollection();
    const auto navigatorNoAxes = M::recognise(0x046D, 0xC626, noProduct, descriptor(noAxes));
    ASSERT_TRUE(navigatorNoAxes);
    EXPECT_EQ(navigatorNoAxes->axisFullScale, 500);
    EXPECT_FALSE(navigatorNoAxes->hasStatusLED);

    const auto spaceball = M::recognise(0x046D, 0xC621, noProduct,
                                        descriptor(DescriptorBuilder::multiAxis(1, 1, 12, true)));
    ASSERT_TRUE(spaceball);
    EXPECT_FALSE(spaceball->hasStatusLED);
    EXPECT_EQ(spaceball->axisFullScale, 1);
}

TEST(SpaceMouseModelRecognition, unknownDeviceNeedsAMultiAxisDescriptor) {
    EXPECT_FALSE(M::recognise(0x256F, 0xC6FF, noProduct, std::nullopt));
    DescriptorBuilder mouse;
    mouse.usagePage(1)
        .usage(2)
        .collection(1)
        .reportID(1)
        .usagePage(9)
        .usageMinimum(1)
        .usageMaximum(3)
        .reportSize(1)
        .reportCount(3)
        .input(2)
        .endCollection();
    EXPECT_FALSE(M::recognise(0x256F, 0xC6FF, noProduct, descriptor(mouse)));
    // Usage 8 in a non-application collection is not enough.
    DescriptorBuilder physical;
    physical.usagePage(1).usage(8).collection(0).endCollection();
    EXPECT_FALSE(M::recognise(0x256F, 0xC6FF, noProduct, descriptor(physical)));
}

TEST(SpaceMouseModelRecognition, unknownTwoButtonDeviceIsGuessed) {
    const auto parsed = descriptor(DescriptorBuilder::multiAxis(350, 1, 2, true));
    const auto unnamed = M::recognise(0x256F, 0xC6FF, std::optional<std::string>(""), parsed);
    ASSERT_TRUE(unnamed);
    EXPECT_EQ(unnamed->name, "SpaceMouse 256F:C6FF");
    EXPECT_EQ(unnamed->buttonBits, (M::ButtonBits{{0, B::left}, {1, B::right}}));
    EXPECT_EQ(unnamed->knowledge, Knowledge::guessed);
    EXPECT_EQ(unnamed->axisFullScale, 350);
    EXPECT_TRUE(unnamed->hasStatusLED);

    const auto absent = M::recognise(0x046D, 0x00AB, noProduct, parsed);
    ASSERT_TRUE(absent);
    EXPECT_EQ(absent->name, "SpaceMouse 046D:00AB");

    const auto named =
        M::recognise(0x256F, 0xC6FF, std::optional<std::string>("SpaceMouse X"), parsed);
    ASSERT_TRUE(named);
    EXPECT_EQ(named->name, "SpaceMouse X");
}

TEST(SpaceMouseModelRecognition, unknownDeviceFullScaleAndLEDComeFromTheDescriptor) {
    const auto model = M::recognise(0x256F, 0xC6FF, noProduct,
                                    descriptor(DescriptorBuilder::multiAxis(0, 1, 2, false)));
    ASSERT_TRUE(model);
    EXPECT_EQ(model->axisFullScale, 350);
    EXPECT_FALSE(model->hasStatusLED);
    const auto wide = M::recognise(0x256F, 0xC6FF, noProduct,
                                   descriptor(DescriptorBuilder::multiAxis(1000, 1, 2, false)));
    ASSERT_TRUE(wide);
    EXPECT_EQ(wide->axisFullScale, 1000);
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

TEST(SpaceMouseModelRecognition, realDescriptorsOfKnownDevices) {
    const auto navigator = M::recognise(
        0x046D, 0xC626, noProduct, HIDReportDescriptor::parse(testing::spaceNavigatorDescriptor));
    ASSERT_TRUE(navigator);
    EXPECT_EQ(navigator->axisFullScale, 350);
    EXPECT_TRUE(navigator->hasStatusLED);
    const auto wireless = M::recognise(0x256F, 0xC63A, noProduct,
                                       HIDReportDescriptor::parse(testing::wirelessDescriptor));
    ASSERT_TRUE(wireless);
    EXPECT_EQ(wireless->axisFullScale, 350);
    EXPECT_TRUE(wireless->hasStatusLED);
}

} // namespace
} // namespace smk
