#include "Vantor/Log.h"
#include "Vantor/UinputPoster.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/input.h>
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

// A poster writing into a pipe, and the events read back from it.
class PipePoster : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(pipe2(fds_, O_CLOEXEC | O_NONBLOCK), 0);
        poster_.emplace(fds_[1], [this] { return now_; });
        Log::setSink([this](Log::Level, std::string_view m) { logs_.emplace_back(m); });
    }
    void TearDown() override {
        poster_.reset();
        ::close(fds_[0]);
        Log::setSink({});
    }
    std::vector<Event> events() {
        std::vector<Event> out;
        input_event raw{};
        while (::read(fds_[0], &raw, sizeof raw) == static_cast<ssize_t>(sizeof raw))
            out.push_back({raw.type, raw.code, raw.value});
        return out;
    }

    int fds_[2] = {-1, -1};
    double now_ = 100;
    std::optional<UinputPoster> poster_;
    std::vector<std::string> logs_;
};

TEST_F(PipePoster, scrollStepBecomesHighResolutionWheelWithReport) {
    poster_->post(ScrollStep{ScrollPhase::began, 0, -30});
    // The wheel turns up (positive) for a step of negative y, 2 units a pixel.
    EXPECT_EQ(events(),
              (std::vector<Event>{{EV_REL, REL_WHEEL_HI_RES, 60}, {EV_SYN, SYN_REPORT, 0}}));
    poster_->post(ScrollStep{ScrollPhase::changed, 40, 0});
    EXPECT_EQ(events(),
              (std::vector<Event>{{EV_REL, REL_HWHEEL_HI_RES, 80}, {EV_SYN, SYN_REPORT, 0}}));
}

TEST_F(PipePoster, wholeDetentAddsClassicWheelEvent) {
    poster_->post(ScrollStep{ScrollPhase::began, 0, 40}); // -80 units
    events();
    now_ += 0.01;
    poster_->post(ScrollStep{ScrollPhase::changed, 0, 40}); // -160 in all: one detent down
    EXPECT_EQ(events(), (std::vector<Event>{{EV_REL, REL_WHEEL, -1},
                                            {EV_REL, REL_WHEEL_HI_RES, -80},
                                            {EV_SYN, SYN_REPORT, 0}}));
}

TEST_F(PipePoster, zeroPixelStepsPostNothing) {
    poster_->post(ScrollStep{ScrollPhase::ended, 0, 0});
    poster_->post(ScrollStep{ScrollPhase::momentumEnded, 0, 0});
    EXPECT_TRUE(events().empty());
}

TEST_F(PipePoster, slowStartGoesThroughLibinputThresholdAndPaysItBack) {
    // 1 px per step after a rest: the first step sends the whole threshold at once...
    poster_->post(ScrollStep{ScrollPhase::began, 1, 0});
    EXPECT_EQ(events(),
              (std::vector<Event>{{EV_REL, REL_HWHEEL_HI_RES, 60}, {EV_SYN, SYN_REPORT, 0}}));
    // ...and the next 29 px (58 units) are held back, as they were already shown.
    for (int i = 0; i < 29; ++i) {
        now_ += 0.008;
        poster_->post(ScrollStep{ScrollPhase::changed, 1, 0});
    }
    EXPECT_TRUE(events().empty());
    now_ += 0.008;
    poster_->post(ScrollStep{ScrollPhase::changed, 1, 0});
    EXPECT_EQ(events(),
              (std::vector<Event>{{EV_REL, REL_HWHEEL_HI_RES, 2}, {EV_SYN, SYN_REPORT, 0}}));
}

TEST_F(PipePoster, extremePixelCountsAreClampedNotOverflowed) {
    // A step carries whole pixels as 64-bit counts; an absurd speed fills them to the limit.
    poster_->post(ScrollStep{ScrollPhase::began, INT64_MIN, INT64_MIN});
    auto out = events();
    ASSERT_FALSE(out.empty());
    EXPECT_EQ(out.back(), (Event{EV_SYN, SYN_REPORT, 0}));
    for (const auto& event : out) {
        if (event.code == REL_WHEEL_HI_RES) {
            EXPECT_EQ(event.value, INT32_MAX); // up: -y
        } else if (event.code == REL_HWHEEL_HI_RES) {
            EXPECT_EQ(event.value, INT32_MIN); // left: x
        }
    }
}

TEST_F(PipePoster, zoomBecomesCtrlWheelPerTenPercent) {
    poster_->post(GestureStep{GesturePhase::began, 0.05}, GestureKind::zoom);
    EXPECT_TRUE(events().empty());
    poster_->post(GestureStep{GesturePhase::changed, 0.05}, GestureKind::zoom); // ×1.1025
    EXPECT_EQ(events(), (std::vector<Event>{{EV_KEY, KEY_LEFTCTRL, 1},
                                            {EV_SYN, SYN_REPORT, 0},
                                            {EV_REL, REL_WHEEL, 1},
                                            {EV_REL, REL_WHEEL_HI_RES, 120},
                                            {EV_SYN, SYN_REPORT, 0},
                                            {EV_KEY, KEY_LEFTCTRL, 0},
                                            {EV_SYN, SYN_REPORT, 0}}));
    // Shrinking by more than a detent's worth turns the wheel down.
    poster_->post(GestureStep{GesturePhase::changed, -0.2}, GestureKind::zoom);
    auto out = events();
    ASSERT_EQ(out.size(), 7u);
    EXPECT_EQ(out[2], (Event{EV_REL, REL_WHEEL, -2}));
}

TEST_F(PipePoster, zoomRemainderIsForgottenAtEnd) {
    poster_->post(GestureStep{GesturePhase::began, 0.09}, GestureKind::zoom);
    poster_->post(GestureStep{GesturePhase::ended, 0.0}, GestureKind::zoom);
    poster_->post(GestureStep{GesturePhase::began, 0.02}, GestureKind::zoom);
    EXPECT_TRUE(events().empty());
}

TEST_F(PipePoster, rotateIsDroppedWithOneLogLine) {
    poster_->post(GestureStep{GesturePhase::began, 5}, GestureKind::rotate);
    poster_->post(GestureStep{GesturePhase::changed, 5}, GestureKind::rotate);
    EXPECT_TRUE(events().empty());
    EXPECT_EQ(logs_.size(), 1u);
}

TEST(SystemEventPoster, missingDeviceNodeMeansNoPermissionAndNoCrash) {
    std::vector<std::string> logs;
    Log::setSink([&](Log::Level, std::string_view m) { logs.emplace_back(m); });
    std::string path = "/nonexistent-dir/uinput";
    EXPECT_FALSE(SystemEventPoster::hasPermission(path));
    double now = 0;
    SystemEventPoster poster([&] { return now; }, path);
    // The device is tried when the poster is made, before any step needs it.
    ASSERT_EQ(logs.size(), 1u);
    now = 5;
    poster.post(ScrollStep{ScrollPhase::began, 0, 5});
    poster.post(ScrollStep{ScrollPhase::changed, 0, 5});
    ASSERT_EQ(logs.size(), 1u);
    EXPECT_NE(logs[0].find("cannot post events"), std::string::npos);
    Log::setSink({});
}

} // namespace
} // namespace vantor
