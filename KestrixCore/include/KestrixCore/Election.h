#pragma once

#include "KestrixProtocol/BrokerPlace.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

namespace kestrix::core {

// The waits of the election; tests make them short or drive them.
struct ElectionTiming {
    int questions = 20;                // questions asked while nobody answers
    double pause = 0.1;                // between unanswered questions
    double receiveTimeout = 2.0;       // for each answer
    double lockWait = 5.0;             // for the old broker to let go after it said it leaves
    double lockPoll = 0.02;            // between tries of the lock meanwhile
    std::function<void(double)> sleep; // default: a real sleep
    std::function<double()> clock;     // default: the monotonic clock, in seconds
};

// At most one broker serves a broker folder: whoever holds the exclusive lock on "broker.lock".
// A newcomer that finds the lock held asks the running broker over its socket to hand over; a
// running broker does so only for a higher version, and then leaves, which frees the lock. Runs
// once at launch, before anything else, and blocks while it waits.
struct Election {
    struct Outcome {
        enum class Kind { elected, stays, failed };
        Kind kind = Kind::failed;
        int lockFile = -1;               // elected: the locked descriptor, kept for life
        std::int64_t runningVersion = 0; // stays: the version of the broker that keeps serving
        std::string text;                // failed: why

        static Outcome elected(int fd) { return {Kind::elected, fd, 0, {}}; }
        static Outcome stays(std::int64_t version) { return {Kind::stays, -1, version, {}}; }
        static Outcome failed(std::string why) { return {Kind::failed, -1, 0, std::move(why)}; }
        bool operator==(const Outcome&) const = default;
    };

    // The running broker's answer: its version (0 when it sent no welcome) and whether it leaves.
    struct Answer {
        std::int64_t running = 0;
        bool leaves = false;
        bool operator==(const Answer&) const = default;
    };

    using Timing = ElectionTiming;

    static Outcome run(const BrokerPlace& place, std::int64_t version,
                       const std::function<void(const std::string&)>& log, Timing timing);
    static Outcome run(const BrokerPlace& place, std::int64_t version,
                       const std::function<void(const std::string&)>& log) {
        return run(place, version, log, Timing{});
    }

    // One question to the running broker: hello (no claim) and takeOver with our version.
    static std::optional<Answer> askToHandOver(const BrokerPlace& place, std::int64_t version,
                                               double receiveTimeout = 2.0);
};

} // namespace kestrix::core
