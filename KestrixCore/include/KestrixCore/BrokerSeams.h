#pragma once

#include "KestrixProtocol/ProtocolRecords.h"
#include "SpaceMouseKit/SpaceMouseAxes.h"
#include "SpaceMouseKit/SpaceMouseButtons.h"
#include "SpaceMouseKit/SpaceMouseModel.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace kestrix::core {

// What the broker uses of the HID device layer (`Devices`). The broker sets the callbacks before
// `start`; they arrive on the main loop.
class BrokerDevices {
public:
    virtual ~BrokerDevices() = default;

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

    virtual void start() = 0;
    virtual void stop() = 0;
    virtual void want(bool on) = 0;
    // Sorted by id, with `enabled` from `isEnabled`.
    virtual std::vector<SpaceMouseDevice> list() const = 0;
    // The reason when the LED could not be switched; absent on success.
    virtual std::optional<std::string> setLED(bool on, const std::string& id) = 0;
    // `completion` runs once, on the main loop.
    virtual void describe(const std::string& id,
                          std::function<void(DeviceDescription)> completion) = 0;
    // The model of the device with that id; absent when no device has it.
    virtual std::optional<smk::SpaceMouseModel> model(const std::string& id) const = 0;

    // The driver holds the devices; the list shows them as "driver" with the problem.
    virtual void setDriverHolds(bool holds) = 0;
    virtual std::optional<DriverProblem> driverProblem() const = 0;
    virtual void setDriverProblem(std::optional<DriverProblem> problem) = 0;
};

// What the broker uses of its client of the system's device driver (`DriverClient`).
class BrokerDriver {
public:
    virtual ~BrokerDriver() = default;

    std::function<void(const smk::SpaceMouseAxes&)> onAxes = [](const smk::SpaceMouseAxes&) {};
    // The driver's own button bits.
    std::function<void(std::uint32_t)> onButtons = [](std::uint32_t) {};
    std::function<void(const std::string&)> log = [](const std::string&) {};
    std::function<void()> onChange = [] {};

    virtual void start() = 0;
    virtual void stop() = 0;
    virtual void want(bool on) = 0;
    // 0 while not registered.
    virtual std::uint16_t clientID() const = 0;
    // Consecutive failed registrations, and the reason of the last one.
    virtual std::int64_t failures() const = 0;
    virtual std::optional<std::string> lastReason() const = 0;
    // The driver library is loaded and the client registered.
    virtual bool registered() const = 0;
    // Switches the status LED through the driver; only while registered. The result is ignored.
    virtual void setLED(bool on) = 0;
};

} // namespace kestrix::core
