#pragma once

// The pieces the end-to-end tests share: a cap that is pushed and let go over and over in a
// simulated SpaceMouse, a real vantor that records what it would post, and the recorded steps.
#include "ProcessSupport.h"

#include <algorithm>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace e2e {

using nlohmann::json;

// Pushes the cap back (y = 350, full deflection) for 0.4 s and lets go, every 2 s. The broker
// starts playing it as soon as it runs; whichever push comes first once vantor holds the
// device makes the sequence under test.
inline std::string pushAndReleaseScript() {
    json reports = json::array();
    for (int cycle = 0; cycle < 15; ++cycle) {
        double start = 1.0 + 2.0 * cycle;
        reports.push_back(
            {{"at", start}, {"every", 0.008}, {"count", 50}, {"bytes", {1, 0, 0, 94, 1, 0, 0}}});
        reports.push_back({{"at", start + 0.004},
                           {"every", 0.008},
                           {"count", 50},
                           {"bytes", {2, 0, 0, 0, 0, 0, 0}}});
        reports.push_back({{"at", start + 0.45}, {"bytes", {1, 0, 0, 0, 0, 0, 0}}});
        reports.push_back({{"at", start + 0.454}, {"bytes", {2, 0, 0, 0, 0, 0, 0}}});
    }
    json device = {
        {"vendorID", 9583},   {"productID", 50741},     {"product", "SpaceMouse Compact"},
        {"transport", "USB"}, {"serialNumber", "E2E1"}, {"locationID", 336592896},
        {"interface", 0},     {"reports", reports}};
    return json{{"devices", {device}}}.dump();
}

// A running vantor with its environment: `desktop` sets the variables that name the desktop
// (DISPLAY, WAYLAND_DISPLAY, QT_QPA_PLATFORM, ...; an empty value unsets), which are unset
// otherwise, whatever the test's own environment holds: on an X display Qt then takes xcb.
// `argument`, when not empty, is passed on its command line.
class Vantor {
public:
    Vantor(const proc::Home& home, const std::map<std::string, std::string>& desktop,
           const std::string& events, const std::string& argument = {}) {
        std::string errPath = home.path + "/vantor-stderr.txt";
        pid_ = ::fork();
        if (pid_ == 0) {
            for (const char* name :
                 {"DISPLAY", "WAYLAND_DISPLAY", "XDG_CURRENT_DESKTOP", "QT_QPA_PLATFORM"})
                ::unsetenv(name);
            // A runtime folder of its own (unless the desktop names one): vantor's single-instance
            // lock lives there, and a vantor of another test running at the same time must not
            // take this start for a second one of its own.
            std::string runtime = home.path + "/run";
            ::mkdir(runtime.c_str(), 0700);
            ::setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
            for (const auto& [name, value] : desktop)
                value.empty() ? ::unsetenv(name.c_str()) : ::setenv(name.c_str(), value.c_str(), 1);
            ::setenv("KESTRIX_HOME", (home.path + "/home").c_str(), 1);
            ::setenv("XDG_CONFIG_HOME", (home.path + "/config").c_str(), 1);
            ::setenv("XDG_DATA_HOME", (home.path + "/data").c_str(), 1);
            ::setenv("VANTOR_EVENTS", ("record:" + events).c_str(), 1);
            int err = ::open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
            ::dup2(err, 2);
            int null = ::open("/dev/null", O_RDWR);
            ::dup2(null, 0);
            ::dup2(null, 1);
            if (argument.empty())
                ::execl(VANTOR_EXECUTABLE, VANTOR_EXECUTABLE, static_cast<char*>(nullptr));
            else
                ::execl(VANTOR_EXECUTABLE, VANTOR_EXECUTABLE, argument.c_str(),
                        static_cast<char*>(nullptr));
            ::_exit(127);
        }
        errPath_ = errPath;
        if (pid_ > 0) pidfd_ = static_cast<int>(::syscall(SYS_pidfd_open, pid_, 0));
    }
    // Asks vantor to quit, as the session does at logout; one that does not within 10 s is
    // killed, and the test fails. Signals go through the process's descriptor: they reach this
    // vantor or nothing, also when it has ended by itself (as a second start does).
    ~Vantor() {
        if (pidfd_ < 0) return;
        ::syscall(SYS_pidfd_send_signal, pidfd_, SIGTERM, nullptr, 0);
        pollfd p{pidfd_, POLLIN, 0};
        if (::poll(&p, 1, 10000) <= 0) {
            ADD_FAILURE() << "vantor did not quit on SIGTERM:\n" << stderrText();
            ::syscall(SYS_pidfd_send_signal, pidfd_, SIGKILL, nullptr, 0);
        }
        ::close(pidfd_);
        ::waitpid(pid_, nullptr, 0);
    }
    std::string stderrText() const { return proc::readFile(errPath_); }
    pid_t pid() const { return pid_; }
    // Still running (not ended); it is left unreaped, so its pid stays its own.
    bool running() const {
        pollfd p{pidfd_, POLLIN, 0};
        return pidfd_ >= 0 && ::poll(&p, 1, 0) == 0;
    }

private:
    pid_t pid_ = -1;
    int pidfd_ = -1;
    std::string errPath_;
};

inline std::vector<json> recorded(const std::string& path) {
    std::vector<json> lines;
    std::ifstream in(path);
    for (std::string line; std::getline(in, line);) {
        auto value = json::parse(line, nullptr, false);
        if (!value.is_discarded()) lines.push_back(value);
    }
    return lines;
}

// The scroll phases from the first "began" up to and including the first "momentumEnded" after
// it; empty while that sequence is not complete.
inline std::vector<std::string> firstSequence(const std::vector<json>& lines) {
    std::vector<std::string> phases;
    for (const auto& line : lines) {
        if (!line.contains("scroll")) continue;
        std::string phase = line["scroll"]["phase"];
        if (phases.empty() && phase != "began") continue;
        phases.push_back(phase);
        if (phase == "momentumEnded") return phases;
    }
    return {};
}

} // namespace e2e
