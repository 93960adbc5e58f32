#include "SpaceMouseKit/SpaceMouseReport.h"

#include <gtest/gtest.h>

namespace smk {
namespace {

using B = SpaceMouseButtons;
using Bytes = std::vector<std::uint8_t>;
namespace R = SpaceMouseReport;

const SpaceMouseAxes untouched{101, 102, 103, 104, 105, 106};

// Each report id fills its own axes and leaves the others as they were.
TEST(SpaceMouseReport, takeFillsTheAxesOfItsReport) {
    const Bytes full{0x01, 0x01, 0x00, 0xFF, 0x7F, 0xFE, 0xFF, 0x5E, 0x01, 0xA2, 0xFE, 0x00, 0x00};
    const std::tuple<Bytes, bool, SpaceMouseAxes> rows[] = {
        {{0x01, 0x10, 0x00, 0xF0, 0xFF, 0x00, 0x80}, true, {16, -16, -32768, 104, 105, 106}},
        {full, true, {1, 32767, -2, 350, -350, 0}},
        // Twelve bytes are not enough for the rotation part.
        {Bytes(full.begin(), full.end() - 1), true, {1, 32767, -2, 104, 105, 106}},
        {{0x02, 0x05, 0x00, 0xFB, 0xFF, 0x00, 0x01, 0xEE}, true, {101, 102, 103, 5, -5, 256}},
        {{0x01, 0x10, 0x00, 0xF0, 0xFF, 0x00}, false, untouched},
        {{0x02, 0x10, 0x00, 0xF0, 0xFF, 0x00}, false, untouched},
        {{0x03, 0x10, 0x00, 0xF0, 0xFF, 0x00, 0x80}, false, untouched},
        {{}, false, untouched},
    };
    for (const auto& [report, taken, expected] : rows) {
        SpaceMouseAxes axes = untouched;
        EXPECT_EQ(R::take(report, axes), taken) << report.size();
        EXPECT_EQ(axes, expected) << report.size();
    }
}

TEST(SpaceMouseReport, completes) {
    EXPECT_TRUE(R::completes(Bytes{0x02}));
    EXPECT_FALSE(R::completes(Bytes{0x01, 0, 0, 0, 0, 0, 0}));
    EXPECT_FALSE(R::completes(Bytes(12, 0x01)));
    EXPECT_TRUE(R::completes(Bytes(13, 0x01)));
    EXPECT_FALSE(R::completes(Bytes{}));
    EXPECT_FALSE(R::completes(Bytes{0x03, 0x01}));
}

TEST(SpaceMouseReport, buttonBitsAndTheModelsButtons) {
    EXPECT_EQ(R::buttonBits(Bytes{0x03, 0x05, 0x80}), (std::vector<int>{0, 2, 15}));
    EXPECT_EQ(R::buttonBits(Bytes{0x03, 0x00}), std::vector<int>{});
    EXPECT_EQ(R::buttonBits(Bytes{0x03}), std::nullopt);
    EXPECT_EQ(R::buttonBits(Bytes{0x01, 0x05}), std::nullopt);
    const auto& pro = SpaceMouseModel::spaceMousePro();
    EXPECT_EQ(R::buttons(Bytes{0x03, 0x01, 0x10}, pro), (B{B::menu, B::key1}));
    EXPECT_EQ(R::buttons(Bytes{0x03, 0x08}, pro), B());
    EXPECT_EQ(R::buttons(Bytes{0x03}, pro), std::nullopt);
    EXPECT_EQ(R::unknownBit(Bytes{0x03, 0x09}, pro), 3);
    EXPECT_EQ(R::unknownBit(Bytes{0x03, 0x01}, pro), std::nullopt);
    EXPECT_EQ(R::unknownBit(Bytes{0x02, 0x08}, pro), std::nullopt);
    // Positions past 63: bytes 10 and 22 carry the enterprise device's extra keys.
    Bytes wide(23, 0x00);
    wide[0] = 0x03;
    wide[10] = 0x10;
    wide[22] = 0x80;
    EXPECT_EQ(R::buttonBits(wide), (std::vector<int>{76, 175}));
    EXPECT_EQ(R::buttons(wide, SpaceMouseModel::enterprise()), (B{B::key11, B::space}));
}

TEST(SpaceMouseReport, battery) {
    EXPECT_EQ(R::battery(Bytes{0x17, 0x64}), (R::Battery{100, false}));
    EXPECT_EQ(R::battery(Bytes{0x17, 0x50, 0x01}), (R::Battery{80, true}));
    EXPECT_EQ(R::battery(Bytes{0x17, 0x50, 0xFE}), (R::Battery{80, false}));
    EXPECT_EQ(R::battery(Bytes{0x17, 0x00, 0x03, 0x00}), (R::Battery{0, true}));
    EXPECT_EQ(R::battery(Bytes{0x17, 0x65, 0x01}), std::nullopt);
    EXPECT_EQ(R::battery(Bytes{0x17}), std::nullopt);
    EXPECT_EQ(R::battery(Bytes{0x16, 0x50}), std::nullopt);
}

TEST(SpaceMouseReport, serialNumber) {
    struct Row {
        Bytes bytes;
        std::optional<std::string> expected;
    };
    const Row rows[] = {
        {{0x08, 0x41, 0x42, 0x00, 0x00, 0x00, 0x30, 0x39}, "AB12345"},
        {{0x08, 0x61, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00}, std::nullopt}, // number 0
        {{0x08, 0x31, 0x42, 0x00, 0x00, 0x00, 0x30, 0x39}, std::nullopt}, // no letter first
        {{0x08, 0x41, 0x42, 0x00, 0x00, 0x00, 0x30}, std::nullopt},       // short
        {{0x07, 0x41, 0x42, 0x00, 0x00, 0x00, 0x30, 0x39}, std::nullopt}, // other report
        // One letter and six number bytes big-endian: the first number byte counts most.
        {{0x08, 0x5A, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00}, "Z1099511627776"},
        {{0x08, 0x41, 0x5A, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}, "AZ1099511627775"},
        {{0x08, 0x41, 0x42, 0x00, 0x00, 0x00, 0x00, 0x01, 0xFF}, "AB1"}, // ninth byte ignored
        // Letters just outside the alphabet.
        {{0x08, 0x40, 0x42, 0x00, 0x00, 0x00, 0x00, 0x01}, std::nullopt},
        {{0x08, 0x5B, 0x42, 0x00, 0x00, 0x00, 0x00, 0x01}, std::nullopt},
        {{0x08, 0x7A, 0x60, 0x00, 0x00, 0x00, 0x00, 0x01}, "z105553116266497"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.bytes.size());
        EXPECT_EQ(R::serialNumber(row.bytes), row.expected);
    }
}

} // namespace
} // namespace smk
