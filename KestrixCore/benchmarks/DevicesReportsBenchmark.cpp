// Cost of one input report on its way through the device layer, and of building the device list.
#include "KestrixCore/Devices.h"
#include "KestrixCore/Reports.h"
#include "KestrixCore/SimulatedHIDBackend.h"
#include "KestrixProtocol/VirtualMainLoop.h"

#include <benchmark/benchmark.h>

using namespace kestrix;
using namespace kestrix::core;

namespace {

std::vector<std::uint8_t> descriptor() {
    return {0x05, 0x01, 0x09, 0x08, 0xA1, 0x01, 0x85, 0x01, 0x16, 0xA2, 0xFE, 0x26, 0x5E,
            0x01, 0x09, 0x30, 0x09, 0x31, 0x09, 0x32, 0x75, 0x10, 0x95, 0x03, 0x81, 0x02,
            0x85, 0x02, 0x09, 0x33, 0x09, 0x34, 0x09, 0x35, 0x81, 0x02, 0xC0};
}

SimulatedDevice device(const std::string& serial) {
    SimulatedDevice d;
    d.vendorID = 0x256F;
    d.productID = 0xC635;
    d.transport = "USB";
    d.serialNumber = serial;
    d.reportDescriptor = descriptor();
    return d;
}

void ReportsIngestRotation(benchmark::State& state) {
    std::int64_t sink = 0;
    Reports reports(
        64, smk::SpaceMouseModel::compact(), [](std::span<const std::uint8_t>) {},
        [&](const smk::SpaceMouseAxes& axes) { sink += axes.rz; }, [](smk::SpaceMouseButtons) {},
        [](int, bool) {}, [](const smk::SpaceMouseAxes&) {}, [] { return 0.0; });
    std::uint8_t report[] = {2, 1, 0, 2, 0, 3, 0};
    for (auto _ : state) {
        report[5] = static_cast<std::uint8_t>(report[5] + 1);
        reports.ingest(report);
    }
    benchmark::DoNotOptimize(sink);
}
BENCHMARK(ReportsIngestRotation);

// Simulated hardware to the broker's axes callback: buffer copy, decode, merge, rest, callback.
void DevicesReportToAxes(benchmark::State& state) {
    VirtualMainLoop loop;
    auto backend = std::make_unique<SimulatedHIDBackend>(loop, std::vector{device("A1")});
    auto* sim = backend.get();
    Devices devices(loop, std::move(backend));
    std::int64_t samples = 0;
    devices.onAxes = [&](const std::string&, const smk::SpaceMouseAxes&) { ++samples; };
    devices.wantsReports = [&] { return state.range(0) != 0; };
    devices.start();
    loop.advance(0);
    devices.want(true);
    std::vector<std::uint8_t> report{2, 1, 0, 2, 0, 3, 0};
    for (auto _ : state)
        sim->send(1, report);
    state.counters["samples"] = static_cast<double>(samples);
}
BENCHMARK(DevicesReportToAxes)->Arg(0)->Arg(1)->ArgName("raw");

void DevicesList(benchmark::State& state) {
    VirtualMainLoop loop;
    std::vector<SimulatedDevice> specs;
    for (int i = 0; i < state.range(0); ++i) {
        std::string serial = "S";
        serial += std::to_string(100 - i);
        specs.push_back(device(serial));
    }
    Devices devices(loop, std::make_unique<SimulatedHIDBackend>(loop, specs));
    devices.start();
    loop.advance(0);
    for (auto _ : state)
        benchmark::DoNotOptimize(devices.list());
}
BENCHMARK(DevicesList)->Arg(1)->Arg(4);

} // namespace
