// Vantor's own settings window in front, with the real programs on a private X server: run from
// the build tree with no desktop entry installed, its window's class is no installed app, yet it
// is Vantor to both programs, so the broker hands the device to Vantor for the preview.
#include "EndToEndSupport.h"
#include "X11TestDesktop.h"

namespace {

using namespace e2e;

TEST(OwnWindowEndToEnd, theSettingsWindowInFrontIsVantorWithoutADesktopEntry) {
    x11test::Xvfb server;
    ASSERT_FALSE(server.display().empty()) << "Xvfb did not start";
    x11test::FakeDesktop desktop(server.display());

    proc::Home home;
    home.devices(pushAndReleaseScript());
    home.write("data/applications/.keep", "");
    home.write("share/applications/.keep", "");
    std::ofstream(home.path + "/config/me.orvella.Vantor.json") << R"({"welcomed": true})";
    // A runtime folder of its own: the second start must reach this test's vantor, not another's.
    ::mkdir((home.path + "/runtime").c_str(), 0700);
    // The settings window must be a window of the X server.
    const std::map<std::string, std::string> session = {
        {"DISPLAY", server.display()},
        {"QT_QPA_PLATFORM", "xcb"},
        {"XDG_DATA_DIRS", home.path + "/share"},
        {"XDG_RUNTIME_DIR", home.path + "/runtime"}};

    proc::Broker broker(home, session);
    ASSERT_TRUE(broker.waitListening()) << broker.stderrText();
    Vantor vantor(home, session, home.path + "/events.jsonl");
    auto connected = [&] {
        return vantor.stderrText().find("connected to Kestrix") != std::string::npos;
    };
    ASSERT_TRUE(proc::waitInFolder(home.path, connected, 30.0)) << vantor.stderrText();

    // A second start opens the running one's settings window.
    Vantor second(home, session, home.path + "/second-events.jsonl");
    xcb_window_t settings = desktop.waitMappedWindowOf(std::uint32_t(vantor.pid()), 30.0);
    ASSERT_NE(settings, 0u) << vantor.stderrText();
    desktop.activate(settings);

    auto taken = [&] {
        return vantor.stderrText().find("taking the SpaceMouse (frontmost me.orvella.Vantor)") !=
               std::string::npos;
    };
    EXPECT_TRUE(proc::waitInFolder(home.path, taken, 30.0)) << "vantor:\n"
                                                            << vantor.stderrText() << "\nbroker:\n"
                                                            << broker.stderrText();
    EXPECT_NE(broker.stderrText().find("holder: Vantor"), std::string::npos) << broker.stderrText();
}

} // namespace
