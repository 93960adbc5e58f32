// The wlroots source against a stand-in compositor that writes the wire protocol itself: what it
// binds, what it makes of the toplevels' events, and how it ends when the compositor misbehaves.
#include "FakeCompositor.h"
#include "FrontAppWlroots.h"
#include "KestrixProtocol/VirtualMainLoop.h"

#include <gtest/gtest.h>

using namespace kestrix::core;
using kestrix::VirtualMainLoop;
using wltest::FakeCompositor;
using wltest::Global;
using wltest::HandleEvent;
using wltest::Message;

namespace {

const std::string manager = "zwlr_foreign_toplevel_manager_v1";

std::shared_ptr<const FrontAppIdentity> noDesktop() {
    return std::make_shared<FrontAppIdentity>("/nonexistent", std::vector<std::string>{});
}

std::optional<std::string> frontID(FrontApp& source) {
    auto app = source.frontmost();
    return app ? app->bundleID : std::nullopt;
}

// A source connected to a stand-in compositor, counting what it tells.
struct Connected {
    VirtualMainLoop loop;
    FakeCompositor compositor;
    std::unique_ptr<FrontAppWlroots> source;
    std::string why;
    int activations = 0;
    int statusChanges = 0;

    explicit Connected(std::vector<FakeCompositor::Open> open = {},
                       std::vector<Global> globals = {{"wl_seat", 7}, {manager, 3}})
        : compositor(std::move(globals), true, [this] { loop.post([] {}); }) {
        compositor.openAtBind(std::move(open));
        source = FrontAppWlroots::connectToSocket(loop, compositor.clientSocket(), noDesktop(), why);
        if (!source) return;
        source->onActivate = [this] { ++activations; };
        source->onStatusChange = [this] { ++statusChanges; };
    }
    std::uint32_t handle(int index) const { return FakeCompositor::firstServerID + index; }
};

} // namespace

TEST(FrontAppWlroots, bindsTheToplevelListAtVersionThreeAtMost) {
    for (auto [offered, bound] : {std::pair{1u, 1u}, {2u, 2u}, {3u, 3u}, {7u, 3u}}) {
        Connected c({}, {{"wl_output", 4}, {manager, offered}});
        ASSERT_TRUE(c.source) << c.why;
        EXPECT_EQ(c.source->version(), bound) << offered;
        EXPECT_EQ(c.compositor.boundVersion(), bound) << offered;
        EXPECT_TRUE(c.source->status().working());
    }
}

TEST(FrontAppWlroots, aCompositorWithoutTheToplevelListIsNoSourceAndSaysWhy) {
    Connected c({}, {{"wl_compositor", 5}, {"wl_seat", 7}, {"zwlr_foreign_toplevel_manager_v2", 1}});
    EXPECT_FALSE(c.source);
    EXPECT_NE(c.why.find("does not tell which window is active"), std::string::npos) << c.why;
    EXPECT_NE(c.why.find(manager), std::string::npos) << c.why;
}

// The compositor never answers: the source gives up after the time it was given.
TEST(FrontAppWlroots, aCompositorThatDoesNotAnswerIsNoSource) {
    VirtualMainLoop loop;
    FakeCompositor silent({{manager, 3}}, false);
    std::string why;
    auto source = FrontAppWlroots::connectToSocket(loop, silent.clientSocket(), noDesktop(), why, 0.05);
    EXPECT_FALSE(source);
    EXPECT_NE(why.find("did not answer within 0.05 s"), std::string::npos) << why;
}

TEST(FrontAppWlroots, theToplevelActivatedAtTheStartIsInFrontRightAway) {
    Connected c({{"org.example.Editor", {0}}, {"org.example.Modeller", {2}}, {"", {}}});
    ASSERT_TRUE(c.source) << c.why;
    EXPECT_EQ(frontID(*c.source), "org.example.Modeller");
    EXPECT_EQ(c.source->frontmost()->processID, std::nullopt) << "the protocol tells no process";
    EXPECT_EQ(c.activations, 0);
}

// The compositor moves the focus as sway does: the old window loses it, then the new one gains
// it, each change ended by a done. Every change of the app in front is told once.
TEST(FrontAppWlroots, followsTheActivatedToplevelAndNoneActivatedMeansNoApp) {
    Connected c({{"org.example.Editor", {2}}});
    ASSERT_TRUE(c.source) << c.why;
    auto editor = c.handle(0);
    auto modeller = c.compositor.newToplevel();
    c.compositor.toplevel(modeller, "org.example.Modeller", {});
    c.compositor.toplevel(editor, "org.example.Editor", {});
    c.compositor.toplevel(modeller, "org.example.Modeller", {0, 2});
    ASSERT_TRUE(c.loop.runUntil([&] { return frontID(*c.source) == "org.example.Modeller"; }));
    EXPECT_EQ(c.activations, 2); // none, then the modeller

    // A launcher of the shell takes the keyboard: no toplevel is activated.
    c.compositor.toplevel(modeller, "org.example.Modeller", {0});
    ASSERT_TRUE(c.loop.runUntil([&] { return c.activations == 3; }));
    EXPECT_EQ(c.source->frontmost(), std::nullopt);

    // Events without their done change nothing yet: a window activated after them (on another
    // seat) is in front once they have been read, and the first one only with its done.
    c.compositor.send(Message(editor, HandleEvent::state).values({2}));
    c.compositor.send(Message(editor, HandleEvent::title).string("a title"));
    c.compositor.send(Message(editor, HandleEvent::parent).uint(0));
    c.compositor.toplevel(c.compositor.newToplevel(), "org.example.Viewer", {2});
    ASSERT_TRUE(c.loop.runUntil([&] { return frontID(*c.source) == "org.example.Viewer"; }));
    c.compositor.send(Message(editor, HandleEvent::done));
    ASSERT_TRUE(c.loop.runUntil([&] { return frontID(*c.source) == "org.example.Editor"; }));
    EXPECT_EQ(c.activations, 5);
    EXPECT_TRUE(c.source->status().working());
}

// The app id is outside text: only what the identity rule takes as an id names the app.
TEST(FrontAppWlroots, appIDsThatAreNoIDsNameNoApp) {
    const struct {
        std::string appID;
        std::optional<std::string> id;
    } rows[] = {
        {"org.example.Editor", "org.example.Editor"},
        {std::string(255, 'a'), std::string(255, 'a')},
        {std::string(256, 'a'), std::nullopt},
        {"org.example\tEditor", std::nullopt},
        {"org.example.Editor\n", std::nullopt},
        {"", std::nullopt},
    };
    for (const auto& row : rows) {
        Connected c({{row.appID, {2}}});
        ASSERT_TRUE(c.source) << c.why;
        ASSERT_TRUE(c.source->frontmost()) << "a window is in front, with or without an id";
        EXPECT_EQ(c.source->frontmost()->bundleID, row.id) << row.appID.size();
    }
}

TEST(FrontAppWlroots, aClosedToplevelLeavesTheFrontAndItsHandleIsDestroyed) {
    Connected c({{"org.example.Editor", {}}, {"org.example.Modeller", {2}}});
    ASSERT_TRUE(c.source) << c.why;
    c.compositor.send(Message(c.handle(0), HandleEvent::closed));
    c.compositor.send(Message(c.handle(1), HandleEvent::closed));
    ASSERT_TRUE(c.loop.runUntil([&] { return c.compositor.destroyed().size() == 2; }));
    EXPECT_EQ(c.compositor.destroyed(), (std::vector<std::uint32_t>{c.handle(0), c.handle(1)}));
    EXPECT_EQ(c.source->frontmost(), std::nullopt);
    EXPECT_EQ(c.activations, 1);
}

// Whatever way the compositor ends, the source turns unavailable, says why, tells once that no
// app is in front, and the loop goes on serving everything else.
TEST(FrontAppWlroots, aCompositorThatEndsOrMisbehavesLeavesTheSourceUnavailable) {
    const struct {
        const char* what;
        std::function<void(Connected&)> end;
        const char* reason;
    } rows[] = {
        {"an unknown toplevel event",
         [](Connected& c) { c.compositor.send(Message(c.handle(0), 8).uint(1)); },
         "no longer understand each other"},
        {"a protocol error",
         [](Connected& c) {
             c.compositor.send(Message(1, 0).uint(c.compositor.manager()).uint(0).string("bad"));
         },
         "zwlr_foreign_toplevel_manager_v1 error 0"},
        {"a hang-up", [](Connected& c) { c.compositor.hangUp(); }, "closed the connection"},
        {"the list finished",
         [](Connected& c) { c.compositor.send(Message(c.compositor.manager(), 1)); },
         "stopped telling"},
        {"the list taken away",
         [](Connected& c) { c.compositor.send(Message(c.compositor.registry(), 1).uint(2)); },
         "took away its list"},
    };
    for (const auto& row : rows) {
        Connected c({{"org.example.Editor", {2}}});
        ASSERT_TRUE(c.source) << c.why;
        row.end(c);
        ASSERT_TRUE(c.loop.runUntil([&] { return c.statusChanges > 0; })) << row.what;
        auto status = c.source->status();
        EXPECT_FALSE(status.working()) << row.what;
        EXPECT_NE(status.reason.find(row.reason), std::string::npos) << row.what << ": " << status.reason;
        EXPECT_EQ(c.source->frontmost(), std::nullopt) << row.what;
        EXPECT_EQ(c.activations, 1) << row.what;

        // The source lets the connection go, so nothing more can come; the loop runs on.
        c.compositor.toplevel(c.handle(0), "org.example.Editor", {2});
        EXPECT_TRUE(c.loop.runUntil([&] { return c.compositor.clientGone(); })) << row.what;
        bool ran = false;
        c.loop.post([&] { ran = true; });
        EXPECT_TRUE(c.loop.runUntil([&] { return ran; })) << row.what;
        EXPECT_EQ(c.source->frontmost(), std::nullopt) << row.what;
        EXPECT_EQ(c.statusChanges, 1) << row.what;
        EXPECT_EQ(c.activations, 1) << row.what;
    }
}

// The protocol gives no process ids: a process is named by its cgroup or Flatpak alone.
TEST(FrontAppWlroots, aProcessIsNamedByTheIdentityRule) {
    Connected c;
    ASSERT_TRUE(c.source) << c.why;
    EXPECT_EQ(c.source->bundleID(::getpid()),
              FrontAppIdentity("/proc", std::vector<std::string>{}).ofProcess(::getpid()));
    EXPECT_EQ(c.source->bundleID(0), std::nullopt);
}
