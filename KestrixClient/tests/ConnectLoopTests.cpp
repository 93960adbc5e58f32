// The connect loop's timing on virtual time: attempts, launches and the one `unavailable`.

#include "TestSupport.h"

#include <fstream>
#include <gtest/gtest.h>
#include <cstring>
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace kestrix::client::test {
namespace {

using Event = KestrixConnection::Event;
using Launcher = KestrixConnection::Launcher;

bool isUnavailable(const Event& event) {
    return event.is<Event::Unavailable>();
}

struct ConnectLoop : ::testing::Test {
    TempFolder home;
    BrokerPlace place{home.path()};
    VirtualMainLoop loop;
    Recorder recorder;

    std::shared_ptr<KestrixConnection> make(Launcher launcher, std::int64_t version = 15) {
        auto connection = KestrixConnection::create(loop, "Vantor", Claim{{"org.example"}, false},
                                                    std::move(launcher), place, version);
        recorder.attach(*connection, loop);
        return connection;
    }

    std::vector<double> launchTimes() const {
        std::vector<double> times;
        for (const auto& [time, launcher] : recorder.launches)
            times.push_back(time);
        return times;
    }

    std::string writeExecutable(const std::string& name) {
        std::string path = home.path() + "/" + name;
        std::ofstream(path) << "#!/bin/sh\nexit 0\n";
        ::chmod(path.c_str(), 0755);
        return path;
    }

    void writeNewest(std::int64_t version, const std::string& path,
                     std::vector<std::string> arguments = {}) {
        BrokerPlace::Newest record{version, path, std::move(arguments)};
        std::ofstream(place.newest()) << nlohmann::json(record).dump();
    }
};

TEST_F(ConnectLoop, retriesEveryTenthOfASecondThenEveryTwoSeconds) {
    auto connection = make(Launcher::none());
    connection->start();
    // The first attempt fails at once and the next one waits 0.1 s.
    EXPECT_EQ(loop.nextTimerDue(), 0.1);
    EXPECT_EQ(loop.pendingTimers(), 1u);
    // Attempts 2 to 49 follow 0.1 s apart: the 49th at 4.8 s schedules the 50th at 4.9 s.
    loop.advance(4.85);
    ASSERT_TRUE(loop.nextTimerDue().has_value());
    EXPECT_NEAR(*loop.nextTimerDue(), 4.9, 1e-9);
    EXPECT_EQ(recorder.count(isUnavailable), 0u);
    // The 50th fails: from now on two seconds between attempts.
    loop.advance(0.1);
    EXPECT_NEAR(*loop.nextTimerDue(), 6.9, 1e-9);
    loop.advance(2.0);
    EXPECT_NEAR(*loop.nextTimerDue(), 8.9, 1e-9);
    EXPECT_EQ(loop.pendingTimers(), 1u);
}

TEST_F(ConnectLoop, reportsUnavailableExactlyOnceAtTheFiftiethAttempt) {
    auto connection = make(Launcher::none());
    connection->start();
    loop.advance(4.89);
    EXPECT_EQ(recorder.count(isUnavailable), 0u);
    loop.advance(0.02);
    ASSERT_EQ(recorder.events.size(), 1u);
    EXPECT_EQ(recorder.events[0], Event::unavailable("Kestrix could not be reached"));
    // Hours of further attempts do not say it again, and no launcher ran.
    loop.advance(3600);
    EXPECT_EQ(recorder.count(isUnavailable), 1u);
    EXPECT_TRUE(recorder.launches.empty());
}

TEST_F(ConnectLoop, launchesAtTheFifthAttemptAndEveryFifteenthFromTheSixtieth) {
    std::string program = writeExecutable("kestrix");
    auto connection = make(Launcher::executable(program, {"--quiet"}));
    connection->start();
    loop.advance(90.0);
    // Attempt n fails at 0.1 (n - 1) s up to the 50th (4.9 s), then 2 s apart: the 60th at
    // 24.9 s, the 75th at 54.9 s, the 90th at 84.9 s.
    std::vector<double> times = launchTimes();
    ASSERT_EQ(times.size(), 4u);
    EXPECT_NEAR(times[0], 0.4, 1e-9);
    EXPECT_NEAR(times[1], 24.9, 1e-9);
    EXPECT_NEAR(times[2], 54.9, 1e-9);
    EXPECT_NEAR(times[3], 84.9, 1e-9);
    for (const auto& [time, launcher] : recorder.launches)
        EXPECT_EQ(launcher, Launcher::executable(program, {"--quiet"}));
}

TEST_F(ConnectLoop, aSecondStartWhileRunningChangesNothing) {
    auto connection = make(Launcher::none());
    connection->start();
    loop.advance(0.25);
    connection->start();
    // Still one pending attempt, on the old schedule.
    EXPECT_EQ(loop.pendingTimers(), 1u);
    EXPECT_NEAR(*loop.nextTimerDue(), 0.3, 1e-9);
}

TEST_F(ConnectLoop, stopEndsTheAttempts) {
    auto connection = make(Launcher::executable(writeExecutable("kestrix")));
    connection->start();
    loop.advance(0.2);
    connection->stop();
    loop.advance(100);
    EXPECT_TRUE(recorder.events.empty());
    EXPECT_TRUE(recorder.launches.empty());
    EXPECT_EQ(loop.pendingTimers(), 0u);
}

TEST_F(ConnectLoop, restartCountsAttemptsAfresh) {
    auto connection = make(Launcher::none());
    connection->start();
    loop.advance(3.0); // 31 attempts
    connection->stop();
    loop.advance(1.0);
    connection->start();
    loop.advance(4.85);
    EXPECT_EQ(recorder.count(isUnavailable), 0u);
    loop.advance(0.1);
    EXPECT_EQ(recorder.count(isUnavailable), 1u);
}

TEST_F(ConnectLoop, droppingTheConnectionLeavesPendingTimersHarmless) {
    auto connection = make(Launcher::none());
    connection->start();
    loop.advance(0.15);
    connection.reset();
    loop.advance(100);
    EXPECT_TRUE(recorder.events.empty());
    EXPECT_EQ(loop.pendingTimers(), 0u);
}

TEST_F(ConnectLoop, aNewerUsableBrokerOnRecordIsLaunchedInsteadOfTheOwnProgram) {
    std::string own = writeExecutable("kestrix");
    std::string newer = writeExecutable("kestrix-16");
    writeNewest(16, newer, {"--from", "record"});
    auto connection = make(Launcher::executable(own));
    connection->start();
    loop.advance(0.45);
    ASSERT_EQ(recorder.launches.size(), 1u);
    EXPECT_EQ(recorder.launches[0].second, Launcher::executable(newer, {"--from", "record"}));
}

TEST_F(ConnectLoop, aRecordOfTheSameVersionIsIgnored) {
    std::string own = writeExecutable("kestrix");
    writeNewest(15, writeExecutable("kestrix-other"));
    auto connection = make(Launcher::executable(own));
    connection->start();
    loop.advance(0.45);
    ASSERT_EQ(recorder.launches.size(), 1u);
    EXPECT_EQ(recorder.launches[0].second, Launcher::executable(own));
}

TEST_F(ConnectLoop, aRecordWhoseProgramIsGoneIsIgnored) {
    std::string own = writeExecutable("kestrix");
    writeNewest(16, home.path() + "/missing/kestrix");
    auto connection = make(Launcher::executable(own));
    connection->start();
    loop.advance(0.45);
    ASSERT_EQ(recorder.launches.size(), 1u);
    EXPECT_EQ(recorder.launches[0].second, Launcher::executable(own));
}

TEST_F(ConnectLoop, anAppBundleOnRecordIsNeverUsableHere) {
    std::string own = writeExecutable("kestrix");
    std::string bundle = home.path() + "/Kestrix.app";
    ::mkdir(bundle.c_str(), 0755);
    writeNewest(16, bundle);
    auto connection = make(Launcher::executable(own));
    connection->start();
    loop.advance(0.45);
    ASSERT_EQ(recorder.launches.size(), 1u);
    EXPECT_EQ(recorder.launches[0].second, Launcher::executable(own));
}

TEST_F(ConnectLoop, aNewerProgramOnRecordIsNotStartedForAClientThatStartsNothingItself) {
    writeNewest(16, writeExecutable("kestrix-16"));
    auto connection = make(Launcher::none());
    connection->start();
    loop.advance(30);
    EXPECT_TRUE(recorder.launches.empty());
}

TEST_F(ConnectLoop, anAppThatCannotBeOpenedIsReportedFromTheLoop) {
    auto connection = make(Launcher::app(home.path() + "/Kestrix.app"));
    connection->starter = startLauncher; // the real one: bundles cannot be opened here
    connection->start();
    loop.advance(0.45);
    ASSERT_EQ(recorder.events.size(), 1u);
    const auto* unavailable = recorder.events[0].as<Event::Unavailable>();
    ASSERT_NE(unavailable, nullptr);
    EXPECT_EQ(unavailable->reason.rfind("Kestrix could not be started: ", 0), 0u)
        << unavailable->reason;
}

TEST_F(ConnectLoop, aRestartFromInsideTheUnavailableEventRunsOneChainOfAttempts) {
    auto connection = make(Launcher::none());
    KestrixConnection* raw = connection.get();
    auto record = connection->onEvent;
    bool restarted = false;
    connection->onEvent = [&, record, raw](const Event& event) {
        record(event);
        if (isUnavailable(event) && !restarted) {
            restarted = true;
            raw->stop();
            raw->start();
        }
    };
    connection->start();
    loop.advance(4.95);
    ASSERT_TRUE(restarted);
    // The restart began its own chain; the attempt that reported must not schedule another.
    EXPECT_EQ(loop.pendingTimers(), 1u);
    // So the next 50th failure comes 4.9 s after the restart (at 9.8 s), not twice as fast.
    loop.advance(4.8);
    EXPECT_EQ(recorder.count(isUnavailable), 1u);
    loop.advance(0.1);
    EXPECT_EQ(recorder.count(isUnavailable), 2u);
    EXPECT_EQ(loop.pendingTimers(), 1u);
}

TEST_F(ConnectLoop, aRestartFromInsideTheDisconnectedEventRunsOneChainOfAttempts) {
    FakeBroker broker(loop, place);
    auto connection = make(Launcher::none());
    KestrixConnection* raw = connection.get();
    auto record = connection->onEvent;
    bool restarted = false;
    connection->onEvent = [&, record, raw](const Event& event) {
        record(event);
        if (event.is<Event::Disconnected>() && !restarted) {
            restarted = true;
            raw->stop();
            raw->start();
        }
    };
    connection->start();
    ASSERT_TRUE(broker.acceptHello());
    // The broker goes away for good: its peer closes and nobody listens any more.
    broker.stopListening();
    broker.dropPeer();
    ASSERT_TRUE(loop.runUntil([&] { return restarted; }));
    EXPECT_FALSE(connection->isLinked());
    EXPECT_EQ(loop.pendingTimers(), 1u);
}

TEST_F(ConnectLoop, aRecordPlantedByAnotherUserInAnOpenFolderIsNotLaunched) {
    std::string own = writeExecutable("kestrix");
    std::string planted = writeExecutable("planted");
    ::chmod(home.path().c_str(), 0777);
    writeNewest(16, planted);
    ASSERT_EQ(::chown(place.newest().c_str(), 65534, 65534), 0);
    auto connection = make(Launcher::executable(own));
    connection->start();
    loop.advance(0.45);
    ASSERT_EQ(recorder.launches.size(), 1u);
    EXPECT_EQ(recorder.launches[0].second, Launcher::executable(own));
    std::ifstream file(place.log());
    std::string log((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    EXPECT_NE(log.find("newest-broker record not trusted: " + place.newest().string() +
                       " belongs to user 65534"),
              std::string::npos)
        << log;
}

TEST_F(ConnectLoop, aBrokerThatDiesSoonAfterItsLaunchIsFollowedByAnotherLaunchWithinSeconds) {
    auto connection = make(Launcher::executable(writeExecutable("kestrix")));
    connection->start();
    loop.advance(1.0); // launched at 0.4 s
    {
        FakeBroker launched(loop, place);
        loop.advance(0.1);
        ASSERT_TRUE(launched.acceptHello());
        launched.stopListening();
        launched.dropPeer(); // dead at 1.1 s
        ASSERT_TRUE(loop.runUntil([&] { return !connection->isLinked(); }));
    }
    loop.advance(10.0);
    // The 5th failure after the death (1.5 s) falls within the guard's 3 s; the launch comes
    // when the guard allows (3.4 s), not at the 60th failure 25 s later.
    std::vector<double> times = launchTimes();
    ASSERT_EQ(times.size(), 2u);
    EXPECT_GE(times[1] - times[0], KestrixConnection::launchGuard - 1e-9);
    EXPECT_LT(times[1], 3.6);
}

TEST_F(ConnectLoop, aBrokerThatDoesNotAcceptNeverBlocksTheLoop) {
    // A hung broker: it listens, but its queue is full and nobody accepts.
    int listener = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strcpy(address.sun_path, place.socket().c_str());
    ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(::listen(listener, 0), 0);
    std::vector<int> queued;
    for (;;) {
        int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0);
        if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
            ::close(fd);
            break;
        }
        queued.push_back(fd);
    }
    ::alarm(20); // a blocking connect would wait here for good
    auto connection = make(Launcher::none());
    connection->start();
    loop.advance(1.0);
    ::alarm(0);
    EXPECT_FALSE(connection->isLinked());
    // Once the broker accepts again, the next attempt gets through.
    ::fcntl(listener, F_SETFL, O_NONBLOCK);
    for (int fd; (fd = ::accept(listener, nullptr, nullptr)) >= 0;)
        queued.push_back(fd);
    loop.advance(0.1);
    EXPECT_TRUE(connection->isLinked());
    connection.reset();
    for (int fd : queued)
        ::close(fd);
    ::close(listener);
}

} // namespace
} // namespace kestrix::client::test
