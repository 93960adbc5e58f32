#include "DaemonStandIn.h"
#include "ProcessSupport.h"

#include <sys/socket.h>
#include <sys/stat.h>

using namespace proc;
using Axes = BrokerMessage::Axes;
using Buttons = BrokerMessage::Buttons;
using Holding = BrokerMessage::Holding;
using Report = BrokerMessage::Report;
using Welcome = BrokerMessage::Welcome;
using Devices = BrokerMessage::Devices;
using Apps = BrokerMessage::AppsWithOwnClient;

namespace {

bool contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

Claim backgroundClaim(std::optional<bool> raw = std::nullopt,
                      std::optional<bool> last = std::nullopt) {
    return Claim{{}, true, last, raw};
}

} // namespace

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
    holder->send(ClientMessage{hello("Holder", backgroundClaim(true))});
    ASSERT_TRUE(loop.runUntil([&] { return holder->count<Holding>() == 1; }));
    waiting->send(ClientMessage{hello("Waiting", backgroundClaim(std::nullopt, true))});
    listener->send(ClientMessage{hello("Listener", std::nullopt)});

    // The three answers to hello, in order, then holding.
    ASSERT_GE(holder->got.size(), 4u);
    EXPECT_EQ(holder->got[0], (BrokerMessage{Welcome{15, 2}}));
    EXPECT_TRUE(holder->got[1].as<Devices>());
    EXPECT_TRUE(holder->got[2].as<Apps>());
    EXPECT_TRUE(holder->all<Holding>().front().holding);

    ASSERT_TRUE(loop.runUntil([&] {
        return holder->count<Axes>() >= 20 && holder->count<Report>() >= 20 &&
               waiting->count<Apps>() == 1 && listener->count<Apps>() == 1;
    }));
    auto axes = holder->all<Axes>().back();
    EXPECT_EQ(axes.device, "serial:ABC123");
    loop.runUntil([] { return false; }, 0.2);
    for (auto* c : {waiting.get(), listener.get()}) {
        EXPECT_EQ(c->count<Axes>(), 0);
        EXPECT_EQ(c->count<Report>(), 0);
        EXPECT_EQ(c->count<Buttons>(), 0);
        EXPECT_EQ(c->count<Holding>(), 0);
    }

    // The status shows the two claimants, not the listener.
    listener->send(ClientMessage{ClientMessage::Status{}});
    ASSERT_TRUE(loop.runUntil([&] { return listener->count<BrokerStatus>() == 1; }));
    auto status = listener->all<BrokerStatus>().front();
    EXPECT_EQ(status.processID, broker.pid());
    ASSERT_EQ(status.clients.size(), 2u);
    EXPECT_EQ(status.clients[0].name, "Holder");
    EXPECT_TRUE(status.clients[0].holds);
    EXPECT_EQ(status.clients[1].name, "Waiting");
    EXPECT_EQ(status.devices.size(), 2u);

    // When the holder goes, the next one holds.
    holder.reset();
    ASSERT_TRUE(loop.runUntil([&] { return waiting->count<Holding>() == 1; }));
    ASSERT_TRUE(loop.runUntil([&] { return waiting->count<Axes>() > 5; }));
    EXPECT_EQ(waiting->count<Report>(), 0); // no raw reports without a raw claim
    EXPECT_TRUE(contains(home.log(), "Holder left"));
}

TEST(KestrixProcess, protocolOneHolderGetsOnlyTheFirst32Buttons) {
    Home home;
    home.devices(movingDevices);
    proc::Broker broker(home);
    ASSERT_TRUE(broker.waitListening()) << broker.stderrText();
    VirtualMainLoop loop;
    auto modern = connect(loop, home);
    modern->send(ClientMessage{hello("Modern", backgroundClaim())});
    ASSERT_TRUE(loop.runUntil([&] {
        for (auto& b : modern->all<Buttons>())
            if (b.device == "serial:ENT1") return true;
        return false;
    }));
    std::uint64_t all = 0;
    for (auto& b : modern->all<Buttons>())
        if (b.device == "serial:ENT1") all |= b.held.rawValue;
    ASSERT_NE(all >> 32, 0u) << "the device must hold buttons above bit 31 for this test";
    modern.reset();

    auto old = connect(loop, home);
    old->send(ClientMessage{hello("Old", backgroundClaim(), 1)});
    ASSERT_TRUE(loop.runUntil([&] { return old->count<Buttons>() >= 4; }));
    std::uint64_t seen = 0;
    for (auto& b : old->all<Buttons>())
        seen |= b.held.rawValue;
    EXPECT_EQ(seen, all & 0xFFFF'FFFFull);
    EXPECT_TRUE(contains(home.log(), "Old speaks protocol 1"));
}

TEST(KestrixProcess, newerVersionTakesOverAndTheOldOneLeaves) {
    Home home;
    home.devices(R"({"devices": []})");
    proc::Broker old(home);
    ASSERT_TRUE(old.waitListening()) << old.stderrText();
    VirtualMainLoop loop;
    auto client = connect(loop, home);
    client->send(ClientMessage{hello("Vantor", backgroundClaim())});
    ASSERT_TRUE(loop.runUntil([&] { return client->count<Holding>() == 1; }));

    proc::Broker newer(home, {{"KESTRIX_TEST_VERSION", "16"}});
    EXPECT_EQ(old.waitExit(10), 0);
    ASSERT_TRUE(newer.waitListening()) << newer.stderrText();
    std::string log = home.log();
    EXPECT_TRUE(contains(log, "[" + std::to_string(old.pid()) + "] handing over to v16"));
    EXPECT_TRUE(contains(log, "running broker v15 hands over to v16"));
    EXPECT_TRUE(contains(log, "[" + std::to_string(newer.pid()) + "] lock taken after "));
    ASSERT_TRUE(loop.runUntil([&] { return client->closed; }));
    EXPECT_EQ(home.place().readNewest()->version, 16);

    auto again = connect(loop, home);
    ASSERT_TRUE(again);
    again->send(ClientMessage{ClientMessage::Status{}});
    ASSERT_TRUE(loop.runUntil([&] { return again->count<BrokerStatus>() == 1; }));
    EXPECT_EQ(again->all<BrokerStatus>().front().version, 16);
}

TEST(KestrixProcess, aSecondBrokerOfTheSameVersionStaysAway) {
    Home home;
    home.devices(R"({"devices": []})");
    proc::Broker first(home);
    ASSERT_TRUE(first.waitListening()) << first.stderrText();
    VirtualMainLoop loop;
    auto client = connect(loop, home);
    client->send(ClientMessage{hello("Vantor", backgroundClaim())});
    ASSERT_TRUE(loop.runUntil([&] { return client->count<Holding>() == 1; }));

    proc::Broker second(home);
    EXPECT_EQ(second.waitExit(10), 0);
    EXPECT_TRUE(contains(home.log(), "[" + std::to_string(second.pid()) +
                                         "] Kestrix v15 runs and stays (this is v15, "));
    EXPECT_FALSE(first.waitExit(0.1));
    client->send(ClientMessage{ClientMessage::Status{}});
    ASSERT_TRUE(loop.runUntil([&] { return client->count<BrokerStatus>() == 1; }));
    EXPECT_EQ(client->all<BrokerStatus>().front().processID, first.pid());
}

TEST(KestrixProcess, aCrashedBrokersLockAndSocketAreTakenOver) {
    Home home;
    home.devices(R"({"devices": []})");
    {
        proc::Broker crashed(home);
        ASSERT_TRUE(crashed.waitListening()) << crashed.stderrText();
        crashed.kill();
    }
    struct stat st {};
    ASSERT_EQ(::stat(home.place().socket().c_str(), &st), 0); // left behind
    proc::Broker next(home);
    ASSERT_TRUE(next.waitListening()) << next.stderrText();
    VirtualMainLoop loop;
    auto client = connect(loop, home);
    ASSERT_TRUE(client);
    client->send(ClientMessage{hello("Vantor", backgroundClaim())});
    ASSERT_TRUE(loop.runUntil([&] { return client->count<Holding>() == 1; }));
}

TEST(KestrixProcess, aClientThatStopsReadingIsDroppedAndTheOthersGoOn) {
    Home home;
    home.devices(movingDevices);
    proc::Broker broker(home);
    ASSERT_TRUE(broker.waitListening()) << broker.stderrText();
    VirtualMainLoop loop;
    // The stuck client holds the device but never reads: a raw socket of its own.
    auto fd = UnixSocket::connect(home.place().socket().string());
    ASSERT_TRUE(fd);
    int small = 4096;
    ::setsockopt(*fd, SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
    std::string line = LineEncoder::encode(ClientMessage{hello("Stuck", backgroundClaim(true))});
    ASSERT_EQ(::send(*fd, line.data(), line.size(), MSG_NOSIGNAL), ssize_t(line.size()));
    auto other = connect(loop, home);
    other->send(ClientMessage{hello("Other", backgroundClaim(std::nullopt, true))});
    ASSERT_TRUE(waitInFolder(home.path + "/home", [&] {
        return contains(home.log(), "Stuck stopped reading: dropped");
    }));
    ASSERT_TRUE(
        loop.runUntil([&] { return other->count<Holding>() == 1 && other->count<Axes>() > 5; }));
    EXPECT_TRUE(contains(home.log(), "Stuck left"));
    ::close(*fd);
    EXPECT_FALSE(broker.waitExit(0.1));
}

TEST(KestrixProcess, floodsAndGarbageNeverStopTheBroker) {
    Home home;
    home.devices(movingDevices);
    proc::Broker broker(home);
    ASSERT_TRUE(broker.waitListening()) << broker.stderrText();
    VirtualMainLoop loop;
    auto good = connect(loop, home);
    good->send(ClientMessage{hello("Good", backgroundClaim())});
    ASSERT_TRUE(loop.runUntil([&] { return good->count<Holding>() == 1; }));

    auto fd = UnixSocket::connect(home.place().socket().string());
    ASSERT_TRUE(fd);
    std::string junk =
        "{\"hello\":{\"_0\":{\"protocolVersion\":\"x\"}}}\n[]\n\x01\x02\xff\n{\"takeOver\":{}}\n";
    ::send(*fd, junk.data(), junk.size(), MSG_NOSIGNAL);
    std::string flood(64 * 1024, 'x');
    ssize_t total = 0;
    for (int i = 0; i < 64; ++i) {
        ssize_t n = ::send(*fd, flood.data(), flood.size(), MSG_NOSIGNAL);
        if (n <= 0) break;
        total += n;
    }
    EXPECT_GT(total, 1 << 20);
    char byte;
    // Cut off once the unterminated line passed 1 MiB.
    EXPECT_EQ(::recv(*fd, &byte, 1, 0), 0);
    ::close(*fd);

    std::size_t before = good->all<Axes>().size();
    ASSERT_TRUE(loop.runUntil([&] { return good->all<Axes>().size() > before + 10; }));
    EXPECT_FALSE(broker.waitExit(0.1));
}

TEST(KestrixProcess, anIdleBrokerLeavesAfterTenSecondsAndRemovesItsSocket) {
    Home home;
    home.devices(R"({"devices": []})");
    proc::Broker broker(home);
    ASSERT_TRUE(broker.waitListening()) << broker.stderrText();
    EXPECT_EQ(broker.waitExit(15), 0);
    EXPECT_TRUE(contains(home.log(), "no clients for 10 s, leaving"));
    struct stat st {};
    EXPECT_NE(::stat(home.place().socket().c_str(), &st), 0);
    std::string log = home.log();
    EXPECT_TRUE(contains(log, "permission to listen (hidraw access): "));
    EXPECT_FALSE(contains(log, "menu bar item"));
}

TEST(KestrixProcess, aMenuBarItemWithoutADisplayIsExplainedInTheLog) {
    Home home;
    home.devices(R"({"devices": []})");
    std::ofstream(home.path + "/config/kestrix.json") << R"({"showsMenuBarItem": true})";
    proc::Broker broker(home);
    ASSERT_TRUE(broker.waitListening()) << broker.stderrText();
    ASSERT_TRUE(waitInFolder(home.path + "/home", [&] {
        return contains(home.log(), "menu bar item not shown: no display (showsMenuBarItem)");
    }));
}

TEST(KestrixProcess, spacenavdStartingAndStoppingSwitchesDriverMode) {
    Home home;
    home.devices(
        R"({"devices": [{"vendorID": 9583, "productID": 50741, "product": "SpaceMouse Compact",
      "transport": "USB", "serialNumber": "ABC123", "locationID": 1, "interface": 0}]})");
    ::mkdir((home.path + "/run").c_str(), 0700);
    proc::Broker broker(home);
    ASSERT_TRUE(broker.waitListening()) << broker.stderrText();
    VirtualMainLoop loop;
    auto client = connect(loop, home);
    client->send(ClientMessage{hello("Listener", std::nullopt)});
    auto lastState = [&]() -> std::string {
        auto lists = client->all<Devices>();
        if (lists.empty() || lists.back().devices.empty()) return "";
        return lists.back().devices.front().state;
    };
    ASSERT_TRUE(loop.runUntil([&] { return lastState() == "closed"; }));

    // A process named like the daemon stands in for it: a pid file naming it.
    StandIn daemon;
    ASSERT_GT(daemon.pid, 0);
    std::ofstream(home.path + "/run/spnavd.pid") << daemon.pid << "\n";
    ASSERT_TRUE(loop.runUntil([&] { return lastState() == "driver"; }));
    EXPECT_TRUE(contains(home.log(), "spacenavd runs: through the driver"));

    ::unlink((home.path + "/run/spnavd.pid").c_str());
    ASSERT_TRUE(loop.runUntil([&] { return lastState() == "closed"; }));
    EXPECT_TRUE(contains(home.log(), "spacenavd gone: seizing again"));
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
    EXPECT_FALSE(broker.waitExit(0.1));
}
