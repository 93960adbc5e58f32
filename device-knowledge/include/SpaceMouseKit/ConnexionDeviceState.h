#pragma once

#include "SpaceMouseKit/SpaceMouseAxes.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

namespace smk {

// The device-state record that 3Dconnexion's driver framework hands its clients, read field by
// field (little-endian) from the first 48 bytes of the driver's packed structure.
struct ConnexionDeviceState {
    static constexpr std::size_t size = 48;
    // The `command` values that carry buttons and axes.
    static constexpr std::uint16_t handleButtons = 2;
    static constexpr std::uint16_t handleAxis = 3;

    std::int64_t client = 0;
    std::int64_t command = 0;
    SpaceMouseAxes axes;
    std::uint32_t buttonBits = 0;
    std::uint64_t time = 0;

    bool operator==(const ConnexionDeviceState&) const = default;

    // Absent when there is no memory or fewer than `size` bytes.
    static std::optional<ConnexionDeviceState> read(std::span<const std::byte> buffer);
    static std::optional<ConnexionDeviceState> read(const void* address, std::size_t length);
};

} // namespace smk
