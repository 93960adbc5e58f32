#pragma once

// Desktop shells for tests that need KDE Plasma's or GNOME Shell's idea of the app in front: a
// private session bus, a headless KWin or GNOME Shell on it, Wayland test windows with known app
// ids, and the shell's own way of bringing a window to the front. Plain processes, no Qt, so that
// the programs' process tests can use them too. Nothing here waits by sleeping: each wait ends
// on what it waits for, or at its deadline.

#include "TempFolder.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <poll.h>
#include <string>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace shelltest {

using Environment = std::map<std::string, std::string>;

// This process's environment without the display and bus of the session the tests run in.
inline Environment cleanEnvironment() {
    Environment env;
    for (char** e = environ; *e; ++e) {
        std::string pair = *e;
        auto eq = pair.find('=');
        if (eq != std::string::npos) env[pair.substr(0, eq)] = pair.substr(eq + 1);
    }
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM", "DBUS_SESSION_BUS_ADDRESS",
                             "DBUS_SYSTEM_BUS_ADDRESS", "XDG_CURRENT_DESKTOP", "XDG_SESSION_TYPE",
                             "KESTRIX_TEST_VERSION"})
        env.erase(name);
    return env;
}

// One child process; ended (SIGTERM, then SIGKILL if it lingers) when this goes.
class Child {
public:
    Child() = default;
    // `out`, when given, receives the read end of a pipe on the child's standard output.
    Child(const std::vector<std::string>& argv, const Environment& env, const std::string& errPath,
          int* out = nullptr) {
        std::vector<std::string> pairs;
        for (const auto& [k, v] : env)
            pairs.push_back(k + "=" + v);
        std::vector<char*> args, envp;
        for (const auto& a : argv)
            args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        for (auto& p : pairs)
            envp.push_back(p.data());
        envp.push_back(nullptr);
        int fds[2] = {-1, -1};
        if (out && ::pipe2(fds, O_CLOEXEC) != 0) return;
        pid_ = ::fork();
        if (pid_ == 0) {
            ::setpgid(0, 0);
            int err = ::open(errPath.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
            ::dup2(err, 2);
            int null = ::open("/dev/null", O_RDWR);
            ::dup2(null, 0);
            ::dup2(out ? fds[1] : err, 1);
            ::execve(args[0], args.data(), envp.data());
            ::_exit(127);
        }
        if (out) {
            ::close(fds[1]);
            *out = fds[0];
        }
        pidfd_ = static_cast<int>(::syscall(SYS_pidfd_open, pid_, 0));
    }
    ~Child() { stop(); }
    Child(Child&& other) noexcept { *this = std::move(other); }
    Child& operator=(Child&& other) noexcept {
        std::swap(pid_, other.pid_);
        std::swap(pidfd_, other.pidfd_);
        return *this;
    }
    pid_t pid() const { return pid_; }
    bool running() const {
        if (pidfd_ < 0) return false;
        pollfd p{pidfd_, POLLIN, 0};
        return ::poll(&p, 1, 0) == 0;
    }
    // Waits at most `seconds` for the child to end by itself; its exit status, or -1.
    int wait(double seconds) {
        if (pid_ <= 0) return -1;
        pollfd p{pidfd_, POLLIN, 0};
        if (::poll(&p, 1, static_cast<int>(seconds * 1000)) <= 0) return -1;
        int status = 0;
        ::waitpid(pid_, &status, 0);
        ::close(pidfd_);
        pid_ = -1;
        pidfd_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    // Ends the child and its process group (helpers the shells started) and reaps it.
    void stop(int signal = SIGTERM) {
        if (pid_ <= 0) return;
        ::kill(-pid_, signal);
        ::kill(pid_, signal);
        pollfd p{pidfd_, POLLIN, 0};
        if (::poll(&p, 1, 5000) <= 0) ::kill(-pid_, SIGKILL), ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
        ::close(pidfd_);
        pid_ = -1;
        pidfd_ = -1;
    }

private:
    pid_t pid_ = -1;
    int pidfd_ = -1;
};

// Reads one line from `fd` within `seconds`; absent at the deadline or the end of the stream.
inline std::optional<std::string> readLine(int fd, double seconds) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    std::string line;
    for (;;) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) return std::nullopt;
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, static_cast<int>(left.count())) <= 0) return std::nullopt;
        char c;
        if (::read(fd, &c, 1) != 1) return std::nullopt;
        if (c == '\n') return line;
        line.push_back(c);
    }
}

// Runs a command to its end (at most `seconds`); its exit status, or -1.
inline int run(const std::vector<std::string>& argv, const Environment& env,
               const std::string& errPath, double seconds = 30, std::string* output = nullptr) {
    int out = -1;
    Child child(argv, env, errPath, &out);
    std::string text;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (auto line = readLine(out, std::chrono::duration<double>(
                                         deadline - std::chrono::steady_clock::now())
                                         .count()))
        text += *line + "\n";
    ::close(out);
    if (output) *output = text;
    // The child closed its output: it has ended or is about to.
    return child.wait(std::max(0.0, std::chrono::duration<double>(
                                        deadline - std::chrono::steady_clock::now())
                                        .count()));
}

// A private D-Bus daemon with the session bus's configuration.
class PrivateBus {
public:
    explicit PrivateBus(const std::string& errPath) {
        int out = -1;
        daemon_ = Child({"/usr/bin/dbus-daemon", "--session", "--nofork", "--print-address=1"},
                        cleanEnvironment(), errPath, &out);
        if (out < 0) return;
        address_ = readLine(out, 10).value_or("");
        ::close(out);
    }
    const std::string& address() const { return address_; }

private:
    Child daemon_;
    std::string address_;
};

// What the programs and the shell share in one test: a runtime folder (the Wayland socket's
// place), a home with its configuration, and the session bus.
struct Session {
    testsupport::TempFolder folder;
    std::string runtime, home, log;
    std::unique_ptr<PrivateBus> bus;

    Session() {
        runtime = folder.path + "/run";
        home = folder.path + "/home";
        log = folder.path + "/desktop.log";
        std::filesystem::create_directories(home + "/.config");
        std::filesystem::create_directories(runtime);
        std::filesystem::permissions(runtime, std::filesystem::perms::owner_all);
        bus = std::make_unique<PrivateBus>(log);
    }
    // The environment of a process of this session.
    Environment environment() const {
        Environment env = cleanEnvironment();
        env["XDG_RUNTIME_DIR"] = runtime;
        env["HOME"] = home;
        env["XDG_CONFIG_HOME"] = home + "/.config";
        env["DBUS_SESSION_BUS_ADDRESS"] = bus->address();
        return env;
    }
    // Waits until the bus name has an owner.
    bool waitForName(const std::string& name, double seconds = 30) const {
        return run({"/usr/bin/gdbus", "wait", "--address", bus->address(), "--timeout",
                    std::to_string(static_cast<int>(seconds)), name},
                   environment(), log, seconds + 5) == 0;
    }
    // Calls a method with gdbus; true when it answered. `reply` gets gdbus's print of the answer.
    bool call(const std::string& destination, const std::string& path, const std::string& method,
              const std::vector<std::string>& arguments, std::string* reply = nullptr) const {
        std::vector<std::string> argv{"/usr/bin/gdbus", "call",          "--address",
                                      bus->address(),   "--dest",        destination,
                                      "--object-path",  path,            "--method",
                                      method};
        argv.insert(argv.end(), arguments.begin(), arguments.end());
        return run(argv, environment(), log, 30, reply) == 0;
    }
};

// Waits until the file exists: woken by each change in its folder.
inline bool waitForFile(const std::string& path, double seconds = 30) {
    return testsupport::waitInFolder(
        std::filesystem::path(path).parent_path().string(),
        [&] { return std::filesystem::exists(path); }, seconds);
}

inline bool installed(const std::string& program) {
    return ::access(program.c_str(), X_OK) == 0;
}

// A headless KWin (kwin_wayland --virtual) on the session's bus, its Wayland socket "wayland-kwin".
class KWin {
public:
    static constexpr const char* display = "wayland-kwin";

    explicit KWin(Session& session) : session_(session) {
        // A copy without the file capability the package gives kwin_wayland: where the
        // capability bounding set lacks it (containers), the original cannot be started at all.
        std::string program = session.folder.path + "/kwin_wayland";
        std::filesystem::copy_file("/usr/bin/kwin_wayland", program,
                                   std::filesystem::copy_options::skip_existing);
        Environment env = session.environment();
        kwin_ = Child({program, "--virtual", "--no-lockscreen", "--no-global-shortcuts",
                       "--socket", display, "--width", "1024", "--height", "768"},
                      env, session.log);
        ready_ = session.waitForName("org.kde.KWin") &&
                 waitForFile(session.runtime + "/" + display);
    }
    bool ready() const { return ready_ && kwin_.running(); }
    void stop() { kwin_.stop(); }

    // Brings the window of the app id to the front with a KWin script of the test's own.
    bool activate(const std::string& appID) {
        return runScript(
            "var all = workspace.windowList ? workspace.windowList() : workspace.clientList();\n"
            "for (var i = 0; i < all.length; ++i)\n"
            "    if (all[i].desktopFileName === \"" + appID + "\") {\n"
            "        if (workspace.windowList) workspace.activeWindow = all[i];\n"
            "        else workspace.activeClient = all[i];\n"
            "    }\n");
    }

    // Runs a KWin script of the test's own, once. It stays loaded: KWin reads and runs a started
    // script later, and would not run one unloaded before that.
    bool runScript(const std::string& text) {
        std::string name = "test-script-" + std::to_string(++scripts_) + ".js";
        session_.folder.write(name, text);
        std::string plugin = "front-app-test-" + std::to_string(scripts_);
        return session_.call("org.kde.KWin", "/Scripting", "org.kde.kwin.Scripting.loadScript",
                             {session_.folder.path + "/" + name, plugin}) &&
               session_.call("org.kde.KWin", "/Scripting", "org.kde.kwin.Scripting.start", {});
    }

private:
    Session& session_;
    Child kwin_;
    bool ready_ = false;
    int scripts_ = 0;
};

// A headless GNOME Shell on the session's bus, its Wayland socket "wayland-gnome". `share` is a
// data folder searched before /usr/share (where the extensions under test lie); `enabled` are the
// extensions enabled at the start. GNOME Shell wants a system bus too (logind, accounts): it gets
// a private one where nothing answers.
class GnomeShell {
public:
    static constexpr const char* display = "wayland-gnome";

    GnomeShell(Session& session, const std::string& share, const std::vector<std::string>& enabled)
        : session_(session), system_(session.log) {
        std::string list;
        for (const auto& uuid : enabled)
            list += (list.empty() ? "'" : ", '") + uuid + "'";
        // The settings in a plain file, written before the Shell reads them.
        session.folder.write("home/.config/glib-2.0/settings/keyfile",
                             "[org/gnome/shell]\nenabled-extensions=[" + list + "]\n");
        shell_ = Child({"/usr/bin/gnome-shell", "--headless", "--virtual-monitor", "1024x768",
                        "--wayland", "--no-x11", "--wayland-display", display},
                       environment(share), session.log);
        ready_ = session.waitForName("org.gnome.Shell") &&
                 waitForFile(session.runtime + "/" + display);
    }
    Environment environment(const std::string& share) const {
        Environment env = session_.environment();
        env["DBUS_SYSTEM_BUS_ADDRESS"] = system_.address();
        env["GSETTINGS_BACKEND"] = "keyfile";
        env["XDG_DATA_DIRS"] = share + ":/usr/local/share:/usr/share";
        env["XDG_CURRENT_DESKTOP"] = "GNOME";
        return env;
    }
    bool ready() const { return ready_ && shell_.running(); }
    void stop() { shell_.stop(); }

private:
    Session& session_;
    PrivateBus system_;
    Child shell_;
    bool ready_ = false;
};

// A Wayland window of the test program with the given app id, on the given display; constructed
// once it is shown.
class Window {
public:
    Window(const Session& session, const std::string& display, const std::string& appID) {
        Environment env = session.environment();
        env["WAYLAND_DISPLAY"] = display;
        env["QT_QPA_PLATFORM"] = "wayland";
        int out = -1;
        child_ = Child({FRONT_APP_TEST_WINDOW, appID}, env, session.log, &out);
        if (out < 0) return;
        shown_ = readLine(out, 30) == std::optional<std::string>("shown");
        out_ = out;
    }
    ~Window() {
        if (out_ >= 0) ::close(out_);
    }
    bool shown() const { return shown_; }
    pid_t pid() const { return child_.pid(); }

private:
    Child child_;
    int out_ = -1;
    bool shown_ = false;
};

} // namespace shelltest

namespace shelltest {

// The major version of the installed GNOME Shell ("GNOME Shell 43.9" -> 43); 0 when unknown.
inline int gnomeShellMajor(const Session& session) {
    std::string out;
    if (run({"/usr/bin/gnome-shell", "--version"}, session.environment(), session.log, 30, &out) != 0)
        return 0;
    auto digit = out.find_first_of("0123456789");
    return digit == std::string::npos ? 0 : std::atoi(out.c_str() + digit);
}

// A data folder with the GNOME Shell extension from the build tree, in the module style of the
// installed Shell (as the package's script chooses it), and the tests' own extension that brings
// windows to the front, in the same style; `testExtension` is the folder of its built variants.
inline std::string extensionsFolder(const Session& session, const std::string& builtShare,
                                    const std::string& testExtension) {
    namespace fs = std::filesystem;
    std::string share = session.folder.path + "/share";
    std::string ours = share + "/gnome-shell/extensions/" FRONT_APP_EXTENSION_UUID;
    fs::create_directories(ours);
    fs::copy_file(builtShare + "/gnome-shell/extensions/" FRONT_APP_EXTENSION_UUID "/metadata.json",
                  ours + "/metadata.json");
    const char* style = gnomeShellMajor(session) >= 45 ? "modules" : "legacy";
    fs::copy_file(builtShare + "/vantor/gnome-shell/extension-" + style + ".js",
                  ours + "/extension.js");
    std::string test = share + "/gnome-shell/extensions/front-app-test@vantor.orvella.me";
    fs::create_directories(test);
    fs::copy_file(testExtension + "/activate-" + style + ".js", test + "/extension.js");
    fs::copy_file(testExtension + "/activate-metadata.json", test + "/metadata.json");
    return share;
}

// Has the tests' extension announce `count` changes of the Focus as Vantor's extension does, on
// the Shell's connection, the last one naming `last`.
inline bool floodFromGnomeShell(const Session& session, int count, const std::string& last) {
    return session.call("org.gnome.Shell", "/me/orvella/FrontAppTest",
                        "me.orvella.FrontAppTest1.Flood", {std::to_string(count), last});
}

// Brings the window of the class to the front through the tests' extension.
inline bool activateInGnomeShell(const Session& session, const std::string& windowClass) {
    std::string reply;
    return session.call("org.gnome.Shell", "/me/orvella/FrontAppTest",
                        "me.orvella.FrontAppTest1.Activate", {windowClass}, &reply) &&
           reply.find("true") != std::string::npos;
}

} // namespace shelltest
