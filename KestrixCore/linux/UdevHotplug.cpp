#include "KestrixProtocol/MainLoop.h"
#include "LinuxHIDBackend.h"

#include <cstring>
#include <libudev.h>

namespace kestrix::core {

namespace {

// A thin shell: udev names the hidraw nodes; everything about them is read from sysfs.
class UdevHotplug final : public HotplugSource {
public:
    ~UdevHotplug() override { stop(); }

    std::vector<std::string> start(MainLoop& loop, PathHandler added,
                                   PathHandler removed) override {
        std::vector<std::string> present;
        udev_ = udev_new();
        if (!udev_) return present;
        added_ = std::move(added);
        removed_ = std::move(removed);
        monitor_ = udev_monitor_new_from_netlink(udev_, "udev");
        if (monitor_ &&
            udev_monitor_filter_add_match_subsystem_devtype(monitor_, "hidraw", nullptr) == 0 &&
            udev_monitor_enable_receiving(monitor_) == 0) {
            watch_ = loop.watchReadable(udev_monitor_get_fd(monitor_), [this] { receive(); });
        }
        if (auto* enumerate = udev_enumerate_new(udev_)) {
            udev_enumerate_add_match_subsystem(enumerate, "hidraw");
            udev_enumerate_scan_devices(enumerate);
            udev_list_entry* entry = nullptr;
            udev_list_entry_foreach(entry, udev_enumerate_get_list_entry(enumerate)) {
                present.emplace_back(udev_list_entry_get_name(entry));
            }
            udev_enumerate_unref(enumerate);
        }
        return present;
    }

    void stop() override {
        watch_.reset();
        if (monitor_) monitor_ = udev_monitor_unref(monitor_);
        if (udev_) udev_ = udev_unref(udev_);
    }

private:
    void receive() {
        udev_device* device = udev_monitor_receive_device(monitor_);
        if (!device) return;
        const char* action = udev_device_get_action(device);
        const char* path = udev_device_get_syspath(device);
        if (action && path) {
            if (std::strcmp(action, "add") == 0)
                added_(path);
            else if (std::strcmp(action, "remove") == 0)
                removed_(path);
        }
        udev_device_unref(device);
    }

    udev* udev_ = nullptr;
    udev_monitor* monitor_ = nullptr;
    std::unique_ptr<Watch> watch_;
    PathHandler added_, removed_;
};

} // namespace

std::unique_ptr<HotplugSource> makeUdevHotplug() {
    return std::make_unique<UdevHotplug>();
}

} // namespace kestrix::core
