// The driver library: the six C entry points of the device driver's client library, over
// spacenavd's client library libspnav.
//
// - Registration opens the libspnav connection (client id 0 when the daemon does not answer) and
//   starts the library's event thread, which waits on the connection's descriptor. libspnav has
//   one connection per process, so there is at most one registered client at a time.
// - Every client is a manual one: events are delivered only between the '3dac' and '3ddc'
//   controls. Motion becomes a device-state record with command 3, a button change one with
//   command 2 carrying the held buttons as a bit mask (button n is bit n; buttons from 32 on have
//   no bit), under the message type '3dSR'. The registration's signature, mode and event mask
//   have no counterpart in spacenavd and are not used.
// - Device events of the daemon call the added and removed handlers.
// - '3dsl' switches the device LED through libspnav's configuration call.
// - When the daemon closes the connection the event thread ends; controls then fail until the
//   client unregisters and registers anew.
//
// Handlers are called on the event thread, never while the library's lock is held, so they may
// call back into the library. Once UnregisterConnexionClient or CleanupConnexionHandlers has
// returned on another thread, no handler runs any more.
#include "DeviceStateRecord.h"
#include "KestrixCore/ConnexionAPI.h"
#include "SpnavLink.h"

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <ctime>
#include <deque>
#include <memory>
#include <mutex>
#include <poll.h>
#include <string>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <variant>
#include <vector>

using kestrix::core::ConnexionAPI;
namespace spnav = kestrix::driver::spnav;
using kestrix::driver::DeviceStateRecord;

namespace {

// Results of ConnexionClientControl other than 0 (done).
constexpr std::int16_t noSuchClient = -1;   // not registered, or another client id
constexpr std::int16_t unknownControl = -2; // a message this library does not know
constexpr std::int16_t daemonGone = -3;     // the daemon closed the connection
constexpr std::int16_t daemonRefused = -4;  // the daemon did not confirm the request

// One registration's event thread: its wake-up descriptor and stop flag. Shared with the thread,
// so that a thread left to finish on its own never sees them go away.
struct Connection {
    int spnavFd = -1;
    int wake = -1;
    std::atomic<bool> stopping{false};
    ~Connection() {
        if (wake >= 0) ::close(wake);
    }
    void wakeUp() const {
        const std::uint64_t one = 1;
        [[maybe_unused]] const auto written = ::write(wake, &one, sizeof one);
    }
};

struct Library {
    std::mutex mutex;
    ConnexionAPI::MessageHandler messageHandler = nullptr;
    ConnexionAPI::DeviceHandler addedHandler = nullptr;
    ConnexionAPI::DeviceHandler removedHandler = nullptr;

    std::shared_ptr<Connection> connection; // present while registered
    std::thread thread;
    std::uint16_t clientID = 0;
    std::uint16_t lastClientID = 0;
    bool active = false;
    bool lost = false;
    std::uint32_t buttonMask = ConnexionAPI::allButtons;
    std::uint32_t held = 0;          // buttons held down, as last reported by the daemon
    std::deque<spnav::Event> queued; // read by a control call, not yet handled
};

// Never destroyed: its thread may still run while static objects are torn down at exit.
Library& library() {
    static Library* instance = new Library;
    return *instance;
}

std::uint64_t monotonicNanoseconds() {
    timespec now{};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    return std::uint64_t(now.tv_sec) * 1000000000u + std::uint64_t(now.tv_nsec);
}

// True when the daemon has closed its end: readable, yet nothing to read.
bool peerClosed(int fd) {
    char byte = 0;
    const ssize_t result = ::recv(fd, &byte, 1, MSG_PEEK | MSG_DONTWAIT);
    return result == 0 || (result < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR);
}

struct RecordDelivery {
    std::array<std::uint8_t, DeviceStateRecord::size> record;
};
struct DeviceDelivery {
    std::uint32_t device;
    bool added;
};
using Delivery = std::variant<RecordDelivery, DeviceDelivery>;

// Turns one daemon event into what the handlers get. Called with the lock held.
void translate(Library& lib, const spnav::Event& event, std::vector<Delivery>& out) {
    switch (event.kind) {
    case spnav::Event::Kind::motion:
        if (lib.active)
            out.push_back(RecordDelivery{
                DeviceStateRecord::axes(lib.clientID, event.axes, monotonicNanoseconds())});
        break;
    case spnav::Event::Kind::button: {
        if (event.button < 0 || event.button > 31) break;
        const std::uint32_t bit = std::uint32_t(1) << event.button;
        lib.held = event.press ? lib.held | bit : lib.held & ~bit;
        if (lib.active)
            out.push_back(RecordDelivery{DeviceStateRecord::buttons(
                lib.clientID, lib.held & lib.buttonMask, monotonicNanoseconds())});
        break;
    }
    case spnav::Event::Kind::device:
        out.push_back(DeviceDelivery{std::uint32_t(event.device), event.added});
        break;
    case spnav::Event::Kind::other:
        break;
    }
}

void serve(std::shared_ptr<Connection> connection) {
    Library& lib = library();
    for (;;) {
        if (connection->stopping) return;
        pollfd fds[2] = {{connection->spnavFd, POLLIN, 0}, {connection->wake, POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0) {
            if (errno == EINTR) continue;
            return;
        }
        if (fds[1].revents & POLLIN) {
            std::uint64_t count = 0;
            [[maybe_unused]] const auto got = ::read(connection->wake, &count, sizeof count);
        }
        if (connection->stopping) return;

        std::vector<Delivery> deliveries;
        ConnexionAPI::MessageHandler message = nullptr;
        ConnexionAPI::DeviceHandler added = nullptr;
        ConnexionAPI::DeviceHandler removed = nullptr;
        bool gone = false;
        {
            std::lock_guard lock(lib.mutex);
            while (!lib.queued.empty()) {
                translate(lib, lib.queued.front(), deliveries);
                lib.queued.pop_front();
            }
            if (fds[0].revents) {
                spnav::Event event;
                bool any = false;
                while (spnav::nextEvent(event)) {
                    translate(lib, event, deliveries);
                    any = true;
                }
                // A hang-up that leaves a torn event behind would keep the descriptor ready
                // for ever; it ends the connection all the same.
                const bool hungUp = (fds[0].revents & (POLLHUP | POLLERR | POLLNVAL)) && !any;
                gone = hungUp || peerClosed(connection->spnavFd);
                if (gone) lib.lost = true;
            }
            message = lib.messageHandler;
            added = lib.addedHandler;
            removed = lib.removedHandler;
        }
        for (auto& delivery : deliveries) {
            if (connection->stopping) return;
            if (auto* record = std::get_if<RecordDelivery>(&delivery)) {
                if (message) message(0, ConnexionAPI::deviceStateMessage, record->record.data());
            } else {
                const auto& device = std::get<DeviceDelivery>(delivery);
                if (const auto handler = device.added ? added : removed) handler(device.device);
            }
        }
        if (gone) return;
    }
}

// Ends the registration: stops the event thread and closes the connection.
void disconnect(std::uint16_t clientID, bool anyClient) {
    Library& lib = library();
    std::thread thread;
    std::shared_ptr<Connection> connection;
    {
        std::lock_guard lock(lib.mutex);
        if (!lib.connection || (!anyClient && clientID != lib.clientID)) return;
        connection = lib.connection;
        connection->stopping = true;
        thread = std::move(lib.thread);
    }
    connection->wakeUp();
    if (thread.joinable()) {
        // A handler that unregisters runs on the event thread itself, which ends by itself once
        // the handler returns.
        if (thread.get_id() == std::this_thread::get_id())
            thread.detach();
        else
            thread.join();
    }
    std::lock_guard lock(lib.mutex);
    spnav::close();
    lib.connection.reset();
    lib.clientID = 0;
    lib.active = false;
    lib.lost = false;
    lib.held = 0;
    lib.buttonMask = ConnexionAPI::allButtons;
    lib.queued.clear();
}

} // namespace

#define KESTRIX_EXPORT extern "C" __attribute__((visibility("default")))

KESTRIX_EXPORT std::int16_t SetConnexionHandlers(ConnexionAPI::MessageHandler messageHandler,
                                                 ConnexionAPI::DeviceHandler addedHandler,
                                                 ConnexionAPI::DeviceHandler removedHandler,
                                                 std::uint8_t /*useSeparateThread*/) {
    // Events always come from the library's thread: there is no run loop of the caller's to
    // deliver them on.
    Library& lib = library();
    std::lock_guard lock(lib.mutex);
    lib.messageHandler = messageHandler;
    lib.addedHandler = addedHandler;
    lib.removedHandler = removedHandler;
    return 0;
}

KESTRIX_EXPORT std::uint16_t RegisterConnexionClient(std::uint32_t /*signature*/,
                                                     const std::uint8_t* name,
                                                     std::uint16_t /*mode*/,
                                                     std::uint32_t /*mask*/) {
    Library& lib = library();
    std::lock_guard lock(lib.mutex);
    if (lib.connection) return 0;
    if (!spnav::open()) return 0;
    auto connection = std::make_shared<Connection>();
    connection->spnavFd = spnav::fd();
    connection->wake = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (connection->spnavFd < 0 || connection->wake < 0) {
        spnav::close();
        return 0;
    }
    // Both need protocol 1 (spacenavd 1.0 on); an older daemon sends input events regardless.
    if (name && name[0] != 0)
        spnav::setName(std::string(reinterpret_cast<const char*>(name + 1), name[0]));
    spnav::selectEvents();

    lib.clientID = ++lib.lastClientID;
    if (lib.clientID == 0) lib.clientID = ++lib.lastClientID;
    lib.active = false;
    lib.lost = false;
    lib.held = 0;
    lib.buttonMask = ConnexionAPI::allButtons;
    lib.queued.clear();
    lib.connection = connection;
    lib.thread = std::thread(serve, connection);
    return lib.clientID;
}

KESTRIX_EXPORT void UnregisterConnexionClient(std::uint16_t clientID) {
    disconnect(clientID, false);
}

KESTRIX_EXPORT void CleanupConnexionHandlers() {
    disconnect(0, true);
    Library& lib = library();
    std::lock_guard lock(lib.mutex);
    lib.messageHandler = nullptr;
    lib.addedHandler = nullptr;
    lib.removedHandler = nullptr;
}

KESTRIX_EXPORT void SetConnexionClientButtonMask(std::uint16_t clientID, std::uint32_t mask) {
    Library& lib = library();
    std::lock_guard lock(lib.mutex);
    if (lib.connection && clientID == lib.clientID) lib.buttonMask = mask;
}

KESTRIX_EXPORT std::int16_t ConnexionClientControl(std::uint16_t clientID, std::uint32_t message,
                                                   std::int32_t parameter, std::int32_t* result) {
    if (result) *result = 0;
    Library& lib = library();
    std::lock_guard lock(lib.mutex);
    if (!lib.connection || clientID != lib.clientID) return noSuchClient;
    if (lib.lost) return daemonGone;
    switch (message) {
    case ConnexionAPI::activateControl:
        lib.active = true;
        return 0;
    case ConnexionAPI::deactivateControl:
        lib.active = false;
        return 0;
    case ConnexionAPI::statusLEDControl: {
        // Take what has arrived before asking, so that it is not mistaken for the answer; the
        // event thread hands it on.
        spnav::Event event;
        while (spnav::nextEvent(event))
            lib.queued.push_back(event);
        if (!lib.queued.empty()) lib.connection->wakeUp();
        if (peerClosed(lib.connection->spnavFd)) {
            lib.lost = true;
            return daemonGone;
        }
        return spnav::setLED(parameter != 0) ? 0 : daemonRefused;
    }
    default:
        return unknownControl;
    }
}
