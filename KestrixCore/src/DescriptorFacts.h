#pragma once

#include "KestrixCore/HIDBackend.h"

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace kestrix::core {

// Whether the vendor id is one of the SpaceMouse makers'.
bool isSpaceMouseVendor(std::int64_t vendorID);

// Whether the report descriptor parses and declares a multi-axis controller application.
bool declaresMultiAxisController(const std::vector<std::uint8_t>& descriptor);

// The properties a platform derives from a device's report descriptor: "PrimaryUsagePage",
// "PrimaryUsage", "DeviceUsagePairs" and the largest input, output and feature report sizes
// ("MaxInputReportSize", ...). Adds nothing for a descriptor that does not parse.
void addDescriptorFacts(const std::vector<std::uint8_t>& descriptor,
                        std::map<std::string, PropertyValue>& properties);

} // namespace kestrix::core
