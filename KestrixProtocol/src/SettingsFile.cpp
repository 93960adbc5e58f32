#include "SettingsFile.h"

#include "KestrixProtocol/SmallFile.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <pwd.h>
#include <unistd.h>
#include <vector>

namespace kestrix::settingsfile {

namespace {

// A user's account name and home folder from the user database, each empty when unknown.
struct Account {
    std::string name, home;
};

Account account(uid_t uid) {
    long size = ::sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buffer(size > 0 ? std::size_t(size) : 16384);
    passwd entry{};
    passwd* found = nullptr;
    if (::getpwuid_r(uid, &entry, buffer.data(), buffer.size(), &found) != 0 || !found) return {};
    return {found->pw_name ? found->pw_name : "", found->pw_dir ? found->pw_dir : ""};
}

// The account name of a user, or "user N" when there is none.
std::string userName(uid_t uid) {
    std::string name = account(uid).name;
    return name.empty() ? "user " + std::to_string(uid) : name;
}

// A path as a shell command line takes it: quoted when it holds anything but plain characters.
std::string shellWord(const std::string& path) {
    if (path.find_first_not_of("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789"
                               "/._-+@") == std::string::npos)
        return path;
    std::string quoted = "'";
    for (char c : path)
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

} // namespace

bool writeAll(int fd, std::string_view text) {
    std::size_t done = 0;
    while (done < text.size()) {
        ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += std::size_t(n);
    }
    return true;
}

bool writeAndClose(int fd, std::string_view text) {
    bool written = writeAll(fd, text) && syncFile(fd) == 0;
    int error = errno;
    if (closeFile(fd) != 0 && written) {
        written = false;
        error = errno;
    }
    errno = error;
    return written;
}

Read readRegular(const std::string& path, std::size_t limit) {
    SmallFile file = readSmallFile(path, limit);
    Read result;
    result.error = file.error;
    // The file's owner, kind and size, for what a message says of it.
    result.haveInfo = ::stat(path.c_str(), &result.info) == 0;
    switch (file.status) {
    case SmallFile::Status::ok:
        result.outcome = Read::Outcome::read;
        result.text = std::move(file.bytes);
        break;
    case SmallFile::Status::missing:
        // Only a file that is not there is missing; a path through a file is an error.
        result.outcome = result.error == ENOENT && !result.haveInfo ? Read::Outcome::missing
                                                                    : Read::Outcome::unreadable;
        break;
    case SmallFile::Status::notRegular:
        result.outcome = Read::Outcome::notRegular;
        break;
    case SmallFile::Status::tooLarge:
        result.outcome = Read::Outcome::tooLarge;
        break;
    case SmallFile::Status::unreadable:
        result.outcome = Read::Outcome::unreadable;
        break;
    }
    return result;
}

std::optional<Place> parse(const std::string& text, nlohmann::json& value) {
    try {
        value = nlohmann::json::parse(text);
        return std::nullopt;
    } catch (const nlohmann::json::parse_error& error) {
        // The parser counts bytes, from 1, up to and including the one it stopped at.
        std::size_t end = std::min(error.byte > 0 ? error.byte - 1 : 0, text.size());
        Place place;
        for (std::size_t i = 0; i < end; ++i) {
            auto c = static_cast<unsigned char>(text[i]);
            if (c == '\n') {
                place.line += 1;
                place.column = 1;
            } else if ((c & 0xC0) != 0x80) { // not the continuation of a UTF-8 character
                place.column += 1;
            }
        }
        return place;
    } catch (const std::exception&) {
        return Place{};
    }
}

std::string kindOf(mode_t mode) {
    if (S_ISFIFO(mode)) return "a FIFO";
    if (S_ISDIR(mode)) return "a folder";
    if (S_ISSOCK(mode)) return "a socket";
    if (S_ISCHR(mode)) return "a character device";
    if (S_ISBLK(mode)) return "a block device";
    if (S_ISLNK(mode)) return "a symbolic link";
    return "not a regular file";
}

Problem whatWentWrong(const std::string& path, const Read& read, std::size_t limit) {
    switch (read.outcome) {
    case Read::Outcome::read:
    case Read::Outcome::missing:
        return {};
    case Read::Outcome::notRegular:
        return {path + " is " + kindOf(read.info.st_mode) + ", not a regular file",
                "remove it, or put a settings file in its place"};
    case Read::Outcome::tooLarge:
        return {path + " holds " + std::to_string(read.info.st_size) + " bytes, more than the " +
                    std::to_string(limit) + " a settings file may hold",
                {}};
    case Read::Outcome::unreadable:
        break;
    }
    Problem problem{"cannot read " + path + ": " + std::strerror(read.error), {}};
    if (read.error != EACCES && read.error != EPERM) return problem;
    if (read.haveInfo && read.info.st_uid != ::getuid()) {
        problem.what += " (it belongs to " + userName(read.info.st_uid) + ")";
        problem.fix = "give it back with \"" + giveBackCommand(path, false) + "\"";
    } else {
        problem.fix = "make it readable with \"chmod u+rw " + shellWord(path) + "\"";
    }
    return problem;
}

std::string homeFolder(const char* home) {
    if (home && *home) return home;
    std::string entry = account(::getuid()).home;
    return entry.empty() ? "/" : entry;
}

std::string giveBackCommand(const std::string& path, bool folder) {
    return std::string("sudo chown ") + (folder ? "-R " : "") + userName(::getuid()) + ": " +
           shellWord(path);
}

std::optional<std::string> keepCopy(const std::string& path, const std::string& text,
                                    std::string& error) {
    constexpr int copies = 9;
    for (int n = 1; n <= copies; ++n) {
        std::string copy = path + ".bad" + (n == 1 ? std::string() : "." + std::to_string(n));
        int fd = ::open(copy.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd >= 0) {
            if (writeAndClose(fd, text)) return copy;
            error = std::strerror(errno);
            ::unlink(copy.c_str());
            return std::nullopt;
        }
        if (errno != EEXIST) {
            error = std::strerror(errno);
            return std::nullopt;
        }
        // An earlier copy: the same text needs no second one.
        Read earlier = readRegular(copy, text.size());
        if (earlier.outcome == Read::Outcome::read && earlier.text == text) return copy;
    }
    error = "there are " + std::to_string(copies) + " earlier copies already";
    return std::nullopt;
}

} // namespace kestrix::settingsfile
