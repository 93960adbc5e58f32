// One tick of the scroll engine as the app runs it: shape the sample, map it to roles, choose the
// activities, step the glide, the scroll motion and both gestures.

#include "ScrollCore/AxisShaping.h"
#include "ScrollCore/GestureMotion.h"
#include "ScrollCore/ScrollMotion.h"
#include "ScrollCore/ScrollSettings.h"

#include <array>
#include <atomic>
#include <benchmark/benchmark.h>
#include <cstdlib>
#include <new>

// Counts heap allocations, to show that a tick makes none.
static std::atomic<long> allocations{0};

// Kept out of line: inlined into the same function, GCC takes the malloc / free pair behind
// these replacements for a mismatched new / free.
[[gnu::noinline]] void* operator new(std::size_t size) {
    allocations.fetch_add(1, std::memory_order_relaxed);
    if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
    throw std::bad_alloc();
}
[[gnu::noinline]] void operator delete(void* p) noexcept {
    std::free(p);
}
[[gnu::noinline]] void operator delete(void* p, std::size_t) noexcept {
    std::free(p);
}

namespace {

using namespace scroll;

struct Engine {
    ScrollSettings settings;
    AxisShaping shaping = settings.shaping();
    Glide glide = settings.glide();
    ScrollMotion motion;
    std::array<GestureMotion, 2> gestures{GestureMotion(GestureKind::zoom),
                                          GestureMotion(GestureKind::rotate)};

    int tick(const smk::SpaceMouseAxes& axes, double dt) {
        int emitted = 0;
        const auto values = shaping.shaped(axes, 350).roleValues(settings.mapping);
        GestureKindSet running;
        for (const auto& g : gestures) {
            if (g.active) running.insert(g.kind);
        }
        const auto chosen = values.activities(running, settings.simultaneous);
        if (chosen.contains(Activity::scroll)) {
            const double speed = settings.effectiveScrollSpeed();
            const auto v = glide.apply(values[AxisMapping::Role::horizontal] * speed,
                                       values[AxisMapping::Role::vertical] * speed, dt);
            emitted += static_cast<int>(motion.step(v.x, v.y, dt, v.coasting).size());
        } else {
            glide.reset();
            emitted += static_cast<int>(motion.end().size());
        }
        for (auto& g : gestures) {
            if (chosen.contains(g.kind.activity())) {
                const double rate = values[g.kind.role()] * settings.rate(g.kind);
                emitted += static_cast<int>(g.step(rate, dt).size());
            } else {
                emitted += static_cast<int>(g.end().size());
            }
        }
        return emitted;
    }
};

void tickOfTheEngine(benchmark::State& state) {
    // A short loop of samples: scroll, release into momentum, zoom and twist, rest.
    const std::array<smk::SpaceMouseAxes, 8> samples{{
        {200, -120, 0, 0, 0, 0},
        {250, -60, 0, 10, 0, 0},
        {0, 0, 0, 0, 0, 0},
        {0, 0, 0, 0, 0, 0},
        {0, 0, 300, 0, 0, 40},
        {0, 0, 120, 0, 0, 200},
        {0, 300, 0, 0, 0, 0},
        {5, -3, 2, 0, 1, 0},
    }};
    Engine engine;
    std::size_t i = 0;
    const long before = allocations.load();
    for (auto _ : state) {
        benchmark::DoNotOptimize(engine.tick(samples[i], 1.0 / 120));
        i = (i + 1) % samples.size();
    }
    state.counters["allocsPerTick"] = benchmark::Counter(
        static_cast<double>(allocations.load() - before), benchmark::Counter::kAvgIterations);
}
BENCHMARK(tickOfTheEngine);

} // namespace
