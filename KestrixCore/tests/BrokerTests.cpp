#include "BrokerFakes.h"

#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace brokertest;
using Axes = BrokerMessage::Axes;
using Buttons = BrokerMessage::Buttons;
using Holding = BrokerMessage::Holding;
using Report = BrokerMessage::Report;
using Devices = BrokerMessage::Devices;
using Welcome = BrokerMessage::Welcome;
using Apps = BrokerMessage::AppsWithOwnClient;

TEST_F(BrokerTest, listenerGetsWelcomeDevicesAndAppsButNeverHoldingNorAnLEDAnswer) {
    make();
    devices->ledError = "no LED";
    auto c = claimant("Listener", std::nullopt);
    ASSERT_EQ(c->got.size(), 3u); // welcome, devices, apps with their own client
    // An LED that cannot be switched is logged, not answered.
    c->send(ClientMessage{ClientMessage::SetLED{"serial:A", true}});
    ASSERT_TRUE(loop.runUntil([&] { return logged("LED serial:A for Listener: no LED"); }));
    EXPECT_EQ(devices->leds.back(), (std::pair<std::string, bool>{"serial:A", true}));
    loop.advance(1.0);
    settleSockets();
    EXPECT_EQ(c->got.size(), 3u);
    EXPECT_FALSE(broker->holder());
    EXPECT_TRUE(broker->status().clients.empty());
}

TEST_F(BrokerTest, claimsWithinTheSettleWindowArbitrateOnceAfterIt) {
    make();
    auto c = claimant("Vantor", background());
    EXPECT_EQ(broker->arbitrations(), 0);
    EXPECT_TRUE(logged("Vantor (pid 4242, v15) claims no app + background"));
    auto b = claimant("B", background(), 2);
    frontApp->activate(FrontmostApp{"x.app", 9});
    loop.advance(0.29);
    settleSockets();
    EXPECT_EQ(c->count<Holding>(), 0);
    EXPECT_EQ(broker->arbitrations(), 0);
    loop.advance(0.02);
    ASSERT_TRUE(waitFor<Holding>(*c));
    EXPECT_EQ(c->all<Holding>().front().holding, true);
    EXPECT_EQ(broker->arbitrations(), 1);
    EXPECT_TRUE(logged("holder: Vantor (background)"));
    EXPECT_EQ(devices->wants.back(), true);
    EXPECT_EQ(driver->wants.back(), false);
}

TEST_F(BrokerTest, axesButtonsAndReportsGoToTheHolderAlone) {
    makeSettled();
    auto holder = claimant("Holder", Claim{{"a.app"}, false, std::nullopt, true}, 10);
    auto other = claimant("Other", background(), 11, 1); // speaks protocol 1
    auto listener = claimant("Listener", std::nullopt);
    frontApp->activate(FrontmostApp{"a.app", 10});
    ASSERT_TRUE(waitFor<Holding>(*holder));
    smk::SpaceMouseAxes axes{1, 2, 3, 4, 5, 6};
    devices->onAxes("serial:A", axes);
    devices->onButtons("serial:A", smk::SpaceMouseButtons(0x3ull | (1ull << 40)));
    EXPECT_TRUE(devices->wantsReports());
    devices->onReport("serial:A", {1, 2, 3});
    ASSERT_TRUE(waitFor<Report>(*holder));
    EXPECT_EQ(holder->all<Axes>().front(), (Axes{"serial:A", axes}));
    EXPECT_EQ(holder->all<Buttons>().front().held.rawValue, 0x3ull | (1ull << 40));
    EXPECT_EQ(holder->all<Report>().front().bytes, (std::vector<std::uint8_t>{1, 2, 3}));
    settleSockets();
    for (auto* c : {other.get(), listener.get()})
        EXPECT_EQ(c->count<Axes>() + c->count<Buttons>() + c->count<Report>(), 0);
    // Raw reports only for a raw claim.
    frontApp->activate(FrontmostApp{"b.app", 11});
    ASSERT_TRUE(waitFor<Holding>(*other, 3)); // held, lost to the front, held again
    EXPECT_FALSE(devices->wantsReports());
    devices->onReport("serial:A", {1});
    devices->onAxes("serial:A", smk::SpaceMouseAxes{});
    ASSERT_TRUE(waitFor<Axes>(*other));
    EXPECT_EQ(other->count<Report>(), 0);
    // A protocol 1 holder gets its buttons masked to 32 bits.
    EXPECT_TRUE(logged("Other speaks protocol 1"));
    devices->onButtons("serial:A", smk::SpaceMouseButtons(0xFFFF'FFFF'FFFF'FFFFull));
    ASSERT_TRUE(waitFor<Buttons>(*other));
    EXPECT_EQ(other->all<Buttons>().front().held.rawValue, 0xFFFF'FFFFull);
}

TEST_F(BrokerTest, holdingMovesWithTheFrontAndToTheNextWhenTheHolderLeaves) {
    makeSettled();
    auto bg = claimant("Background", background(), 20);
    ASSERT_TRUE(waitFor<Holding>(*bg));
    // The same holder again sends and logs nothing, but sets the wants all the same.
    const auto lineCount = lines.size();
    const auto wantCalls = devices->wants.size();
    frontApp->activate(FrontmostApp{"z.app", 3});
    settleSockets();
    EXPECT_EQ(bg->count<Holding>(), 1);
    EXPECT_EQ(lines.size(), lineCount);
    EXPECT_EQ(devices->wants.size(), wantCalls + 1);

    auto app = claimant("App", front({"a.app"}), 21);
    frontApp->activate(FrontmostApp{"a.app", 99});
    ASSERT_TRUE(waitFor<Holding>(*app));
    ASSERT_TRUE(waitFor<Holding>(*bg, 2));
    EXPECT_EQ(bg->all<Holding>().back().holding, false);
    EXPECT_TRUE(logged("holder: App (front: a.app)"));
    app.reset();
    ASSERT_TRUE(waitFor<Holding>(*bg, 3));
    EXPECT_EQ(bg->all<Holding>().back().holding, true);
    EXPECT_TRUE(logged("App left"));
    EXPECT_EQ(lines.back(), "holder: Background (background)");
}

TEST_F(BrokerTest, theLatestFrontUserHoldsAmongBackgroundClaimsUntilAHelloReplacesIt) {
    makeSettled();
    auto first = claimant("First", background(), 30);
    auto second = claimant("Second", Claim{{"b.app"}, true, std::nullopt, std::nullopt}, 31);
    settleSockets();
    EXPECT_EQ(broker->holder(), 1);
    frontApp->activate(FrontmostApp{"b.app", 1});
    EXPECT_EQ(broker->holder(), 2);
    frontApp->activate(FrontmostApp{"c.app", 1});
    // Second held through the front last, so it keeps the device among background claims.
    EXPECT_EQ(broker->holder(), 2);
    EXPECT_EQ(lines.back(), "holder: Second (front: b.app)");
    // A second hello replaces the claimant and its front use: the one connected first holds.
    second->send(ClientMessage{hello("Second2", background(), 31)});
    ASSERT_TRUE(waitFor<Welcome>(*second, 2));
    settleSockets();
    EXPECT_EQ(broker->holder(), 1);
    EXPECT_TRUE(logged("Second2 (pid 31, v15) claims no app + background"));
    EXPECT_EQ(broker->status().clients.back().name, "Second2");
}

TEST_F(BrokerTest, claimMessageFromAListenerIsLoggedOnlyFromAClaimantReplacesItsClaim) {
    makeSettled();
    auto c = connect();
    c->send(ClientMessage{hello("Watcher", std::nullopt)});
    c->send(ClientMessage{background()});
    ASSERT_TRUE(loop.runUntil([&] { return logged("Watcher claims no app + background"); }));
    EXPECT_FALSE(broker->holder());
    EXPECT_TRUE(broker->status().clients.empty());
    // From a claimant it replaces the claim.
    auto vantor = claimant("Vantor", front({"a.app"}));
    EXPECT_FALSE(broker->holder());
    vantor->send(ClientMessage{background()});
    ASSERT_TRUE(waitFor<Holding>(*vantor));
    EXPECT_EQ(broker->status().clients.front().claim, background());
}

TEST_F(BrokerTest, statusListsClaimantsOnlySortedById) {
    makeSettled();
    auto a = claimant("A", background(), 1);
    auto l = claimant("L", std::nullopt);
    auto b = claimant("B", front({"x.app"}), 2);
    frontApp->activate(FrontmostApp{"x.app", 2});
    l->send(ClientMessage{ClientMessage::Status{}});
    ASSERT_TRUE(waitFor<BrokerStatus>(*l));
    BrokerStatus s = l->all<BrokerStatus>().front();
    EXPECT_EQ(s.frontmostApp, "x.app");
    ASSERT_EQ(s.clients.size(), 2u);
    EXPECT_EQ(s.clients[0], (BrokerStatus::Client{1, "A", 1, background(), false}));
    EXPECT_EQ(s.clients[1], (BrokerStatus::Client{3, "B", 2, front({"x.app"}), true}));
}

TEST_F(BrokerTest, appsWithOwnClientAreToldToEveryIntroducedClient) {
    makeSettled();
    frontApp->setBundleID(77, "org.blender.Blender");
    auto vantor = claimant("Vantor", front({"org.blender.Blender"}), 4242);
    EXPECT_FALSE(logged("own clients: none")); // unchanged from the empty start
    auto blender = claimant("Blender", front({"org.blender.Blender"}), 77);
    ASSERT_TRUE(waitFor<Apps>(*vantor, 2));
    EXPECT_EQ(vantor->all<Apps>().back().apps, std::vector<std::string>{"org.blender.Blender"});
    EXPECT_TRUE(logged("own clients: org.blender.Blender"));
    blender.reset();
    ASSERT_TRUE(waitFor<Apps>(*vantor, 3));
    EXPECT_TRUE(vantor->all<Apps>().back().apps.empty());
    EXPECT_TRUE(logged("own clients: none"));
}

TEST_F(BrokerTest, disablingTheDeviceInUseZeroesTheHolderThenSendsTheList) {
    makeSettled();
    devices->devices = {device("serial:A"), device("serial:B")};
    auto c = claimant("Vantor", background());
    ASSERT_TRUE(waitFor<Holding>(*c));
    c->got.clear();
    broker->setEnabled(false, "serial:B");
    ASSERT_TRUE(waitFor<Devices>(*c));
    ASSERT_EQ(c->got.size(), 3u);
    EXPECT_EQ(c->got[0], (BrokerMessage{Axes{"serial:B", smk::SpaceMouseAxes::zero}}));
    EXPECT_EQ(c->got[1], (BrokerMessage{Buttons{"serial:B", smk::SpaceMouseButtons{}}}));
    EXPECT_EQ(c->got[2].as<Devices>()->devices[1].enabled, false);
    EXPECT_FALSE(broker->isEnabled("serial:B"));
    broker->setEnabled(false, "serial:A");
    EXPECT_EQ(settings.get<std::vector<std::string>>("disabledDevices"),
              (std::vector<std::string>{"serial:A", "serial:B"}));
    broker->setEnabled(true, "serial:B");
    EXPECT_EQ(settings.get<std::vector<std::string>>("disabledDevices"),
              (std::vector<std::string>{"serial:A"}));
    EXPECT_TRUE(broker->isEnabled("serial:B"));
}

TEST_F(BrokerTest, descriptionGoesToTheAskerAndIsDroppedAfterItLeft) {
    make();
    auto c = connect();
    c->send(ClientMessage{ClientMessage::Describe{"serial:A"}});
    ASSERT_TRUE(loop.runUntil([&] { return devices->describes.size() == 1; }));
    DeviceDescription d;
    d.device = "serial:A";
    d.error = "test";
    devices->describes[0].second(d);
    ASSERT_TRUE(waitFor<DeviceDescription>(*c));
    EXPECT_EQ(c->all<DeviceDescription>().front(), d);

    c->send(ClientMessage{ClientMessage::Describe{"serial:A"}});
    ASSERT_TRUE(loop.runUntil([&] { return devices->describes.size() == 2; }));
    c.reset();
    settleSockets();
    devices->describes[1].second(d); // no client, no crash
    settleSockets();
}

TEST_F(BrokerTest, takeOverOnlyFromANewerVersionHandsOverAndLeaves) {
    makeSettled();
    auto holder = claimant("Vantor", background());
    auto c = connect();
    c->send(ClientMessage{ClientMessage::TakeOver{15}});
    c->send(ClientMessage{ClientMessage::TakeOver{14}});
    ASSERT_TRUE(waitFor<BrokerMessage::HandingOver>(*c, 2));
    EXPECT_FALSE(c->all<BrokerMessage::HandingOver>()[0].handingOver);
    EXPECT_FALSE(c->all<BrokerMessage::HandingOver>()[1].handingOver);
    EXPECT_FALSE(broker->leaving());
    EXPECT_EQ(leaves, 0);
    c->send(ClientMessage{hello("Kestrix v16", std::nullopt)});
    c->send(ClientMessage{ClientMessage::TakeOver{16}});
    ASSERT_TRUE(waitFor<BrokerMessage::HandingOver>(*c, 3));
    EXPECT_TRUE(c->all<BrokerMessage::HandingOver>()[2].handingOver);
    EXPECT_TRUE(broker->leaving());
    EXPECT_EQ(leaves, 1);
    EXPECT_TRUE(devices->stopped);
    EXPECT_EQ(driver->stops, 1);
    settleSockets();
    EXPECT_FALSE(logged("Vantor left"));
    // The socket file stays for the newcomer to replace.
    struct stat st {};
    EXPECT_EQ(::stat(place().socket().c_str(), &st), 0);
}

TEST_F(BrokerTest, onlyClaimantsKeepTheBrokerAlive) {
    make();
    auto anonymous = connect();
    anonymous->send(ClientMessage{background()}); // no hello: no claimant
    auto l = claimant("L", std::nullopt);
    auto c = claimant("C", front({"x.app"}));
    loop.advance(30.0);
    EXPECT_EQ(leaves, 0);
    c.reset();
    ASSERT_TRUE(loop.runUntil([&] { return logged("C left"); }));
    loop.advance(9.9);
    EXPECT_EQ(leaves, 0);
    loop.advance(0.1);
    EXPECT_EQ(leaves, 1);
    EXPECT_TRUE(logged("no clients for 10 s, leaving"));
    struct stat st {};
    EXPECT_NE(::stat(place().socket().c_str(), &st), 0);
}

TEST_F(BrokerTest, aClientThatStopsReadingIsDroppedAndOthersGoOn) {
    makeSettled();
    auto slow = connect();
    int size = 4096;
    ::setsockopt(slow->connection->fd(), SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
    slow->send(ClientMessage{hello("Slow", background(), 1)});
    auto other = claimant("Other", Claim{{}, true, true, std::nullopt}, 2);
    settleSockets();
    ASSERT_EQ(broker->holder(), 1);
    // The slow client's reader stops: its socket is left unread from now on.
    slow->connection->onMessage = nullptr;
    auto fd = ::dup(slow->connection->fd());
    slow->connection.reset();
    for (int i = 0; i < 5000 && !logged("Slow stopped reading: dropped"); ++i) {
        devices->onAxes("serial:A", smk::SpaceMouseAxes{i, i, i, i, i, i});
        if (i % 100 == 0) loop.advance(0.1); // 1 kHz
    }
    loop.runPending();
    EXPECT_TRUE(logged("Slow stopped reading: dropped"));
    EXPECT_TRUE(logged("Slow left"));
    ::close(fd);
    ASSERT_TRUE(waitFor<Holding>(*other));
    devices->onAxes("serial:A", smk::SpaceMouseAxes{7, 7, 7, 7, 7, 7});
    ASSERT_TRUE(waitFor<Axes>(*other));
}

TEST_F(BrokerTest, garbageAndFloodsNeverDisturbOtherClients) {
    makeSettled();
    auto good = claimant("Good", background(), 1);
    ASSERT_TRUE(waitFor<Holding>(*good));
    auto fd = UnixSocket::connect(place().socket().string());
    ASSERT_TRUE(fd);
    std::string junk = "not json\n{\"hello\":{}}\n{\"claim\":{\"_0\":{\"apps\":[1]}}}\n\xff\xfe\n";
    ASSERT_EQ(::send(*fd, junk.data(), junk.size(), MSG_NOSIGNAL),
              static_cast<ssize_t>(junk.size()));
    std::string flood(1 << 20, 'x');
    flood += "yy";
    std::size_t sent = 0;
    bool closed = false;
    while (sent < flood.size() && !closed) {
        ssize_t n =
            ::send(*fd, flood.data() + sent, flood.size() - sent, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n > 0)
            sent += static_cast<std::size_t>(n);
        else if (errno == EPIPE || errno == ECONNRESET)
            closed = true;
        loop.runPending();
    }
    // The broker says why before it closes; a peer that could not finish sending may miss it.
    char byte;
    std::string said;
    ASSERT_TRUE(loop.runUntil([&] {
        ssize_t n;
        while ((n = ::recv(*fd, &byte, 1, MSG_DONTWAIT)) > 0)
            said += byte;
        return n == 0 || closed;
    }));
    if (!closed) {
        EXPECT_EQ(said, "{\"refused\":{\"reason\":\"a line longer than 1048576 bytes\"}}\n");
    }
    ::close(*fd);
    devices->onAxes("serial:A", smk::SpaceMouseAxes{1, 0, 0, 0, 0, 0});
    ASSERT_TRUE(waitFor<Axes>(*good));
    EXPECT_EQ(broker->holder(), 1);
    EXPECT_FALSE(broker->leaving());
}

TEST_F(BrokerTest, theDisabledListFollowsOutsideChangesWhetherOrNotTheSettingsAreWatched) {
    for (bool watched : {false, true}) {
        if (watched) {
            ASSERT_TRUE(settings.watch(loop));
        }
        make();
        EXPECT_TRUE(broker->isEnabled("serial:A")) << watched;
        UserDefaults other(settings.path());
        other.set("disabledDevices", std::vector<std::string>{"serial:A"});
        EXPECT_TRUE(loop.runUntil([&] { return !broker->isEnabled("serial:A"); }, 2.0)) << watched;
        other.set("disabledDevices", std::vector<std::string>{});
        EXPECT_TRUE(loop.runUntil([&] { return broker->isEnabled("serial:A"); }, 2.0)) << watched;
        broker.reset();
    }
}

TEST_F(BrokerTest, aHelloLongerThanALineIsRefusedWithAReasonAndALogLine) {
    makeSettled();
    auto listener = claimant("Listener", std::nullopt);
    // 100,000 allowed apps: more than the broker reads as one line.
    std::vector<std::string> apps;
    for (int i = 0; i < 100'000; ++i)
        apps.push_back("org.example.app" + std::to_string(i));
    auto c = connect();
    c->send(ClientMessage{hello("Vantor", front(apps))});
    ASSERT_TRUE(loop.runUntil([&] { return c->closed; }, 30.0));
    ASSERT_EQ(c->got.size(), 1u);
    EXPECT_EQ(c->got[0], (BrokerMessage{BrokerMessage::Refused{"a line longer than 1048576 bytes"}}));
    EXPECT_TRUE(logged("? sent a line longer than 1048576 bytes: dropped"));
    // The broker goes on serving the others.
    listener->send(ClientMessage{ClientMessage::Status{}});
    ASSERT_TRUE(waitFor<BrokerStatus>(*listener));
    EXPECT_FALSE(listener->closed);
}
