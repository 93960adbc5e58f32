#pragma once

// Drivers that run a main loop until a condition holds, one per implementation, so that the same
// contract tests run against each.

#include "KestrixProtocol/VirtualMainLoop.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>

namespace kestrix::test {

// Runs the virtual loop: posted work and descriptors first, then time up to the next timer, and
// when no timer is left waits on the descriptors in real time.
class VirtualDriver {
public:
    MainLoop& loop() { return loop_; }
    VirtualMainLoop& virtualLoop() { return loop_; }

    bool waitFor(const std::function<bool()>& done) {
        for (int step = 0; step < 100000; ++step) {
            loop_.runPending();
            if (done())
                return true;
            if (auto due = loop_.nextTimerDue())
                loop_.advance(*due - loop_.now());
            else
                return loop_.runUntil(done, 10.0);
        }
        return done();
    }

private:
    VirtualMainLoop loop_;
};

using MainLoopDriverTypes = ::testing::Types<VirtualDriver>;

struct MainLoopDriverNames {
    template <class T> static std::string GetName(int) {
        if constexpr (std::is_same_v<T, VirtualDriver>)
            return "Virtual";
        else
            return "Qt";
    }
};

} // namespace kestrix::test
