// The main loop contract, run against every implementation, and the virtual loop's own rules.

#include "KestrixProtocol/MainLoop.h"
#include "KestrixProtocol/QtMainLoop.h"
#include "KestrixProtocol/VirtualMainLoop.h"
#include "ProtocolTestSupport.h"

#include <QEventLoop>
#include <QTimer>
#include <atomic>
#include <optional>
#include <stdexcept>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace kestrix;
using kestrix::test::SocketPair;

namespace {

void sendByte(int fd) {
    char byte = 'x';
    ASSERT_EQ(::send(fd, &byte, 1, MSG_NOSIGNAL), 1);
}

template <class Driver> class MainLoopContract : public ::testing::Test {
protected:
    Driver driver;
    MainLoop& loop = driver.loop();
};

} // namespace

TYPED_TEST_SUITE(MainLoopContract, test::MainLoopDriverTypes, test::MainLoopDriverNames);

TYPED_TEST(MainLoopContract, postsThenTimersByDueTimeThenSchedulingOrder) {
    std::string order;
    this->loop.post(nullptr); // empty tasks are ignored
    this->loop.after(0, nullptr);
    double start = this->loop.now(), inside = 0;
    this->loop.after(0.04, [&] {
        order += 'e';
        inside = this->loop.now();
        this->loop.after(0.01, [&] { order += 'g'; });
        this->loop.post([&] { order += 'f'; });
    });
    for (char c : std::string("bcd"))
        this->loop.after(0.02, [&order, c] { order += c; });
    this->loop.post([&] { order += 'a'; });
    ASSERT_TRUE(this->driver.waitFor([&] { return order.size() == 7; }));
    EXPECT_EQ(order, "abcdefg");
    EXPECT_GE(inside, start + 0.04 - 1e-6); // the clock never goes backwards
    EXPECT_GE(this->loop.now(), inside);
}

TYPED_TEST(MainLoopContract, postFromAnotherThreadRunsOnTheLoopThread) {
    std::atomic<bool> ran{false};
    bool onLoopThread = false;
    bool otherThreadIsLoopThread = true;
    std::thread other([&] {
        otherThreadIsLoopThread = this->loop.isLoopThread();
        this->loop.post([&] {
            onLoopThread = this->loop.isLoopThread();
            ran = true;
        });
    });
    ASSERT_TRUE(this->driver.waitFor([&] { return ran.load(); }));
    other.join();
    EXPECT_TRUE(onLoopThread);
    EXPECT_FALSE(otherThreadIsLoopThread);
    EXPECT_TRUE(this->loop.isLoopThread());
}

// Data reaches readable watches in the exchanges of the line connection tests.
TYPED_TEST(MainLoopContract, readableWatchSeesTheEndOfStream) {
    for (bool frequent : {false, true}) {
        SocketPair pair;
        bool ended = false;
        auto watchReadable = frequent ? &MainLoop::watchFrequentReadable : &MainLoop::watchReadable;
        auto watch = (this->loop.*watchReadable)(pair.fds[0], [&] {
            char buffer[16];
            ended = ::read(pair.fds[0], buffer, sizeof buffer) == 0;
        });
        pair.closeEnd(1);
        ASSERT_TRUE(this->driver.waitFor([&] { return ended; })) << frequent;
    }
}

TYPED_TEST(MainLoopContract, watchCancelledBeforeOrInsideItsHandlerOrDestroyedThereNeverRunsAgain) {
    for (int kind = 0; kind < 4; ++kind) {
        bool destroy = kind % 2, frequent = kind / 2;
        SocketPair pair;
        int calls = 0;
        std::unique_ptr<Watch> watch;
        auto watchReadable = frequent ? &MainLoop::watchFrequentReadable : &MainLoop::watchReadable;
        (this->loop.*watchReadable)(pair.fds[0], [&] { ++calls; })->cancel(); // before any data
        watch = (this->loop.*watchReadable)(pair.fds[0], [&] {
            ++calls;
            if (destroy) {
                watch.reset();
                return;
            }
            watch->cancel();
            // The descriptor may be closed at once; the data stays unread, so a watch that were
            // still alive would keep firing.
            pair.closeEnd(0);
        });
        sendByte(pair.fds[1]);
        ASSERT_TRUE(this->driver.waitFor([&] { return calls == 1; }));
        for (int round = 0; round < 3; ++round) {
            bool marker = false;
            this->loop.post([&] { marker = true; });
            ASSERT_TRUE(this->driver.waitFor([&] { return marker; }));
        }
        EXPECT_EQ(calls, 1) << kind;
    }
}

TYPED_TEST(MainLoopContract, repeatingTimerFiresUntilCancelledInsideItsHandlerOrDestroyed) {
    int ticks = 0, others = 0;
    std::unique_ptr<Watch> timer;
    timer = this->loop.repeat(0.01, 0.001, [&] {
        if (++ticks == 3) timer->cancel();
    });
    auto other = this->loop.repeat(0.01, 0.001, [&] { ++others; });
    ASSERT_TRUE(this->driver.waitFor([&] { return ticks == 3 && others >= 2; }));
    other.reset();
    int seen = others;
    bool later = false;
    this->loop.after(0.05, [&] { later = true; });
    ASSERT_TRUE(this->driver.waitFor([&] { return later; }));
    EXPECT_EQ(ticks, 3);
    EXPECT_EQ(others, seen);
}

TYPED_TEST(MainLoopContract, stoppedWatchesAndTimersLeaveNoDescriptorOpen) {
    std::size_t before = test::openDescriptorCount();
    {
        SocketPair pair;
        int ticks = 0;
        auto timer = this->loop.repeat(0.01, 0.001, [&] { ++ticks; });
        auto reading = this->loop.watchReadable(pair.fds[0], [] {});
        auto writing = this->loop.watchWritable(pair.fds[0], [] {});
        ASSERT_TRUE(this->driver.waitFor([&] { return ticks >= 1; }));
        timer->cancel();
        reading.reset();
    }
    EXPECT_EQ(test::openDescriptorCount(), before);
}

// A descriptor stays in the Qt loop's epoll set only while a watch wants it: a readable one that
// nobody watches any more would wake the loop over and over.
TEST(QtMainLoop, aDescriptorLeavesTheEpollSetWithItsLastWatch) {
    test::QtDriver driver;
    SocketPair pair;
    auto inEpollSets = [&] {
        int sets = 0;
        for (const auto& fd : std::filesystem::directory_iterator("/proc/self/fd")) {
            std::error_code error;
            if (std::filesystem::read_symlink(fd.path(), error) != "anon_inode:[eventpoll]")
                continue;
            std::ifstream info("/proc/self/fdinfo/" + fd.path().filename().string());
            for (std::string word; info >> word;)
                sets += word == "tfd:" && info >> word && word == std::to_string(pair.fds[0]);
        }
        return sets;
    };
    sendByte(pair.fds[1]); // readable all along
    auto reading = driver.loop().watchReadable(pair.fds[0], [] {});
    auto writing = driver.loop().watchWritable(pair.fds[0], [] {});
    EXPECT_EQ(inEpollSets(), 1);
    reading.reset();
    writing.reset();
    EXPECT_EQ(inEpollSets(), 0);
    driver.loop().watchReadable(-1, [] {}).reset(); // no descriptor: a watch that never fires
}

// The broker's loop runs on its own until it needs Qt, then Qt's event loop serves the same
// watches and queued posts; quit ends whichever runs.
TEST(QtMainLoop, runsOnItsOwnUntilQuitOrHandedOverToQtThatThenServesTheSameWatches) {
    test::testApplication();
    QtMainLoop loop(QtMainLoop::Drive::own);
    std::string order;
    loop.post([&] { order += 'a'; });
    loop.quit(3); // before run(): ends it once 'a' has run
    loop.post([&] { order += 'b'; });
    EXPECT_EQ(loop.run(), std::optional<int>(3));
    EXPECT_EQ(order, "a");

    SocketPair pair;
    int reads = 0;
    auto reading = loop.watchFrequentReadable(pair.fds[0], [&] {
        char byte;
        if (::recv(pair.fds[0], &byte, 1, 0) != 1) return;
        order += 'r';
        if (++reads == 1) loop.handOverToQt();
        if (reads == 2) loop.quit(4);
    });
    sendByte(pair.fds[1]);
    EXPECT_EQ(loop.run(), std::nullopt); // handed over
    EXPECT_EQ(order, "abr");
    sendByte(pair.fds[1]);
    QEventLoop qt;
    QTimer::singleShot(10000, &qt, [&] { qt.exit(-1); });
    EXPECT_EQ(qt.exec(), 4);
    EXPECT_EQ(order, "abrr");
    EXPECT_THROW(loop.run(), std::logic_error);
}

// The virtual loop's own rules.

TEST(VirtualMainLoop, timeMovesOnlyWhenAdvancedAndStepsToEachTimer) {
    VirtualMainLoop loop(100.0);
    std::vector<double> seen;
    loop.after(5.0, [&] { seen.push_back(loop.now()); });
    loop.after(0.3, [&] { seen.push_back(loop.now()); });
    loop.runPending();
    EXPECT_EQ(loop.now(), 100.0);
    loop.advance(1.0);
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_DOUBLE_EQ(seen[0], 100.3);
    EXPECT_EQ(loop.now(), 101.0);
    for (int i = 0; i < 39; ++i) // decimal steps reach their sum
        loop.advance(0.1);
    EXPECT_EQ(seen.size(), 1u);
    loop.advance(0.1);
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_DOUBLE_EQ(seen[1], 105.0);
}

TEST(VirtualMainLoop, timersScheduledInsideTheSpanFireInTheSameAdvance) {
    VirtualMainLoop loop;
    std::vector<double> seen;
    std::function<void()> retry = [&] {
        seen.push_back(loop.now());
        loop.after(seen.size() < 2 ? 0.1 : 2.0, retry);
    };
    loop.after(0.1, retry);
    loop.advance(1.0);
    EXPECT_EQ(seen, (std::vector<double>{0.1, 0.2}));
    EXPECT_EQ(loop.pendingTimers(), 1u);
    EXPECT_DOUBLE_EQ(*loop.nextTimerDue(), 2.2);
    loop.advance(1.2);
    EXPECT_EQ(seen.size(), 3u);
}

TEST(VirtualMainLoop, repeatingTimerNeedsAPositiveIntervalKeepsItsGridAndLeavesWhenCancelled) {
    VirtualMainLoop loop;
    EXPECT_THROW(loop.repeat(0, 0, [] {}), std::invalid_argument);
    EXPECT_THROW(loop.repeat(-1, 0, [] {}), std::invalid_argument);
    int ticks = 0;
    double last = 0;
    auto timer = loop.repeat(1.0 / 120, 0.001, [&] {
        ++ticks;
        last = loop.now();
    });
    loop.after(100.0, [] {});
    loop.advance(1.0);
    EXPECT_EQ(ticks, 120);
    EXPECT_EQ(last, 1.0);
    for (int i = 0; i < 60; ++i)
        loop.advance(1.0);
    EXPECT_EQ(ticks, 120 * 61);
    EXPECT_EQ(loop.pendingTimers(), 2u);
    timer->cancel();
    timer->cancel();
    EXPECT_EQ(loop.pendingTimers(), 1u);
}

TEST(VirtualMainLoop, descriptorsArePolledBetweenTimers) {
    VirtualMainLoop loop;
    SocketPair pair;
    std::vector<std::pair<char, double>> seen;
    auto watch = loop.watchReadable(pair.fds[0], [&] {
        char byte;
        if (::read(pair.fds[0], &byte, 1) == 1) seen.push_back({byte, loop.now()});
    });
    loop.after(1.0, [&] { sendByte(pair.fds[1]); });
    loop.after(2.0, [&] { seen.push_back({'t', loop.now()}); });
    loop.advance(3.0);
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[0], std::make_pair('x', 1.0));
    EXPECT_EQ(seen[1], std::make_pair('t', 2.0));
}

TEST(VirtualMainLoop, runPendingServesChainsOfWorkWithoutTimeAndReturnsOnAReadyDescriptor) {
    VirtualMainLoop loop;
    SocketPair pair;
    int echoes = 0;
    auto watch = loop.watchReadable(pair.fds[0], [&] {
        char byte;
        if (::read(pair.fds[0], &byte, 1) == 1 && ++echoes < 10)
            loop.post([&] { sendByte(pair.fds[1]); });
    });
    loop.post([&] { sendByte(pair.fds[1]); });
    loop.runPending();
    EXPECT_EQ(echoes, 10);
    EXPECT_EQ(loop.now(), 0.0);
    EXPECT_EQ(loop.pendingPosts(), 0u);
    int calls = 0;
    auto neverReads = loop.watchReadable(pair.fds[1], [&] { ++calls; });
    sendByte(pair.fds[0]);
    loop.runPending();
    EXPECT_GT(calls, 1);
}

TEST(VirtualMainLoop, runPendingAndRunUntilFireNoTimerNotEvenOneDueNow) {
    VirtualMainLoop loop;
    std::string order;
    loop.after(0, [&] { order += 't'; });
    loop.post([&] { order += 'p'; });
    loop.runPending();
    EXPECT_EQ(order, "p");
    EXPECT_FALSE(loop.runUntil([&] { return order.size() == 2; }, 0.05));
    loop.post([&] { order += 'q'; });
    EXPECT_TRUE(loop.runUntil([] { return true; })); // at once when already done
    EXPECT_EQ(order, "p");
    EXPECT_EQ(loop.now(), 0.0);
    loop.advance(0);
    EXPECT_EQ(order, "pqt");
}

TEST(VirtualMainLoop, watchesMayOutliveTheLoop) {
    std::unique_ptr<Watch> watch;
    std::unique_ptr<Watch> timer;
    {
        VirtualMainLoop loop;
        watch = loop.watchReadable(0, [] {});
        timer = loop.repeat(1, 0, [] {});
    }
    watch->cancel();
    timer.reset();
    watch.reset();
    SUCCEED();
}
