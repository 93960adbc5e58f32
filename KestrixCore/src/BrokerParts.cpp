#include "KestrixCore/BrokerParts.h"

#include "KestrixCore/ConnexionAPI.h"
#include "KestrixCore/Devices.h"
#include "KestrixCore/DriverClient.h"
#include "KestrixCore/HIDBackend.h"

#include <cstdlib>

namespace kestrix::core {

DevicesAdapter::DevicesAdapter(std::unique_ptr<Devices> devices)
    : devices_(std::move(devices)) {
    // The layer's callbacks forward to whatever the broker sets here, looked up on every call.
    devices_->onAxes = [this](const std::string& id, const smk::SpaceMouseAxes& axes) {
        onAxes(id, axes);
    };
    devices_->onButtons = [this](const std::string& id, smk::SpaceMouseButtons held) {
        onButtons(id, held);
    };
    devices_->onReport = [this](const std::string& id, const std::vector<std::uint8_t>& bytes) {
        onReport(id, bytes);
    };
    devices_->wantsReports = [this] { return wantsReports(); };
    devices_->onChange = [this] { onChange(); };
    devices_->log = [this](const std::string& line) { log(line); };
    devices_->isEnabled = [this](const std::string& id) { return isEnabled(id); };
}

DevicesAdapter::~DevicesAdapter() = default;

void DevicesAdapter::start() {
    devices_->start();
}
void DevicesAdapter::stop() {
    devices_->stop();
}
void DevicesAdapter::want(bool on) {
    devices_->want(on);
}
std::vector<SpaceMouseDevice> DevicesAdapter::list() const {
    return devices_->list();
}
std::optional<std::string> DevicesAdapter::setLED(bool on, const std::string& id) {
    return devices_->setLED(on, id);
}
void DevicesAdapter::describe(const std::string& id,
                              std::function<void(DeviceDescription)> completion) {
    devices_->describe(id, std::move(completion));
}
std::optional<smk::SpaceMouseModel> DevicesAdapter::model(const std::string& id) const {
    auto found = devices_->lookup(id);
    if (!found) return std::nullopt;
    return found->second->model;
}
void DevicesAdapter::setDriverHolds(bool holds) {
    devices_->driverHolds = holds;
}
std::optional<DriverProblem> DevicesAdapter::driverProblem() const {
    return devices_->driverProblem;
}
void DevicesAdapter::setDriverProblem(std::optional<DriverProblem> problem) {
    devices_->driverProblem = std::move(problem);
}

DriverClientAdapter::DriverClientAdapter(std::unique_ptr<DriverClient> client)
    : client_(std::move(client)) {
    client_->onAxes = [this](const smk::SpaceMouseAxes& axes) { onAxes(axes); };
    client_->onButtons = [this](std::uint32_t bits) { onButtons(bits); };
    client_->log = [this](const std::string& line) { log(line); };
    client_->onChange = [this] { onChange(); };
}

DriverClientAdapter::~DriverClientAdapter() = default;

void DriverClientAdapter::start() {
    client_->start();
}
void DriverClientAdapter::stop() {
    client_->stop();
}
void DriverClientAdapter::want(bool on) {
    client_->want(on);
}
std::uint16_t DriverClientAdapter::clientID() const {
    return client_->clientID();
}
std::int64_t DriverClientAdapter::failures() const {
    return client_->retry().failures;
}
std::optional<std::string> DriverClientAdapter::lastReason() const {
    return client_->retry().lastReason;
}
bool DriverClientAdapter::registered() const {
    return client_->api().has_value() && client_->clientID() != 0;
}
void DriverClientAdapter::setLED(bool on) {
    client_->setLED(on);
}

SpacenavdWatch::Paths spacenavdPaths() {
    SpacenavdWatch::Paths paths;
    const char* socket = std::getenv("SPNAV_SOCKET");
    if (socket && *socket) {
        std::string path = socket;
        auto slash = path.rfind('/');
        paths.runDirectory = slash == std::string::npos ? "."
                             : slash == 0               ? "/"
                                                        : path.substr(0, slash);
        paths.socket = slash == std::string::npos ? path : path.substr(slash + 1);
    }
    return paths;
}

Broker::Parts makeBrokerParts(MainLoop& loop, const char* kestrixDevicesEnv,
                              std::function<void(const std::string&)> log) {
    Broker::Parts parts;
    parts.devices = std::make_unique<DevicesAdapter>(
        std::make_unique<Devices>(loop, makeHIDBackend(loop, kestrixDevicesEnv, log)));
    parts.driver = std::make_unique<DriverClientAdapter>(std::make_unique<DriverClient>(loop));
    parts.driverWatch = std::make_unique<SpacenavdWatch>(loop, spacenavdPaths(), log);
    parts.frontApp = makeFrontApp(loop, log);
    parts.frontApp->onStatusChange = [front = parts.frontApp.get(), log] {
        if (log) log(front->status().logLine());
    };
    return parts;
}

} // namespace kestrix::core
