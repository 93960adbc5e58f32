#pragma once

#include "KestrixCore/Broker.h"
#include "KestrixProtocol/LineConnection.h"
#include "KestrixProtocol/UnixSocket.h"
#include "KestrixProtocol/UserDefaults.h"
#include "KestrixProtocol/VirtualMainLoop.h"
#include "TempFolder.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace brokertest {

using namespace kestrix;
using namespace kestrix::core;
using testsupport::TempFolder;

// The device layer as the broker sees it, with devices given by the test.
class FakeDevices final : public BrokerDevices {
public:
    std::vector<SpaceMouseDevice> devices;
    std::map<std::string, smk::SpaceMouseModel> models;
    std::vector<bool> wants; // every want() call
    bool started = false, stopped = false, holds = false;
    std::optional<std::string> ledError;
    std::vector<std::pair<std::string, bool>> leds;
    std::vector<std::pair<std::string, std::function<void(DeviceDescription)>>> describes;
    std::optional<DriverProblem> problem;

    void start() override { started = true; }
    void stop() override { stopped = true; }
    void want(bool on) override { wants.push_back(on); }
    std::vector<SpaceMouseDevice> list() const override {
        std::vector<SpaceMouseDevice> out = devices;
        for (auto& d : out)
            d.enabled = isEnabled(d.id);
        std::sort(out.begin(), out.end(), [](auto& a, auto& b) { return a.id < b.id; });
        return out;
    }
    std::optional<std::string> setLED(bool on, const std::string& id) override {
        leds.emplace_back(id, on);
        return ledError;
    }
    void describe(const std::string& id, std::function<void(DeviceDescription)> done) override {
        describes.emplace_back(id, std::move(done));
    }
    std::optional<smk::SpaceMouseModel> model(const std::string& id) const override {
        auto it = models.find(id);
        if (it == models.end()) return std::nullopt;
        return it->second;
    }
    void setDriverHolds(bool h) override { holds = h; }
    std::optional<DriverProblem> driverProblem() const override { return problem; }
    void setDriverProblem(std::optional<DriverProblem> p) override { problem = p; }
};

class FakeDriver final : public BrokerDriver {
public:
    int starts = 0, stops = 0;
    std::vector<bool> wants;
    std::uint16_t id = 0;
    std::int64_t failed = 0;
    std::optional<std::string> reason;
    std::vector<bool> leds;

    void start() override { ++starts; }
    void stop() override { ++stops; }
    void want(bool on) override { wants.push_back(on); }
    std::uint16_t clientID() const override { return id; }
    std::int64_t failures() const override { return failed; }
    std::optional<std::string> lastReason() const override { return reason; }
    bool registered() const override { return id != 0; }
    void setLED(bool on) override { leds.push_back(on); }
};

// A protocol client over a real socket, served by the same virtual loop.
struct TestClient {
    std::shared_ptr<LineConnection<ClientMessage, BrokerMessage>> connection;
    std::vector<BrokerMessage> got;
    bool closed = false;

    template <class T> std::vector<T> all() const {
        std::vector<T> out;
        for (const auto& m : got)
            if (auto* v = m.as<T>()) out.push_back(*v);
        return out;
    }
    template <class T> int count() const { return static_cast<int>(all<T>().size()); }
    void send(const ClientMessage& m) { connection->send(m); }
};

inline SpaceMouseDevice device(const std::string& id) {
    SpaceMouseDevice d;
    d.id = id;
    return d;
}

inline Hello hello(const std::string& name, std::optional<Claim> claim, std::int32_t pid = 4242,
                   std::int64_t protocol = 2) {
    return Hello{protocol, 15, pid, name, std::move(claim)};
}

inline Claim background() {
    return Claim{{}, true, std::nullopt, std::nullopt};
}
inline Claim front(std::vector<std::string> apps) {
    return Claim{std::move(apps), false, std::nullopt, std::nullopt};
}

class BrokerTest : public ::testing::Test {
protected:
    TempFolder folder;
    VirtualMainLoop loop{100.0};
    UserDefaults settings{folder.path + "/kestrix.json"};
    FakeDevices* devices = nullptr;
    FakeDriver* driver = nullptr;
    SimulatedDriverWatch* watch = nullptr;
    SimulatedFrontApp* frontApp = nullptr;
    std::unique_ptr<Broker> broker;
    std::vector<std::string> lines;
    int leaves = 0;
    std::chrono::system_clock::time_point wall =
        std::chrono::system_clock::from_time_t(1'800'000'000);

    BrokerPlace place() const { return BrokerPlace(folder.path + "/home"); }

    // Past the settle window, so that claims are arbitrated as they come.
    void makeSettled() {
        make();
        loop.advance(1.0);
    }

    void make(bool usesDevices = true, bool startNow = true) {
        Broker::Parts parts;
        parts.devices = std::make_unique<FakeDevices>();
        parts.driver = std::make_unique<FakeDriver>();
        parts.driverWatch = std::make_unique<SimulatedDriverWatch>();
        parts.frontApp = std::make_unique<SimulatedFrontApp>();
        devices = static_cast<FakeDevices*>(parts.devices.get());
        driver = static_cast<FakeDriver*>(parts.driver.get());
        watch = static_cast<SimulatedDriverWatch*>(parts.driverWatch.get());
        frontApp = static_cast<SimulatedFrontApp*>(parts.frontApp.get());
        parts.wallClock = [this] {
            return wall + std::chrono::duration_cast<std::chrono::system_clock::duration>(
                              std::chrono::duration<double>(loop.now() - 100.0));
        };
        broker = std::make_unique<Broker>(loop, 15, place(), 10.0, usesDevices, settings,
                                          BrokerPlace::Newest{15, "/usr/libexec/kestrix", {}},
                                          nullptr, std::move(parts));
        broker->log = [this](const std::string& line) { lines.push_back(line); };
        broker->onLeave = [this] { ++leaves; };
        if (startNow) broker->start(-1);
    }

    std::unique_ptr<TestClient> connect() {
        auto client = std::make_unique<TestClient>();
        auto fd = UnixSocket::connect(place().socket().string());
        EXPECT_TRUE(fd);
        if (!fd) return client;
        client->connection = LineConnection<ClientMessage, BrokerMessage>::create(loop, *fd);
        TestClient* raw = client.get();
        client->connection->onMessage = [raw](const BrokerMessage& m) { raw->got.push_back(m); };
        client->connection->onClose = [raw] { raw->closed = true; };
        client->connection->start();
        loop.runPending(); // the broker accepts
        return client;
    }

    // Serves the sockets until the client has n messages of type T.
    template <class T> bool waitFor(TestClient& client, int n = 1) {
        return loop.runUntil([&] { return client.count<T>() >= n; }, 5.0);
    }
    // Lets every message in flight arrive (both directions, a few rounds).
    void settleSockets() {
        for (int i = 0; i < 5; ++i)
            loop.runPending();
    }
    bool logged(const std::string& line) const {
        return std::find(lines.begin(), lines.end(), line) != lines.end();
    }
    std::unique_ptr<TestClient> claimant(const std::string& name, std::optional<Claim> claim,
                                         std::int32_t pid = 4242, std::int64_t protocol = 2) {
        auto c = connect();
        c->send(ClientMessage{hello(name, std::move(claim), pid, protocol)});
        waitFor<BrokerMessage::AppsWithOwnClient>(*c);
        return c;
    }
};

} // namespace brokertest
