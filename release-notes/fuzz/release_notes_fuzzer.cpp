// Any bytes parse; released() only ever returns numbered, non-empty versions.
#include "ReleaseNotes/ReleaseNotes.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto notes =
        releasenotes::ReleaseNotes::parse(std::string_view(reinterpret_cast<const char*>(data), size));
    for (const auto& version : notes.released())
        if (!version.number || version.isEmpty()) std::abort();
    return 0;
}
