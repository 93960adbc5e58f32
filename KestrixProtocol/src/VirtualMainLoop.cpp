#include "KestrixProtocol/VirtualMainLoop.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cmath>
#include <poll.h>
#include <stdexcept>
#include <sys/eventfd.h>
#include <system_error>
#include <unistd.h>

namespace kestrix {

namespace {

// How far past the end of an advance a due time may lie and still count as reached.
constexpr double dueTolerance = 1e-9;

// Rounds of runPending() before it gives up on descriptors that never stop being ready.
constexpr int pendingRoundLimit = 100000;

} // namespace

struct VirtualMainLoop::Timer {
    Task body;
    double first = 0;    // due time of the first firing
    double interval = 0; // 0 for a one-shot timer
    std::uint64_t firings = 0;
    std::pair<double, std::uint64_t> key; // position in State::timers while scheduled
    bool cancelled = false;
};

struct VirtualMainLoop::Descriptor {
    int fd = -1;
    short events = 0;
    Task handler;
    bool cancelled = false;
};

struct VirtualMainLoop::State {
    double now = 0;
    std::uint64_t sequence = 0;
    std::map<std::pair<double, std::uint64_t>, std::shared_ptr<Timer>> timers;
    std::vector<std::shared_ptr<Descriptor>> descriptors;
    std::thread::id thread = std::this_thread::get_id();
    int wake = -1; // eventfd written by post() so that a blocked runUntil() wakes up

    mutable std::mutex postedMutex;
    std::deque<Task> posted;

    void schedule(const std::shared_ptr<Timer>& timer, double due) {
        timer->key = {due, sequence++};
        timers.emplace(timer->key, timer);
    }
};

// A repeating timer's handle.
class VirtualMainLoop::TimerWatch final : public Watch {
public:
    TimerWatch(std::weak_ptr<State> state, std::shared_ptr<Timer> timer)
        : state_(std::move(state))
        , timer_(std::move(timer)) {}
    ~TimerWatch() override { cancel(); }

    void cancel() override {
        if (!timer_ || timer_->cancelled) return;
        timer_->cancelled = true;
        if (auto state = state_.lock()) state->timers.erase(timer_->key);
    }

private:
    std::weak_ptr<State> state_;
    std::shared_ptr<Timer> timer_;
};

class VirtualMainLoop::DescriptorWatch final : public Watch {
public:
    DescriptorWatch(std::weak_ptr<State> state, std::shared_ptr<Descriptor> descriptor)
        : state_(std::move(state))
        , descriptor_(std::move(descriptor)) {}
    ~DescriptorWatch() override { cancel(); }

    void cancel() override {
        if (descriptor_->cancelled) return;
        descriptor_->cancelled = true;
        if (auto state = state_.lock()) std::erase(state->descriptors, descriptor_);
    }

private:
    std::weak_ptr<State> state_;
    std::shared_ptr<Descriptor> descriptor_;
};

VirtualMainLoop::VirtualMainLoop(double start)
    : state_(std::make_shared<State>()) {
    state_->now = start;
    state_->wake = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (state_->wake < 0) throw std::system_error(errno, std::generic_category(), "eventfd");
}

VirtualMainLoop::~VirtualMainLoop() {
    // Watches that outlive the loop find the state gone and do nothing.
    ::close(state_->wake);
}

double VirtualMainLoop::now() const {
    return state_->now;
}

void VirtualMainLoop::after(double seconds, Task body) {
    if (!body) return;
    auto timer = std::make_shared<Timer>();
    timer->body = std::move(body);
    timer->first = state_->now + std::max(seconds, 0.0);
    state_->schedule(timer, timer->first);
}

void VirtualMainLoop::post(Task body) {
    {
        std::lock_guard lock(state_->postedMutex);
        state_->posted.push_back(std::move(body));
    }
    std::uint64_t one = 1;
    [[maybe_unused]] auto written = ::write(state_->wake, &one, sizeof one);
}

std::unique_ptr<Watch> VirtualMainLoop::watch(int fd, short events, Task handler) {
    auto descriptor = std::make_shared<Descriptor>();
    descriptor->fd = fd;
    descriptor->events = events;
    descriptor->handler = std::move(handler);
    state_->descriptors.push_back(descriptor);
    return std::make_unique<DescriptorWatch>(state_, std::move(descriptor));
}

std::unique_ptr<Watch> VirtualMainLoop::watchReadable(int fd, Task handler) {
    return watch(fd, POLLIN, std::move(handler));
}

std::unique_ptr<Watch> VirtualMainLoop::watchWritable(int fd, Task handler) {
    return watch(fd, POLLOUT, std::move(handler));
}

std::unique_ptr<Watch> VirtualMainLoop::repeat(double interval, double, Task handler) {
    if (!(interval > 0)) throw std::invalid_argument("repeat: the interval must be above 0");
    auto timer = std::make_shared<Timer>();
    timer->body = std::move(handler);
    timer->interval = interval;
    timer->first = state_->now + interval;
    state_->schedule(timer, timer->first);
    return std::make_unique<TimerWatch>(state_, std::move(timer));
}

bool VirtualMainLoop::isLoopThread() const {
    return std::this_thread::get_id() == state_->thread;
}

bool VirtualMainLoop::runPosted() {
    std::uint64_t count;
    while (::read(state_->wake, &count, sizeof count) > 0) {
    }
    bool ran = false;
    for (;;) {
        Task task;
        {
            std::lock_guard lock(state_->postedMutex);
            if (state_->posted.empty()) break;
            task = std::move(state_->posted.front());
            state_->posted.pop_front();
        }
        ran = true;
        if (task) task();
    }
    return ran;
}

bool VirtualMainLoop::pollDescriptors(int timeoutMilliseconds) {
    // A snapshot, so that handlers may add and cancel watches while this round is served.
    std::vector<std::shared_ptr<Descriptor>> watched = state_->descriptors;
    std::vector<pollfd> fds;
    fds.reserve(watched.size() + 1);
    for (const auto& descriptor : watched)
        fds.push_back({descriptor->fd, descriptor->events, 0});
    if (timeoutMilliseconds != 0) fds.push_back({state_->wake, POLLIN, 0});
    if (fds.empty()) return false;

    int ready = ::poll(fds.data(), fds.size(), timeoutMilliseconds);
    if (ready <= 0) return false; // nothing ready, or EINTR: the caller comes round again

    bool ran = false;
    for (std::size_t i = 0; i < watched.size(); ++i) {
        const auto& descriptor = watched[i];
        // An error or hang-up counts as readiness: the handler's read or write reports it.
        short wanted = descriptor->events | POLLERR | POLLHUP;
        if (!(fds[i].revents & wanted) || descriptor->cancelled) continue;
        ran = true;
        descriptor->handler();
    }
    return ran;
}

bool VirtualMainLoop::fireNextTimer(double until) {
    auto& timers = state_->timers;
    if (timers.empty() || timers.begin()->first.first > until + dueTolerance) return false;
    auto timer = timers.begin()->second;
    double due = timers.begin()->first.first;
    timers.erase(timers.begin());
    state_->now = std::max(state_->now, due);
    if (timer->interval > 0) {
        // Due times are counted from the first firing so that rounding does not drift.
        ++timer->firings;
        state_->schedule(timer, timer->first + timer->interval * double(timer->firings));
        auto body = timer->body; // the handler may cancel its own timer
        body();
    } else {
        timer->body();
    }
    return true;
}

void VirtualMainLoop::advance(double seconds) {
    double until = state_->now + std::max(seconds, 0.0);
    runPending();
    while (fireNextTimer(until))
        runPending();
    state_->now = std::max(state_->now, until);
    runPending();
}

void VirtualMainLoop::runPending() {
    for (int round = 0; round < pendingRoundLimit; ++round) {
        bool ran = runPosted();
        ran = pollDescriptors(0) || ran;
        if (!ran) return;
    }
}

bool VirtualMainLoop::runUntil(std::function<bool()> done, double realTimeoutSeconds) {
    using Clock = std::chrono::steady_clock;
    auto deadline = Clock::now() +
                    std::chrono::duration_cast<Clock::duration>(
                        std::chrono::duration<double>(std::clamp(realTimeoutSeconds, 0.0, 1.0e7)));
    for (;;) {
        if (done()) return true;
        bool ran = runPosted();
        if (ran && done()) return true;
        auto remaining = deadline - Clock::now();
        if (remaining <= Clock::duration::zero()) return done();
        auto milliseconds = std::chrono::ceil<std::chrono::milliseconds>(remaining).count();
        int timeout = ran ? 0 : int(std::min<long long>(milliseconds, INT_MAX));
        pollDescriptors(timeout);
    }
}

std::size_t VirtualMainLoop::pendingTimers() const {
    return state_->timers.size();
}

std::optional<double> VirtualMainLoop::nextTimerDue() const {
    if (state_->timers.empty()) return std::nullopt;
    return state_->timers.begin()->first.first;
}

std::size_t VirtualMainLoop::readableWatchCount() const {
    return std::count_if(state_->descriptors.begin(), state_->descriptors.end(),
                         [](const auto& d) { return d->events == POLLIN; });
}

std::size_t VirtualMainLoop::writableWatchCount() const {
    return std::count_if(state_->descriptors.begin(), state_->descriptors.end(),
                         [](const auto& d) { return d->events == POLLOUT; });
}

std::size_t VirtualMainLoop::pendingPosts() const {
    std::lock_guard lock(state_->postedMutex);
    return state_->posted.size();
}

} // namespace kestrix
