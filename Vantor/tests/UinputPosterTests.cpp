#include "Vantor/Log.h"
#include "Vantor/UinputPoster.h"

#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <linux/input.h>
#include <stdlib.h>
#include <unistd.h>
#include <vector>

namespace vantor {
namespace {

using scroll::GestureKind;
using scroll::GesturePhase;
using scroll::GestureStep;
using scroll::ScrollPhase;
using scroll::ScrollStep;

struct Event {
    std::uint16_t type, code;
    std::int32_t value;
    bool operator==(const Event&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Event& e) {
    return out << "{" << e.type << "," << e.code << "," << e.value << "}";
}

// A poster writing into a pipe for each wheel, and the events read back from them.
class PipePoster : public ::testing::Test {
protected:
    void SetUp() override {
        for (auto& pipe : pipes_)
            ASSERT_EQ(pipe2(pipe, O_CLOEXEC | O_NONBLOCK), 0);
        poster_.emplace(
            UinputPoster::Devices{pipes_[0][1], pipes_[1][1], pipes_[2][1]},
            [this] { return now_; }, WheelHandling::filtered);
        Log::setSink([this](Log::Level, std::string_view m) { logs_.emplace_back(m); });
    }
    void TearDown() override {
        poster_.reset();
        for (auto& pipe : pipes_)
            ::close(pipe[0]);
        Log::setSink({});
    }
    std::vector<Event> events(int device) {
        std::vector<Event> out;
        input_event raw{};
        while (::read(pipes_[device][0], &raw, sizeof raw) == static_cast<ssize_t>(sizeof raw))
            out.push_back({raw.type, raw.code, raw.value});
        return out;
    }
    std::vector<Event> vertical() { return events(0); }
    std::vector<Event> horizontal() { return events(1); }
    std::vector<Event> zoom() { return events(2); }

    int pipes_[3][2] = {};
    double now_ = 100;
    std::optional<UinputPoster> poster_;
    std::vector<std::string> logs_;
};

TEST_F(PipePoster, eachWheelGoesToItsOwnDeviceInAFrameOfItsOwn) {
    poster_->post(ScrollStep{ScrollPhase::began, 40, -30});
    // The wheel turns up (positive) for a step of negative y, 2 units a pixel.
    EXPECT_EQ(vertical(),
              (std::vector<Event>{{EV_REL, REL_WHEEL_HI_RES, 60}, {EV_SYN, SYN_REPORT, 0}}));
    EXPECT_EQ(horizontal(),
              (std::vector<Event>{{EV_REL, REL_HWHEEL_HI_RES, 80}, {EV_SYN, SYN_REPORT, 0}}));
    EXPECT_TRUE(zoom().empty());
}

TEST(UinputPoster, oneDeviceForAllMovesBothWheelsInOneFrameAndAddsNoHeadStart) {
    int fds[2];
    ASSERT_EQ(pipe2(fds, O_CLOEXEC | O_NONBLOCK), 0);
    {
        UinputPoster poster(
            {fds[1], fds[1], fds[1]}, [] { return 0.0; }, WheelHandling::passthrough);
        poster.post(ScrollStep{ScrollPhase::began, 1, -1});
    }
    input_event raw[4]{};
    ASSERT_EQ(::read(fds[0], raw, sizeof raw), static_cast<ssize_t>(3 * sizeof raw[0]));
    EXPECT_EQ((std::vector<Event>{{raw[0].type, raw[0].code, raw[0].value},
                                  {raw[1].type, raw[1].code, raw[1].value},
                                  {raw[2].type, raw[2].code, raw[2].value}}),
              (std::vector<Event>{{EV_REL, REL_WHEEL_HI_RES, 2},
                                  {EV_REL, REL_HWHEEL_HI_RES, 2},
                                  {EV_SYN, SYN_REPORT, 0}}));
    ::close(fds[0]);
}

TEST_F(PipePoster, wholeDetentAddsClassicWheelEvent) {
    poster_->post(ScrollStep{ScrollPhase::began, 0, 40}); // -80 units
    vertical();
    now_ += 0.01;
    poster_->post(ScrollStep{ScrollPhase::changed, 0, 40}); // -160 in all: one detent down
    EXPECT_EQ(vertical(), (std::vector<Event>{{EV_REL, REL_WHEEL, -1},
                                              {EV_REL, REL_WHEEL_HI_RES, -80},
                                              {EV_SYN, SYN_REPORT, 0}}));
}

TEST_F(PipePoster, zeroPixelStepsPostNothing) {
    poster_->post(ScrollStep{ScrollPhase::ended, 0, 0});
    poster_->post(ScrollStep{ScrollPhase::momentumEnded, 0, 0});
    EXPECT_TRUE(vertical().empty() && horizontal().empty());
}

TEST_F(PipePoster, extremePixelCountsAreClampedNotOverflowed) {
    // A step carries whole pixels as 64-bit counts; an absurd speed fills them to the limit.
    poster_->post(ScrollStep{ScrollPhase::began, INT64_MIN, INT64_MIN});
    auto up = vertical(), left = horizontal();
    ASSERT_EQ(up.size(), 3u);
    EXPECT_EQ(up[1], (Event{EV_REL, REL_WHEEL_HI_RES, INT32_MAX})); // up: -y
    ASSERT_EQ(left.size(), 3u);
    EXPECT_EQ(left[1], (Event{EV_REL, REL_HWHEEL_HI_RES, INT32_MIN})); // left: x
}

TEST_F(PipePoster, zoomBecomesCtrlWheelPerTenPercent) {
    poster_->post(GestureStep{GesturePhase::began, 0.05}, GestureKind::zoom);
    EXPECT_TRUE(zoom().empty());
    poster_->post(GestureStep{GesturePhase::changed, 0.05}, GestureKind::zoom); // ×1.1025
    EXPECT_EQ(zoom(), (std::vector<Event>{{EV_KEY, KEY_LEFTCTRL, 1},
                                          {EV_SYN, SYN_REPORT, 0},
                                          {EV_REL, REL_WHEEL, 1},
                                          {EV_REL, REL_WHEEL_HI_RES, 120},
                                          {EV_SYN, SYN_REPORT, 0},
                                          {EV_KEY, KEY_LEFTCTRL, 0},
                                          {EV_SYN, SYN_REPORT, 0}}));
    // Shrinking by more than a detent's worth turns the wheel down.
    poster_->post(GestureStep{GesturePhase::changed, -0.2}, GestureKind::zoom);
    auto out = zoom();
    ASSERT_EQ(out.size(), 7u);
    EXPECT_EQ(out[2], (Event{EV_REL, REL_WHEEL, -2}));
}

TEST_F(PipePoster, zoomRemainderIsForgottenAtEnd) {
    poster_->post(GestureStep{GesturePhase::began, 0.09}, GestureKind::zoom);
    poster_->post(GestureStep{GesturePhase::ended, 0.0}, GestureKind::zoom);
    poster_->post(GestureStep{GesturePhase::began, 0.02}, GestureKind::zoom);
    EXPECT_TRUE(zoom().empty());
}

TEST_F(PipePoster, rotateIsDroppedWithOneLogLine) {
    poster_->post(GestureStep{GesturePhase::began, 5}, GestureKind::rotate);
    poster_->post(GestureStep{GesturePhase::changed, 5}, GestureKind::rotate);
    EXPECT_TRUE(zoom().empty() && vertical().empty());
    EXPECT_EQ(logs_.size(), 1u);
}

TEST(WheelHandling, readFromTheLibrarysDocumentationLinkElseItsNewestInterface) {
    using namespace std::string_literals;
    const struct {
        std::string bytes;
        WheelHandling expected;
    } cases[] = {
        {"LIBINPUT_1.19\0LIBINPUT_1.21\0https://wayland.freedesktop.org/libinput/doc/1.22.1\0"s,
         WheelHandling::filtered},
        {"LIBINPUT_1.21\0https://x/libinput/doc/1.29.0\0"s, WheelHandling::passthrough},
        {"https://x/libinput/doc/2.0.0"s, WheelHandling::passthrough},
        {"https://x/libinput/doc/1.28.1\0LIBINPUT_1.28"s, WheelHandling::filtered},
        // Without a numbered link: the newest interface is the least the version can be.
        {"https://x/libinput/doc/latest\0LIBINPUT_1.30\0LIBINPUT_1.9"s, WheelHandling::passthrough},
        {"LIBINPUT_1.9\0LIBINPUT_1.28\0LIBINPUT_x"s, WheelHandling::filtered},
        {"no version at all"s, WheelHandling::filtered},
    };
    for (const auto& c : cases)
        EXPECT_EQ(wheelHandlingOfLibrary(c.bytes), c.expected) << c.bytes;
}

TEST(WheelHandling, detectedFromTheLibraryInTheSystemFolders) {
    char folder[] = "/tmp/wheel-XXXXXX";
    ASSERT_TRUE(::mkdtemp(folder));
    std::string root = folder;
    EXPECT_EQ(detectWheelHandling(root).why,
              "libinput not found: wheel motion gets a head start after rest");
    std::filesystem::create_directories(root + "/usr/lib/x86_64-linux-gnu");
    std::filesystem::create_directories(root + "/usr/lib64");
    std::ofstream(root + "/usr/lib64/libinput.so.10") << "LIBINPUT_1.21";
    std::ofstream(root + "/usr/lib/x86_64-linux-gnu/libinput.so.10") << "/libinput/doc/1.29.2";
    auto found = detectWheelHandling(root);
    EXPECT_EQ(found.handling, WheelHandling::passthrough);
    EXPECT_EQ(found.why, "libinput 1.29 (" + root +
                             "/usr/lib/x86_64-linux-gnu/libinput.so.10): wheel motion goes "
                             "through as it comes");
    std::filesystem::remove_all(root);
}

TEST(SystemEventPoster, permissionAdviceLoadsTheModuleWhereTheNodeIsMissing) {
    const std::string present = std::filesystem::temp_directory_path() /
                                ("vantor-uinput-" + std::to_string(::getpid()));
    std::ofstream(present) << "";
    struct Case {
        std::string path, advice;
    };
    for (const Case& c : std::initializer_list<Case>{
             {"/nonexistent-dir/uinput",
              "/nonexistent-dir/uinput is missing: load the uinput module (sudo modprobe uinput)"},
             {present, "install the udev rule that lets you write " + present},
         })
        EXPECT_EQ(SystemEventPoster::permissionAdvice(c.path), c.advice);
    std::filesystem::remove(present);
}

TEST(SystemEventPoster, missingDeviceNodeMeansNoPermissionAndNoCrash) {
    std::vector<std::string> logs;
    Log::setSink([&](Log::Level, std::string_view m) { logs.emplace_back(m); });
    std::string path = "/nonexistent-dir/uinput";
    EXPECT_FALSE(SystemEventPoster::hasPermission(path));
    double now = 0;
    SystemEventPoster poster([&] { return now; }, path, {WheelHandling::filtered, "found"});
    // The devices are tried when the poster is made, before any step needs them.
    ASSERT_EQ(logs, (std::vector<std::string>{"found", logs.back()}));
    now = 5;
    poster.post(ScrollStep{ScrollPhase::began, 0, 5});
    poster.post(ScrollStep{ScrollPhase::changed, 0, 5});
    ASSERT_EQ(logs.size(), 2u);
    EXPECT_EQ(logs[1].rfind("cannot post events: cannot open " + path, 0), 0u);
    Log::setSink({});
}

} // namespace
} // namespace vantor
