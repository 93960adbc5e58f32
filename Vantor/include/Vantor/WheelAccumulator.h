#pragma once

#include <cstdint>

namespace vantor {

// Turns whole-pixel scroll amounts on one axis into high-resolution wheel units (120 a detent)
// and the classic whole detents that go with them.
//
// Two things shape it:
// - The ratio: one detent stands for `pixelsPerDetent` pixels (60 by default, what a wheel notch
//   scrolls in the common toolkits), so 1 px is 2 units.
// - libinput's start threshold: after 500 ms without wheel motion, or when the direction turns,
//   libinput holds back wheel motion until half a detent (60 units) has gathered, and drops it
//   when it never gets there. A slow start of the cap would scroll nothing at first, or nothing at
//   all. So the first units after such a rest are sent as a full threshold at once, and the lead
//   this borrows is paid back by holding back the next units of the same direction: what is sent
//   never runs more than half a detent ahead of the motion. A turn of direction forgives what is
//   still owed.
class WheelAccumulator {
public:
    struct Output {
        std::int32_t units = 0;   // high-resolution units to send (REL_*WHEEL_HI_RES)
        std::int32_t detents = 0; // whole detents completed (REL_*WHEEL)
    };

    static constexpr double defaultPixelsPerDetent = 60.0;
    static constexpr std::int64_t unitsPerDetent = 120;
    static constexpr std::int64_t startThreshold = 60;
    static constexpr double restGap = 0.5;

    explicit WheelAccumulator(double pixelsPerDetent = defaultPixelsPerDetent);

    // `pixels` in wheel direction (positive = up or right), `now` in seconds.
    Output add(std::int64_t pixels, double now);

    // Forgets partial units, any debt and the time of the last motion.
    void reset();

private:
    double unitsPerPixel_;
    double carry_ = 0;             // fractional units not yet sent
    std::int64_t debt_ = 0;        // units sent ahead of the motion, to be held back later
    std::int64_t detentCarry_ = 0; // units sent that have not yet made a whole detent
    int lastSign_ = 0;
    double lastSent_ = -1e300; // when units were last sent
};

} // namespace vantor
