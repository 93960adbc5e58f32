#pragma once

#include "KestrixCore/HIDBackend.h"
#include "KestrixCore/Reports.h"
#include "KestrixProtocol/ProtocolRecords.h"
#include "SpaceMouseKit/SpaceMouseModel.h"

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace kestrix {
class MainLoop;
}

namespace kestrix::core {

// The broker's HID device layer: finds the SpaceMouse devices, names each with a stable id,
// seizes them while the broker wants them, decodes their reports, switches the status LED and
// keeps the device list for the clients. Main loop only; it speaks only through its callbacks.
// The loop must outlive it. Feature reports are read on a few worker threads at a time (further
// reads wait for one to finish), which the destructor joins.
class Devices final {
public:
    // One recognised device.
    struct Entry {
        SpaceMouseDevice info;
        smk::SpaceMouseModel model;
        std::optional<std::int64_t> interface; // USB interface number
        std::shared_ptr<HIDHandle> device;     // the seized handle, present while open
        std::shared_ptr<Reports> reports;      // its decoder, present exactly while `device` is
        int attempt = 0; // busy retries scheduled since the last successful seize
    };

    // USB location and interface number, for reads over the control pipe.
    struct ControlPipe {
        std::int64_t location = 0;
        std::int64_t interface = 0;
    };

    // Callbacks, set by the broker before `start`.
    std::function<void(const std::string& id, const smk::SpaceMouseAxes&)> onAxes =
        [](const std::string&, const smk::SpaceMouseAxes&) {};
    std::function<void(const std::string& id, smk::SpaceMouseButtons)> onButtons =
        [](const std::string&, smk::SpaceMouseButtons) {};
    std::function<void(const std::string& id, const std::vector<std::uint8_t>&)> onReport =
        [](const std::string&, const std::vector<std::uint8_t>&) {};
    std::function<bool()> wantsReports = [] { return false; };
    std::function<void()> onChange = [] {};
    std::function<void(const std::string&)> log = [](const std::string&) {};
    std::function<bool(const std::string& id)> isEnabled = [](const std::string&) { return true; };

    // Written by the broker while 3Dconnexion's driver holds the devices.
    bool driverHolds = false;
    std::optional<DriverProblem> driverProblem;

    Devices(MainLoop& loop, std::unique_ptr<HIDBackend> backend);
    ~Devices();
    Devices(const Devices&) = delete;
    Devices& operator=(const Devices&) = delete;

    // Begins matching devices. Called once.
    void start();
    // Releases every device and ends matching; the tables stay as they are.
    void stop();
    // Seizes (true) or releases (false) every device; nothing when already so.
    void want(bool on);
    bool wanted() const { return wanted_; }

    // Every device, sorted by id, with `enabled` from `isEnabled` and the "driver" state while
    // the driver holds the devices that are not open.
    std::vector<SpaceMouseDevice> list() const;

    // Switches the status LED; the reason when it failed, absent on success.
    std::optional<std::string> setLED(bool on, const std::string& id);

    // Describes one device; `completion` is called exactly once, on the main loop.
    void describe(const std::string& id, std::function<void(DeviceDescription)> completion);

    // The device id: "serial:" + serial number, else "bt:" + Bluetooth address (lower case, ":"
    // separators), else "port:vvvv:pppp@llllllll", with "/" + slot when a slot is given.
    static std::string identity(const SpaceMouseDevice& info, std::optional<std::int64_t> slot);

    // The first entry whose id is `id`.
    std::optional<std::pair<DeviceKey, const Entry*>> lookup(const std::string& id) const;

    // Feature reports and properties; they touch no state of the layer and run on any thread.
    static std::map<std::string, std::string> properties(const HIDBackend& backend, DeviceKey key);
    static std::optional<std::int64_t> interfaceNumber(const HIDBackend& backend, DeviceKey key);
    static std::optional<std::vector<std::uint8_t>>
    getFeature(HIDBackend& backend, DeviceKey key, std::uint8_t reportID, std::size_t length,
               const std::shared_ptr<HIDHandle>& device);
    static std::optional<std::vector<std::uint8_t>> getFeatureOverControlPipe(HIDBackend& backend,
                                                                              ControlPipe pipe,
                                                                              std::uint8_t reportID,
                                                                              std::size_t length);

    // Background reads not yet finished and joined, running or waiting for a worker
    // (serial-number reads, descriptions).
    std::size_t backgroundWork() const { return workers_.size() + waiting_.size(); }
    HIDBackend& backend() { return *backend_; }

private:
    void appeared(DeviceKey key);
    void vanished(DeviceKey key);
    void readSerialNumber(DeviceKey key, smk::SpaceMouseModel model, SpaceMouseDevice info,
                          std::optional<std::int64_t> interface, std::uint8_t reportID);
    void registerDevice(DeviceKey key, const smk::SpaceMouseModel& model, SpaceMouseDevice info,
                        std::optional<std::int64_t> interface);
    void open(DeviceKey key);
    void close(DeviceKey key);
    void battery(DeviceKey key, int percent, bool charging);
    void cancel(const std::shared_ptr<HIDHandle>& device, std::shared_ptr<Reports> reports);
    using BackgroundWork = std::function<std::function<void()>()>;
    // Runs `work` on a worker thread and `done` with its result on the loop.
    void inBackground(BackgroundWork work);
    // Starts waiting work while fewer than maximumWorkers run.
    void startWorkers();
    void launch(BackgroundWork work);
    void describeSeized(DeviceKey key, DeviceDescription description,
                        std::vector<std::pair<std::uint8_t, std::size_t>> reports,
                        std::function<void(DeviceDescription)> completion);

    MainLoop& loop_;
    std::unique_ptr<HIDBackend> backend_;
    bool started_ = false;
    std::map<DeviceKey, Entry> entries_;
    // Devices whose serial number is being read, with the read's number: a key can come back
    // for another device while an old read is still out.
    std::map<DeviceKey, std::uint64_t> pending_;
    std::uint64_t reads_ = 0;
    std::set<DeviceKey> managed_;
    bool wanted_ = false;
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
    std::map<std::uint64_t, std::thread> workers_;
    std::deque<BackgroundWork> waiting_;
    std::uint64_t nextWorker_ = 0;
};

} // namespace kestrix::core
