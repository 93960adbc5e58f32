#include "Descriptors.h"
#include "SpaceMouseKit/HIDReportDescriptor.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

namespace smk {
namespace {

using D = HIDReportDescriptor;
using Kind = D::Kind;
using Usage = D::Usage;
using Bytes = std::vector<std::uint8_t>;
using testing::DescriptorBuilder;

D parsed(const Bytes& bytes) {
    auto descriptor = D::parse(bytes);
    if (!descriptor) ADD_FAILURE() << "descriptor did not parse";
    return descriptor.value_or(D{});
}

TEST(HIDReportDescriptor, emptyBytesGiveAnEmptyDescriptor) {
    const auto descriptor = D::parse(Bytes{});
    ASSERT_TRUE(descriptor);
    EXPECT_TRUE(descriptor->reports.empty());
    EXPECT_TRUE(descriptor->applications.empty());
    EXPECT_FALSE(descriptor->isMultiAxisController());
    EXPECT_FALSE(descriptor->axisLogicalMaximum());
}

TEST(HIDReportDescriptor, applicationCollectionTakesItsFirstUsage) {
    const auto descriptor = parsed({0x05, 0x01, 0x09, 0x08, 0xA1, 0x01, 0xC0});
    EXPECT_EQ(descriptor.applications, std::vector<Usage>{D::multiAxisController});
    EXPECT_TRUE(descriptor.reports.empty());
    EXPECT_TRUE(descriptor.isMultiAxisController());

    // Physical collections and applications without usages add nothing.
    const auto other = parsed({0x05, 0x01, 0x09, 0x08, 0xA1, 0x00, 0xC0, 0xA1, 0x01, 0xC0});
    EXPECT_TRUE(other.applications.empty());
    // Two usages: the first names the application.
    const auto two = parsed({0x05, 0x01, 0x09, 0x04, 0x09, 0x08, 0xA1, 0x01, 0xC0});
    EXPECT_EQ(two.applications, (std::vector<Usage>{{1, 4}}));
    EXPECT_FALSE(two.isMultiAxisController());
}

struct TruncationRow {
    const char* what;
    Bytes bytes;
    bool parses;
};

TEST(HIDReportDescriptor, anItemRunningPastTheEndSpoilsTheWhole) {
    const TruncationRow rows[] = {
        {"two-byte maximum with one byte", {0x05, 0x01, 0x26, 0xFF}, false},
        {"two-byte maximum complete", {0x05, 0x01, 0x26, 0xFF, 0x00}, true},
        {"four-byte item with three", {0x07, 0x01, 0x00, 0x00}, false},
        {"four-byte item complete", {0x07, 0x01, 0x00, 0x00, 0x00}, true},
        {"one-byte item without data", {0x05}, false},
        {"zero-byte item at the end", {0x05, 0x01, 0xC0}, true},
        {"lone long-item prefix", {0x05, 0x01, 0xFE}, false},
        {"long-item prefix and one byte", {0xFE, 0x00}, false},
        {"long item with three bytes", {0xFE, 0x00, 0x00}, true},
        {"long item running past the end", {0xFE, 0x10, 0x00, 0x01}, true},
        {"long item followed by items", {0xFE, 0x01, 0x00, 0xAA, 0x05, 0x01}, true},
        {"long item then truncated item", {0xFE, 0x01, 0x00, 0xAA, 0x05}, false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        EXPECT_EQ(D::parse(row.bytes).has_value(), row.parses);
    }
}

TEST(HIDReportDescriptor, longItemDataIsSkipped) {
    // The long item's data looks like a Usage Page and an application collection; both skipped.
    const auto descriptor =
        parsed({0xFE, 0x04, 0x00, 0x05, 0x01, 0xA1, 0x01, 0x09, 0x08, 0xA1, 0x01, 0xC0});
    EXPECT_EQ(descriptor.applications, (std::vector<Usage>{{0, 8}}));
}

struct MaximumRow {
    const char* what;
    Bytes items;
    std::int64_t minimum;
    std::int64_t maximum;
};

TEST(HIDReportDescriptor, logicalMaximumIsReReadAsUnsignedWhenTheMinimumIsNot) {
    const MaximumRow rows[] = {
        {"two-byte 0x00FF", {0x15, 0x00, 0x26, 0xFF, 0x00}, 0, 255},
        {"one-byte 0xFF", {0x15, 0x00, 0x25, 0xFF}, 0, 255},
        {"one-byte 0xFF, minimum -1", {0x15, 0xFF, 0x25, 0xFF}, -1, -1},
        {"two-byte 0xFFFF", {0x15, 0x00, 0x26, 0xFF, 0xFF}, 0, 65535},
        {"four-byte 0xFFFFFFFF", {0x15, 0x00, 0x27, 0xFF, 0xFF, 0xFF, 0xFF}, 0, 4294967295},
        {"one-byte 0x80", {0x25, 0x80}, 0, 128},
        {"one-byte 0x7F", {0x15, 0x81, 0x25, 0x7F}, -127, 127},
        {"two-byte -350..350", {0x16, 0xA2, 0xFE, 0x26, 0x5E, 0x01}, -350, 350},
        {"no data", {0x15, 0x00, 0x24}, 0, 0},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        Bytes bytes = row.items;
        bytes.insert(bytes.end(), {0x75, 0x08, 0x95, 0x01, 0x81, 0x02});
        const auto descriptor = parsed(bytes);
        ASSERT_EQ(descriptor.reports.size(), 1u);
        ASSERT_EQ(descriptor.reports[0].fields.size(), 1u);
        EXPECT_EQ(descriptor.reports[0].fields[0].logicalMinimum, row.minimum);
        EXPECT_EQ(descriptor.reports[0].fields[0].logicalMaximum, row.maximum);
    }
}

TEST(HIDReportDescriptor, usageRangesUpToTenTwentyFour) {
    struct Row {
        std::uint32_t minimum;
        std::uint32_t maximum;
        std::size_t count;
    };
    const Row rows[] = {{1, 1024, 1024}, {1, 1025, 0}, {1, 0, 0}, {5, 5, 1},
                        {0, 1023, 1024}, {0, 1024, 0}, {3, 2, 0}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.maximum);
        DescriptorBuilder b;
        b.usagePage(9)
            .usageMinimum(row.minimum)
            .usageMaximum(row.maximum)
            .reportSize(1)
            .reportCount(1)
            .input(2);
        const auto descriptor = parsed(b.bytes);
        ASSERT_EQ(descriptor.reports.size(), 1u);
        const auto& usages = descriptor.reports[0].fields[0].usages;
        ASSERT_EQ(usages.size(), row.count);
        if (row.count > 0) {
            EXPECT_EQ(usages.front(), (Usage{9, row.minimum}));
            EXPECT_EQ(usages.back(), (Usage{9, row.maximum}));
        }
    }
}

TEST(HIDReportDescriptor, usageMaximumWithoutMinimumAddsNothingAndMinimumEndsWithMainItem) {
    DescriptorBuilder b;
    b.usagePage(9).usageMaximum(3).reportSize(1).reportCount(1).input(2);
    b.usageMinimum(1).reportCount(1).input(2); // the pending minimum ends here
    b.usageMaximum(4).input(2);
    const auto descriptor = parsed(b.bytes);
    ASSERT_EQ(descriptor.reports.size(), 1u);
    for (const auto& field : descriptor.reports[0].fields)
        EXPECT_TRUE(field.usages.empty());
}

TEST(HIDReportDescriptor, extendedUsagesCarryTheirOwnPage) {
    // Usage 0x00090003 (Button 3) while the page is Generic Desktop; a range from an extended
    // minimum keeps the minimum's page.
    const auto descriptor =
        parsed({0x05, 0x01, 0x0B, 0x03, 0x00, 0x09, 0x00, 0x09, 0x30, 0x1B, 0x01, 0x00, 0x08,
                0x00, 0x2B, 0x02, 0x00, 0x01, 0x00, 0x75, 0x01, 0x95, 0x04, 0x81, 0x02});
    ASSERT_EQ(descriptor.reports.size(), 1u);
    EXPECT_EQ(descriptor.reports[0].fields[0].usages,
              (std::vector<Usage>{{9, 3}, {1, 0x30}, {8, 1}, {8, 2}}));
}

TEST(HIDReportDescriptor, usagePageIsFixedWhenTheUsageIsRead) {
    const auto descriptor = parsed(
        {0x05, 0x01, 0x09, 0x30, 0x05, 0x09, 0x09, 0x01, 0x75, 0x08, 0x95, 0x02, 0x81, 0x02});
    EXPECT_EQ(descriptor.reports[0].fields[0].usages, (std::vector<Usage>{{1, 0x30}, {9, 1}}));
}

TEST(HIDReportDescriptor, fieldsGoToTheReportOfTheirIdAndKind) {
    DescriptorBuilder b;
    b.reportSize(8).reportCount(1).input(2); // before any id: report 0
    b.reportID(8).input(2).input(3).feature(2);
    b.reportID(3).reportSize(4).output(2);
    b.reportID(8).input(2);
    const auto descriptor = parsed(b.bytes);
    ASSERT_EQ(descriptor.reports.size(), 4u);
    EXPECT_EQ(descriptor.reports[0].id, 0);
    EXPECT_EQ(descriptor.reports[0].kind, Kind::input);
    EXPECT_EQ(descriptor.reports[1].id, 8);
    EXPECT_EQ(descriptor.reports[1].kind, Kind::input);
    EXPECT_EQ(descriptor.reports[1].fields.size(), 3u);
    EXPECT_EQ(descriptor.reports[1].fields[1].flags, 3);
    EXPECT_TRUE(descriptor.reports[1].fields[1].isConstant());
    EXPECT_EQ(descriptor.reports[2].id, 8);
    EXPECT_EQ(descriptor.reports[2].kind, Kind::feature);
    EXPECT_EQ(descriptor.reports[3].id, 3);
    EXPECT_EQ(descriptor.reports[3].kind, Kind::output);
    EXPECT_EQ(descriptor.reports[3].fields[0].size, 4);
    EXPECT_EQ(descriptor.report(8, Kind::feature), &descriptor.reports[2]);
    EXPECT_EQ(descriptor.report(3, Kind::input), nullptr);
    EXPECT_EQ(descriptor.featureReportIDs(), std::vector<std::uint8_t>{8});
}

TEST(HIDReportDescriptor, reportIdIsTheLowByte) {
    const auto descriptor = parsed({0x86, 0x07, 0x01, 0x75, 0x08, 0x95, 0x01, 0xB1, 0x02});
    ASSERT_EQ(descriptor.reports.size(), 1u);
    EXPECT_EQ(descriptor.reports[0].id, 7);
}

TEST(HIDReportDescriptor, pushAndPopSaveAllGlobalState) {
    DescriptorBuilder b;
    b.usagePage(1).reportID(2).reportSize(8).reportCount(2).logicalMinimum(0).raw({0x25, 0xFF});
    b.raw({0xA4}); // push
    b.usagePage(9).reportID(5).reportSize(16).reportCount(1).logicalMinimum(-5).logicalMaximum(5);
    b.input(2);
    b.raw({0xB4}); // pop
    b.usage(0x30).input(2);
    b.raw({0xB4, 0xB4}); // pops on an empty stack are ignored
    b.input(2);
    const auto descriptor = parsed(b.bytes);
    ASSERT_EQ(descriptor.reports.size(), 2u);
    EXPECT_EQ(descriptor.reports[0].id, 5);
    EXPECT_EQ(descriptor.reports[0].fields[0].size, 16);
    const auto& restored = descriptor.reports[1];
    EXPECT_EQ(restored.id, 2);
    ASSERT_EQ(restored.fields.size(), 2u);
    EXPECT_EQ(restored.fields[0].size, 8);
    EXPECT_EQ(restored.fields[0].count, 2);
    EXPECT_EQ(restored.fields[0].logicalMinimum, 0);
    // The one-byte width of the saved maximum came back with it: 0xFF re-reads as 255.
    EXPECT_EQ(restored.fields[0].logicalMaximum, 255);
    EXPECT_EQ(restored.fields[0].usages, (std::vector<Usage>{{1, 0x30}}));
}

TEST(HIDReportDescriptor, reportBitsAndLength) {
    using Field = D::Field;
    const D::Report withID{3, Kind::input, {Field{{}, 0, 0, 8, 1, 0}, Field{{}, 0, 0, 4, 1, 0}}};
    EXPECT_EQ(withID.bits(), 12);
    EXPECT_EQ(withID.length(), 3);
    D::Report withoutID = withID;
    withoutID.id = 0;
    EXPECT_EQ(withoutID.length(), 2);
    const D::Report empty{0, Kind::feature, {}};
    EXPECT_EQ(empty.bits(), 0);
    EXPECT_EQ(empty.length(), 0);
    const D::Report exact{1, Kind::input, {Field{{}, 0, 0, 16, 6, 0}}};
    EXPECT_EQ(exact.length(), 13);
}

TEST(HIDReportDescriptor, aMainItemWithoutReportCountHasNoBits) {
    DescriptorBuilder noCount;
    noCount.reportSize(8).input(2);
    EXPECT_EQ(parsed(noCount.bytes).reports.at(0).bits(), 0);
}

TEST(HIDReportDescriptor, reportBitsSaturateInsteadOfOverflowing) {
    // Report Size and Report Count of 0xFFFFFFFF each, twice.
    const auto descriptor = parsed({0x77, 0xFF, 0xFF, 0xFF, 0xFF, 0x97, 0xFF, 0xFF, 0xFF, 0xFF,
                                    0x85, 0x01, 0x81, 0x02, 0x81, 0x02});
    ASSERT_EQ(descriptor.reports.size(), 1u);
    EXPECT_EQ(descriptor.reports[0].fields[0].size, 0xFFFFFFFF);
    EXPECT_EQ(descriptor.reports[0].bits(), INT64_MAX);
    EXPECT_EQ(descriptor.reports[0].length(), INT64_MAX / 8 + 2);
}

TEST(HIDReportDescriptor, aDescriptorListingOverAMillionUsagesIsRefused) {
    // One pending minimum and 1024 maxima: exactly 2^20 usages, the most accepted.
    Bytes bytes{0x05, 0x09, 0x19, 0x00};
    for (int i = 0; i < 1024; ++i)
        bytes.insert(bytes.end(), {0x2A, 0xFF, 0x03});
    const auto largest = D::parse(bytes);
    ASSERT_TRUE(largest);
    EXPECT_TRUE(largest->reports.empty());
    bytes.insert(bytes.end(), {0x09, 0x01});
    EXPECT_FALSE(D::parse(bytes));
}

TEST(HIDReportDescriptor, fieldUsageRepeatsTheLastListedUsage) {
    D::Field field;
    EXPECT_FALSE(field.usage(0));
    field.usages = {{9, 1}, {9, 2}};
    EXPECT_EQ(field.usage(0), (Usage{9, 1}));
    EXPECT_EQ(field.usage(1), (Usage{9, 2}));
    EXPECT_EQ(field.usage(7), (Usage{9, 2}));
    field.flags = 0b111;
    EXPECT_TRUE(field.isConstant());
    EXPECT_TRUE(field.isVariable());
    EXPECT_TRUE(field.isRelative());
}

TEST(HIDReportDescriptor, buttonUsagesOfVariableAndArrayFields) {
    struct Row {
        const char* what;
        DescriptorBuilder builder;
        std::vector<std::int64_t> expected;
    };
    auto variable = DescriptorBuilder();
    variable.usagePage(9).usageMinimum(1).usageMaximum(3).reportSize(1).reportCount(5).input(2);
    auto shortCount = DescriptorBuilder();
    shortCount.usagePage(9).usageMinimum(1).usageMaximum(8).reportSize(1).reportCount(2).input(2);
    auto array = DescriptorBuilder();
    array.usagePage(9).usageMinimum(4).usageMaximum(6).reportSize(8).reportCount(1).input(0);
    auto constant = DescriptorBuilder();
    constant.usagePage(9).usageMinimum(1).usageMaximum(2).reportSize(1).reportCount(2).input(3);
    auto output = DescriptorBuilder();
    output.usagePage(9).usageMinimum(1).usageMaximum(2).reportSize(1).reportCount(2).output(2);
    auto repeats = DescriptorBuilder();
    repeats.usagePage(9).usage(2).usage(1).reportSize(1).reportCount(2).input(2);
    repeats.usage(1).usage(3).input(2);
    auto mixed = DescriptorBuilder();
    mixed.usagePage(1).usage(0x30).usagePage(9).usage(5).reportSize(8).reportCount(2).input(2);
    auto zeroCount = DescriptorBuilder();
    zeroCount.usagePage(9).usage(5).reportSize(8).reportCount(0).input(2);
    const Row rows[] = {
        {"variable, count past the usages", variable, {1, 2, 3}},
        {"variable, count below the usages", shortCount, {1, 2}},
        {"array lists all usages", array, {4, 5, 6}},
        {"constant field", constant, {}},
        {"output report", output, {}},
        {"repeats removed, first kept", repeats, {2, 1, 3}},
        {"only button-page ids", mixed, {5}},
        {"zero count", zeroCount, {}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        EXPECT_EQ(parsed(row.builder.bytes).buttonUsages(), row.expected);
    }
}

TEST(HIDReportDescriptor, axisLogicalMaximumConsidersAxisInputFieldsOnly) {
    // One 8-bit field on Generic Desktop per row: usages, maximum, count and main item.
    struct Row {
        const char* what;
        std::vector<std::uint32_t> usages;
        std::int32_t maximum;
        std::uint32_t count;
        std::uint8_t main; // 0x81 input, 0xB1 feature
        std::uint32_t flags;
        std::optional<std::int64_t> expected;
    };
    const Row rows[] = {
        {"X with 350", {0x30}, 350, 1, 0x81, 2, 350},
        {"Rz, the last axis", {0x35}, 16, 1, 0x81, 2, 16},
        {"Vx (0x40) is no axis", {0x40}, 16, 1, 0x81, 2, std::nullopt},
        {"Wheel (0x38) is no axis", {0x38}, 16, 1, 0x81, 2, std::nullopt},
        {"0x2F is no axis", {0x2F}, 16, 1, 0x81, 2, std::nullopt},
        {"constant", {0x30}, 16, 1, 0x81, 3, std::nullopt},
        {"zero count", {0x30}, 16, 0, 0x81, 2, std::nullopt},
        {"feature", {0x30}, 16, 1, 0xB1, 2, std::nullopt},
        {"axis past the count", {0x01, 0x30}, 16, 1, 0x81, 2, std::nullopt},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        DescriptorBuilder b;
        b.usagePage(1);
        for (auto usage : row.usages)
            b.usage(usage);
        b.logicalMaximum(row.maximum).reportSize(8).reportCount(row.count);
        b.item(row.main & 0xFC, row.flags, 1);
        EXPECT_EQ(parsed(b.bytes).axisLogicalMaximum(), row.expected);
    }
    DescriptorBuilder two;
    two.usagePage(1).reportSize(8).reportCount(1);
    two.usage(0x30).logicalMaximum(16).input(2).usage(0x31).logicalMaximum(32).input(2);
    two.usage(0x32).logicalMaximum(8).input(2);
    EXPECT_EQ(parsed(two.bytes).axisLogicalMaximum(), 32);
}

TEST(HIDReportDescriptor, realDevices) {
    const auto navigator = parsed(testing::spaceNavigatorDescriptor);
    EXPECT_TRUE(navigator.isMultiAxisController());
    EXPECT_EQ(navigator.axisLogicalMaximum(), 350);
    EXPECT_TRUE(navigator.axesDeclaredRelative());
    EXPECT_EQ(navigator.buttonUsages(), (std::vector<std::int64_t>{1, 2}));
    EXPECT_TRUE(navigator.hasLED());
    EXPECT_EQ(navigator.featureReportIDs(), (std::vector<std::uint8_t>{5, 6, 7}));
    ASSERT_NE(navigator.report(1, Kind::input), nullptr);
    EXPECT_EQ(navigator.report(1, Kind::input)->length(), 7);
    EXPECT_EQ(navigator.report(3, Kind::input)->length(), 3);
    EXPECT_EQ(navigator.report(4, Kind::output)->length(), 2);

    const auto wireless = parsed(testing::wirelessDescriptor);
    EXPECT_TRUE(wireless.isMultiAxisController());
    EXPECT_EQ(wireless.axisLogicalMaximum(), 350);
    EXPECT_FALSE(wireless.axesDeclaredRelative());
    EXPECT_EQ(wireless.buttonUsages(), (std::vector<std::int64_t>{1, 2}));
    EXPECT_TRUE(wireless.hasLED());
    EXPECT_EQ(wireless.featureReportIDs(), std::vector<std::uint8_t>{8});
    EXPECT_EQ(wireless.report(1, Kind::input)->length(), 13);
    EXPECT_EQ(wireless.report(0x17, Kind::input)->length(), 3);
    EXPECT_EQ(wireless.report(8, Kind::feature)->length(), 8);
}

TEST(HIDReportDescriptor, ledNeedsTheGenericIndicatorInAnOutputReport) {
    DescriptorBuilder input;
    input.usagePage(8).usage(0x4B).reportSize(1).reportCount(1).input(2);
    EXPECT_FALSE(parsed(input.bytes).hasLED());
    DescriptorBuilder otherLED;
    otherLED.usagePage(8).usage(0x01).reportSize(1).reportCount(1).output(2);
    EXPECT_FALSE(parsed(otherLED.bytes).hasLED());
    DescriptorBuilder indicator;
    indicator.usagePage(8).usage(0x4B).reportSize(1).reportCount(1).output(2);
    EXPECT_TRUE(parsed(indicator.bytes).hasLED());
}

TEST(HIDReportDescriptor, axesDeclaredRelativeNeedsTheRelativeFlagOnAnAxis) {
    DescriptorBuilder relativeButton;
    relativeButton.usagePage(9).usage(1).reportSize(8).reportCount(1).input(6);
    EXPECT_FALSE(parsed(relativeButton.bytes).axesDeclaredRelative());
    DescriptorBuilder relativeAxis;
    relativeAxis.usagePage(1).usage(0x01).usage(0x33).reportSize(8).reportCount(1).input(6);
    EXPECT_TRUE(parsed(relativeAxis.bytes).axesDeclaredRelative());
}

TEST(HIDReportDescriptorJSON, kindAndUsage) {
    EXPECT_EQ(nlohmann::json(Kind::feature), "feature");
    EXPECT_EQ(nlohmann::json("output").get<Kind>(), Kind::output);
    EXPECT_THROW(nlohmann::json("Input").get<Kind>(), std::exception);
    EXPECT_EQ(nlohmann::json(Usage{1, 8}), nlohmann::json::parse(R"({"page":1,"id":8})"));
    EXPECT_EQ(nlohmann::json::parse(R"({"id":8,"page":1})").get<Usage>(), (Usage{1, 8}));
    EXPECT_THROW(nlohmann::json::parse(R"({"page":1})").get<Usage>(), std::exception);
}

} // namespace
} // namespace smk
