// The real programs under real Wayland compositors: a simulated SpaceMouse in a real `kestrix`, a
// real `vantor` recording what it would post, and Qt windows with known app ids in headless sway
// (which lists its toplevels) or headless weston (which does not).
#include "EndToEndSupport.h"
#include "FrontAppWlroots.h"
#include "WaylandTestDesktop.h"

namespace {

using namespace e2e;

const std::string modellerID = "org.example.Modeller";
const std::string editorID = "org.example.Editor";

// The session's variables for a program on the compositor at `socket`.
std::map<std::string, std::string> waylandSession(const std::string& socket,
                                                  const std::string& runtime,
                                                  const std::string& desktop) {
    return {{"WAYLAND_DISPLAY", socket}, {"XDG_RUNTIME_DIR", runtime}, {"XDG_CURRENT_DESKTOP", desktop}};
}

// Sway with the modeller and then the editor open; the editor, opened last, has the focus. The
// test follows sway's toplevels itself to know when both are there.
struct SwayWithTwoApps {
    wltest::Sway sway;
    std::string windowLog = sway.folder() + "/windows.log";
    wltest::Child modeller, editor;
    kestrix::VirtualMainLoop loop;
    std::unique_ptr<kestrix::core::FrontAppWlroots> front;

    bool start() {
        if (sway.socket().empty()) return false;
        std::string why;
        front = kestrix::core::FrontAppWlroots::connect(
            loop, sway.socket(),
            std::make_shared<kestrix::core::FrontAppIdentity>("/nonexistent",
                                                              std::vector<std::string>{}),
            why);
        if (!front) return false;
        modeller = wltest::testWindow(sway.socket(), sway.clientRuntime(), modellerID, windowLog);
        if (!inFront(modellerID)) return false;
        editor = wltest::testWindow(sway.socket(), sway.clientRuntime(), editorID, windowLog);
        return inFront(editorID);
    }
    bool inFront(const std::string& id) {
        return loop.runUntil(
            [&] {
                auto app = front->frontmost();
                return app && app->bundleID == id;
            },
            20.0);
    }
    std::string diagnostics() const {
        return "sway:\n" + sway.logText() + "\nwindows:\n" + wltest::readFile(windowLog);
    }
};

// Waits until `part` shows in the broker's log after `from`; where it begins.
std::size_t waitInLog(const proc::Home& home, const std::string& part, std::size_t from = 0) {
    std::size_t at = std::string::npos;
    proc::waitInFolder(
        home.path + "/home",
        [&] {
            at = home.log().find(part, from);
            return at != std::string::npos;
        },
        30.0);
    return at;
}

// A client of the broker still gets its welcome.
bool brokerServes(const proc::Home& home) {
    kestrix::VirtualMainLoop loop;
    auto client = proc::connect(loop, home);
    if (!client) return false;
    client->send(kestrix::ClientMessage{proc::hello("Late client", std::nullopt)});
    return loop.runUntil(
        [&] { return client->count<kestrix::BrokerMessage::Welcome>() == 1; }, 10.0);
}

TEST(WaylandEndToEnd, underSwayTheAllowedAppInFrontHoldsTheDeviceAndTheOtherAppDoesNot) {
    SwayWithTwoApps desktop;
    ASSERT_TRUE(desktop.start()) << desktop.diagnostics();
    auto session = waylandSession(desktop.sway.socket(), desktop.sway.clientRuntime(), "sway");

    proc::Home home;
    home.devices(pushAndReleaseScript());
    std::ofstream(home.path + "/config/me.orvella.Vantor.json")
        << R"({"allowed_apps": ")" << modellerID << R"("})";
    std::string events = home.path + "/events.jsonl";
    proc::Broker broker(home, session);
    ASSERT_TRUE(broker.waitListening()) << broker.stderrText();
    // Started at login, as the autostart entry starts it: no window of its own comes up (sway
    // has no tray) to take the focus from the apps.
    Vantor vantor(home, session, events, "--login-item");
    ASSERT_NE(waitInLog(home, "Vantor"), std::string::npos) << vantor.stderrText();

    ASSERT_TRUE(desktop.sway.focus(modellerID));
    std::size_t held = waitInLog(home, "(front: " + modellerID + ")");
    ASSERT_NE(held, std::string::npos) << home.log() << "\nvantor:\n" << vantor.stderrText();
    ASSERT_TRUE(proc::waitInFolder(
        home.path, [&] { return !firstSequence(recorded(events)).empty(); }, 30.0))
        << "vantor:\n" << vantor.stderrText() << "\nbroker:\n" << broker.stderrText();

    ASSERT_TRUE(desktop.sway.focus(editorID));
    EXPECT_NE(waitInLog(home, "holder: nobody", held), std::string::npos) << home.log();
    EXPECT_TRUE(proc::contains(broker.stderrText(), "the app in front comes from the Wayland compositor"))
        << broker.stderrText();
    EXPECT_TRUE(proc::contains(vantor.stderrText(), "the app in front comes from the Wayland compositor"))
        << vantor.stderrText();
}

// Both programs outlive the compositor: the device is given to nobody and the broker goes on
// serving its clients. Qt ends a program whose own Wayland display went away, so vantor's windows
// are offscreen here; its app in front still comes from sway.
TEST(WaylandEndToEnd, whenSwayIsKilledBothProgramsGoOnWithoutAnAppInFront) {
    SwayWithTwoApps desktop;
    ASSERT_TRUE(desktop.start()) << desktop.diagnostics();
    auto session = waylandSession(desktop.sway.socket(), desktop.sway.clientRuntime(), "sway");
    ASSERT_TRUE(desktop.sway.focus(modellerID));

    proc::Home home;
    home.devices(pushAndReleaseScript());
    std::ofstream(home.path + "/config/me.orvella.Vantor.json")
        << R"({"allowed_apps": ")" << modellerID << R"("})";
    proc::Broker broker(home, session);
    ASSERT_TRUE(broker.waitListening()) << broker.stderrText();
    auto vantorSession = session;
    vantorSession["QT_QPA_PLATFORM"] = "offscreen";
    Vantor vantor(home, vantorSession, home.path + "/events.jsonl", "--login-item");
    std::size_t held = waitInLog(home, "(front: " + modellerID + ")");
    ASSERT_NE(held, std::string::npos) << home.log() << "\nvantor:\n" << vantor.stderrText();

    desktop.sway.kill();
    EXPECT_NE(waitInLog(home, "holder: nobody", held), std::string::npos) << home.log();
    const std::string gone = "no app in front: The Wayland compositor closed the connection.";
    EXPECT_NE(waitInLog(home, gone, held), std::string::npos) << home.log();
    EXPECT_TRUE(proc::waitInFolder(home.path, [&] { return proc::contains(vantor.stderrText(), gone); }))
        << vantor.stderrText();
    EXPECT_TRUE(brokerServes(home)) << broker.stderrText();
    EXPECT_FALSE(broker.waitExit(0).has_value()) << broker.stderrText();
    EXPECT_TRUE(vantor.running()) << vantor.stderrText();
}

// weston lists no toplevels to clients: the programs say so, find no app in front, and run on.
TEST(WaylandEndToEnd, underACompositorWithoutTheToplevelListBothProgramsSayWhyAndRunOn) {
    wltest::Weston weston;
    ASSERT_FALSE(weston.socket().empty());
    auto session = waylandSession(weston.socket(), weston.clientRuntime(), "weston");

    proc::Home home;
    home.devices(R"({"devices": []})");
    proc::Broker broker(home, session);
    ASSERT_TRUE(broker.waitListening()) << broker.stderrText();
    Vantor vantor(home, session, home.path + "/events.jsonl", "--login-item");
    ASSERT_NE(waitInLog(home, "Vantor"), std::string::npos) << vantor.stderrText();

    const std::string why = "does not tell which window is active (it offers no "
                            "zwlr_foreign_toplevel_manager_v1)";
    EXPECT_TRUE(proc::contains(broker.stderrText(), why)) << broker.stderrText();
    EXPECT_TRUE(proc::waitInFolder(home.path, [&] { return proc::contains(vantor.stderrText(), why); }))
        << vantor.stderrText();
    EXPECT_TRUE(brokerServes(home)) << broker.stderrText();
    EXPECT_TRUE(vantor.running()) << vantor.stderrText();
}

} // namespace
