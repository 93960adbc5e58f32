#pragma once

// Temporary folders, socket pairs and descriptor counting for the transport tests.

#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <sys/socket.h>
#include <unistd.h>

namespace kestrix::test {

// A fresh folder under the system's temporary folder, removed with everything in it at the end.
class TempDir {
public:
    TempDir() {
        std::string pattern = (std::filesystem::temp_directory_path() / "kxtXXXXXX").string();
        if (!::mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
        path_ = pattern;
    }
    ~TempDir() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& path() const { return path_; }

    // A path in the folder exactly `length` bytes long (the name padded with 'p').
    std::string pathOfLength(std::size_t length, const std::string& stem = "s") const {
        std::string prefix = path_ + "/" + stem;
        if (prefix.size() > length) throw std::runtime_error("temporary folder path too long");
        return prefix + std::string(length - prefix.size(), 'p');
    }

private:
    std::string path_;
};

// A connected pair of stream sockets, closed at the end unless released.
struct SocketPair {
    int fds[2] = {-1, -1};
    SocketPair() {
        if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0)
            throw std::runtime_error("socketpair failed");
    }
    ~SocketPair() {
        for (int fd : fds)
            if (fd >= 0) ::close(fd);
    }
    SocketPair(const SocketPair&) = delete;
    SocketPair& operator=(const SocketPair&) = delete;

    void closeEnd(int i) {
        ::close(fds[i]);
        fds[i] = -1;
    }
    // Gives up ownership of one end, to a connection that will close it.
    int release(int i) {
        int fd = fds[i];
        fds[i] = -1;
        return fd;
    }
};

// Descriptors open in this process right now.
inline std::size_t openDescriptorCount() {
    std::size_t count = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator("/proc/self/fd"))
        ++count;
    return count;
}

} // namespace kestrix::test
