// The simulated devices file is read from a path in the environment: any bytes must give either
// devices or one error line, never a crash.
#include "KestrixCore/SimulatedHIDBackend.h"

#include <cstddef>
#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    auto parsed = kestrix::core::parseSimulatedDevices(
        std::string(reinterpret_cast<const char*>(data), size));
    if (auto* error = std::get_if<std::string>(&parsed))
        if (error->empty()) __builtin_trap(); // a failure always says what is wrong
    return 0;
}
