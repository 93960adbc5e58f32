#pragma once

// Reading a settings file that the user or another program may have replaced by anything: a file
// of another owner, a FIFO, a device, a huge file or text that is not JSON. Used by UserDefaults.

#include <cstddef>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>

namespace kestrix::settingsfile {

struct Read {
    enum class Outcome { read, missing, unreadable, notRegular, tooLarge };
    Outcome outcome = Outcome::missing;
    std::string text;      // what the file holds, when read
    int error = 0;         // errno, when unreadable
    struct stat info {};   // the file's status, when it could be had
    bool haveInfo = false;
};

// Reads a regular file of at most `limit` bytes as readSmallFile does (a FIFO or a device in the
// file's place is refused, not waited on), with the status of what is at the path for messages.
Read readRegular(const std::string& path, std::size_t limit);

// Writes all of `text` to `fd`, going on after interrupted and partial writes; false (with errno
// set) when a write fails.
bool writeAll(int fd, std::string_view text);

// Writes all of `text` into the new file `fd`, flushes it to the disk and closes `fd` (whatever
// happens). False (with errno set) when any of that fails: a disk or a network folder may report
// an error only when the file is flushed or closed, and such a file must not take the place of
// another.
bool writeAndClose(int fd, std::string_view text);

// The calls that flush and close a written file, replaced in tests by ones that fail.
inline int (*syncFile)(int fd) = ::fsync;
inline int (*closeFile)(int fd) = ::close;

// Parses the text into `value`; answers where it fails to parse as JSON, counted from 1 (columns
// in characters), absent when it parses. The text must already be known to nest no deeper than
// maximumFileNesting.
struct Place {
    std::size_t line = 1, column = 1;
};
std::optional<Place> parse(const std::string& text, nlohmann::json& value);

// "a FIFO", "a folder", ...: what a file of this mode is, for a message.
std::string kindOf(mode_t mode);

// Why a read went wrong ("cannot read P: Permission denied (it belongs to root)") and how to put
// it right ("give it back with \"sudo chown alice: P\"", empty when there is nothing to say).
// Both empty for a read that went well or a missing file.
struct Problem {
    std::string what, fix;
};
Problem whatWentWrong(const std::string& path, const Read& read, std::size_t limit);

// The home folder: `home` (the value of HOME) when it is set and not empty, else the account's
// home folder from the user database, else "/".
std::string homeFolder(const char* home);

// The command that gives a file (or a folder with everything in it) of another user back to this
// one: "sudo chown alice: P".
std::string giveBackCommand(const std::string& path, bool folder);

// Keeps `text` in a new file beside `path` ("<path>.bad", or "<path>.bad.2" ... when those hold
// other text; a copy that holds the same text already is used as it is). Answers the copy's path,
// or absent with `error` set when no copy could be made.
std::optional<std::string> keepCopy(const std::string& path, const std::string& text,
                                    std::string& error);

} // namespace kestrix::settingsfile
