#include "Vantor/DispatchTicker.h"

namespace vantor {

void DispatchTicker::start(double interval, std::function<void()> tick) {
    stop();
    auto shared = std::make_shared<std::function<void()>>(std::move(tick));
    timer_ = loop_.repeat(interval, 0.001, [shared] { (*shared)(); });
    // The first tick fires at once, but from the loop, not from inside start().
    std::weak_ptr<unsigned> generation = generation_;
    unsigned current = *generation_;
    loop_.after(0, [generation, current, shared] {
        auto alive = generation.lock();
        if (alive && *alive == current) (*shared)();
    });
}

void DispatchTicker::stop() {
    ++*generation_;
    timer_.reset();
}

} // namespace vantor
