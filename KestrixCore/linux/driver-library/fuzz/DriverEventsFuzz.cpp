// The driver library's event path: whatever the daemon's socket delivers once a client is
// registered and active (motion, buttons, devices, stray replies, torn words) goes through
// libspnav and the library's event thread to the handlers; any bytes must give records or
// nothing, never a crash. A daemon of this fuzzer's own answers the handshake, then sends the
// input and hangs up.
#include "KestrixCore/ConnexionAPI.h"

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>
#include <vector>

using kestrix::core::ConnexionAPI;

extern "C" {
std::int16_t SetConnexionHandlers(ConnexionAPI::MessageHandler, ConnexionAPI::DeviceHandler,
                                  ConnexionAPI::DeviceHandler, std::uint8_t);
std::uint16_t RegisterConnexionClient(std::uint32_t, const std::uint8_t*, std::uint16_t,
                                      std::uint32_t);
void UnregisterConnexionClient(std::uint16_t);
std::int16_t ConnexionClientControl(std::uint16_t, std::uint32_t, std::int32_t, std::int32_t*);
}

namespace {

constexpr std::int32_t setNameRequest = 0x1000; // the one request that gets no answer

// Answers the greeting (echoed) and each 32-byte request (status 0) on every connection, and
// hands the connection to the fuzzer once it is set up.
class Daemon {
public:
    Daemon() {
        char pattern[] = "/tmp/fuzz-driver-XXXXXX";
        const char* folder = ::mkdtemp(pattern);
        if (!folder) std::abort();
        path_ = std::string(folder) + "/spnav.sock";
        ::setenv("SPNAV_SOCKET", path_.c_str(), 1);
        listen_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        path_.copy(address.sun_path, sizeof address.sun_path - 1);
        if (::bind(listen_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
            ::listen(listen_, 4) != 0)
            std::abort();
        std::thread([this] { run(); }).detach();
    }

    // Sends the bytes to the current client, then hangs up on it.
    void sendAndHangUp(const std::uint8_t* data, std::size_t size) {
        std::lock_guard lock(mutex_);
        if (client_ < 0) return;
        if (size > 0) (void)::send(client_, data, size, MSG_NOSIGNAL);
        ::shutdown(client_, SHUT_RDWR);
    }

private:
    void run() {
        for (;;) {
            int client = ::accept4(listen_, nullptr, nullptr, SOCK_CLOEXEC);
            if (client < 0) continue;
            {
                std::lock_guard lock(mutex_);
                client_ = client;
            }
            serve(client);
            std::lock_guard lock(mutex_);
            ::close(client_);
            client_ = -1;
        }
    }

    void serve(int client) {
        std::vector<std::uint8_t> input;
        bool greeted = false;
        std::uint8_t buffer[256];
        for (ssize_t got; (got = ::recv(client, buffer, sizeof buffer, 0)) > 0;) {
            input.insert(input.end(), buffer, buffer + got);
            std::lock_guard lock(mutex_);
            if (!greeted && input.size() >= 4) {
                (void)::send(client, input.data(), 4, MSG_NOSIGNAL);
                input.erase(input.begin(), input.begin() + 4);
                greeted = true;
            }
            while (greeted && input.size() >= 32) {
                std::array<std::int32_t, 8> words;
                std::memcpy(words.data(), input.data(), 32);
                input.erase(input.begin(), input.begin() + 32);
                if (words[0] == setNameRequest) continue;
                words[7] = 0;
                (void)::send(client, words.data(), sizeof words, MSG_NOSIGNAL);
            }
        }
    }

    std::string path_;
    int listen_ = -1;
    std::mutex mutex_;
    int client_ = -1;
};

void onMessage(std::uint32_t, std::uint32_t type, void* argument) {
    if (type != ConnexionAPI::deviceStateMessage || !argument) __builtin_trap();
    std::uint8_t record[48];
    std::memcpy(record, argument, sizeof record);
    if (record[0] != 1 || record[1] != 0) __builtin_trap(); // the record's version
}

void onDevice(std::uint32_t) {}

const std::uint8_t name[] = {4, 'f', 'u', 'z', 'z'};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static Daemon* daemon = [] {
        auto* made = new Daemon;
        SetConnexionHandlers(onMessage, onDevice, onDevice, 0);
        return made;
    }();
    std::uint16_t client = RegisterConnexionClient(ConnexionAPI::manualClientSignature, name,
                                                   ConnexionAPI::registrationMode,
                                                   ConnexionAPI::registrationMask);
    if (client == 0) std::abort(); // the daemon always answers
    std::int32_t result = 0;
    ConnexionClientControl(client, ConnexionAPI::activateControl, 0, &result);
    daemon->sendAndHangUp(data, size);
    // Once the event thread has read everything, the library sees the daemon gone.
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (ConnexionClientControl(client, ConnexionAPI::activateControl, 0, &result) != -3 &&
           std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::microseconds(100));
    UnregisterConnexionClient(client);
    return 0;
}
