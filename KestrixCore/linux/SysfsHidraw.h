#pragma once

#include "KestrixCore/HIDBackend.h"

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace kestrix::core::linux_hid {

// What sysfs tells about one hidraw node: its key, its device node and its properties in the
// form the device layer reads them. Works on any directory tree laid out like sysfs, so tests can
// build one in a temporary folder.
struct HidrawNode {
    std::string syspath; // canonical path of the hidraw device directory
    std::string devName; // the node below /dev, as udev names it ("hidraw3")
    DeviceKey key = 0;   // the node's device number
    std::map<std::string, PropertyValue> own;
    std::map<std::string, PropertyValue> searched; // from the USB interface and USB device above
    std::vector<std::string> eventNodes; // evdev nodes of the same HID device ("input/event5")

    std::optional<PropertyValue> property(const std::string& name) const;
    std::optional<PropertyValue> searchProperty(const std::string& name) const;
};

// Reads the hidraw device directory at `path` (a sysfs path, symbolic links allowed); absent
// when it is not a hidraw node of a HID device.
std::optional<HidrawNode> readHidrawNode(const std::string& path);

// The sysfs path of the character device with this key (`<root>/dev/char/MAJOR:MINOR`).
std::string sysfsPathOfKey(const std::string& sysfsRoot, DeviceKey key);

// Whether the node is a SpaceMouse candidate: a vendor of the SpaceMouse makers and a report
// descriptor with a multi-axis controller application collection.
bool isSpaceMouseCandidate(const HidrawNode& node);

// USB location ids in the form the device ids use: the bus number in the top byte, then one
// hexadecimal digit per hub port from the root down ("usb 1-2.3" is 0x01230000). Ports above 15
// do not fit a digit and are written as 15.
std::uint32_t locationID(unsigned busNumber, const std::string& devpath);
// The bus number and port path of a location id; the ports end at the first 0 digit.
struct UsbPort {
    unsigned bus = 0;
    std::vector<std::uint8_t> ports;
    bool operator==(const UsbPort&) const = default;
};
UsbPort usbPort(std::uint32_t location);

} // namespace kestrix::core::linux_hid
