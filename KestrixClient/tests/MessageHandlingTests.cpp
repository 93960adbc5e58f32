// The connection against a broker stand-in on a real socket: hello, every broker message, the
// holding release, the close handler and the requests the owner makes.

#include "TestSupport.h"

#include <gtest/gtest.h>
#include <unistd.h>

namespace kestrix::client::test {
namespace {

using Event = KestrixConnection::Event;
using Launcher = KestrixConnection::Launcher;
using smk::SpaceMouseAxes;
using smk::SpaceMouseButtons;

struct Linked : ::testing::Test {
    TempFolder home;
    BrokerPlace place{home.path()};
    VirtualMainLoop loop;
    FakeBroker broker{loop, place};
    Recorder recorder;
    Claim claim{{"org.blender", "org.gimp"}, false, std::nullopt, true};
    std::shared_ptr<KestrixConnection> connection;

    void SetUp() override {
        connection = KestrixConnection::create(loop, "Vantor", claim,
                                               Launcher::executable("/bin/true"), place, 15);
        recorder.attach(*connection, loop);
        connection->start();
        ASSERT_TRUE(broker.acceptHello());
    }

    // Sends the messages and serves the loop until the client has handled them all.
    void deliver(std::initializer_list<BrokerMessage> messages) {
        for (const BrokerMessage& message : messages)
            broker.send(message);
        // A status request is answered by nothing; a marker the client echoes is what tells the
        // test that everything before it was handled: ask for a description and answer it.
        bool answered = false;
        std::string marker = "marker:" + std::to_string(markers_++);
        connection->describe(marker, [&](const DeviceDescription&) { answered = true; });
        ASSERT_TRUE(broker.waitForMessages(broker.received.size() + 1));
        DeviceDescription reply;
        reply.device = marker;
        broker.send(BrokerMessage{reply});
        ASSERT_TRUE(loop.runUntil([&] { return answered; }));
    }

    static BrokerMessage holding(bool flag) { return {BrokerMessage::Holding{flag}}; }
    static BrokerMessage axes(std::string device, SpaceMouseAxes value) {
        return {BrokerMessage::Axes{std::move(device), value}};
    }
    static BrokerMessage buttons(std::string device, SpaceMouseButtons held) {
        return {BrokerMessage::Buttons{std::move(device), held}};
    }
    static BrokerMessage devices(std::vector<SpaceMouseDevice> list) {
        return {BrokerMessage::Devices{std::move(list)}};
    }
    static ClientMessage setLED(std::string device, bool on) {
        return {ClientMessage::SetLED{std::move(device), on}};
    }
    static BrokerMessage welcome(std::int64_t version) {
        return {BrokerMessage::Welcome{version, 2}};
    }

private:
    int markers_ = 0;
};

TEST_F(Linked, saysHelloWithItsClaimAndProcess) {
    ASSERT_EQ(broker.received.size(), 1u);
    const Hello* hello = broker.received[0].as<Hello>();
    ASSERT_NE(hello, nullptr);
    EXPECT_EQ(hello->protocolVersion, 2);
    EXPECT_EQ(hello->version, 15);
    EXPECT_EQ(hello->processID, ::getpid());
    EXPECT_EQ(hello->name, "Vantor");
    EXPECT_EQ(hello->claim, claim);
    EXPECT_TRUE(connection->isLinked());
}

TEST_F(Linked, welcomeStoresTheVersionsAndReportsConnected) {
    deliver({welcome(16)});
    EXPECT_EQ(recorder.take(), std::vector<Event>{Event::connected(16)});
    EXPECT_EQ(connection->brokerVersion(), 16);
    EXPECT_EQ(connection->brokerProtocolVersion(), 2);
    EXPECT_TRUE(recorder.launches.empty());
}

TEST_F(Linked, anOlderBrokerIsAnsweredByLaunchingOurs) {
    deliver({welcome(14)});
    EXPECT_EQ(recorder.take(), std::vector<Event>{Event::connected(14)});
    ASSERT_EQ(recorder.launches.size(), 1u);
    EXPECT_EQ(recorder.launches[0].second, Launcher::executable("/bin/true"));
}

TEST_F(Linked, aBrokerOfTheSameOrANewerVersionIsLeftAlone) {
    deliver({welcome(15), welcome(16)});
    EXPECT_EQ(recorder.take(), (std::vector<Event>{Event::connected(15), Event::connected(16)}));
    EXPECT_TRUE(recorder.launches.empty());
}

TEST_F(Linked, launchesStayThreeSecondsApart) {
    deliver({welcome(14)});
    ASSERT_EQ(recorder.launches.size(), 1u);
    loop.advance(2.9);
    deliver({welcome(14)});
    EXPECT_EQ(recorder.launches.size(), 1u);
    loop.advance(0.1);
    deliver({welcome(14)});
    EXPECT_EQ(recorder.launches.size(), 2u);
}

TEST_F(Linked, devicesAreStoredAndReported) {
    std::vector<SpaceMouseDevice> list{device("serial:A"), device("serial:B", 0x046D, 0xC626)};
    deliver({devices(list)});
    EXPECT_EQ(recorder.take(), std::vector<Event>{Event::devices(list)});
    EXPECT_EQ(connection->devices(), list);
}

TEST_F(Linked, axesAndButtonsAreIgnoredUnlessHolding) {
    deliver({axes("serial:A", {5, 0, 0, 0, 0, 0}), buttons("serial:A", SpaceMouseButtons::left)});
    EXPECT_TRUE(recorder.take().empty());
    EXPECT_TRUE(connection->heldButtons().isEmpty());
    // Nothing was remembered either: losing the device later releases nothing.
    deliver({holding(true), holding(false)});
    EXPECT_EQ(recorder.take(), (std::vector<Event>{Event::holding(true), Event::holding(false)}));
}

TEST_F(Linked, losingTheDeviceReleasesMovedCapsThenHeldButtons) {
    deliver({holding(true), axes("serial:A", {5, 0, 0, 0, 0, 0}),
             buttons("serial:B", SpaceMouseButtons::left)});
    EXPECT_EQ(connection->heldButtons(), SpaceMouseButtons::left);
    recorder.take();
    deliver({holding(false)});
    EXPECT_EQ(recorder.take(),
              (std::vector<Event>{Event::axes(SpaceMouseAxes::zero, "serial:A"),
                                  Event::buttons({}, "serial:B"), Event::holding(false)}));
    EXPECT_TRUE(connection->heldButtons().isEmpty());
    EXPECT_FALSE(connection->holds());
}

TEST_F(Linked, aCapBackAtRestNeedsNoRelease) {
    deliver({holding(true), axes("serial:A", {5, 0, 0, 0, 0, 0}), axes("serial:A", {}),
             buttons("serial:A", {})});
    recorder.take();
    deliver({holding(false)});
    // The empty button set is still released: the broker's last word was a (empty) report.
    EXPECT_EQ(recorder.take(),
              (std::vector<Event>{Event::buttons({}, "serial:A"), Event::holding(false)}));
}

TEST_F(Linked, holdingIsReportedEvenWhenUnchanged) {
    deliver({holding(true), holding(true)});
    EXPECT_EQ(recorder.take(), (std::vector<Event>{Event::holding(true), Event::holding(true)}));
    EXPECT_TRUE(connection->holds());
}

TEST_F(Linked, heldButtonsUniteAllDevices) {
    deliver({holding(true), buttons("serial:A", SpaceMouseButtons::left),
             buttons("serial:B", SpaceMouseButtons::key3)});
    EXPECT_EQ(connection->heldButtons(),
              (SpaceMouseButtons{SpaceMouseButtons::left, SpaceMouseButtons::key3}));
    deliver({buttons("serial:A", {})});
    EXPECT_EQ(connection->heldButtons(), SpaceMouseButtons::key3);
}

TEST_F(Linked, heldTwoButtonsMapsEachListedDeviceOntoItsPair) {
    SpaceMouseDevice pro = device("serial:P", 0x046D, 0xC62B); // menu and fit act as the pair
    SpaceMouseDevice compact = device("serial:C");             // left and right
    deliver({devices({pro, compact}), holding(true), buttons("serial:P", SpaceMouseButtons::fit),
             buttons("serial:C", SpaceMouseButtons::left),
             buttons("serial:X", SpaceMouseButtons::right)}); // not listed: skipped
    EXPECT_EQ(connection->heldTwoButtons(),
              (SpaceMouseButtons{SpaceMouseButtons::left, SpaceMouseButtons::right}));
    deliver({buttons("serial:C", {})});
    EXPECT_EQ(connection->heldTwoButtons(), SpaceMouseButtons::right);
}

TEST_F(Linked, rawReportsGoToTheOwnerOnlyWhileHolding) {
    deliver({BrokerMessage{BrokerMessage::Report{"serial:A", {1, 2, 3}}}});
    EXPECT_TRUE(recorder.reports.empty());
    deliver({holding(true), BrokerMessage{BrokerMessage::Report{"serial:A", {1, 12, 0}}}});
    ASSERT_EQ(recorder.reports.size(), 1u);
    EXPECT_EQ(recorder.reports[0].first, (std::vector<std::uint8_t>{1, 12, 0}));
    EXPECT_EQ(recorder.reports[0].second, "serial:A");
}

TEST_F(Linked, appsWithOwnClientAreReportedOnlyWhenTheSetChanges) {
    deliver({BrokerMessage{BrokerMessage::AppsWithOwnClient{{"b.app", "a.app"}}}});
    ASSERT_EQ(recorder.appsCalls.size(), 1u);
    EXPECT_EQ(recorder.appsCalls[0], (std::set<std::string>{"a.app", "b.app"}));
    deliver({BrokerMessage{BrokerMessage::AppsWithOwnClient{{"a.app", "b.app", "a.app"}}}});
    EXPECT_EQ(recorder.appsCalls.size(), 1u);
    deliver({BrokerMessage{BrokerMessage::AppsWithOwnClient{{}}}});
    EXPECT_EQ(recorder.appsCalls.size(), 2u);
    EXPECT_TRUE(connection->appsWithOwnClient().empty());
}

TEST_F(Linked, statusAndHandingOverAreIgnored) {
    deliver({BrokerMessage{BrokerStatus{15, 1, std::nullopt, {}, {}}},
             BrokerMessage{BrokerMessage::HandingOver{true}}});
    EXPECT_TRUE(recorder.take().empty());
}

TEST_F(Linked, setClaimSendsTheClaimWhileLinked) {
    Claim next{{"org.gimp"}, true};
    connection->setClaim(next);
    ASSERT_TRUE(broker.waitForMessages(2));
    EXPECT_EQ(broker.received[1], ClientMessage{next});
    EXPECT_EQ(connection->claim(), next);
}

TEST_F(Linked, setLEDsSwitchesEveryDeviceThatCanLightItsLEDInListOrder) {
    SpaceMouseDevice noLED = device("serial:N");
    noLED.hasLED = false;
    SpaceMouseDevice wirelessOverBluetooth = device("bt:aa", 0x256F, 0xC63A);
    wirelessOverBluetooth.transport = "Bluetooth";
    deliver({devices({device("serial:B"), noLED, wirelessOverBluetooth, device("serial:A")})});
    std::size_t before = broker.received.size();
    connection->setLEDs(true);
    connection->setLED(false, "serial:Z");
    ASSERT_TRUE(broker.waitForMessages(before + 3));
    EXPECT_EQ(broker.received[before], setLED("serial:B", true));
    EXPECT_EQ(broker.received[before + 1], setLED("serial:A", true));
    EXPECT_EQ(broker.received[before + 2], setLED("serial:Z", false));
}

TEST_F(Linked, twoDescribeRequestsForOneDeviceShareTheAnswer) {
    std::vector<DeviceDescription> first, second;
    connection->describe("serial:A", [&](const DeviceDescription& d) { first.push_back(d); });
    connection->describe("serial:A", [&](const DeviceDescription& d) { second.push_back(d); });
    ASSERT_TRUE(broker.waitForMessages(3));
    EXPECT_EQ(broker.received[1], (ClientMessage{ClientMessage::Describe{"serial:A"}}));
    DeviceDescription answer{"serial:A", {{"Product", "SpaceMouse Compact"}}, {5, 1}, {}};
    broker.send(BrokerMessage{answer});
    ASSERT_TRUE(loop.runUntil([&] { return !second.empty(); }));
    // The time-outs come later and find nothing to do.
    loop.advance(10);
    ASSERT_EQ(first.size(), 1u);
    ASSERT_EQ(second.size(), 1u);
    EXPECT_EQ(first[0], answer);
    EXPECT_EQ(second[0], answer);
}

TEST_F(Linked, aDescribeRequestGivesUpAfterFiveSeconds) {
    std::vector<DeviceDescription> answers;
    connection->describe("serial:A", [&](const DeviceDescription& d) { answers.push_back(d); });
    loop.advance(4.99);
    EXPECT_TRUE(answers.empty());
    loop.advance(0.01);
    ASSERT_EQ(answers.size(), 1u);
    EXPECT_EQ(answers[0].device, "serial:A");
    EXPECT_EQ(answers[0].error, "no answer from Kestrix");
    EXPECT_TRUE(answers[0].properties.empty());
    EXPECT_TRUE(answers[0].reportDescriptor.empty());
    EXPECT_TRUE(answers[0].featureReports.empty());
    EXPECT_FALSE(answers[0].featureReportsVia.has_value());
    // A late answer finds nobody waiting.
    broker.send(BrokerMessage{DeviceDescription{"serial:A", {}, {}, {}}});
    deliver({});
    EXPECT_EQ(answers.size(), 1u);
}

TEST_F(Linked, aTimedOutRequestLeavesTheLaterOneWaiting) {
    std::vector<std::string> errors;
    auto keep = [&](const DeviceDescription& d) { errors.push_back(d.error.value_or("answer")); };
    connection->describe("serial:A", keep);
    loop.advance(3);
    connection->describe("serial:A", keep);
    loop.advance(2);
    EXPECT_EQ(errors, std::vector<std::string>{"no answer from Kestrix"});
    broker.send(BrokerMessage{DeviceDescription{"serial:A", {}, {}, {}}});
    ASSERT_TRUE(loop.runUntil([&] { return errors.size() == 2; }));
    EXPECT_EQ(errors[1], "answer");
    loop.advance(10);
    EXPECT_EQ(errors.size(), 2u);
}

TEST_F(Linked, aBrokerThatGoesAwayReleasesEverythingAndReconnectsAtOnce) {
    std::vector<DeviceDescription> answers;
    deliver({welcome(15), holding(true), axes("serial:A", {0, 0, 0, 0, 0, 9}),
             BrokerMessage{BrokerMessage::AppsWithOwnClient{{"org.blender"}}}});
    connection->describe("serial:Q", [&](const DeviceDescription& d) { answers.push_back(d); });
    recorder.take();
    recorder.appsCalls.clear();
    broker.dropPeer();
    ASSERT_TRUE(loop.runUntil([&] { return !recorder.events.empty(); }));
    ASSERT_EQ(answers.size(), 1u);
    EXPECT_EQ(answers[0].error, "Kestrix gone");
    EXPECT_EQ(recorder.take(), (std::vector<Event>{Event::axes(SpaceMouseAxes::zero, "serial:A"),
                                                   Event::holding(false), Event::disconnected()}));
    ASSERT_EQ(recorder.appsCalls.size(), 1u);
    EXPECT_TRUE(recorder.appsCalls[0].empty());
    EXPECT_FALSE(connection->brokerVersion().has_value());
    EXPECT_FALSE(connection->brokerProtocolVersion().has_value());
    // The new attempt came without waiting for any timer.
    ASSERT_TRUE(broker.acceptHello());
    EXPECT_EQ(broker.accepted(), 2);
}

TEST_F(Linked, aBrokerThatLeavesIsRelaunchedAtTheFifthFailedAttemptAfterTheLoss) {
    loop.advance(10); // far from any earlier launch
    broker.stopListening();
    broker.dropPeer();
    ASSERT_TRUE(loop.runUntil([&] { return !recorder.events.empty(); }));
    const double lost = loop.now();
    // The attempt made at once is the first failure; the fifth comes 0.4 s later.
    loop.advance(0.35);
    EXPECT_TRUE(recorder.launches.empty());
    loop.advance(0.1);
    ASSERT_EQ(recorder.launches.size(), 1u);
    EXPECT_NEAR(recorder.launches[0].first - lost, 0.4, 1e-9);
    loop.advance(4.45);
    EXPECT_EQ(recorder.take(),
              (std::vector<Event>{Event::disconnected(),
                                  Event::unavailable("Kestrix could not be reached")}));
}

TEST_F(Linked, closingWithoutAppsOrHoldingOnlyReportsDisconnected) {
    broker.dropPeer();
    ASSERT_TRUE(loop.runUntil([&] { return !recorder.events.empty(); }));
    EXPECT_EQ(recorder.take(), std::vector<Event>{Event::disconnected()});
    EXPECT_TRUE(recorder.appsCalls.empty());
}

TEST_F(Linked, stopClosesTheLinkAndDoesNotReconnect) {
    deliver({holding(true), buttons("serial:A", SpaceMouseButtons::right)});
    recorder.take();
    connection->stop();
    EXPECT_EQ(recorder.take(), (std::vector<Event>{Event::buttons({}, "serial:A"),
                                                   Event::holding(false), Event::disconnected()}));
    EXPECT_FALSE(connection->isLinked());
    ASSERT_TRUE(loop.runUntil([&] { return broker.peerClosed; }));
    loop.advance(30);
    loop.runPending();
    EXPECT_FALSE(broker.accept());
    EXPECT_TRUE(recorder.events.empty());
}

TEST_F(Linked, messagesReadTogetherWithAStopAreDropped) {
    // Both lines reach the client in one read; the owner stops on the first.
    connection->onEvent = [this](const Event& event) {
        recorder.events.push_back(event);
        if (event == Event::holding(true)) connection->stop();
    };
    broker.send(holding(true));
    broker.send(devices({device("serial:A")}));
    ASSERT_TRUE(loop.runUntil([&] { return broker.peerClosed; }));
    loop.runPending();
    EXPECT_EQ(recorder.take(), (std::vector<Event>{Event::holding(true), Event::holding(false),
                                                   Event::disconnected()}));
    EXPECT_TRUE(connection->devices().empty());
}

TEST_F(Linked, describeWhileNotLinkedAnswersAtOnce) {
    connection->stop();
    std::vector<DeviceDescription> answers;
    connection->describe("serial:A", [&](const DeviceDescription& d) { answers.push_back(d); });
    ASSERT_EQ(answers.size(), 1u);
    EXPECT_EQ(answers[0].device, "serial:A");
    EXPECT_EQ(answers[0].error, "Kestrix not reached");
}

TEST_F(Linked, aClaimSetWhileNotLinkedGoesOutWithTheNextHello) {
    connection->stop();
    Claim next{{}, true, true};
    connection->setClaim(next);
    connection->setLED(true, "serial:A"); // not linked: dropped
    connection->start();
    ASSERT_TRUE(broker.acceptHello());
    ASSERT_EQ(broker.received.size(), 1u);
    EXPECT_EQ(broker.received[0].as<Hello>()->claim, next);
}

TEST_F(Linked, theOwnerMayDropTheConnectionFromItsEventHandler) {
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
    loop.advance(30);
    EXPECT_TRUE(recorder.events.empty());
}

TEST_F(Linked, droppingTheConnectionWithRequestsPendingIsHarmless) {
    int calls = 0;
    connection->describe("serial:A", [&](const DeviceDescription&) { ++calls; });
    connection.reset();
    ASSERT_TRUE(loop.runUntil([&] { return broker.peerClosed; }));
    loop.advance(30);
    // Releasing sends and reports nothing, and the completion is simply dropped.
    EXPECT_EQ(calls, 0);
    EXPECT_TRUE(recorder.events.empty());
    EXPECT_EQ(broker.received.size(), 2u);
}

} // namespace
} // namespace kestrix::client::test
