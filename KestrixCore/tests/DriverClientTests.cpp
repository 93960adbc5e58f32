#include "KestrixCore/DriverClient.h"
#include "KestrixProtocol/VirtualMainLoop.h"

#include <array>
#include <cstdlib>
#include <gtest/gtest.h>
#include <string>
#include <thread>
#include <unistd.h>
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
    ConnexionAPI::DeviceHandler added = nullptr;
    ConnexionAPI::DeviceHandler removed = nullptr;
    std::uint32_t signature = 0;
    std::vector<std::uint8_t> name;
    std::uint16_t mode = 0;
    std::uint32_t mask = 0;
};

FakeLibrary fake;

std::int16_t fakeSetHandlers(ConnexionAPI::MessageHandler message,
                             ConnexionAPI::DeviceHandler added, ConnexionAPI::DeviceHandler removed,
                             std::uint8_t separate) {
    fake.calls.push_back("setHandlers " + std::to_string(separate));
    fake.message = message;
    fake.added = added;
    fake.removed = removed;
    return fake.setHandlersResult;
}

std::uint16_t fakeRegister(std::uint32_t signature, const std::uint8_t* name, std::uint16_t mode,
                           std::uint32_t mask) {
    fake.calls.push_back("register");
    fake.signature = signature;
    fake.name.assign(name, name + 1 + name[0]);
    fake.mode = mode;
    fake.mask = mask;
    return fake.registerResult;
}

void fakeUnregister(std::uint16_t id) {
    fake.calls.push_back("unregister " + std::to_string(id));
}

void fakeCleanup() {
    fake.calls.push_back("cleanup");
}

void fakeSetButtonMask(std::uint16_t id, std::uint32_t mask) {
    fake.calls.push_back("buttonMask " + std::to_string(id) + " " + std::to_string(mask));
}

std::int16_t fakeControl(std::uint16_t id, std::uint32_t code, std::int32_t parameter,
                         std::int32_t* result) {
    const char text[5] = {char(code >> 24), char(code >> 16), char(code >> 8), char(code), 0};
    fake.calls.push_back("control " + std::to_string(id) + " " + text + " " +
                         std::to_string(parameter) + (result ? "" : " no result word"));
    return fake.controlResult;
}

ConnexionAPI fakeAPI() {
    return {fakeSetHandlers, fakeRegister,      fakeUnregister,
            fakeCleanup,     fakeSetButtonMask, fakeControl};
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
        loop.advance(1.0);
        ASSERT_EQ(client.clientID(), 5);
        ASSERT_TRUE(client.active());
    }

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
    client.start();
    client.start(); // already scheduled: no second attempt
    loop.advance(0.999);
    EXPECT_TRUE(loads.empty());
    EXPECT_TRUE(client.starting());
    loop.advance(0.001);
    ASSERT_EQ(loads, std::vector<std::string>{"/test/libkestrix-driver.so"});
    EXPECT_EQ(fake.calls,
              (std::vector<std::string>{"setHandlers 0", "register", "buttonMask 5 4294967295"}));
    EXPECT_EQ(fake.signature, 0x2B2B2B2Bu);
    EXPECT_EQ(fake.name, (std::vector<std::uint8_t>{7, 'K', 'e', 's', 't', 'r', 'i', 'x'}));
    EXPECT_EQ(fake.mode, 1);
    EXPECT_EQ(fake.mask, 0x3FFFu);
    EXPECT_EQ(lines, std::vector<std::string>{"driver: registered as manual client 5"});
    EXPECT_EQ(changes, 1);
    EXPECT_TRUE(client.api());
    EXPECT_EQ(client.clientID(), 5);
    EXPECT_FALSE(client.starting());
    EXPECT_FALSE(client.active()); // nobody wants it yet
    client.start();                // loaded: nothing
    loop.advance(10);
    EXPECT_EQ(loads.size(), 1u);
}

TEST_F(DriverClientTest, failuresRetryAlongTheLadderAndLogPowersOfTwo) {
    loadError = "driver library not loadable: no such file";
    client.start();
    loop.advance(3000);
    // Attempts at 1, then 2, 5, 10, 30, 60, 120, 300, 600 and 1800 s apart.
    EXPECT_EQ(loadTimes, (std::vector<double>{1, 3, 8, 18, 48, 108, 228, 528, 1128, 2928}));
    const std::string r = "driver: driver library not loadable: no such file";
    EXPECT_EQ(lines, (std::vector<std::string>{
                         r + "; trying again in 2 s",
                         r + ", failed 2 times; trying again in 5 s",
                         r + ", failed 4 times; trying again in 30 s",
                         r + ", failed 8 times; trying again in 10 min",
                     }));
    EXPECT_EQ(changes, 10);
    EXPECT_EQ(client.retry().failures, 10);
    EXPECT_EQ(client.retry().lastReason, std::string("driver library not loadable: no such file"));
    EXPECT_FALSE(client.api());

    loadError.reset();
    loop.advance(1800);
    EXPECT_EQ(lines.back(), "driver: registered as manual client 5 after 10 failed attempts");
    EXPECT_EQ(client.retry(), kestrix::core::DriverRetry());
}

TEST_F(DriverClientTest, aFailingInstallOfHandlersReleasesTheLibrary) {
    fake.setHandlersResult = -7;
    client.start();
    loop.advance(1);
    EXPECT_EQ(fake.calls, (std::vector<std::string>{"setHandlers 0", "cleanup"}));
    EXPECT_EQ(lines, std::vector<std::string>{
                         "driver: SetConnexionHandlers returned -7; trying again in 2 s"});
    EXPECT_FALSE(client.api());
    EXPECT_EQ(changes, 1);
}

TEST_F(DriverClientTest, noClientIDReleasesTheLibraryAndRetries) {
    fake.registerResult = 0;
    client.start();
    loop.advance(1);
    EXPECT_EQ(fake.calls, (std::vector<std::string>{"setHandlers 0", "register", "cleanup"}));
    EXPECT_EQ(lines, std::vector<std::string>{"driver: RegisterConnexionClient returned no client "
                                              "ID; trying again in 2 s"});
    EXPECT_FALSE(client.api());
    EXPECT_EQ(client.clientID(), 0);
    fake.registerResult = 9;
    loop.advance(2);
    EXPECT_EQ(client.clientID(), 9);
    EXPECT_EQ(lines.back(), "driver: registered as manual client 9 after 1 failed attempts");
}

TEST_F(DriverClientTest, wantingTwelveSecondsAfterAFailureRegistersAtOnce) {
    loadError = "driver library not loadable: x";
    client.start();
    loop.advance(18); // failures at 1, 3, 8 and 18; the next is due at 48
    ASSERT_EQ(client.retry().failures, 4);
    loadError.reset();
    loop.advance(12);
    client.want(true);
    loop.advance(0);
    EXPECT_EQ(loadTimes.back(), 30);
    EXPECT_EQ(client.clientID(), 5);
    EXPECT_TRUE(client.active());
    // The back-off's attempt, when its time comes, finds itself replaced.
    loop.advance(30);
    EXPECT_EQ(loads.size(), 5u);
}

TEST_F(DriverClientTest, wantingFiveSecondsAfterAFailureWaitsForTheBackOff) {
    loadError = "driver library not loadable: x";
    client.start();
    loop.advance(18);
    loadError.reset();
    loop.advance(5);
    client.want(true);
    loop.advance(0);
    EXPECT_EQ(loads.size(), 4u);
    EXPECT_EQ(client.clientID(), 0);
    EXPECT_TRUE(client.wanted());
    loop.advance(25); // 48 s: the back-off's attempt
    EXPECT_EQ(loadTimes.back(), 48);
    EXPECT_TRUE(client.active());
}

TEST_F(DriverClientTest, wantingExactlyTenSecondsAfterAFailureCounts) {
    loadError = "driver library not loadable: x";
    client.start();
    loop.advance(18);
    loadError.reset();
    loop.advance(9.5);
    client.want(true);
    loop.advance(0);
    EXPECT_EQ(loads.size(), 4u);
    loop.advance(0.5);
    client.want(true);
    loop.advance(0);
    EXPECT_EQ(loads.size(), 5u);
    EXPECT_TRUE(client.active());
}

TEST_F(DriverClientTest, unwantedBeforeRegisteringStaysDeactivated) {
    client.want(true);
    client.want(false);
    EXPECT_FALSE(client.wanted());
    EXPECT_FALSE(client.active());
    EXPECT_TRUE(lines.empty());
    client.start();
    loop.advance(1);
    EXPECT_EQ(client.clientID(), 5);
    EXPECT_FALSE(client.active());
    for (const auto& call : fake.calls)
        EXPECT_EQ(call.rfind("control", 0), std::string::npos) << call;
}

TEST_F(DriverClientTest, activationFollowsTheWant) {
    registerActive();
    EXPECT_EQ(fake.calls.back(), "control 5 3dac 0");
    EXPECT_EQ(lines.back(), "driver: activated");
    client.want(true); // no change: no call
    EXPECT_EQ(fake.calls.back(), "control 5 3dac 0");
    client.want(false);
    EXPECT_EQ(fake.calls.back(), "control 5 3ddc 0");
    EXPECT_EQ(lines.back(), "driver: deactivated");
}

TEST_F(DriverClientTest, aFailingControlIsLoggedWithItsCode) {
    fake.controlResult = -3;
    registerActive();
    EXPECT_EQ(lines, (std::vector<std::string>{"driver: registered as manual client 5",
                                               "driver: control 0x33646163 returned -3",
                                               "driver: activated"}));
}

TEST_F(DriverClientTest, stopUnregistersAfterDeactivating) {
    registerActive();
    fake.calls.clear();
    const int before = changes;
    client.stop();
    EXPECT_EQ(fake.calls,
              (std::vector<std::string>{"control 5 3ddc 0", "unregister 5", "cleanup"}));
    EXPECT_EQ(lines.back(), "driver: unregistered");
    EXPECT_FALSE(client.api());
    EXPECT_EQ(client.clientID(), 0);
    EXPECT_FALSE(client.active());
    EXPECT_TRUE(client.wanted());
    EXPECT_EQ(changes, before + 1);
    // stop() then start() makes a new registration, activated as still wanted.
    client.start();
    loop.advance(1);
    EXPECT_EQ(client.clientID(), 5);
    EXPECT_TRUE(client.active());
}

TEST_F(DriverClientTest, stopVoidsAScheduledAttempt) {
    client.start();
    loop.advance(0.5);
    const auto generation = client.scheduled();
    client.stop();
    EXPECT_GT(client.scheduled(), generation);
    EXPECT_FALSE(client.starting());
    EXPECT_EQ(changes, 1);
    EXPECT_TRUE(lines.empty()); // nothing was loaded
    loop.advance(100);
    EXPECT_TRUE(loads.empty());
}

TEST_F(DriverClientTest, stopResetsTheRetryState) {
    loadError = "driver library not loadable: x";
    client.start();
    loop.advance(3);
    ASSERT_EQ(client.retry().failures, 2);
    client.stop();
    EXPECT_EQ(client.retry(), kestrix::core::DriverRetry());
    loop.advance(100);
    EXPECT_EQ(loads.size(), 2u);
}

TEST_F(DriverClientTest, aSecondClientInTheProcessFailsAndRetriesByTheBackOff) {
    registerActive();
    DriverClient second(loop);
    std::vector<std::string> secondLines;
    attach(second);
    second.log = [&](const std::string& line) { secondLines.push_back(line); };
    second.start();
    loop.advance(1);
    EXPECT_EQ(secondLines, std::vector<std::string>{
                               "driver: another client in this process; trying again in 2 s"});
    EXPECT_EQ(loads.size(), 1u); // the second never loaded the library
    loop.advance(2);
    EXPECT_EQ(second.retry().failures, 2);
    EXPECT_EQ(secondLines.back(),
              "driver: another client in this process, failed 2 times; trying again in 5 s");

    client.stop();
    loop.advance(5);
    EXPECT_EQ(second.clientID(), 5);
    EXPECT_EQ(secondLines.back(), "driver: registered as manual client 5 after 2 failed attempts");
    // Records now go to the second client.
    second.want(true);
    deliver(record(5, 3, {1, 2, 3, 4, 5, 6}));
    EXPECT_EQ(axes.size(), 1u);
}

TEST_F(DriverClientTest, stateRecordsBecomeAxesAndButtons) {
    registerActive();
    deliver(record(5, 3, {10, -20, 30, -40, 50, -32768}));
    ASSERT_EQ(axes.size(), 1u);
    EXPECT_EQ(axes[0], (smk::SpaceMouseAxes{10, -20, 30, -40, 50, -32768}));
    deliver(record(5, 2, {}, 0x80000003));
    EXPECT_EQ(buttons, std::vector<std::uint32_t>{0x80000003});
    deliver(record(5, 4, {1, 1, 1, 1, 1, 1}, 1)); // another command: nothing
    EXPECT_EQ(axes.size(), 1u);
    EXPECT_EQ(buttons.size(), 1u);
}

TEST_F(DriverClientTest, recordsForAnotherClientAreIgnoredAndClientZeroIsTaken) {
    registerActive();
    deliver(record(6, 3, {1, 0, 0, 0, 0, 0}));
    EXPECT_TRUE(axes.empty());
    deliver(record(0, 3, {2, 0, 0, 0, 0, 0}));
    ASSERT_EQ(axes.size(), 1u);
    EXPECT_EQ(axes[0].x, 2);
}

TEST_F(DriverClientTest, recordsAreIgnoredWhileInactive) {
    client.start();
    loop.advance(1);
    deliver(record(5, 3, {1, 0, 0, 0, 0, 0}));
    EXPECT_TRUE(axes.empty());
    client.want(true);
    deliver(record(5, 3, {1, 0, 0, 0, 0, 0}));
    EXPECT_EQ(axes.size(), 1u);
}

TEST_F(DriverClientTest, otherMessagesAndEmptyArgumentsAreIgnored) {
    registerActive();
    auto bytes = record(5, 3, {1, 0, 0, 0, 0, 0});
    fake.message(0, kestrix::core::fourCharCode("3dXX"), bytes.data());
    fake.message(0, ConnexionAPI::deviceStateMessage, nullptr);
    EXPECT_EQ(loop.pendingPosts(), 0u);
    loop.runPending();
    EXPECT_TRUE(axes.empty());
}

TEST_F(DriverClientTest, recordsFromAnotherThreadHopToTheLoop) {
    registerActive();
    auto bytes = record(5, 3, {7, 0, 0, 0, 0, 0});
    std::thread library([&] { fake.message(0, ConnexionAPI::deviceStateMessage, bytes.data()); });
    library.join();
    EXPECT_TRUE(axes.empty()); // not before the loop runs
    ASSERT_TRUE(loop.runUntil([&] { return !axes.empty(); }));
    EXPECT_EQ(axes[0].x, 7);
}

TEST_F(DriverClientTest, deviceChangesAreLogged) {
    registerActive();
    fake.added(0x1234);
    fake.removed(7);
    loop.runPending();
    EXPECT_EQ(lines[lines.size() - 2], "driver: device 0x1234 added");
    EXPECT_EQ(lines.back(), "driver: device 0x0007 removed");
}

TEST_F(DriverClientTest, messagesAfterStopFindNoClient) {
    registerActive();
    auto bytes = record(5, 3, {1, 0, 0, 0, 0, 0});
    fake.message(0, ConnexionAPI::deviceStateMessage, bytes.data()); // hop queued
    fake.added(1);
    client.stop();
    fake.message(0, ConnexionAPI::deviceStateMessage, bytes.data()); // after stop
    loop.runPending();
    EXPECT_TRUE(axes.empty());
    EXPECT_EQ(lines.back(), "driver: unregistered");
}

TEST_F(DriverClientTest, destroyingARegisteredClientReleasesTheRegistration) {
    {
        DriverClient other(loop);
        attach(other);
        other.start();
        loop.advance(1);
        ASSERT_EQ(other.clientID(), 5);
        fake.calls.clear();
    }
    EXPECT_EQ(fake.calls, (std::vector<std::string>{"unregister 5", "cleanup"}));
    client.start();
    loop.advance(1);
    EXPECT_EQ(client.clientID(), 5); // no "another client in this process"
}

TEST_F(DriverClientTest, aScheduledAttemptOutlivingItsClientDoesNothing) {
    {
        DriverClient other(loop);
        attach(other);
        other.start();
    }
    loop.advance(5);
    EXPECT_TRUE(loads.empty());
}

TEST(DriverClientLibraryPath, theVariableNamesTheLibraryElseItLiesBesideTheProgram) {
    const char* saved = std::getenv(DriverClient::libraryVariable);
    const std::string savedValue = saved ? saved : "";
    ::setenv(DriverClient::libraryVariable, "/opt/test/libdriver.so", 1);
    EXPECT_EQ(DriverClient::frameworkPath(), "/opt/test/libdriver.so");
    ::setenv(DriverClient::libraryVariable, "", 1);
    std::array<char, 4096> exe{};
    const auto length = ::readlink("/proc/self/exe", exe.data(), exe.size() - 1);
    ASSERT_GT(length, 0);
    std::string folder(exe.data(), std::size_t(length));
    folder.resize(folder.rfind('/'));
    EXPECT_EQ(DriverClient::frameworkPath(), folder + "/libkestrix-driver.so");
    if (saved)
        ::setenv(DriverClient::libraryVariable, savedValue.c_str(), 1);
    else
        ::unsetenv(DriverClient::libraryVariable);
}

TEST(ConnexionAPILoad, aMissingLibraryNamesTheLoadersMessage) {
    try {
        ConnexionAPI::load("/nonexistent/libkestrix-driver.so");
        FAIL() << "loaded";
    } catch (const ConnexionAPI::LoadError& error) {
        EXPECT_EQ(error.description.rfind("driver library not loadable: ", 0), 0u)
            << error.description;
        EXPECT_NE(error.description.find("/nonexistent/libkestrix-driver.so"), std::string::npos);
        EXPECT_STREQ(error.what(), error.description.c_str());
    }
}

TEST(ConnexionAPILoad, aLibraryWithoutTheEntryPointsNamesTheFirstMissingSymbol) {
    try {
        ConnexionAPI::load("libm.so.6");
        FAIL() << "loaded";
    } catch (const ConnexionAPI::LoadError& error) {
        EXPECT_EQ(error.description, "missing symbol SetConnexionHandlers");
    }
}

TEST(ConnexionAPIConstants, codesAreFourCharactersBigEndian) {
    EXPECT_EQ(ConnexionAPI::deviceStateMessage, 0x33645352u);
    EXPECT_EQ(ConnexionAPI::activateControl, 0x33646163u);
    EXPECT_EQ(ConnexionAPI::deactivateControl, 0x33646463u);
    EXPECT_EQ(ConnexionAPI::statusLEDControl, 0x3364736Cu);
    EXPECT_EQ(ConnexionAPI::manualClientSignature, 0x2B2B2B2Bu);
}
