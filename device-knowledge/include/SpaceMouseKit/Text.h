#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace smk {

// The text itself, or absent when it is empty: an empty device property counts as missing.
std::optional<std::string> nonEmpty(std::string_view text);

// Each byte as two lower-case hexadecimal digits, joined by `separator` ("01 ab").
std::string hex(std::span<const std::uint8_t> bytes, std::string_view separator = " ");
std::string hex(std::span<const std::byte> bytes, std::string_view separator = " ");

} // namespace smk
