#include "KestrixProtocol/QtMainLoop.h"

#include <QCoreApplication>
#include <QEvent>
#include <QObject>
#include <QPointer>
#include <QSocketNotifier>
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/timerfd.h>
#include <system_error>
#include <unistd.h>
#include <unordered_map>
#include <utility>
#include <vector>

namespace kestrix {

namespace {

// A read notifier that runs its handler straight from its activation event, without the signal
// and slot dispatch around `activated` (this is on the path of every device report).
class HandlerNotifier final : public QSocketNotifier {
public:
    HandlerNotifier(int fd, QObject* parent, std::function<void()> handler)
        : QSocketNotifier(fd, QSocketNotifier::Read, parent)
        , handler_(std::move(handler)) {}

protected:
    bool event(QEvent* event) override {
        if (event->type() != QEvent::SockAct && event->type() != QEvent::SockClose)
            return QSocketNotifier::event(event);
        handler_();
        return true;
    }

private:
    std::function<void()> handler_;
};

} // namespace

// Every descriptor watch and repeating timer of the loop sits in one epoll set, and Qt watches
// only that set's descriptor: a wake-up costs the same whether one client is connected or a
// hundred, where a notifier per descriptor would have Qt's dispatcher poll them all each time.
// Watched descriptors are those epoll takes: sockets, pipes, timerfds, inotify and the like.
struct QtMainLoop::Watches {
    struct Entry {
        int fd = -1;
        std::uint32_t events = 0; // EPOLLIN or EPOLLOUT
        int timerFd = -1;         // the timerfd of a repeating timer, owned; -1 for a watch
        bool cancelled = false;   // set at once by cancel(), so nothing runs it any more
        Task handler;
    };

    int epoll = -1;
    QSocketNotifier* notifier = nullptr;
    std::uint64_t nextID = 1;
    // By id, for cancelling.
    std::unordered_map<std::uint64_t, std::shared_ptr<Entry>> entries;
    // The watches of each descriptor, indexed by the descriptor's number, so that a wake-up
    // reaches its handler without a search. The set holds a descriptor once, with the union of
    // the events its watches want, and with the number of its registration, so that an event
    // that was already collected for a descriptor since closed (and its number taken by another)
    // is recognised as stale.
    struct Registration {
        std::uint32_t number = 0; // 0: the descriptor is not in the set
        std::vector<std::shared_ptr<Entry>> watches;
    };
    std::vector<Registration> byDescriptor;
    std::uint32_t registrations = 0;

    static std::uint64_t tag(int fd, std::uint32_t number) {
        return std::uint64_t(number) << 32 | std::uint32_t(fd);
    }

    void update(int fd) {
        Registration& reg = byDescriptor[std::size_t(fd)];
        std::uint32_t wanted = 0;
        for (const auto& entry : reg.watches)
            wanted |= entry->events;
        if (wanted == 0) {
            if (reg.number == 0) return;
            ::epoll_ctl(epoll, EPOLL_CTL_DEL, fd, nullptr);
            reg.number = 0;
            return;
        }
        bool added = reg.number == 0;
        if (added) reg.number = ++registrations;
        epoll_event event{};
        event.events = wanted;
        event.data.u64 = tag(fd, reg.number);
        // A descriptor closed while watched has left the set by itself; one still in it under a
        // stale registration is changed in place.
        if (::epoll_ctl(epoll, added ? EPOLL_CTL_ADD : EPOLL_CTL_MOD, fd, &event) != 0)
            ::epoll_ctl(epoll, added ? EPOLL_CTL_MOD : EPOLL_CTL_ADD, fd, &event);
    }

    std::uint64_t add(int fd, std::uint32_t events, int timerFd, Task handler) {
        auto entry = std::make_shared<Entry>();
        entry->fd = fd;
        entry->events = events;
        entry->timerFd = timerFd;
        entry->handler = std::move(handler);
        std::uint64_t id = nextID++;
        entries.emplace(id, entry);
        if (fd < 0) return id; // nothing to watch: it never fires, as epoll would refuse it
        if (byDescriptor.size() <= std::size_t(fd)) byDescriptor.resize(std::size_t(fd) + 1);
        byDescriptor[std::size_t(fd)].watches.push_back(std::move(entry));
        update(fd);
        return id;
    }

    // Takes the watch out of the set at once, so that its descriptor may be closed right after.
    void remove(std::uint64_t id) {
        auto it = entries.find(id);
        if (it == entries.end()) return;
        std::shared_ptr<Entry> entry = std::move(it->second);
        entries.erase(it);
        entry->cancelled = true;
        if (entry->fd >= 0) {
            std::erase(byDescriptor[std::size_t(entry->fd)].watches, entry);
            update(entry->fd);
        }
        if (entry->timerFd >= 0) ::close(entry->timerFd);
    }

    static void run(Entry& entry, std::uint32_t ready) {
        if (entry.cancelled || !(entry.events & ready)) return;
        if (entry.timerFd >= 0) {
            // The number of expirations is of no interest: missed firings are not made up.
            std::uint64_t expirations;
            if (::read(entry.timerFd, &expirations, sizeof expirations) != sizeof expirations)
                return;
        }
        entry.handler();
    }

    // Serves what is ready now, without waiting. Level-triggered: what a handler leaves ready
    // comes round again on the next activation.
    void dispatch() {
        epoll_event events[64];
        serve(events, ::epoll_wait(epoll, events, 64, 0));
    }

    void serve(const epoll_event* events, int count) {
        for (int i = 0; i < count; ++i) {
            auto fd = std::size_t(std::uint32_t(events[i].data.u64));
            if (fd >= byDescriptor.size()) continue;
            const Registration& reg = byDescriptor[fd];
            if (reg.number == 0 || tag(int(fd), reg.number) != events[i].data.u64) continue;
            // An error or hang-up counts as readiness for both: the handler's read or write
            // reports it.
            std::uint32_t ready = events[i].events;
            if (ready & (EPOLLERR | EPOLLHUP)) ready |= EPOLLIN | EPOLLOUT;
            if (reg.watches.size() == 1) {
                std::shared_ptr<Entry> entry = reg.watches.front(); // alive while it runs
                run(*entry, ready);
                continue;
            }
            // A copy: handlers may add and cancel watches of this descriptor.
            std::vector<std::shared_ptr<Entry>> copy = reg.watches;
            for (const auto& entry : copy)
                run(*entry, ready);
        }
    }
};

namespace {

class EpollWatch final : public Watch {
public:
    EpollWatch(std::weak_ptr<QtMainLoop::Watches> watches, std::uint64_t id)
        : watches_(std::move(watches))
        , id_(id) {}
    ~EpollWatch() override { cancel(); }

    void cancel() override {
        if (id_ == 0) return;
        if (auto watches = watches_.lock()) watches->remove(id_);
        id_ = 0;
    }

private:
    std::weak_ptr<QtMainLoop::Watches> watches_;
    std::uint64_t id_;
};

class NotifierWatch final : public Watch {
public:
    NotifierWatch(QObject* context, int fd, MainLoop::Task handler)
        : notifier_(new HandlerNotifier(fd, context, std::move(handler))) {}
    ~NotifierWatch() override { cancel(); }

    void cancel() override {
        if (!notifier_) return; // cancelled, or gone with the loop
        // Disabled at once, so the descriptor may be closed; deleted once its handler, which
        // may be running now, has returned.
        notifier_->setEnabled(false);
        notifier_->deleteLater();
        notifier_ = nullptr;
    }

private:
    QPointer<QSocketNotifier> notifier_;
};

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

std::int64_t monotonicNanoseconds() {
    timespec ts{};
    ::clock_gettime(CLOCK_MONOTONIC, &ts);
    return std::int64_t(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

} // namespace

// One-shot delays, due on CLOCK_MONOTONIC to the nanosecond, behind one timerfd in the epoll set
// that is armed for the earliest of them. Qt's dispatcher then has no timer of the loop's to wait
// for, so it sleeps without a time-out and does not arm and cancel a kernel timer around every
// wake-up, as it would for a QTimer that is hours away.
struct QtMainLoop::Delays {
    int timer = -1;
    std::int64_t armed = 0; // the deadline the timerfd is set for; 0 when disarmed
    // By deadline, then in the order they were asked for.
    std::map<std::pair<std::int64_t, std::uint64_t>, Task> due;
    std::uint64_t nextOrder = 0;

    void arm() {
        std::int64_t next = due.empty() ? 0 : due.begin()->first.first;
        if (next == armed) return;
        itimerspec value{};
        value.it_value = {time_t(next / 1000000000), long(next % 1000000000)};
        ::timerfd_settime(timer, TFD_TIMER_ABSTIME, &value, nullptr);
        armed = next;
    }

    void add(std::int64_t deadline, Task body) {
        due.emplace(std::pair(deadline, nextOrder++), std::move(body));
        arm();
    }

    // Runs every delay that is due, in order; a delay that a body adds runs now only if it is
    // already due.
    void fire() {
        std::uint64_t expirations;
        [[maybe_unused]] auto n = ::read(timer, &expirations, sizeof expirations);
        armed = -1; // a one-shot timerfd that fired is disarmed
        std::int64_t now = monotonicNanoseconds();
        while (!due.empty() && due.begin()->first.first <= now) {
            Task body = std::move(due.begin()->second);
            due.erase(due.begin());
            body();
        }
        arm();
    }
};

// Tasks posted from any thread, run in the order they came behind an eventfd in the epoll set.
// The eventfd is written only when the queue was empty: one wake-up serves a burst of posts.
struct QtMainLoop::Posts {
    int event = -1;
    std::mutex mutex;
    std::vector<Task> queue;
    bool halted = false; // set by quit() on a loop that runs on its own

    void wake() const {
        std::uint64_t one = 1;
        [[maybe_unused]] auto n = ::write(event, &one, sizeof one);
    }

    void push(Task body) {
        bool empty;
        {
            std::lock_guard lock(mutex);
            empty = queue.empty();
            queue.push_back(std::move(body));
        }
        if (empty) wake();
    }

    // Runs what was posted before this round; what these tasks post runs in the next one (or in
    // a loop that one of them runs inside). The eventfd is read before the queue is taken, so a
    // post in between wakes the loop again.
    void runAll() {
        std::uint64_t count;
        [[maybe_unused]] auto n = ::read(event, &count, sizeof count);
        std::vector<Task> running;
        {
            std::lock_guard lock(mutex);
            running.swap(queue);
        }
        for (std::size_t i = 0; i < running.size(); ++i) {
            running[i]();
            if (!halted) continue;
            // The loop ends here: what is left waits, first in line, for the next run.
            std::lock_guard lock(mutex);
            queue.insert(queue.begin(), std::make_move_iterator(running.begin() + long(i) + 1),
                         std::make_move_iterator(running.end()));
            if (!queue.empty()) wake();
            return;
        }
    }
};

QtMainLoop::QtMainLoop(Drive drive)
    : drive_(drive)
    , context_(std::make_unique<QObject>())
    , thread_(std::this_thread::get_id())
    , watches_(std::make_shared<Watches>())
    , delays_(std::make_shared<Delays>())
    , posts_(std::make_shared<Posts>()) {
    watches_->epoll = ::epoll_create1(EPOLL_CLOEXEC);
    delays_->timer = ::timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
    posts_->event = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (watches_->epoll < 0 || delays_->timer < 0 || posts_->event < 0) {
        int error = errno;
        for (int fd : {watches_->epoll, delays_->timer, posts_->event})
            if (fd >= 0) ::close(fd);
        throw std::system_error(error, std::generic_category(), "main loop descriptors");
    }
    if (drive_ == Drive::qt) {
        if (!QCoreApplication::instance()) {
            for (int fd : {watches_->epoll, delays_->timer, posts_->event})
                ::close(fd);
            throw std::logic_error("QtMainLoop: driven by Qt, but there is no application object");
        }
        notifyQt();
    }
    std::weak_ptr<Delays> delays = delays_;
    delaysWatch_ = watch(delays_->timer, EPOLLIN, -1, [delays] {
        if (auto held = delays.lock()) held->fire();
    });
    std::weak_ptr<Posts> posts = posts_;
    postsWatch_ = watch(posts_->event, EPOLLIN, -1, [posts] {
        if (auto held = posts.lock()) held->runAll();
    });
}

QtMainLoop::~QtMainLoop() {
    // Watches that outlive the loop find the set gone and do nothing; their timerfds close here.
    for (auto& [id, entry] : watches_->entries)
        if (entry->timerFd >= 0) ::close(entry->timerFd);
    watches_->entries.clear();
    watches_->byDescriptor.clear();
    delaysWatch_.reset();
    postsWatch_.reset();
    delays_->due.clear();
    ::close(delays_->timer);
    posts_->queue.clear();
    ::close(posts_->event);
    delete watches_->notifier;
    watches_->notifier = nullptr;
    ::close(watches_->epoll);
}

std::unique_ptr<Watch> QtMainLoop::watch(int fd, std::uint32_t events, int timerFd, Task handler) {
    std::uint64_t id = watches_->add(fd, events, timerFd, std::move(handler));
    return std::make_unique<EpollWatch>(watches_, id);
}

void QtMainLoop::notifyQt() {
    if (watches_->notifier) return;
    std::weak_ptr<Watches> weak = watches_;
    watches_->notifier = new HandlerNotifier(watches_->epoll, context_.get(), [weak] {
        if (auto watches = weak.lock()) watches->dispatch();
    });
}

std::optional<int> QtMainLoop::run() {
    if (drive_ != Drive::own) throw std::logic_error("run: the loop is driven by Qt");
    quit_.reset();
    posts_->halted = false;
    epoll_event events[64];
    while (!quit_ && drive_ == Drive::own) {
        int count = ::epoll_wait(watches_->epoll, events, 64, -1);
        if (count < 0) {
            if (errno == EINTR) continue;
            throw std::system_error(errno, std::generic_category(), "epoll_wait");
        }
        watches_->serve(events, count);
    }
    return quit_;
}

void QtMainLoop::quit(int status) {
    post([this, status] {
        if (drive_ == Drive::own) {
            quit_ = status;
            posts_->halted = true;
        } else
            QCoreApplication::exit(status);
    });
}

void QtMainLoop::handOverToQt() {
    if (drive_ == Drive::qt) return;
    if (!QCoreApplication::instance())
        throw std::logic_error("handOverToQt: there is no application object");
    drive_ = Drive::qt;
    notifyQt();
}

double QtMainLoop::now() const {
    // steady_clock is CLOCK_MONOTONIC, the clock of the repeating timers.
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

void QtMainLoop::after(double seconds, Task body) {
    if (!body) return;
    // Nothing to wait for: the task queues behind what is posted already.
    if (!(seconds > 0)) return post(std::move(body));
    // Rounded up to the nanosecond: a delay may come late but never early. Capped at about three
    // years, far beyond any delay asked for.
    double clamped = std::min(seconds, 1e8);
    auto nanoseconds = std::int64_t(std::ceil(clamped * 1e9));
    delays_->add(monotonicNanoseconds() + nanoseconds, std::move(body));
}

void QtMainLoop::post(Task body) {
    if (body) posts_->push(std::move(body));
}

std::unique_ptr<Watch> QtMainLoop::watchReadable(int fd, Task handler) {
    return watch(fd, EPOLLIN, -1, std::move(handler));
}

std::unique_ptr<Watch> QtMainLoop::watchFrequentReadable(int fd, Task handler) {
    // On its own the loop waits on the set alone, so the set is the cheapest place.
    if (drive_ == Drive::own) return watchReadable(fd, std::move(handler));
    return std::make_unique<NotifierWatch>(context_.get(), fd, std::move(handler));
}

std::unique_ptr<Watch> QtMainLoop::watchWritable(int fd, Task handler) {
    return watch(fd, EPOLLOUT, -1, std::move(handler));
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
    return watch(fd, EPOLLIN, fd, std::move(handler));
}

bool QtMainLoop::isLoopThread() const {
    return std::this_thread::get_id() == thread_;
}

QtDispatcherChoice::QtDispatcherChoice() {
    if (std::getenv("QT_NO_GLIB")) return;
    set_ = ::setenv("QT_NO_GLIB", "1", 1) == 0;
}

QtDispatcherChoice::~QtDispatcherChoice() {
    if (set_) ::unsetenv("QT_NO_GLIB");
}

} // namespace kestrix
