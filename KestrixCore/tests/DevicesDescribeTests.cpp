#include "DevicesTestFixtures.h"
#include "KestrixCore/FeatureReports.h"

#include <filesystem>

using namespace kestrix;
using namespace kestrix::core;
using namespace kestrix::core::testing;

namespace {

struct DevicesDescribe : DevicesFixture {
    int answers = 0;
    bool onLoopThread = false;
    DeviceDescription answer;

    void ask(const std::string& id) {
        devices->describe(id, [this](DeviceDescription d) {
            ++answers;
            onLoopThread = loop.isLoopThread();
            answer = std::move(d);
        });
    }
    void waitForAnswer() {
        ASSERT_TRUE(loop.runUntil([this] { return answers > 0; }));
        loop.runPending();
        EXPECT_EQ(answers, 1);
        EXPECT_TRUE(onLoopThread);
    }
};

// Feature reports 8 (7 data bytes) and 9 (one byte), nothing else.
SimulatedDevice withTwoFeatureReports(SimulatedDevice device) {
    auto descriptor = spaceMouseDescriptor();
    descriptor.pop_back(); // end collection
    for (std::uint8_t b : {0x85, 0x09, 0x09, 0x02, 0x75, 0x08, 0x95, 0x01, 0xB1, 0x02, 0xC0})
        descriptor.push_back(b);
    device.reportDescriptor = descriptor;
    device.featureReports[8] = serialReport();
    device.featureReports[9] = {9, 42};
    return device;
}

TEST_F(DevicesDescribe, unseizedDeviceIsReadThroughAFreshHandlePerReportASeizedOneOnItsOwn) {
    make({withTwoFeatureReports(compact())});
    ask("serial:ABC123");
    EXPECT_EQ(answers, 0);
    waitForAnswer();
    EXPECT_FALSE(answer.error.has_value());
    EXPECT_EQ(answer.featureReportsVia, "HID device");
    ASSERT_EQ(answer.featureReports.size(), 2u);
    EXPECT_EQ(answer.featureReports[0].id, 8);
    EXPECT_EQ(answer.featureReports[0].bytes, serialReport());
    EXPECT_EQ(answer.featureReports[1].bytes, (std::vector<std::uint8_t>{9, 42}));
    EXPECT_EQ(sim->opens(1, false), 2);
    EXPECT_EQ(sim->featureReads(1),
              (std::vector<SimulatedHIDBackend::FeatureRead>{{8, 8, false}, {9, 2, false}}));
    EXPECT_EQ(answer.reportDescriptor, *withTwoFeatureReports(compact()).reportDescriptor);
    EXPECT_EQ(answer.properties.at("bInterfaceNumber"), "0");
    EXPECT_EQ(answer.properties.at("MaxFeatureReportSize"), "8");
    EXPECT_EQ(answer.properties.at("DeviceUsagePairs"),
              "( { DeviceUsage = 8; DeviceUsagePage = 1; } )");

    // Seized, it is read on its own handle, and answers also when released meanwhile.
    devices->want(true);
    ask("serial:ABC123");
    EXPECT_EQ(answers, 1); // never from inside describe on this path
    loop.runPending();
    EXPECT_EQ(answers, 2);
    EXPECT_EQ(answer.featureReportsVia, "HID device");
    EXPECT_EQ(sim->opens(1, false), 2);
    EXPECT_EQ(sim->featureReads(1), (std::vector<SimulatedHIDBackend::FeatureRead>{
                                        {8, 8, false}, {9, 2, false}, {8, 8, true}, {9, 2, true}}));
    EXPECT_EQ(devices->backgroundWork(), 0u);
    ask("serial:ABC123");
    devices->want(false);
    loop.runPending();
    EXPECT_EQ(answers, 3);
    EXPECT_EQ(answer.featureReports.size(), 2u);
    EXPECT_EQ(answer.featureReports[0].error, "GET failed");
}

// When the HID read fails, a USB device is read over the control pipe; over Bluetooth, or when
// the pipe fails too, the rows say so and no path is named.
TEST_F(DevicesDescribe, failedHIDReadsFallBackToTheControlPipeElseGiveFailedRows) {
    auto pipe = withTwoFeatureReports(compact());
    pipe.interface = 3;
    pipe.hidFeatureFails = true;
    auto neither = pipe;
    neither.controlPipeFails = true;
    auto bluetooth = withTwoFeatureReports(wirelessOverBluetooth("aa:bb:cc:dd:ee:ff"));
    bluetooth.serialNumber = "ABC123";
    bluetooth.hidFeatureFails = true;
    using Requests = std::vector<SimulatedHIDBackend::ControlRequest>;
    const Requests asked{{0x01230000, 3, 8, 8}, {0x01230000, 3, 9, 2}};
    const std::optional<std::string> failed = "GET failed";
    for (const auto& [device, via, requests] :
         std::vector<std::tuple<SimulatedDevice, std::optional<std::string>, Requests>>{
             {pipe, "control pipe", asked},
             {neither, std::nullopt, asked},
             {bluetooth, std::nullopt, {}}}) {
        answers = 0;
        make({device});
        ask("serial:ABC123");
        waitForAnswer();
        EXPECT_EQ(answer.featureReportsVia, via);
        EXPECT_EQ(sim->controlRequests(), requests);
        ASSERT_EQ(answer.featureReports.size(), 2u);
        for (const auto& row : answer.featureReports)
            EXPECT_EQ(row.error, via ? std::nullopt : failed);
        using Bytes = std::optional<std::vector<std::uint8_t>>;
        EXPECT_EQ(answer.featureReports[1].bytes, (via ? Bytes{{9, 42}} : std::nullopt));
    }
}

// Threads of this process, as the kernel counts them.
std::size_t threadCount() {
    std::size_t n = 0;
    for ([[maybe_unused]] const auto& task : std::filesystem::directory_iterator("/proc/self/task"))
        ++n;
    return n;
}

// Requests still waiting when the layer goes are answered too.
TEST_F(DevicesDescribe, aBurstOfRequestsUsesAtMostFourThreadsAndEachIsAnsweredOnce) {
    make({withTwoFeatureReports(compact())});
    sim->holdFeatureReads();
    std::size_t before = threadCount();
    for (int i = 0; i < 64; ++i)
        ask("serial:ABC123");
    EXPECT_LE(threadCount(), before + 4);
    EXPECT_EQ(devices->backgroundWork(), 64u);
    sim->releaseFeatureReads();
    ASSERT_TRUE(loop.runUntil([this] { return answers == 64; }));
    EXPECT_EQ(devices->backgroundWork(), 0u);

    sim->holdFeatureReads();
    for (int i = 0; i < 20; ++i)
        ask("serial:ABC123");
    sim->releaseFeatureReads();
    devices.reset(); // joins the reading threads
    sim = nullptr;   // went with the layer
    loop.runPending();
    EXPECT_EQ(answers, 84);
    EXPECT_EQ(answer.featureReports.size(), 2u);
}

TEST_F(DevicesDescribe, reportLengthsFollowTheirBitsAndIdNoFeatureReportNoRowsNoDeviceAnError) {
    auto device = compact();
    // Feature report without id, 8 + 4 bits; then id 5 with 8 + 4 bits.
    device.reportDescriptor = std::vector<std::uint8_t>{
        0x05, 0x01, 0x09, 0x08, 0xA1, 0x01, 0x75, 0x08, 0x95, 0x01, 0xB1, 0x02, 0x75, 0x04,
        0xB1, 0x02, 0x85, 0x05, 0x75, 0x08, 0xB1, 0x02, 0x75, 0x04, 0xB1, 0x02, 0xC0};
    auto none = compact("NONE");
    none.reportDescriptor = std::vector<std::uint8_t>{0x05, 0x01, 0x09, 0x08, 0xA1, 0x01, 0xC0};
    make({device, none});
    ask("serial:ABC123");
    waitForAnswer();
    EXPECT_EQ(sim->featureReads(1),
              (std::vector<SimulatedHIDBackend::FeatureRead>{{0, 2, false}, {5, 3, false}}));
    ask("serial:NONE");
    ASSERT_TRUE(loop.runUntil([this] { return answers == 2; }));
    loop.runPending();
    EXPECT_TRUE(answer.featureReports.empty());
    EXPECT_FALSE(answer.featureReportsVia.has_value());

    // An unknown id, or a device gone from the platform, is answered at once.
    ask("serial:NOPE");
    EXPECT_EQ(answers, 3);
    EXPECT_EQ(answer.device, "serial:NOPE");
    EXPECT_EQ(answer.error, "no such device");
    EXPECT_TRUE(answer.properties.empty() && answer.reportDescriptor.empty() &&
                answer.featureReports.empty());
    EXPECT_FALSE(answer.featureReportsVia.has_value());
    sim->stop(); // the removal is no longer reported, the entry stays
    sim->remove(2);
    ask("serial:NONE");
    EXPECT_EQ(answers, 4);
    EXPECT_EQ(answer.error, "not in sysfs");
    EXPECT_TRUE(answer.properties.empty());
}

// A broken or hostile descriptor may declare reports of any size (here input report 5 of
// 0x7FFFFFFF values of 0x7FFFFFFF bits); the layer must not size its buffers by that alone.
TEST_F(DevicesDescribe, aHugeDeclaredInputReportStillSeizesWithABoundedBuffer) {
    auto device = compact();
    device.reportDescriptor->pop_back(); // end collection
    device.reportDescriptor->insert(
        device.reportDescriptor->end(),
        {0x85, 5, 0x77, 0xFF, 0xFF, 0xFF, 0x7F, 0x97, 0xFF, 0xFF, 0xFF, 0x7F, 0x81, 0x02, 0xC0});
    make({device});
    devices->want(true);
    EXPECT_EQ(only().state, "open");
    sim->send(1, {2, 0, 0, 0, 0, 1, 0});
    loop.runPending();
    EXPECT_EQ(axes.size(), 1u);
}

TEST_F(DevicesDescribe, aOneByteFeatureReadUsesTwoBytesOnBothPathsAHugeOneTheLargestReport) {
    auto device = compact();
    device.featureReports[7] = {7, 1, 2, 3};
    make({device});
    auto& sim = *this->sim;
    EXPECT_EQ(Devices::getFeature(sim, 1, 7, 1, nullptr), (std::vector<std::uint8_t>{7, 1}));
    EXPECT_EQ(sim.featureReads(1)[0].size, 2u);
    EXPECT_EQ(Devices::getFeatureOverControlPipe(sim, {0x01230000, 0}, 7, 1),
              (std::vector<std::uint8_t>{7, 1}));
    EXPECT_EQ(sim.controlRequests()[0].size, 2);
    // wIndex is 16 bits: a larger interface number cannot be asked for.
    EXPECT_EQ(Devices::getFeatureOverControlPipe(sim, {0x01230000, 65536}, 7, 1), std::nullopt);
    EXPECT_EQ(sim.controlRequests().size(), 1u);
    // The largest that fit are asked for.
    Devices::getFeatureOverControlPipe(sim, {0x01230000, 65535}, 7, 65535);
    EXPECT_EQ(sim.controlRequests().back(),
              (SimulatedHIDBackend::ControlRequest{0x01230000, 65535, 7, 65535}));
    EXPECT_EQ(Devices::getFeature(sim, 1, 7, std::size_t(1) << 60, nullptr),
              (std::vector<std::uint8_t>{7, 1, 2, 3}));
    EXPECT_EQ(sim.featureReads(1)[1].size, largestReport);
}

TEST(DevicesProperties, textRulesPerKindOfValue) {
    EXPECT_EQ(propertyText(PropertyValue{std::int64_t{-5}}), "-5");
    EXPECT_EQ(propertyText(PropertyValue{std::string("SpaceMouse")}), "SpaceMouse");
    EXPECT_EQ(propertyText(PropertyValue{std::vector<std::uint8_t>{0x01, 0xAB}}), "01ab");
    EXPECT_EQ(propertyText(PropertyValue{PropertyDescription{"(\n    {\n\tA = 1;\r\n    }\n)"}}),
              "( { A = 1; } )");
    // Next line, line separator and paragraph separator break lines too.
    EXPECT_EQ(propertyText(PropertyValue{PropertyDescription{"a\xC2\x85 b\xE2\x80\xA8"
                                                             "c\xE2\x80\xA9\v\fd"}}),
              "a b c d");
}

TEST_F(DevicesDescribe, missingPropertiesAreLeftOut) {
    auto device = compact();
    device.reportDescriptor.reset();
    device.serialNumber.reset();
    device.interface.reset();
    make({device});
    EXPECT_EQ(Devices::properties(*sim, 1),
              (std::map<std::string, std::string>{{"VendorID", "9583"},
                                                  {"ProductID", "50741"},
                                                  {"Product", "SpaceMouse Compact"},
                                                  {"Transport", "USB"},
                                                  {"LocationID", "19070976"}}));
    EXPECT_EQ(Devices::interfaceNumber(*sim, 1), std::nullopt);
}

} // namespace
