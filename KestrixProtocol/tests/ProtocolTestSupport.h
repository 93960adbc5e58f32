#pragma once

// Socket pairs, descriptor counting, and drivers that run a main loop until a condition holds,
// one per implementation, so that the same contract tests run against each.

#include "KestrixProtocol/QtMainLoop.h"
#include "KestrixProtocol/VirtualMainLoop.h"

#include <QCoreApplication>
#include <QEvent>
#include <QTimer>
#include <chrono>
#include <filesystem>
#include <functional>
#include <gtest/gtest.h>
#include <stdexcept>
#include <string>
#include <sys/socket.h>
#include <unistd.h>

namespace kestrix::test {

// A connected pair of stream sockets, closed at the end unless released.
struct SocketPair {
    int fds[2] = {-1, -1};
    SocketPair() {
        if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0)
            throw std::runtime_error("socketpair failed");
    }
    ~SocketPair() {
        for (int fd : fds)
            if (fd >= 0) ::close(fd);
    }
    SocketPair(const SocketPair&) = delete;
    SocketPair& operator=(const SocketPair&) = delete;

    void closeEnd(int i) {
        ::close(fds[i]);
        fds[i] = -1;
    }
    // Gives up ownership of one end, to a connection that will close it.
    int release(int i) {
        int fd = fds[i];
        fds[i] = -1;
        return fd;
    }
};

// Descriptors open in this process right now.
inline std::size_t openDescriptorCount() {
    auto entries = std::filesystem::directory_iterator("/proc/self/fd");
    return std::size_t(std::distance(entries, std::filesystem::directory_iterator()));
}

// Runs the virtual loop: posted work and descriptors first, then time up to the next timer, and
// when no timer is left waits on the descriptors in real time.
class VirtualDriver {
public:
    MainLoop& loop() { return loop_; }

    bool waitFor(const std::function<bool()>& done) {
        for (int step = 0; step < 100000; ++step) {
            loop_.runPending();
            if (done()) return true;
            if (auto due = loop_.nextTimerDue())
                loop_.advance(*due - loop_.now());
            else
                return loop_.runUntil(done, 10.0);
        }
        return done();
    }

private:
    VirtualMainLoop loop_;
};

// The one application object of the test program, made on first use (on the main thread, where
// the tests run) and kept to the end.
inline QCoreApplication& testApplication() {
    if (auto* app = QCoreApplication::instance()) return *app;
    static int argc = 1;
    static char name[] = "KestrixProtocolTests";
    static char* argv[] = {name, nullptr};
    static auto* app = new QCoreApplication(argc, argv);
    return *app;
}

// Runs Qt's event loop in real time until the condition holds, for at most ten seconds.
class QtDriver {
public:
    ~QtDriver() {
        // Notifiers deleted from inside their own handlers go at the next deferred-delete pass.
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
    MainLoop& loop() { return loop_; }

    bool waitFor(const std::function<bool()>& done) {
        QTimer wake; // bounds each wait for more events, so the deadline is seen
        wake.start(5);
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (!done() && std::chrono::steady_clock::now() < deadline)
            QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
        return done();
    }

private:
    QCoreApplication& application_ = testApplication(); // before the loop, which needs it
    QtMainLoop loop_;
};

// Runs the same loop on its own, as the broker does while it shows nothing: a 2 ms timer checks
// the condition and ends run() once it holds, or after ten seconds.
class OwnDriver {
public:
    MainLoop& loop() { return loop_; }

    bool waitFor(const std::function<bool()>& done) {
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        bool asked = false; // one quit a wait, or a late one would end the next wait at once
        auto check = loop_.repeat(0.002, 0, [&] {
            if (asked || !(done() || std::chrono::steady_clock::now() > deadline)) return;
            asked = true;
            loop_.quit(0);
        });
        if (!done()) loop_.run();
        return done();
    }

    QtMainLoop loop_{QtMainLoop::Drive::own};
};

using MainLoopDriverTypes = ::testing::Types<VirtualDriver, QtDriver, OwnDriver>;

struct MainLoopDriverNames {
    template <class T> static std::string GetName(int) {
        if constexpr (std::is_same_v<T, VirtualDriver>)
            return "Virtual";
        else if constexpr (std::is_same_v<T, QtDriver>)
            return "Qt";
        else
            return "Own";
    }
};

} // namespace kestrix::test
