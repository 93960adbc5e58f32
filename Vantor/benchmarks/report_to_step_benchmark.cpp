// Latency from an axes sample leaving the broker's device layer to the first step the Scroller
// posts for it: the broker's forwarding, the socket, the client's decoding, the Scroller's event
// handling and its first tick, all on one real Qt event loop in real time. A simulated SpaceMouse
// pushes the cap for 50 ms every 250 ms; with momentum off each push starts from rest, so its first
// step is a "began".
#include "FrontApp/FrontApp.h"
#include "KestrixClient/KestrixConnection.h"
#include "KestrixCore/Broker.h"
#include "KestrixCore/BrokerParts.h"
#include "KestrixProtocol/QtMainLoop.h"
#include "KestrixProtocol/UserDefaults.h"
#include "Vantor/Log.h"
#include "Vantor/Scroller.h"

#include <QCoreApplication>
#include <QTimer>
#include <algorithm>
#include <benchmark/benchmark.h>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <numeric>
#include <vector>

namespace {

using namespace vantor;
using nlohmann::json;

constexpr const char* app = "org.example.Editor";
constexpr int pushes = 40;

class StampingSink final : public EventPosting {
public:
    explicit StampingSink(kestrix::MainLoop& loop)
        : loop_(loop) {}
    void post(const scroll::ScrollStep& step) override {
        if (step.phase == scroll::ScrollPhase::began) began.push_back(loop_.now());
    }
    void post(const scroll::GestureStep&, scroll::GestureKind) override {}
    std::vector<double> began;

private:
    kestrix::MainLoop& loop_;
};

std::string script() {
    json reports = json::array();
    for (int i = 0; i < pushes; ++i) {
        double at = 0.5 + 0.25 * i;
        reports.push_back({{"at", at}, {"bytes", {1, 0, 0, 94, 1, 0, 0}}});
        reports.push_back({{"at", at + 0.0005}, {"bytes", {2, 0, 0, 0, 0, 0, 0}}});
        reports.push_back({{"at", at + 0.05}, {"bytes", {1, 0, 0, 0, 0, 0, 0}}});
        reports.push_back({{"at", at + 0.0505}, {"bytes", {2, 0, 0, 0, 0, 0, 0}}});
    }
    json device = {
        {"vendorID", 9583},   {"productID", 50741},     {"product", "SpaceMouse Compact"},
        {"transport", "USB"}, {"serialNumber", "LAT1"}, {"reports", reports}};
    return json{{"devices", {device}}}.dump();
}

void reportToFirstStep(benchmark::State& state) {
    Log::setSink([](Log::Level, std::string_view) {});
    char pattern[] = "/tmp/vantor-latency-XXXXXX";
    std::string folder = ::mkdtemp(pattern);
    std::ofstream(folder + "/devices.json") << script();
    ::setenv("SPNAV_SOCKET", (folder + "/spnav.sock").c_str(), 1);

    int argc = 1;
    char name[] = "report_to_step_benchmark";
    char* argv[] = {name, nullptr};
    QCoreApplication qt(argc, argv);
    kestrix::QtMainLoop loop;

    for (auto _ : state) {
        kestrix::BrokerPlace place(folder + "/home");
        kestrix::UserDefaults brokerSettings(folder + "/kestrix.json");
        auto parts = kestrix::core::makeBrokerParts(
            loop, ("sim:" + folder + "/devices.json").c_str(), [](const std::string&) {});
        auto front = std::make_unique<kestrix::core::SimulatedFrontApp>();
        front->activate(kestrix::core::FrontmostApp{app, 4242});
        parts.frontApp = std::move(front);
        kestrix::core::BrokerDevices* devices = parts.devices.get();
        kestrix::core::Broker broker(loop, 15, place, 10.0, true, brokerSettings,
                                     kestrix::BrokerPlace::Newest{15, "/bench", {}}, nullptr,
                                     std::move(parts));
        broker.onLeave = [] {};
        broker.start(-1);
        std::vector<double> left;
        auto forward = devices->onAxes;
        devices->onAxes = [&](const std::string& id, const smk::SpaceMouseAxes& axes) {
            if (!axes.isZero()) left.push_back(loop.now());
            forward(id, axes);
        };

        kestrix::UserDefaults defaults(folder + "/vantor.json");
        defaults.set("allowed_apps", app);
        defaults.set("momentum_preset", "off");
        auto sink = std::make_shared<StampingSink>(loop);
        auto workspace = std::make_shared<SimulatedWorkspace>();
        workspace->activate(RunningApp{app, "Editor"});
        ScrollerSystem system;
        system.defaults = &defaults;
        system.now = [&] { return loop.now(); };
        system.makeTicker = [&] { return std::make_unique<DispatchTicker>(loop); };
        system.connect = [&](const kestrix::Claim& claim) -> std::unique_ptr<SpaceMouseInput> {
            return std::make_unique<KestrixInput>(kestrix::client::KestrixConnection::create(
                loop, "Vantor", claim, kestrix::client::Launcher::none(), place, 15));
        };
        system.poster = sink;
        system.ownBundleID = "me.orvella.Vantor";
        system.hasPermission = [] { return true; };
        system.workspace = workspace;
        Scroller scroller(system);
        scroller.start();

        QTimer::singleShot(static_cast<int>((0.5 + 0.25 * pushes + 0.5) * 1000),
                           [] { QCoreApplication::quit(); });
        qt.exec();
        scroller.stop();

        // Several samples of one push map to the same step; keep the first of each push.
        std::vector<double> firsts;
        double lastStep = -1;
        for (double t : left) {
            auto found = std::lower_bound(sink->began.begin(), sink->began.end(), t);
            if (found == sink->began.end() || *found == lastStep) continue;
            lastStep = *found;
            firsts.push_back(*found - t);
        }
        if (firsts.empty()) {
            state.SkipWithError("no step was posted");
            break;
        }
        std::sort(firsts.begin(), firsts.end());
        double mean = std::accumulate(firsts.begin(), firsts.end(), 0.0) / firsts.size();
        state.counters["pushes"] = static_cast<double>(firsts.size());
        state.counters["mean_us"] = mean * 1e6;
        state.counters["median_us"] = firsts[firsts.size() / 2] * 1e6;
        state.counters["max_us"] = firsts.back() * 1e6;
    }
    std::error_code ignored;
    std::filesystem::remove_all(folder, ignored);
    Log::setSink({});
}
BENCHMARK(reportToFirstStep)->Iterations(1)->Unit(benchmark::kSecond);

} // namespace
