// The connection against real `kestrix` processes from the build tree: a broker it starts
// itself and starts again after it was killed in the middle of a stream of axes, and an older
// broker that hands over to the newer one the connection starts. The broker reads a simulated
// SpaceMouse from a devices file, so axes flow without hardware.

#include "KestrixProtocol/LineCoding.h"
#include "KestrixProtocol/UnixSocket.h"
#include "TestSupport.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <set>
#include <signal.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

namespace kestrix::client::test {
namespace {

// Asks the broker at `place` for its status over a connection of its own, as a listener.
std::optional<BrokerStatus> askStatus(const BrokerPlace& place) {
    std::optional<int> fd = UnixSocket::connect(place.socket().string());
    if (!fd) return std::nullopt;
    timeval wait{2, 0};
    ::setsockopt(*fd, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
    std::string question =
        LineEncoder::encode(ClientMessage{Hello{2, 15, ::getpid(), "status probe", std::nullopt}}) +
        LineEncoder::encode(ClientMessage{ClientMessage::Status{}});
    ::send(*fd, question.data(), question.size(), MSG_NOSIGNAL);
    LineDecoder<BrokerMessage> decoder;
    char buffer[65536];
    std::optional<BrokerStatus> status;
    while (!status) {
        ssize_t n = ::read(*fd, buffer, sizeof buffer);
        if (n <= 0) break;
        for (const BrokerMessage& message : decoder.feed(std::string_view(buffer, std::size_t(n))))
            if (const auto* answer = message.as<BrokerStatus>()) status = *answer;
    }
    ::close(*fd);
    return status;
}

// A SpaceMouse Compact that reports x = 100 fifty times a second (one report with all six
// axes), from half a second after the broker starts.
constexpr const char* devicesFile = R"({"devices": [{
    "vendorID": 9583, "productID": 50741, "product": "SpaceMouse Compact", "transport": "USB",
    "serialNumber": "SIM0001", "locationID": 1,
    "reports": [{"at": 0.5, "every": 0.02, "count": 1000000,
                 "bytes": [1, 100, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0]}]
}]})";

struct BrokerProcesses : ::testing::Test {
    TempFolder home;
    BrokerPlace place{home.path};
    VirtualMainLoop loop;
    Launcher kestrix = Launcher::bundledIfPresent();
    std::vector<Event> events;
    std::set<std::int32_t> brokers; // every broker process seen, killed at the end
    std::shared_ptr<KestrixConnection> connection;

    void SetUp() override {
        ASSERT_FALSE(kestrix.isNone()) << "the kestrix program is not built beside this test";
        home.write("devices.json", devicesFile);
        // Inherited by every broker this process starts.
        ::setenv("KESTRIX_HOME", home.path.c_str(), 1);
        ::setenv("KESTRIX_DEVICES", ("sim:" + home.path + "/devices.json").c_str(), 1);
        ::setenv("XDG_CONFIG_HOME", home.path.c_str(), 1); // the broker's settings file
        for (const char* name :
             {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM", "KESTRIX_TEST_VERSION"})
            ::unsetenv(name);
    }

    void TearDown() override {
        connection.reset();
        // Brokers would linger for their idle time. Only a process that still runs the broker
        // program: the pid of a broker that has ended may already name another process.
        for (std::int32_t pid : brokers) {
            std::error_code error;
            auto exe =
                std::filesystem::read_symlink("/proc/" + std::to_string(pid) + "/exe", error);
            if (!error && exe == std::get<Launcher::Executable>(kestrix.how).path)
                ::kill(pid, SIGKILL);
        }
    }

    void connect() {
        connection = KestrixConnection::create(loop, "Vantor", Claim{{}, true}, kestrix, place, 15);
        connection->onEvent = [this](const Event& event) { events.push_back(event); };
        connection->start();
    }

    // Serves the loop, letting virtual time pass for the connection's timers, until `done`
    // holds or 20 s have passed.
    bool pump(const std::function<bool()>& done) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (std::chrono::steady_clock::now() < deadline) {
            if (loop.runUntil(done, 0.02)) return true;
            loop.advance(0.1);
        }
        return done();
    }

    // The events from `from` on that `pick` chooses.
    std::size_t count(bool (*pick)(const Event&), std::size_t from = 0) const {
        return std::size_t(std::count_if(events.begin() + long(from), events.end(), pick));
    }
    static bool isConnected(const Event& event) { return event.is<Event::Connected>(); }
    static bool isDisconnected(const Event& event) { return event.is<Event::Disconnected>(); }
    static bool isMovedAxes(const Event& event) {
        const auto* axes = event.as<Event::Axes>();
        return axes && axes->axes.x == 100;
    }

    // The running broker's status, remembering its process.
    std::optional<BrokerStatus> status() {
        std::optional<BrokerStatus> answer = askStatus(place);
        if (answer) brokers.insert(answer->processID);
        return answer;
    }
};

TEST_F(BrokerProcesses, startsTheBrokerAndAfterItWasKilledReleasesAndStartsItAgain) {
    connect();
    ASSERT_TRUE(pump([&] { return count(isMovedAxes) > 0; }));
    std::optional<BrokerStatus> first = status();
    ASSERT_TRUE(first.has_value());
    EXPECT_EQ(first->version, 15);
    ASSERT_EQ(first->clients.size(), 1u);
    EXPECT_EQ(first->clients[0].processID, ::getpid());
    EXPECT_TRUE(first->clients[0].holds);
    EXPECT_EQ(events[0], Event::connected(15));
    ASSERT_EQ(connection->devices().size(), 1u);
    EXPECT_EQ(connection->devices()[0].name, "SpaceMouse Compact");
    const std::string device = connection->devices()[0].id;
    // Launches keep 3 s apart on the connection's clock.
    loop.advance(3.0);

    const std::size_t before = events.size();
    ASSERT_EQ(::kill(first->processID, SIGKILL), 0);
    ASSERT_TRUE(pump([&] { return count(isDisconnected, before) > 0; }));
    std::vector<Event> lost(events.begin() + std::ptrdiff_t(before), events.end());
    // The cap was moved when the broker died: the owner hears it come to rest first.
    ASSERT_GE(lost.size(), 3u);
    EXPECT_EQ(lost[lost.size() - 3], Event::axes(smk::SpaceMouseAxes::zero, device));
    EXPECT_EQ(lost[lost.size() - 2], Event::holding(false));
    EXPECT_EQ(lost[lost.size() - 1], Event::disconnected());
    EXPECT_FALSE(connection->holds());

    // The connection starts a new broker by itself and gets the device back.
    const std::size_t after = events.size();
    ASSERT_TRUE(pump([&] { return count(isMovedAxes, after) > 0; }));
    EXPECT_EQ(count(isConnected, after), 1u);
    std::optional<BrokerStatus> second = status();
    ASSERT_TRUE(second.has_value());
    EXPECT_NE(second->processID, first->processID);
    EXPECT_TRUE(connection->holds());
}

TEST_F(BrokerProcesses, anOlderBrokerHandsOverToTheOneTheConnectionStarts) {
    ::setenv("KESTRIX_TEST_VERSION", "14", 1);
    startLauncher(kestrix);
    ::unsetenv("KESTRIX_TEST_VERSION");
    ASSERT_TRUE(pump([&] { return status().has_value(); }));
    const std::int32_t older = status()->processID;

    connect();
    // The welcome of version 14 makes the connection start its own broker, whose election asks
    // the old one to hand over; the link drops and the connection finds the new broker.
    ASSERT_TRUE(pump([&] { return count(isConnected) >= 2 && count(isMovedAxes) > 0; }));
    EXPECT_EQ(events[0], Event::connected(14));
    std::vector<Event> connects;
    for (const Event& event : events)
        if (isConnected(event) || isDisconnected(event)) connects.push_back(event);
    EXPECT_EQ(connects, (std::vector<Event>{Event::connected(14), Event::disconnected(),
                                            Event::connected(15)}));
    std::optional<BrokerStatus> newer = status();
    ASSERT_TRUE(newer.has_value());
    EXPECT_EQ(newer->version, 15);
    EXPECT_NE(newer->processID, older);
    EXPECT_EQ(connection->brokerVersion(), 15);
    EXPECT_TRUE(connection->holds());
}

} // namespace
} // namespace kestrix::client::test
