#include "KestrixProtocol/QtMainLoop.h"

#include <QMetaObject>
#include <QObject>
#include <QSocketNotifier>
#include <QTimer>
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <stdexcept>
#include <sys/timerfd.h>
#include <system_error>
#include <unistd.h>

namespace kestrix {

namespace {

struct NotifierState {
    QSocketNotifier* notifier = nullptr;
    MainLoop::Task handler;
    int timerFd = -1;    // the timerfd of a repeating timer, owned; -1 for a descriptor watch
    int dispatching = 0; // > 0 while the handler runs
    bool cancelled = false;
};

class NotifierWatch final : public Watch {
public:
    explicit NotifierWatch(std::shared_ptr<NotifierState> state)
        : state_(std::move(state)) {}
    ~NotifierWatch() override { cancel(); }

    void cancel() override {
        NotifierState& state = *state_;
        if (state.cancelled) return;
        state.cancelled = true;
        // Disabling unregisters the descriptor from the event dispatcher at once, so the
        // descriptor may be closed as soon as this returns. A notifier must not be deleted while
        // it delivers its own activation, so from inside the handler its deletion waits for the
        // event loop.
        state.notifier->setEnabled(false);
        QObject::disconnect(state.notifier, nullptr, nullptr, nullptr);
        if (state.dispatching > 0)
            state.notifier->deleteLater();
        else
            delete state.notifier;
        state.notifier = nullptr;
        if (state.timerFd >= 0) {
            ::close(state.timerFd);
            state.timerFd = -1;
        }
    }

private:
    std::shared_ptr<NotifierState> state_;
};

std::unique_ptr<Watch> makeWatch(int fd, QSocketNotifier::Type type, int timerFd,
                                 MainLoop::Task handler) {
    auto state = std::make_shared<NotifierState>();
    state->handler = std::move(handler);
    state->timerFd = timerFd;
    state->notifier = new QSocketNotifier(fd, type);
    QObject::connect(state->notifier, &QSocketNotifier::activated, state->notifier,
                     [weak = std::weak_ptr<NotifierState>(state)] {
                         // Holding the state keeps the handler alive even if it destroys its own
                         // watch.
                         auto state = weak.lock();
                         if (!state || state->cancelled) return;
                         if (state->timerFd >= 0) {
                             // The number of expirations is of no interest: missed firings are not
                             // made up.
                             std::uint64_t expirations;
                             if (::read(state->timerFd, &expirations, sizeof expirations) !=
                                 sizeof expirations)
                                 return;
                         }
                         struct Dispatching {
                             NotifierState& state;
                             explicit Dispatching(NotifierState& s)
                                 : state(s) {
                                 ++state.dispatching;
                             }
                             ~Dispatching() { --state.dispatching; }
                         } dispatching(*state);
                         state->handler();
                     });
    return std::make_unique<NotifierWatch>(std::move(state));
}

timespec toTimespec(double seconds) {
    double whole = std::floor(seconds);
    auto nanoseconds = static_cast<long>(std::llround((seconds - whole) * 1e9));
    timespec value{static_cast<time_t>(whole), nanoseconds};
    if (value.tv_nsec >= 1000000000L) {
        value.tv_sec += 1;
        value.tv_nsec -= 1000000000L;
    }
    if (value.tv_sec == 0 && value.tv_nsec == 0)
        value.tv_nsec = 1; // a zero value would disarm the timer
    return value;
}

} // namespace

QtMainLoop::QtMainLoop()
    : context_(std::make_unique<QObject>())
    , thread_(std::this_thread::get_id()) {}

QtMainLoop::~QtMainLoop() = default;

double QtMainLoop::now() const {
    // steady_clock is CLOCK_MONOTONIC, the clock of the repeating timers.
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

void QtMainLoop::after(double seconds, Task body) {
    if (!body) return;
    using std::chrono::milliseconds;
    // Rounded up: a delay may come late but never early. Capped at about 24 days, the most a
    // QTimer holds.
    double clamped = std::clamp(seconds, 0.0, 2.0e6);
    auto delay = std::chrono::ceil<milliseconds>(std::chrono::duration<double>(clamped));
    QTimer::singleShot(delay, Qt::PreciseTimer, context_.get(), std::move(body));
}

void QtMainLoop::post(Task body) {
    if (!body) return;
    QMetaObject::invokeMethod(context_.get(), std::move(body), Qt::QueuedConnection);
}

std::unique_ptr<Watch> QtMainLoop::watchReadable(int fd, Task handler) {
    return makeWatch(fd, QSocketNotifier::Read, -1, std::move(handler));
}

std::unique_ptr<Watch> QtMainLoop::watchWritable(int fd, Task handler) {
    return makeWatch(fd, QSocketNotifier::Write, -1, std::move(handler));
}

std::unique_ptr<Watch> QtMainLoop::repeat(double interval, double, Task handler) {
    if (!(interval > 0)) throw std::invalid_argument("repeat: the interval must be above 0");
    int fd = ::timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
    if (fd < 0) throw std::system_error(errno, std::generic_category(), "timerfd_create");
    itimerspec value{};
    value.it_interval = toTimespec(interval);
    value.it_value = value.it_interval;
    if (::timerfd_settime(fd, 0, &value, nullptr) != 0) {
        int error = errno;
        ::close(fd);
        throw std::system_error(error, std::generic_category(), "timerfd_settime");
    }
    return makeWatch(fd, QSocketNotifier::Read, fd, std::move(handler));
}

bool QtMainLoop::isLoopThread() const {
    return std::this_thread::get_id() == thread_;
}

} // namespace kestrix
