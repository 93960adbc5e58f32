#include "SpaceMouseAttached.h"

#include "KestrixClient/KestrixConnection.h"
#include "SpaceMouseKit/HIDReportDescriptor.h"
#include "SpaceMouseKit/SpaceMouseModel.h"

#include <algorithm>
#include <charconv>
#include <fstream>
#include <iterator>
#include <libudev.h>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace kestrix::client {

namespace detail {

namespace {

// The vendor field of HID_ID: the second of its three colon-separated hexadecimal numbers.
std::optional<std::int64_t> vendorOf(std::string_view hidID) {
    std::size_t first = hidID.find(':');
    if (first == std::string_view::npos) return std::nullopt;
    std::size_t second = hidID.find(':', first + 1);
    if (second == std::string_view::npos) return std::nullopt;
    std::string_view text = hidID.substr(first + 1, second - first - 1);
    std::int64_t vendor = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), vendor, 16);
    if (error != std::errc() || end != text.data() + text.size() || text.empty())
        return std::nullopt;
    return vendor;
}

} // namespace

bool isSpaceMouseHID(std::string_view hidID, std::span<const std::uint8_t> reportDescriptor) {
    std::optional<std::int64_t> vendor = vendorOf(hidID);
    const auto& vendors = smk::SpaceMouseModel::vendorIDs;
    if (!vendor || std::find(vendors.begin(), vendors.end(), *vendor) == vendors.end())
        return false;
    std::optional<smk::HIDReportDescriptor> descriptor =
        smk::HIDReportDescriptor::parse(reportDescriptor);
    return descriptor && descriptor->isMultiAxisController();
}

} // namespace detail

namespace {

struct UdevDeleter {
    void operator()(udev* u) const { udev_unref(u); }
    void operator()(udev_enumerate* e) const { udev_enumerate_unref(e); }
    void operator()(udev_device* d) const { udev_device_unref(d); }
};

std::vector<std::uint8_t> readBytes(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    if (!file) return {};
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

} // namespace

// Walks the hidraw nodes: each belongs to a HID device whose uevent carries HID_ID and whose
// sysfs folder holds the raw report descriptor.
bool KestrixConnection::isSpaceMouseAttached() {
    std::unique_ptr<udev, UdevDeleter> context(udev_new());
    if (!context) return false;
    std::unique_ptr<udev_enumerate, UdevDeleter> enumerate(udev_enumerate_new(context.get()));
    if (!enumerate) return false;
    udev_enumerate_add_match_subsystem(enumerate.get(), "hidraw");
    if (udev_enumerate_scan_devices(enumerate.get()) < 0) return false;
    udev_list_entry* entry = nullptr;
    udev_list_entry_foreach(entry, udev_enumerate_get_list_entry(enumerate.get())) {
        std::unique_ptr<udev_device, UdevDeleter> node(
            udev_device_new_from_syspath(context.get(), udev_list_entry_get_name(entry)));
        if (!node) continue;
        // Owned by the node; not to be released separately.
        udev_device* hid =
            udev_device_get_parent_with_subsystem_devtype(node.get(), "hid", nullptr);
        if (!hid) continue;
        const char* hidID = udev_device_get_property_value(hid, "HID_ID");
        const char* syspath = udev_device_get_syspath(hid);
        if (!hidID || !syspath) continue;
        std::vector<std::uint8_t> descriptor =
            readBytes(std::string(syspath) + "/report_descriptor");
        if (detail::isSpaceMouseHID(hidID, descriptor)) return true;
    }
    return false;
}

} // namespace kestrix::client
