#pragma once

#include "KestrixCore/HIDBackend.h"
#include "SysfsHidraw.h"

#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <sys/types.h>
#include <vector>

namespace kestrix::core {

// The system calls the Linux backend makes on device nodes, replaceable so that tests can stand
// socket pairs in for device nodes. Every member is called with errno semantics (-1 and errno on
// failure) and may be called from any thread.
struct HIDSystemCalls {
    std::function<int(const char* path, int flags)> open;
    std::function<int(int fd)> close;
    std::function<int(int fd, unsigned long request, void* argument)> ioctl;
    std::function<ssize_t(int fd, void* buffer, std::size_t size)> read;
    std::function<ssize_t(int fd, const void* bytes, std::size_t size)> write;

    static HIDSystemCalls real();
};

// Arrivals and removals of hidraw nodes, by sysfs path.
class HotplugSource {
public:
    using PathHandler = std::function<void(const std::string& syspath)>;
    virtual ~HotplugSource() = default;
    // Returns the sysfs paths of the hidraw nodes present now and reports later changes on the
    // loop until `stop`.
    virtual std::vector<std::string> start(MainLoop& loop, PathHandler added,
                                           PathHandler removed) = 0;
    virtual void stop() = 0;
};

// libudev's enumeration and monitor of the "hidraw" subsystem.
std::unique_ptr<HotplugSource> makeUdevHotplug();

using ControlPipeRead = std::function<std::optional<std::vector<std::uint8_t>>(
    std::uint32_t location, std::uint16_t interface, std::uint8_t reportID, std::uint16_t size)>;

// The HID class GET_REPORT request over libusb (1.0 s time-out).
std::optional<std::vector<std::uint8_t>> libusbGetFeatureReport(std::uint32_t location,
                                                                std::uint16_t interface,
                                                                std::uint8_t reportID,
                                                                std::uint16_t size);

struct LinuxHIDConfig {
    std::string sysfsRoot = "/sys";
    std::string devRoot = "/dev";
    HIDSystemCalls calls = HIDSystemCalls::real();
    std::unique_ptr<HotplugSource> hotplug; // udev when null
    ControlPipeRead controlPipe = libusbGetFeatureReport;
};

// HID devices through hidraw: udev finds them, sysfs describes them, the hidraw node carries
// reports, and the evdev nodes of the same device are grabbed while it is seized so that the
// desktop does not also act on the cap.
class LinuxHIDBackend final : public HIDBackend {
public:
    LinuxHIDBackend(MainLoop& loop, LinuxHIDConfig config = {});
    ~LinuxHIDBackend() override;
    LinuxHIDBackend(const LinuxHIDBackend&) = delete;
    LinuxHIDBackend& operator=(const LinuxHIDBackend&) = delete;

    void start(KeyHandler appeared, KeyHandler vanished) override;
    void stop() override;
    bool exists(DeviceKey key) const override;
    std::optional<PropertyValue> property(DeviceKey key, const std::string& name) const override;
    std::optional<PropertyValue> searchProperty(DeviceKey key,
                                                const std::string& name) const override;
    std::shared_ptr<HIDHandle> makeHandle(DeviceKey key) override;
    std::optional<std::vector<std::uint8_t>> getFeatureOverControlPipe(std::uint32_t location,
                                                                       std::uint16_t interface,
                                                                       std::uint8_t reportID,
                                                                       std::uint16_t size) override;

private:
    void added(const std::string& syspath);
    void removed(const std::string& syspath);

    MainLoop& loop_;
    LinuxHIDConfig config_;
    std::shared_ptr<HIDSystemCalls> calls_;
    KeyHandler appeared_, vanished_;
    bool running_ = false;
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);

    mutable std::mutex mutex_; // guards nodes_: handles and properties are asked for on workers
    std::map<DeviceKey, linux_hid::HidrawNode> nodes_;
    std::map<std::string, DeviceKey> byPath_;
};

} // namespace kestrix::core
