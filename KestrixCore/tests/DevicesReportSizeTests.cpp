// Report lengths come from the device's own report descriptor. A broken or hostile one may
// declare reports of any size; the layer must not size its buffers by that alone.
#include "DevicesTestFixtures.h"

using namespace kestrix;
using namespace kestrix::core;
using namespace kestrix::core::testing;

namespace {

// The SpaceMouse descriptor plus one report `id` of `kind` (0x81 input, 0xB1 feature) that
// declares 0x7FFFFFFF values of 0x7FFFFFFF bits each.
std::vector<std::uint8_t> withHugeReport(std::uint8_t id, std::uint8_t kind) {
    auto descriptor = spaceMouseDescriptor();
    descriptor.pop_back(); // end collection
    const std::vector<std::uint8_t> huge{0x85, id,   0x77, 0xFF, 0xFF, 0xFF, 0x7F, 0x97,
                                         0xFF, 0xFF, 0xFF, 0x7F, kind, 0x02, 0xC0};
    descriptor.insert(descriptor.end(), huge.begin(), huge.end());
    return descriptor;
}

using DevicesReportSize = DevicesFixture;

TEST_F(DevicesReportSize, aHugeDeclaredInputReportStillSeizesWithABoundedBuffer) {
    auto device = compact();
    device.reportDescriptor = withHugeReport(5, 0x81);
    make({device});
    devices->want(true);
    EXPECT_EQ(only().state, "open");
    sim->send(1, {2, 0, 0, 0, 0, 1, 0});
    loop.runPending();
    EXPECT_EQ(axes.size(), 1u);
}

TEST_F(DevicesReportSize, aHugeDeclaredFeatureReportIsReadWithTheLargestReportBuffer) {
    auto device = compact();
    device.reportDescriptor = withHugeReport(9, 0xB1);
    device.featureReports[9] = {9, 42};
    make({device});
    int answers = 0;
    DeviceDescription answer;
    devices->describe("serial:ABC123", [&](DeviceDescription d) {
        ++answers;
        answer = std::move(d);
    });
    ASSERT_TRUE(loop.runUntil([&] { return answers > 0; }));
    ASSERT_EQ(answer.featureReports.size(), 2u);
    EXPECT_EQ(answer.featureReports[1].bytes, (std::vector<std::uint8_t>{9, 42}));
    auto reads = sim->featureReads(1);
    ASSERT_EQ(reads.size(), 2u);
    EXPECT_EQ(reads[1].size, largestReport);
}

TEST(DevicesReportSizeReads, aHugeLengthIsReadIntoTheLargestReportBuffer) {
    VirtualMainLoop loop;
    auto device = compact();
    device.featureReports[7] = {7, 1, 2, 3};
    SimulatedHIDBackend sim(loop, {device});
    sim.start([](DeviceKey) {}, [](DeviceKey) {});
    loop.advance(0);
    EXPECT_EQ(Devices::getFeature(sim, 1, 7, std::size_t(1) << 60, nullptr),
              (std::vector<std::uint8_t>{7, 1, 2, 3}));
    EXPECT_EQ(sim.featureReads(1)[0].size, largestReport);
}

} // namespace
