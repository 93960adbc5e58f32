#include "FrontAppX11.h"
#include "KestrixCore/FrontApp.h"
#include "KestrixCore/FrontAppIdentity.h"
#include "KestrixProtocol/VirtualMainLoop.h"

#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace kestrix::core;

namespace {

struct TempFolder {
    std::string path;
    TempFolder() {
        char pattern[] = "/tmp/frontapp-XXXXXX";
        path = ::mkdtemp(pattern);
    }
    ~TempFolder() { std::system(("rm -rf '" + path + "'").c_str()); }
    void write(const std::string& relative, const std::string& text) const {
        std::string full = path + "/" + relative;
        std::system(("mkdir -p \"$(dirname '" + full + "')\"").c_str());
        std::ofstream(full) << text;
    }
};

} // namespace

TEST(FrontAppIdentity, cgroupScopeWithLauncherGivesTheMiddlePart) {
    EXPECT_EQ(
        FrontAppIdentity::fromCgroup("0::/user.slice/user-1000.slice/user@1000.service/app.slice/"
                                     "app-gnome-org.gnome.Terminal-4711.scope\n"),
        "org.gnome.Terminal");
}

TEST(FrontAppIdentity, cgroupServiceAndFormsWithoutLauncher) {
    EXPECT_EQ(
        FrontAppIdentity::fromCgroup("0::/app.slice/app-flatpak-org.blender.Blender@12.service"),
        "org.blender.Blender");
    EXPECT_EQ(FrontAppIdentity::fromCgroup("0::/app.slice/app-org.kde.dolphin@ab12.service"),
              "org.kde.dolphin");
    EXPECT_EQ(FrontAppIdentity::fromCgroup("0::/app.slice/app-org.kde.kate-99.scope"),
              "org.kde.kate");
}

TEST(FrontAppIdentity, cgroupUnescapesDashesAndDropsDesktopSuffix) {
    EXPECT_EQ(FrontAppIdentity::fromCgroup("0::/app.slice/app-kde-my\\x2dtool.desktop-5.scope"),
              "my-tool");
}

TEST(FrontAppIdentity, cgroupOutsideAnAppUnitNamesNothing) {
    EXPECT_FALSE(FrontAppIdentity::fromCgroup("0::/user.slice/user-1000.slice/session-2.scope"));
    EXPECT_FALSE(FrontAppIdentity::fromCgroup("0::/init.scope"));
    EXPECT_FALSE(FrontAppIdentity::fromCgroup(""));
    EXPECT_FALSE(FrontAppIdentity::fromCgroup("0::/app.slice/app-1.scope"));
}

TEST(FrontAppIdentity, flatpakInfoNameOfTheApplicationGroup) {
    EXPECT_EQ(FrontAppIdentity::fromFlatpakInfo("[Runtime]\nname=org.kde.Platform\n\n"
                                                "[Application]\nname = org.inkscape.Inkscape\n"),
              "org.inkscape.Inkscape");
    EXPECT_FALSE(FrontAppIdentity::fromFlatpakInfo("[Runtime]\nname=org.kde.Platform\n"));
}

TEST(FrontAppIdentity, processLooksAtCgroupThenFlatpak) {
    TempFolder t;
    t.write("proc/10/cgroup", "0::/app.slice/app-gnome-org.a.App-1.scope\n");
    t.write("proc/11/cgroup", "0::/user.slice/session-1.scope\n");
    t.write("proc/11/root/.flatpak-info", "[Application]\nname=org.b.App\n");
    t.write("proc/12/cgroup", "0::/user.slice/session-1.scope\n");
    FrontAppIdentity identity(t.path + "/proc", {});
    EXPECT_EQ(identity.ofProcess(10), "org.a.App");
    EXPECT_EQ(identity.ofProcess(11), "org.b.App");
    EXPECT_FALSE(identity.ofProcess(12));
    EXPECT_FALSE(identity.ofProcess(13));
    EXPECT_FALSE(identity.ofProcess(0));
}

TEST(FrontAppIdentity, windowClassFindsItsDesktopFileElseNamesItself) {
    TempFolder t;
    t.write("apps1/other.desktop", "[Desktop Entry]\nName=Other\n");
    t.write("apps2/org.blender.Blender.desktop",
            "[Desktop Entry]\nName=Blender\nStartupWMClass=Blender\n");
    FrontAppIdentity identity(t.path + "/proc",
                              {t.path + "/apps1", t.path + "/missing", t.path + "/apps2"});
    EXPECT_EQ(identity.ofWindow(std::nullopt, "Blender"), "org.blender.Blender");
    EXPECT_EQ(identity.ofWindow(55, "xterm"), "xterm");
    EXPECT_FALSE(identity.ofWindow(std::nullopt, ""));
}

TEST(SimulatedFrontApp, activationCallsBackAndAnswersLookups) {
    SimulatedFrontApp front;
    int calls = 0;
    front.onActivate = [&] { ++calls; };
    EXPECT_FALSE(front.frontmost());
    front.activate(FrontmostApp{"a.app", 12});
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(front.frontmost(), (FrontmostApp{"a.app", 12}));
    front.setBundleID(12, "a.app");
    EXPECT_EQ(front.bundleID(12), "a.app");
    EXPECT_FALSE(front.bundleID(13));
}

namespace {

// A private X server for one test; the display number is chosen by the server.
class Xvfb {
public:
    Xvfb() {
        int fds[2];
        if (::pipe(fds) != 0) return;
        pid_ = ::fork();
        if (pid_ == 0) {
            ::close(fds[0]);
            std::string fd = std::to_string(fds[1]);
            int devnull = ::open("/dev/null", O_WRONLY);
            ::dup2(devnull, 2);
            ::execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-nolisten", "tcp", "-screen", "0",
                     "640x480x24", static_cast<char*>(nullptr));
            ::_exit(127);
        }
        ::close(fds[1]);
        // The server writes its display number and a line feed once it accepts clients.
        std::string number;
        char c;
        while (::read(fds[0], &c, 1) == 1 && c != '\n')
            number.push_back(c);
        ::close(fds[0]);
        if (!number.empty()) display_ = ":" + number;
    }
    ~Xvfb() {
        if (pid_ > 0) {
            ::kill(pid_, SIGTERM);
            ::waitpid(pid_, nullptr, 0);
        }
    }
    const std::string& display() const { return display_; }

private:
    pid_t pid_ = -1;
    std::string display_;
};

// Plays the window manager: windows with a pid and a class, and the active-window property.
class FakeDesktop {
public:
    explicit FakeDesktop(const std::string& display) {
        connection_ = xcb_connect(display.c_str(), nullptr);
        auto cookies = xcb_ewmh_init_atoms(connection_, &ewmh_);
        xcb_ewmh_init_atoms_replies(&ewmh_, cookies, nullptr);
        root_ = ewmh_.screens[0]->root;
    }
    ~FakeDesktop() {
        xcb_ewmh_connection_wipe(&ewmh_);
        xcb_disconnect(connection_);
    }
    xcb_window_t window(uint32_t pid, const std::string& cls) {
        xcb_window_t w = xcb_generate_id(connection_);
        xcb_create_window(connection_, XCB_COPY_FROM_PARENT, w, root_, 0, 0, 10, 10, 0,
                          XCB_WINDOW_CLASS_INPUT_OUTPUT, XCB_COPY_FROM_PARENT, 0, nullptr);
        xcb_ewmh_set_wm_pid(&ewmh_, w, pid);
        std::string value = "instance";
        value.push_back('\0');
        value += cls;
        value.push_back('\0');
        xcb_change_property(connection_, XCB_PROP_MODE_REPLACE, w, XCB_ATOM_WM_CLASS,
                            XCB_ATOM_STRING, 8, static_cast<uint32_t>(value.size()), value.data());
        windows_.push_back(w);
        xcb_ewmh_set_client_list(&ewmh_, 0, static_cast<uint32_t>(windows_.size()),
                                 windows_.data());
        xcb_flush(connection_);
        return w;
    }
    void activate(xcb_window_t w) {
        xcb_ewmh_set_active_window(&ewmh_, 0, w);
        xcb_flush(connection_);
    }

private:
    xcb_connection_t* connection_;
    xcb_ewmh_connection_t ewmh_{};
    xcb_window_t root_;
    std::vector<xcb_window_t> windows_;
};

} // namespace

TEST(FrontAppX11, followsTheActiveWindowAndNamesItsApp) {
    Xvfb server;
    ASSERT_FALSE(server.display().empty()) << "Xvfb did not start";
    TempFolder t;
    t.write("apps/org.blender.Blender.desktop", "[Desktop Entry]\nStartupWMClass=Blender\n");
    FakeDesktop desktop(server.display());
    xcb_window_t blender = desktop.window(4001, "Blender");
    xcb_window_t term = desktop.window(4002, "XTerm");

    kestrix::VirtualMainLoop loop;
    std::string why;
    auto front = FrontAppX11::connect(loop, server.display().c_str(),
                                      FrontAppIdentity(t.path + "/proc", {t.path + "/apps"}), why);
    ASSERT_TRUE(front) << why;
    int activations = 0;
    front->onActivate = [&] { ++activations; };
    EXPECT_FALSE(front->frontmost());

    desktop.activate(blender);
    ASSERT_TRUE(loop.runUntil([&] { return activations == 1; }));
    EXPECT_EQ(front->frontmost(), (FrontmostApp{"org.blender.Blender", 4001}));

    desktop.activate(term);
    ASSERT_TRUE(loop.runUntil([&] { return activations == 2; }));
    EXPECT_EQ(front->frontmost(), (FrontmostApp{"XTerm", 4002}));

    EXPECT_EQ(front->bundleID(4001), "org.blender.Blender");
    EXPECT_FALSE(front->bundleID(4999));
}

TEST(FrontAppX11, unreachableDisplayGivesNoWatcher) {
    kestrix::VirtualMainLoop loop;
    std::string why;
    auto front = FrontAppX11::connect(loop, ":4097", FrontAppIdentity("/proc", {}), why);
    EXPECT_FALSE(front);
    EXPECT_EQ(why, "cannot reach the X display :4097");
}
