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

std::optional<std::string> frontID(FrontApp& source) {
    auto app = source.frontmost();
    return app ? app->bundleID : std::nullopt;
}

} // namespace

TEST(WlrootsCompositor, underSwayTheFocusedWindowIsInFrontAndAnEmptyWorkspaceHasNone) {
    wltest::Sway sway;
    ASSERT_FALSE(sway.socket().empty()) << sway.logText();
    VirtualMainLoop loop;
    std::string why;
    auto source = FrontAppWlroots::connect(loop, sway.socket(), noDesktop(), why);
    ASSERT_TRUE(source) << why;
    EXPECT_EQ(source->version(), 3u);
    EXPECT_EQ(source->frontmost(), std::nullopt) << "no window yet";
    int activations = 0;
    source->onActivate = [&] { ++activations; };
    auto front = [&](const char* id) {
        return loop.runUntil([&] { return frontID(*source) == id; }, 20.0);
    };

    // A new window takes the focus.
    auto log = sway.folder() + "/windows.log";
    auto modeller = wltest::testWindow(sway.socket(), sway.clientRuntime(), "org.example.Modeller", log);
    ASSERT_TRUE(front("org.example.Modeller")) << wltest::readText(log);
    auto editor = wltest::testWindow(sway.socket(), sway.clientRuntime(), "org.example.Editor", log);
    ASSERT_TRUE(front("org.example.Editor")) << wltest::readText(log);
    ASSERT_TRUE(sway.focus("org.example.Modeller"));
    ASSERT_TRUE(front("org.example.Modeller"));
    int before = activations;

    // An empty workspace: no window is activated, so no app is in front.
    ASSERT_TRUE(sway.command("workspace 2"));
    ASSERT_TRUE(loop.runUntil([&] { return !source->frontmost(); }, 20.0));
    EXPECT_EQ(activations, before + 1);
    ASSERT_TRUE(sway.command("workspace 1"));
    ASSERT_TRUE(loop.runUntil([&] { return source->frontmost().has_value(); }, 20.0));

    // A closed window leaves the front to the one sway focuses next.
    editor.kill();
    modeller.kill();
    ASSERT_TRUE(loop.runUntil([&] { return !source->frontmost(); }, 20.0));
    EXPECT_TRUE(source->status().working());
}

TEST(WlrootsCompositor, swayKilledLeavesTheSourceUnavailableWithoutAnAppInFront) {
    wltest::Sway sway;
    ASSERT_FALSE(sway.socket().empty()) << sway.logText();
    VirtualMainLoop loop;
    std::string why;
    auto source = FrontAppWlroots::connect(loop, sway.socket(), noDesktop(), why);
    ASSERT_TRUE(source) << why;
    auto log = sway.folder() + "/windows.log";
    auto editor = wltest::testWindow(sway.socket(), sway.clientRuntime(), "org.example.Editor", log);
    ASSERT_TRUE(loop.runUntil([&] { return frontID(*source) == "org.example.Editor"; }, 20.0));

    int statusChanges = 0;
    source->onStatusChange = [&] { ++statusChanges; };
    sway.kill();
    ASSERT_TRUE(loop.runUntil([&] { return statusChanges == 1; }, 20.0));
    EXPECT_FALSE(source->status().working());
    EXPECT_NE(source->status().reason.find("closed the connection"), std::string::npos)
        << source->status().reason;
    EXPECT_EQ(source->frontmost(), std::nullopt);
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
