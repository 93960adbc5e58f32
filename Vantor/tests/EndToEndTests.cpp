// The whole road of a cap movement with the real programs: a simulated SpaceMouse in a real
// `kestrix`, a real `vantor` recording what it would post, and a private X server whose active
// window is an app the user switched on.
#include "EndToEndSupport.h"
#include "X11TestDesktop.h"

namespace {

using namespace e2e;

TEST(EndToEnd, pushAndReleaseOfTheCapScrollsWithMomentumInTheAppInFront) {
    x11test::Xvfb server;
    ASSERT_FALSE(server.display().empty()) << "Xvfb did not start";
    x11test::FakeDesktop desktop(server.display());
    // A process id that does not exist: the app is known by its window class alone.
    desktop.activate(desktop.window(999999, "org.example.Editor"));

    proc::Home home;
    home.devices(pushAndReleaseScript());
    std::ofstream(home.path + "/config/me.orvella.Vantor.json")
        << R"({"allowed_apps": "org.example.Editor"})";
    std::string events = home.path + "/events.jsonl";

    proc::Broker broker(home, {{"DISPLAY", server.display()}});
    ASSERT_TRUE(broker.waitListening()) << broker.stderrText();
    Vantor vantor(home, {{"DISPLAY", server.display()}}, events);

    bool complete = proc::waitInFolder(
        home.path, [&] { return !firstSequence(recorded(events)).empty(); }, 30.0);
    ASSERT_TRUE(complete) << "vantor:\n"
                          << vantor.stderrText() << "\nbroker:\n"
                          << broker.stderrText();

    auto lines = recorded(events);
    auto phases = firstSequence(lines);
    auto at = [&](const std::string& phase) {
        return std::find(phases.begin(), phases.end(), phase) - phases.begin();
    };
    long ended = at("ended"), momentumBegan = at("momentumBegan");
    ASSERT_LT(ended, static_cast<long>(phases.size()));
    EXPECT_GT(ended, 1) << "some changed steps come between began and ended";
    for (long i = 1; i < ended; ++i)
        EXPECT_EQ(phases[i], "changed") << i;
    EXPECT_EQ(momentumBegan, ended + 1);
    for (long i = momentumBegan + 1; i + 1 < static_cast<long>(phases.size()); ++i)
        EXPECT_EQ(phases[i], "momentumChanged") << i;
    EXPECT_EQ(phases.back(), "momentumEnded");

    // Pushing the cap back scrolls toward positive y, and only vertically.
    long long y = 0;
    for (const auto& line : lines)
        if (line.contains("scroll")) {
            EXPECT_EQ(line["scroll"]["x"], 0);
            y += line["scroll"]["y"].get<long long>();
        }
    EXPECT_GT(y, 0);
}

} // namespace
