// Real `kestrix` processes: what a client sees, the election between programs, and a display
// that cannot be reached.
#include "ProcessSupport.h"

#include <sys/stat.h>

using namespace proc;
using Holding = BrokerMessage::Holding;

TEST(KestrixProcess, helloIsAnsweredAndTheHolderAloneGetsAxesAndRawReports) {
    Home home;
    home.devices(movingDevices);
    proc::Broker broker(home);
    ASSERT_TRUE(broker.waitListening()) << broker.stderrText();
    VirtualMainLoop loop;
    auto holder = connect(loop, home);
    auto waiting = connect(loop, home);
    auto listener = connect(loop, home);
    ASSERT_TRUE(holder && waiting && listener);
    holder->send(ClientMessage{hello("Holder", background(true))});
    ASSERT_TRUE(loop.runUntil([&] { return holder->count<Holding>() == 1; }));
    waiting->send(ClientMessage{hello("Waiting", background())});
    listener->send(ClientMessage{hello("Listener", std::nullopt)});
    // The three answers to hello, in order, then holding.
    ASSERT_GE(holder->got.size(), 4u);
    EXPECT_EQ(holder->got[0], (BrokerMessage{BrokerMessage::Welcome{15, 2}}));
    EXPECT_TRUE(holder->got[1].as<BrokerMessage::Devices>());
    EXPECT_TRUE(holder->got[2].as<BrokerMessage::AppsWithOwnClient>());
    ASSERT_TRUE(loop.runUntil([&] {
        return holder->count<BrokerMessage::Axes>() >= 20 &&
               holder->count<BrokerMessage::Report>() >= 20 &&
               listener->count<BrokerMessage::AppsWithOwnClient>() == 1;
    }));
    EXPECT_EQ(holder->all<BrokerMessage::Axes>().back().device, "serial:ABC123");
    for (auto* c : {waiting.get(), listener.get()})
        EXPECT_EQ(c->count<BrokerMessage::Axes>() + c->count<BrokerMessage::Buttons>() +
                      c->count<BrokerMessage::Report>() + c->count<Holding>(),
                  0);

    // When the holder goes, the next one holds, without raw reports it did not ask for.
    holder.reset();
    ASSERT_TRUE(loop.runUntil([&] { return waiting->count<BrokerMessage::Axes>() > 5; }));
    EXPECT_EQ(waiting->count<BrokerMessage::Report>(), 0);
    EXPECT_TRUE(contains(home.log(), "Holder left"));
    listener->send(ClientMessage{ClientMessage::Status{}});
    ASSERT_TRUE(loop.runUntil([&] { return listener->count<BrokerStatus>() == 1; }));
    EXPECT_EQ(listener->all<BrokerStatus>()[0].processID, broker.pid());
}

// A broker killed leaves its lock and socket to the next; a second of the same version stays
// away; a newer one takes over and the old one leaves.
TEST(KestrixProcess, theElectionBetweenBrokerPrograms) {
    Home home;
    home.devices(R"({"devices": []})");
    {
        proc::Broker crashed(home);
        ASSERT_TRUE(crashed.waitListening()) << crashed.stderrText();
        crashed.kill();
    }
    struct stat st {};
    ASSERT_EQ(::stat(home.place().socket().c_str(), &st), 0); // left behind
    proc::Broker first(home);
    ASSERT_TRUE(first.waitListening()) << first.stderrText();
    VirtualMainLoop loop;
    auto client = connect(loop, home);
    client->send(ClientMessage{hello("Vantor", background())});
    ASSERT_TRUE(loop.runUntil([&] { return client->count<Holding>() == 1; }));

    proc::Broker same(home, {{"KESTRIX_TEST_VERSION", "99x"}}); // not a number: runs as v15
    EXPECT_EQ(same.waitExit(10), 0);
    EXPECT_TRUE(contains(home.log(), "[" + std::to_string(same.pid()) +
                                         "] Kestrix v15 runs and stays (this is v15, "));

    proc::Broker newer(home, {{"KESTRIX_TEST_VERSION", "16"}});
    EXPECT_EQ(first.waitExit(10), 0);
    ASSERT_TRUE(newer.waitListening()) << newer.stderrText();
    std::string log = home.log();
    EXPECT_TRUE(contains(log, "[" + std::to_string(first.pid()) + "] handing over to v16"));
    EXPECT_TRUE(contains(log, "[" + std::to_string(newer.pid()) + "] lock taken after "));
    ASSERT_TRUE(loop.runUntil([&] { return client->closed; }));
    EXPECT_EQ(home.place().readNewest()->version, 16);
    auto again = connect(loop, home);
    ASSERT_TRUE(again);
    again->send(ClientMessage{ClientMessage::Status{}});
    ASSERT_TRUE(loop.runUntil([&] { return again->count<BrokerStatus>() == 1; }));
    EXPECT_EQ(again->all<BrokerStatus>()[0].version, 16);
}

TEST(KestrixProcess, anUnreachableDisplayMeansNoIconButTheBrokerRuns) {
    Home home;
    home.devices(R"({"devices": []})");
    std::ofstream(home.path + "/config/kestrix.json") << R"({"showsMenuBarItem": true})";
    proc::Broker broker(home, {{"DISPLAY", ":4093"}});
    ASSERT_TRUE(broker.waitListening()) << broker.stderrText();
    ASSERT_TRUE(waitInFolder(home.path + "/home", [&] {
        return contains(home.log(), "menu bar item not shown: no display (showsMenuBarItem)");
    }));
    EXPECT_TRUE(contains(home.log(), "permission to listen (hidraw access): "));
    EXPECT_FALSE(broker.waitExit(0.1));
}
