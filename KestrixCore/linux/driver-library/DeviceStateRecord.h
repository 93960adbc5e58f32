#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace kestrix::driver {

// The 48-byte device-state record handed to the message handler, little-endian and packed:
//   0  u16 version          12 u64 time (monotonic ns)    30 6 x s16 axes x y z rx ry rz
//   2  u16 client id        20 8 bytes raw report (0)     42 u16 address (0)
//   4  u16 command          28 u16 buttons 0-15           44 u32 button bits
//   6  u16 parameter (0)
//   8  u32 value (0)
struct DeviceStateRecord {
    static constexpr std::size_t size = 48;
    static constexpr std::uint16_t version = 1;
    static constexpr std::uint16_t buttonsCommand = 2;
    static constexpr std::uint16_t axesCommand = 3;

    // Axis values beyond the 16-bit range are held at its ends.
    static std::array<std::uint8_t, size> axes(std::uint16_t client, const std::array<int, 6>& axes,
                                               std::uint64_t time);
    static std::array<std::uint8_t, size> buttons(std::uint16_t client, std::uint32_t bits,
                                                  std::uint64_t time);
};

} // namespace kestrix::driver
