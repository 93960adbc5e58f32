#pragma once

#include "KestrixCore/Broker.h"

#include <functional>
#include <memory>
#include <string>

namespace kestrix::core {

class Devices;
class DriverClient;

// The device layer as the broker uses it.
class DevicesAdapter final : public BrokerDevices {
public:
    explicit DevicesAdapter(std::unique_ptr<Devices> devices);
    ~DevicesAdapter() override;

    void start() override;
    void stop() override;
    void want(bool on) override;
    std::vector<SpaceMouseDevice> list() const override;
    std::optional<std::string> setLED(bool on, const std::string& id) override;
    void describe(const std::string& id,
                  std::function<void(DeviceDescription)> completion) override;
    std::optional<smk::SpaceMouseModel> model(const std::string& id) const override;
    void setDriverHolds(bool holds) override;
    std::optional<DriverProblem> driverProblem() const override;
    void setDriverProblem(std::optional<DriverProblem> problem) override;

    Devices& devices() { return *devices_; }

private:
    std::unique_ptr<Devices> devices_;
};

// The driver client as the broker uses it.
class DriverClientAdapter final : public BrokerDriver {
public:
    explicit DriverClientAdapter(std::unique_ptr<DriverClient> client);
    ~DriverClientAdapter() override;

    void start() override;
    void stop() override;
    void want(bool on) override;
    std::uint16_t clientID() const override;
    std::int64_t failures() const override;
    std::optional<std::string> lastReason() const override;
    bool registered() const override;
    void setLED(bool on) override;

private:
    std::unique_ptr<DriverClient> client_;
};

// Where spacenavd keeps its pid file and socket: beside $SPNAV_SOCKET when that is set, else
// /var/run.
SpacenavdWatch::Paths spacenavdPaths();

// The broker program's parts: the HID device layer over the backend that KESTRIX_DEVICES chooses
// (`kestrixDevicesEnv`, may be null), the driver client, the spacenavd watch and the app in front.
Broker::Parts makeBrokerParts(MainLoop& loop, const char* kestrixDevicesEnv,
                              std::function<void(const std::string&)> log);

} // namespace kestrix::core
