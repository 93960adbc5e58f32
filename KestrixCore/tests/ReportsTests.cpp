#include "KestrixCore/Reports.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

using namespace kestrix::core;
using smk::SpaceMouseAxes;
using smk::SpaceMouseButtons;

namespace {

// A decoder for the Compact (buttons at report bits 0 and 1) that writes down every call.
struct Recorder {
    std::vector<std::string> calls;
    double now = 0.0;
    Reports reports{
        64,
        smk::SpaceMouseModel::compact(),
        [this](std::span<const std::uint8_t> bytes) {
            calls.push_back("report " + std::to_string(bytes.size()));
        },
        [this](const SpaceMouseAxes& axes) { calls.push_back("axes " + axes.description()); },
        [this](SpaceMouseButtons buttons) {
            calls.push_back("buttons " + std::to_string(buttons.rawValue));
        },
        [this](int percent, bool charging) {
            calls.push_back("battery " + std::to_string(percent) + (charging ? " charging" : ""));
        },
        [this](const SpaceMouseAxes& rest) { calls.push_back("rest " + rest.description()); },
        [this] { return now; }};

    void ingest(std::vector<std::uint8_t> bytes) { reports.ingest(bytes); }
};

// Buttons go out only when the held set changes; every battery reading goes out.
TEST(ReportsButtons, onlyChangesOfTheHeldButtonsAreReportedEveryBatteryReadingIs) {
    Recorder r;
    r.ingest({3, 0});
    r.ingest({3, 1});
    r.ingest({3, 1});
    r.ingest({3, 3});
    r.ingest({3, 0});
    r.ingest({0x17, 80, 1});
    r.ingest({0x17, 80, 1});
    r.ingest({0x17, 100});
    EXPECT_EQ(r.calls, (std::vector<std::string>{
                           "report 2", "report 2", "buttons 1", "report 2", "report 2", "buttons 3",
                           "report 2", "buttons 0", "report 3", "battery 80 charging", "report 3",
                           "battery 80 charging", "report 2", "battery 100"}));
}

TEST(ReportsAxes, translationWaitsForTheRotationReportAndOtherReportsOnlyGoOutRaw) {
    Recorder r;
    r.ingest({});
    r.ingest({9, 1, 2, 3, 4, 5, 6});
    r.ingest({2, 1, 0}); // too short to carry the rotation
    r.ingest({1, 16, 0, 0xF0, 0xFF, 3, 0});
    r.ingest({2, 1, 0, 2, 0, 0xFF, 0xFF});
    r.ingest({2, 5, 0, 0, 0, 0, 0}); // the translation stays for the next rotation report
    r.ingest({1, 1, 0, 2, 0, 3, 0, 4, 0, 5, 0, 6, 0}); // six axes complete a sample at once
    EXPECT_EQ(r.calls, (std::vector<std::string>{"report 0", "report 7", "report 3", "report 7",
                                                 "report 7", "axes x 16 y -16 z 3 rx 1 ry 2 rz -1",
                                                 "report 7", "axes x 16 y -16 z 3 rx 5 ry 0 rz 0",
                                                 "report 13", "axes x 1 y 2 z 3 rx 4 ry 5 rz 6"}));
}

TEST(ReportsRest, aNewRestIsReportedBeforeTheSampleItCorrects) {
    Recorder r;
    std::vector<std::uint8_t> resting{1, 20, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    r.ingest(resting);
    r.now = 1.0;
    r.ingest(resting);
    r.now = 1.6;
    r.ingest(resting);
    ASSERT_EQ(r.calls.size(), 7u);
    EXPECT_EQ(r.calls[1], "axes x 20 y 0 z 0 rx 0 ry 0 rz 0");
    EXPECT_EQ(r.calls[5], "rest x 20 y 0 z 0 rx 0 ry 0 rz 0");
    EXPECT_EQ(r.calls[6], "axes x 0 y 0 z 0 rx 0 ry 0 rz 0");
    // A zero sample forgets the rest, which is a change too.
    r.ingest({1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0});
    EXPECT_EQ(r.calls[8], "rest x 0 y 0 z 0 rx 0 ry 0 rz 0");
    EXPECT_EQ(r.calls[9], "axes x 0 y 0 z 0 rx 0 ry 0 rz 0");
}

} // namespace
