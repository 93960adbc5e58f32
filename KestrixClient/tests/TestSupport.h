#pragma once

// The connection's tests: a broker stand-in on a real socket and a recorder of everything the
// connection tells its owner.

#include "KestrixClient/KestrixConnection.h"
#include "KestrixProtocol/UnixSocket.h"
#include "KestrixProtocol/VirtualMainLoop.h"
#include "TempFolder.h"

#include <fcntl.h>
#include <ostream>
#include <sys/socket.h>
#include <unistd.h>

namespace kestrix::client {
// For readable test failures.
inline void PrintTo(const ConnectionEvent& event, std::ostream* out) {
    *out << describe(event);
}
} // namespace kestrix::client

namespace kestrix::client::test {

using testsupport::readFile;
using testsupport::TempFolder;
using Event = KestrixConnection::Event;
using Launcher = KestrixConnection::Launcher;

// Listens on the place's socket, served by the test's own loop; accepts only when told to.
struct FakeBroker {
    using Peer = LineConnection<BrokerMessage, ClientMessage>;
    VirtualMainLoop& loop;
    std::string path;
    int listenFD;
    std::shared_ptr<Peer> peer;
    std::vector<ClientMessage> received; // on the current peer
    bool peerClosed = false;
    int accepted = 0;

    FakeBroker(VirtualMainLoop& l, const BrokerPlace& place)
        : loop(l)
        , path(place.socket().string())
        , listenFD(UnixSocket::listen(path)) {
        ::fcntl(listenFD, F_SETFL, ::fcntl(listenFD, F_GETFL) | O_NONBLOCK);
    }
    ~FakeBroker() {
        peer.reset();
        stopListening();
    }
    // Accepts a waiting connection, if any, and serves the loop until its hello has arrived.
    bool acceptHello() {
        int fd = ::accept4(listenFD, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0) return false;
        ++accepted;
        received.clear();
        peerClosed = false;
        peer = Peer::create(loop, fd);
        peer->onMessage = [this](const ClientMessage& message) { received.push_back(message); };
        peer->onClose = [this] { peerClosed = true; };
        peer->start();
        return waitFor(1) && received[0].as<Hello>();
    }
    bool waitFor(std::size_t count) {
        return loop.runUntil([&] { return received.size() >= count; });
    }
    void send(const BrokerMessage& message) { peer->send(message); }
    void dropPeer() {
        if (peer) peer->close();
        peer.reset();
    }
    void stopListening() {
        if (listenFD >= 0) ::close(listenFD), ::unlink(path.c_str());
        listenFD = -1;
    }
};

struct Recorder {
    std::vector<Event> events;
    std::vector<std::set<std::string>> appsCalls;
    std::vector<std::pair<std::vector<std::uint8_t>, std::string>> reports;
    std::vector<std::pair<double, Launcher>> launches; // instead of starting anything

    void attach(KestrixConnection& connection, VirtualMainLoop& loop) {
        connection.onEvent = [this](const Event& event) { events.push_back(event); };
        connection.onAppsWithOwnClient = [this](const auto& apps) { appsCalls.push_back(apps); };
        connection.onReport = [this](const auto& bytes, const std::string& id) {
            reports.emplace_back(bytes, id);
        };
        connection.starter = [this, &loop](const Launcher& launcher) {
            launches.emplace_back(loop.now(), launcher);
            return std::optional<std::string>();
        };
    }
    template <class T> std::size_t count() const {
        return std::size_t(
            std::count_if(events.begin(), events.end(), [](const Event& e) { return e.is<T>(); }));
    }
    std::vector<Event> take() { return std::exchange(events, {}); }
};

inline SpaceMouseDevice device(std::string id, std::int64_t vendorID = 0x256F,
                               std::int64_t productID = 0xC635) {
    SpaceMouseDevice d;
    d.id = std::move(id);
    d.vendorID = vendorID;
    d.productID = productID;
    d.name = "SpaceMouse";
    d.transport = std::string(SpaceMouseDevice::usbTransport);
    d.state = "open";
    return d;
}

} // namespace kestrix::client::test
