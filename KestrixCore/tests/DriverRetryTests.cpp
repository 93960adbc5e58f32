#include "KestrixCore/DriverRetry.h"

#include <gtest/gtest.h>
#include <map>
#include <optional>
#include <string>
#include <vector>

using kestrix::core::DriverRetry;

namespace {
constexpr const char* reason = "driver library not loadable: gone";
} // namespace

// One reason throughout: logged at the 1st, 2nd, 4th, 8th and 16th failure; the last delay repeats.
TEST(DriverRetry, delaysAndLinesOfTheFirstSixteenFailures) {
    const std::string r = std::string("driver: ") + reason;
    const std::vector<double> delays = {2,    5,    10,   30,   60,   120,  300,  600,
                                        1800, 1800, 1800, 1800, 1800, 1800, 1800, 1800};
    const std::map<std::int64_t, std::string> logged = {
        {1, r + "; trying again in 2 s"},
        {2, r + ", failed 2 times; trying again in 5 s"},
        {4, r + ", failed 4 times; trying again in 30 s"},
        {8, r + ", failed 8 times; trying again in 10 min"},
        {16, r + ", failed 16 times; trying again in 30 min"}};
    DriverRetry retry;
    double now = 100;
    for (std::int64_t n = 1; n <= 16; ++n) {
        const auto next = retry.failed(reason, now);
        EXPECT_EQ(next.delay, delays[std::size_t(n - 1)]) << "failure " << n;
        EXPECT_EQ(next.message, logged.contains(n) ? std::optional(logged.at(n)) : std::nullopt)
            << "failure " << n;
        EXPECT_EQ(retry.failures, n);
        now += next.delay;
    }
    retry.failures = 63;
    EXPECT_EQ(retry.failed(reason, now).message, r + ", failed 64 times; trying again in 30 min");
    EXPECT_FALSE(retry.failed(reason, now).message); // 65
}

TEST(DriverRetry, aNewReasonIsLoggedAtOnce) {
    DriverRetry retry;
    retry.failed("missing symbol SetConnexionHandlers", 0);
    retry.failed("missing symbol SetConnexionHandlers", 2);
    const auto third = retry.failed("RegisterConnexionClient returned no client ID", 7);
    EXPECT_EQ(third.message, std::string("driver: RegisterConnexionClient returned no client ID, "
                                         "failed 3 times; trying again in 10 s"));
    // The same reason again at the 5th failure: silent; the earlier reason back at the 6th: logged.
    retry.failed("RegisterConnexionClient returned no client ID", 17);
    EXPECT_FALSE(retry.failed("RegisterConnexionClient returned no client ID", 47).message);
    EXPECT_TRUE(retry.failed("missing symbol SetConnexionHandlers", 107).message);
}

TEST(DriverRetry, spokenInWholeSecondsBelowAMinuteAndWholeMinutesAbove) {
    for (const auto& [seconds, text] : std::vector<std::pair<double, std::string>>{
             {0, "0 s"}, {59.9, "59 s"}, {60, "1 min"}, {119, "1 min"}, {1800, "30 min"}})
        EXPECT_EQ(DriverRetry::spoken(seconds), text) << seconds;
}
