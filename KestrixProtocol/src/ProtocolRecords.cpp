#include "KestrixProtocol/ProtocolRecords.h"

#include "JsonFields.h"

#include <nlohmann/json.hpp>

namespace kestrix {

using nlohmann::json;
using namespace jsonfields;

namespace {

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; };
        if (lower(a[i]) != lower(b[i])) return false;
    }
    return true;
}

} // namespace

// MARK: SpaceMouseDevice, derived properties

std::optional<smk::SpaceMouseModel> SpaceMouseDevice::model() const {
    return smk::SpaceMouseModel::matching(vendorID, productID);
}

bool SpaceMouseDevice::isUSB() const {
    return equalsIgnoringCase(transport, usbTransport);
}

bool SpaceMouseDevice::isBluetooth() const {
    return equalsIgnoringCase(transport, bluetoothTransport);
}

smk::SpaceMouseButtons::TwoButtons SpaceMouseDevice::twoButtons() const {
    if (buttons) return smk::SpaceMouseButtons::twoButtons(*buttons);
    if (auto known = model()) return smk::SpaceMouseButtons::twoButtons(known->buttons());
    return smk::SpaceMouseButtons::twoButtons(
        {smk::SpaceMouseButtons::left, smk::SpaceMouseButtons::right});
}

bool SpaceMouseDevice::canLightLED() const {
    auto known = model();
    bool hasOne = hasLED ? *hasLED : known ? known->hasStatusLED : false;
    if (!hasOne) return false;
    // The wireless models switch their LED only over the cable, not over Bluetooth.
    if (isBluetooth() && known && known->statusLEDNeedsCable()) return false;
    return true;
}

// MARK: Claim and Hello

void to_json(json& out, const Claim& claim) {
    out = json{{"apps", claim.apps}, {"background", claim.background}};
    put(out, "backgroundLast", claim.backgroundLast);
    put(out, "raw", claim.raw);
}

void from_json(const json& in, Claim& claim) {
    requireObject(in, "claim");
    required(in, "apps", claim.apps);
    required(in, "background", claim.background);
    optional(in, "backgroundLast", claim.backgroundLast);
    optional(in, "raw", claim.raw);
}

void to_json(json& out, const Hello& hello) {
    out = json{{"protocolVersion", hello.protocolVersion},
               {"version", hello.version},
               {"processID", hello.processID},
               {"name", hello.name}};
    put(out, "claim", hello.claim);
}

void from_json(const json& in, Hello& hello) {
    requireObject(in, "hello");
    required(in, "protocolVersion", hello.protocolVersion);
    required(in, "version", hello.version);
    required(in, "processID", hello.processID);
    required(in, "name", hello.name);
    optional(in, "claim", hello.claim);
}

// MARK: DriverProblem and SpaceMouseDevice

void to_json(json& out, const DriverProblem& problem) {
    out = json{{"code", problem.code}, {"detail", problem.detail}};
}

void from_json(const json& in, DriverProblem& problem) {
    requireObject(in, "driver problem");
    required(in, "code", problem.code);
    required(in, "detail", problem.detail);
}

void to_json(json& out, const SpaceMouseDevice& device) {
    out = json{
        {"id", device.id},      {"vendorID", device.vendorID},   {"productID", device.productID},
        {"name", device.name},  {"transport", device.transport}, {"enabled", device.enabled},
        {"state", device.state}};
    put(out, "serialNumber", device.serialNumber);
    put(out, "bluetoothAddress", device.bluetoothAddress);
    put(out, "locationID", device.locationID);
    put(out, "battery", device.battery);
    put(out, "charging", device.charging);
    put(out, "led", device.led);
    put(out, "knowledge", device.knowledge);
    put(out, "buttons", device.buttons);
    put(out, "axisFullScale", device.axisFullScale);
    put(out, "hasLED", device.hasLED);
    put(out, "driverProblem", device.driverProblem);
}

void from_json(const json& in, SpaceMouseDevice& device) {
    requireObject(in, "device");
    required(in, "id", device.id);
    required(in, "vendorID", device.vendorID);
    required(in, "productID", device.productID);
    required(in, "name", device.name);
    required(in, "transport", device.transport);
    optional(in, "serialNumber", device.serialNumber);
    optional(in, "bluetoothAddress", device.bluetoothAddress);
    optional(in, "locationID", device.locationID);
    optional(in, "battery", device.battery);
    optional(in, "charging", device.charging);
    required(in, "enabled", device.enabled);
    required(in, "state", device.state);
    optional(in, "led", device.led);
    optional(in, "knowledge", device.knowledge);
    optional(in, "buttons", device.buttons);
    optional(in, "axisFullScale", device.axisFullScale);
    optional(in, "hasLED", device.hasLED);
    optional(in, "driverProblem", device.driverProblem);
}

// MARK: DeviceDescription

void to_json(json& out, const DeviceDescription::FeatureReport& report) {
    out = json{{"id", report.id}};
    put(out, "bytes", report.bytes);
    put(out, "error", report.error);
}

void from_json(const json& in, DeviceDescription::FeatureReport& report) {
    requireObject(in, "feature report");
    required(in, "id", report.id);
    optional(in, "bytes", report.bytes);
    optional(in, "error", report.error);
}

void to_json(json& out, const DeviceDescription& description) {
    out = json{{"device", description.device},
               {"properties", description.properties},
               {"reportDescriptor", description.reportDescriptor},
               {"featureReports", description.featureReports}};
    put(out, "featureReportsVia", description.featureReportsVia);
    put(out, "error", description.error);
}

void from_json(const json& in, DeviceDescription& description) {
    requireObject(in, "description");
    required(in, "device", description.device);
    required(in, "properties", description.properties);
    required(in, "reportDescriptor", description.reportDescriptor);
    required(in, "featureReports", description.featureReports);
    optional(in, "featureReportsVia", description.featureReportsVia);
    optional(in, "error", description.error);
}

// MARK: BrokerStatus

void to_json(json& out, const BrokerStatus::Client& client) {
    out = json{{"id", client.id},
               {"name", client.name},
               {"processID", client.processID},
               {"claim", client.claim},
               {"holds", client.holds}};
}

void from_json(const json& in, BrokerStatus::Client& client) {
    requireObject(in, "client");
    required(in, "id", client.id);
    required(in, "name", client.name);
    required(in, "processID", client.processID);
    required(in, "claim", client.claim);
    required(in, "holds", client.holds);
}

void to_json(json& out, const BrokerStatus& status) {
    out = json{{"version", status.version},
               {"processID", status.processID},
               {"devices", status.devices},
               {"clients", status.clients}};
    put(out, "frontmostApp", status.frontmostApp);
    put(out, "driver", status.driver);
    put(out, "appsWithOwnClient", status.appsWithOwnClient);
}

void from_json(const json& in, BrokerStatus& status) {
    requireObject(in, "status");
    required(in, "version", status.version);
    required(in, "processID", status.processID);
    optional(in, "frontmostApp", status.frontmostApp);
    required(in, "devices", status.devices);
    required(in, "clients", status.clients);
    optional(in, "driver", status.driver);
    optional(in, "appsWithOwnClient", status.appsWithOwnClient);
}

} // namespace kestrix
