#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <nlohmann/json_fwd.hpp>
#include <optional>
#include <string>
#include <string_view>
#include <sys/types.h>
#include <utility>
#include <vector>

// The broker's folder and the files in it: the socket, the election's lock, the log (rotated to
// "broker.log.1") and the newest-broker record "newest.json". Both programs build the same place
// with standard(), so a client finds the socket and the record that the broker wrote.
namespace kestrix {

class BrokerPlace {
public:
    // The content of "newest.json": which broker program is the newest one installed.
    struct Newest {
        // Release number of that broker.
        std::int64_t version = 0;
        // Where that broker is: an executable, or an app bundle written by another platform.
        std::string path;
        // Launch arguments for the executable.
        std::vector<std::string> arguments;

        Newest() = default;
        Newest(std::int64_t version, std::string path, std::vector<std::string> arguments)
            : version(version)
            , path(std::move(path))
            , arguments(std::move(arguments)) {}

        bool operator==(const Newest&) const = default;

        // `path` ends with ".app" (case-sensitive): an application bundle.
        bool isApp() const;
        // Whether the record names a broker that can be started: a regular file that the current
        // user may execute, owned by this user or by root and writable by nobody else.
        // Application bundles are never usable here; such a record was written by an
        // installation on another platform.
        bool isUsable() const;
    };

    // Reads an environment variable; null when it is not set.
    using Environment = std::function<const char*(const char*)>;

    // Logs larger than this are rotated, at start by rotateLog() and while running by the
    // append that makes them larger.
    static constexpr std::uintmax_t logRotationSize = 524288;
    // The longest message of one log line, in bytes; a longer one is cut.
    static constexpr std::size_t logMessageLimit = 4096;
    // The longest text of one peer (a client's name or app, the broker's reason) within a log
    // line, so that no peer writes lines of its own or fills the log.
    static constexpr std::size_t peerTextLimit = 200;

    explicit BrokerPlace(std::filesystem::path directory);

    // $KESTRIX_HOME when set, whatever its value (a relative path is taken against the current
    // directory); else $XDG_DATA_HOME/kestrix when that is an absolute path; else
    // ~/.local/share/kestrix.
    static BrokerPlace standard();
    static BrokerPlace standard(const Environment& environment);

    const std::filesystem::path& directory() const { return directory_; }
    std::filesystem::path lock() const { return directory_ / "broker.lock"; }
    std::filesystem::path socket() const { return directory_ / "broker.sock"; }
    std::filesystem::path log() const { return directory_ / "broker.log"; }
    std::filesystem::path previousLog() const { return directory_ / "broker.log.1"; }
    std::filesystem::path newest() const { return directory_ / "newest.json"; }

    // Creates the folder with any missing parents, new folders with permissions 0700. True when
    // the folder exists afterwards (whatever its permissions).
    bool ensureDirectory() const;

    // Why the folder cannot be trusted with the socket, the lock, the log and the record: it
    // belongs to another user, or others may write in it and it could not be made private.
    // Absent when it is trusted or missing. A folder of this user that others may write is made
    // private (0700) here, with a log line.
    std::optional<std::string> distrust() const;

    // Why no broker starts here, as a client tells its user, with what to do: the folder or the
    // lock belongs to another user (a broker once started with sudo, say). Absent otherwise.
    // Changes nothing.
    std::optional<std::string> refusal() const;

    // The stored newest-broker record; absent when it is missing, unreadable, does not decode, or
    // cannot be trusted (the folder cannot, or the record belongs to another user or others may
    // write it; the refusal is logged). Whether it is usable is left to the caller.
    std::optional<Newest> readNewest() const;

    // Records `record` as the newest broker, unless the stored record names a strictly newer
    // broker that is still usable. The file is replaced atomically; a failure is logged and told
    // on standard error (the log may be on the same full disk).
    void recordNewest(const Newest& record) const;

    // Appends "yyyy-MM-dd HH:mm:ss.SSS [pid] message\n" to the log (local time), creating the
    // folder and the file as needed (in a folder that cannot be trusted, the line goes to
    // standard error instead), and rotates the log once it has grown past
    // logRotationSize. A line that cannot be written is lost; the first such failure is told on
    // standard error, and the next one only after a line was written again.
    void appendLog(std::string_view message) const;
    void appendLog(std::string_view message, std::chrono::system_clock::time_point now) const;

    // Moves a log larger than logRotationSize to "broker.log.1", replacing the older one.
    void rotateLog() const;

    // The text as one log line may hold it: control characters escaped ("\n", "\r", "\t",
    // "\xNN"), so that one event is one line, and cut after `limit` bytes (at a character
    // boundary) with a note of the full size.
    static std::string loggable(std::string_view text, std::size_t limit = logMessageLimit);

    // One log line as appendLog writes it, the message made loggable.
    static std::string logLine(std::string_view message, std::chrono::system_clock::time_point now,
                               pid_t processID);

    bool operator==(const BrokerPlace&) const = default;

private:
    std::filesystem::path directory_;
};

void to_json(nlohmann::json& json, const BrokerPlace::Newest& newest);
void from_json(const nlohmann::json& json, BrokerPlace::Newest& newest);

} // namespace kestrix
