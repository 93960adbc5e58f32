#include "Vantor/RecordingPoster.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <nlohmann/json.hpp>
#include <string_view>
#include <unistd.h>

namespace vantor {

std::optional<std::string> RecordingPoster::recordingPath(const char* value) {
    constexpr std::string_view prefix = "record:";
    if (!value) return std::nullopt;
    std::string_view text(value);
    if (text.substr(0, prefix.size()) != prefix || text.size() == prefix.size())
        return std::nullopt;
    return std::string(text.substr(prefix.size()));
}

std::optional<RecordingPoster> RecordingPoster::open(const std::string& path, Clock now,
                                                     std::string& error) {
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (fd < 0) {
        error = "cannot record events to " + path + ": " + std::strerror(errno);
        return std::nullopt;
    }
    return RecordingPoster(fd, std::move(now));
}

RecordingPoster::RecordingPoster(int fd, Clock now)
    : fd_(fd)
    , now_(std::move(now))
    , start_(now_()) {}

RecordingPoster::RecordingPoster(RecordingPoster&& other) noexcept
    : fd_(other.fd_)
    , now_(std::move(other.now_))
    , start_(other.start_) {
    other.fd_ = -1;
}

RecordingPoster::~RecordingPoster() {
    if (fd_ >= 0) ::close(fd_);
}

void RecordingPoster::writeLine(const std::string& line) {
    // One write per line on an O_APPEND descriptor: a reader never sees half a line.
    std::size_t done = 0;
    while (done < line.size()) {
        ssize_t written = ::write(fd_, line.data() + done, line.size() - done);
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) return;
        done += static_cast<std::size_t>(written);
    }
}

void RecordingPoster::post(const scroll::ScrollStep& step) {
    nlohmann::ordered_json line = {
        {"t", now_() - start_},
        {"scroll", {{"phase", caseName(step.phase)}, {"x", step.x}, {"y", step.y}}}};
    writeLine(line.dump() + "\n");
}

void RecordingPoster::post(const scroll::GestureStep& step, scroll::GestureKind kind) {
    nlohmann::ordered_json line = {
        {"t", now_() - start_},
        {"gesture", kind == scroll::GestureKind::zoom ? "zoom" : "rotate"},
        {"phase", caseName(step.phase)},
        {"amount", step.amount}};
    writeLine(line.dump() + "\n");
}

} // namespace vantor
