#include "SpaceMouseKit/ConnexionDeviceState.h"

#include <gtest/gtest.h>
#include <vector>

namespace smk {
namespace {

std::vector<std::byte> record(std::size_t size) {
    std::vector<std::byte> bytes(size);
    for (std::size_t i = 0; i < size; ++i)
        bytes[i] = std::byte{0xEE}; // noise in unread fields
    return bytes;
}

void put(std::vector<std::byte>& bytes, std::size_t offset, std::uint64_t value, int width) {
    for (int i = 0; i < width; ++i)
        bytes[offset + i] = std::byte(static_cast<std::uint8_t>(value >> (8 * i)));
}

TEST(ConnexionDeviceState, readsEachFieldAtItsOffset) {
    auto bytes = record(48);
    put(bytes, 2, 0xFFFF, 2); // unsigned: no sign extension
    put(bytes, 4, 3, 2);
    put(bytes, 12, 0x0102030405060708ull, 8);
    const std::int16_t axes[] = {1, -1, 350, -350, 32767, -32768};
    for (int i = 0; i < 6; ++i)
        put(bytes, 30 + 2 * i, static_cast<std::uint16_t>(axes[i]), 2);
    put(bytes, 44, 0xFEDCBA98u, 4);

    const auto state = ConnexionDeviceState::read(bytes);
    ASSERT_TRUE(state);
    EXPECT_EQ(state->client, 0xFFFF);
    EXPECT_EQ(state->command, ConnexionDeviceState::handleAxis);
    EXPECT_EQ(state->time, 0x0102030405060708ull);
    EXPECT_EQ(state->axes, (SpaceMouseAxes{1, -1, 350, -350, 32767, -32768}));
    EXPECT_EQ(state->buttonBits, 0xFEDCBA98u);
    EXPECT_EQ(ConnexionDeviceState::read(bytes.data(), bytes.size()), state);
}

TEST(ConnexionDeviceState, needsFortyEightBytesAndAnAddress) {
    EXPECT_FALSE(ConnexionDeviceState::read(record(47)));
    EXPECT_FALSE(ConnexionDeviceState::read(nullptr, 48));
    EXPECT_FALSE(ConnexionDeviceState::read(std::span<const std::byte>()));
    // A longer record (newer drivers append fields) reads its first 48 bytes.
    auto longer = record(64);
    put(longer, 4, 0x8002, 2);
    const auto state = ConnexionDeviceState::read(longer);
    ASSERT_TRUE(state);
    EXPECT_EQ(state->command, 0x8002);
}

} // namespace
} // namespace smk
