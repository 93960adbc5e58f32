#include "KestrixProtocol/EndingSignals.h"

#include "KestrixProtocol/MainLoop.h"

#include <csignal>
#include <pthread.h>
#include <sys/signalfd.h>
#include <unistd.h>

namespace kestrix {

namespace {

sigset_t endingSet() {
    sigset_t signals;
    sigemptyset(&signals);
    for (int signal : {SIGINT, SIGTERM, SIGHUP})
        sigaddset(&signals, signal);
    return signals;
}

} // namespace

EndingSignals::EndingSignals() {
    sigset_t signals = endingSet();
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    fd_ = ::signalfd(-1, &signals, SFD_CLOEXEC | SFD_NONBLOCK);
    if (fd_ < 0) pthread_sigmask(SIG_UNBLOCK, &signals, nullptr);
}

EndingSignals::~EndingSignals() {
    if (fd_ >= 0) ::close(fd_);
}

std::unique_ptr<Watch> EndingSignals::follow(MainLoop& loop,
                                             std::function<void(int signal)> ended) const {
    if (fd_ < 0) return nullptr;
    return loop.watchReadable(fd_, [fd = fd_, ended = std::move(ended)] {
        signalfd_siginfo info{};
        while (::read(fd, &info, sizeof info) == static_cast<ssize_t>(sizeof info))
            ended(static_cast<int>(info.ssi_signo));
    });
}

const char* EndingSignals::name(int signal) {
    switch (signal) {
    case SIGINT:
        return "SIGINT";
    case SIGTERM:
        return "SIGTERM";
    case SIGHUP:
        return "SIGHUP";
    default:
        return "a signal";
    }
}

} // namespace kestrix
