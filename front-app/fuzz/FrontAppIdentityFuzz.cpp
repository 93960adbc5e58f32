// The identity rules read files that other programs write (cgroup names, .flatpak-info): any
// bytes must give an answer or none, never a crash.
#include "FrontApp/FrontAppIdentity.h"

#include <cstddef>
#include <cstdint>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view text(reinterpret_cast<const char*>(data), size);
    (void)kestrix::core::FrontAppIdentity::fromCgroup(text);
    (void)kestrix::core::FrontAppIdentity::fromFlatpakInfo(text);
    return 0;
}
