#pragma once

// Real Wayland compositors for tests of the app in front, each private to one test: headless sway
// (a wlroots compositor that lists its toplevels) and headless weston (one that does not), and
// test windows with a chosen app id in them. Programs that need it are given the compositor's
// socket as an absolute WAYLAND_DISPLAY.
//
// sway refuses to run as root, so when the tests run as root it runs as "nobody" (65534) in a
// runtime folder of its own; root reaches its sockets all the same.

#include "TempFolder.h"

#include <csignal>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <grp.h>
#include <string>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace wltest {

using testsupport::readFile;
using testsupport::waitInFolder;

// The names in a folder that begin with `prefix` and are not lock files.
inline std::string entryStartingWith(const std::string& folder, const std::string& prefix) {
    std::string found;
    if (DIR* d = ::opendir(folder.c_str())) {
        while (dirent* e = ::readdir(d)) {
            std::string name = e->d_name;
            if (name.rfind(prefix, 0) == 0 && name.find(".lock") == std::string::npos) found = name;
        }
        ::closedir(d);
    }
    return found;
}

// A child process, killed and reaped when this goes.
class Child {
public:
    Child() = default;
    // Runs argv with the environment changed as `set` says (an empty value unsets); `asNobody`
    // drops root first. Standard output and error go to `log`.
    Child(std::vector<std::string> argv, std::vector<std::pair<std::string, std::string>> set,
          const std::string& log, bool asNobody = false) {
        pid_ = ::fork();
        if (pid_ != 0) return;
        for (const auto& [name, value] : set)
            value.empty() ? ::unsetenv(name.c_str()) : ::setenv(name.c_str(), value.c_str(), 1);
        int out = ::open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
        ::dup2(out, 1);
        ::dup2(out, 2);
        int null = ::open("/dev/null", O_RDONLY);
        ::dup2(null, 0);
        if (asNobody && (::setgroups(0, nullptr) != 0 || ::setgid(65534) != 0 ||
                         ::setuid(65534) != 0))
            ::_exit(126);
        // A test that is killed takes its compositor and windows along (set after the change
        // of user, which clears it).
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        std::vector<char*> args;
        for (auto& a : argv)
            args.push_back(a.data());
        args.push_back(nullptr);
        ::execvp(args[0], args.data());
        ::_exit(127);
    }
    Child(Child&& other) noexcept
        : pid_(other.pid_) {
        other.pid_ = -1;
    }
    Child& operator=(Child&& other) noexcept {
        if (this != &other) {
            kill();
            pid_ = other.pid_;
            other.pid_ = -1;
        }
        return *this;
    }
    ~Child() { kill(); }
    pid_t pid() const { return pid_; }
    void kill() {
        if (pid_ <= 0) return;
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
        pid_ = -1;
    }
    // Waits for the child to end by itself; its exit status.
    int wait() {
        int status = 0;
        ::waitpid(pid_, &status, 0);
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }

private:
    pid_t pid_ = -1;
};

// A private folder inside `parent`, owned by `uid` (a runtime folder must be its owner's alone).
inline std::string privateFolder(const std::string& parent, const std::string& name, uid_t uid) {
    std::string path = parent + "/" + name;
    ::mkdir(path.c_str(), 0700);
    if (::chown(path.c_str(), uid, uid) != 0) return path;
    return path;
}

// Headless sway with no bar (unless `extraConfig` adds one); new windows take the focus.
class Sway {
public:
    explicit Sway(const std::string& extraConfig = {}) {
        bool root = ::geteuid() == 0;
        ::chmod(folder_.path.c_str(), 0755);
        runtime_ = privateFolder(folder_.path, "sway-runtime", root ? 65534 : ::geteuid());
        std::string config = folder_.path + "/sway-config";
        std::ofstream(config) << "# no bar, no background\nfocus_follows_mouse no\n" << extraConfig;
        ::chmod(config.c_str(), 0644); // sway reads it as nobody
        log_ = folder_.path + "/sway.log";
        process_ = Child({"sway", "--config", config},
                         {{"XDG_RUNTIME_DIR", runtime_},
                          {"WLR_BACKENDS", "headless"},
                          {"WLR_LIBINPUT_NO_DEVICES", "1"},
                          {"WLR_RENDERER", "pixman"},
                          {"WAYLAND_DISPLAY", ""},
                          {"DISPLAY", ""},
                          {"SWAYSOCK", ""}},
                         log_, root);
        waitInFolder(
            runtime_,
            [&] {
                return !entryStartingWith(runtime_, "wayland-").empty() &&
                       !entryStartingWith(runtime_, "sway-ipc.").empty();
            },
            30.0);
        std::string wayland = entryStartingWith(runtime_, "wayland-");
        if (!wayland.empty()) socket_ = runtime_ + "/" + wayland;
        std::string ipc = entryStartingWith(runtime_, "sway-ipc.");
        if (!ipc.empty()) ipc_ = runtime_ + "/" + ipc;
        clientRuntime_ = privateFolder(folder_.path, "client-runtime", ::geteuid());
    }
    // The Wayland socket's path; empty when sway did not start.
    const std::string& socket() const { return socket_; }
    // sway's IPC socket, as swaymsg --socket takes it.
    const std::string& ipc() const { return ipc_; }
    // A runtime folder for clients of this test.
    const std::string& clientRuntime() const { return clientRuntime_; }
    const std::string& folder() const { return folder_.path; }
    std::string logText() const { return readFile(log_); }
    // swaymsg with one command; true when sway carried it out.
    bool command(const std::string& text) const {
        Child run({"swaymsg", "--socket", ipc_, text}, {}, log_);
        return run.wait() == 0;
    }
    bool focus(const std::string& appID) const { return command("[app_id=\"" + appID + "\"] focus"); }
    void kill() { process_.kill(); }

private:
    testsupport::TempFolder folder_;
    std::string runtime_;
    std::string clientRuntime_;
    std::string socket_;
    std::string ipc_;
    std::string log_;
    Child process_;
};

// Headless weston: a Wayland compositor that does not list its toplevels to clients.
class Weston {
public:
    Weston() {
        runtime_ = privateFolder(folder_.path, "runtime", ::geteuid());
        process_ = Child({"weston", "--backend=headless-backend.so", "--shell=kiosk-shell.so",
                          "--no-config", "--idle-time=0", "--socket=wayland-test"},
                         {{"XDG_RUNTIME_DIR", runtime_}, {"WAYLAND_DISPLAY", ""}, {"DISPLAY", ""}},
                         folder_.path + "/weston.log");
        std::string path = runtime_ + "/wayland-test";
        if (waitInFolder(runtime_, [&] { return ::access(path.c_str(), F_OK) == 0; }, 30.0))
            socket_ = path;
    }
    const std::string& socket() const { return socket_; }
    const std::string& clientRuntime() const { return runtime_; }

private:
    testsupport::TempFolder folder_;
    std::string runtime_;
    std::string socket_;
    Child process_;
};

#ifdef FRONT_APP_TEST_WINDOW
// A Qt window whose app_id is `appID`, on the compositor at `socket` (in tests built with the
// test window).
inline Child testWindow(const std::string& socket, const std::string& runtime,
                        const std::string& appID, const std::string& log) {
    return Child({FRONT_APP_TEST_WINDOW, appID},
                 {{"QT_QPA_PLATFORM", "wayland"},
                  {"WAYLAND_DISPLAY", socket},
                  {"XDG_RUNTIME_DIR", runtime},
                  {"QT_WAYLAND_DISABLE_WINDOWDECORATION", "1"},
                  {"DISPLAY", ""}},
                 log);
}
#endif

} // namespace wltest
