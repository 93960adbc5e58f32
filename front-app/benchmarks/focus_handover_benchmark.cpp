// How long the device takes to change hands after the focus moves, with the real `kestrix`, under
// a wlroots compositor (headless sway with two Qt windows, the focus moved through sway's IPC
// socket) and under X11 (Xvfb with the stand-in window manager of the tests, which sets the active
// window itself).
//
// A minimal broker client claims the first app. Each round moves the focus to the first app and
// times until the client is told it holds the device, then to the second app and times until it
// is told it no longer does. Prints the median, 90th percentile and maximum of each, in
// milliseconds.
//
// Usage: focus_handover_benchmark [rounds (100)]
#include "ProcessSupport.h"
#include "WaylandTestDesktop.h"
#include "X11TestDesktop.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <functional>
#include <sys/socket.h>
#include <sys/un.h>

namespace {

using Clock = std::chrono::steady_clock;

// sway's IPC: "i3-ipc", the payload's length and the message type, then the payload; the reply
// has the same form. Type 0 runs a command.
class SwayIPC {
public:
    explicit SwayIPC(const std::string& path) {
        fd_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
        if (::connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
            ::close(fd_);
            fd_ = -1;
        }
    }
    ~SwayIPC() {
        if (fd_ >= 0) ::close(fd_);
    }
    bool connected() const { return fd_ >= 0; }
    // Sends the command without waiting for sway's reply, which is read before the next one.
    void send(const std::string& command) {
        std::string message = "i3-ipc";
        std::uint32_t header[2] = {static_cast<std::uint32_t>(command.size()), 0};
        message.append(reinterpret_cast<const char*>(header), sizeof header);
        message += command;
        (void)!::write(fd_, message.data(), message.size());
        ++unanswered_;
    }
    void readReplies() {
        for (; unanswered_ > 0; --unanswered_) {
            char header[14];
            if (!readAll(header, sizeof header)) return;
            std::uint32_t length;
            std::memcpy(&length, header + 6, 4);
            std::string payload(length, '\0');
            if (!readAll(payload.data(), length)) return;
        }
    }

private:
    bool readAll(char* data, std::size_t size) {
        while (size > 0) {
            ssize_t n = ::read(fd_, data, size);
            if (n <= 0) return false;
            data += n;
            size -= std::size_t(n);
        }
        return true;
    }
    int fd_ = -1;
    int unanswered_ = 0;
};

struct Figures {
    std::vector<double> take, leave; // milliseconds
};

double percentile(std::vector<double> values, double p) {
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    return values[std::min(values.size() - 1, std::size_t(p * double(values.size() - 1) + 0.5))];
}

void print(const char* source, const Figures& f) {
    for (auto [what, values] : {std::pair{"takes", &f.take}, {"leaves", &f.leave}})
        std::printf("%-26s device %-6s  median %7.2f ms  p90 %7.2f ms  max %7.2f ms  (%zu)\n",
                    source, what, percentile(*values, 0.5), percentile(*values, 0.9),
                    values->empty() ? 0.0 : *std::max_element(values->begin(), values->end()),
                    values->size());
}

// Runs `rounds` focus changes against a real broker whose desktop is `session`; `focus(true)`
// brings the claimed app to the front, `focus(false)` the other one.
Figures measure(const std::map<std::string, std::string>& session, int rounds,
                const std::function<void(bool)>& focus, const std::function<void()>& afterRound) {
    Figures figures;
    proc::Home home;
    home.devices(R"({"devices": []})");
    proc::Broker broker(home, session);
    if (!broker.waitListening()) {
        std::fprintf(stderr, "the broker did not start:\n%s\n", broker.stderrText().c_str());
        return figures;
    }
    kestrix::VirtualMainLoop loop;
    auto client = proc::connect(loop, home);
    client->send(kestrix::ClientMessage{
        proc::hello("Bench", kestrix::Claim{{"org.example.Modeller"}, false, {}, {}})});
    auto holding = [&] {
        auto all = client->all<kestrix::BrokerMessage::Holding>();
        return !all.empty() && all.back().holding;
    };
    auto timed = [&](bool front, bool wanted) -> std::optional<double> {
        auto start = Clock::now();
        focus(front);
        if (!loop.runUntil([&] { return holding() == wanted; }, 10.0)) return std::nullopt;
        auto end = Clock::now();
        afterRound();
        return std::chrono::duration<double, std::milli>(end - start).count();
    };
    // The first round waits out the broker's settling after its start.
    timed(false, false);
    timed(true, true);
    timed(false, false);
    for (int i = 0; i < rounds; ++i) {
        auto take = timed(true, true);
        auto leave = timed(false, false);
        if (!take || !leave) {
            std::fprintf(stderr, "the device did not change hands:\n%s\n", home.log().c_str());
            break;
        }
        figures.take.push_back(*take);
        figures.leave.push_back(*leave);
    }
    return figures;
}

Figures underSway(int rounds) {
    wltest::Sway sway;
    if (sway.socket().empty()) {
        std::fprintf(stderr, "sway did not start:\n%s\n", sway.logText().c_str());
        return {};
    }
    std::string log = sway.folder() + "/windows.log";
    auto modeller = wltest::testWindow(sway.socket(), sway.clientRuntime(), "org.example.Modeller", log);
    auto editor = wltest::testWindow(sway.socket(), sway.clientRuntime(), "org.example.Editor", log);
    // Both windows are there once sway can focus each.
    auto deadline = Clock::now() + std::chrono::seconds(20);
    while (!(sway.focus("org.example.Modeller") && sway.focus("org.example.Editor")) &&
           Clock::now() < deadline) {
    }
    SwayIPC ipc(sway.ipc());
    if (!ipc.connected()) return {};
    return measure(
        {{"WAYLAND_DISPLAY", sway.socket()},
         {"XDG_RUNTIME_DIR", sway.clientRuntime()},
         {"XDG_CURRENT_DESKTOP", "sway"}},
        rounds,
        [&](bool front) {
            ipc.send(std::string("[app_id=\"org.example.") + (front ? "Modeller" : "Editor") +
                     "\"] focus");
        },
        [&] { ipc.readReplies(); });
}

Figures underX11(int rounds) {
    x11test::Xvfb server;
    if (server.display().empty()) {
        std::fprintf(stderr, "Xvfb did not start\n");
        return {};
    }
    x11test::FakeDesktop desktop(server.display());
    // Process ids that no process has: the apps are known by their window class.
    xcb_window_t modeller = desktop.window(2000000001, "org.example.Modeller");
    xcb_window_t editor = desktop.window(2000000002, "org.example.Editor");
    return measure({{"DISPLAY", server.display()}, {"XDG_DATA_DIRS", "/nonexistent"}}, rounds,
                   [&](bool front) { desktop.activate(front ? modeller : editor); }, [] {});
}

} // namespace

int main(int argc, char** argv) {
    int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 100;
    std::printf("focus change to the device changing hands, real kestrix, %d rounds\n", rounds);
    print("wlroots (headless sway)", underSway(rounds));
    print("X11 (Xvfb, stand-in WM)", underX11(rounds));
    return 0;
}
