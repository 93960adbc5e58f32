// CPU time of one Scroller tick with the cap deflected (shaping, roles, glide, scroll steps and
// posting to a sink that only counts).
#include "../tests/ScrollerFakes.h"
#include "KestrixProtocol/UserDefaults.h"
#include "Vantor/Log.h"
#include "Vantor/Scroller.h"

#include <benchmark/benchmark.h>
#include <filesystem>
#include <unistd.h>

namespace {

using namespace vantor;
using namespace vantor::testing;

class CountingSink final : public EventPosting {
public:
    void post(const scroll::ScrollStep&) override { ++count; }
    void post(const scroll::GestureStep&, scroll::GestureKind) override { ++count; }
    long count = 0;
};

void scrollerTick(benchmark::State& state) {
    Log::setSink([](Log::Level, std::string_view) {});
    auto folder =
        std::filesystem::temp_directory_path() / ("vantor-bench-" + std::to_string(::getpid()));
    std::filesystem::create_directories(folder);
    kestrix::UserDefaults defaults((folder / "vantor.json").string());
    defaults.set("allowed_apps", "org.example.Editor");

    double now = 0;
    FakeInput* input = nullptr;
    ManualTicker* ticker = nullptr;
    auto sink = std::make_shared<CountingSink>();
    auto workspace = std::make_shared<SimulatedWorkspace>();
    workspace->activate(RunningApp{"org.example.Editor", "Editor"});

    ScrollerSystem system;
    system.defaults = &defaults;
    system.now = [&] { return now; };
    system.makeTicker = [&]() -> std::unique_ptr<Ticking> {
        auto made = std::make_unique<ManualTicker>();
        ticker = made.get();
        return made;
    };
    system.connect = [&](const kestrix::Claim&) -> std::unique_ptr<SpaceMouseInput> {
        auto made = std::make_unique<FakeInput>();
        input = made.get();
        return made;
    };
    system.poster = sink;
    system.ownBundleID = "me.orvella.Vantor";
    system.hasPermission = [] { return true; };
    system.workspace = workspace;

    Scroller scroller(system);
    scroller.start();
    input->deliver(SpaceMouseInput::Event::holding(true));
    smk::SpaceMouseAxes axes{};
    axes.x = 120;
    axes.y = 300;
    axes.z = 40;
    input->deliver(SpaceMouseInput::Event::axes(axes, "serial:A"));

    long ticks = 0;
    for (auto _ : state) {
        now += 1.0 / 120;
        // Keep the axes fresh (they count as zero after 0.25 s) outside the measured tick.
        if (++ticks % 20 == 0) {
            state.PauseTiming();
            input->deliver(SpaceMouseInput::Event::axes(axes, "serial:A"));
            state.ResumeTiming();
        }
        ticker->tick();
    }
    state.counters["steps"] =
        benchmark::Counter(static_cast<double>(sink->count), benchmark::Counter::kAvgIterations);
    scroller.stop();
    std::filesystem::remove_all(folder);
    Log::setSink({});
}
BENCHMARK(scrollerTick);

} // namespace
