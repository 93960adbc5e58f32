#include "SpaceMouseKit/ConnexionDeviceState.h"

namespace smk {

namespace {

// Little-endian unsigned value of `width` bytes at `offset`.
std::uint64_t readLE(std::span<const std::byte> buffer, std::size_t offset, std::size_t width) {
    std::uint64_t value = 0;
    for (std::size_t i = 0; i < width; ++i) {
        value |= static_cast<std::uint64_t>(std::to_integer<std::uint8_t>(buffer[offset + i]))
                 << (8 * i);
    }
    return value;
}

std::int64_t int16At(std::span<const std::byte> buffer, std::size_t offset) {
    return static_cast<std::int16_t>(static_cast<std::uint16_t>(readLE(buffer, offset, 2)));
}

} // namespace

std::optional<ConnexionDeviceState> ConnexionDeviceState::read(std::span<const std::byte> buffer) {
    if (buffer.data() == nullptr || buffer.size() < size) return std::nullopt;
    ConnexionDeviceState state;
    state.client = static_cast<std::int64_t>(readLE(buffer, 2, 2));
    state.command = static_cast<std::int64_t>(readLE(buffer, 4, 2));
    state.time = readLE(buffer, 12, 8);
    state.axes = {int16At(buffer, 30), int16At(buffer, 32), int16At(buffer, 34),
                  int16At(buffer, 36), int16At(buffer, 38), int16At(buffer, 40)};
    state.buttonBits = static_cast<std::uint32_t>(readLE(buffer, 44, 4));
    return state;
}

std::optional<ConnexionDeviceState> ConnexionDeviceState::read(const void* address,
                                                               std::size_t length) {
    if (address == nullptr) return std::nullopt;
    return read(std::span<const std::byte>(static_cast<const std::byte*>(address), length));
}

} // namespace smk
