#pragma once

#include "KestrixProtocol/ProtocolRecords.h"
#include "SpaceMouseKit/SpaceMouseAxes.h"
#include "SpaceMouseKit/SpaceMouseButtons.h"

#include <cstdint>
#include <nlohmann/json_fwd.hpp>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

// The two message types of the broker protocol. Each is a tagged variant: one case of a fixed
// list, held in `value`. On the wire a message is a JSON object with exactly one member, named
// after the case; its value is the payload object: one member per labelled value, "_0" for a
// single unlabelled value, {} for a case without payload. See LineCoding.h for the framing.
//
// Build a message from its case, `ClientMessage{Hello{...}}` or
// `BrokerMessage{BrokerMessage::Axes{device, axes}}`; read it with `as<Case>()` or std::visit.
namespace kestrix {

// The payloads of the cases, at namespace scope so that they are complete before the variants
// are formed; use them by their names inside the message types (ClientMessage::SetLED, ...).
namespace clientcases {

// setLED: switch the status LED of one device.
struct SetLED {
    std::string device;
    bool on = false;
    bool operator==(const SetLED&) const = default;
};

// describe: ask for the DeviceDescription of one device.
struct Describe {
    std::string device;
    bool operator==(const Describe&) const = default;
};

// status: ask for the BrokerStatus. No payload.
struct Status {
    bool operator==(const Status&) const = default;
};

// takeOver: a newer broker (of this version) asks the running one to leave.
struct TakeOver {
    std::int64_t version = 0;
    bool operator==(const TakeOver&) const = default;
};

} // namespace clientcases

namespace brokercases {

// welcome: the answer to hello, with the broker's versions.
struct Welcome {
    std::int64_t version = 0;
    std::int64_t protocolVersion = 0;
    bool operator==(const Welcome&) const = default;
};

// devices: the whole device list (unlabelled on the wire).
struct Devices {
    std::vector<SpaceMouseDevice> devices;
    bool operator==(const Devices&) const = default;
};

// holding: the client gained (true) or lost (false) the device (unlabelled on the wire).
struct Holding {
    bool holding = false;
    bool operator==(const Holding&) const = default;
};

// axes: one rest-corrected sample of a device, to the holder only.
struct Axes {
    std::string device;
    smk::SpaceMouseAxes axes;
    bool operator==(const Axes&) const = default;
};

// buttons: the buttons now held on a device, to the holder only.
struct Buttons {
    std::string device;
    smk::SpaceMouseButtons held;
    bool operator==(const Buttons&) const = default;
};

// report: one raw HID input report, to a holder whose claim asks for raw reports.
struct Report {
    std::string device;
    std::vector<std::uint8_t> bytes;
    bool operator==(const Report&) const = default;
};

// appsWithOwnClient: application ids of the apps that have a client of their own.
struct AppsWithOwnClient {
    std::vector<std::string> apps;
    bool operator==(const AppsWithOwnClient&) const = default;
};

// handingOver: the answer to takeOver; true when the running broker will leave (unlabelled).
struct HandingOver {
    bool handingOver = false;
    bool operator==(const HandingOver&) const = default;
};

// refused: the broker drops this client, for the reason given (a line longer than it reads,
// say); the link closes right after it.
struct Refused {
    std::string reason;
    bool operator==(const Refused&) const = default;
};

} // namespace brokercases

// Client to broker. Cases in declaration order: hello, claim, setLED, describe, status, takeOver.
struct ClientMessage {
    using SetLED = clientcases::SetLED;
    using Describe = clientcases::Describe;
    using Status = clientcases::Status;
    using TakeOver = clientcases::TakeOver;

    // hello and claim carry their record unlabelled.
    using Case = std::variant<Hello, Claim, SetLED, Describe, Status, TakeOver>;

    Case value;

    bool operator==(const ClientMessage&) const = default;

    template <class T> const T* as() const { return std::get_if<T>(&value); }
    template <class T> T* as() { return std::get_if<T>(&value); }
};

// Broker to client. Cases in declaration order: welcome, devices, holding, axes, buttons, report,
// description, status, appsWithOwnClient, handingOver, refused.
struct BrokerMessage {
    using Welcome = brokercases::Welcome;
    using Devices = brokercases::Devices;
    using Holding = brokercases::Holding;
    using Axes = brokercases::Axes;
    using Buttons = brokercases::Buttons;
    using Report = brokercases::Report;
    using AppsWithOwnClient = brokercases::AppsWithOwnClient;
    using HandingOver = brokercases::HandingOver;
    using Refused = brokercases::Refused;

    // description and status carry their record unlabelled.
    using Case = std::variant<Welcome, Devices, Holding, Axes, Buttons, Report, DeviceDescription,
                              BrokerStatus, AppsWithOwnClient, HandingOver, Refused>;

    Case value;

    bool operator==(const BrokerMessage&) const = default;

    template <class T> const T* as() const { return std::get_if<T>(&value); }
    template <class T> T* as() { return std::get_if<T>(&value); }
};

// The case name as it appears on the wire ("hello", "setLED", "appsWithOwnClient", ...).
const char* caseName(const ClientMessage& message);
const char* caseName(const BrokerMessage& message);

// JSON form, found by argument-dependent lookup. from_json throws when the object is not exactly
// one known case with a well-formed payload; members with unknown names are ignored.
void to_json(nlohmann::json& json, const ClientMessage& message);
void from_json(const nlohmann::json& json, ClientMessage& message);
void to_json(nlohmann::json& json, const BrokerMessage& message);
void from_json(const nlohmann::json& json, BrokerMessage& message);

// The fixed form of the report-rate messages (HotLines.h), which LineEncoder and LineDecoder use
// before the JSON coder: writeHotLine appends the line of an axes or buttons message and says
// whether it did; readHotLine reads such a line into `message`, reusing what it holds.
bool writeHotLine(std::string& out, const BrokerMessage& message);
bool readHotLine(std::string_view line, BrokerMessage& message);

} // namespace kestrix
