// The whole road of a cap movement with the real programs: a simulated SpaceMouse in a real
// `kestrix`, a real `vantor` recording what it would post, and a private X server whose active
// window is an app the user switched on.
#include "ProcessSupport.h"
#include "X11TestDesktop.h"

#include <algorithm>
#include <fstream>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

namespace {

using nlohmann::json;

// Pushes the cap back (y = 350, full deflection) for 0.4 s and lets go, every 2 s. The broker
// starts playing it as soon as it runs; whichever push comes first once vantor holds the
// device makes the sequence under test.
std::string pushAndReleaseScript() {
    json reports = json::array();
    for (int cycle = 0; cycle < 15; ++cycle) {
        double start = 1.0 + 2.0 * cycle;
        reports.push_back(
            {{"at", start}, {"every", 0.008}, {"count", 50}, {"bytes", {1, 0, 0, 94, 1, 0, 0}}});
        reports.push_back({{"at", start + 0.004},
                           {"every", 0.008},
                           {"count", 50},
                           {"bytes", {2, 0, 0, 0, 0, 0, 0}}});
        reports.push_back({{"at", start + 0.45}, {"bytes", {1, 0, 0, 0, 0, 0, 0}}});
        reports.push_back({{"at", start + 0.454}, {"bytes", {2, 0, 0, 0, 0, 0, 0}}});
    }
    json device = {
        {"vendorID", 9583},   {"productID", 50741},     {"product", "SpaceMouse Compact"},
        {"transport", "USB"}, {"serialNumber", "E2E1"}, {"locationID", 336592896},
        {"interface", 0},     {"reports", reports}};
    return json{{"devices", {device}}}.dump();
}

// A running vantor with its environment.
class Vantor {
public:
    Vantor(const proc::Home& home, const std::string& display, const std::string& events) {
        std::string errPath = home.path + "/vantor-stderr.txt";
        pid_ = ::fork();
        if (pid_ == 0) {
            ::setenv("DISPLAY", display.c_str(), 1);
            ::unsetenv("WAYLAND_DISPLAY");
            ::setenv("KESTRIX_HOME", (home.path + "/home").c_str(), 1);
            ::setenv("XDG_CONFIG_HOME", (home.path + "/config").c_str(), 1);
            ::setenv("XDG_DATA_HOME", (home.path + "/data").c_str(), 1);
            ::setenv("VANTOR_EVENTS", ("record:" + events).c_str(), 1);
            int err = ::open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
            ::dup2(err, 2);
            int null = ::open("/dev/null", O_RDWR);
            ::dup2(null, 0);
            ::dup2(null, 1);
            ::execl(VANTOR_EXECUTABLE, VANTOR_EXECUTABLE, static_cast<char*>(nullptr));
            ::_exit(127);
        }
        errPath_ = errPath;
    }
    ~Vantor() {
        ::kill(pid_, SIGTERM);
        ::waitpid(pid_, nullptr, 0);
    }
    std::string stderrText() const { return proc::readFile(errPath_); }

private:
    pid_t pid_ = -1;
    std::string errPath_;
};

std::vector<json> recorded(const std::string& path) {
    std::vector<json> lines;
    std::ifstream in(path);
    for (std::string line; std::getline(in, line);) {
        auto value = json::parse(line, nullptr, false);
        if (!value.is_discarded()) lines.push_back(value);
    }
    return lines;
}

// The scroll phases from the first "began" up to and including the first "momentumEnded" after
// it; empty while that sequence is not complete.
std::vector<std::string> firstSequence(const std::vector<json>& lines) {
    std::vector<std::string> phases;
    for (const auto& line : lines) {
        if (!line.contains("scroll")) continue;
        std::string phase = line["scroll"]["phase"];
        if (phases.empty() && phase != "began") continue;
        phases.push_back(phase);
        if (phase == "momentumEnded") return phases;
    }
    return {};
}

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
    Vantor vantor(home, server.display(), events);

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
