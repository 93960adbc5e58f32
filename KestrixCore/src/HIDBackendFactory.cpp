#include "KestrixCore/HIDBackend.h"
#include "KestrixCore/SimulatedHIDBackend.h"
#include "LinuxHIDBackend.h"

#include <string_view>
#include <variant>

namespace kestrix::core {

std::unique_ptr<HIDBackend> makeHIDBackend(MainLoop& loop, const char* kestrixDevicesEnv,
                                           std::function<void(const std::string&)> log) {
    constexpr std::string_view prefix = "sim:";
    std::string_view setting = kestrixDevicesEnv ? kestrixDevicesEnv : "";
    if (setting.substr(0, prefix.size()) != prefix) return std::make_unique<LinuxHIDBackend>(loop);
    std::string path(setting.substr(prefix.size()));
    auto loaded = loadSimulatedDevices(path);
    std::vector<SimulatedDevice> devices;
    if (auto* error = std::get_if<std::string>(&loaded)) {
        if (log) log("simulated devices not loaded, none are simulated: " + *error);
    } else {
        devices = std::move(std::get<std::vector<SimulatedDevice>>(loaded));
        if (log) log("simulating " + std::to_string(devices.size()) + " device(s) from " + path);
    }
    return std::make_unique<SimulatedHIDBackend>(loop, std::move(devices));
}

} // namespace kestrix::core
