// The poster's frames fed through a model of libinput's wheel handling, in the two behaviours
// found on desktops today:
// - filtering (1.19 to 1.28): one state machine per device holds high-resolution motion back
//   after 500 ms without wheel events and after every change of direction, where the direction
//   is one variable for both wheels, until |x| or |y| of what it holds reaches 60 units;
// - passthrough (newer versions): virtual devices go through untouched.
#include "Vantor/Log.h"
#include "Vantor/UinputPoster.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/input.h>
#include <optional>
#include <unistd.h>
#include <vector>

namespace vantor {
namespace {

using scroll::GestureKind;
using scroll::GesturePhase;
using scroll::GestureStep;
using scroll::ScrollPhase;
using scroll::ScrollStep;

struct Motion {
    int x = 0, y = 0; // high-resolution units: right and up are positive
};

// libinput's wheel handling for one device.
class WheelFilterModel {
public:
    explicit WheelFilterModel(WheelHandling handling)
        : filters_(handling == WheelHandling::filtered) {}

    // One event at `now`; a SYN_REPORT returns what libinput passes on for the frame.
    std::optional<Motion> feed(const input_event& e, double now) {
        if (state_ == State::scrolling && now >= deadline_) state_ = State::none;
        if (e.type == EV_SYN && e.code == SYN_REPORT) return report(now);
        if (e.type != EV_REL) return std::nullopt;
        if (e.code == REL_WHEEL_HI_RES) {
            held_.y += e.value;
            turnTo(e.value > 0 ? Direction::up : Direction::down);
        } else if (e.code == REL_HWHEEL_HI_RES) {
            held_.x += e.value;
            turnTo(e.value > 0 ? Direction::right : Direction::left);
        } else if (e.code != REL_WHEEL && e.code != REL_HWHEEL) {
            return std::nullopt;
        }
        if (state_ == State::none) state_ = State::accumulating;
        if (state_ == State::scrolling) deadline_ = now + 0.5;
        return std::nullopt;
    }
    Motion held() const { return held_; }

private:
    enum class State { none, accumulating, scrolling };
    enum class Direction { unknown, up, down, right, left };

    void turnTo(Direction direction) {
        if (direction == direction_) return;
        direction_ = direction;
        state_ = State::none;
    }
    Motion report(double now) {
        if (filters_ && state_ == State::accumulating && std::abs(held_.x) < 60 &&
            std::abs(held_.y) < 60)
            return {};
        if (filters_ && state_ == State::accumulating) {
            state_ = State::scrolling;
            deadline_ = now + 0.5;
        }
        if (filters_ && state_ == State::none) return {};
        return std::exchange(held_, Motion{});
    }

    bool filters_;
    State state_ = State::none;
    Direction direction_ = Direction::unknown;
    double deadline_ = 0;
    Motion held_;
};

// A run of ticks at 120 Hz: pixels a tick (positive y scrolls down, the wheel turning down),
// a zoom step a tick, then a rest.
struct Segment {
    int ticks;
    int x, y;
    double zoom;
    double restAfter;
};

struct Scenario {
    const char* name;
    std::vector<Segment> segments;
};

struct Outcome {
    int framesHeldOrBurst = 0;      // frames libinput did not pass on whole and at once
    Motion arrived, held, scrolled; // scrolled: what the steps asked for, in units
    int worstLead = 0;              // arrived scroll ahead of the steps, in units
    int zoomUnits = 0, scrollWithCtrl = 0;
};

// The poster writing into one pipe per device, each read by a model of libinput.
class Desk {
public:
    explicit Desk(WheelHandling handling) {
        for (auto& pipe : pipes_)
            if (pipe2(pipe.data(), O_CLOEXEC | O_NONBLOCK) != 0) std::abort();
        // Where libinput passes virtual devices through, one device carries everything.
        UinputPoster::Devices devices{pipes_[0][1], pipes_[1][1], pipes_[2][1]};
        if (handling == WheelHandling::passthrough) {
            devices = {pipes_[0][1], pipes_[0][1], pipes_[0][1]};
            ::close(pipes_[1][1]);
            ::close(pipes_[2][1]);
        }
        poster_.emplace(
            devices, [this] { return now_; }, handling);
        for (int i = 0; i < 3; ++i)
            models_.emplace_back(handling);
    }
    ~Desk() {
        poster_.reset();
        for (auto& pipe : pipes_)
            ::close(pipe[0]);
    }

    Outcome run(const Scenario& scenario) {
        Outcome out;
        for (const Segment& s : scenario.segments) {
            for (int i = 0; i < s.ticks; ++i) {
                now_ += 1.0 / 120;
                auto phase = i == 0 ? ScrollPhase::began : ScrollPhase::changed;
                if (s.x != 0 || s.y != 0) poster_->post(ScrollStep{phase, s.x, s.y});
                if (s.zoom != 0) {
                    if (i == 0)
                        poster_->post(GestureStep{GesturePhase::began, 0}, GestureKind::zoom);
                    poster_->post(GestureStep{GesturePhase::changed, s.zoom}, GestureKind::zoom);
                }
                out.scrolled.x += 2 * s.x;
                out.scrolled.y -= 2 * s.y;
                collect(out);
                out.worstLead = std::max({out.worstLead, std::abs(out.arrived.x - out.scrolled.x),
                                          std::abs(out.arrived.y - out.scrolled.y)});
            }
            if (s.zoom != 0) poster_->post(GestureStep{GesturePhase::ended, 0}, GestureKind::zoom);
            now_ += s.restAfter;
            collect(out);
        }
        for (const auto& model : models_) {
            out.held.x += std::abs(model.held().x);
            out.held.y += std::abs(model.held().y);
        }
        return out;
    }

private:
    void collect(Outcome& out) {
        for (std::size_t device = 0; device < models_.size(); ++device) {
            Motion frame;
            input_event e{};
            while (::read(pipes_[device][0], &e, sizeof e) == static_cast<ssize_t>(sizeof e)) {
                if (e.type == EV_KEY && e.code == KEY_LEFTCTRL) ctrl_ = e.value != 0;
                if (e.type == EV_REL && e.code == REL_WHEEL_HI_RES) frame.y += e.value;
                if (e.type == EV_REL && e.code == REL_HWHEEL_HI_RES) frame.x += e.value;
                auto passed = models_[device].feed(e, now_);
                if (!passed) continue;
                out.framesHeldOrBurst += passed->x != frame.x || passed->y != frame.y;
                if (ctrl_) {
                    out.zoomUnits += passed->y;
                    out.scrollWithCtrl += std::abs(passed->x);
                } else {
                    out.arrived.x += passed->x;
                    out.arrived.y += passed->y;
                }
                frame = {};
            }
        }
    }

    std::array<std::array<int, 2>, 3> pipes_{};
    std::vector<WheelFilterModel> models_;
    double now_ = 100;
    std::optional<UinputPoster> poster_;
    bool ctrl_ = false;
};

// Zoom steps of 1.1^(1/4): a Ctrl + wheel detent every fourth tick.
const double quarterDetent = std::pow(1.1, 0.25) - 1;

const std::vector<Scenario> scenarios = {
    {"diagonal", {{117, 7, 7, 0, 1}}},
    {"one axis", {{117, 0, 7, 0, 1}}},
    {"slow start after rest", {{20, 0, 5, 0, 1}, {120, 0, 1, 0, 1}, {120, -1, 0, 0, 1}}},
    {"slow diagonal", {{150, 1, -1, 0, 1}}},
    {"reversal", {{60, 0, 3, 0, 0}, {60, 0, -3, 0, 0}, {60, 0, 3, 0, 0}, {60, 2, -2, 0, 1}}},
    {"quick reversals", {{5, 0, 2, 0, 0}, {5, 0, -2, 0, 0}, {5, 0, 2, 0, 0}, {60, 0, -2, 0, 1}}},
    {"zoom during scroll", {{40, 0, -4, 0, 0}, {82, 0, 4, quarterDetent, 0}, {40, 0, -4, 0, 1}}},
};

class LibinputWheel : public ::testing::TestWithParam<WheelHandling> {
protected:
    void SetUp() override {
        Log::setSink([](Log::Level, std::string_view) {});
    }
    void TearDown() override { Log::setSink({}); }
};

TEST_P(LibinputWheel, everyFrameArrivesWholeAndTheMotionStaysTrue) {
    for (const auto& scenario : scenarios) {
        SCOPED_TRACE(scenario.name);
        Desk desk(GetParam());
        Outcome out = desk.run(scenario);
        EXPECT_EQ(out.framesHeldOrBurst, 0);
        EXPECT_EQ(out.held.x + out.held.y, 0);
        // What was asked for arrives in full; on the way the view is at most half a detent ahead.
        EXPECT_EQ(out.arrived.x, out.scrolled.x);
        EXPECT_EQ(out.arrived.y, out.scrolled.y);
        EXPECT_LE(out.worstLead, GetParam() == WheelHandling::filtered ? 60 : 0);
        EXPECT_EQ(out.scrollWithCtrl, 0);
    }
}

TEST_P(LibinputWheel, zoomDetentsArriveWithCtrlDown) {
    Desk desk(GetParam());
    Outcome out = desk.run(scenarios.back());
    // 82 steps of a quarter detent each: 20 whole detents in (the wheel up), 120 units each.
    EXPECT_EQ(out.zoomUnits, 20 * 120);
}

INSTANTIATE_TEST_SUITE_P(Versions, LibinputWheel,
                         ::testing::Values(WheelHandling::filtered, WheelHandling::passthrough),
                         [](const auto& info) {
                             return info.param == WheelHandling::filtered ? "filtering"
                                                                          : "passthrough";
                         });

} // namespace
} // namespace vantor
