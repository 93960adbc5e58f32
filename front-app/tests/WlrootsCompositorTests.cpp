// The wlroots source under real compositors: headless sway with Qt windows whose app ids are
// known, sway killed under it, and weston, which lists no toplevels to clients.
#include "FrontAppWlroots.h"
#include "KestrixProtocol/VirtualMainLoop.h"
#include "WaylandTestDesktop.h"

#include <gtest/gtest.h>

using namespace kestrix::core;
using kestrix::VirtualMainLoop;

namespace {

std::shared_ptr<const FrontAppIdentity> noDesktop() {
    return std::make_shared<FrontAppIdentity>("/nonexistent", std::vector<std::string>{});
}

// Headless sway and the source connected to it; test windows are opened on it.
struct SwaySource {
    wltest::Sway sway;
    VirtualMainLoop loop;
    std::unique_ptr<FrontAppWlroots> source;
    std::string why;
    std::string windowLog = sway.folder() + "/windows.log";

    SwaySource() {
        if (!sway.socket().empty()) source = FrontAppWlroots::connect(loop, sway.socket(), noDesktop(), why);
    }
    std::string diagnostics() const {
        return why + "\nsway:\n" + sway.logText() + "\nwindows:\n" + wltest::readFile(windowLog);
    }
    wltest::Child window(const std::string& appID) {
        return wltest::testWindow(sway.socket(), sway.clientRuntime(), appID, windowLog);
    }
    // Waits until the app in front is `id` (absent: no app in front).
    bool front(std::optional<std::string> id) {
        return loop.runUntil(
            [&] {
                auto app = source->frontmost();
                return id ? app && app->bundleID == id : !app;
            },
            20.0);
    }
};

} // namespace

TEST(WlrootsCompositor, underSwayTheFocusedWindowIsInFrontAndAnEmptyWorkspaceHasNone) {
    SwaySource s;
    ASSERT_TRUE(s.source) << s.diagnostics();
    EXPECT_EQ(s.source->version(), 3u);
    EXPECT_EQ(s.source->frontmost(), std::nullopt) << "no window yet";
    int activations = 0;
    s.source->onActivate = [&] { ++activations; };

    // A new window takes the focus.
    auto modeller = s.window("org.example.Modeller");
    ASSERT_TRUE(s.front("org.example.Modeller")) << s.diagnostics();
    auto editor = s.window("org.example.Editor");
    ASSERT_TRUE(s.front("org.example.Editor")) << s.diagnostics();
    ASSERT_TRUE(s.sway.focus("org.example.Modeller"));
    ASSERT_TRUE(s.front("org.example.Modeller"));
    int before = activations;

    // An empty workspace: no window is activated, so no app is in front.
    ASSERT_TRUE(s.sway.command("workspace 2"));
    ASSERT_TRUE(s.front(std::nullopt));
    EXPECT_EQ(activations, before + 1);
    ASSERT_TRUE(s.sway.command("workspace 1"));
    ASSERT_TRUE(s.front("org.example.Modeller"));

    // Closed windows leave no app in front.
    editor.kill();
    modeller.kill();
    ASSERT_TRUE(s.front(std::nullopt));
    EXPECT_TRUE(s.source->status().working());
}

TEST(WlrootsCompositor, swayKilledLeavesTheSourceUnavailableWithoutAnAppInFront) {
    SwaySource s;
    ASSERT_TRUE(s.source) << s.diagnostics();
    auto editor = s.window("org.example.Editor");
    ASSERT_TRUE(s.front("org.example.Editor")) << s.diagnostics();

    int statusChanges = 0;
    s.source->onStatusChange = [&] { ++statusChanges; };
    s.sway.kill();
    ASSERT_TRUE(s.loop.runUntil([&] { return statusChanges == 1; }, 20.0));
    EXPECT_FALSE(s.source->status().working());
    EXPECT_NE(s.source->status().reason.find("closed the connection"), std::string::npos)
        << s.source->status().reason;
    EXPECT_EQ(s.source->frontmost(), std::nullopt);
}

// weston has no toplevel list for clients: the wlroots source cannot serve under it.
TEST(WlrootsCompositor, westonOffersNoToplevelListAndTheSourceSaysSo) {
    wltest::Weston weston;
    ASSERT_FALSE(weston.socket().empty());
    VirtualMainLoop loop;
    std::string why;
    EXPECT_FALSE(FrontAppWlroots::connect(loop, weston.socket(), noDesktop(), why));
    EXPECT_NE(why.find("zwlr_foreign_toplevel_manager_v1"), std::string::npos) << why;

    EXPECT_FALSE(FrontAppWlroots::connect(loop, weston.socket() + "-none", noDesktop(), why));
    EXPECT_NE(why.find("Cannot reach the Wayland compositor"), std::string::npos) << why;
}
