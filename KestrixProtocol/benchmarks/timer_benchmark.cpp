// How closely the Qt loop's repeating timer holds a 120 Hz grid: two seconds of ticks, each tick's
// lateness after the last grid point it passed, in microseconds (mean and maximum), and the grid
// points that went by without a tick. For comparison the same figures for a precise QTimer of
// 8 ms, the nearest whole-millisecond interval.

#include "KestrixProtocol/QtMainLoop.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>
#include <algorithm>
#include <benchmark/benchmark.h>
#include <cmath>
#include <functional>
#include <vector>

namespace {

constexpr double interval = 1.0 / 120;
constexpr int runMilliseconds = 2000;

void ensureApplication() {
    if (QCoreApplication::instance()) return;
    static int argc = 1;
    static char name[] = "timer_benchmark";
    static char* argv[] = {name, nullptr};
    new QCoreApplication(argc, argv);
}

void runEventLoop(int milliseconds) {
    QEventLoop events;
    QTimer::singleShot(milliseconds, Qt::PreciseTimer, &events, &QEventLoop::quit);
    events.exec();
}

// Lateness of each tick after the latest grid point at or before it, and grid points skipped.
void report(benchmark::State& state, double start, const std::vector<double>& ticks) {
    double sum = 0, worst = 0;
    long previous = 0, missed = 0;
    for (double tick : ticks) {
        long k = std::max(1L, long(std::floor((tick - start) / interval)));
        double late = std::max(0.0, tick - (start + double(k) * interval));
        sum += late;
        worst = std::max(worst, late);
        missed += std::max(0L, k - previous - 1);
        previous = k;
    }
    state.counters["ticks"] = double(ticks.size());
    state.counters["missed"] = double(missed);
    state.counters["mean_us"] = ticks.empty() ? 0 : sum / double(ticks.size()) * 1e6;
    state.counters["max_us"] = worst * 1e6;
}

void timerfdRepeat(benchmark::State& state) {
    ensureApplication();
    for (auto _ : state) {
        kestrix::QtMainLoop loop;
        std::vector<double> ticks;
        ticks.reserve(400);
        double start = loop.now();
        auto timer = loop.repeat(interval, 0.001, [&] { ticks.push_back(loop.now()); });
        runEventLoop(runMilliseconds);
        timer.reset();
        report(state, start, ticks);
    }
}
BENCHMARK(timerfdRepeat)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

void preciseQTimer8ms(benchmark::State& state) {
    ensureApplication();
    for (auto _ : state) {
        kestrix::QtMainLoop loop;
        std::vector<double> ticks;
        ticks.reserve(400);
        QTimer timer;
        timer.setTimerType(Qt::PreciseTimer);
        QObject::connect(&timer, &QTimer::timeout, [&] { ticks.push_back(loop.now()); });
        double start = loop.now();
        timer.start(8);
        runEventLoop(runMilliseconds);
        timer.stop();
        report(state, start, ticks);
    }
}
BENCHMARK(preciseQTimer8ms)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace
