#pragma once

#include "KestrixCore/Devices.h"
#include "KestrixCore/SimulatedHIDBackend.h"
#include "KestrixProtocol/VirtualMainLoop.h"

#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <vector>

namespace kestrix::core::testing {

// A SpaceMouse-like report descriptor: multi-axis controller with translation (1), rotation (2)
// and button (3) input reports, the LED output report (4) and the serial feature report (8,
// 7 bytes of data). Axes run from -350 to 350.
inline std::vector<std::uint8_t> spaceMouseDescriptor() {
    return {
        0x05, 0x01, 0x09, 0x08, 0xA1, 0x01,                         // multi-axis application
        0x85, 0x01, 0x16, 0xA2, 0xFE, 0x26, 0x5E, 0x01,             // id 1, -350..350
        0x09, 0x30, 0x09, 0x31, 0x09, 0x32, 0x75, 0x10, 0x95, 0x03, // x y z, 3 x 16
        0x81, 0x02,                                                 // input
        0x85, 0x02, 0x09, 0x33, 0x09, 0x34, 0x09, 0x35, 0x81, 0x02, // id 2, rx ry rz
        0x85, 0x03, 0x05, 0x09, 0x19, 0x01, 0x29, 0x02, 0x15, 0x00, // id 3, buttons 1-2
        0x25, 0x01, 0x75, 0x01, 0x95, 0x02, 0x81, 0x02, 0x95, 0x0E, 0x81, 0x01, 0x05,
        0x08, 0x85, 0x04, 0x09, 0x4B, 0x75, 0x08, 0x95, 0x01, 0x91, 0x02,             // LED out
        0x06, 0x00, 0xFF, 0x85, 0x08, 0x09, 0x01, 0x75, 0x08, 0x95, 0x07, 0xB1, 0x02, // feature 8
        0xC0};
}

// The serial feature report of "AB12345".
inline std::vector<std::uint8_t> serialReport() {
    return {8, 0x41, 0x42, 0, 0, 0, 0x30, 0x39};
}

inline SimulatedDevice compact(std::optional<std::string> serial = "ABC123") {
    SimulatedDevice device;
    device.vendorID = 0x256F;
    device.productID = 0xC635;
    device.product = "SpaceMouse Compact";
    device.transport = "USB";
    device.serialNumber = serial;
    device.locationID = 0x01230000;
    device.interface = 0;
    device.reportDescriptor = spaceMouseDescriptor();
    return device;
}

inline SimulatedDevice wirelessOverBluetooth(std::string address) {
    SimulatedDevice device = compact(std::nullopt);
    device.productID = 0xC63A;
    device.product = "SpaceMouse Wireless BT";
    device.transport = "Bluetooth";
    device.bluetoothAddress = std::move(address);
    device.locationID.reset();
    device.interface.reset();
    return device;
}

// A device layer over simulated hardware on virtual time, recording what it says.
struct DevicesFixture : ::testing::Test {
    VirtualMainLoop loop;
    SimulatedHIDBackend* sim = nullptr;
    std::unique_ptr<Devices> devices;
    std::vector<std::string> lines;
    int changes = 0;
    std::vector<std::pair<std::string, smk::SpaceMouseAxes>> axes;
    std::vector<std::pair<std::string, smk::SpaceMouseButtons>> buttons;
    std::vector<std::pair<std::string, std::vector<std::uint8_t>>> raw;
    std::set<std::string> disabled;
    bool rawWanted = false;

    void make(std::vector<SimulatedDevice> initial = {}) {
        auto backend = std::make_unique<SimulatedHIDBackend>(loop, std::move(initial));
        sim = backend.get();
        devices = std::make_unique<Devices>(loop, std::move(backend));
        devices->log = [this](const std::string& line) { lines.push_back(line); };
        devices->onChange = [this] { ++changes; };
        devices->onAxes = [this](const std::string& id, const smk::SpaceMouseAxes& a) {
            axes.emplace_back(id, a);
        };
        devices->onButtons = [this](const std::string& id, smk::SpaceMouseButtons b) {
            buttons.emplace_back(id, b);
        };
        devices->onReport = [this](const std::string& id, const std::vector<std::uint8_t>& b) {
            raw.emplace_back(id, b);
        };
        devices->wantsReports = [this] { return rawWanted; };
        devices->isEnabled = [this](const std::string& id) { return !disabled.count(id); };
        devices->start();
        loop.advance(0); // devices that are there from the start
    }

    // Lets background reads finish and their results come back.
    void settle() {
        ASSERT_TRUE(loop.runUntil([this] { return devices->backgroundWork() == 0; }));
        loop.runPending();
    }

    void TearDown() override {
        if (sim) sim->releaseFeatureReads();
        devices.reset();
    }

    std::vector<std::string> ids() const {
        std::vector<std::string> result;
        for (const auto& device : devices->list())
            result.push_back(device.id);
        return result;
    }

    SpaceMouseDevice only() const {
        auto list = devices->list();
        EXPECT_EQ(list.size(), 1u);
        return list.empty() ? SpaceMouseDevice{} : list.front();
    }

    int count(const std::string& prefix) const {
        int n = 0;
        for (const auto& line : lines)
            n += line.rfind(prefix, 0) == 0;
        return n;
    }
};

} // namespace kestrix::core::testing
