#include "DevicesTestFixtures.h"
#include "KestrixCore/Devices.h"
#include "KestrixProtocol/VirtualMainLoop.h"
#include "LinuxHIDBackend.h"
#include "SysfsHidraw.h"
#include "TempFolder.h"

#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <linux/hidraw.h>
#include <linux/input.h>
#include <mutex>
#include <set>
#include <sys/socket.h>
#include <sys/sysmacros.h>
#include <unistd.h>

using namespace kestrix;
using namespace kestrix::core;
using namespace kestrix::core::linux_hid;
namespace fs = std::filesystem;

namespace {

// A sysfs tree in a temporary folder, laid out as the kernel lays out hidraw nodes.
struct FakeSysfs {
    testsupport::TempFolder folder;
    fs::path root = folder.path;

    static void write(const fs::path& file, const std::string& text) {
        fs::create_directories(file.parent_path());
        std::ofstream(file, std::ios::binary) << text;
    }

    // A HID device with one hidraw node (MAJOR 244) and one evdev node; returns the node's
    // path under class/hidraw.
    std::string hid(const fs::path& parent, const std::string& hidName,
                    const std::string& ueventHID, const std::vector<std::uint8_t>& descriptor,
                    int minor, int eventNumber) {
        fs::path dir = parent / hidName;
        write(dir / "uevent", ueventHID);
        write(dir / "report_descriptor", std::string(descriptor.begin(), descriptor.end()));
        std::string node = "hidraw" + std::to_string(minor);
        fs::path raw = dir / "hidraw" / node;
        write(raw / "uevent", "DEVNAME=" + node + "\n");
        write(raw / "dev", "244:" + std::to_string(minor) + "\n");
        std::string event = "event" + std::to_string(eventNumber);
        write(dir / "input" / ("input" + std::to_string(eventNumber)) / event / "uevent",
              "DEVNAME=input/" + event + "\n");
        fs::create_directories(root / "class" / "hidraw");
        fs::create_directories(root / "dev" / "char");
        fs::create_symlink(raw, root / "class" / "hidraw" / node);
        fs::create_symlink(raw, root / "dev" / "char" / ("244:" + std::to_string(minor)));
        return (root / "class" / "hidraw" / node).string();
    }

    // A SpaceMouse Compact on USB port 2.3 of bus 1, interface `interface`.
    std::string usbCompact(const std::string& uniq, int minor = 3, int interface = 0) {
        fs::path device = root / "devices/pci0000:00/0000:00:14.0/usb1/1-2/1-2.3";
        write(device / "busnum", "1\n");
        write(device / "devpath", "2.3\n");
        write(device / "bcdDevice", "0437\n");
        write(device / "product", "SpaceMouse Compact\n");
        write(device / "manufacturer", "3Dconnexion\n");
        write(device / "version", " 2.00\n");
        write(device / "speed", "12\n");
        fs::path usbInterface = device / ("1-2.3:1." + std::to_string(interface));
        write(usbInterface / "bInterfaceNumber", "0" + std::to_string(interface) + "\n");
        write(usbInterface / "bNumEndpoints", "02\n");
        return hid(usbInterface, "0003:256F:C635.000" + std::to_string(minor),
                   "DRIVER=hid-generic\nHID_ID=0003:0000256F:0000C635\nHID_NAME=3Dconnexion "
                   "SpaceMouse Compact\nHID_PHYS=usb-0000:00:14.0-2.3/input0\nHID_UNIQ=" +
                       uniq + "\n",
                   kestrix::core::testing::spaceMouseDescriptor(), minor, 10 + minor);
    }

    // Below a Bluetooth adapter that is itself a USB device, as most are.
    std::string bluetoothWireless(int minor) {
        fs::path usbAdapter = root / "devices/pci0000:00/0000:00:14.0/usb1/1-10";
        write(usbAdapter / "busnum", "1\n");
        write(usbAdapter / "devpath", "10\n");
        write(usbAdapter / "product", "Bluetooth Radio\n");
        write(usbAdapter / "1-10:1.0" / "bInterfaceNumber", "00\n");
        fs::path adapter = usbAdapter / "1-10:1.0/bluetooth/hci0/hci0:256";
        return hid(adapter, "0005:256F:C63A.0009",
                   "HID_ID=0005:0000256F:0000C63A\nHID_NAME=SpaceMouse Wireless BT\n"
                   "HID_UNIQ=AA:BB:CC:DD:EE:0F\n",
                   kestrix::core::testing::spaceMouseDescriptor(), minor, 10 + minor);
    }
};

// Device nodes stood in for by socket pairs, and the ioctls of hidraw and evdev played by the
// test. Counts the descriptors it hands out so that leaks show.
struct FakeNodes {
    std::mutex mutex;
    std::map<std::string, int> peers; // node path -> the test's end
    std::set<int> open;
    std::map<std::string, int> failOpen; // node path -> errno
    bool grabBusy = false;
    std::vector<std::string> calls;
    std::map<std::uint8_t, std::vector<std::uint8_t>> features;
    std::map<int, std::string> pathOf;

    ~FakeNodes() {
        for (auto& [path, fd] : peers)
            ::close(fd);
        for (int fd : open)
            ::close(fd);
    }

    HIDSystemCalls systemCalls() {
        HIDSystemCalls c = HIDSystemCalls::real(); // reads and writes as they are
        c.open = [this](const char* path, int) {
            std::lock_guard lock(mutex);
            if (auto it = failOpen.find(path); it != failOpen.end()) {
                errno = it->second;
                return -1;
            }
            int pair[2];
            if (socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, pair) != 0)
                return -1;
            if (peers.count(path)) ::close(peers[path]);
            peers[path] = pair[1];
            open.insert(pair[0]);
            pathOf[pair[0]] = path;
            return pair[0];
        };
        c.close = [this](int fd) {
            std::lock_guard lock(mutex);
            open.erase(fd);
            return ::close(fd);
        };
        c.ioctl = [this](int fd, unsigned long request, void* argument) {
            std::lock_guard lock(mutex);
            if (request == EVIOCGRAB) {
                calls.push_back((argument ? "grab " : "ungrab ") + pathOf[fd]);
                if (argument && grabBusy) {
                    errno = EBUSY;
                    return -1;
                }
                return 0;
            }
            if (_IOC_TYPE(request) == 'H' && _IOC_NR(request) == 0x07) { // HIDIOCGFEATURE
                auto* buffer = static_cast<std::uint8_t*>(argument);
                std::size_t size = _IOC_SIZE(request);
                calls.push_back("feature " + std::to_string(buffer[0]) + " " +
                                std::to_string(size));
                auto it = features.find(buffer[0]);
                if (it == features.end()) {
                    errno = EPIPE;
                    return -1;
                }
                std::size_t n = std::min(size, it->second.size());
                std::copy_n(it->second.begin(), n, buffer);
                return static_cast<int>(n);
            }
            errno = ENOTTY;
            return -1;
        };
        return c;
    }

    std::size_t openCount() {
        std::lock_guard lock(mutex);
        return open.size();
    }
    int peer(const std::string& path) {
        std::lock_guard lock(mutex);
        return peers.at(path);
    }
};

struct TestHotplug final : HotplugSource {
    std::vector<std::string> present;
    PathHandler added, removed;
    bool stopped = false;
    std::vector<std::string> start(MainLoop&, PathHandler a, PathHandler r) override {
        added = std::move(a);
        removed = std::move(r);
        return present;
    }
    void stop() override { stopped = true; }
};

struct LinuxHID : ::testing::Test {
    FakeSysfs sysfs;
    FakeNodes nodes;
    VirtualMainLoop loop;
    TestHotplug* hotplug = nullptr;
    std::unique_ptr<LinuxHIDBackend> backend(std::vector<std::string> present) {
        auto plug = std::make_unique<TestHotplug>();
        plug->present = std::move(present);
        hotplug = plug.get();
        LinuxHIDConfig config;
        config.sysfsRoot = sysfs.root.string();
        config.devRoot = (sysfs.root / "devnodes").string();
        config.calls = nodes.systemCalls();
        config.hotplug = std::move(plug);
        config.controlPipe = [](std::uint32_t, std::uint16_t, std::uint8_t, std::uint16_t) {
            return std::optional<std::vector<std::uint8_t>>{};
        };
        return std::make_unique<LinuxHIDBackend>(loop, std::move(config));
    }
    // The Compact on hidraw3, announced.
    std::unique_ptr<LinuxHIDBackend> startedCompact() {
        auto b = backend({sysfs.usbCompact("ABC123")});
        b->start([](DeviceKey) {}, [](DeviceKey) {});
        loop.runPending();
        return b;
    }
    std::string dev(const std::string& name) { return (sysfs.root / "devnodes" / name).string(); }
};

DeviceKey keyOf(int minor) {
    return makedev(244, static_cast<unsigned>(minor));
}

using Property = std::optional<PropertyValue>;

TEST_F(LinuxHID, nodePropertiesComeFromTheHIDDeviceAndItsUSBParents) {
    auto node = readHidrawNode(sysfs.usbCompact("ABC123", 3, 1));
    ASSERT_TRUE(node.has_value());
    EXPECT_EQ(node->key, keyOf(3));
    EXPECT_EQ(node->devName, "hidraw3");
    using I = std::int64_t;
    const std::vector<std::pair<std::string, Property>> own = {
        {"VendorID", I{0x256F}},
        {"ProductID", I{0xC635}},
        {"Transport", "USB"},
        {"Product", "SpaceMouse Compact"},
        {"Manufacturer", "3Dconnexion"},
        {"SerialNumber", "ABC123"},
        {"DeviceAddress", std::nullopt},
        {"LocationID", I{0x01230000}},
        {"VersionNumber", I{0x437}},
        {"MaxInputReportSize", I{7}},
        {"MaxFeatureReportSize", I{8}},
        {"PrimaryUsage", I{8}},
        {"ReportDescriptor", kestrix::core::testing::spaceMouseDescriptor()}};
    for (const auto& [name, expected] : own)
        EXPECT_EQ(node->property(name), expected) << name;
    const std::vector<std::pair<std::string, Property>> searched = {
        {"bInterfaceNumber", I{1}},
        {"bNumEndpoints", I{2}},
        {"bcdUSB", I{0x200}},
        {"Device Speed", I{1}},
        {"USB Vendor Name", "3Dconnexion"}};
    for (const auto& [name, expected] : searched)
        EXPECT_EQ(node->searchProperty(name), expected) << name;
    EXPECT_EQ(node->eventNodes, std::vector<std::string>{"input/event13"});
    EXPECT_TRUE(isSpaceMouseCandidate(*node));

    // Over Bluetooth: its address, and no USB facts.
    node = readHidrawNode(sysfs.bluetoothWireless(5));
    ASSERT_TRUE(node.has_value());
    for (const auto& [name, expected] :
         std::vector<std::pair<std::string, Property>>{{"Transport", "Bluetooth"},
                                                       {"DeviceAddress", "AA:BB:CC:DD:EE:0F"},
                                                       {"Product", "SpaceMouse Wireless BT"},
                                                       {"SerialNumber", std::nullopt},
                                                       {"LocationID", std::nullopt}})
        EXPECT_EQ(node->property(name), expected) << name;
    EXPECT_FALSE(node->searchProperty("bInterfaceNumber").has_value());
}

TEST_F(LinuxHID, pathsThatAreNoHidrawNodeGiveNothingAnEmptyUniqueIdNoSerialTextsAreUTF8) {
    EXPECT_FALSE(readHidrawNode((sysfs.root / "nothing").string()).has_value());
    auto node = readHidrawNode(sysfs.usbCompact(""));
    ASSERT_TRUE(node.has_value());
    EXPECT_FALSE(node->property("SerialNumber").has_value());
    // Texts in sysfs hold whatever bytes a device handed the kernel; the clients get UTF-8 only.
    node = readHidrawNode(sysfs.usbCompact("AB\xFF"
                                           "C1",
                                           4));
    EXPECT_EQ(node->property("SerialNumber"), Property("AB\uFFFDC1"));
    EXPECT_FALSE(readHidrawNode((sysfs.root / "devices").string()).has_value());
    // An id with a part that is no hexadecimal number, or a number followed by more.
    int minor = 7;
    for (std::string id :
         {"0003:0000256F:ZZZZ", "0003:0000256F:0000C635x", "000G:0000256F:0000C635"}) {
        auto path =
            sysfs.hid(sysfs.root / "devices/virtual/misc", "0003:256F:C635." + id.substr(14),
                      "HID_ID=" + id + "\n", {}, minor, 20 + minor);
        EXPECT_FALSE(readHidrawNode(path).has_value()) << id;
        ++minor;
    }
}

TEST(LinuxHIDLocation, busAndPortsMakeTheLocationIdAndBack) {
    EXPECT_EQ(locationID(1, "2.3"), 0x01230000u);
    EXPECT_EQ(locationID(20, "1"), 0x14100000u);
    EXPECT_EQ(locationID(2, "4.17.1"), 0x024F1000u);
    EXPECT_EQ(usbPort(0x01230000), (UsbPort{1, {2, 3}}));
    EXPECT_EQ(usbPort(0x14100000), (UsbPort{20, {1}}));
}

TEST_F(LinuxHID, onlySpaceMouseCandidatesAppearAndRemovalsNameTheirKey) {
    auto compact = sysfs.usbCompact("ABC123", 3);
    auto keyboard = sysfs.hid(sysfs.root / "devices/virtual/misc", "0003:046D:C31C.0004",
                              "HID_ID=0003:0000046D:0000C31C\nHID_NAME=Keyboard\n",
                              {0x05, 0x01, 0x09, 0x06, 0xA1, 0x01, 0xC0}, 4, 20);
    auto stranger = sysfs.hid(sysfs.root / "devices/virtual/misc", "0003:1234:0001.0005",
                              "HID_ID=0003:00001234:00000001\n",
                              kestrix::core::testing::spaceMouseDescriptor(), 6, 21);
    auto b = backend({compact, keyboard, stranger});
    std::vector<DeviceKey> appeared, vanished;
    b->start([&](DeviceKey k) { appeared.push_back(k); },
             [&](DeviceKey k) { vanished.push_back(k); });
    EXPECT_TRUE(appeared.empty()); // reported from the loop
    loop.runPending();
    EXPECT_EQ(appeared, std::vector<DeviceKey>{keyOf(3)});
    EXPECT_TRUE(b->exists(keyOf(3)));
    EXPECT_FALSE(b->exists(keyOf(4)));
    EXPECT_EQ(b->property(keyOf(3), "Product"), Property("SpaceMouse Compact"));
    EXPECT_EQ(b->property(keyOf(4), "Product"), std::nullopt);

    auto bluetooth = sysfs.bluetoothWireless(5);
    hotplug->added(bluetooth);
    EXPECT_EQ(appeared.back(), keyOf(5));
    hotplug->removed(keyboard);
    hotplug->removed(compact);
    EXPECT_EQ(vanished, std::vector<DeviceKey>{keyOf(3)});
    EXPECT_FALSE(b->exists(keyOf(3)));
    EXPECT_EQ(b->makeHandle(keyOf(3)), nullptr);
    b->stop();
    EXPECT_TRUE(hotplug->stopped);
    hotplug->added(compact);
    EXPECT_EQ(appeared.size(), 2u);
}

TEST_F(LinuxHID, seizingGrabsTheEventNodesAndDeliversInputReports) {
    auto b = startedCompact();
    auto handle = b->makeHandle(keyOf(3));
    ASSERT_NE(handle, nullptr);
    std::vector<std::vector<std::uint8_t>> received;
    std::vector<std::uint8_t> buffer(64);
    handle->setInputHandler(
        buffer.data(), buffer.size(),
        [&](const std::uint8_t* bytes, std::size_t n) { received.emplace_back(bytes, bytes + n); });
    ASSERT_EQ(handle->open(true), hidSuccess);
    handle->activate();
    EXPECT_EQ(nodes.calls, std::vector<std::string>{"grab " + dev("input/event13")});
    std::uint8_t report[] = {2, 1, 0, 2, 0, 3, 0};
    ASSERT_EQ(::write(nodes.peer(dev("hidraw3")), report, sizeof report), 7);
    ASSERT_EQ(::write(nodes.peer(dev("hidraw3")), report, 3), 3);
    loop.runPending();
    ASSERT_EQ(received.size(), 2u);
    EXPECT_EQ(received[0], std::vector<std::uint8_t>(report, report + 7));
    EXPECT_EQ(received[1].size(), 3u);

    std::uint8_t led[] = {4, 1};
    EXPECT_EQ(handle->setOutputReport(4, led, 2), hidSuccess);
    std::uint8_t written[8];
    EXPECT_EQ(::read(nodes.peer(dev("hidraw3")), written, sizeof written), 2);
    EXPECT_EQ(written[1], 1);

    handle->close();
    EXPECT_EQ(nodes.calls.back(), "ungrab " + dev("input/event13"));
    EXPECT_EQ(nodes.openCount(), 0u);
    EXPECT_EQ(loop.readableWatchCount(), 0u);
}

TEST_F(LinuxHID, aGrabbedDeviceIsBusyANodeThatCannotOpenGivesItsErrnoNothingLeftOpen) {
    auto b = startedCompact();
    nodes.grabBusy = true;
    auto handle = b->makeHandle(keyOf(3));
    EXPECT_EQ(handle->open(true), exclusiveAccess);
    EXPECT_EQ(nodes.openCount(), 0u);
    // Without seizing nothing is grabbed, so another grab does not matter.
    EXPECT_EQ(handle->open(false), hidSuccess);
    EXPECT_EQ(nodes.openCount(), 1u);
    handle->close();
    EXPECT_EQ(nodes.openCount(), 0u);

    for (const char* node : {"hidraw3", "input/event13"}) {
        nodes.failOpen = {{dev(node), EACCES}};
        EXPECT_EQ(b->makeHandle(keyOf(3))->open(true), static_cast<HIDResult>(EACCES)) << node;
        EXPECT_EQ(nodes.openCount(), 0u);
    }
}

// The request number holds the size in 14 bits; a longer buffer must not spill into the others.
TEST_F(LinuxHID, featureReportsAreReadWithTheBufferSizeAtMostWhatTheRequestHolds) {
    auto b = startedCompact();
    nodes.features[8] = kestrix::core::testing::serialReport();
    EXPECT_EQ(Devices::getFeature(*b, keyOf(3), 8, 8, nullptr),
              kestrix::core::testing::serialReport());
    EXPECT_EQ(Devices::getFeature(*b, keyOf(3), 9, 1, nullptr), std::nullopt);
    EXPECT_EQ(Devices::getFeature(*b, keyOf(3), 8, largestReport, nullptr),
              kestrix::core::testing::serialReport());
    EXPECT_EQ(nodes.calls,
              (std::vector<std::string>{"feature 8 8", "feature 9 2", "feature 8 16383"}));
    EXPECT_EQ(nodes.openCount(), 0u);
}

std::size_t openDescriptors() {
    std::size_t n = 0;
    for ([[maybe_unused]] const auto& entry : fs::directory_iterator("/proc/self/fd"))
        ++n;
    return n;
}

// The udev shell on the machine the tests run on, whatever devices it has: it must start, serve
// its monitor and stop without leaving descriptors or watches behind.
TEST(LinuxHIDUdev, realBackendStartsAndStopsCleanly) {
    VirtualMainLoop loop;
    std::size_t before = openDescriptors();
    {
        LinuxHIDBackend backend(loop);
        backend.start([](DeviceKey) {}, [](DeviceKey) {});
        loop.runPending();
        backend.stop();
        EXPECT_EQ(loop.readableWatchCount(), 0u);
    }
    loop.runPending();
    EXPECT_EQ(openDescriptors(), before);
}

} // namespace
