#pragma once

#include <cstddef>
#include <string>

namespace kestrix {

// A small file that another program may have put in place: read only when it is a regular file,
// opened without blocking (a FIFO or a device there is never waited on) and read no further than
// a bound, so that the reader never spends more than one short read on it.
struct SmallFile {
    enum class Status { ok, missing, notRegular, tooLarge, unreadable };
    Status status = Status::unreadable;
    std::string bytes; // the whole content, only when ok
    int error = 0;     // errno, when missing or unreadable
};

// Whether a symbolic link as the last part of the path is followed or makes the file notRegular.
enum class LastLink { follow, refuse };

SmallFile readSmallFile(const std::string& path, std::size_t maxBytes,
                        LastLink link = LastLink::follow);

} // namespace kestrix
