// The connection on virtual time against a broker stand-in on a real socket: the connect loop's
// attempts, launches and the one `unavailable`; hello, every broker message, the holding release,
// the close handler and the requests the owner makes.

#include "KestrixClient/KestrixConnection.h"
#include "KestrixProtocol/UnixSocket.h"
#include "KestrixProtocol/VirtualMainLoop.h"
#include "TempFolder.h"

#include <fcntl.h>
#include <fstream>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace kestrix::client::test {
namespace {

using testsupport::TempFolder;
using Event = KestrixConnection::Event;
using Launcher = KestrixConnection::Launcher;

// Listens on the place's socket, served by the test's own loop; accepts only when told to.
struct FakeBroker {
    using Peer = LineConnection<BrokerMessage, ClientMessage>;
    VirtualMainLoop& loop;
    std::string path;
    int listenFD;
    std::shared_ptr<Peer> peer;
    std::vector<ClientMessage> received; // on the current peer
    bool peerClosed = false;

    FakeBroker(VirtualMainLoop& l, const BrokerPlace& place)
        : loop(l)
        , path(place.socket().string())
        , listenFD(UnixSocket::listen(path)) {
        ::fcntl(listenFD, F_SETFL, ::fcntl(listenFD, F_GETFL) | O_NONBLOCK);
    }
    ~FakeBroker() {
        peer.reset();
        stopListening();
    }
    // Accepts a waiting connection, if any, and serves the loop until its hello has arrived.
    bool acceptHello() {
        int fd = ::accept4(listenFD, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0) return false;
        received.clear();
        peerClosed = false;
        peer = Peer::create(loop, fd);
        peer->onMessage = [this](const ClientMessage& message) { received.push_back(message); };
        peer->onClose = [this] { peerClosed = true; };
        peer->start();
        return waitFor(1) && received[0].as<Hello>();
    }
    bool waitFor(std::size_t count) {
        return loop.runUntil([&] { return received.size() >= count; });
    }
    void send(const BrokerMessage& message) { peer->send(message); }
    void dropPeer() {
        if (peer) peer->close();
        peer.reset();
    }
    void stopListening() {
        if (listenFD >= 0) ::close(listenFD), ::unlink(path.c_str());
        listenFD = -1;
    }
};

struct Recorder {
    std::vector<Event> events;
    std::vector<std::set<std::string>> appsCalls;
    std::vector<std::pair<std::vector<std::uint8_t>, std::string>> reports;
    std::vector<std::pair<double, Launcher>> launches; // instead of starting anything

    void attach(KestrixConnection& connection, VirtualMainLoop& loop) {
        connection.onEvent = [this](const Event& event) { events.push_back(event); };
        connection.onAppsWithOwnClient = [this](const auto& apps) { appsCalls.push_back(apps); };
        connection.onReport = [this](const auto& bytes, const std::string& id) {
            reports.emplace_back(bytes, id);
        };
        connection.starter = [this, &loop](const Launcher& launcher) {
            launches.emplace_back(loop.now(), launcher);
            return std::optional<std::string>();
        };
    }
    template <class T> std::size_t count() const {
        return std::size_t(
            std::count_if(events.begin(), events.end(), [](const Event& e) { return e.is<T>(); }));
    }
    std::vector<Event> take() { return std::exchange(events, {}); }
};

SpaceMouseDevice device(std::string id, std::int64_t vendor = 0x256F,
                        std::int64_t product = 0xC635) {
    SpaceMouseDevice d;
    std::tie(d.id, d.vendorID, d.productID, d.name, d.transport, d.state) =
        std::tuple(std::move(id), vendor, product, "SpaceMouse", "USB", "open");
    return d;
}

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

TEST_F(ConnectLoop, retriesATenthApartThenTwoSecondsApartAndSaysUnavailableOncePerStart) {
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
    loop.advance(3600);
    EXPECT_TRUE(recorder.events.empty());
    EXPECT_TRUE(recorder.launches.empty());
    EXPECT_EQ(loop.pendingTimers(), 1u);
    connection->stop();
    loop.advance(2.0);
    EXPECT_EQ(loop.pendingTimers(), 0u);
    // A restart counts its attempts afresh; a dropped connection leaves its timers harmless.
    connection->start();
    loop.advance(4.95);
    EXPECT_EQ(recorder.count<Event::Unavailable>(), 1u);
    connection.reset();
    loop.advance(100);
    EXPECT_EQ(recorder.events.size(), 1u);
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

TEST_F(ConnectLoop, aNewerUsableBrokerOnRecordIsLaunchedInsteadOfTheOwnProgram) {
    struct Row {
        std::int64_t version;
        Launcher own;
        std::vector<Launcher> launched;
    };
    // Which records are usable is the place's own tests' matter.
    const std::string newer = home.path + "/kestrix-16";
    home.write("kestrix-16", "#!/bin/sh\n");
    ::chmod(newer.c_str(), 0755);
    const Launcher own = Launcher::executable(program);
    for (const Row& row : {Row{16, own, {Launcher::executable(newer, {"-r"})}}, Row{15, own, {own}},
                           Row{16, Launcher::none(), {}}}) {
        std::ofstream(place.newest())
            << nlohmann::json(BrokerPlace::Newest{row.version, newer, {"-r"}}).dump();
        recorder.launches.clear();
        auto connection = make(row.own);
        connection->start();
        loop.advance(0.45);
        std::vector<Launcher> launched;
        for (const auto& launch : recorder.launches)
            launched.push_back(launch.second);
        EXPECT_EQ(launched, row.launched) << row.version;
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
    broker.send(BrokerMessage{BrokerMessage::Welcome{15, 2}});
    ASSERT_TRUE(loop.runUntil([&] { return connection->brokerVersion().has_value(); }));
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
        launched.send(BrokerMessage{BrokerMessage::Welcome{15, 2}});
        ASSERT_TRUE(loop.runUntil([&] { return connection->brokerVersion().has_value(); }));
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

// Something on the broker's socket that takes each connection and closes it without a word (a
// broker on its way out, or not a broker at all). It stops listening after `most` of them, so
// that a client that would spin cannot keep the test busy for good.
struct Slammer {
    VirtualMainLoop& loop;
    std::string path;
    int listenFD;
    std::unique_ptr<Watch> watch;
    std::vector<double> accepted; // when, in loop time

    Slammer(VirtualMainLoop& l, const BrokerPlace& place, std::size_t most = 1000)
        : loop(l)
        , path(place.socket().string())
        , listenFD(UnixSocket::listen(path)) {
        ::fcntl(listenFD, F_SETFL, ::fcntl(listenFD, F_GETFL) | O_NONBLOCK);
        watch = loop.watchReadable(listenFD, [this, most] {
            for (int fd; (fd = ::accept4(listenFD, nullptr, nullptr, SOCK_CLOEXEC)) >= 0;) {
                accepted.push_back(loop.now());
                ::close(fd);
            }
            if (accepted.size() >= most) watch.reset();
        });
    }
    ~Slammer() {
        watch.reset();
        ::close(listenFD);
        ::unlink(path.c_str());
    }
};

TEST_F(ConnectLoop, aSocketThatClosesBeforeTheWelcomeIsAFailedAttemptOnTheSameLadder) {
    Slammer slammer(loop, place);
    auto connection = make(Launcher::executable(program));
    connection->start();
    loop.advance(0.95);
    EXPECT_EQ(slammer.accepted.size(), 10u); // at 0.0, 0.1, ... 0.9 s
    loop.advance(8.0);
    // Attempts 1 to 50 a tenth apart (the 50th at 4.9 s), then two seconds apart.
    ASSERT_EQ(slammer.accepted.size(), 52u);
    EXPECT_NEAR(slammer.accepted[49], 4.9, 1e-6);
    EXPECT_NEAR(slammer.accepted[50], 6.9, 1e-6);
    EXPECT_NEAR(slammer.accepted[51], 8.9, 1e-6);
    // The owner heard of no connection, so of no disconnection, and once that Kestrix is not
    // reached; a broker was launched at the fifth failure as for a socket that refuses.
    EXPECT_EQ(recorder.take(), std::vector<Event>{Event::unavailable("Kestrix could not be reached")});
    ASSERT_EQ(recorder.launches.size(), 1u);
    EXPECT_NEAR(recorder.launches[0].first, 0.4, 1e-6);
}

TEST_F(ConnectLoop, aBrokerThatRefusesTheHelloIsReportedOnceAndTriedAtTheSlowPace) {
    FakeBroker broker(loop, place);
    auto connection = make(Launcher::none());
    connection->start();
    std::vector<double> refusedAt;
    for (int i = 0; i < 3; ++i) {
        for (int step = 0; step < 200 && !broker.acceptHello(); ++step)
            loop.advance(0.05);
        ASSERT_FALSE(broker.received.empty());
        refusedAt.push_back(loop.now());
        broker.send(BrokerMessage{BrokerMessage::Refused{"a line longer than 1048576 bytes"}});
        broker.dropPeer();
    }
    EXPECT_NEAR(refusedAt[1] - refusedAt[0], 2.0, 0.051);
    EXPECT_NEAR(refusedAt[2] - refusedAt[1], 2.0, 0.051);
    EXPECT_EQ(recorder.take(), std::vector<Event>{Event::unavailable(
                                   "Kestrix refused the connection: a line longer than 1048576 "
                                   "bytes")});
}

TEST_F(ConnectLoop, aBrokerThatWelcomesAndClosesAtOnceIsFollowedAtTheAttemptsPace) {
    FakeBroker broker(loop, place);
    auto connection = make(Launcher::none());
    connection->start();
    // Each link is welcomed; `lives` says how long it stays before the broker closes it.
    auto serve = [&](double lives) {
        for (int step = 0; step < 400 && !broker.acceptHello(); ++step)
            loop.advance(0.01);
        EXPECT_FALSE(broker.received.empty());
        double at = loop.now();
        broker.send(BrokerMessage{BrokerMessage::Welcome{15, 2}});
        loop.advance(lives);
        broker.dropPeer();
        return at;
    };
    std::vector<double> at;
    for (double lives : {0.0, 0.0, 0.0, 0.0, 1.5, 0.0}) at.push_back(serve(lives));
    // The first short link is followed at once (a hand-over looks like that), the next ones a
    // tenth of a second apart and more; a link that lived is again followed at once.
    EXPECT_NEAR(at[1] - at[0], 0.0, 0.021);
    EXPECT_NEAR(at[2] - at[1], 0.1, 0.021);
    EXPECT_NEAR(at[3] - at[2], 0.1, 0.021);
    EXPECT_NEAR(at[5] - at[4], 1.5, 0.021);
    at.push_back(serve(0.0));
    EXPECT_NEAR(at[6] - at[5], 0.0, 0.021);
}

TEST_F(ConnectLoop, aRestartFromTheRefusalsHandlerRunsOneChainOfAttempts) {
    FakeBroker broker(loop, place);
    auto connection = make(Launcher::none());
    connection->onEvent = [this, raw = connection.get()](const Event& event) {
        recorder.events.push_back(event);
        if (event.is<Event::Unavailable>()) {
            raw->stop();
            raw->start();
        }
    };
    connection->start();
    ASSERT_TRUE(broker.acceptHello());
    broker.send(BrokerMessage{BrokerMessage::Refused{"a line longer than 1048576 bytes"}});
    broker.dropPeer();
    ASSERT_TRUE(loop.runUntil([&] { return recorder.count<Event::Unavailable>() == 1; }));
    // The restart connected anew at once; the refused link schedules nothing of its own.
    ASSERT_TRUE(loop.runUntil([&] { return broker.acceptHello(); }));
    EXPECT_EQ(loop.pendingTimers(), 0u);
}

using smk::SpaceMouseAxes;
using smk::SpaceMouseButtons;
using B = BrokerMessage;

const auto holding = [](bool flag) { return B{B::Holding{flag}}; };
const auto welcome = [](std::int64_t version) { return B{B::Welcome{version, 2}}; };
const auto axes = [](std::string id, SpaceMouseAxes value) { return B{B::Axes{id, value}}; };
const auto buttons = [](std::string id, SpaceMouseButtons held) { return B{B::Buttons{id, held}}; };
DeviceDescription unanswered(std::string device, std::string error) {
    return {std::move(device), {}, {}, {}, std::nullopt, std::move(error)};
}

struct Linked : ConnectLoop {
    FakeBroker broker{loop, place};
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

TEST_F(Linked, saysHelloTellsChangedAppsAndAnOlderBrokerMakesItLaunchOursOutsideTheGuard) {
    EXPECT_EQ(broker.received,
              std::vector<ClientMessage>{ClientMessage{Hello(2, 15, ::getpid(), "Vantor", claim)}});
    deliver({welcome(15), welcome(16), B{B::AppsWithOwnClient{{"b.app", "a.app"}}},
             B{B::AppsWithOwnClient{{"a.app", "b.app", "a.app"}}}, B{B::AppsWithOwnClient{{}}}});
    EXPECT_EQ(recorder.take(), (std::vector<Event>{Event::connected(15), Event::connected(16)}));
    EXPECT_EQ(recorder.appsCalls, (std::vector<std::set<std::string>>{{"a.app", "b.app"}, {}}));
    EXPECT_EQ(connection->brokerVersion(), 16);
    EXPECT_TRUE(recorder.launches.empty());
    loop.advance(10);
    deliver({welcome(14)});
    ASSERT_EQ(recorder.launches.size(), 1u);
    EXPECT_EQ(recorder.launches[0].second, Launcher::executable("/bin/true"));
    loop.advance(2.9); // within the launch guard's 3 s
    deliver({welcome(14)});
    EXPECT_EQ(recorder.launches.size(), 1u);
}

TEST_F(Linked, axesAndButtonsCountOnlyWhileHoldingAndAreReleasedWithIt) {
    deliver({axes("serial:A", {5, 0, 0, 0, 0, 0}), buttons("serial:A", SpaceMouseButtons::left),
             B{B::Report{"serial:A", {1, 2, 3}}}});
    EXPECT_TRUE(recorder.take().empty());
    SpaceMouseDevice pro = device("serial:P", 0x046D, 0xC62B); // menu and fit act as the pair
    SpaceMouseDevice compact = device("serial:C");             // left and right
    // Status and hand-over answer requests this client never makes.
    deliver({B{B::Devices{{pro, compact}}}, holding(true), holding(true),
             B{B::Report{"serial:A", {1, 12, 0}}}, B{BrokerStatus{15, 1, std::nullopt, {}, {}}},
             B{B::HandingOver{true}}});
    EXPECT_EQ(recorder.reports, (decltype(recorder.reports){{{1, 12, 0}, "serial:A"}}));
    EXPECT_EQ(recorder.take(), (std::vector<Event>{Event::devices({pro, compact}),
                                                   Event::holding(true), Event::holding(true)}));
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
}

TEST_F(Linked, describeRequestsShareAnAnswerOrGiveUpAfterFiveSeconds) {
    describe("serial:A");
    describe("serial:A");
    describe("serial:B");
    loop.advance(3);
    std::vector<DeviceDescription> later;
    connection->describe("serial:B", [&](const DeviceDescription& d) { later.push_back(d); });
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
    ASSERT_TRUE(loop.runUntil([&] { return later.size() == 1; }));
    loop.advance(10);
    EXPECT_EQ(answers, (std::vector<DeviceDescription>{
                           answer, answer, unanswered("serial:B", "no answer from Kestrix")}));
    EXPECT_EQ(later, std::vector<DeviceDescription>{late});
}

TEST_F(Linked,
       claimAndLEDsGoOutWhileLinkedAndAfterAStopFromTheHandlerOnlyTheNextHelloCarriesTheClaim) {
    SpaceMouseDevice noLED = device("serial:N");
    noLED.hasLED = false;
    deliver({B{B::Devices{{device("serial:B"), noLED, device("serial:A")}}}, holding(true),
             buttons("serial:A", SpaceMouseButtons::right)});
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
    recorder.take();
    // The owner stops on a message read together with another, which is dropped.
    connection->onEvent = [this](const Event& event) {
        recorder.events.push_back(event);
        if (event == Event::holding(true)) connection->stop();
    };
    broker.send(holding(true));
    broker.send(B{B::Devices{}});
    ASSERT_TRUE(loop.runUntil([&] { return broker.peerClosed; }));
    loop.runPending();
    EXPECT_EQ(recorder.take(),
              (std::vector<Event>{Event::holding(true), Event::buttons({}, "serial:A"),
                                  Event::holding(false), Event::disconnected()}));
    EXPECT_EQ(connection->devices().size(), 3u);
    describe("serial:A"); // answered at once
    EXPECT_EQ(answers,
              std::vector<DeviceDescription>{unanswered("serial:A", "Kestrix not reached")});
    Claim last{{}, true, true};
    connection->setClaim(last);
    connection->setLED(true, "serial:A"); // dropped
    loop.advance(30);
    EXPECT_FALSE(broker.acceptHello());
    EXPECT_TRUE(recorder.events.empty());
    connection->start();
    ASSERT_TRUE(broker.acceptHello());
    EXPECT_EQ(broker.received,
              std::vector<ClientMessage>{ClientMessage{Hello(2, 15, ::getpid(), "Vantor", last)}});
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
    // The new attempt came without waiting for any timer.
    EXPECT_TRUE(broker.acceptHello());
}

} // namespace
} // namespace kestrix::client::test
