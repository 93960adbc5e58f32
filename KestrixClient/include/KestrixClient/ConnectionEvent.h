#pragma once

#include "KestrixProtocol/ProtocolRecords.h"
#include "SpaceMouseKit/SpaceMouseAxes.h"
#include "SpaceMouseKit/SpaceMouseButtons.h"

#include <cstdint>
#include <string>
#include <variant>
#include <vector>

namespace kestrix::client {

// What the broker connection tells its owner. Equality is structural.
struct ConnectionEvent {
    // The broker welcomed this client; its release number.
    struct Connected {
        std::int64_t version = 0;
        bool operator==(const Connected&) const = default;
    };
    // This client now holds (true) or no longer holds (false) the device.
    struct Holding {
        bool holds = false;
        bool operator==(const Holding&) const = default;
    };
    // The broker's device list.
    struct Devices {
        std::vector<SpaceMouseDevice> list;
        bool operator==(const Devices&) const = default;
    };
    // One axes sample of a device (only while holding).
    struct Axes {
        smk::SpaceMouseAxes axes;
        std::string device;
        bool operator==(const Axes&) const = default;
    };
    // The held buttons of a device (only while holding).
    struct Buttons {
        smk::SpaceMouseButtons held;
        std::string device;
        bool operator==(const Buttons&) const = default;
    };
    // The broker cannot be reached or started; the text says why.
    struct Unavailable {
        std::string reason;
        bool operator==(const Unavailable&) const = default;
    };
    // The link to the broker is gone.
    struct Disconnected {
        bool operator==(const Disconnected&) const = default;
    };

    using Value =
        std::variant<Connected, Holding, Devices, Axes, Buttons, Unavailable, Disconnected>;
    Value value;

    static ConnectionEvent connected(std::int64_t version) { return {Connected{version}}; }
    static ConnectionEvent holding(bool holds) { return {Holding{holds}}; }
    static ConnectionEvent devices(std::vector<SpaceMouseDevice> list) {
        return {Devices{std::move(list)}};
    }
    static ConnectionEvent axes(smk::SpaceMouseAxes axes, std::string device) {
        return {Axes{axes, std::move(device)}};
    }
    static ConnectionEvent buttons(smk::SpaceMouseButtons held, std::string device) {
        return {Buttons{held, std::move(device)}};
    }
    static ConnectionEvent unavailable(std::string reason) {
        return {Unavailable{std::move(reason)}};
    }
    static ConnectionEvent disconnected() { return {Disconnected{}}; }

    template <class T> const T* as() const { return std::get_if<T>(&value); }
    template <class T> bool is() const { return std::holds_alternative<T>(value); }

    bool operator==(const ConnectionEvent&) const = default;
};

// A short text for logs and test failures, such as "axes(x 5 y 0 z 0 rx 0 ry 0 rz 0, serial:A)".
std::string describe(const ConnectionEvent& event);

} // namespace kestrix::client
