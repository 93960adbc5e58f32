#include "FrontApp/FrontApp.h"
#include "FrontApp/FrontAppIdentity.h"
#include "FrontAppX11.h"
#include "KestrixProtocol/VirtualMainLoop.h"
#include "TempFolder.h"
#include "X11TestDesktop.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

using namespace kestrix::core;
using testsupport::TempFolder;

TEST(FrontAppIdentity, appUnitsInTheCgroupNameTheApp) {
    const std::vector<std::pair<const char*, std::optional<std::string>>> rows = {
        {"0::/user.slice/user-1000.slice/user@1000.service/app.slice/"
         "app-gnome-org.gnome.Terminal-4711.scope\n",
         "org.gnome.Terminal"},
        {"0::/app.slice/app-flatpak-org.blender.Blender@12.service", "org.blender.Blender"},
        {"0::/app.slice/app-org.kde.dolphin@ab12.service", "org.kde.dolphin"},
        {"0::/app.slice/app-org.kde.kate-99.scope", "org.kde.kate"},
        {"0::/app.slice/app-kde-my\\x2dtool.desktop-5.scope", "my-tool"},
        {"0::/user.slice/app-gnome-a\\xffb-1.scope\n", "a\uFFFDb"}, // not UTF-8
        {"0::/user.slice/user-1000.slice/session-2.scope", std::nullopt},
        {"0::/init.scope", std::nullopt},
        {"", std::nullopt},
        {"0::/app.slice/app-1.scope", std::nullopt},
    };
    for (const auto& [cgroup, app] : rows)
        EXPECT_EQ(FrontAppIdentity::fromCgroup(cgroup), app) << cgroup;
}

// A process is named by its app unit, else by its Flatpak; a window by its process, else by the
// desktop file that claims its class, else by the class. Desktop-file names are bytes in the file
// system, not necessarily UTF-8.
TEST(FrontAppIdentity, processesByCgroupThenFlatpakWindowsByProcessThenDesktopFileThenClass) {
    TempFolder t;
    t.write("proc/10/cgroup", "0::/app.slice/app-gnome-org.a.App-1.scope\n");
    t.write("proc/11/cgroup", "0::/user.slice/session-1.scope\n");
    t.write("proc/11/root/.flatpak-info", "[Runtime]\nname=org.kde.Platform\n\n"
                                          "[Application]\n  name = org.b.App  \n");
    t.write("proc/12/cgroup", "0::/user.slice/session-1.scope\n");
    t.write("proc/12/root/.flatpak-info", "[Runtime]\nname=org.kde.Platform\n");
    t.write("apps1/other.desktop", "[Desktop Entry]\nName=Other\n");
    t.write("apps2/org.blender.Blender.desktop",
            "[Desktop Entry]\nName=Blender\nStartupWMClass=Blender\n");
    t.write("apps2/app\xFF.desktop", "[Desktop Entry]\nStartupWMClass=Odd\n");
    FrontAppIdentity identity(t.path + "/proc",
                              {t.path + "/apps1", t.path + "/missing", t.path + "/apps2"});
    EXPECT_EQ(identity.ofProcess(10), "org.a.App");
    EXPECT_EQ(identity.ofProcess(11), "org.b.App");
    EXPECT_FALSE(identity.ofProcess(12));
    EXPECT_FALSE(identity.ofProcess(13));
    EXPECT_FALSE(identity.ofProcess(0));
    auto ofWindow = [&](std::optional<std::int32_t> processID, std::string windowClass) {
        return identity.ofWindow({processID, {}, {}, std::move(windowClass)});
    };
    EXPECT_EQ(ofWindow(10, "Blender"), "org.a.App");
    EXPECT_EQ(ofWindow(std::nullopt, "Blender"), "org.blender.Blender");
    EXPECT_EQ(ofWindow(std::nullopt, "Odd"), "app\uFFFD");
    EXPECT_EQ(ofWindow(55, "xterm"), "xterm");
    EXPECT_FALSE(ofWindow(std::nullopt, ""));
}

// WM_CLASS is of type STRING, which is Latin-1; some toolkits put UTF-8 there all the same.
// Either way the app's name reaches the clients (and the settings) as UTF-8.
TEST(FrontAppX11, followsTheActiveWindowAndNamesItsAppInUTF8) {
    x11test::Xvfb server;
    ASSERT_FALSE(server.display().empty()) << "Xvfb did not start";
    TempFolder t;
    t.write("apps/org.blender.Blender.desktop", "[Desktop Entry]\nStartupWMClass=Blender\n");
    t.write("apps/display-im6.q16.desktop", "[Desktop Entry]\nName=ImageMagick\n");
    x11test::FakeDesktop desktop(server.display());
    const std::string inUTF8 = "\xC3\x89"
                               "crivain";
    const std::vector<std::pair<xcb_window_t, FrontmostApp>> rows = {
        {desktop.window(4001, "Blender"), {"org.blender.Blender", 4001}},
        {desktop.window(4002, "XTerm"), {"XTerm", 4002}},
        {desktop.window(4003, "\xC9"
                              "crivain"),
         {inUTF8, 4003}}, // Latin-1
        {desktop.window(4004, "Caf\xC3\xA9"), {"Caf\xC3\xA9", 4004}},
        {desktop.window(4005, "Display-im6.q16", "display-im6.q16"), {"display-im6.q16", 4005}},
    };

    kestrix::VirtualMainLoop loop;
    std::string why;
    auto front =
        FrontAppX11::connect(loop, server.display().c_str(),
                             std::make_shared<FrontAppIdentity>(
                                 t.path + "/proc", std::vector<std::string>{t.path + "/apps"}),
                             why);
    ASSERT_TRUE(front) << why;
    int activations = 0;
    front->onActivate = [&] { ++activations; };
    EXPECT_FALSE(front->frontmost());
    for (const auto& [window, app] : rows) {
        const int before = activations;
        desktop.activate(window);
        ASSERT_TRUE(loop.runUntil([&] { return activations > before; }));
        EXPECT_EQ(front->frontmost(), app);
    }
    EXPECT_EQ(front->bundleID(4001), "org.blender.Blender");
    EXPECT_EQ(front->bundleID(4003), inUTF8);
    EXPECT_FALSE(front->bundleID(4999));

    EXPECT_TRUE(front->status().working());

    std::string unreachable;
    EXPECT_FALSE(FrontAppX11::connect(
        loop, ":4097", std::make_shared<FrontAppIdentity>("/proc", std::vector<std::string>{}),
        unreachable));
    EXPECT_EQ(unreachable, "cannot reach the X display :4097");
}

// A display whose window manager does not tell the active window (here none runs yet) has no
// app in front and says why until one comes; one that goes away leaves no app in front, and the
// status says what happened.
TEST(FrontAppX11, aDisplayWithoutTheActiveWindowOrThatGoesAwayLeavesNoAppInFrontAndSaysSo) {
    auto server = std::make_unique<x11test::Xvfb>();
    ASSERT_FALSE(server->display().empty()) << "Xvfb did not start";
    const std::string display = server->display();
    kestrix::VirtualMainLoop loop;
    std::string why;
    auto front = FrontAppX11::connect(
        loop, display.c_str(),
        std::make_shared<FrontAppIdentity>("/proc", std::vector<std::string>{}), why);
    ASSERT_TRUE(front) << why;
    EXPECT_EQ(front->status(),
              FrontAppStatus::unavailable(
                  "The window manager of the X display " + display +
                  " does not tell which window is active (_NET_ACTIVE_WINDOW), so the app in "
                  "front is not known; it is followed as soon as one that does runs."));
    int activations = 0;
    front->onActivate = [&] { ++activations; };
    {
        x11test::FakeDesktop desktop(display);
        desktop.activate(desktop.window(4001, "XTerm"));
        ASSERT_TRUE(loop.runUntil([&] { return activations > 0; }));
    }
    EXPECT_TRUE(front->frontmost());
    int statusChanges = 0;
    front->onStatusChange = [&] { ++statusChanges; };
    server.reset();
    ASSERT_TRUE(loop.runUntil([&] { return statusChanges > 0; }));
    EXPECT_FALSE(front->frontmost());
    EXPECT_EQ(front->status(),
              FrontAppStatus::unavailable("The X display " + display +
                                          " went away. Start Vantor again in the new desktop "
                                          "session."));
}
