// The connection against real `kestrix` programs from the build tree: an older broker hands over
// to the one the connection starts, and the connection follows. The brokers read a simulated
// SpaceMouse from a devices file, so axes flow without hardware.

#include "TestSupport.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <signal.h>

namespace kestrix::client::test {
namespace {

// A SpaceMouse Compact that reports x = 100 fifty times a second from half a second after the
// broker starts.
constexpr const char* devicesFile = R"({"devices": [{
    "vendorID": 9583, "productID": 50741, "product": "SpaceMouse Compact", "transport": "USB",
    "serialNumber": "SIM0001", "locationID": 1,
    "reports": [{"at": 0.5, "every": 0.02, "count": 1000000,
                 "bytes": [1, 100, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0]}]}]})";

struct BrokerProcesses : ::testing::Test {
    TempFolder home;
    BrokerPlace place{home.path};
    VirtualMainLoop loop;
    Launcher kestrix = Launcher::bundledIfPresent();
    std::vector<Event> events;
    std::set<std::int32_t> brokers; // every broker process seen, killed at the end

    void SetUp() override {
        ASSERT_FALSE(kestrix.isNone()) << "the kestrix program is not built beside this test";
        home.write("devices.json", devicesFile);
        // Inherited by every broker this process starts.
        ::setenv("KESTRIX_HOME", home.path.c_str(), 1);
        ::setenv("KESTRIX_DEVICES", ("sim:" + home.path + "/devices.json").c_str(), 1);
        ::setenv("XDG_CONFIG_HOME", home.path.c_str(), 1); // the broker's settings file
        for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
            ::unsetenv(name);
    }
    void TearDown() override {
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

    // The running broker's status, asked as a listener; remembers its process.
    std::optional<BrokerStatus> status() {
        std::optional<int> fd = UnixSocket::connect(place.socket().string());
        if (!fd) return std::nullopt;
        auto link = LineConnection<ClientMessage, BrokerMessage>::create(loop, *fd);
        std::optional<BrokerStatus> answer;
        link->onMessage = [&](const BrokerMessage& message) {
            if (const auto* status = message.as<BrokerStatus>()) answer = *status;
        };
        link->start();
        link->send(ClientMessage{Hello(2, 15, ::getpid(), "status probe")});
        link->send(ClientMessage{ClientMessage::Status{}});
        loop.runUntil([&] { return answer.has_value() || link->isClosed(); });
        link->close();
        if (answer) brokers.insert(answer->processID);
        return answer;
    }
};

TEST_F(BrokerProcesses, anOlderBrokerHandsOverToTheOneTheConnectionStarts) {
    ::setenv("KESTRIX_TEST_VERSION", "14", 1);
    startLauncher(kestrix);
    ::unsetenv("KESTRIX_TEST_VERSION");
    ASSERT_TRUE(pump([&] { return status().has_value(); }));
    const std::int32_t older = status()->processID;

    auto connection =
        KestrixConnection::create(loop, "Vantor", Claim{{}, true}, kestrix, place, 15);
    connection->onEvent = [this](const Event& event) { events.push_back(event); };
    connection->start();
    // The welcome of version 14 makes the connection start its own broker, whose election asks
    // the old one to hand over; the link drops and the connection finds the new broker.
    ASSERT_TRUE(pump([&] { return connection->brokerVersion() == 15 && connection->holds(); }));
    ASSERT_TRUE(pump([&] { return events.back().is<Event::Axes>(); }));
    std::vector<Event> connects;
    for (const Event& event : events)
        if (event.is<Event::Connected>() || event.is<Event::Disconnected>())
            connects.push_back(event);
    EXPECT_EQ(connects, (std::vector<Event>{Event::connected(14), Event::disconnected(),
                                            Event::connected(15)}));
    EXPECT_EQ(events.back(), Event::axes({100, 0, 0, 0, 0, 0}, connection->devices().at(0).id));
    std::optional<BrokerStatus> newer = status();
    ASSERT_TRUE(newer.has_value());
    EXPECT_EQ(newer->version, 15);
    EXPECT_NE(newer->processID, older);
    ASSERT_EQ(newer->clients.size(), 1u);
    EXPECT_EQ(newer->clients[0].processID, ::getpid());
    EXPECT_TRUE(newer->clients[0].holds);
}

} // namespace
} // namespace kestrix::client::test
