// The driver library end to end: loaded with dlopen like the broker loads it, talking to a daemon
// of the test's own that speaks spacenavd's client protocol.
#include "KestrixCore/ConnexionAPI.h"
#include "KestrixCore/DriverClient.h"
#include "KestrixProtocol/VirtualMainLoop.h"
#include "KestrixProtocol/UnixSocket.h"
#include "SpaceMouseKit/ConnexionDeviceState.h"
#include "TempFolder.h"

#include <array>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <gtest/gtest.h>
#include <mutex>
#include <optional>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

using kestrix::core::ConnexionAPI;
using kestrix::core::fourCharCode;

namespace {

constexpr auto patience = std::chrono::seconds(5);

// spacenavd's client protocol, as far as libspnav uses it: after a 4-byte greeting that the
// daemon echoes, requests and answers are eight little-endian 32-bit words (a type tagged with
// 0x7faa0000, six data words, a status), and events are eight words too.
constexpr std::int32_t requestTag = 0x7faa0000;
constexpr std::int32_t setNameRequest = 0x1000; // sent untagged and unanswered
constexpr std::int32_t setEventMaskRequest = requestTag | 0x1003;
constexpr std::int32_t setLEDRequest = requestTag | 0x3012;
constexpr std::int32_t motionEvent = 0, pressEvent = 1, releaseEvent = 2, deviceEvent = 3;

class FakeDaemon {
public:
    struct Seen {
        int greetings = 0; // connections that spoke the protocol
        std::string name;
        std::optional<std::int32_t> eventMask;
        std::vector<std::int32_t> led;
    };

    // A daemon that hangs after the greeting answers no request, but for the LED requests that
    // the test lets through one by one with answerLED().
    explicit FakeDaemon(std::string path, bool hangs = false)
        : hangs_(hangs)
        , path_(std::move(path))
        , listen_(kestrix::UnixSocket::listen(path_))
        , thread_([this] { run(); }) {}
    ~FakeDaemon() {
        {
            std::lock_guard lock(mutex_);
            stopping_ = true;
            ledAnswers_ += 1000;
        }
        changed_.notify_all();
        hangUp();
        ::shutdown(listen_, SHUT_RDWR);
        thread_.join();
        ::close(listen_);
        ::unlink(path_.c_str());
    }

    Seen seen() {
        std::lock_guard lock(mutex_);
        return seen_;
    }
    bool waitFor(const std::function<bool(const Seen&)>& done) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, patience, [&] { return done(seen_); });
    }

    void motion(std::array<std::int32_t, 6> a) {
        send({motionEvent, a[0], a[1], a[2], a[3], a[4], a[5], 16});
    }
    void button(std::int32_t number, bool press) {
        send({press ? pressEvent : releaseEvent, number});
    }
    void device(bool added, std::int32_t id) {
        send({deviceEvent, added ? 0 : 1, id, 0x20F, 0x46D, 0xC62B});
    }
    void answerLED() {
        std::lock_guard lock(mutex_);
        ++ledAnswers_;
        changed_.notify_all();
    }
    // The daemon hangs up on its client, as when it quits.
    void hangUp() {
        std::lock_guard lock(mutex_);
        if (client_ >= 0) ::shutdown(client_, SHUT_RDWR);
    }

private:
    void send(std::array<std::int32_t, 8> words) {
        std::lock_guard lock(mutex_);
        if (client_ >= 0) ::send(client_, words.data(), sizeof words, MSG_NOSIGNAL);
    }

    // One client at a time, read with blocking calls: a greeting that is echoed, then requests.
    void run() {
        for (int fd; (fd = ::accept4(listen_, nullptr, nullptr, SOCK_CLOEXEC)) >= 0;) {
            {
                std::lock_guard lock(mutex_);
                client_ = fd;
                if (stopping_) ::shutdown(fd, SHUT_RDWR);
            }
            std::array<std::int32_t, 8> words;
            bool greeted = ::recv(fd, words.data(), 4, MSG_WAITALL) == 4;
            if (greeted) {
                std::lock_guard lock(mutex_);
                ::send(fd, words.data(), 4, MSG_NOSIGNAL); // protocol version 1
                ++seen_.greetings;
                changed_.notify_all();
            }
            while (greeted && ::recv(fd, words.data(), sizeof words, MSG_WAITALL) == sizeof words) {
                std::unique_lock lock(mutex_);
                if (hangs_) {
                    if (words[0] != setLEDRequest) continue;
                    seen_.led.push_back(words[1]);
                    changed_.notify_all();
                    const std::size_t wanted = seen_.led.size();
                    changed_.wait(lock, [&] { return ledAnswers_ >= wanted; });
                    words[7] = 0;
                    ::send(fd, words.data(), sizeof words, MSG_NOSIGNAL);
                    continue;
                }
                answer(words);
                changed_.notify_all();
            }
            std::lock_guard lock(mutex_);
            ::close(fd);
            client_ = -1;
        }
    }

    // Called with the lock held.
    void answer(std::array<std::int32_t, 8> request) {
        if (request[0] == setNameRequest) {
            const auto length = std::size_t(std::clamp(request[7], 0, 24));
            seen_.name.assign(reinterpret_cast<const char*>(&request[1]), length);
            return;
        }
        std::array<std::int32_t, 8> reply = request;
        reply[7] = 0;
        if (request[0] == setEventMaskRequest)
            seen_.eventMask = request[1];
        else if (request[0] == setLEDRequest)
            seen_.led.push_back(request[1]);
        else
            reply[7] = -1;
        ::send(client_, reply.data(), sizeof reply, MSG_NOSIGNAL);
    }

    const bool hangs_;
    std::size_t ledAnswers_ = 0;
    std::string path_;
    int listen_ = -1;
    std::mutex mutex_;
    std::condition_variable changed_;
    int client_ = -1;
    bool stopping_ = false;
    Seen seen_;
    std::thread thread_;
};

// What the library handed to the handlers, from its own thread.
struct Delivered {
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<smk::ConnexionDeviceState> records;
    std::vector<std::pair<bool, std::uint32_t>> devices;

    bool waitFor(const std::function<bool()>& done) {
        std::unique_lock lock(mutex);
        return changed.wait_for(lock, patience, done);
    }
};

Delivered* delivered = nullptr; // the running test's

void onMessage(std::uint32_t, std::uint32_t type, void* argument) {
    if (type != ConnexionAPI::deviceStateMessage || !argument) return;
    const auto state = smk::ConnexionDeviceState::read(argument, smk::ConnexionDeviceState::size);
    std::lock_guard lock(delivered->mutex);
    delivered->records.push_back(state.value());
    delivered->changed.notify_all();
}

void onDevice(bool added, std::uint32_t id) {
    std::lock_guard lock(delivered->mutex);
    delivered->devices.emplace_back(added, id);
    delivered->changed.notify_all();
}

const std::uint8_t kestrixName[] = {7, 'K', 'e', 's', 't', 'r', 'i', 'x'};

class DriverLibraryTest : public ::testing::Test {
protected:
    void SetUp() override {
        ::setenv("SPNAV_SOCKET", socketPath.c_str(), 1);
        api = ConnexionAPI::load(KESTRIX_TEST_DRIVER_LIBRARY);
        delivered = &received;
        ASSERT_EQ(api.setHandlers(
                      onMessage, [](std::uint32_t id) { onDevice(true, id); },
                      [](std::uint32_t id) { onDevice(false, id); }, 0),
                  0);
    }
    void TearDown() override {
        api.cleanup();
        delivered = nullptr;
        ::unsetenv("SPNAV_SOCKET");
    }

    std::uint16_t registerClient() {
        return api.registerClient(ConnexionAPI::manualClientSignature, kestrixName,
                                  ConnexionAPI::registrationMode, ConnexionAPI::registrationMask);
    }
    std::int16_t control(std::uint16_t id, std::uint32_t code, std::int32_t parameter = 0) {
        std::int32_t result = 99;
        const auto answer = api.control(id, code, parameter, &result);
        EXPECT_EQ(result, 0);
        return answer;
    }
    bool waitForRecords(std::size_t count) {
        return received.waitFor([&] { return received.records.size() >= count; });
    }
    bool waitForDevices(std::size_t count) {
        return received.waitFor([&] { return received.devices.size() >= count; });
    }
    std::vector<smk::ConnexionDeviceState> records() {
        std::lock_guard lock(received.mutex);
        return received.records;
    }

    testsupport::TempFolder temp;
    std::string socketPath = temp.path + "/spnav.sock";
    ConnexionAPI api;
    Delivered received;
};

} // namespace

TEST_F(DriverLibraryTest, motionBecomesAxisRecordsOnlyWhileActiveDeviceEventsAlways) {
    FakeDaemon daemon(socketPath);
    const auto id = registerClient();
    ASSERT_NE(id, 0);
    daemon.motion({9, 9, 9, 9, 9, 9}); // not yet active: dropped
    // Device events always come through; once one has, the motion before it has been handled.
    daemon.device(true, 1);
    ASSERT_TRUE(waitForDevices(1));
    ASSERT_EQ(control(id, ConnexionAPI::activateControl), 0);
    daemon.motion({1, -2, 3, -4, 350, -40000});
    ASSERT_TRUE(waitForRecords(1));
    const auto first = records()[0];
    EXPECT_EQ(first.client, id);
    EXPECT_EQ(first.command, smk::ConnexionDeviceState::handleAxis);
    EXPECT_EQ(first.axes,
              (smk::SpaceMouseAxes{1, -2, 3, -4, 350, -32768})); // held at the 16-bit range

    ASSERT_EQ(control(id, ConnexionAPI::deactivateControl), 0);
    daemon.motion({5, 5, 5, 5, 5, 5});
    daemon.device(true, 2);
    ASSERT_TRUE(waitForDevices(2));
    ASSERT_EQ(control(id, ConnexionAPI::activateControl), 0);
    daemon.motion({6, 0, 0, 0, 0, 40000});
    ASSERT_TRUE(waitForRecords(2));
    const auto all = records();
    EXPECT_EQ(all[1].axes, (smk::SpaceMouseAxes{6, 0, 0, 0, 0, 32767}));
    EXPECT_EQ(all.size(), 2u);
    // Device events call the added and removed handlers.
    daemon.device(false, 2);
    ASSERT_TRUE(waitForDevices(3));
    std::lock_guard lock(received.mutex);
    EXPECT_EQ(received.devices,
              (std::vector<std::pair<bool, std::uint32_t>>{{true, 1}, {true, 2}, {false, 2}}));
}

TEST_F(DriverLibraryTest, buttonsBecomeRecordsOfTheHeldButtonsUnderTheMask) {
    FakeDaemon daemon(socketPath);
    const auto id = registerClient();
    ASSERT_NE(id, 0);
    api.setButtonMask(id, ConnexionAPI::allButtons);
    ASSERT_EQ(control(id, ConnexionAPI::activateControl), 0);
    daemon.button(3, true);
    daemon.button(0, true);
    daemon.button(40, true); // no bit for it: no record
    daemon.button(3, false);
    daemon.button(31, true);
    api.setButtonMask(id, 0x7FFFFFFF);
    ASSERT_TRUE(waitForRecords(4));
    daemon.button(0, false);
    ASSERT_TRUE(waitForRecords(5));
    std::vector<std::uint32_t> bits;
    for (const auto& record : records()) {
        EXPECT_EQ(record.command, smk::ConnexionDeviceState::handleButtons);
        EXPECT_EQ(record.client, id);
        bits.push_back(record.buttonBits);
    }
    // The mask change may land before or after the press of 31 is handled; the release of 0
    // comes after it either way and leaves 31 masked out.
    ASSERT_EQ(bits.size(), 5u);
    EXPECT_EQ(std::vector<std::uint32_t>(bits.begin(), bits.begin() + 3),
              (std::vector<std::uint32_t>{0x8, 0x9, 0x1}));
    EXPECT_TRUE(bits[3] == 0x80000001u || bits[3] == 0x1u) << bits[3];
    EXPECT_EQ(bits[4], 0u);
}

// Registration names the client and asks for motion, button and device events. The LED goes
// through the daemon; unknown codes or clients fail, and so does everything once the daemon has
// gone, until the client registers again.
TEST_F(DriverLibraryTest, registrationTheLEDUnknownControlsAndADaemonThatGoesAway) {
    EXPECT_EQ(registerClient(), 0); // no daemon
    EXPECT_NE(control(1, ConnexionAPI::activateControl), 0);
    FakeDaemon daemon(socketPath);
    const auto id = registerClient();
    ASSERT_NE(id, 0);
    ASSERT_TRUE(daemon.waitFor([](const auto& s) { return s.eventMask.has_value(); }));
    EXPECT_EQ(daemon.seen().name, "Kestrix");
    EXPECT_EQ(*daemon.seen().eventMask, 0x07);
    EXPECT_EQ(registerClient(), 0); // one registration at a time
    EXPECT_EQ(control(id, ConnexionAPI::statusLEDControl, 1), 0);
    EXPECT_EQ(control(id, ConnexionAPI::statusLEDControl, 0), 0);
    EXPECT_EQ(daemon.seen().led, (std::vector<std::int32_t>{1, 0}));
    EXPECT_NE(control(id, fourCharCode("3dxx")), 0);
    EXPECT_NE(control(std::uint16_t(id + 1), ConnexionAPI::activateControl), 0);
    EXPECT_EQ(api.control(id, ConnexionAPI::activateControl, 0, nullptr), 0);
    daemon.motion({1, 0, 0, 0, 0, 0});
    ASSERT_TRUE(waitForRecords(1));
    daemon.hangUp();
    EXPECT_NE(control(id, ConnexionAPI::statusLEDControl, 1), 0);
    EXPECT_NE(control(id, ConnexionAPI::activateControl), 0);
    EXPECT_EQ(daemon.seen().led.size(), 2u);
    api.unregister(id);
    EXPECT_NE(control(id, ConnexionAPI::activateControl), 0);

    const auto again = registerClient();
    ASSERT_NE(again, 0);
    EXPECT_NE(again, id);
    EXPECT_EQ(daemon.seen().greetings, 2);
    ASSERT_EQ(control(again, ConnexionAPI::activateControl), 0);
    daemon.motion({2, 0, 0, 0, 0, 0});
    ASSERT_TRUE(waitForRecords(2));
    EXPECT_EQ(records()[1].axes.x, 2);
    EXPECT_EQ(records()[1].client, again);
}

// A daemon that answers the greeting and then hangs: the broker's loop never waits for it. The
// daemon answers the LED request only after the loop has moved on, which a call made on the loop
// would have waited for in vain (libspnav gives up on an answer after a while).
TEST(DriverClientWithDaemon, anLEDRequestToAHungDaemonWaitsOffTheLoopAndItsAnswerComesBack) {
    testsupport::TempFolder temp;
    const std::string socketPath = temp.path + "/spnav.sock";
    ::setenv("SPNAV_SOCKET", socketPath.c_str(), 1);
    FakeDaemon daemon(socketPath, true);
    kestrix::VirtualMainLoop loop;
    std::vector<std::string> lines;
    {
        kestrix::core::DriverClient client(loop);
        client.libraryPath = KESTRIX_TEST_DRIVER_LIBRARY;
        client.log = [&](const std::string& line) { lines.push_back(line); };
        client.start();
        loop.advance(1.0);
        ASSERT_TRUE(loop.runUntil([&] { return !client.registering(); }));
        ASSERT_NE(client.clientID(), 0) << (lines.empty() ? "" : lines.back());
        lines.clear();
        std::size_t requests = 0;
        for (bool on : {true, false, true}) {
            client.setLED(on);
            ++requests;
            // Only now may the daemon answer: the loop is already free again.
            bool ran = false;
            loop.post([&] { ran = true; });
            loop.runPending();
            EXPECT_TRUE(ran);
            ASSERT_TRUE(daemon.waitFor([&](const auto& s) { return s.led.size() == requests; }));
            daemon.answerLED();
            ASSERT_TRUE(loop.runUntil([&] { return client.pendingCalls() == 0; }));
        }
        client.stop();
    }
    EXPECT_EQ(daemon.seen().led, (std::vector<std::int32_t>{1, 0, 1}));
    EXPECT_EQ(lines, std::vector<std::string>{"driver: unregistered"});
    ::unsetenv("SPNAV_SOCKET");
}
