#pragma once

#include <cstdint>
#include <string_view>

// Constants that the broker and its clients share. Both programs are built from the same tree, so
// they always agree on these; what the peer announces in `hello` and `welcome` may differ.
namespace kestrix::Kestrix {

// The broker's display name (status menu, the client name given to the device driver).
inline constexpr std::string_view appName = "Kestrix";

// The broker's application identifier, as a client names its own app in a claim.
inline constexpr std::string_view bundleIdentifier = "me.orvella.Kestrix";

// The release number of both programs: carried by `hello`, `welcome`, `takeOver`, the broker
// status and the newest-broker record.
inline constexpr std::int64_t version = 15;

// The wire protocol version. A holder that announced a lower one receives only the buttons that
// protocol 1 knew (bits 0 to 31).
inline constexpr std::int64_t protocolVersion = 2;

} // namespace kestrix::Kestrix
