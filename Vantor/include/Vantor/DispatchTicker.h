#pragma once

#include "KestrixProtocol/MainLoop.h"

#include <functional>
#include <memory>

namespace vantor {

// The tick timer seam of the Scroller.
class Ticking {
public:
    virtual ~Ticking() = default;
    // Calls tick on the main loop every `interval` seconds, the first time at once; a second start
    // replaces the running timer.
    virtual void start(double interval, std::function<void()> tick) = 0;
    virtual void stop() = 0;
};

// One repeating timer on the main loop with a leeway of 1 ms.
class DispatchTicker final : public Ticking {
public:
    explicit DispatchTicker(kestrix::MainLoop& loop)
        : loop_(loop) {}
    ~DispatchTicker() override { stop(); }

    void start(double interval, std::function<void()> tick) override;
    void stop() override;

    bool running() const { return timer_ != nullptr; }

private:
    kestrix::MainLoop& loop_;
    std::unique_ptr<kestrix::Watch> timer_;
    // Bumped by every start and stop, so the first tick queued by a replaced start never runs.
    std::shared_ptr<unsigned> generation_ = std::make_shared<unsigned>(0);
};

} // namespace vantor
