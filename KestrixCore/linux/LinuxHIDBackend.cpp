#include "LinuxHIDBackend.h"

#include "HidrawHandle.h"
#include "KestrixProtocol/MainLoop.h"

#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace kestrix::core {

HIDSystemCalls HIDSystemCalls::real() {
    HIDSystemCalls calls;
    calls.open = [](const char* path, int flags) { return ::open(path, flags); };
    calls.close = [](int fd) { return ::close(fd); };
    calls.ioctl = [](int fd, unsigned long request, void* argument) {
        return ::ioctl(fd, request, argument);
    };
    calls.read = [](int fd, void* buffer, std::size_t size) { return ::read(fd, buffer, size); };
    calls.write = [](int fd, const void* bytes, std::size_t size) {
        return ::write(fd, bytes, size);
    };
    return calls;
}

LinuxHIDBackend::LinuxHIDBackend(MainLoop& loop, LinuxHIDConfig config)
    : loop_(loop)
    , config_(std::move(config))
    , calls_(std::make_shared<HIDSystemCalls>(config_.calls)) {
    if (!config_.hotplug) config_.hotplug = makeUdevHotplug();
}

LinuxHIDBackend::~LinuxHIDBackend() {
    *alive_ = false;
    stop();
}

void LinuxHIDBackend::start(KeyHandler appeared, KeyHandler vanished) {
    if (running_) return;
    running_ = true;
    appeared_ = std::move(appeared);
    vanished_ = std::move(vanished);
    auto present = config_.hotplug->start(
        loop_, [this](const std::string& path) { added(path); },
        [this](const std::string& path) { removed(path); });
    // Devices present at start are reported from the loop, as later arrivals are.
    std::weak_ptr<bool> alive = alive_;
    loop_.post([this, alive, present] {
        if (alive.expired()) return;
        for (const auto& path : present)
            added(path);
    });
}

void LinuxHIDBackend::stop() {
    if (!running_) return;
    running_ = false;
    config_.hotplug->stop();
}

void LinuxHIDBackend::added(const std::string& syspath) {
    if (!running_) return;
    auto node = linux_hid::readHidrawNode(syspath);
    if (!node || !linux_hid::isSpaceMouseCandidate(*node)) return;
    DeviceKey key = node->key;
    {
        std::lock_guard lock(mutex_);
        if (nodes_.count(key)) return;
        nodes_[key] = std::move(*node);
        byPath_[syspath] = key;
    }
    appeared_(key);
}

void LinuxHIDBackend::removed(const std::string& syspath) {
    if (!running_) return;
    DeviceKey key = 0;
    {
        std::lock_guard lock(mutex_);
        auto it = byPath_.find(syspath);
        if (it == byPath_.end()) return;
        key = it->second;
        byPath_.erase(it);
        nodes_.erase(key);
    }
    vanished_(key);
}

bool LinuxHIDBackend::exists(DeviceKey key) const {
    std::lock_guard lock(mutex_);
    return nodes_.count(key) != 0;
}

std::optional<PropertyValue> LinuxHIDBackend::property(DeviceKey key,
                                                       const std::string& name) const {
    std::lock_guard lock(mutex_);
    auto it = nodes_.find(key);
    return it == nodes_.end() ? std::nullopt : it->second.property(name);
}

std::optional<PropertyValue> LinuxHIDBackend::searchProperty(DeviceKey key,
                                                             const std::string& name) const {
    std::lock_guard lock(mutex_);
    auto it = nodes_.find(key);
    return it == nodes_.end() ? std::nullopt : it->second.searchProperty(name);
}

std::shared_ptr<HIDHandle> LinuxHIDBackend::makeHandle(DeviceKey key) {
    std::lock_guard lock(mutex_);
    auto it = nodes_.find(key);
    if (it == nodes_.end()) return nullptr;
    const auto& node = it->second;
    std::vector<std::string> events;
    for (const auto& name : node.eventNodes)
        events.push_back(config_.devRoot + "/" + name);
    return std::make_shared<HidrawHandle>(loop_, calls_, config_.devRoot + "/" + node.devName,
                                          std::move(events), node.own);
}

std::optional<std::vector<std::uint8_t>>
LinuxHIDBackend::getFeatureOverControlPipe(std::uint32_t location, std::uint16_t interface,
                                           std::uint8_t reportID, std::uint16_t size) {
    if (!config_.controlPipe) return std::nullopt;
    return config_.controlPipe(location, interface, reportID, size);
}

} // namespace kestrix::core
