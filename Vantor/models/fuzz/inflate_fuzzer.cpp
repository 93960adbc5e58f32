// Any bytes unpacked as a feed body give at most the limit, or no bytes at all with the reason,
// never a crash.
#include "VantorModels/BoundedInflate.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    constexpr qsizetype limit = 64 * 1024;
    const vantor::Inflated inflated =
        vantor::inflateBounded(QByteArrayView(reinterpret_cast<const char*>(data), qsizetype(size)), limit);
    if (inflated.bytes.size() > limit) std::abort();
    if (inflated.status != vantor::Inflated::Status::ok && !inflated.bytes.isEmpty()) std::abort();
    return 0;
}
