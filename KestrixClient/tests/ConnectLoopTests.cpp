// The connect loop's timing on virtual time: attempts, launches and the one `unavailable`.

#include "TestSupport.h"

#include <fstream>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/un.h>

namespace kestrix::client::test {
namespace {

struct ConnectLoop : ::testing::Test {
    TempFolder home;
    BrokerPlace place{home.path};
    VirtualMainLoop loop;
    Recorder recorder;
    std::string program = home.path + "/kestrix"; // never started: the recorder sees it

    std::shared_ptr<KestrixConnection> make(Launcher launcher) {
        auto connection = KestrixConnection::create(loop, "Vantor", Claim{{"org.example"}, false},
                                                    std::move(launcher), place, 15);
        recorder.attach(*connection, loop);
        return connection;
    }
};

TEST_F(ConnectLoop, retriesATenthApartThenTwoSecondsApartAndSaysUnavailableOnceUntilStopped) {
    auto connection = make(Launcher::none());
    connection->start();
    // The first attempt fails at once; attempt n follows at 0.1 (n - 1) s up to the 50th.
    EXPECT_EQ(loop.nextTimerDue(), 0.1);
    loop.advance(0.25);
    connection->start(); // while running: changes nothing
    EXPECT_EQ(loop.pendingTimers(), 1u);
    EXPECT_NEAR(*loop.nextTimerDue(), 0.3, 1e-9);
    loop.advance(4.6);
    EXPECT_NEAR(loop.nextTimerDue().value(), 4.9, 1e-9);
    EXPECT_TRUE(recorder.events.empty());
    loop.advance(0.1);
    EXPECT_EQ(recorder.take(),
              std::vector<Event>{Event::unavailable("Kestrix could not be reached")});
    EXPECT_NEAR(loop.nextTimerDue().value(), 6.9, 1e-9);
    loop.advance(2.0);
    EXPECT_NEAR(loop.nextTimerDue().value(), 8.9, 1e-9);
    loop.advance(3600);
    EXPECT_TRUE(recorder.events.empty());
    EXPECT_TRUE(recorder.launches.empty());
    EXPECT_EQ(loop.pendingTimers(), 1u);
    connection->stop();
    loop.advance(2.0);
    EXPECT_EQ(loop.pendingTimers(), 0u);
}

TEST_F(ConnectLoop, launchesAtTheFifthAttemptAndEveryFifteenthFromTheSixtieth) {
    auto connection = make(Launcher::executable(program, {"--quiet"}));
    connection->start();
    loop.advance(90.0);
    // The 50th attempt fails at 4.9 s, then 2 s apart: the 60th at 24.9 s, the 75th at 54.9 s.
    ASSERT_EQ(recorder.launches.size(), 4u);
    for (std::size_t i = 0; i < 4; ++i)
        EXPECT_NEAR(recorder.launches[i].first, std::vector<double>({0.4, 24.9, 54.9, 84.9})[i],
                    1e-9);
    EXPECT_EQ(recorder.launches[3].second, Launcher::executable(program, {"--quiet"}));
}

TEST_F(ConnectLoop, restartCountsAttemptsAfreshAndDroppingLeavesTimersHarmless) {
    auto connection = make(Launcher::none());
    connection->start();
    loop.advance(3.0); // 31 attempts
    connection->stop();
    loop.advance(1.0);
    connection->start();
    loop.advance(4.85);
    EXPECT_TRUE(recorder.events.empty());
    loop.advance(0.1);
    EXPECT_EQ(recorder.count<Event::Unavailable>(), 1u);
    connection.reset();
    loop.advance(100);
    EXPECT_EQ(recorder.events.size(), 1u);
    EXPECT_EQ(loop.pendingTimers(), 0u);
}

TEST_F(ConnectLoop, aNewerUsableBrokerOnRecordIsLaunchedInsteadOfTheOwnProgram) {
    struct Row {
        std::int64_t version;
        std::string path;
        Launcher own;
        std::vector<Launcher> launched;
    };
    const std::string newer = home.path + "/kestrix-16", bundle = home.path + "/Kestrix.app";
    home.write("kestrix-16", "#!/bin/sh\n");
    ::chmod(newer.c_str(), 0755);
    ::mkdir(bundle.c_str(), 0755);
    const Launcher own = Launcher::executable(program);
    for (const Row& row :
         {Row{16, newer, own, {Launcher::executable(newer, {"-r"})}}, Row{15, newer, own, {own}},
          Row{16, bundle, own, {own}}, Row{16, home.path + "/missing/kestrix", own, {own}},
          Row{16, newer, Launcher::none(), {}}}) {
        std::ofstream(place.newest())
            << nlohmann::json(BrokerPlace::Newest{row.version, row.path, {"-r"}}).dump();
        recorder.launches.clear();
        auto connection = make(row.own);
        connection->start();
        loop.advance(0.45);
        std::vector<Launcher> launched;
        for (const auto& launch : recorder.launches)
            launched.push_back(launch.second);
        EXPECT_EQ(launched, row.launched) << row.version << " " << row.path;
    }
}

TEST_F(ConnectLoop, aRestartFromInsideTheOwnersHandlerRunsOneChainOfAttempts) {
    auto connection = make(Launcher::none());
    connection->onEvent = [this, raw = connection.get()](const Event& event) {
        recorder.events.push_back(event);
        if (event.is<Event::Unavailable>() || event.is<Event::Disconnected>()) {
            raw->stop();
            raw->start();
        }
    };
    connection->start();
    loop.advance(4.95);
    ASSERT_EQ(recorder.count<Event::Unavailable>(), 1u);
    // The attempt that reported must not schedule another: the next 50th failure comes 4.9 s
    // after the restart (at 9.8 s), not twice as fast.
    EXPECT_EQ(loop.pendingTimers(), 1u);
    loop.advance(4.8);
    EXPECT_EQ(recorder.count<Event::Unavailable>(), 1u);
    loop.advance(0.1);
    EXPECT_EQ(recorder.count<Event::Unavailable>(), 2u);
    // Nor does the close of a link to a broker that went away.
    FakeBroker broker(loop, place);
    loop.advance(0.1);
    ASSERT_TRUE(broker.acceptHello());
    broker.stopListening();
    broker.dropPeer();
    ASSERT_TRUE(loop.runUntil([&] { return recorder.count<Event::Disconnected>() == 1; }));
    EXPECT_FALSE(connection->isLinked());
    EXPECT_EQ(loop.pendingTimers(), 1u);
}

TEST_F(ConnectLoop, aBrokerThatDiesSoonAfterItsLaunchIsFollowedByAnotherLaunchWithinSeconds) {
    auto connection = make(Launcher::executable(program));
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
    ASSERT_EQ(recorder.launches.size(), 2u);
    EXPECT_NEAR(recorder.launches[1].first, 3.4, 1e-9);
}

TEST_F(ConnectLoop, aBrokerThatDoesNotAcceptNeverBlocksTheLoop) {
    // A hung broker: it listens, but its queue is full and nobody accepts.
    int listener = UnixSocket::listen(place.socket().string());
    ASSERT_EQ(::listen(listener, 0), 0);
    sockaddr_un address{AF_UNIX, {}};
    place.socket().string().copy(address.sun_path, sizeof address.sun_path - 1);
    std::vector<int> queued;
    for (int fd; (fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0)) >= 0;) {
        queued.push_back(fd);
        if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) break;
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
