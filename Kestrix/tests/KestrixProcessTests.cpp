// Real `kestrix` processes: what a client sees, and the election between programs.
#include "ProcessSupport.h"

using namespace proc;

// Who holds and who gets what is the broker's own unit tests' matter; here the built program
// serves the simulated devices its environment names, and runs on without the display it cannot
// reach.
TEST(KestrixProcess, helloIsAnsweredAndTheHolderGetsTheSimulatedAxesAndRawReportsWithoutADisplay) {
    Home home;
    home.devices(movingDevices);
    std::ofstream(home.path + "/config/kestrix.json") << R"({"showsMenuBarItem": true})";
    proc::Broker broker(home, {{"DISPLAY", ":4093"}});
    ASSERT_TRUE(broker.waitListening()) << broker.stderrText();
    VirtualMainLoop loop;
    auto holder = connect(loop, home);
    ASSERT_TRUE(holder);
    holder->send(ClientMessage{hello("Holder", background(true))});
    holder->send(ClientMessage{ClientMessage::Status{}});
    ASSERT_TRUE(loop.runUntil([&] {
        return holder->count<BrokerMessage::Axes>() >= 20 &&
               holder->count<BrokerMessage::Report>() >= 20;
    }));
    EXPECT_EQ(holder->got[0], (BrokerMessage{BrokerMessage::Welcome{15, 2}}));
    EXPECT_EQ(holder->all<BrokerMessage::Axes>().back().device, "serial:ABC123");
    EXPECT_EQ(holder->all<BrokerStatus>().at(0).processID, broker.pid());
    EXPECT_TRUE(contains(home.log(), "menu bar item not shown: no display (showsMenuBarItem)"));
    holder.reset();
    EXPECT_TRUE(
        waitInFolder(home.path + "/home", [&] { return contains(home.log(), "Holder left"); }));
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
    ASSERT_TRUE(std::filesystem::exists(home.place().socket())); // left behind
    proc::Broker first(home);
    ASSERT_TRUE(first.waitListening()) << first.stderrText();
    VirtualMainLoop loop;
    auto client = connect(loop, home);
    client->send(ClientMessage{hello("Vantor", background())});
    ASSERT_TRUE(loop.runUntil([&] { return client->count<BrokerMessage::Holding>() == 1; }));

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
