#pragma once

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace kestrix {
class MainLoop;
}

namespace kestrix::core {

// The stable 64-bit key of one HID interface while it is attached (the hidraw node's device
// number on Linux, the simulated device's number in the simulation).
using DeviceKey = std::uint64_t;

// A property value that is neither a number, a text nor raw bytes (lists of usage pairs, ...):
// kept as the platform's own text description, which may span several lines.
struct PropertyDescription {
    std::string text;
    bool operator==(const PropertyDescription&) const = default;
};

// One device property as the platform reports it. Booleans are numbers 0 and 1.
using PropertyValue =
    std::variant<std::int64_t, std::string, std::vector<std::uint8_t>, PropertyDescription>;

// Property names shared by the backends and the device layer.
namespace property {
inline constexpr const char* vendorID = "VendorID";
inline constexpr const char* productID = "ProductID";
inline constexpr const char* product = "Product";
inline constexpr const char* transport = "Transport";
inline constexpr const char* serialNumber = "SerialNumber";
inline constexpr const char* locationID = "LocationID";
inline constexpr const char* deviceAddress = "DeviceAddress";
inline constexpr const char* reportDescriptor = "ReportDescriptor";
inline constexpr const char* maxInputReportSize = "MaxInputReportSize";
inline constexpr const char* interfaceNumber = "bInterfaceNumber";
} // namespace property

// Result codes of HID operations: 0 is success, anything else an error code of the platform
// (an errno value on Linux). `exclusiveAccess` means another process holds the device.
using HIDResult = std::uint32_t;
inline constexpr HIDResult hidSuccess = 0;
inline constexpr HIDResult exclusiveAccess = EBUSY;

// No HID report is longer than this (the kernel's HID report buffer). The lengths in a report
// descriptor come from the device; buffers for reports of a descriptor that declares more are
// made this long, never longer.
inline constexpr std::size_t largestReport = 16384;

// One handle on one HID interface. A fresh handle is closed; `open` opens it, seizing the device
// (exclusive use, nobody else gets its input) when asked. Input reports are read into the
// buffer given to `setInputHandler` and handed to the handler on the main loop once the handle
// is activated. `getFeature`, `open` and `close` may be called on any thread (one thread at a
// time per handle); the input path and `cancel` only on the main loop.
class HIDHandle {
public:
    using InputHandler = std::function<void(const std::uint8_t* bytes, std::size_t length)>;

    virtual ~HIDHandle() = default;

    virtual std::optional<PropertyValue> property(const std::string& name) const = 0;

    // Registers where input reports go; call before `open`.
    virtual void setInputHandler(std::uint8_t* buffer, std::size_t size, InputHandler handler) = 0;
    virtual HIDResult open(bool seize) = 0;
    // Starts input delivery (after `open`, or after a failed open, where it delivers nothing).
    virtual void activate() = 0;
    virtual void close() = 0;
    // Stops input delivery and releases everything the handle holds; the handler is never called
    // again. Safe from inside the input handler.
    virtual void cancel() = 0;

    // Reads a feature report: `buffer[0]` holds the report id; on success `length` is the
    // number of bytes read.
    virtual HIDResult getFeature(std::uint8_t reportID, std::uint8_t* buffer,
                                 std::size_t& length) = 0;
    virtual HIDResult setOutputReport(std::uint8_t reportID, const std::uint8_t* bytes,
                                      std::size_t length) = 0;
};

// The platform's HID devices: matching and removal of SpaceMouse candidates, their properties,
// handles and the USB control pipe. `makeHandle`, `property`, `searchProperty` and
// `getFeatureOverControlPipe` may be called on any thread; the rest on the main loop.
class HIDBackend {
public:
    using KeyHandler = std::function<void(DeviceKey)>;

    virtual ~HIDBackend() = default;

    // Begins matching HID devices of the SpaceMouse vendors whose report descriptor declares a
    // multi-axis controller: `appeared` for every such device present now and arriving later,
    // `vanished` when one goes, both on the main loop. Called once.
    virtual void start(KeyHandler appeared, KeyHandler vanished) = 0;
    // Ends matching; no handler is called afterwards.
    virtual void stop() = 0;

    // Whether a device with this key is attached now.
    virtual bool exists(DeviceKey key) const = 0;
    // A property of the device's own entry; absent when missing or the device is gone.
    virtual std::optional<PropertyValue> property(DeviceKey key, const std::string& name) const = 0;
    // A property searched from the device upwards through its parents (USB interface, USB device).
    virtual std::optional<PropertyValue> searchProperty(DeviceKey key,
                                                        const std::string& name) const = 0;
    // A fresh, unopened handle; null when the device is gone or no handle can be made.
    virtual std::shared_ptr<HIDHandle> makeHandle(DeviceKey key) = 0;

    // One HID class GET_REPORT request for a feature report over the USB control pipe of the
    // device at `location`, interface `interface`, into a buffer of `size` bytes (1.0 s time-out).
    virtual std::optional<std::vector<std::uint8_t>>
    getFeatureOverControlPipe(std::uint32_t location, std::uint16_t interface,
                              std::uint8_t reportID, std::uint16_t size) = 0;
};

// The backend the broker program uses: the simulated one when `kestrixDevicesEnv` (the value of
// KESTRIX_DEVICES, may be null) reads "sim:PATH", else the Linux one.
std::unique_ptr<HIDBackend> makeHIDBackend(MainLoop& loop, const char* kestrixDevicesEnv,
                                           std::function<void(const std::string&)> log);

} // namespace kestrix::core
