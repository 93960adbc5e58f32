#include "SpnavLink.h"

#include <csignal>
#include <cstdlib>
#include <ctime>
#include <pthread.h>
#include <spnav.h>
#include <string>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace kestrix::driver::spnav {

namespace {

// libspnav writes to its socket with write(): a daemon that has just gone away would raise
// SIGPIPE and end the whole process. While a call that writes runs, SIGPIPE is blocked in the
// calling thread, and one that the call raised is taken back before it is unblocked.
class PipeSignalGuard {
public:
    PipeSignalGuard() {
        sigemptyset(&pipe_);
        sigaddset(&pipe_, SIGPIPE);
        sigset_t pending;
        sigpending(&pending);
        wasPending_ = sigismember(&pending, SIGPIPE) == 1;
        pthread_sigmask(SIG_BLOCK, &pipe_, &previous_);
    }
    ~PipeSignalGuard() {
        if (!wasPending_) {
            sigset_t pending;
            sigpending(&pending);
            if (sigismember(&pending, SIGPIPE) == 1) {
                const timespec none{};
                sigtimedwait(&pipe_, nullptr, &none);
            }
        }
        pthread_sigmask(SIG_SETMASK, &previous_, nullptr);
    }
    PipeSignalGuard(const PipeSignalGuard&) = delete;
    PipeSignalGuard& operator=(const PipeSignalGuard&) = delete;

private:
    sigset_t pipe_;
    sigset_t previous_;
    bool wasPending_ = false;
};

// libspnav's socket: $SPNAV_SOCKET, else the system's.
std::string socketPath() {
    const char* path = std::getenv("SPNAV_SOCKET");
    return path && *path ? path : "/var/run/spnav.sock";
}

// Whether the daemon takes a connection. libspnav 1.0 loses the memory of every connection
// attempt that fails, and the driver client retries for as long as the broker runs; asking first
// keeps the attempts made while no daemon runs from adding up.
bool daemonAnswers() {
    const std::string path = socketPath();
    sockaddr_un address{};
    if (path.size() >= sizeof(address.sun_path)) return true; // let libspnav decide
    address.sun_family = AF_UNIX;
    path.copy(address.sun_path, path.size());
    const int probe = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (probe < 0) return true;
    const bool answers =
        ::connect(probe, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
    ::close(probe);
    return answers;
}

} // namespace

bool open() {
    if (!daemonAnswers()) return false;
    PipeSignalGuard guard;
    return spnav_open() == 0;
}

void close() {
    spnav_close();
}

int fd() {
    return spnav_fd();
}

bool setName(const std::string& name) {
    PipeSignalGuard guard;
    return spnav_client_name(name.c_str()) == 0;
}

bool selectEvents() {
    PipeSignalGuard guard;
    return spnav_evmask(SPNAV_EVMASK_MOTION | SPNAV_EVMASK_BUTTON | SPNAV_EVMASK_DEV) == 0;
}

bool nextEvent(Event& event) {
    spnav_event raw{};
    if (spnav_poll_event(&raw) == 0) return false;
    event = Event();
    switch (raw.type) {
    case SPNAV_EVENT_MOTION:
        event.kind = Event::Kind::motion;
        event.axes = {raw.motion.x,  raw.motion.y,  raw.motion.z,
                      raw.motion.rx, raw.motion.ry, raw.motion.rz};
        break;
    case SPNAV_EVENT_BUTTON:
        event.kind = Event::Kind::button;
        event.button = raw.button.bnum;
        event.press = raw.button.press != 0;
        break;
    case SPNAV_EVENT_DEV:
        event.kind = Event::Kind::device;
        event.added = raw.dev.op == SPNAV_DEV_ADD;
        event.device = raw.dev.id;
        break;
    default:
        break;
    }
    return true;
}

bool setLED(bool on) {
    PipeSignalGuard guard;
    return spnav_cfg_set_led(on ? SPNAV_CFG_LED_ON : SPNAV_CFG_LED_OFF) == 0;
}

} // namespace kestrix::driver::spnav
