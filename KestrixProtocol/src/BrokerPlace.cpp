#include "KestrixProtocol/BrokerPlace.h"

#include "JsonFields.h"
#include "KestrixProtocol/BoundedJson.h"
#include "SettingsFile.h"

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <fmt/format.h>
#include <nlohmann/json.hpp>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace kestrix {

namespace fs = std::filesystem;
using nlohmann::json;

namespace {

// The whole content of a regular file; absent when it cannot be read (missing, a folder, ...).
std::optional<std::string> readFile(const fs::path& path) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return std::nullopt;
    std::optional<std::string> text;
    struct stat info {};
    if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode)) {
        text.emplace();
        char buffer[4096];
        for (;;) {
            ssize_t count = ::read(fd, buffer, sizeof buffer);
            if (count > 0) {
                text->append(buffer, std::size_t(count));
            } else if (count == 0) {
                break;
            } else if (errno != EINTR) {
                text.reset();
                break;
            }
        }
    }
    ::close(fd);
    return text;
}

// Replaces `target` by a complete new file holding `bytes`: written to a temporary file in the
// same folder, then renamed over the target, so a reader sees either the old or the new record.
// Returns the error text, empty on success.
std::string replaceAtomically(const fs::path& target, std::string_view bytes) {
    std::string temporary =
        (target.parent_path() / ("." + target.filename().string() + ".XXXXXX")).string();
    int fd = ::mkstemp(temporary.data());
    if (fd < 0) return std::strerror(errno);
    if (settingsfile::writeAndClose(fd, bytes) && ::rename(temporary.c_str(), target.c_str()) == 0)
        return {};
    std::string error = std::strerror(errno);
    ::unlink(temporary.c_str());
    return error;
}

// Why a file or folder of the broker cannot be trusted: another user (root aside, where
// `rootToo`) owns it, or others may write it. Absent when trusted.
std::optional<std::string> foreignOwner(const struct stat& info, const std::string& what,
                                        bool rootToo) {
    if (info.st_uid != ::getuid() && !(rootToo && info.st_uid == 0))
        return what + " belongs to user " + std::to_string(info.st_uid);
    if (info.st_mode & (S_IWGRP | S_IWOTH))
        return what + " can be written by other users (mode " +
               fmt::format("{:04o}", info.st_mode & 07777) + ")";
    return std::nullopt;
}

} // namespace

// MARK: Newest

bool BrokerPlace::Newest::isApp() const {
    return path.ends_with(".app");
}

bool BrokerPlace::Newest::isUsable() const {
    // There are no application bundles here; a bundle path comes from another platform.
    if (isApp()) return false;
    struct stat info {};
    if (path.empty() || ::stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) return false;
    if (foreignOwner(info, path, true)) return false;
    return ::access(path.c_str(), X_OK) == 0;
}

void to_json(json& out, const BrokerPlace::Newest& newest) {
    out = json{{"version", newest.version}, {"path", newest.path}, {"arguments", newest.arguments}};
}

void from_json(const json& in, BrokerPlace::Newest& newest) {
    using namespace jsonfields;
    requireObject(in, "newest-broker record");
    required(in, "version", newest.version);
    required(in, "path", newest.path);
    required(in, "arguments", newest.arguments);
}

// MARK: BrokerPlace

BrokerPlace::BrokerPlace(fs::path directory)
    : directory_(std::move(directory)) {}

BrokerPlace BrokerPlace::standard() {
    return standard([](const char* name) -> const char* { return std::getenv(name); });
}

BrokerPlace BrokerPlace::standard(const Environment& environment) {
    if (const char* home = environment("KESTRIX_HOME")) {
        fs::path directory(home);
        if (directory.is_relative()) {
            std::error_code error;
            directory = fs::current_path(error) / directory;
        }
        return BrokerPlace(directory);
    }
    // Relative values of XDG_DATA_HOME are invalid and ignored, as the base-directory rules say.
    if (const char* data = environment("XDG_DATA_HOME"); data && fs::path(data).is_absolute())
        return BrokerPlace(fs::path(data) / "kestrix");
    fs::path home = settingsfile::homeFolder(environment("HOME"));
    return BrokerPlace(home / ".local" / "share" / "kestrix");
}

bool BrokerPlace::ensureDirectory() const {
    std::error_code error;
    if (fs::is_directory(directory_, error)) return true;
    fs::path partial;
    for (const fs::path& part : directory_) {
        partial /= part;
        if (part.empty() || partial == partial.root_path()) continue;
        if (::mkdir(partial.c_str(), 0700) == 0)
            ::chmod(partial.c_str(), 0700); // whatever the umask
    }
    return fs::is_directory(directory_, error);
}

std::optional<std::string> BrokerPlace::distrust() const {
    struct stat info {};
    if (::stat(directory_.c_str(), &info) != 0) return std::nullopt;
    std::string what = "the broker folder " + directory_.string();
    if (info.st_uid != ::getuid()) return foreignOwner(info, what, false);
    if ((info.st_mode & (S_IWGRP | S_IWOTH)) == 0) return std::nullopt;
    // This user's folder, open to others (made so by hand, or before the folder was made
    // private): closed again, since whatever others put in it is refused anyway.
    if (::chmod(directory_.c_str(), 0700) != 0) return foreignOwner(info, what, false);
    appendLog(what + fmt::format(" was open to other users (mode {:04o}): made private (0700)",
                                 info.st_mode & 07777));
    return std::nullopt;
}

std::optional<std::string> BrokerPlace::refusal() const {
    struct stat info {};
    const std::pair<fs::path, std::string> files[] = {
        {directory_, "the broker folder " + directory_.string()}, {lock(), lock().string()}};
    for (const auto& [path, what] : files) {
        if (::lstat(path.c_str(), &info) != 0 || info.st_uid == ::getuid()) continue;
        return what + " belongs to user " + std::to_string(info.st_uid) +
               ", so Kestrix does not start; give it back with \"" +
               settingsfile::giveBackCommand(path.string(), path == directory_) + "\"";
    }
    return std::nullopt;
}

std::optional<BrokerPlace::Newest> BrokerPlace::readNewest() const {
    if (auto why = distrust()) {
        appendLog("newest-broker record not read: " + *why);
        return std::nullopt;
    }
    int fd = ::open(newest().c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) return std::nullopt;
    struct stat info {};
    std::optional<std::string> why = ::fstat(fd, &info) == 0
                                         ? foreignOwner(info, newest().string(), false)
                                         : std::optional<std::string>("cannot look at it");
    ::close(fd);
    if (why) {
        appendLog("newest-broker record not trusted: " + *why);
        return std::nullopt;
    }
    auto text = readFile(newest());
    if (!text) return std::nullopt;
    json parsed = parseBoundedJson(*text);
    if (parsed.is_discarded()) return std::nullopt;
    try {
        return parsed.get<Newest>();
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

void BrokerPlace::recordNewest(const Newest& record) const {
    // A newer broker that is still installed stays the newest when an older one starts.
    if (auto stored = readNewest();
        stored && stored->version > record.version && stored->isUsable())
        return;
    ensureDirectory();
    std::string error;
    try {
        std::string text = json(record).dump(-1, ' ', false, json::error_handler_t::strict);
        error = replaceAtomically(newest(), text);
    } catch (const std::exception& failure) {
        error = failure.what();
    }
    if (!error.empty()) {
        std::string line = "cannot record the newest broker in " + newest().string() + ": " + error;
        appendLog(line);
        std::fprintf(stderr, "kestrix: %s\n", loggable(line).c_str());
    }
}

std::string BrokerPlace::loggable(std::string_view text, std::size_t limit) {
    std::size_t end = text.size();
    if (end > limit) {
        end = limit;
        // Not inside a UTF-8 sequence.
        while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80)
            --end;
    }
    std::string out;
    out.reserve(end + 16);
    for (std::size_t i = 0; i < end; ++i) {
        auto c = static_cast<unsigned char>(text[i]);
        if (c == '\n')
            out += "\\n";
        else if (c == '\r')
            out += "\\r";
        else if (c == '\t')
            out += "\\t";
        else if (c < 0x20 || c == 0x7F)
            out += fmt::format("\\x{:02X}", c);
        else
            out.push_back(char(c));
    }
    if (end < text.size()) out += fmt::format("… ({} bytes)", text.size());
    return out;
}

std::string BrokerPlace::logLine(std::string_view message,
                                 std::chrono::system_clock::time_point now, pid_t processID) {
    using namespace std::chrono;
    auto milliseconds = duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count();
    auto seconds = milliseconds / 1000;
    auto fraction = milliseconds % 1000;
    if (fraction < 0) {
        fraction += 1000;
        seconds -= 1;
    }
    std::time_t time = std::time_t(seconds);
    std::tm local{};
    ::localtime_r(&time, &local);
    return fmt::format("{:04}-{:02}-{:02} {:02}:{:02}:{:02}.{:03} [{}] {}\n", local.tm_year + 1900,
                       local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec,
                       fraction, processID, loggable(message));
}

void BrokerPlace::appendLog(std::string_view message) const {
    appendLog(message, std::chrono::system_clock::now());
}

void BrokerPlace::appendLog(std::string_view message,
                            std::chrono::system_clock::time_point now) const {
    // A line that cannot be written is lost; the first of a run of failures is told on standard
    // error, the one place left.
    static std::atomic<bool> failing{false};
    std::string error;
    try {
        ensureDirectory();
        std::string line = logLine(message, now, ::getpid());
        if (distrust()) {
            std::fprintf(stderr, "kestrix: %s", line.c_str());
            return;
        }
        // One write at the end of the file: two brokers may log during a hand-over. Never
        // through a link that someone put in its place.
        int fd = ::open(log().c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOFOLLOW,
                        0644);
        if (fd < 0) {
            error = std::strerror(errno);
        } else {
            if (!settingsfile::writeAll(fd, line)) error = std::strerror(errno);
            struct stat info {};
            bool full = error.empty() && ::fstat(fd, &info) == 0 &&
                        std::uintmax_t(info.st_size) > logRotationSize;
            ::close(fd);
            if (full) rotateLog();
        }
    } catch (const std::exception& failure) {
        error = failure.what();
    }
    if (error.empty()) {
        failing = false;
    } else if (!failing.exchange(true)) {
        std::fprintf(stderr, "kestrix: cannot write to %s: %s (further failures are not told)\n",
                     log().c_str(), error.c_str());
    }
}

void BrokerPlace::rotateLog() const {
    std::error_code error;
    auto size = fs::file_size(log(), error);
    if (error || size <= logRotationSize) return;
    fs::remove(previousLog(), error);
    fs::rename(log(), previousLog(), error);
}

} // namespace kestrix
