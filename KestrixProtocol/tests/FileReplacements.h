#pragma once

// Counts how often files of a folder were replaced by renaming a new file over them (what an
// atomic writer does once per write), through inotify: the kernel queues the events as the
// renames happen, so counting after the fact needs no waiting.

#include <cstddef>
#include <string>
#include <sys/inotify.h>
#include <unistd.h>

namespace testsupport {

class FileReplacements {
public:
    explicit FileReplacements(const std::string& folder)
        : fd_(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC)) {
        // Creations too: inotify merges an event into an identical one just before it, and a
        // writer's new file comes between two renames.
        if (fd_ >= 0) ::inotify_add_watch(fd_, folder.c_str(), IN_MOVED_TO | IN_CREATE);
    }
    ~FileReplacements() {
        if (fd_ >= 0) ::close(fd_);
    }
    FileReplacements(const FileReplacements&) = delete;
    FileReplacements& operator=(const FileReplacements&) = delete;

    bool ok() const { return fd_ >= 0; }

    // The renames onto `name` since the last call.
    std::size_t take(const std::string& name) {
        std::size_t count = 0;
        alignas(inotify_event) char buffer[4096];
        for (ssize_t n; (n = ::read(fd_, buffer, sizeof buffer)) > 0;) {
            for (char* p = buffer; p < buffer + n;) {
                auto* event = reinterpret_cast<inotify_event*>(p);
                if ((event->mask & IN_MOVED_TO) && event->len > 0 && name == event->name) ++count;
                p += sizeof(inotify_event) + event->len;
            }
        }
        return count;
    }

private:
    int fd_;
};

} // namespace testsupport
