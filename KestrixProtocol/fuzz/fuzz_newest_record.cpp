// The newest-broker record lies in a folder of the user's: any bytes in it must give a record or
// none, never a crash, and a record read must encode again.

#include "KestrixProtocol/BrokerPlace.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <fcntl.h>
#include <nlohmann/json.hpp>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const kestrix::BrokerPlace& place() {
    static const kestrix::BrokerPlace made = [] {
        char pattern[] = "/tmp/fuzz-newest-record-XXXXXX";
        const char* folder = ::mkdtemp(pattern);
        if (!folder) std::abort();
        return kestrix::BrokerPlace(folder);
    }();
    return made;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    int fd = ::open(place().newest().c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) std::abort();
    if (size > 0 && ::write(fd, data, size) != static_cast<ssize_t>(size)) std::abort();
    ::close(fd);
    if (auto record = place().readNewest()) {
        (void)record->isApp();
        (void)record->isUsable();
        (void)nlohmann::json(*record).dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
    }
    return 0;
}
