#pragma once

#include <cstdint>
#include <exception>
#include <string>
#include <utility>

// The binding to the device driver's client library, loaded at run time.
//
// On Linux the library is ours (libkestrix-driver.so, built in KestrixCore/linux/driver-library):
// it exports the six C entry points below over libspnav, the client library of spacenavd. The
// broker loads it from the folder of its own executable; the environment variable
// KESTRIX_DRIVER_LIBRARY, when set and not empty, names another path (used by tests). This header
// includes neither Qt nor libspnav, so both sides can share it.

namespace kestrix::core {

// Four characters read as one big-endian 32-bit value, as the driver's message and control codes
// are written.
constexpr std::uint32_t fourCharCode(const char (&code)[5]) {
    return std::uint32_t(std::uint8_t(code[0])) << 24 | std::uint32_t(std::uint8_t(code[1])) << 16 |
           std::uint32_t(std::uint8_t(code[2])) << 8 | std::uint32_t(std::uint8_t(code[3]));
}

// The six entry points of the driver's client library, in declaration order.
struct ConnexionAPI {
    // The first argument is not used; the argument may be null.
    using MessageHandler = void (*)(std::uint32_t unused, std::uint32_t messageType,
                                    void* argument);
    using DeviceHandler = void (*)(std::uint32_t deviceID);

    using SetHandlersFunction = std::int16_t (*)(MessageHandler messageHandler,
                                                 DeviceHandler addedHandler,
                                                 DeviceHandler removedHandler,
                                                 std::uint8_t useSeparateThread);
    // The name is length-prefixed: one length byte, then that many bytes, no terminator.
    using RegisterFunction = std::uint16_t (*)(std::uint32_t signature, const std::uint8_t* name,
                                               std::uint16_t mode, std::uint32_t mask);
    using UnregisterFunction = void (*)(std::uint16_t clientID);
    using CleanupFunction = void (*)();
    using SetButtonMaskFunction = void (*)(std::uint16_t clientID, std::uint32_t mask);
    using ControlFunction = std::int16_t (*)(std::uint16_t clientID, std::uint32_t message,
                                             std::int32_t parameter, std::int32_t* result);

    // Message type of a device-state message; its argument points at the 48-byte record.
    static constexpr std::uint32_t deviceStateMessage = fourCharCode("3dSR");
    // Control codes: activate and deactivate this client, switch the status LED (parameter 1 on,
    // 0 off).
    static constexpr std::uint32_t activateControl = fourCharCode("3dac");
    static constexpr std::uint32_t deactivateControl = fourCharCode("3ddc");
    static constexpr std::uint32_t statusLEDControl = fourCharCode("3dsl");
    // Registration signature of a manual client: one that is activated and deactivated
    // explicitly with the two controls above rather than by the window in front.
    static constexpr std::uint32_t manualClientSignature = fourCharCode("++++");
    static constexpr std::uint16_t registrationMode = 1;
    static constexpr std::uint32_t registrationMask = 0x3FFF;
    // The button mask set after registration: all buttons.
    static constexpr std::uint32_t allButtons = 0xFFFFFFFF;

    // The exported symbols, in the order they are resolved.
    static constexpr const char* symbolNames[6] = {
        "SetConnexionHandlers",     "RegisterConnexionClient",      "UnregisterConnexionClient",
        "CleanupConnexionHandlers", "SetConnexionClientButtonMask", "ConnexionClientControl",
    };

    class LoadError : public std::exception {
    public:
        explicit LoadError(std::string description)
            : description(std::move(description)) {}
        const char* what() const noexcept override { return description.c_str(); }
        std::string description;
    };

    SetHandlersFunction setHandlers = nullptr;
    RegisterFunction registerClient = nullptr; // `register` is a C++ keyword
    UnregisterFunction unregister = nullptr;
    CleanupFunction cleanup = nullptr;
    SetButtonMaskFunction setButtonMask = nullptr;
    ControlFunction control = nullptr;

    // Opens the library with RTLD_NOW and resolves the six symbols in order. Throws LoadError
    // with "driver library not loadable: " and the loader's message, or "missing symbol " and the
    // first missing name. The library handle is never closed: a registration's handlers may
    // still be referenced by the library's own thread, and loaded code stays valid this way.
    static ConnexionAPI load(const std::string& path);
};

} // namespace kestrix::core
