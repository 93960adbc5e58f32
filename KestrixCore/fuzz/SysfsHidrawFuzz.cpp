// The sysfs attributes of a hidraw node come from devices that anyone may plug in (names, serial
// numbers, report descriptors): any bytes in them must give a node or none, never a crash. The
// input is cut at zero bytes into the HID device's uevent, its report descriptor, the hidraw
// node's dev file, and the USB device's busnum, devpath and product, and the interface's number.
#include "../linux/SysfsHidraw.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>
#include <vector>

namespace fs = std::filesystem;

namespace {

struct Tree {
    fs::path usbDevice, usbInterface, hidDevice, node;
    std::string classPath;

    Tree() {
        char pattern[] = "/tmp/fuzz-sysfs-XXXXXX";
        const char* made = ::mkdtemp(pattern);
        if (!made) std::abort();
        fs::path root = made;
        usbDevice = root / "devices/pci0000:00/0000:00:14.0/usb1/1-2";
        usbInterface = usbDevice / "1-2:1.0";
        hidDevice = usbInterface / "0003:256F:C635.0001";
        node = hidDevice / "hidraw" / "hidraw3";
        fs::create_directories(node);
        fs::create_directories(hidDevice / "input/input7/event7");
        write(hidDevice / "input/input7/event7/uevent",
              "MAJOR=13\nMINOR=71\nDEVNAME=input/event7\n");
        write(node / "uevent", "MAJOR=244\nMINOR=3\nDEVNAME=hidraw3\n");
        fs::create_directories(root / "class/hidraw");
        fs::create_symlink(node, root / "class/hidraw/hidraw3");
        classPath = (root / "class/hidraw/hidraw3").string();
    }

    static void write(const fs::path& file, std::string_view bytes) {
        std::ofstream(file, std::ios::binary | std::ios::trunc)
            .write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static Tree tree;
    std::string_view input(reinterpret_cast<const char*>(data), size);
    std::vector<std::string_view> parts;
    while (parts.size() < 6) {
        std::size_t cut = input.find('\0');
        parts.push_back(input.substr(0, cut));
        input = cut == std::string_view::npos ? std::string_view() : input.substr(cut + 1);
    }
    parts.push_back(input);
    Tree::write(tree.hidDevice / "uevent", parts[0]);
    Tree::write(tree.hidDevice / "report_descriptor", parts[1]);
    Tree::write(tree.node / "dev", parts[2]);
    Tree::write(tree.usbDevice / "busnum", parts[3]);
    Tree::write(tree.usbDevice / "devpath", parts[4]);
    Tree::write(tree.usbDevice / "product", parts[5]);
    Tree::write(tree.usbInterface / "bInterfaceNumber", parts[6]);
    if (auto node = kestrix::core::linux_hid::readHidrawNode(tree.classPath))
        (void)kestrix::core::linux_hid::isSpaceMouseCandidate(*node);
    return 0;
}
