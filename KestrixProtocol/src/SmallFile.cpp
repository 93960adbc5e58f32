#include "KestrixProtocol/SmallFile.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kestrix {

namespace {

SmallFile failed(SmallFile::Status status, int error = 0) {
    SmallFile file;
    file.status = status;
    file.error = error;
    return file;
}

SmallFile::Status whyNotOpened(int error) {
    switch (error) {
    case ENOENT:
    case ENOTDIR:
        return SmallFile::Status::missing;
    case ELOOP: // a link, where links are refused
    case ENXIO: // a socket
        return SmallFile::Status::notRegular;
    default:
        return SmallFile::Status::unreadable;
    }
}

} // namespace

SmallFile readSmallFile(const std::string& path, std::size_t maxBytes, LastLink link) {
    // Looked at before it is opened, so that a device is not even opened; checked again on the
    // open file, which is what is read.
    struct stat info {};
    int looked =
        link == LastLink::follow ? ::stat(path.c_str(), &info) : ::lstat(path.c_str(), &info);
    if (looked != 0) return failed(whyNotOpened(errno), errno);
    if (!S_ISREG(info.st_mode)) return failed(SmallFile::Status::notRegular);

    int flags = O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;
    if (link == LastLink::refuse) flags |= O_NOFOLLOW;
    int fd = ::open(path.c_str(), flags);
    if (fd < 0) return failed(whyNotOpened(errno), errno);
    SmallFile file;
    if (::fstat(fd, &info) != 0) {
        file = failed(SmallFile::Status::unreadable, errno);
    } else if (!S_ISREG(info.st_mode)) {
        file = failed(SmallFile::Status::notRegular);
    } else if (info.st_size > 0 && std::size_t(info.st_size) > maxBytes) {
        file = failed(SmallFile::Status::tooLarge);
    } else {
        // Files of /proc and the like tell no size: read up to one byte past the bound, a chunk
        // at a time, so that a small file costs no buffer of the bound's size.
        file.status = SmallFile::Status::ok;
        char chunk[8192];
        while (file.bytes.size() <= maxBytes) {
            std::size_t want = std::min(sizeof chunk, maxBytes + 1 - file.bytes.size());
            ssize_t count = ::read(fd, chunk, want);
            if (count > 0) {
                file.bytes.append(chunk, std::size_t(count));
            } else if (count == 0) {
                break;
            } else if (errno != EINTR) {
                file = failed(SmallFile::Status::unreadable, errno);
                break;
            }
        }
        if (file.status == SmallFile::Status::ok && file.bytes.size() > maxBytes)
            file = failed(SmallFile::Status::tooLarge);
    }
    ::close(fd);
    return file;
}

} // namespace kestrix
