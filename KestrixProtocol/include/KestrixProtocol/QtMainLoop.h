#pragma once

#include "KestrixProtocol/MainLoop.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <thread>

class QObject;

namespace kestrix {

// The main loop of both programs, on the thread that creates it. Everything it serves sits in one
// epoll set: descriptor watches, repeating timers (a CLOCK_MONOTONIC timerfd each, because Qt's
// own timers wait in whole milliseconds and cannot hold a 120 Hz grid), one-shot delays (one more
// timerfd, to the nanosecond, never early) and posted tasks (an eventfd). A wake-up therefore
// costs the same however many descriptors are watched.
//
// The loop is driven in one of two ways:
// - by Qt (vantor, and the broker once it shows its tray icon): Qt's event loop runs, with the
//   set's descriptor as one notifier among Qt's own; the few frequent watches, the devices, get
//   notifiers of their own. The application object must exist before the loop is made
//   (std::logic_error otherwise).
// - on its own (the broker while it shows nothing): run() waits on the set alone, so a device
//   report costs one wait and no dispatcher of Qt's; no application object is needed. When the
//   program comes to need Qt after all, handOverToQt() passes the loop to Qt's event loop for good.
//
// Destroying the loop drops the delays and posted tasks that have not run yet; watches and
// repeating timers stay valid objects and stop with their own destruction.
class QtMainLoop final : public MainLoop {
public:
    enum class Drive { qt, own };

    explicit QtMainLoop(Drive drive = Drive::qt);
    ~QtMainLoop() override;
    QtMainLoop(const QtMainLoop&) = delete;
    QtMainLoop& operator=(const QtMainLoop&) = delete;

    double now() const override;
    void after(double seconds, Task body) override;
    void post(Task body) override;
    std::unique_ptr<Watch> watchReadable(int fd, Task handler) override;
    std::unique_ptr<Watch> watchWritable(int fd, Task handler) override;
    // A notifier of its own, which Qt's dispatcher polls beside the epoll set: a report then
    // wakes the loop once, without a second wait on the set.
    std::unique_ptr<Watch> watchFrequentReadable(int fd, Task handler) override;
    // interval must be above 0 (std::invalid_argument otherwise). leeway is not used: the
    // timerfd fires on its grid as closely as the scheduler allows. Throws std::system_error
    // when no timerfd can be made.
    std::unique_ptr<Watch> repeat(double interval, double leeway, Task handler) override;
    bool isLoopThread() const override;

    // Serves the loop on its own until quit() (returning its status) or until handOverToQt()
    // (returning nothing: Qt's event loop is to run next). Only for Drive::own.
    std::optional<int> run();
    // Ends whichever loop drives this one once the tasks posted before have run: run() returns
    // the status, or Qt's event loop exits with it. Also works before the loop runs.
    void quit(int status);
    // From now on Qt drives the loop: run() returns after the current round. Needs the
    // application object; watches made before stay in the set and keep working.
    void handOverToQt();

    struct Watches;
    struct Delays;
    struct Posts;

private:
    std::unique_ptr<Watch> watch(int fd, std::uint32_t events, int timerFd, Task handler);
    void notifyQt(); // Qt's notifier of the set, made once (at the start or the hand-over)

    Drive drive_;
    std::optional<int> quit_;
    std::unique_ptr<QObject> context_; // parent of the notifiers; lives on the loop thread
    std::thread::id thread_;
    std::shared_ptr<Watches> watches_; // the epoll set behind every watch and repeating timer
    std::shared_ptr<Delays> delays_;
    std::shared_ptr<Posts> posts_;
    std::unique_ptr<Watch> delaysWatch_;
    std::unique_ptr<Watch> postsWatch_;
};

// Held while the application object is made, it has Qt run its own event dispatcher instead of
// glib's, which prepares, polls and checks its sources around every wait: the loop wakes once a
// report in both programs, and each wake-up then does less. Nothing of either program needs
// glib's loop: neither shows GTK dialogs or menus, vantor has no windows, and the broker's tray
// icon speaks D-Bus or XEmbed through Qt. The choice is made through QT_NO_GLIB, which is taken back when this ends, so
// processes started later get the environment they were given; a QT_NO_GLIB that was set before
// is left as it is.
class QtDispatcherChoice {
public:
    QtDispatcherChoice();
    ~QtDispatcherChoice();
    QtDispatcherChoice(const QtDispatcherChoice&) = delete;
    QtDispatcherChoice& operator=(const QtDispatcherChoice&) = delete;

private:
    bool set_ = false;
};

} // namespace kestrix
