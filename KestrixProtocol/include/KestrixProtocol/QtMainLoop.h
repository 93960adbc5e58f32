#pragma once

#include "KestrixProtocol/MainLoop.h"

#include <cstdint>
#include <memory>
#include <thread>

class QObject;

namespace kestrix {

// The main loop of both programs, over Qt's event loop on the thread that creates it (the
// QCoreApplication or QApplication thread, which must exist before the loop is used). Descriptor
// watches sit in one epoll set, whose descriptor is Qt's notifier of them all, so a wake-up costs
// the same however many descriptors are watched (only the few frequent watches, the devices, have
// notifiers of their own); the repeating timer is a CLOCK_MONOTONIC
// timerfd in the same set, because Qt's own timers wait in whole milliseconds and cannot hold a
// 120 Hz grid; one-shot delays wait on one more timerfd there, to the nanosecond, and never fire
// early.
//
// Destroying the loop drops the delays and posted tasks that have not run yet; watches and
// repeating timers stay valid objects and stop with their own destruction.
class QtMainLoop final : public MainLoop {
public:
    QtMainLoop();
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

    struct Watches;
    struct Delays;

private:
    std::unique_ptr<Watch> watch(int fd, std::uint32_t events, int timerFd, Task handler);

    std::unique_ptr<QObject> context_; // receiver of delays and posts; lives on the loop thread
    std::thread::id thread_;
    std::shared_ptr<Watches> watches_; // the epoll set behind every watch and repeating timer
    std::shared_ptr<Delays> delays_;
    std::unique_ptr<Watch> delaysWatch_; // made with the first delay
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
