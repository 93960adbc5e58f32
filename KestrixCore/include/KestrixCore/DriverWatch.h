#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace kestrix {
class MainLoop;
class Watch;
} // namespace kestrix

namespace kestrix::core {

// Whether the system's device driver runs. On Linux that is spacenavd: it grabs the devices and
// serves its clients on a socket, so while it runs the broker must not seize them.
class DriverWatch {
public:
    struct Helper {
        // When the driver process started, on the main loop's clock; absent when unknown.
        std::optional<double> launched;
        // It accepts clients (its socket answers a connection).
        bool finishedLaunching = false;
        bool operator==(const Helper&) const = default;
    };

    virtual ~DriverWatch() = default;

    // The running driver; absent when it does not run.
    virtual std::optional<Helper> helper() = 0;

    // Something about the running driver may have changed (it started, stopped, or opened its
    // socket). Called on the loop; callers look at helper() again.
    std::function<void()> onChange = [] {};
};

// For tests and for brokers without devices.
class SimulatedDriverWatch final : public DriverWatch {
public:
    std::optional<Helper> helper() override { return helper_; }
    void set(std::optional<Helper> helper) {
        helper_ = helper;
        onChange();
    }

private:
    std::optional<Helper> helper_;
};

// spacenavd: it runs while its pid file names a live process, and has finished launching once its
// socket takes a connection. The run folder is watched with inotify for the pid file and the
// socket coming and going, and the process itself through a pidfd, so a crash is noticed too.
class SpacenavdWatch final : public DriverWatch {
public:
    struct Paths {
        std::string runDirectory = "/var/run";
        std::string pidFile = "spnavd.pid"; // in runDirectory
        std::string socket = "spnav.sock";  // in runDirectory
        std::string procRoot = "/proc";
    };

    // The command name of the daemon's process, as /proc/PID/stat shows it.
    static constexpr std::string_view daemonName = "spacenavd";

    SpacenavdWatch(MainLoop& loop, Paths paths, std::function<void(const std::string&)> log);
    ~SpacenavdWatch() override;

    std::optional<Helper> helper() override;

private:
    std::optional<std::int32_t> livePid() const;
    std::optional<double> launchedAt(std::int32_t pid) const;
    bool socketAnswers() const;
    void folderChanged();
    void followProcess();

    MainLoop& loop_;
    Paths paths_;
    std::function<void(const std::string&)> log_;
    int inotify_ = -1;
    std::unique_ptr<Watch> folderWatch_;
    int pidfd_ = -1;
    std::int32_t followed_ = 0;
    std::unique_ptr<Watch> processWatch_;
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

} // namespace kestrix::core
