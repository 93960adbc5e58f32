#pragma once

// A temporary folder for one test, removed with everything in it when the test ends, a whole
// file read as text, and a wait on a folder's changes. Shared by the tests of the broker's
// subsystems.

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <functional>
#include <poll.h>
#include <sys/inotify.h>
#include <system_error>
#include <unistd.h>

namespace testsupport {

struct TempFolder {
    std::string path;
    TempFolder() {
        char pattern[] = "/tmp/kestrix-test-XXXXXX";
        const char* made = ::mkdtemp(pattern);
        path = made ? made : "";
    }
    ~TempFolder() {
        std::error_code ignored;
        if (!path.empty()) std::filesystem::remove_all(path, ignored);
    }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    // Writes a file below the folder, making the folders on its way.
    void write(const std::string& relative, const std::string& text) const {
        std::filesystem::path full = std::filesystem::path(path) / relative;
        std::filesystem::create_directories(full.parent_path());
        std::ofstream(full) << text;
    }
};

inline std::string readFile(const std::string& path) {
    std::ifstream in(path);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// Waits, without sleeping, until `done` holds: woken by every change in `folder`. False when
// `seconds` passed first.
inline bool waitInFolder(const std::string& folder, const std::function<bool()>& done,
                         double seconds = 10.0) {
    int fd = ::inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
    ::inotify_add_watch(fd, folder.c_str(), IN_MODIFY | IN_CREATE | IN_DELETE | IN_MOVED_TO);
    auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    bool ok;
    while (!(ok = done()) && std::chrono::steady_clock::now() < deadline) {
        pollfd p{fd, POLLIN, 0};
        ::poll(&p, 1, 200);
        char buffer[4096];
        while (::read(fd, buffer, sizeof buffer) > 0) {
        }
    }
    ::close(fd);
    return ok;
}

} // namespace testsupport
