#pragma once

#include <functional>
#include <memory>

namespace kestrix {

// A readiness watch or a repeating timer. Destroying it stops it, as does cancel(). Once cancel()
// has returned (or the destructor has run) the handler never runs again and the loop keeps no
// reference to the watched descriptor, so the descriptor may be closed right after. Both may be
// called from inside the watch's own handler.
class Watch {
public:
    virtual ~Watch() = default;
    virtual void cancel() = 0;
};

// The one event loop of a process. Everything of both programs runs on its thread; only post()
// may be called from another thread. Time is seconds on a monotonic clock.
class MainLoop {
public:
    using Task = std::function<void()>;

    virtual ~MainLoop() = default;

    // Seconds on the loop's monotonic clock (virtual in tests).
    virtual double now() const = 0;

    // Runs body once on the loop, `seconds` from now. There is no handle: a delayed action that
    // may have become stale checks a generation counter or a flag when it runs.
    virtual void after(double seconds, Task body) = 0;

    // Runs body on the loop as soon as it can; safe from any thread.
    virtual void post(Task body) = 0;

    // Calls handler on the loop whenever fd is readable (or writable), until the watch is gone.
    virtual std::unique_ptr<Watch> watchReadable(int fd, Task handler) = 0;
    virtual std::unique_ptr<Watch> watchWritable(int fd, Task handler) = 0;
    // The same as watchReadable, for the few descriptors that are ready far more often than the
    // rest (a device at its report rate): a loop may watch them where a wake-up costs least.
    virtual std::unique_ptr<Watch> watchFrequentReadable(int fd, Task handler) {
        return watchReadable(fd, std::move(handler));
    }

    // Calls handler every `interval` seconds, the first time `interval` from now. `leeway` is how
    // late a firing may be; missed firings are not made up for.
    virtual std::unique_ptr<Watch> repeat(double interval, double leeway, Task handler) = 0;

    // True on the loop's own thread.
    virtual bool isLoopThread() const = 0;
};

} // namespace kestrix
