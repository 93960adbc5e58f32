#include "KestrixCore/Election.h"

#include "KestrixProtocol/Kestrix.h"
#include "KestrixProtocol/LineCoding.h"
#include "KestrixProtocol/Messages.h"
#include "KestrixProtocol/UnixSocket.h"

#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace kestrix::core {

namespace {

bool tryLock(int fd) {
    return ::flock(fd, LOCK_EX | LOCK_NB) == 0;
}

void sendLine(int fd, const std::string& line) {
    // A write error only means the question goes unanswered.
    (void)::send(fd, line.data(), line.size(), MSG_NOSIGNAL);
}

} // namespace

std::optional<Election::Answer>
Election::askToHandOver(const BrokerPlace& place, std::int64_t version, double receiveTimeout) {
    // Not a blocking connect: a hung broker with a full queue would hold this one forever.
    std::optional<UnixSocket::Connecting> connecting =
        UnixSocket::startConnect(place.socket().string());
    if (!connecting) return std::nullopt;
    int fd = connecting->fd;
    if (!connecting->connected) {
        pollfd entry{fd, POLLOUT, 0};
        if (::poll(&entry, 1, static_cast<int>(receiveTimeout * 1000)) != 1 ||
            !UnixSocket::finishConnect(fd)) {
            ::close(fd);
            return std::nullopt;
        }
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    timeval timeout{};
    timeout.tv_sec = static_cast<time_t>(receiveTimeout);
    timeout.tv_usec =
        static_cast<suseconds_t>((receiveTimeout - static_cast<double>(timeout.tv_sec)) * 1e6);
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);

    Hello hello{Kestrix::protocolVersion, version, static_cast<std::int32_t>(::getpid()),
                "Kestrix v" + std::to_string(version), std::nullopt};
    sendLine(fd, LineEncoder::encode(ClientMessage{hello}));
    sendLine(fd, LineEncoder::encode(ClientMessage{ClientMessage::TakeOver{version}}));

    LineDecoder<BrokerMessage> decoder;
    std::int64_t running = 0;
    std::string buffer(65536, '\0');
    for (;;) {
        ssize_t n = ::read(fd, buffer.data(), buffer.size());
        if (n <= 0) {
            ::close(fd);
            return std::nullopt;
        }
        for (const BrokerMessage& message :
             decoder.feed(std::string_view(buffer.data(), static_cast<std::size_t>(n)))) {
            if (auto* welcome = message.as<BrokerMessage::Welcome>()) {
                running = welcome->version;
            } else if (auto* handing = message.as<BrokerMessage::HandingOver>()) {
                ::close(fd);
                return Answer{running, handing->handingOver};
            }
        }
    }
}

Election::Outcome Election::run(const BrokerPlace& place, std::int64_t version,
                                const std::function<void(const std::string&)>& log, Timing timing) {
    if (!timing.sleep)
        timing.sleep = [](double seconds) {
            std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
        };
    if (!timing.clock)
        timing.clock = [] {
            return std::chrono::duration<double>(
                       std::chrono::steady_clock::now().time_since_epoch())
                .count();
        };

    place.ensureDirectory();
    if (auto why = place.distrust()) return Outcome::failed(*why);
    std::string path = place.lock().string();
    // Close-on-exec, so that no program the broker starts keeps the lock after it is gone; never
    // through a link that someone put in its place.
    int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) return Outcome::failed("cannot open " + path + ": " + std::strerror(errno));
    struct stat info {};
    if (::fstat(fd, &info) != 0 || info.st_uid != ::getuid()) {
        ::close(fd);
        return Outcome::failed(path + " belongs to user " + std::to_string(info.st_uid));
    }
    if ((info.st_mode & 07777) != 0600) ::fchmod(fd, 0600);
    if (tryLock(fd)) return Outcome::elected(fd);

    std::optional<Answer> answer;
    for (int i = 0; i < timing.questions; ++i) {
        answer = askToHandOver(place, version, timing.receiveTimeout);
        if (answer) break;
        timing.sleep(timing.pause);
    }
    if (!answer) {
        ::close(fd);
        return Outcome::failed("lock held, but no broker answers");
    }
    if (!answer->leaves) {
        ::close(fd);
        return Outcome::stays(answer->running);
    }
    log("running broker v" + std::to_string(answer->running) + " hands over to v" +
        std::to_string(version));
    double start = timing.clock();
    while (timing.clock() - start < timing.lockWait) {
        if (tryLock(fd)) {
            auto ms = static_cast<long long>((timing.clock() - start) * 1000.0);
            log("lock taken after " + std::to_string(ms) + " ms");
            return Outcome::elected(fd);
        }
        timing.sleep(timing.lockPoll);
    }
    ::close(fd);
    return Outcome::failed("old broker did not let go of the lock");
}

} // namespace kestrix::core
