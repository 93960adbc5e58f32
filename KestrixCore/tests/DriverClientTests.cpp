#include "KestrixCore/DriverClient.h"
#include "KestrixProtocol/VirtualMainLoop.h"

#include <array>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <cstdlib>
#include <filesystem>
#include <gtest/gtest.h>
#include <string>
#include <thread>
#include <vector>

using kestrix::VirtualMainLoop;
using kestrix::core::ConnexionAPI;
using kestrix::core::DriverClient;

namespace {

// A driver library of plain functions: what the client called, and what to answer.
struct FakeLibrary {
    std::vector<std::string> calls;
    std::int16_t setHandlersResult = 0;
    std::uint16_t registerResult = 5;
    std::int16_t controlResult = 0;
    ConnexionAPI::MessageHandler message = nullptr;
    ConnexionAPI::DeviceHandler added = nullptr, removed = nullptr;
};

// While held, the LED control waits, as it does on a daemon that does not answer.
struct LEDGate {
    std::mutex mutex;
    std::condition_variable changed;
    bool held = false;
    int waiting = 0;
    void hold() {
        std::lock_guard lock(mutex);
        held = true;
    }
    void release() {
        std::lock_guard lock(mutex);
        held = false;
        changed.notify_all();
    }
    void pass() {
        std::unique_lock lock(mutex);
        ++waiting;
        changed.notify_all();
        changed.wait(lock, [this] { return !held; });
        --waiting;
    }
    bool waitForWaiting() {
        std::unique_lock lock(mutex);
        return changed.wait_for(lock, std::chrono::seconds(5), [this] { return waiting > 0; });
    }
};

LEDGate ledGate, registerGate;

FakeLibrary fake;

std::string codeText(std::uint32_t code) {
    return {char(code >> 24), char(code >> 16), char(code >> 8), char(code)};
}

void called(const std::string& call, auto... numbers) {
    fake.calls.push_back(call);
    ((fake.calls.back() += " " + std::to_string(numbers)), ...);
}

// Signatures and codes are written as text, the name (a Pascal string) as its characters.
ConnexionAPI fakeAPI() {
    ConnexionAPI api;
    api.setHandlers = [](auto message, auto added, auto removed, std::uint8_t separate) {
        called("setHandlers", separate);
        std::tie(fake.message, fake.added, fake.removed) = std::tie(message, added, removed);
        return fake.setHandlersResult;
    };
    api.registerClient = [](std::uint32_t signature, const std::uint8_t* name, std::uint16_t mode,
                            std::uint32_t mask) {
        registerGate.pass();
        called("register " + codeText(signature) + " " +
                   std::string(reinterpret_cast<const char*>(name) + 1, name[0]),
               mode, mask);
        return fake.registerResult;
    };
    api.unregister = [](std::uint16_t id) { called("unregister", id); };
    api.cleanup = [] { called("cleanup"); };
    api.setButtonMask = [](std::uint16_t id, std::uint32_t mask) {
        called("buttonMask", id, mask);
    };
    api.control = [](std::uint16_t id, std::uint32_t code, std::int32_t parameter,
                     std::int32_t* result) {
        if (code == ConnexionAPI::statusLEDControl) ledGate.pass();
        called("control " + std::to_string(id) + " " + codeText(code), parameter);
        if (!result) fake.calls.back() += " no result word";
        return fake.controlResult;
    };
    return api;
}

// A 48-byte device-state record as the driver lays it out.
std::array<std::uint8_t, 48> record(std::uint16_t client, std::uint16_t command,
                                    std::array<std::int16_t, 6> axes = {},
                                    std::uint32_t buttons = 0) {
    std::array<std::uint8_t, 48> bytes{};
    auto put = [&](std::size_t at, std::uint32_t value, int width) {
        for (int i = 0; i < width; ++i)
            bytes[at + i] = std::uint8_t(value >> (8 * i));
    };
    put(2, client, 2);
    put(4, command, 2);
    for (std::size_t i = 0; i < 6; ++i)
        put(30 + 2 * i, std::uint16_t(axes[i]), 2);
    put(44, buttons, 4);
    return bytes;
}

class DriverClientTest : public ::testing::Test {
protected:
    void SetUp() override {
        fake = FakeLibrary();
        attach(client);
    }

    void attach(DriverClient& c) {
        c.loader = [this](const std::string& path) {
            loads.push_back(path);
            loadTimes.push_back(loop.now());
            if (loadError) throw ConnexionAPI::LoadError(*loadError);
            return fakeAPI();
        };
        c.libraryPath = "/test/libkestrix-driver.so";
        c.log = [this](const std::string& line) { lines.push_back(line); };
        c.onChange = [this] { ++changes; };
        c.onAxes = [this](const smk::SpaceMouseAxes& a) { axes.push_back(a); };
        c.onButtons = [this](std::uint32_t bits) { buttons.push_back(bits); };
    }

    void deliver(const std::array<std::uint8_t, 48>& bytes) {
        auto copy = bytes;
        fake.message(0, ConnexionAPI::deviceStateMessage, copy.data());
        copy.fill(0xEE); // the client must have taken its own copy
        loop.runPending();
    }

    // Registered and activated with client id 5.
    void registerActive() {
        client.want(true);
        client.start();
        advance(1.0);
        ASSERT_EQ(client.clientID(), 5);
        ASSERT_TRUE(client.active());
        settle();
    }

    // Advances the loop, then serves it until what the client handed to its own thread (the
    // registration, controls) has answered.
    void advance(double seconds) { advance(seconds, client); }
    void advance(double seconds, DriverClient& c) {
        loop.advance(seconds);
        ASSERT_TRUE(loop.runUntil([&] { return !c.registering() && c.pendingCalls() == 0; }));
    }

    // Serves the loop until the results of the controls handed to the client's thread are back.
    void settle() { ASSERT_TRUE(loop.runUntil([&] { return client.pendingCalls() == 0; })); }

    VirtualMainLoop loop;
    DriverClient client{loop};
    std::optional<std::string> loadError;
    std::vector<std::string> loads;
    std::vector<double> loadTimes;
    std::vector<std::string> lines;
    int changes = 0;
    std::vector<smk::SpaceMouseAxes> axes;
    std::vector<std::uint32_t> buttons;
};

} // namespace

TEST_F(DriverClientTest, registersOneSecondAfterStartAsAManualClient) {
    client.want(true);
    client.want(false); // wanted and unwanted before registering: never activated
    client.start();
    client.start(); // already scheduled: no second attempt
    advance(0.999);
    EXPECT_TRUE(loads.empty());
    EXPECT_TRUE(client.starting());
    advance(0.001);
    ASSERT_EQ(loads, std::vector<std::string>{"/test/libkestrix-driver.so"});
    EXPECT_EQ(fake.calls,
              (std::vector<std::string>{"setHandlers 0", "register ++++ Kestrix 1 16383",
                                        "buttonMask 5 4294967295"}));
    EXPECT_EQ(lines, std::vector<std::string>{"driver: registered as manual client 5"});
    EXPECT_EQ(changes, 1);
    EXPECT_FALSE(client.starting());
    EXPECT_FALSE(client.active()); // nobody wants it yet
    client.start();                // loaded: nothing
    advance(10);
    EXPECT_EQ(loads.size(), 1u);
}

// Each failure releases the library and is retried by the back-off; success clears the count.
TEST_F(DriverClientTest, aFailedLoadInstallOrRegistrationIsRetried) {
    using Calls = std::vector<std::string>;
    const std::string handlers = "setHandlers 0", registration = "register ++++ Kestrix 1 16383";
    const std::string noFile = "driver library not loadable: no such file";
    for (const auto& [load, handlersResult, id, calls, reason] :
         std::vector<std::tuple<std::optional<std::string>, std::int16_t, std::uint16_t, Calls,
                                std::string>>{
             {noFile, 0, 5, {}, noFile},
             {std::nullopt, -7, 5, {handlers, "cleanup"}, "SetConnexionHandlers returned -7"},
             {std::nullopt,
              0,
              0,
              {handlers, registration, "cleanup"},
              "RegisterConnexionClient returned no client ID"}}) {
        DriverClient other(loop);
        attach(other);
        fake = FakeLibrary();
        fake.setHandlersResult = handlersResult;
        fake.registerResult = id;
        loadError = load;
        lines.clear();
        changes = 0;
        other.start();
        advance(1, other);
        EXPECT_EQ(fake.calls, calls);
        EXPECT_EQ(lines, Calls{"driver: " + reason + "; trying again in 2 s"});
        EXPECT_FALSE(other.api());
        EXPECT_EQ(other.clientID(), 0);
        EXPECT_EQ(changes, 1);
        fake.setHandlersResult = 0;
        fake.registerResult = 9;
        loadError.reset();
        advance(1.999, other);
        EXPECT_EQ(other.clientID(), 0);
        advance(0.001, other);
        EXPECT_EQ(other.clientID(), 9);
        EXPECT_EQ(lines.back(), "driver: registered as manual client 9 after 1 failed attempts");
        EXPECT_EQ(other.retry(), kestrix::core::DriverRetry());
    }
}

// Failures at 1, 3, 8 and 18 s put the next attempt at 48 s; wanting the driver at least 10 s
// after the last failure brings it forward.
TEST_F(DriverClientTest, wantingTenSecondsOrMoreAfterAFailureRegistersAtOnce) {
    for (const auto& [age, atOnce] :
         std::vector<std::pair<double, bool>>{{12, true}, {10, true}, {9.5, false}, {5, false}}) {
        DriverClient other(loop);
        attach(other);
        loads.clear();
        loadTimes.clear();
        const double started = loop.now();
        loadError = "driver library not loadable: x";
        other.start();
        advance(18, other);
        ASSERT_EQ(other.retry().failures, 4);
        loadError.reset();
        advance(age, other);
        other.want(true);
        advance(0, other);
        EXPECT_EQ(loads.size(), atOnce ? 5u : 4u) << age;
        EXPECT_EQ(other.active(), atOnce) << age;
        // Either way one more attempt by 48 s: the back-off's finds itself replaced.
        advance(started + 50 - loop.now(), other);
        EXPECT_EQ(loads.size(), 5u) << age;
        EXPECT_EQ(loadTimes.back() - started, atOnce ? 18 + age : 48) << age;
        EXPECT_TRUE(other.active()) << age;
    }
}

TEST_F(DriverClientTest, activationFollowsTheWantFailingControlsAreLoggedStopUnregisters) {
    registerActive();
    EXPECT_EQ(fake.calls.back(), "control 5 3dac 0");
    EXPECT_EQ(lines.back(), "driver: activated");
    client.want(true); // no change: no call
    EXPECT_EQ(client.pendingCalls(), 0);
    EXPECT_EQ(fake.calls.back(), "control 5 3dac 0");
    fake.controlResult = -3;
    client.want(false);
    settle();
    EXPECT_EQ(fake.calls.back(), "control 5 3ddc 0");
    EXPECT_EQ(lines, (std::vector<std::string>{
                         "driver: registered as manual client 5", "driver: activated",
                         "driver: deactivated", "driver: control 0x33646463 returned -3"}));
    // Stopping deactivates, then unregisters.
    fake.controlResult = 0;
    client.want(true);
    settle();
    fake.calls.clear();
    const int before = changes;
    client.stop();
    EXPECT_EQ(fake.calls,
              (std::vector<std::string>{"control 5 3ddc 0", "unregister 5", "cleanup"}));
    EXPECT_EQ(lines.back(), "driver: unregistered");
    EXPECT_EQ(client.clientID(), 0);
    EXPECT_FALSE(client.active());
    EXPECT_EQ(changes, before + 1);
    // stop() then start() makes a new registration, activated as still wanted.
    client.start();
    advance(1);
    EXPECT_EQ(client.clientID(), 5);
    EXPECT_TRUE(client.active());
}

TEST_F(DriverClientTest, stopVoidsAScheduledAttemptAndTheRetryState) {
    client.start();
    advance(0.5);
    client.stop();
    EXPECT_FALSE(client.starting());
    EXPECT_EQ(changes, 1);
    EXPECT_TRUE(lines.empty()); // nothing was loaded
    advance(100);
    EXPECT_TRUE(loads.empty());

    loadError = "driver library not loadable: x";
    client.start();
    advance(3);
    ASSERT_EQ(client.retry().failures, 2);
    client.stop();
    EXPECT_EQ(client.retry(), kestrix::core::DriverRetry());
    advance(100);
    EXPECT_EQ(loads.size(), 2u);
}

TEST_F(DriverClientTest, activeStateRecordsOfThisClientOrClientZeroBecomeAxesButtonsOnTheLoop) {
    client.start();
    advance(1);
    deliver(record(5, 3, {1, 0, 0, 0, 0, 0})); // inactive: dropped
    client.want(true);
    deliver(record(5, 3, {10, -20, 30, -40, 50, -32768}));
    deliver(record(5, 2, {}, 0x80000003));
    deliver(record(5, 4, {1, 1, 1, 1, 1, 1}, 1)); // another command: nothing
    deliver(record(6, 3, {1, 0, 0, 0, 0, 0}));    // another client
    deliver(record(0, 3, {2, 0, 0, 0, 0, 0}));
    auto bytes = record(5, 3, {3, 0, 0, 0, 0, 0});
    fake.message(0, kestrix::core::fourCharCode("3dXX"), bytes.data());
    fake.message(0, ConnexionAPI::deviceStateMessage, nullptr);
    EXPECT_EQ(loop.pendingPosts(), 0u);
    EXPECT_EQ(axes, (std::vector<smk::SpaceMouseAxes>{{10, -20, 30, -40, 50, -32768},
                                                      {2, 0, 0, 0, 0, 0}}));
    EXPECT_EQ(buttons, std::vector<std::uint32_t>{0x80000003});
    // From the library's own thread they hop to the loop.
    std::thread library([&] { fake.message(0, ConnexionAPI::deviceStateMessage, bytes.data()); });
    library.join();
    EXPECT_EQ(axes.size(), 2u); // not before the loop runs
    ASSERT_TRUE(loop.runUntil([&] { return axes.size() == 3; }));
    EXPECT_EQ(axes[2].x, 3);
    // Device changes are logged; nothing arrives after stop, not even what was on its way.
    fake.added(0x1234);
    fake.removed(7);
    loop.runPending();
    EXPECT_EQ(lines[lines.size() - 2], "driver: device 0x1234 added");
    EXPECT_EQ(lines.back(), "driver: device 0x0007 removed");
    fake.message(0, ConnexionAPI::deviceStateMessage, bytes.data()); // hop queued
    fake.added(1);
    client.stop();
    fake.message(0, ConnexionAPI::deviceStateMessage, bytes.data());
    loop.runPending();
    EXPECT_EQ(axes.size(), 3u);
    EXPECT_EQ(lines.back(), "driver: unregistered");
}

TEST_F(DriverClientTest, destroyingAClientReleasesItsRegistrationAndVoidsItsAttempt) {
    {
        DriverClient other(loop);
        attach(other);
        other.start();
        advance(1, other);
        ASSERT_EQ(other.clientID(), 5);
        fake.calls.clear();
    }
    EXPECT_EQ(fake.calls, (std::vector<std::string>{"unregister 5", "cleanup"}));
    {
        DriverClient other(loop);
        attach(other);
        other.start();
    }
    advance(5);
    EXPECT_EQ(loads.size(), 1u);
    client.start();
    advance(1);
    EXPECT_EQ(client.clientID(), 5); // no "another client in this process"
}

TEST(DriverClientLibraryPath, theVariableNamesTheLibraryElseItLiesBesideTheProgram) {
    ::setenv(DriverClient::libraryVariable, "/opt/test/libdriver.so", 1);
    EXPECT_EQ(DriverClient::frameworkPath(), "/opt/test/libdriver.so");
    ::setenv(DriverClient::libraryVariable, "", 1);
    EXPECT_EQ(DriverClient::frameworkPath(),
              std::filesystem::read_symlink("/proc/self/exe").parent_path() /
                  "libkestrix-driver.so");
    ::unsetenv(DriverClient::libraryVariable);
}

TEST(ConnexionAPILoad, aMissingLibraryOrEntryPointIsNamed) {
    const auto failure = [](const char* path) {
        try {
            ConnexionAPI::load(path);
        } catch (const ConnexionAPI::LoadError& error) {
            return error.description;
        }
        return std::string("loaded");
    };
    const auto missing = failure("/nonexistent/libkestrix-driver.so");
    EXPECT_EQ(missing.rfind("driver library not loadable: ", 0), 0u) << missing;
    EXPECT_NE(missing.find("/nonexistent/libkestrix-driver.so"), std::string::npos);
    EXPECT_EQ(failure("libm.so.6"), "missing symbol SetConnexionHandlers");
}

TEST_F(DriverClientTest, anLEDRequestThatHangsHoldsUpNeitherTheLoopNorTheOthersAndOnlyTheLastWaits) {
    registerActive();
    fake.calls.clear();
    ledGate.hold();
    client.setLED(true);
    ASSERT_TRUE(ledGate.waitForWaiting());
    // The loop goes on while the request waits; requests meanwhile: only the last follows it.
    client.setLED(false);
    client.setLED(true);
    client.setLED(false);
    loop.advance(1.99);
    EXPECT_EQ(lines.back(), "driver: activated");
    loop.advance(0.01);
    EXPECT_EQ(lines.back(), "driver: control 0x3364736C unanswered after 2 s");
    loop.advance(10);
    EXPECT_EQ(std::count(lines.begin(), lines.end(), lines.back()), 1);
    ledGate.release();
    settle();
    EXPECT_EQ(fake.calls, (std::vector<std::string>{"control 5 3dsl 1", "control 5 3dsl 0"}));
    // Answered: the next request goes out at once.
    client.setLED(true);
    settle();
    EXPECT_EQ(fake.calls.back(), "control 5 3dsl 1");
    EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                            [](const std::string& l) { return l.find("unanswered") != l.npos; }),
              1);
}

TEST_F(DriverClientTest, stoppingWaitsForTheRequestUnderWayThenUnregisters) {
    registerActive();
    fake.calls.clear();
    ledGate.hold();
    client.setLED(true);
    ASSERT_TRUE(ledGate.waitForWaiting());
    std::thread releaser([] { ledGate.release(); });
    client.stop();
    releaser.join();
    EXPECT_EQ(fake.calls, (std::vector<std::string>{"control 5 3dsl 1", "control 5 3ddc 0",
                                                    "unregister 5", "cleanup"}));
}

TEST_F(DriverClientTest, registeringWaitsOffTheLoopAndAStopMeanwhileUndoesIt) {
    registerGate.hold();
    client.start();
    loop.advance(1.0);
    ASSERT_TRUE(registerGate.waitForWaiting());
    EXPECT_TRUE(client.registering());
    EXPECT_TRUE(client.api());
    client.want(true); // remembered for when the registration is done
    client.start();    // under way: nothing
    bool ran = false;
    loop.post([&] { ran = true; });
    loop.runPending();
    EXPECT_TRUE(ran);
    EXPECT_EQ(client.clientID(), 0);
    registerGate.release();
    settle();
    ASSERT_TRUE(loop.runUntil([&] { return !client.registering() && client.pendingCalls() == 0; }));
    EXPECT_EQ(client.clientID(), 5);
    EXPECT_TRUE(client.active());
    EXPECT_EQ(lines, (std::vector<std::string>{"driver: registered as manual client 5",
                                               "driver: activated"}));

    // Stopped while registering: the registration is undone once it is done.
    client.stop();
    fake.calls.clear();
    lines.clear();
    registerGate.hold();
    client.start();
    loop.advance(1.0);
    ASSERT_TRUE(registerGate.waitForWaiting());
    std::thread releaser([] { registerGate.release(); });
    client.stop();
    releaser.join();
    loop.advance(10);
    EXPECT_EQ(fake.calls, (std::vector<std::string>{"setHandlers 0", "register ++++ Kestrix 1 16383",
                                                    "buttonMask 5 4294967295", "unregister 5",
                                                    "cleanup"}));
    EXPECT_EQ(lines, std::vector<std::string>{"driver: unregistered"});
    EXPECT_EQ(client.clientID(), 0);
    EXPECT_FALSE(client.registering());
}
