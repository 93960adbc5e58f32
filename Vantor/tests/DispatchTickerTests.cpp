#include "KestrixProtocol/VirtualMainLoop.h"
#include "Vantor/DispatchTicker.h"

#include <gtest/gtest.h>

namespace vantor {
namespace {

TEST(DispatchTicker, firstTickAtOnceThenEveryInterval) {
    kestrix::VirtualMainLoop loop;
    DispatchTicker ticker(loop);
    std::vector<double> times;
    ticker.start(0.25, [&] { times.push_back(loop.now()); });
    EXPECT_TRUE(times.empty()); // not from inside start()
    loop.advance(1.0);
    EXPECT_EQ(times, (std::vector<double>{0.0, 0.25, 0.5, 0.75, 1.0}));
}

TEST(DispatchTicker, startingAgainReplacesTheTimer) {
    kestrix::VirtualMainLoop loop;
    DispatchTicker ticker(loop);
    int first = 0, second = 0;
    ticker.start(0.1, [&] { ++first; });
    ticker.start(0.5, [&] { ++second; });
    loop.advance(1.0);
    EXPECT_EQ(first, 0); // not even the first tick of the replaced start
    EXPECT_EQ(second, 3);
    EXPECT_EQ(loop.pendingTimers(), 1u);
}

TEST(DispatchTicker, stopEndsTicksAndIsHarmlessWithoutTimer) {
    kestrix::VirtualMainLoop loop;
    DispatchTicker ticker(loop);
    ticker.stop();
    int ticks = 0;
    ticker.start(0.1, [&] {
        if (++ticks == 3) ticker.stop(); // from inside the tick
    });
    loop.advance(1.0);
    EXPECT_EQ(ticks, 3);
    EXPECT_FALSE(ticker.running());
    EXPECT_EQ(loop.pendingTimers(), 0u);
}

} // namespace
} // namespace vantor
