#pragma once

#include "KestrixCore/HIDBackend.h"

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace kestrix {
class Watch;
}

namespace kestrix::core {

// One input report of a simulated device: sent `at` seconds after the backend starts, then
// `count` - 1 more times `every` seconds apart.
struct SimulatedReport {
    double at = 0.0;
    double every = 0.0;
    std::int64_t count = 1;
    std::vector<std::uint8_t> bytes;
};

// One simulated HID interface. Properties that are absent are missing on the device too.
struct SimulatedDevice {
    std::int64_t vendorID = 0;
    std::int64_t productID = 0;
    std::optional<std::string> product;
    std::optional<std::string> transport;
    std::optional<std::string> serialNumber;
    std::optional<std::string> bluetoothAddress;
    std::optional<std::int64_t> locationID;
    std::optional<std::int64_t> interface;
    std::optional<std::vector<std::uint8_t>> reportDescriptor;
    std::map<std::uint8_t, std::vector<std::uint8_t>> featureReports;
    bool busy = false; // another process holds it exclusively
    double appearAt = 0.0;
    std::optional<double> vanishAt;
    std::vector<SimulatedReport> reports;

    // Faults for tests, not read from files.
    bool hidFeatureFails = false;       // every feature read through a handle fails
    bool controlPipeFails = false;      // every control-pipe read fails
    HIDResult openError = hidSuccess;   // every open fails with this code
    HIDResult outputError = hidSuccess; // every output report fails with this code
};

// The devices of a KESTRIX_DEVICES file: {"devices": [{"vendorID": .., "productID": .., ...}]}.
// Gives the devices, or one line that says what is wrong with the file.
std::variant<std::vector<SimulatedDevice>, std::string>
parseSimulatedDevices(const std::string& json);
std::variant<std::vector<SimulatedDevice>, std::string>
loadSimulatedDevices(const std::string& path);

// Simulated HID hardware on the main loop's clock (virtual time in tests, real time in the
// program). Devices appear and vanish at their times; input reports reach only handles that are
// open and activated at that moment, as with hardware; output reports are accepted and counted.
// Keys are 1, 2, ... in file order, then further for devices added later.
class SimulatedHIDBackend final : public HIDBackend {
public:
    SimulatedHIDBackend(MainLoop& loop, std::vector<SimulatedDevice> devices);
    ~SimulatedHIDBackend() override;
    SimulatedHIDBackend(const SimulatedHIDBackend&) = delete;
    SimulatedHIDBackend& operator=(const SimulatedHIDBackend&) = delete;

    void start(KeyHandler appeared, KeyHandler vanished) override;
    void stop() override;
    bool exists(DeviceKey key) const override;
    std::optional<PropertyValue> property(DeviceKey key, const std::string& name) const override;
    std::optional<PropertyValue> searchProperty(DeviceKey key,
                                                const std::string& name) const override;
    std::shared_ptr<HIDHandle> makeHandle(DeviceKey key) override;
    std::optional<std::vector<std::uint8_t>> getFeatureOverControlPipe(std::uint32_t location,
                                                                       std::uint16_t interface,
                                                                       std::uint8_t reportID,
                                                                       std::uint16_t size) override;

    // Driving the simulation from tests.
    DeviceKey add(SimulatedDevice device); // attaches it now (after start)
    void remove(DeviceKey key);
    // Plugs a removed device in again under the same key (a device number used again).
    void reattach(DeviceKey key);
    void setBusy(DeviceKey key, bool busy);
    void setFaults(DeviceKey key, bool hidFeatureFails, bool controlPipeFails);
    // Sends one input report now to the device's open, activated handles.
    void send(DeviceKey key, const std::vector<std::uint8_t>& bytes);
    // While held, feature reads through handles wait (on their own thread) until released.
    void holdFeatureReads();
    void releaseFeatureReads();

    // Inspection.
    struct ControlRequest {
        std::uint32_t location;
        std::uint16_t interface;
        std::uint8_t reportID;
        std::uint16_t size;
        bool operator==(const ControlRequest&) const = default;
    };
    struct FeatureRead {
        std::uint8_t reportID;
        std::size_t size;
        bool seized; // read on a seizing handle
        bool operator==(const FeatureRead&) const = default;
    };
    std::vector<std::vector<std::uint8_t>> outputReports(DeviceKey key) const;
    std::vector<FeatureRead> featureReads(DeviceKey key) const;
    std::vector<ControlRequest> controlRequests() const;
    int opens(DeviceKey key, bool seize) const; // open attempts so far
    int openHandles(DeviceKey key) const;       // handles open now
    std::size_t deliveredReports(DeviceKey key) const;

    struct State;

private:
    void attach(DeviceKey key);
    void detach(DeviceKey key);
    // One report stream being played: its first report on a delay, the rest on one repeating
    // timer.
    struct Stream {
        DeviceKey key;
        std::vector<std::uint8_t> bytes;
        std::int64_t left; // reports still to send
        std::unique_ptr<Watch> timer;
    };
    void play(DeviceKey key, const SimulatedReport& report);
    void playAtOnce(std::shared_ptr<Stream> stream);

    MainLoop& loop_;
    std::shared_ptr<State> state_;
    KeyHandler appeared_, vanished_;
    bool running_ = false;
    std::vector<std::shared_ptr<Stream>> streams_; // those on their repeating timer
};

} // namespace kestrix::core
