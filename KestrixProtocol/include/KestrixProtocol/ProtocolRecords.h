#pragma once

#include "SpaceMouseKit/SpaceMouseButtons.h"
#include "SpaceMouseKit/SpaceMouseModel.h"

#include <cstdint>
#include <map>
#include <nlohmann/json_fwd.hpp>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

// The value records that the broker and its clients exchange inside their messages. Every record
// is a plain value with public fields: build it with its memberwise constructor (fields in order,
// trailing optional fields may be left out and are then absent) or field by field, compare it
// memberwise, and code it as one JSON object whose members are named after the fields.
//
// Reading is strict where a mistake would make the peers disagree and lenient where a newer peer
// may say more: a required member must be present with the right JSON type; an optional member may
// be missing or null (both mean absent); unknown members are ignored; integers must be JSON
// integers within the field's range (an out-of-range Int32 or byte fails the whole record, and with
// it the message that carries it). Failure is reported by throwing, which the line decoder turns
// into a dropped line.
namespace kestrix {

// What a client wants of the device.
struct Claim {
    // Application ids in whose front the client wants the device; may be empty. Order matters to
    // equality: the same ids in another order make another claim.
    std::vector<std::string> apps;
    // The client also wants the device when no claimant names the app in front.
    bool background = false;
    // Ranks this client's background claim after the others.
    std::optional<bool> backgroundLast;
    // While holding, the client also receives every raw input report.
    std::optional<bool> raw;

    Claim() = default;
    Claim(std::vector<std::string> apps, bool background,
          std::optional<bool> backgroundLast = std::nullopt, std::optional<bool> raw = std::nullopt)
        : apps(std::move(apps))
        , background(background)
        , backgroundLast(backgroundLast)
        , raw(raw) {}

    bool operator==(const Claim&) const = default;
};

// The first message of every client connection.
struct Hello {
    std::int64_t protocolVersion = 0;
    std::int64_t version = 0;
    std::int32_t processID = 0;
    // "Vantor" for the scrolling app; "Kestrix v" + version for a newer broker asking to take over.
    std::string name;
    // Absent for a listener that receives broadcasts only (and for the hand-over request).
    std::optional<Claim> claim;

    Hello() = default;
    Hello(std::int64_t protocolVersion, std::int64_t version, std::int32_t processID,
          std::string name, std::optional<Claim> claim = std::nullopt)
        : protocolVersion(protocolVersion)
        , version(version)
        , processID(processID)
        , name(std::move(name))
        , claim(std::move(claim)) {}

    bool operator==(const Hello&) const = default;
};

// A problem with the system's device driver, shown on a device while the driver holds it.
struct DriverProblem {
    static constexpr std::string_view helperNotResponding = "helperNotResponding";
    static constexpr std::string_view driverNotAnswering = "driverNotAnswering";

    // One of the two codes above.
    std::string code;
    // One English sentence for the user.
    std::string detail;

    DriverProblem() = default;
    DriverProblem(std::string code, std::string detail)
        : code(std::move(code))
        , detail(std::move(detail)) {}

    bool operator==(const DriverProblem&) const = default;
};

// One device as the broker reports it to its clients. `id` identifies it. Optional and required
// fields alternate, so it has no memberwise constructor: set the fields by name.
struct SpaceMouseDevice {
    static constexpr std::string_view usbTransport = "USB";
    static constexpr std::string_view bluetoothTransport = "Bluetooth";

    // "serial:" + serial number, "bt:" + Bluetooth address, or "port:vvvv:pppp@llllllll".
    std::string id;
    std::int64_t vendorID = 0;
    std::int64_t productID = 0;
    std::string name;
    // "USB", "Bluetooth" or whatever other text the device reports.
    std::string transport;
    std::optional<std::string> serialNumber;
    std::optional<std::string> bluetoothAddress;
    std::optional<std::int64_t> locationID;
    // Battery charge in percent.
    std::optional<std::int64_t> battery;
    std::optional<bool> charging;
    // False when the user switched the device off in the broker.
    bool enabled = true;
    // The broker's handling of the device in a few words ("open", "busy", "driver", ...).
    std::string state;
    // The state in which the broker last set the status LED.
    std::optional<bool> led;
    std::optional<smk::SpaceMouseModel::Knowledge> knowledge;
    // Every button of the model.
    std::optional<smk::SpaceMouseButtons> buttons;
    std::optional<std::int64_t> axisFullScale;
    // The device has a status LED, as the broker recognised it.
    std::optional<bool> hasLED;
    // Present while the driver holds the device and has a problem.
    std::optional<DriverProblem> driverProblem;

    SpaceMouseDevice() = default;

    bool operator==(const SpaceMouseDevice&) const = default;

    // The known model with this record's vendor and product id; absent for an unknown pair.
    std::optional<smk::SpaceMouseModel> model() const;
    // `transport` is "USB" / "Bluetooth", ignoring case. A longer text that merely begins with
    // one of them is neither.
    bool isUSB() const;
    bool isBluetooth() const;
    // The two buttons that act as left and right: from `buttons` when present, else from the
    // known model's buttons, else from {left, right}.
    smk::SpaceMouseButtons::TwoButtons twoButtons() const;
    // Whether the broker can switch the status LED: the device must have one (`hasLED`, else the
    // known model's, else none), and a model whose LED needs the cable cannot light it over
    // Bluetooth.
    bool canLightLED() const;
};

// The answer to a describe request: a diagnostic picture of one device.
struct DeviceDescription {
    struct FeatureReport {
        // The report id.
        std::int64_t id = 0;
        // The report as read; absent when it could not be read.
        std::optional<std::vector<std::uint8_t>> bytes;
        // Why it could not be read.
        std::optional<std::string> error;

        FeatureReport() = default;
        FeatureReport(std::int64_t id,
                      std::optional<std::vector<std::uint8_t>> bytes = std::nullopt,
                      std::optional<std::string> error = std::nullopt)
            : id(id)
            , bytes(std::move(bytes))
            , error(std::move(error)) {}

        bool operator==(const FeatureReport&) const = default;
    };

    // The device id that was asked about.
    std::string device;
    // Device properties as text.
    std::map<std::string, std::string> properties;
    // The HID report descriptor; empty when unknown.
    std::vector<std::uint8_t> reportDescriptor;
    // One row per feature report id tried.
    std::vector<FeatureReport> featureReports;
    // "HID device" or "control pipe".
    std::optional<std::string> featureReportsVia;
    // Why the description is missing or incomplete.
    std::optional<std::string> error;

    DeviceDescription() = default;
    DeviceDescription(std::string device, std::map<std::string, std::string> properties,
                      std::vector<std::uint8_t> reportDescriptor,
                      std::vector<FeatureReport> featureReports,
                      std::optional<std::string> featureReportsVia = std::nullopt,
                      std::optional<std::string> error = std::nullopt)
        : device(std::move(device))
        , properties(std::move(properties))
        , reportDescriptor(std::move(reportDescriptor))
        , featureReports(std::move(featureReports))
        , featureReportsVia(std::move(featureReportsVia))
        , error(std::move(error)) {}

    bool operator==(const DeviceDescription&) const = default;
};

// The answer to a status request, and the model of the broker's own menu.
struct BrokerStatus {
    struct Client {
        // The number of its connection, counted from 1 in accept order.
        std::int64_t id = 0;
        std::string name;
        std::int32_t processID = 0;
        Claim claim;
        // This client holds the device now.
        bool holds = false;

        Client() = default;
        Client(std::int64_t id, std::string name, std::int32_t processID, Claim claim, bool holds)
            : id(id)
            , name(std::move(name))
            , processID(processID)
            , claim(std::move(claim))
            , holds(holds) {}

        bool operator==(const Client&) const = default;
    };

    std::int64_t version = 0;
    std::int32_t processID = 0;
    // Application id of the app in front.
    std::optional<std::string> frontmostApp;
    std::vector<SpaceMouseDevice> devices;
    // The clients that claim the device, sorted by client id.
    std::vector<Client> clients;
    // True while the broker works through the system's device driver.
    std::optional<bool> driver;
    // Application ids of apps that have a client of their own.
    std::optional<std::vector<std::string>> appsWithOwnClient;

    BrokerStatus() = default;
    // `frontmostApp` sits between required fields; pass std::nullopt when there is none.
    BrokerStatus(std::int64_t version, std::int32_t processID,
                 std::optional<std::string> frontmostApp, std::vector<SpaceMouseDevice> devices,
                 std::vector<Client> clients, std::optional<bool> driver = std::nullopt,
                 std::optional<std::vector<std::string>> appsWithOwnClient = std::nullopt)
        : version(version)
        , processID(processID)
        , frontmostApp(std::move(frontmostApp))
        , devices(std::move(devices))
        , clients(std::move(clients))
        , driver(driver)
        , appsWithOwnClient(std::move(appsWithOwnClient)) {}

    bool operator==(const BrokerStatus&) const = default;
};

// JSON form, found by argument-dependent lookup. from_json throws on a record that does not decode.
void to_json(nlohmann::json& json, const Claim& claim);
void from_json(const nlohmann::json& json, Claim& claim);
void to_json(nlohmann::json& json, const Hello& hello);
void from_json(const nlohmann::json& json, Hello& hello);
void to_json(nlohmann::json& json, const DriverProblem& problem);
void from_json(const nlohmann::json& json, DriverProblem& problem);
void to_json(nlohmann::json& json, const SpaceMouseDevice& device);
void from_json(const nlohmann::json& json, SpaceMouseDevice& device);
void to_json(nlohmann::json& json, const DeviceDescription::FeatureReport& report);
void from_json(const nlohmann::json& json, DeviceDescription::FeatureReport& report);
void to_json(nlohmann::json& json, const DeviceDescription& description);
void from_json(const nlohmann::json& json, DeviceDescription& description);
void to_json(nlohmann::json& json, const BrokerStatus::Client& client);
void from_json(const nlohmann::json& json, BrokerStatus::Client& client);
void to_json(nlohmann::json& json, const BrokerStatus& status);
void from_json(const nlohmann::json& json, BrokerStatus& status);

} // namespace kestrix
