#pragma once

// Real `kestrix` processes for the tests: each in a folder of its own (KESTRIX_HOME, the user
// defaults and the simulated devices), talked to over its real socket.

#include "KestrixProtocol/BrokerPlace.h"
#include "KestrixProtocol/LineConnection.h"
#include "KestrixProtocol/Messages.h"
#include "KestrixProtocol/UnixSocket.h"
#include "KestrixProtocol/VirtualMainLoop.h"
#include "TempFolder.h"

#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <map>
#include <poll.h>
#include <sys/inotify.h>
#include <sys/syscall.h>
#include <sys/wait.h>

namespace proc {

using testsupport::readFile;
using testsupport::waitInFolder;

using namespace kestrix;

// The folder of one test: the broker folder in home/, the user defaults in config/.
struct Home : testsupport::TempFolder {
    Home() {
        ::mkdir((path + "/home").c_str(), 0700);
        ::mkdir((path + "/config").c_str(), 0700);
    }
    BrokerPlace place() const { return BrokerPlace(path + "/home"); }
    std::string log() const { return readFile(place().log().string()); }
    void devices(const std::string& json) const { write("devices.json", json); }
};

// The broker's environment on the X display `display`, with the home's own desktop files only.
inline std::map<std::string, std::string> onDisplay(const Home& home, const std::string& display) {
    return {{"DISPLAY", display},
            {"XDG_DATA_HOME", home.path + "/data"},
            {"XDG_DATA_DIRS", home.path + "/data"}};
}

class Broker {
public:
    // `inChild` runs in the new process just before it becomes the broker.
    Broker(const Home& home, std::map<std::string, std::string> extra = {},
           const std::function<void()>& inChild = {}, std::vector<std::string> arguments = {})
        : home_(home) {
        static int started = 0;
        errPath_ = home.path + "/stderr-" + std::to_string(++started) + ".txt";
        arguments.insert(arguments.begin(), KESTRIX_EXECUTABLE);
        std::vector<char*> argv;
        for (std::string& word : arguments)
            argv.push_back(word.data());
        argv.push_back(nullptr);
        pid_ = ::fork();
        if (pid_ == 0) {
            for (const char* name :
                 {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM", "KESTRIX_TEST_VERSION"})
                ::unsetenv(name);
            ::setenv("KESTRIX_HOME", (home.path + "/home").c_str(), 1);
            ::setenv("XDG_CONFIG_HOME", (home.path + "/config").c_str(), 1);
            ::setenv("KESTRIX_DEVICES", ("sim:" + home.path + "/devices.json").c_str(), 1);
            ::setenv("KESTRIX_LOG_STDERR", "1", 1);
            ::setenv("SPNAV_SOCKET", (home.path + "/run/spnav.sock").c_str(), 1);
            ::mkdir((home.path + "/run").c_str(), 0700);
            for (const auto& [k, v] : extra)
                ::setenv(k.c_str(), v.c_str(), 1);
            int err = ::open(errPath_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
            ::dup2(err, 2);
            int null = ::open("/dev/null", O_RDWR);
            ::dup2(null, 0);
            ::dup2(null, 1);
            if (inChild) inChild();
            ::execv(KESTRIX_EXECUTABLE, argv.data());
            ::_exit(127);
        }
        pidfd_ = static_cast<int>(::syscall(SYS_pidfd_open, pid_, 0));
    }
    ~Broker() {
        kill();
        ::close(pidfd_);
    }
    pid_t pid() const { return pid_; }
    std::string stderrText() const { return readFile(errPath_); }

    // The exit status once the process ended within `seconds`; absent otherwise.
    std::optional<int> waitExit(double seconds) {
        if (exited_) return status_;
        pollfd p{pidfd_, POLLIN, 0};
        if (::poll(&p, 1, static_cast<int>(seconds * 1000)) <= 0) return std::nullopt;
        int status = 0;
        ::waitpid(pid_, &status, 0);
        exited_ = true;
        status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        return status_;
    }
    // Signals go through the process's descriptor, so they reach this broker or nothing, even
    // once it has ended. One that finds it gone fails the test and says so.
    void signal(int number) {
        if (waitExit(0) || ::syscall(SYS_pidfd_send_signal, pidfd_, number, nullptr, 0) != 0)
            ADD_FAILURE() << "kestrix had ended before it could be signalled:\n" << stderrText();
    }
    void kill() {
        if (!exited_) ::syscall(SYS_pidfd_send_signal, pidfd_, SIGKILL, nullptr, 0);
        waitExit(10);
    }
    bool waitListening(double seconds = 10.0) {
        std::string needle = "(pid " + std::to_string(pid_) + ") listening";
        return waitInFolder(
            home_.path + "/home", [&] { return home_.log().find(needle) != std::string::npos; },
            seconds);
    }

private:
    const Home& home_;
    std::string errPath_;
    pid_t pid_ = -1;
    int pidfd_ = -1;
    bool exited_ = false;
    int status_ = 0;
};

struct Client {
    std::shared_ptr<LineConnection<ClientMessage, BrokerMessage>> connection;
    std::vector<BrokerMessage> got;
    bool closed = false;

    template <class T> std::vector<T> all() const {
        std::vector<T> out;
        for (const auto& m : got)
            if (auto* v = m.as<T>()) out.push_back(*v);
        return out;
    }
    template <class T> int count() const { return int(all<T>().size()); }
    void send(const ClientMessage& m) { connection->send(m); }
};

inline std::unique_ptr<Client> connect(VirtualMainLoop& loop, const Home& home) {
    auto fd = UnixSocket::connect(home.place().socket().string());
    if (!fd) return nullptr;
    auto client = std::make_unique<Client>();
    client->connection = LineConnection<ClientMessage, BrokerMessage>::create(loop, *fd);
    Client* raw = client.get();
    client->connection->onMessage = [raw](const BrokerMessage& m) { raw->got.push_back(m); };
    client->connection->onClose = [raw] { raw->closed = true; };
    client->connection->start();
    return client;
}

inline Hello hello(const std::string& name, std::optional<Claim> claim) {
    return Hello{2, 15, ::getpid(), name, std::move(claim)};
}

// A SpaceMouse Compact that moves at 1 kHz.
inline const char* movingDevices = R"({"devices": [
 {"vendorID": 9583, "productID": 50741, "product": "SpaceMouse Compact", "transport": "USB",
  "serialNumber": "ABC123", "locationID": 336592896, "interface": 0,
  "reports": [{"at": 0.0, "every": 0.001, "count": 10000000, "bytes": [1, 16, 0, 240, 255, 0, 0]},
              {"at": 0.0005, "every": 0.001, "count": 10000000, "bytes": [2, 0, 0, 0, 0, 10, 0]}]}]})";

inline bool contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

// A background claim; `raw` asks for the raw reports too.
inline Claim background(std::optional<bool> raw = std::nullopt) {
    return Claim{{}, true, std::nullopt, raw};
}

} // namespace proc
