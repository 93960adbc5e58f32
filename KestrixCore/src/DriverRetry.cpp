#include "KestrixCore/DriverRetry.h"

#include <algorithm>

namespace kestrix::core {

DriverRetry::Next DriverRetry::failed(const std::string& reason, double now) {
    failures += 1;
    const std::int64_t n = failures;
    lastAttempt = now;
    lastReason = reason;

    const auto step = std::min<std::int64_t>(n, std::int64_t(delays.size()));
    Next next{delays[std::size_t(step - 1)], std::nullopt};

    const bool powerOfTwo = (n & (n - 1)) == 0;
    if (lastLogged == reason && !powerOfTwo) return next;
    lastLogged = reason;
    std::string message = "driver: " + reason;
    if (n != 1) message += ", failed " + std::to_string(n) + " times";
    message += "; trying again in " + spoken(next.delay);
    next.message = std::move(message);
    return next;
}

std::string DriverRetry::spoken(double seconds) {
    if (seconds < 60) return std::to_string(static_cast<std::int64_t>(seconds)) + " s";
    return std::to_string(static_cast<std::int64_t>(seconds / 60)) + " min";
}

} // namespace kestrix::core
