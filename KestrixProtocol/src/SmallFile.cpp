#include "KestrixProtocol/SmallFile.h"

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
        // Files of /proc and the like tell no size: read up to one byte past the bound.
        file.status = SmallFile::Status::ok;
        file.bytes.resize(maxBytes + 1);
        std::size_t have = 0;
        while (have < file.bytes.size()) {
            ssize_t count = ::read(fd, file.bytes.data() + have, file.bytes.size() - have);
            if (count > 0) {
                have += std::size_t(count);
            } else if (count == 0) {
                break;
            } else if (errno != EINTR) {
                file = failed(SmallFile::Status::unreadable, errno);
                break;
            }
        }
        if (file.status == SmallFile::Status::ok) {
            if (have > maxBytes)
                file = failed(SmallFile::Status::tooLarge);
            else
                file.bytes.resize(have);
        }
    }
    ::close(fd);
    return file;
}

} // namespace kestrix
