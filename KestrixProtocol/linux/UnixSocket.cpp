#include "KestrixProtocol/UnixSocket.h"

#include <cerrno>
#include <cstring>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <system_error>
#include <unistd.h>

namespace kestrix::UnixSocket {

namespace {

std::string errorText(int error) {
    return std::system_category().message(error);
}

bool fits(const std::string& path) {
    return path.size() <= maxPathLength;
}

// A zero-filled address with the path's bytes and a terminating zero. An empty path, or one with
// a zero byte inside, would name a different socket (Linux's abstract namespace, or a shorter
// path), so those are refused.
bool makeAddress(const std::string& path, sockaddr_un& address) {
    std::memset(&address, 0, sizeof address);
    address.sun_family = AF_UNIX;
    if (path.empty() || path.find('\0') != std::string::npos || !fits(path)) return false;
    std::memcpy(address.sun_path, path.data(), path.size());
    return true;
}

int newSocket() {
    return ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
}

// A blocking connect that a signal interrupts goes on in the background; wait for its outcome.
bool finishInterruptedConnect(int fd) {
    pollfd entry{fd, POLLOUT, 0};
    int ready;
    do {
        ready = ::poll(&entry, 1, -1);
    } while (ready < 0 && errno == EINTR);
    if (ready != 1) return false;
    int error = 0;
    socklen_t length = sizeof error;
    return ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) == 0 && error == 0;
}

} // namespace

int listen(const std::string& path) {
    if (!fits(path)) throw Failure("path too long for a socket: " + path);
    sockaddr_un address;
    bool valid = makeAddress(path, address);
    ::unlink(path.c_str());
    int fd = newSocket();
    if (fd < 0) throw Failure("socket: " + errorText(errno));
    if (!valid) {
        ::close(fd);
        throw Failure("bind " + path + ": " + errorText(EINVAL));
    }
    // Linux gives the socket file the mode of the socket's own inode (less the umask), so the
    // file is never wider than 0600, not even between bind and the chmod below.
    ::fchmod(fd, S_IRUSR | S_IWUSR);
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        int error = errno;
        ::close(fd);
        throw Failure("bind " + path + ": " + errorText(error));
    }
    if (::listen(fd, 16) != 0) {
        int error = errno;
        ::close(fd);
        throw Failure("listen " + path + ": " + errorText(error));
    }
    ::chmod(path.c_str(), S_IRUSR | S_IWUSR);
    return fd;
}

std::optional<int> connect(const std::string& path) {
    sockaddr_un address;
    if (!makeAddress(path, address)) return std::nullopt;
    int fd = newSocket();
    if (fd < 0) return std::nullopt;
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 &&
        !(errno == EINTR && finishInterruptedConnect(fd))) {
        ::close(fd);
        return std::nullopt;
    }
    return fd;
}

std::optional<Connecting> startConnect(const std::string& path) {
    sockaddr_un address;
    if (!makeAddress(path, address)) return std::nullopt;
    int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) return std::nullopt;
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0)
        return Connecting{fd, true};
    if (errno == EINPROGRESS || errno == EINTR) return Connecting{fd, false};
    // Linux answers EAGAIN at once when the listener's queue is full.
    ::close(fd);
    return std::nullopt;
}

bool finishConnect(int fd) {
    int error = 0;
    socklen_t length = sizeof error;
    if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) != 0 || error != 0) return false;
    sockaddr_un peer{};
    socklen_t size = sizeof peer;
    return ::getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &size) == 0;
}

} // namespace kestrix::UnixSocket
