// Any bytes read as an appcast give either an item with a web download address or an error,
// never both and never a crash.
#include "VantorModels/Appcast.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const vantor::AppcastRead read =
        vantor::Appcast::read(QByteArray(reinterpret_cast<const char*>(data), qsizetype(size)));
    if (!read.ok() && read.newest) std::abort();
    if (read.newest) {
        const QString scheme = read.newest->download.scheme();
        if (scheme != u"https" && scheme != u"http") std::abort();
    }
    return 0;
}
