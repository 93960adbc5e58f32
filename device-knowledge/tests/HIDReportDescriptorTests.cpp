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

TEST(HIDReportDescriptor, anItemRunningPastTheEndSpoilsTheWhole) {
    const std::tuple<const char*, Bytes, bool> rows[] = {
        {"empty bytes", {}, true},
        {"two-byte maximum with one byte", {0x05, 0x01, 0x26, 0xFF}, false},
        {"four-byte item with three", {0x07, 0x01, 0x00, 0x00}, false},
        {"four-byte item complete", {0x07, 0x01, 0x00, 0x00, 0x00}, true},
        {"one-byte item without data", {0x05}, false},
        {"zero-byte item at the end", {0x05, 0x01, 0xC0}, true},
        {"long-item prefix and one byte", {0xFE, 0x00}, false},
        {"long item running past the end", {0xFE, 0x10, 0x00, 0x01}, true},
        {"long item then truncated item", {0xFE, 0x01, 0x00, 0xAA, 0x05}, false},
    };
    for (const auto& [what, bytes, parses] : rows)
        EXPECT_EQ(D::parse(bytes).has_value(), parses) << what;
    EXPECT_TRUE(parsed({}).reports.empty());
    EXPECT_FALSE(parsed({}).isMultiAxisController());
}

TEST(HIDReportDescriptor, applicationCollectionTakesItsFirstUsage) {
    const auto descriptor = parsed({0x05, 0x01, 0x09, 0x08, 0xA1, 0x01, 0xC0});
    EXPECT_EQ(descriptor.applications, std::vector<Usage>{D::multiAxisController});
    EXPECT_TRUE(descriptor.isMultiAxisController());
    // Physical collections and applications without usages add nothing.
    EXPECT_TRUE(parsed({0x05, 0x01, 0x09, 0x08, 0xA1, 0x00, 0xC0, 0xA1, 0x01, 0xC0})
                    .applications.empty());
    const auto two = parsed({0x05, 0x01, 0x09, 0x04, 0x09, 0x08, 0xA1, 0x01, 0xC0});
    EXPECT_EQ(two.applications, (std::vector<Usage>{{1, 4}}));
    EXPECT_FALSE(two.isMultiAxisController());
    // A long item's data looks like a Usage Page and an application collection; both skipped.
    EXPECT_EQ(parsed({0xFE, 0x04, 0x00, 0x05, 0x01, 0xA1, 0x01, 0x09, 0x08, 0xA1, 0x01, 0xC0})
                  .applications,
              (std::vector<Usage>{{0, 8}}));
}

TEST(HIDReportDescriptor, logicalMaximumIsReReadAsUnsignedWhenTheMinimumIsNot) {
    const std::tuple<const char*, Bytes, std::int64_t, std::int64_t> rows[] = {
        {"two-byte 0x00FF", {0x15, 0x00, 0x26, 0xFF, 0x00}, 0, 255},
        {"one-byte 0xFF", {0x15, 0x00, 0x25, 0xFF}, 0, 255},
        {"one-byte 0xFF, minimum -1", {0x15, 0xFF, 0x25, 0xFF}, -1, -1},
        {"four-byte 0xFFFFFFFF", {0x15, 0x00, 0x27, 0xFF, 0xFF, 0xFF, 0xFF}, 0, 4294967295},
        {"one-byte 0x80", {0x25, 0x80}, 0, 128},
        {"two-byte -350..350", {0x16, 0xA2, 0xFE, 0x26, 0x5E, 0x01}, -350, 350},
        {"no data", {0x15, 0x00, 0x24}, 0, 0},
    };
    for (const auto& [what, items, minimum, maximum] : rows) {
        SCOPED_TRACE(what);
        Bytes bytes = items;
        bytes.insert(bytes.end(), {0x75, 0x08, 0x95, 0x01, 0x81, 0x02});
        const auto descriptor = parsed(bytes);
        ASSERT_EQ(descriptor.reports.size(), 1u);
        EXPECT_EQ(descriptor.reports[0].fields.at(0).logicalMinimum, minimum);
        EXPECT_EQ(descriptor.reports[0].fields.at(0).logicalMaximum, maximum);
    }
}

TEST(HIDReportDescriptor, usageRangesUpToTenTwentyFour) {
    const std::tuple<std::uint32_t, std::uint32_t, std::size_t> rows[] = {
        {1, 1024, 1024}, {1, 1025, 0}, {1, 0, 0}, {5, 5, 1}, {0, 1023, 1024}, {0, 1024, 0},
        {3, 2, 0}};
    for (const auto& [minimum, maximum, count] : rows) {
        SCOPED_TRACE(maximum);
        DescriptorBuilder b;
        b.usagePage(9).usageMinimum(minimum).usageMaximum(maximum).reportSize(1).reportCount(1);
        const auto usages = parsed(b.input(2).bytes).reports.at(0).fields.at(0).usages;
        ASSERT_EQ(usages.size(), count);
        if (count > 0) {
            EXPECT_EQ(usages.front(), (Usage{9, minimum}));
            EXPECT_EQ(usages.back(), (Usage{9, maximum}));
        }
    }
    // A maximum without a pending minimum adds nothing, and a main item ends the minimum.
    DescriptorBuilder b;
    b.usagePage(9).usageMaximum(3).reportSize(1).reportCount(1).input(2);
    b.usageMinimum(1).input(2).usageMaximum(4).input(2);
    const auto descriptor = parsed(b.bytes);
    for (const auto& field : descriptor.reports.at(0).fields)
        EXPECT_TRUE(field.usages.empty());
}

TEST(HIDReportDescriptor, usagesTakeThePageInForceOrTheirOwn) {
    // Usage 0x00090003 (Button 3) while the page is Generic Desktop; a range from an extended
    // minimum keeps the minimum's page; a later Usage Page does not change earlier usages.
    const auto descriptor =
        parsed({0x05, 0x01, 0x0B, 0x03, 0x00, 0x09, 0x00, 0x09, 0x30, 0x1B, 0x01, 0x00, 0x08,
                0x00, 0x2B, 0x02, 0x00, 0x01, 0x00, 0x05, 0x09, 0x09, 0x01, 0x75, 0x01, 0x95,
                0x04, 0x81, 0x02});
    EXPECT_EQ(descriptor.reports.at(0).fields.at(0).usages,
              (std::vector<Usage>{{9, 3}, {1, 0x30}, {8, 1}, {8, 2}, {9, 1}}));
}

TEST(HIDReportDescriptor, fieldsGoToTheReportOfTheirIdAndKind) {
    DescriptorBuilder b;
    b.reportSize(8).reportCount(1).input(2); // before any id: report 0
    b.reportID(8).input(2).input(3).feature(2);
    b.reportID(3).reportSize(4).output(2);
    b.reportID(8).input(2);
    b.raw({0x86, 0x07, 0x01}).feature(2); // a two-byte id: its low byte counts
    const auto descriptor = parsed(b.bytes);
    const std::vector<std::tuple<int, Kind, std::size_t>> expected{
        {0, Kind::input, 1}, {8, Kind::input, 3}, {8, Kind::feature, 1},
        {3, Kind::output, 1}, {7, Kind::feature, 1}};
    std::vector<std::tuple<int, Kind, std::size_t>> seen;
    for (const auto& report : descriptor.reports)
        seen.emplace_back(report.id, report.kind, report.fields.size());
    EXPECT_EQ(seen, expected);
    EXPECT_TRUE(descriptor.reports[1].fields[1].isConstant());
    EXPECT_EQ(descriptor.report(8, Kind::feature), &descriptor.reports[2]);
    EXPECT_EQ(descriptor.report(3, Kind::input), nullptr);
    EXPECT_EQ(descriptor.featureReportIDs(), (std::vector<std::uint8_t>{8, 7}));
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
    EXPECT_EQ(descriptor.reports[1].id, 2);
    ASSERT_EQ(descriptor.reports[1].fields.size(), 2u);
    // The one-byte width of the saved maximum came back with it: 0xFF re-reads as 255.
    const D::Field restored{{{1, 0x30}}, 0, 255, 8, 2, 2};
    EXPECT_EQ(descriptor.reports[1].fields[0], restored);
}

TEST(HIDReportDescriptor, reportLengthRoundsBitsUpAndAddsTheIdByte) {
    using Field = D::Field;
    D::Report report{3, Kind::input, {Field{{}, 0, 0, 8, 1, 0}, Field{{}, 0, 0, 4, 1, 0}}};
    EXPECT_EQ(report.bits(), 12);
    EXPECT_EQ(report.length(), 3);
    report.id = 0;
    EXPECT_EQ(report.length(), 2);
    EXPECT_EQ((D::Report{0, Kind::feature, {}}).length(), 0);
    // A main item without Report Count has no bits.
    EXPECT_EQ(parsed(DescriptorBuilder().reportSize(8).input(2).bytes).reports.at(0).bits(), 0);
    // Report Size and Report Count of 0xFFFFFFFF each, twice: the sum saturates.
    const auto huge = parsed({0x77, 0xFF, 0xFF, 0xFF, 0xFF, 0x97, 0xFF, 0xFF, 0xFF, 0xFF, 0x85,
                              0x01, 0x81, 0x02, 0x81, 0x02});
    EXPECT_EQ(huge.reports.at(0).bits(), INT64_MAX);
    EXPECT_EQ(huge.reports.at(0).length(), INT64_MAX / 8 + 2);
}

TEST(HIDReportDescriptor, aDescriptorListingOverAMillionUsagesIsRefused) {
    // One pending minimum and 1024 maxima: exactly 2^20 usages, the most accepted.
    Bytes bytes{0x05, 0x09, 0x19, 0x00};
    for (int i = 0; i < 1024; ++i)
        bytes.insert(bytes.end(), {0x2A, 0xFF, 0x03});
    ASSERT_TRUE(D::parse(bytes));
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
}

TEST(HIDReportDescriptor, buttonUsagesOfVariableAndArrayFields) {
    const auto buttons = [](std::uint32_t first, std::uint32_t last) {
        DescriptorBuilder b;
        return b.usagePage(9).usageMinimum(first).usageMaximum(last);
    };
    DescriptorBuilder repeats;
    repeats.usagePage(9).usage(2).usage(1).reportSize(1).reportCount(2).input(2);
    repeats.usage(1).usage(3).input(2);
    DescriptorBuilder mixed;
    mixed.usagePage(1).usage(0x30).usagePage(9).usage(5).reportSize(8).reportCount(2).input(2);
    const std::tuple<const char*, DescriptorBuilder, std::vector<std::int64_t>> rows[] = {
        {"variable, count past the usages", buttons(1, 3).reportSize(1).reportCount(5).input(2),
         {1, 2, 3}},
        {"variable, count below the usages", buttons(1, 8).reportSize(1).reportCount(2).input(2),
         {1, 2}},
        {"array lists all usages", buttons(4, 6).reportSize(8).reportCount(1).input(0), {4, 5, 6}},
        {"constant field", buttons(1, 2).reportSize(1).reportCount(2).input(3), {}},
        {"output report", buttons(1, 2).reportSize(1).reportCount(2).output(2), {}},
        {"zero count", buttons(5, 5).reportSize(8).reportCount(0).input(2), {}},
        {"repeats removed, first kept", repeats, {2, 1, 3}},
        {"only button-page ids", mixed, {5}},
    };
    for (const auto& [what, builder, expected] : rows)
        EXPECT_EQ(parsed(builder.bytes).buttonUsages(), expected) << what;
}

TEST(HIDReportDescriptor, axisLogicalMaximumConsidersAxisInputFieldsOnly) {
    // One 8-bit field on Generic Desktop per row: usages, count, main item (0x80 input, 0xB0
    // feature) and its flags.
    const std::tuple<const char*, std::vector<std::uint32_t>, std::uint32_t, std::uint8_t,
                     std::uint32_t, std::optional<std::int64_t>>
        rows[] = {
        {"X", {0x30}, 1, 0x80, 2, 350},
        {"Rz, the last axis", {0x35}, 1, 0x80, 2, 350},
        {"0x36 is no axis", {0x36}, 1, 0x80, 2, std::nullopt},
        {"0x2F is no axis", {0x2F}, 1, 0x80, 2, std::nullopt},
        {"constant", {0x30}, 1, 0x80, 3, std::nullopt},
        {"zero count", {0x30}, 0, 0x80, 2, std::nullopt},
        {"feature", {0x30}, 1, 0xB0, 2, std::nullopt},
        {"axis past the count", {0x01, 0x30}, 1, 0x80, 2, std::nullopt},
    };
    for (const auto& [what, usages, count, main, flags, expected] : rows) {
        DescriptorBuilder b;
        b.usagePage(1);
        for (auto usage : usages)
            b.usage(usage);
        b.logicalMaximum(350).reportSize(8).reportCount(count).item(main, flags, 1);
        EXPECT_EQ(parsed(b.bytes).axisLogicalMaximum(), expected) << what;
    }
    DescriptorBuilder two;
    two.usagePage(1).reportSize(8).reportCount(1);
    two.usage(0x30).logicalMaximum(16).input(2).usage(0x31).logicalMaximum(32).input(2);
    two.usage(0x32).logicalMaximum(8).input(2);
    EXPECT_EQ(parsed(two.bytes).axisLogicalMaximum(), 32);
}

TEST(HIDReportDescriptor, ledAndRelativeAxesNeedTheRightUsageAndKind) {
    const auto field = [](std::uint32_t page, std::uint32_t usage) {
        DescriptorBuilder b;
        return b.usagePage(page).usage(usage).reportSize(1).reportCount(1);
    };
    EXPECT_TRUE(parsed(field(8, 0x4B).output(2).bytes).hasLED());
    EXPECT_FALSE(parsed(field(8, 0x4B).input(2).bytes).hasLED());
    EXPECT_FALSE(parsed(field(8, 0x01).output(2).bytes).hasLED());
    EXPECT_TRUE(parsed(field(1, 0x33).input(6).bytes).axesDeclaredRelative());
    EXPECT_FALSE(parsed(field(9, 0x01).input(6).bytes).axesDeclaredRelative());
    EXPECT_FALSE(parsed(field(1, 0x33).input(2).bytes).axesDeclaredRelative());
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
    EXPECT_EQ(wireless.axisLogicalMaximum(), 350);
    EXPECT_FALSE(wireless.axesDeclaredRelative());
    EXPECT_EQ(wireless.featureReportIDs(), std::vector<std::uint8_t>{8});
    ASSERT_NE(wireless.report(1, Kind::input), nullptr);
    EXPECT_EQ(wireless.report(1, Kind::input)->length(), 13);
    EXPECT_EQ(wireless.report(0x17, Kind::input)->length(), 3);
    EXPECT_EQ(wireless.report(8, Kind::feature)->length(), 8);
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
