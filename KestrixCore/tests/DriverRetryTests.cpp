#include "KestrixCore/DriverRetry.h"

#include <gtest/gtest.h>
#include <optional>
#include <string>
#include <vector>

using kestrix::core::DriverRetry;

namespace {

constexpr const char* reason = "driver library not loadable: gone";

} // namespace

TEST(DriverRetryLadder, delaysAndLinesOfTheFirstSixteenFailures) {
    struct Row {
        double delay;
        std::optional<std::string> message;
    };
    const std::string r = std::string("driver: ") + reason;
    const std::vector<Row> rows = {
        {2, r + "; trying again in 2 s"},
        {5, r + ", failed 2 times; trying again in 5 s"},
        {10, std::nullopt},
        {30, r + ", failed 4 times; trying again in 30 s"},
        {60, std::nullopt},
        {120, std::nullopt},
        {300, std::nullopt},
        {600, r + ", failed 8 times; trying again in 10 min"},
        {1800, std::nullopt},
        {1800, std::nullopt},
        {1800, std::nullopt},
        {1800, std::nullopt},
        {1800, std::nullopt},
        {1800, std::nullopt},
        {1800, std::nullopt},
        {1800, r + ", failed 16 times; trying again in 30 min"},
    };
    DriverRetry retry;
    double now = 100;
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const auto next = retry.failed(reason, now);
        EXPECT_EQ(next.delay, rows[i].delay) << "failure " << i + 1;
        EXPECT_EQ(next.message, rows[i].message) << "failure " << i + 1;
        EXPECT_EQ(retry.failures, std::int64_t(i + 1));
        EXPECT_EQ(retry.lastAttempt, now);
        EXPECT_EQ(retry.lastReason, std::string(reason));
        now += next.delay;
    }
}

TEST(DriverRetryLadder, theLastDelayRepeatsFarOut) {
    DriverRetry retry;
    for (int i = 0; i < 40; ++i)
        retry.failed(reason, i);
    const auto next = retry.failed(reason, 41);
    EXPECT_EQ(next.delay, 1800);
    EXPECT_FALSE(next.message); // 41 is no power of two
    retry.failures = 63;
    const auto sixtyFourth = retry.failed(reason, 42);
    EXPECT_EQ(sixtyFourth.message,
              std::string("driver: ") + reason + ", failed 64 times; trying again in 30 min");
}

TEST(DriverRetryLogging, aNewReasonIsLoggedAtOnce) {
    DriverRetry retry;
    retry.failed("missing symbol SetConnexionHandlers", 0);
    retry.failed("missing symbol SetConnexionHandlers", 2);
    const auto third = retry.failed("RegisterConnexionClient returned no client ID", 7);
    EXPECT_EQ(third.message, std::string("driver: RegisterConnexionClient returned no client ID, "
                                         "failed 3 times; trying again in 10 s"));
    EXPECT_EQ(retry.lastLogged, std::string("RegisterConnexionClient returned no client ID"));
    // The same reason again at the 5th failure: silent; the earlier reason back at the 6th: logged.
    retry.failed("RegisterConnexionClient returned no client ID", 17);
    EXPECT_FALSE(retry.failed("RegisterConnexionClient returned no client ID", 47).message);
    EXPECT_TRUE(retry.failed("missing symbol SetConnexionHandlers", 107).message);
}

TEST(DriverRetryLogging, aSilentFailureStillUpdatesTheRecord) {
    DriverRetry retry;
    retry.failed("a", 0);
    retry.failed("a", 2);
    const auto third = retry.failed("a", 7);
    EXPECT_FALSE(third.message);
    EXPECT_EQ(retry.lastAttempt, 7.0);
    EXPECT_EQ(retry.lastLogged, std::string("a"));
    EXPECT_EQ(retry.failures, 3);
}

TEST(DriverRetryRecord, startsEmptyAndComparesAllFields) {
    const DriverRetry fresh;
    EXPECT_EQ(fresh.failures, 0);
    EXPECT_FALSE(fresh.lastAttempt);
    EXPECT_FALSE(fresh.lastReason);
    EXPECT_FALSE(fresh.lastLogged);
    DriverRetry other;
    other.lastLogged = "x";
    EXPECT_NE(fresh, other);
    EXPECT_EQ(fresh, DriverRetry());
}

TEST(DriverRetrySpoken, secondsBelowAMinuteAndWholeMinutesAbove) {
    EXPECT_EQ(DriverRetry::spoken(2), "2 s");
    EXPECT_EQ(DriverRetry::spoken(59.9), "59 s");
    EXPECT_EQ(DriverRetry::spoken(60), "1 min");
    EXPECT_EQ(DriverRetry::spoken(119), "1 min");
    EXPECT_EQ(DriverRetry::spoken(300), "5 min");
    EXPECT_EQ(DriverRetry::spoken(1800), "30 min");
    EXPECT_EQ(DriverRetry::spoken(0), "0 s");
}
