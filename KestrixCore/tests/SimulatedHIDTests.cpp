#include "KestrixCore/SimulatedHIDBackend.h"
#include "KestrixProtocol/VirtualMainLoop.h"
#include "TempFolder.h"

#include <gtest/gtest.h>

using namespace kestrix;
using namespace kestrix::core;

namespace {

const char* exampleFile = R"({"devices": [{"vendorID": 9583, "productID": 50741,
  "product": "SpaceMouse Compact", "transport": "USB", "serialNumber": "ABC123",
  "bluetoothAddress": null, "locationID": 336592896, "interface": 0,
  "reportDescriptor": [5, 1, 9, 8, 161, 1, 192], "featureReports": {"8": [8, 65, 66, 0, 0, 0, 0, 7]},
  "busy": false, "appearAt": 0.0, "vanishAt": null,
  "reports": [{"at": 0.5, "bytes": [1, 16, 0, 240, 255, 0, 128]},
              {"at": 1.0, "every": 0.008, "count": 1000, "bytes": [2, 0, 0, 0, 0, 10, 0]}]}]})";

std::string errorOf(const std::string& json) {
    auto parsed = parseSimulatedDevices(json);
    auto* error = std::get_if<std::string>(&parsed);
    return error ? *error : "";
}

TEST(SimulatedHIDFile, theExampleGivesItsReportsADeviceNeedsOnlyItsIds) {
    const auto example = std::get<std::vector<SimulatedDevice>>(parseSimulatedDevices(exampleFile));
    ASSERT_EQ(example.at(0).reports.size(), 2u);
    EXPECT_EQ(example[0].reports[0].bytes, (std::vector<std::uint8_t>{1, 16, 0, 240, 255, 0, 128}));
    EXPECT_EQ(example[0].reports[1].at, 1.0);
    EXPECT_EQ(example[0].reports[1].every, 0.008);
    EXPECT_EQ(example[0].reports[1].count, 1000);
    auto parsed = parseSimulatedDevices(R"({"devices": [{"vendorID": 1133, "productID": 50726}]})");
    ASSERT_TRUE(std::holds_alternative<std::vector<SimulatedDevice>>(parsed));
    const auto& bare = std::get<std::vector<SimulatedDevice>>(parsed)[0];
    EXPECT_EQ(bare.productID, 50726);
    EXPECT_FALSE(bare.transport || bare.product || bare.reportDescriptor || bare.locationID);
    EXPECT_TRUE(bare.reports.empty());
}

TEST(SimulatedHIDFile, malformedFilesSayWhatIsWrong) {
    EXPECT_NE(errorOf("{"), "");
    EXPECT_EQ(errorOf("[]"), "the file is not a JSON object");
    EXPECT_EQ(errorOf("{}"), "the file has no list \"devices\"");
    EXPECT_EQ(errorOf(R"({"devices": [{"vendorID": 1}]})"),
              "devices[0] lacks vendorID or productID");
    EXPECT_EQ(
        errorOf(R"({"devices": [{"vendorID": 1, "productID": 2, "reportDescriptor": [256]}]})"),
        "devices[0].reportDescriptor holds a value that is not a byte");
    EXPECT_EQ(
        errorOf(R"({"devices": [{"vendorID": 1, "productID": 2, "featureReports": {"x8": []}}]})"),
        "devices[0].featureReports has the report id \"x8\", which is not a number from 0 "
        "to 255");
    EXPECT_EQ(errorOf(R"({"devices": [{"vendorID": 1, "productID": 2, "x": )" +
                      std::string(65, '[') + std::string(65, ']') + "}]}"),
              "the file nests more than 64 levels deep");
}

// A file that does not load logs one line and simulates no devices; "sim:" and nothing else
// chooses the simulation.
TEST(SimulatedHIDFactory, simPathGivesTheSimulatedDevicesOrNoneWithOneLine) {
    testsupport::TempFolder folder;
    folder.write("devices.json", exampleFile);
    const std::string good = folder.path + "/devices.json";
    for (const auto& [path, line] : std::vector<std::pair<std::string, std::string>>{
             {good, "simulating 1 device(s) from " + good},
             {"/nonexistent/d.json",
              "simulated devices not loaded, none are simulated: cannot read /nonexistent/d.json"},
         }) {
        VirtualMainLoop loop;
        std::vector<std::string> lines;
        auto backend = makeHIDBackend(loop, ("sim:" + path).c_str(),
                                      [&](const std::string& l) { lines.push_back(l); });
        ASSERT_NE(dynamic_cast<SimulatedHIDBackend*>(backend.get()), nullptr);
        EXPECT_EQ(lines, std::vector<std::string>{line});
        int appeared = 0;
        backend->start([&](DeviceKey) { ++appeared; }, [](DeviceKey) {});
        loop.advance(10);
        EXPECT_EQ(appeared, path == good ? 1 : 0) << path;
    }
    VirtualMainLoop loop;
    for (const char* setting : {static_cast<const char*>(nullptr), "", "simulated", "SIM:x"})
        EXPECT_EQ(dynamic_cast<SimulatedHIDBackend*>(makeHIDBackend(loop, setting, nullptr).get()),
                  nullptr);
}

} // namespace
