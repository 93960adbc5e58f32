#pragma once

#include <cstdint>

namespace vantor {

// How the desktop's input stack treats the wheel of a virtual device.
enum class WheelHandling {
    // libinput 1.19 to 1.28: after 500 ms without wheel motion, or when the direction turns, a
    // device's high-resolution motion is held back until half a detent (60 units) has gathered.
    filtered,
    // Newer libinput: the motion of virtual devices goes through as it comes.
    passthrough,
};

// Turns whole-pixel scroll amounts on one axis into high-resolution wheel units (120 a detent)
// and the classic whole detents that go with them, for a device that carries this axis alone.
//
// Two things shape it:
// - The ratio: one detent stands for `pixelsPerDetent` pixels (60 by default, what a wheel notch
//   scrolls in the common toolkits), so 1 px is 2 units.
// - With `WheelHandling::filtered`, libinput's start threshold: a slow start of the cap would
//   scroll nothing at first, then half a detent at once. So the first units after a rest or a
//   turn are sent as a full threshold at once (the libinput state machine then passes them and
//   everything after), and the lead this borrows is paid back: motion in the lead's direction is
//   held back by it, motion the other way carries it back with it. What is sent never runs more
//   than half a detent ahead of the motion, and in the end adds up to it exactly.
class WheelAccumulator {
public:
    struct Output {
        std::int32_t units = 0;   // high-resolution units to send (REL_*WHEEL_HI_RES)
        std::int32_t detents = 0; // whole detents completed (REL_*WHEEL)
    };

    static constexpr double defaultPixelsPerDetent = 60.0;
    static constexpr std::int64_t unitsPerDetent = 120;
    static constexpr std::int64_t startThreshold = 60;
    // libinput's rest is 500 ms from its reading of the last frame; a frame that reaches it late
    // must still find the threshold sent, so a rest counts from a little earlier.
    static constexpr double restGap = 0.4;

    explicit WheelAccumulator(WheelHandling handling = WheelHandling::filtered,
                              double pixelsPerDetent = defaultPixelsPerDetent);

    // `pixels` in wheel direction (positive = up or right), `now` in seconds.
    Output add(std::int64_t pixels, double now);

    // Forgets partial units, any lead and the time of the last motion.
    void reset();

private:
    WheelHandling handling_;
    double unitsPerPixel_;
    double carry_ = 0;             // fractional units not yet sent
    std::int64_t lead_ = 0;        // units sent ahead of the motion (signed)
    std::int64_t detentCarry_ = 0; // units sent that have not yet made a whole detent
    int lastSign_ = 0;             // direction of the units last sent
    double lastSent_ = -1e300;     // when units were last sent
};

} // namespace vantor
