#include "TestSupport.h"

#include "KestrixProtocol/UnixSocket.h"

#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <ostream>
#include <sys/socket.h>
#include <unistd.h>

namespace kestrix::client::test {

TempFolder::TempFolder() {
    std::string pattern =
        (std::filesystem::temp_directory_path() / "kestrix-client-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
}

TempFolder::~TempFolder() {
    std::error_code error;
    std::filesystem::remove_all(path_, error);
}

FakeBroker::FakeBroker(VirtualMainLoop& loop, const BrokerPlace& place)
    : loop_(loop)
    , path_(place.socket().string()) {
    listenFD_ = UnixSocket::listen(path_);
    // accept() must not wait when no client is there: that is what some tests look for.
    ::fcntl(listenFD_, F_SETFL, ::fcntl(listenFD_, F_GETFL) | O_NONBLOCK);
}

FakeBroker::~FakeBroker() {
    peer_.reset();
    if (listenFD_ >= 0) ::close(listenFD_);
}

bool FakeBroker::accept() {
    if (listenFD_ < 0) return false;
    int fd = ::accept4(listenFD_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd < 0) return false;
    ++accepted_;
    received.clear();
    peerClosed = false;
    if (peer_) peer_->close();
    peer_ = Peer::create(loop_, fd);
    peer_->onMessage = [this](const ClientMessage& message) { received.push_back(message); };
    peer_->onClose = [this] { peerClosed = true; };
    peer_->start();
    return true;
}

bool FakeBroker::acceptHello() {
    // The client connects synchronously, so its connection already waits in the backlog.
    if (!accept()) return false;
    return waitForMessages(1) && received[0].as<Hello>() != nullptr;
}

bool FakeBroker::waitForMessages(std::size_t count) {
    return loop_.runUntil([&] { return received.size() >= count; });
}

void FakeBroker::send(const BrokerMessage& message) {
    if (peer_) peer_->send(message);
}

void FakeBroker::dropPeer() {
    if (peer_) peer_->close();
    peer_.reset();
}

void FakeBroker::stopListening() {
    if (listenFD_ >= 0) ::close(listenFD_);
    listenFD_ = -1;
    ::unlink(path_.c_str());
}

void Recorder::attach(KestrixConnection& connection, VirtualMainLoop& loop) {
    connection.onEvent = [this](const KestrixConnection::Event& event) { events.push_back(event); };
    connection.onAppsWithOwnClient = [this](const std::set<std::string>& apps) {
        appsCalls.push_back(apps);
    };
    connection.onReport = [this](const std::vector<std::uint8_t>& bytes, const std::string& id) {
        reports.emplace_back(bytes, id);
    };
    connection.starter = [this, &loop](const KestrixConnection::Launcher& launcher) {
        launches.emplace_back(loop.now(), launcher);
        return std::optional<std::string>();
    };
}

std::size_t Recorder::count(bool (*pick)(const KestrixConnection::Event&)) const {
    std::size_t n = 0;
    for (const auto& event : events)
        n += pick(event) ? 1 : 0;
    return n;
}

std::vector<KestrixConnection::Event> Recorder::take() {
    std::vector<KestrixConnection::Event> taken = std::move(events);
    events.clear();
    return taken;
}

SpaceMouseDevice device(std::string id, std::int64_t vendorID, std::int64_t productID) {
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

namespace kestrix::client {
void PrintTo(const ConnectionEvent& event, std::ostream* out) {
    *out << describe(event);
}
} // namespace kestrix::client
