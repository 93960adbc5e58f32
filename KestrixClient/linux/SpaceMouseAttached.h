#pragma once

#include <cstdint>
#include <span>
#include <string_view>

namespace kestrix::client::detail {

// Whether a HID device is a SpaceMouse by what the system tells of it: its HID_ID
// ("bus:vendor:product" in hexadecimal, as in "0003:0000256F:0000C635") names one of the
// SpaceMouse vendors, and its report descriptor declares a multi-axis controller.
bool isSpaceMouseHID(std::string_view hidID, std::span<const std::uint8_t> reportDescriptor);

} // namespace kestrix::client::detail
