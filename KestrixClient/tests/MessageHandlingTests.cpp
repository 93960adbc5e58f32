// The connection against a broker stand-in on a real socket: hello, every broker message, the
// holding release, the close handler and the requests the owner makes.

#include "TestSupport.h"

#include <gtest/gtest.h>

namespace kestrix::client::test {
namespace {

using smk::SpaceMouseAxes;
using smk::SpaceMouseButtons;
using B = BrokerMessage;

const auto holding = [](bool flag) { return B{B::Holding{flag}}; };
const auto welcome = [](std::int64_t version) { return B{B::Welcome{version, 2}}; };
const auto axes = [](std::string id, SpaceMouseAxes value) { return B{B::Axes{id, value}}; };
const auto buttons = [](std::string id, SpaceMouseButtons held) { return B{B::Buttons{id, held}}; };
DeviceDescription unanswered(std::string device, std::string error) {
    DeviceDescription d;
    d.device = std::move(device);
    d.error = std::move(error);
    return d;
}

struct Linked : ::testing::Test {
    TempFolder home;
    BrokerPlace place{home.path};
    VirtualMainLoop loop;
    FakeBroker broker{loop, place};
    Recorder recorder;
    Claim claim{{"org.blender", "org.gimp"}, false, std::nullopt, true};
    std::shared_ptr<KestrixConnection> connection = KestrixConnection::create(
        loop, "Vantor", claim, Launcher::executable("/bin/true"), place, 15);
    std::vector<DeviceDescription> answers;

    void SetUp() override {
        recorder.attach(*connection, loop);
        connection->start();
        ASSERT_TRUE(broker.acceptHello());
    }

    // Sends the messages and serves the loop until the client has handled them all: it answers
    // a description request made after them.
    void deliver(std::initializer_list<BrokerMessage> messages) {
        for (const BrokerMessage& message : messages)
            broker.send(message);
        bool answered = false;
        connection->describe("marker", [&](const DeviceDescription&) { answered = true; });
        ASSERT_TRUE(broker.waitFor(broker.received.size() + 1));
        broker.send(BrokerMessage{unanswered("marker", "")});
        ASSERT_TRUE(loop.runUntil([&] { return answered; }));
    }
    void describe(const std::string& device) {
        connection->describe(device, [this](const DeviceDescription& d) { answers.push_back(d); });
    }
};

TEST_F(Linked, saysHelloAndAnOlderBrokerIsAnsweredByLaunchingOursAtMostEveryThreeSeconds) {
    EXPECT_EQ(broker.received,
              std::vector<ClientMessage>{ClientMessage{Hello(2, 15, ::getpid(), "Vantor", claim)}});
    deliver({welcome(15), welcome(16)});
    EXPECT_EQ(recorder.take(), (std::vector<Event>{Event::connected(15), Event::connected(16)}));
    EXPECT_EQ(connection->brokerVersion(), 16);
    EXPECT_EQ(connection->brokerProtocolVersion(), 2);
    EXPECT_TRUE(recorder.launches.empty());
    loop.advance(10);
    deliver({welcome(14)});
    ASSERT_EQ(recorder.launches.size(), 1u);
    EXPECT_EQ(recorder.launches[0].second, Launcher::executable("/bin/true"));
    loop.advance(2.9);
    deliver({welcome(14)});
    EXPECT_EQ(recorder.launches.size(), 1u);
    loop.advance(0.1);
    deliver({welcome(14)});
    EXPECT_EQ(recorder.launches.size(), 2u);
}

TEST_F(Linked, axesAndButtonsCountOnlyWhileHoldingAndAreReleasedWithIt) {
    deliver({axes("serial:A", {5, 0, 0, 0, 0, 0}), buttons("serial:A", SpaceMouseButtons::left)});
    EXPECT_TRUE(recorder.take().empty());
    EXPECT_TRUE(connection->heldButtons().isEmpty());
    SpaceMouseDevice pro = device("serial:P", 0x046D, 0xC62B); // menu and fit act as the pair
    SpaceMouseDevice compact = device("serial:C");             // left and right
    deliver({B{B::Devices{{pro, compact}}}, holding(true), holding(true)});
    EXPECT_EQ(recorder.take(), (std::vector<Event>{Event::devices({pro, compact}),
                                                   Event::holding(true), Event::holding(true)}));
    EXPECT_EQ(connection->devices(), (std::vector<SpaceMouseDevice>{pro, compact}));
    deliver({buttons("serial:P", SpaceMouseButtons::fit),
             buttons("serial:C", SpaceMouseButtons::left),
             buttons("serial:X", SpaceMouseButtons::right)}); // not listed: no pair
    EXPECT_EQ(connection->heldTwoButtons(),
              (SpaceMouseButtons{SpaceMouseButtons::left, SpaceMouseButtons::right}));
    deliver({buttons("serial:C", {}), axes("serial:A", {5, 0, 0, 0, 0, 0}),
             axes("serial:C", {0, 3, 0, 0, 0, 0}), axes("serial:C", {})});
    EXPECT_EQ(connection->heldTwoButtons(), SpaceMouseButtons::right);
    EXPECT_EQ(connection->heldButtons(),
              (SpaceMouseButtons{SpaceMouseButtons::fit, SpaceMouseButtons::right}));
    recorder.take();
    // Losing the device releases moved caps (C's is back at rest), then every device's buttons,
    // even an empty set: that was the broker's last word.
    deliver({holding(false)});
    EXPECT_EQ(recorder.take(),
              (std::vector<Event>{Event::axes(SpaceMouseAxes::zero, "serial:A"),
                                  Event::buttons({}, "serial:C"), Event::buttons({}, "serial:P"),
                                  Event::buttons({}, "serial:X"), Event::holding(false)}));
    EXPECT_TRUE(connection->heldButtons().isEmpty());
    EXPECT_FALSE(connection->holds());
}

TEST_F(Linked, rawReportsWhileHoldingAppsWhenChangedAndNothingForStatus) {
    deliver({B{B::Report{"serial:A", {1, 2, 3}}}, holding(true),
             B{B::Report{"serial:A", {1, 12, 0}}}, B{BrokerStatus{15, 1, std::nullopt, {}, {}}},
             B{B::HandingOver{true}}});
    EXPECT_EQ(recorder.reports, (decltype(recorder.reports){{{1, 12, 0}, "serial:A"}}));
    EXPECT_EQ(recorder.take(), std::vector<Event>{Event::holding(true)});
    deliver({B{B::AppsWithOwnClient{{"b.app", "a.app"}}},
             B{B::AppsWithOwnClient{{"a.app", "b.app", "a.app"}}}, B{B::AppsWithOwnClient{{}}}});
    EXPECT_EQ(recorder.appsCalls, (std::vector<std::set<std::string>>{{"a.app", "b.app"}, {}}));
}

TEST_F(Linked, claimAndLEDsGoOutWhileLinked) {
    SpaceMouseDevice noLED = device("serial:N");
    noLED.hasLED = false;
    SpaceMouseDevice overBluetooth = device("bt:aa", 0x256F, 0xC63A);
    overBluetooth.transport = "Bluetooth";
    deliver({B{B::Devices{{device("serial:B"), noLED, overBluetooth, device("serial:A")}}}});
    Claim next{{"org.gimp"}, true};
    connection->setClaim(next);
    connection->setLEDs(true);
    connection->setLED(false, "serial:Z");
    std::size_t before = broker.received.size();
    ASSERT_TRUE(broker.waitFor(before + 4));
    EXPECT_EQ(
        std::vector<ClientMessage>(broker.received.begin() + long(before), broker.received.end()),
        (std::vector<ClientMessage>{{next},
                                    {ClientMessage::SetLED{"serial:B", true}},
                                    {ClientMessage::SetLED{"serial:A", true}},
                                    {ClientMessage::SetLED{"serial:Z", false}}}));
}

TEST_F(Linked, describeRequestsShareAnAnswerOrGiveUpAfterFiveSeconds) {
    describe("serial:A");
    describe("serial:A");
    describe("serial:B");
    loop.advance(3);
    describe("serial:B");
    ASSERT_TRUE(broker.waitFor(5));
    EXPECT_EQ(broker.received[1], (ClientMessage{ClientMessage::Describe{"serial:A"}}));
    DeviceDescription answer{"serial:A", {{"Product", "SpaceMouse Compact"}}, {5, 1}, {}};
    broker.send(BrokerMessage{answer});
    ASSERT_TRUE(loop.runUntil([&] { return answers.size() == 2; }));
    loop.advance(1.99);
    EXPECT_EQ(answers.size(), 2u);
    loop.advance(0.01);
    // The later request for B still waits and gets the answer.
    DeviceDescription late{"serial:B", {}, {}, {}};
    broker.send(BrokerMessage{late});
    ASSERT_TRUE(loop.runUntil([&] { return answers.size() == 4; }));
    loop.advance(10);
    EXPECT_EQ(answers,
              (std::vector<DeviceDescription>{
                  answer, answer, unanswered("serial:B", "no answer from Kestrix"), late}));
}

TEST_F(Linked, aBrokerThatGoesAwayReleasesEverythingAndIsReconnectedAtOnce) {
    deliver({welcome(15), holding(true), axes("serial:A", {0, 0, 0, 0, 0, 9}),
             B{B::AppsWithOwnClient{{"org.blender"}}}});
    describe("serial:Q");
    recorder.take();
    broker.dropPeer();
    ASSERT_TRUE(loop.runUntil([&] { return !recorder.events.empty(); }));
    EXPECT_EQ(answers, std::vector<DeviceDescription>{unanswered("serial:Q", "Kestrix gone")});
    EXPECT_EQ(recorder.take(), (std::vector<Event>{Event::axes(SpaceMouseAxes::zero, "serial:A"),
                                                   Event::holding(false), Event::disconnected()}));
    EXPECT_EQ(recorder.appsCalls, (std::vector<std::set<std::string>>{{"org.blender"}, {}}));
    EXPECT_FALSE(connection->brokerVersion().has_value());
    EXPECT_FALSE(connection->brokerProtocolVersion().has_value());
    // The new attempt came without waiting for any timer.
    ASSERT_TRUE(broker.acceptHello());
    // Without apps or holding, a close is only `disconnected`.
    broker.dropPeer();
    ASSERT_TRUE(loop.runUntil([&] { return !recorder.events.empty(); }));
    EXPECT_EQ(recorder.take(), std::vector<Event>{Event::disconnected()});
    EXPECT_EQ(recorder.appsCalls.size(), 2u);
    ASSERT_TRUE(broker.acceptHello());
    EXPECT_EQ(broker.accepted, 3);
}

TEST_F(Linked, afterStopNothingIsSentUntilTheNextStartsHello) {
    deliver({holding(true), buttons("serial:A", SpaceMouseButtons::right)});
    recorder.take();
    connection->stop();
    EXPECT_EQ(recorder.take(), (std::vector<Event>{Event::buttons({}, "serial:A"),
                                                   Event::holding(false), Event::disconnected()}));
    EXPECT_FALSE(connection->isLinked());
    ASSERT_TRUE(loop.runUntil([&] { return broker.peerClosed; }));
    describe("serial:A"); // answered at once
    EXPECT_EQ(answers,
              std::vector<DeviceDescription>{unanswered("serial:A", "Kestrix not reached")});
    Claim next{{}, true, true};
    connection->setClaim(next);
    connection->setLED(true, "serial:A"); // dropped
    loop.advance(30);
    EXPECT_FALSE(broker.acceptHello());
    EXPECT_TRUE(recorder.events.empty());
    connection->start();
    ASSERT_TRUE(broker.acceptHello());
    EXPECT_EQ(broker.received,
              std::vector<ClientMessage>{ClientMessage{Hello(2, 15, ::getpid(), "Vantor", next)}});
}

TEST_F(Linked, messagesReadTogetherWithAStopAreDropped) {
    // Both lines reach the client in one read; the owner stops on the first.
    connection->onEvent = [this](const Event& event) {
        recorder.events.push_back(event);
        if (event == Event::holding(true)) connection->stop();
    };
    broker.send(holding(true));
    broker.send(B{B::Devices{{device("serial:A")}}});
    ASSERT_TRUE(loop.runUntil([&] { return broker.peerClosed; }));
    loop.runPending();
    EXPECT_EQ(recorder.take(), (std::vector<Event>{Event::holding(true), Event::holding(false),
                                                   Event::disconnected()}));
    EXPECT_TRUE(connection->devices().empty());
}

TEST_F(Linked, theOwnerMayDropTheConnectionFromItsEventHandlerOrWithRequestsPending) {
    deliver({holding(true), axes("serial:A", {1, 0, 0, 0, 0, 0})});
    recorder.take();
    std::weak_ptr<KestrixConnection> weak = connection;
    connection->onEvent = [this](const Event& event) {
        recorder.events.push_back(event);
        connection.reset();
    };
    broker.dropPeer();
    ASSERT_TRUE(loop.runUntil([&] { return weak.expired(); }));
    // The close handler ran to its end on the object it kept alive meanwhile.
    EXPECT_EQ(recorder.take(), (std::vector<Event>{Event::axes(SpaceMouseAxes::zero, "serial:A"),
                                                   Event::holding(false), Event::disconnected()}));
    // A connection dropped with a request pending sends, reports and completes nothing.
    while (broker.acceptHello()) { // the attempt it made before it went
    }
    auto other = KestrixConnection::create(loop, "Other", claim, Launcher::none(), place, 15);
    other->start();
    ASSERT_TRUE(broker.acceptHello());
    other->describe("serial:A", [this](const DeviceDescription& d) { answers.push_back(d); });
    other.reset();
    ASSERT_TRUE(loop.runUntil([&] { return broker.peerClosed; }));
    loop.advance(30);
    EXPECT_TRUE(answers.empty());
    EXPECT_TRUE(recorder.events.empty());
    EXPECT_EQ(broker.received.size(), 2u);
}

} // namespace
} // namespace kestrix::client::test
