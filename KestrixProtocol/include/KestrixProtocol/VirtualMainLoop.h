#pragma once

#include "KestrixProtocol/MainLoop.h"

#include <cstddef>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <utility>
#include <vector>

namespace kestrix {

// A main loop whose clock moves only when told to, for tests. Timers fire in the order of their
// due times (equal due times in the order they were scheduled) when advance() passes them; posted
// tasks and real file descriptors (polled without waiting) are served before and between them.
// Nothing sleeps: a 30-minute back-off takes as long to test as a 0.1 s retry.
//
// Timers due within a nanosecond past the end of an advance fire in it, so that advancing by
// decimal fractions that add up to a timer's delay (4.9 + 0.1 for 5 s) reaches it.
class VirtualMainLoop final : public MainLoop {
public:
    explicit VirtualMainLoop(double start = 0.0);
    ~VirtualMainLoop() override;
    VirtualMainLoop(const VirtualMainLoop&) = delete;
    VirtualMainLoop& operator=(const VirtualMainLoop&) = delete;

    double now() const override;
    void after(double seconds, Task body) override;
    void post(Task body) override;
    std::unique_ptr<Watch> watchReadable(int fd, Task handler) override;
    std::unique_ptr<Watch> watchWritable(int fd, Task handler) override;
    // interval must be above 0 (std::invalid_argument otherwise); leeway is ignored.
    std::unique_ptr<Watch> repeat(double interval, double leeway, Task handler) override;
    bool isLoopThread() const override;

    // Runs posted tasks, ready descriptors and every timer due up to now + seconds, in time
    // order; now() steps to each timer's due time as it fires and ends at now + seconds. Timers
    // scheduled meanwhile that fall within the span fire in the same call. Negative spans count
    // as 0.
    void advance(double seconds);

    // Runs posted tasks and handlers of ready descriptors until none is left; no time passes and
    // nothing blocks. A descriptor that stays ready while its handler leaves it so (an end of
    // stream nobody closes) is served a bounded number of rounds, so this always returns.
    void runPending();

    // Serves posted tasks and descriptors, waiting in poll() for them, until done() holds or
    // realTimeoutSeconds of real time have passed; no virtual time passes, so no timer fires.
    // Returns done(). For tests with real sockets, pipes and processes; post() from another
    // thread wakes it.
    bool runUntil(std::function<bool()> done, double realTimeoutSeconds = 5.0);

    // Inspection for tests.
    std::size_t pendingTimers() const;          // one-shot and repeating timers still scheduled
    std::optional<double> nextTimerDue() const; // the earliest, absent when there is none
    std::size_t readableWatchCount() const;     // live readable watches
    std::size_t writableWatchCount() const;     // live writable watches
    std::size_t pendingPosts() const;           // posted tasks not yet run

private:
    struct Timer;
    struct Descriptor;
    struct State;
    class TimerWatch;
    class DescriptorWatch;

    std::unique_ptr<Watch> watch(int fd, short events, Task handler);
    bool runPosted();
    bool pollDescriptors(int timeoutMilliseconds);
    bool fireNextTimer(double until);

    std::shared_ptr<State> state_;
};

} // namespace kestrix
