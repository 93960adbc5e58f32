#include "KestrixCore/DriverWatch.h"

#include "KestrixProtocol/MainLoop.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <ctime>
#include <fstream>
#include <sstream>
#include <sys/inotify.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/un.h>
#include <unistd.h>

namespace kestrix::core {

SpacenavdWatch::SpacenavdWatch(MainLoop& loop, Paths paths,
                               std::function<void(const std::string&)> log)
    : loop_(loop)
    , paths_(std::move(paths))
    , log_(std::move(log)) {
    inotify_ = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (inotify_ >= 0 && ::inotify_add_watch(inotify_, paths_.runDirectory.c_str(),
                                             IN_CREATE | IN_DELETE | IN_MOVED_TO | IN_MOVED_FROM |
                                                 IN_CLOSE_WRITE) >= 0) {
        folderWatch_ = loop_.watchReadable(inotify_, [this] { folderChanged(); });
    } else {
        log_("cannot watch " + paths_.runDirectory +
             " for the spacenavd driver: " + std::strerror(errno));
    }
    followProcess();
}

SpacenavdWatch::~SpacenavdWatch() {
    folderWatch_.reset();
    processWatch_.reset();
    if (inotify_ >= 0) ::close(inotify_);
    if (pidfd_ >= 0) ::close(pidfd_);
}

std::optional<std::int32_t> SpacenavdWatch::livePid() const {
    std::ifstream in(paths_.runDirectory + "/" + paths_.pidFile);
    long pid = 0;
    if (!(in >> pid) || pid <= 0 || pid > 0x7fffffff) return std::nullopt;
    if (::kill(static_cast<pid_t>(pid), 0) != 0 && errno != EPERM) return std::nullopt;
    // A pid file left by a crashed daemon may name a process that took the number since, and an
    // exited daemon stays a zombie until it is reaped: only a live process of the daemon's own
    // name counts.
    std::ifstream stat(paths_.procRoot + "/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    auto open = text.find('(');
    auto close = text.rfind(')');
    if (open == std::string::npos || close == std::string::npos || close < open ||
        close + 2 >= text.size())
        return std::nullopt;
    if (text.substr(open + 1, close - open - 1) != daemonName || text[close + 2] == 'Z')
        return std::nullopt;
    return static_cast<std::int32_t>(pid);
}

// The start time in /proc/PID/stat (field 22) counts clock ticks since boot.
std::optional<double> SpacenavdWatch::launchedAt(std::int32_t pid) const {
    std::ifstream in(paths_.procRoot + "/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    auto close = text.rfind(')'); // the command name may hold blanks and parentheses
    if (close == std::string::npos) return std::nullopt;
    std::istringstream fields(text.substr(close + 2));
    std::string field;
    unsigned long long ticks = 0;
    for (int i = 3; i <= 22 && fields >> field; ++i)
        if (i == 22) ticks = std::strtoull(field.c_str(), nullptr, 10);
    if (ticks == 0) return std::nullopt;
    timespec boot{};
    ::clock_gettime(CLOCK_BOOTTIME, &boot);
    double sinceBoot = static_cast<double>(boot.tv_sec) + static_cast<double>(boot.tv_nsec) / 1e9;
    double started = static_cast<double>(ticks) / static_cast<double>(::sysconf(_SC_CLK_TCK));
    return loop_.now() - (sinceBoot - started);
}

bool SpacenavdWatch::socketAnswers() const {
    std::string path = paths_.runDirectory + "/" + paths_.socket;
    sockaddr_un address{};
    if (path.size() >= sizeof address.sun_path) return false;
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) return false;
    int result = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    bool answers = result == 0 || errno == EAGAIN || errno == EINPROGRESS;
    ::close(fd);
    return answers;
}

std::optional<DriverWatch::Helper> SpacenavdWatch::helper() {
    auto pid = livePid();
    if (!pid) return std::nullopt;
    return Helper{launchedAt(*pid), socketAnswers()};
}

void SpacenavdWatch::folderChanged() {
    alignas(inotify_event) char buffer[4096];
    bool ours = false;
    for (;;) {
        ssize_t n = ::read(inotify_, buffer, sizeof buffer);
        if (n <= 0) break;
        for (ssize_t at = 0; at < n;) {
            auto* event = reinterpret_cast<inotify_event*>(buffer + at);
            if ((event->mask & IN_Q_OVERFLOW) ||
                (event->len > 0 && (paths_.pidFile == event->name || paths_.socket == event->name)))
                ours = true;
            at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
        }
    }
    if (!ours) return;
    followProcess();
    onChange();
}

// A pidfd becomes readable when the process ends, also when it dies without removing its files.
void SpacenavdWatch::followProcess() {
    auto pid = livePid();
    std::int32_t wanted = pid.value_or(0);
    if (wanted == followed_) return;
    processWatch_.reset();
    if (pidfd_ >= 0) ::close(pidfd_);
    pidfd_ = -1;
    followed_ = wanted;
    if (!wanted) return;
    pidfd_ = static_cast<int>(::syscall(SYS_pidfd_open, wanted, 0));
    if (pidfd_ < 0) return;
    std::weak_ptr<bool> alive = alive_;
    processWatch_ = loop_.watchReadable(pidfd_, [this, alive] {
        processWatch_->cancel();
        loop_.post([this, alive] {
            if (alive.expired()) return;
            processWatch_.reset();
            ::close(pidfd_);
            pidfd_ = -1;
            followed_ = 0;
            followProcess();
            onChange();
        });
    });
}

} // namespace kestrix::core
