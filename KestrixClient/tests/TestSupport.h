#pragma once

#include "KestrixClient/KestrixConnection.h"
#include "KestrixProtocol/BrokerPlace.h"
#include "KestrixProtocol/LineConnection.h"
#include "KestrixProtocol/Messages.h"
#include "KestrixProtocol/VirtualMainLoop.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace kestrix::client::test {

// A fresh folder under the system's temp folder, removed with everything in it at the end.
class TempFolder {
public:
    TempFolder();
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;
    const std::string& path() const { return path_; }

private:
    std::string path_;
};

// A broker stand-in on a real listening socket, served by the test's own loop: it accepts the
// client's connections when told to and records what the client sends.
class FakeBroker {
public:
    using Peer = LineConnection<BrokerMessage, ClientMessage>;

    FakeBroker(VirtualMainLoop& loop, const BrokerPlace& place);
    ~FakeBroker();

    // Accepts one waiting connection, if any, and makes it the current peer.
    bool accept();
    // Serves the loop until the client's hello has arrived on a newly accepted connection.
    bool acceptHello();
    // Serves the loop until `count` messages have arrived on the current peer.
    bool waitForMessages(std::size_t count);
    void send(const BrokerMessage& message);
    // Closes the current peer; the client sees the end of the stream.
    void dropPeer();
    // Stops listening and removes the socket file.
    void stopListening();

    bool hasPeer() const { return peer_ != nullptr; }
    int accepted() const { return accepted_; }
    // Messages received on the current peer, and whether it has been closed by the client.
    std::vector<ClientMessage> received;
    bool peerClosed = false;

private:
    VirtualMainLoop& loop_;
    std::string path_;
    int listenFD_ = -1;
    int accepted_ = 0;
    std::shared_ptr<Peer> peer_;
};

// Everything a connection tells its owner, in order.
struct Recorder {
    std::vector<KestrixConnection::Event> events;
    std::vector<std::set<std::string>> appsCalls;
    std::vector<std::pair<std::vector<std::uint8_t>, std::string>> reports;
    std::vector<std::pair<double, KestrixConnection::Launcher>> launches;

    void attach(KestrixConnection& connection, VirtualMainLoop& loop);
    std::size_t count(bool (*pick)(const KestrixConnection::Event&)) const;
    std::vector<KestrixConnection::Event> take();
};

SpaceMouseDevice device(std::string id, std::int64_t vendorID = 0x256F,
                        std::int64_t productID = 0xC635);

} // namespace kestrix::client::test

namespace kestrix::client {
// For readable test failures.
void PrintTo(const ConnectionEvent& event, std::ostream* out);
} // namespace kestrix::client
