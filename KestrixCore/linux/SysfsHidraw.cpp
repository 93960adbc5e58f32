#include "SysfsHidraw.h"

#include "DescriptorFacts.h"
#include "KestrixProtocol/TextEncoding.h"

#include <algorithm>
#include <charconv>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <sys/sysmacros.h>

namespace fs = std::filesystem;

namespace kestrix::core::linux_hid {

namespace {

std::optional<std::string> readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

std::string trimmed(std::string text) {
    auto notSpace = [](unsigned char c) { return !std::isspace(c); };
    text.erase(text.begin(), std::find_if(text.begin(), text.end(), notSpace));
    text.erase(std::find_if(text.rbegin(), text.rend(), notSpace).base(), text.end());
    return text;
}

// One attribute file as a trimmed line; absent when the file is missing.
std::optional<std::string> attribute(const fs::path& dir, const char* name) {
    auto text = readFile(dir / name);
    if (!text) return std::nullopt;
    // Attributes hold the bytes a device (or the Bluetooth stack) gave the kernel.
    return validUTF8(trimmed(*text));
}

std::optional<std::int64_t> number(const std::string& text, int base) {
    std::int64_t value = 0;
    auto begin = text.data(), end = text.data() + text.size();
    auto [ptr, ec] = std::from_chars(begin, end, value, base);
    if (ec != std::errc() || ptr != end || text.empty()) return std::nullopt;
    return value;
}

std::optional<std::int64_t> numberAttribute(const fs::path& dir, const char* name, int base) {
    auto text = attribute(dir, name);
    return text ? number(*text, base) : std::nullopt;
}

// KEY=value lines of a uevent file.
std::map<std::string, std::string> uevent(const fs::path& dir) {
    std::map<std::string, std::string> values;
    auto text = readFile(dir / "uevent");
    if (!text) return values;
    std::istringstream in(*text);
    std::string line;
    while (std::getline(in, line)) {
        auto eq = line.find('=');
        if (eq != std::string::npos) values[line.substr(0, eq)] = validUTF8(line.substr(eq + 1));
    }
    return values;
}

// The USB bus speed as the platform numbers it: low, full, high, super, super+.
std::optional<std::int64_t> speedCode(const std::string& megabits) {
    static const std::map<std::string, std::int64_t> codes{{"1.5", 0},  {"12", 1},    {"480", 2},
                                                           {"5000", 3}, {"10000", 4}, {"20000", 4}};
    auto it = codes.find(megabits);
    if (it == codes.end()) return std::nullopt;
    return it->second;
}

// "2.00" (the USB "version" attribute) as the BCD number 0x0200.
std::optional<std::int64_t> bcdVersion(const std::string& text) {
    auto dot = text.find('.');
    if (dot == std::string::npos) return std::nullopt;
    auto major = number(trimmed(text.substr(0, dot)), 16);
    auto minor = number(text.substr(dot + 1), 16);
    if (!major || !minor) return std::nullopt;
    return (*major << 8) | *minor;
}

std::optional<std::string> transportOfBus(std::int64_t bus) {
    switch (bus) {
    case 0x03:
        return "USB";
    case 0x05:
        return "Bluetooth";
    case 0x06:
        return "Virtual";
    case 0x18:
        return "I2C";
    default:
        return std::nullopt;
    }
}

void readUsbParents(const fs::path& hidDevice, HidrawNode& node) {
    std::optional<fs::path> interfaceDir, deviceDir;
    for (fs::path dir = hidDevice.parent_path();
         dir.has_relative_path() && dir != dir.parent_path(); dir = dir.parent_path()) {
        if (!interfaceDir && fs::exists(dir / "bInterfaceNumber")) interfaceDir = dir;
        if (fs::exists(dir / "busnum") && fs::exists(dir / "devpath")) {
            deviceDir = dir;
            break;
        }
    }
    auto& searched = node.searched;
    if (interfaceDir) {
        for (const char* name : {"bInterfaceNumber", "bInterfaceClass", "bNumEndpoints"})
            if (auto value = numberAttribute(*interfaceDir, name, 16)) searched[name] = *value;
    }
    if (!deviceDir) return;
    // The USB product string names the device better than HID_NAME, which prefixes the maker.
    auto product = attribute(*deviceDir, "product");
    auto manufacturer = attribute(*deviceDir, "manufacturer");
    if (auto value = numberAttribute(*deviceDir, "bcdDevice", 16)) {
        searched["bcdDevice"] = *value;
        node.own["VersionNumber"] = *value;
    }
    if (product) {
        searched["USB Product Name"] = *product;
        searched["kUSBProductString"] = *product;
        node.own["Product"] = *product;
    }
    if (manufacturer) {
        searched["USB Vendor Name"] = *manufacturer;
        searched["kUSBVendorString"] = *manufacturer;
        node.own["Manufacturer"] = *manufacturer;
    }
    if (auto version = attribute(*deviceDir, "version"))
        if (auto bcd = bcdVersion(*version)) searched["bcdUSB"] = *bcd;
    if (auto value = numberAttribute(*deviceDir, "bMaxPacketSize0", 10))
        searched["bMaxPacketSize0"] = *value;
    if (auto value = numberAttribute(*deviceDir, "bNumConfigurations", 10))
        searched["bNumConfigurations"] = *value;
    if (auto speed = attribute(*deviceDir, "speed"))
        if (auto code = speedCode(*speed)) {
            searched["Device Speed"] = *code;
            searched["UsbDeviceSpeed"] = *code;
        }
    auto bus = numberAttribute(*deviceDir, "busnum", 10);
    auto devpath = attribute(*deviceDir, "devpath");
    if (bus && devpath)
        node.own["LocationID"] =
            static_cast<std::int64_t>(locationID(static_cast<unsigned>(*bus), *devpath));
}

std::vector<std::string> eventNodes(const fs::path& hidDevice) {
    std::vector<std::string> nodes;
    std::error_code ec;
    for (const auto& input : fs::directory_iterator(hidDevice / "input", ec)) {
        std::error_code inner;
        for (const auto& child : fs::directory_iterator(input.path(), inner)) {
            if (child.path().filename().string().rfind("event", 0) != 0) continue;
            auto values = uevent(child.path());
            auto name = values.find("DEVNAME");
            if (name != values.end()) nodes.push_back(name->second);
        }
    }
    std::sort(nodes.begin(), nodes.end());
    return nodes;
}

} // namespace

std::optional<PropertyValue> HidrawNode::property(const std::string& name) const {
    auto it = own.find(name);
    if (it == own.end()) return std::nullopt;
    return it->second;
}

std::optional<PropertyValue> HidrawNode::searchProperty(const std::string& name) const {
    auto it = searched.find(name);
    if (it == searched.end()) return std::nullopt;
    return it->second;
}

std::optional<HidrawNode> readHidrawNode(const std::string& path) {
    std::error_code ec;
    fs::path real = fs::canonical(path, ec);
    if (ec) return std::nullopt;
    // <HID device>/hidraw/hidrawN
    if (real.parent_path().filename() != "hidraw") return std::nullopt;
    fs::path hidDevice = real.parent_path().parent_path();

    HidrawNode node;
    node.syspath = real.string();
    auto nodeValues = uevent(real);
    auto devName = nodeValues.find("DEVNAME");
    node.devName = devName != nodeValues.end() ? devName->second : real.filename().string();
    auto dev = attribute(real, "dev");
    if (!dev) return std::nullopt;
    auto colon = dev->find(':');
    if (colon == std::string::npos) return std::nullopt;
    auto major = number(dev->substr(0, colon), 10);
    auto minor = number(dev->substr(colon + 1), 10);
    if (!major || !minor) return std::nullopt;
    node.key = makedev(static_cast<unsigned>(*major), static_cast<unsigned>(*minor));

    auto hid = uevent(hidDevice);
    // HID_ID=0003:0000256F:0000C635 (bus, vendor, product)
    auto id = hid.find("HID_ID");
    if (id == hid.end()) return std::nullopt;
    std::vector<std::string> parts;
    std::istringstream idStream(id->second);
    for (std::string part; std::getline(idStream, part, ':');)
        parts.push_back(part);
    if (parts.size() != 3) return std::nullopt;
    auto bus = number(parts[0], 16);
    auto vendor = number(parts[1], 16);
    auto product = number(parts[2], 16);
    if (!bus || !vendor || !product) return std::nullopt;
    node.own["VendorID"] = *vendor;
    node.own["ProductID"] = *product;
    auto transport = transportOfBus(*bus);
    if (transport) node.own["Transport"] = *transport;
    if (auto name = hid.find("HID_NAME"); name != hid.end() && !name->second.empty())
        node.own["Product"] = name->second;
    // HID_UNIQ carries the USB serial number string, or a Bluetooth device's own address.
    if (auto uniq = hid.find("HID_UNIQ"); uniq != hid.end() && !uniq->second.empty())
        node.own[*bus == 0x05 ? "DeviceAddress" : "SerialNumber"] = uniq->second;

    if (auto bytes = readFile(hidDevice / "report_descriptor")) {
        std::vector<std::uint8_t> descriptor(bytes->begin(), bytes->end());
        addDescriptorFacts(descriptor, node.own);
        node.own["ReportDescriptor"] = std::move(descriptor);
    }
    // Only a HID device on the USB bus has its own USB interface and device above it; a
    // Bluetooth device sits below its adapter, which is often a USB device of its own.
    if (*bus == 0x03) readUsbParents(hidDevice, node);
    node.eventNodes = eventNodes(hidDevice);
    return node;
}

std::string sysfsPathOfKey(const std::string& sysfsRoot, DeviceKey key) {
    auto dev = static_cast<dev_t>(key);
    return sysfsRoot + "/dev/char/" + std::to_string(major(dev)) + ":" + std::to_string(minor(dev));
}

bool isSpaceMouseCandidate(const HidrawNode& node) {
    auto vendor = node.property("VendorID");
    auto descriptor = node.property("ReportDescriptor");
    if (!vendor || !descriptor) return false;
    auto* id = std::get_if<std::int64_t>(&*vendor);
    auto* bytes = std::get_if<std::vector<std::uint8_t>>(&*descriptor);
    return id && bytes && isSpaceMouseVendor(*id) && declaresMultiAxisController(*bytes);
}

std::uint32_t locationID(unsigned busNumber, const std::string& devpath) {
    std::uint32_t location = (busNumber & 0xFFu) << 24;
    int shift = 20;
    std::istringstream in(devpath);
    for (std::string port; std::getline(in, port, '.') && shift >= 0; shift -= 4) {
        auto value = number(port, 10).value_or(0);
        location |= static_cast<std::uint32_t>(std::clamp<std::int64_t>(value, 0, 15)) << shift;
    }
    return location;
}

UsbPort usbPort(std::uint32_t location) {
    UsbPort port;
    port.bus = location >> 24;
    for (int shift = 20; shift >= 0; shift -= 4) {
        auto digit = static_cast<std::uint8_t>((location >> shift) & 0xF);
        if (digit == 0) break;
        port.ports.push_back(digit);
    }
    return port;
}

} // namespace kestrix::core::linux_hid
