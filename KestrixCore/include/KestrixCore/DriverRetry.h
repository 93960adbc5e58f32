#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>

namespace kestrix::core {

// The back-off of failed registrations with the device driver, and which failures are logged.
// A repeated reason is logged at its 1st, 2nd, 4th, 8th, 16th ... failure, a new reason at once,
// so a driver that stays away for hours leaves a handful of lines rather than hundreds.
struct DriverRetry {
    // What follows one failure.
    struct Next {
        double delay = 0;                   // seconds before the next attempt
        std::optional<std::string> message; // the log line; absent when not to be logged
        bool operator==(const Next&) const = default;
    };

    std::int64_t failures = 0;             // failed registrations since the last success or reset
    std::optional<double> lastAttempt;     // main-loop time of the last failure
    std::optional<std::string> lastReason; // reason of the last failure
    std::optional<std::string> lastLogged; // reason last written to the log

    // Seconds before the next attempt after the 1st, 2nd, ... failure; the last repeats.
    static constexpr std::array<double, 9> delays{2, 5, 10, 30, 60, 120, 300, 600, 1800};

    bool operator==(const DriverRetry&) const = default;

    // Counts a failure at `now` and says when to try again and what to log.
    Next failed(const std::string& reason, double now);

    // A delay as a person says it: "2 s" below a minute (whole seconds, truncated), else whole
    // minutes, truncated: "5 min".
    static std::string spoken(double seconds);
};

} // namespace kestrix::core
