#pragma once

#include "KestrixCore/HIDBackend.h"

#include <array>
#include <string>

namespace kestrix::core {

// The device properties a description lists: first those of the device itself, then those
// searched upwards through its parents (USB interface and USB device).
inline constexpr std::array<const char*, 17> ownPropertyKeys{"VendorID",
                                                             "ProductID",
                                                             "Product",
                                                             "Manufacturer",
                                                             "VersionNumber",
                                                             "Transport",
                                                             "SerialNumber",
                                                             "LocationID",
                                                             "PrimaryUsagePage",
                                                             "PrimaryUsage",
                                                             "DeviceUsagePairs",
                                                             "MaxInputReportSize",
                                                             "MaxOutputReportSize",
                                                             "MaxFeatureReportSize",
                                                             "CountryCode",
                                                             "ReportInterval",
                                                             "DeviceAddress"};
inline constexpr std::array<const char*, 13> searchedPropertyKeys{
    "bInterfaceNumber",   "bInterfaceClass",   "bNumEndpoints",    "bcdDevice", "USB Product Name",
    "USB Vendor Name",    "kUSBProductString", "kUSBVendorString", "bcdUSB",    "bMaxPacketSize0",
    "bNumConfigurations", "Device Speed",      "UsbDeviceSpeed"};

// A property as text: a number in decimal, a text as it is, bytes in lower-case hexadecimal
// without separators, anything else as its description on one line (the lines trimmed of
// blanks and tabs and joined by single blanks).
std::string propertyText(const PropertyValue& value);

} // namespace kestrix::core
