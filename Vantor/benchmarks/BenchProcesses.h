#pragma once

// What the benchmarks that run the real `kestrix` and `vantor` share: clocks, the scheduler's
// account of a process (ProcessAccount.h, with the broker's benchmarks), private folders for every
// run, child processes, and both programs under a private X server.

#include "KestrixProtocol/UnixSocket.h"
#include "ProcessAccount.h"
#include "X11TestDesktop.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <optional>
#include <signal.h>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <time.h>
#include <unistd.h>
#include <vector>
#include <xcb/xcb.h>

namespace bench {

inline double monotonic() {
    timespec ts{};
    ::clock_gettime(CLOCK_MONOTONIC, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) / 1e9;
}

inline void sleepFor(double seconds) {
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
}

// A kB field of /proc/PID/smaps_rollup ("Private_Dirty", "Rss"), in bytes.
inline std::optional<double> memoryField(pid_t pid, const std::string& field) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/smaps_rollup");
    std::string line;
    while (std::getline(in, line))
        if (line.rfind(field + ":", 0) == 0)
            return std::strtod(line.c_str() + field.size() + 1, nullptr) * 1024.0;
    return std::nullopt;
}

inline double median(std::vector<double> values) {
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    std::size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

// The command line of a benchmark that runs the programs:
// [runs (3)] [seconds per figure (4)] [groups (all)], groups being a comma-separated choice.
struct BenchOptions {
    int runs = 3;
    double seconds = 4.0;
    std::string groups; // ",a,b," or empty for all

    BenchOptions(int argc, char** argv) {
        if (argc > 1) runs = std::max(1, std::atoi(argv[1]));
        if (argc > 2) seconds = std::max(0.5, std::atof(argv[2]));
        if (argc > 3) groups = "," + std::string(argv[3]) + ",";
    }
    bool chosen(const char* group) const {
        return groups.empty() || groups.find("," + std::string(group) + ",") != std::string::npos;
    }
};

// The figures of all runs by name, each one said on stderr as it comes.
class Figures {
public:
    void add(const std::string& name, std::optional<double> value) {
        if (!value) return;
        all_[name].push_back(*value);
        std::fprintf(stderr, "  %s: %.2f\n", name.c_str(), *value);
    }
    const std::vector<double>& values(const std::string& name) { return all_[name]; }
    std::optional<double> median(const std::string& name) const {
        auto it = all_.find(name);
        if (it == all_.end() || it->second.empty()) return std::nullopt;
        return bench::median(it->second);
    }

private:
    std::map<std::string, std::vector<double>> all_;
};

// Private folders for one run: the broker's home, config, data and the session's runtime folder,
// so that no run meets another's broker socket or another vantor's single-instance lock.
struct Folder {
    std::string path;
    Folder() {
        char pattern[] = "/tmp/vantor-bench-XXXXXX";
        path = ::mkdtemp(pattern);
        for (const char* sub : {"/home", "/config", "/data", "/run", "/runtime", "/cache"})
            ::mkdir((path + sub).c_str(), 0700);
    }
    ~Folder() { std::filesystem::remove_all(path); }
    Folder(const Folder&) = delete;
    Folder& operator=(const Folder&) = delete;

    // Points the process's environment at the folders (in a child, before exec).
    void enter(const std::string& display) const {
        if (display.empty())
            ::unsetenv("DISPLAY");
        else
            ::setenv("DISPLAY", display.c_str(), 1);
        ::unsetenv("WAYLAND_DISPLAY");
        ::unsetenv("QT_QPA_PLATFORM");
        ::unsetenv("DBUS_SESSION_BUS_ADDRESS");
        ::setenv("KESTRIX_HOME", (path + "/home").c_str(), 1);
        ::setenv("XDG_CONFIG_HOME", (path + "/config").c_str(), 1);
        ::setenv("XDG_DATA_HOME", (path + "/data").c_str(), 1);
        ::setenv("XDG_CACHE_HOME", (path + "/cache").c_str(), 1);
        ::setenv("XDG_RUNTIME_DIR", (path + "/runtime").c_str(), 1);
    }
};

inline void quiet() {
    int null = ::open("/dev/null", O_RDWR);
    ::dup2(null, 0);
    ::dup2(null, 1);
    ::dup2(null, 2);
}

// A child process, killed and reaped with the object.
struct Child {
    pid_t pid = -1;
    bool reaped = false;
    explicit Child(const std::function<void()>& body) {
        pid = ::fork();
        if (pid == 0) {
            body();
            ::_exit(127);
        }
    }
    ~Child() {
        if (pid > 0 && !reaped) {
            ::kill(pid, SIGTERM);
            ::waitpid(pid, nullptr, 0);
        }
    }
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    // False once the process has ended (it is reaped then).
    bool alive() {
        if (pid <= 0 || reaped) return false;
        if (::waitpid(pid, nullptr, WNOHANG) == pid) reaped = true;
        return !reaped;
    }
    // Waits up to `seconds` for the process to end by itself.
    bool endsWithin(double seconds) {
        double until = monotonic() + seconds;
        while (alive() && monotonic() < until)
            sleepFor(0.01);
        return !alive();
    }
};

// Polls `condition` every `step` seconds until it holds or `seconds` have passed.
inline bool within(double seconds, const std::function<bool()>& condition, double step = 0.05) {
    double until = monotonic() + seconds;
    while (!condition()) {
        if (monotonic() >= until) return false;
        sleepFor(step);
    }
    return true;
}

inline std::optional<int> connectWithin(const std::string& socket, double seconds) {
    std::optional<int> fd;
    within(
        seconds, [&] { return (fd = kestrix::UnixSocket::connect(socket)).has_value(); }, 0.01);
    return fd;
}

inline std::string readAll(const std::string& path) {
    std::ifstream in(path);
    return std::string((std::istreambuf_iterator<char>(in)), {});
}

inline std::uintmax_t sizeOf(const std::string& path) {
    std::error_code error;
    std::uintmax_t size = std::filesystem::file_size(path, error);
    return error ? 0 : size;
}

// A simulated SpaceMouse for the real broker: with `report`, that report every millisecond from
// half a second after start, else a resting device.
inline void writeDevices(const Folder& folder, const std::vector<std::uint8_t>& report) {
    std::string bytes;
    for (std::uint8_t b : report)
        bytes += (bytes.empty() ? "" : ", ") + std::to_string(b);
    std::string reports =
        report.empty()
            ? "[]"
            : R"([{"at": 0.5, "every": 0.001, "count": 100000000, "bytes": [)" + bytes + "]}]";
    std::ofstream(folder.path + "/devices.json")
        << R"({"devices": [{"vendorID": 9583, "productID": 50741, "product": "SpaceMouse Compact",
  "transport": "USB", "serialNumber": "BENCH", "locationID": 1, "interface": 0, "reports": )"
        << reports << "}]}";
}

// The real broker, with the simulated devices of `folder`.
inline std::unique_ptr<Child> startBroker(const Folder& folder, const std::string& display = {}) {
    return std::make_unique<Child>([&] {
        folder.enter(display);
        ::setenv("KESTRIX_DEVICES", ("sim:" + folder.path + "/devices.json").c_str(), 1);
        ::setenv("SPNAV_SOCKET", (folder.path + "/run/spnav.sock").c_str(), 1);
        quiet();
        ::execl(KESTRIX_EXECUTABLE, KESTRIX_EXECUTABLE, static_cast<char*>(nullptr));
    });
}

// The real vantor, recording its steps to `folder`/events.jsonl instead of posting them.
inline std::unique_ptr<Child> startVantor(const Folder& folder, const std::string& display) {
    return std::make_unique<Child>([&] {
        folder.enter(display);
        ::setenv("VANTOR_EVENTS", ("record:" + folder.path + "/events.jsonl").c_str(), 1);
        quiet();
        ::execl(VANTOR_EXECUTABLE, VANTOR_EXECUTABLE, static_cast<char*>(nullptr));
    });
}

// Whether the broker's log names vantor as the device's holder.
inline bool vantorHolds(const Folder& folder) {
    return readAll(folder.path + "/home/broker.log").find("holder: Vantor") != std::string::npos;
}

// An XEmbed system tray that takes the tray selection and docks nothing: enough for Qt to make
// its tray icon window and draw the icon into it, as under a panel.
class FakeTray {
public:
    explicit FakeTray(const std::string& display) {
        connection_ = xcb_connect(display.c_str(), nullptr);
        if (xcb_connection_has_error(connection_)) return;
        xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(connection_)).data;
        xcb_window_t window = xcb_generate_id(connection_);
        xcb_create_window(connection_, XCB_COPY_FROM_PARENT, window, screen->root, 0, 0, 1, 1, 0,
                          XCB_WINDOW_CLASS_INPUT_OUTPUT, screen->root_visual, 0, nullptr);
        const char name[] = "_NET_SYSTEM_TRAY_S0";
        xcb_intern_atom_reply_t* atom = xcb_intern_atom_reply(
            connection_, xcb_intern_atom(connection_, 0, sizeof name - 1, name), nullptr);
        if (!atom) return;
        xcb_set_selection_owner(connection_, window, atom->atom, XCB_CURRENT_TIME);
        free(atom);
        xcb_flush(connection_);
    }
    ~FakeTray() { xcb_disconnect(connection_); }
    FakeTray(const FakeTray&) = delete;
    FakeTray& operator=(const FakeTray&) = delete;

private:
    xcb_connection_t* connection_ = nullptr;
};

// The real broker and vantor under a private X server with a desktop and a tray to dock in, the
// app org.example.Editor in front. The broker starts with the object, with the simulated device
// sending `report` (none: resting) and vantor's settings `settings`; `up` says it listens.
struct EditorInFront {
    x11test::Xvfb server;
    std::unique_ptr<x11test::FakeDesktop> desktop;
    std::unique_ptr<FakeTray> tray;
    Folder folder;
    std::unique_ptr<Child> broker, vantor;
    bool up = false;

    EditorInFront(const std::vector<std::uint8_t>& report, const std::string& settings) {
        if (server.display().empty()) return;
        desktop = std::make_unique<x11test::FakeDesktop>(server.display());
        tray = std::make_unique<FakeTray>(server.display());
        desktop->activate(desktop->window(999999, "org.example.Editor"));
        writeDevices(folder, report);
        std::ofstream(folder.path + "/config/me.orvella.Vantor.json") << settings;
        broker = startBroker(folder, server.display());
        up = connectWithin(folder.path + "/home/broker.sock", 10.0).has_value();
    }
    // Starts vantor; true once it holds the device (false when it ended first).
    bool vantorTakesTheDevice() {
        vantor = startVantor(folder, server.display());
        return within(15.0, [&] { return !vantor->alive() || vantorHolds(folder); }) &&
               vantor->alive();
    }
    std::string events() const { return folder.path + "/events.jsonl"; }
};

} // namespace bench
