// Cost of the work done per device (descriptor parse, recognition) and per input report
// (axis, button and battery decoding, rest correction).

#include "../tests/Descriptors.h"
#include "SpaceMouseKit/CapRest.h"
#include "SpaceMouseKit/HIDReportDescriptor.h"
#include "SpaceMouseKit/SpaceMouseModel.h"
#include "SpaceMouseKit/SpaceMouseReport.h"

#include <benchmark/benchmark.h>

namespace {

using Bytes = std::vector<std::uint8_t>;

void parseDescriptor(benchmark::State& state) {
    for (auto _ : state) {
        auto descriptor = smk::HIDReportDescriptor::parse(smk::testing::wirelessDescriptor);
        benchmark::DoNotOptimize(descriptor);
    }
}
BENCHMARK(parseDescriptor);

void recogniseKnownDevice(benchmark::State& state) {
    const auto descriptor = smk::HIDReportDescriptor::parse(smk::testing::wirelessDescriptor);
    for (auto _ : state) {
        auto model = smk::SpaceMouseModel::recognise(0x256F, 0xC63A, std::nullopt, descriptor);
        benchmark::DoNotOptimize(model);
    }
}
BENCHMARK(recogniseKnownDevice);

void recogniseUnknownDevice(benchmark::State& state) {
    const auto descriptor = smk::HIDReportDescriptor::parse(smk::testing::wirelessDescriptor);
    for (auto _ : state) {
        auto model = smk::SpaceMouseModel::recognise(0x256F, 0xC6FF, std::nullopt, descriptor);
        benchmark::DoNotOptimize(model);
    }
}
BENCHMARK(recogniseUnknownDevice);

void takeSixAxisReport(benchmark::State& state) {
    const Bytes report{0x01, 0x01, 0x00, 0xFF, 0x7F, 0xFE, 0xFF,
                       0x5E, 0x01, 0xA2, 0xFE, 0x00, 0x00};
    smk::SpaceMouseAxes axes;
    for (auto _ : state) {
        benchmark::DoNotOptimize(smk::SpaceMouseReport::take(report, axes));
        benchmark::DoNotOptimize(smk::SpaceMouseReport::completes(report));
        benchmark::ClobberMemory();
    }
}
BENCHMARK(takeSixAxisReport);

void decodeEnterpriseButtons(benchmark::State& state) {
    Bytes report(23, 0x00);
    report[0] = 0x03;
    report[1] = 0x11;
    report[10] = 0x10;
    report[22] = 0x80;
    const auto& model = smk::SpaceMouseModel::enterprise();
    for (auto _ : state) {
        benchmark::DoNotOptimize(smk::SpaceMouseReport::buttons(report, model));
        benchmark::DoNotOptimize(smk::SpaceMouseReport::unknownBit(report, model));
    }
}
BENCHMARK(decodeEnterpriseButtons);

void correctRest(benchmark::State& state) {
    smk::CapRest cap;
    double time = 0;
    for (auto _ : state) {
        time += 1.0 / 120;
        benchmark::DoNotOptimize(cap.corrected({20, -3, 1, 0, 0, 2}, time));
    }
}
BENCHMARK(correctRest);

} // namespace
