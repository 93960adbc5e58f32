#include "LinuxHIDBackend.h"

#include <libusb.h>

namespace kestrix::core {

std::optional<std::vector<std::uint8_t>> libusbGetFeatureReport(std::uint32_t location,
                                                                std::uint16_t interface,
                                                                std::uint8_t reportID,
                                                                std::uint16_t size) {
    auto port = linux_hid::usbPort(location);
    libusb_context* context = nullptr;
    if (libusb_init(&context) != 0) return std::nullopt;
    std::optional<std::vector<std::uint8_t>> result;
    libusb_device** list = nullptr;
    ssize_t count = libusb_get_device_list(context, &list);
    for (ssize_t i = 0; i < count && !result; ++i) {
        libusb_device* device = list[i];
        if (libusb_get_bus_number(device) != port.bus) continue;
        std::uint8_t numbers[8];
        int depth = libusb_get_port_numbers(device, numbers, sizeof numbers);
        if (depth < 0 || std::vector<std::uint8_t>(numbers, numbers + depth) != port.ports)
            continue;
        libusb_device_handle* handle = nullptr;
        if (libusb_open(device, &handle) != 0) break;
        std::vector<std::uint8_t> buffer(size, 0);
        // HID class GET_REPORT: device-to-host, class, interface; report type 3 (feature).
        int n = libusb_control_transfer(handle, 0xA1, 0x01,
                                        static_cast<std::uint16_t>(0x0300 | reportID), interface,
                                        buffer.data(), size, 1000);
        if (n >= 0) {
            buffer.resize(static_cast<std::size_t>(n));
            result = std::move(buffer);
        }
        libusb_close(handle);
        break;
    }
    if (list) libusb_free_device_list(list, 1);
    libusb_exit(context);
    return result;
}

} // namespace kestrix::core
