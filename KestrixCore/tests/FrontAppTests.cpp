#include "TempFolder.h"
#include "FrontAppX11.h"
#include "KestrixCore/FrontApp.h"
#include "KestrixCore/FrontAppIdentity.h"
#include "KestrixProtocol/VirtualMainLoop.h"
#include "X11TestDesktop.h"

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

using testsupport::TempFolder;


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

using x11test::FakeDesktop;
using x11test::Xvfb;

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

// WM_CLASS is of type STRING, which is Latin-1; some toolkits put UTF-8 there all the same.
// Either way the app's name reaches the clients (and the settings) as UTF-8.
TEST(FrontAppX11, windowClassesInLatin1OrUTF8AreNamedInUTF8) {
    Xvfb server;
    ASSERT_FALSE(server.display().empty()) << "Xvfb did not start";
    TempFolder t;
    FakeDesktop desktop(server.display());
    // "Écrivain" in Latin-1 and in UTF-8.
    const std::string inLatin1 = std::string("\xC9") + "crivain";
    const std::string inUTF8 = std::string("\xC3\x89") + "crivain";
    xcb_window_t latin1 = desktop.window(4001, inLatin1);
    xcb_window_t utf8 = desktop.window(4002, "Caf\xC3\xA9");

    kestrix::VirtualMainLoop loop;
    std::string why;
    auto front = FrontAppX11::connect(loop, server.display().c_str(),
                                      FrontAppIdentity(t.path + "/proc", {t.path + "/apps"}), why);
    ASSERT_TRUE(front) << why;
    int activations = 0;
    front->onActivate = [&] { ++activations; };
    desktop.activate(latin1);
    ASSERT_TRUE(loop.runUntil([&] { return activations == 1; }));
    EXPECT_EQ(front->frontmost(), (FrontmostApp{inUTF8, 4001}));
    desktop.activate(utf8);
    ASSERT_TRUE(loop.runUntil([&] { return activations == 2; }));
    EXPECT_EQ(front->frontmost(), (FrontmostApp{"Caf\xC3\xA9", 4002}));
    EXPECT_EQ(front->bundleID(4001), inUTF8);
}

// Desktop-file names are bytes in the file system, not necessarily UTF-8.
TEST(FrontAppIdentity, namesThatAreNotUTF8GetReplacementCharacters) {
    TempFolder t;
    t.write("apps/app\xFF.desktop", "[Desktop Entry]\nStartupWMClass=Odd\n");
    FrontAppIdentity identity(t.path + "/proc", {t.path + "/apps"});
    EXPECT_EQ(identity.ofWindow(std::nullopt, "Odd"), "app\uFFFD");
    EXPECT_EQ(FrontAppIdentity::fromCgroup("0::/user.slice/app-gnome-a\\xffb-1.scope\n"),
              "a\uFFFDb");
}

TEST(FrontAppX11, unreachableDisplayGivesNoWatcher) {
    kestrix::VirtualMainLoop loop;
    std::string why;
    auto front = FrontAppX11::connect(loop, ":4097", FrontAppIdentity("/proc", {}), why);
    EXPECT_FALSE(front);
    EXPECT_EQ(why, "cannot reach the X display :4097");
}
