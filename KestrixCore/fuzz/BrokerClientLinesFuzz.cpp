// Whatever a client sends, the broker must neither crash nor stop serving. One broker (on virtual
// time) and one client connection live across inputs; each input goes over the real socket as the
// client's bytes. A broker that left (a takeOver from a newer version) or a connection that was cut
// is set up afresh.
#include "KestrixCore/Broker.h"
#include "KestrixProtocol/UnixSocket.h"
#include "KestrixProtocol/UserDefaults.h"
#include "KestrixProtocol/VirtualMainLoop.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <sys/socket.h>
#include <unistd.h>

using namespace kestrix;

namespace {

struct World {
    std::string folder;
    VirtualMainLoop loop{100.0};
    std::unique_ptr<UserDefaults> settings;
    std::unique_ptr<core::Broker> broker;
    int client = -1;

    World() {
        char pattern[] = "/tmp/broker-fuzz-XXXXXX";
        folder = ::mkdtemp(pattern);
        settings = std::make_unique<UserDefaults>(folder + "/kestrix.json");
    }

    void fresh() {
        if (client >= 0) ::close(client);
        client = -1;
        broker.reset();
        loop.runPending();
        broker = std::make_unique<core::Broker>(loop, 15, BrokerPlace(folder + "/home"), 10.0, true,
                                                *settings, BrokerPlace::Newest{15, "/fuzz", {}},
                                                nullptr, core::Broker::Parts{});
        broker->onLeave = [] {};
        broker->start(-1);
        loop.advance(1.0);
        connect();
    }

    void connect() {
        if (client >= 0) ::close(client);
        auto fd = UnixSocket::connect(folder + "/home/broker.sock");
        client = fd ? *fd : -1;
        loop.runPending();
    }
};

World& world() {
    static World* w = [] {
        auto* created = new World;
        static std::string folder = created->folder;
        std::atexit([] { std::system(("rm -rf '" + folder + "'").c_str()); });
        created->fresh();
        return created;
    }();
    return *w;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    World& w = world();
    if (w.broker->leaving()) w.fresh();
    if (w.client < 0) w.connect();
    if (w.client < 0) w.fresh();
    if (::send(w.client, data, size, MSG_NOSIGNAL | MSG_DONTWAIT) < 0) w.connect();
    const char newline = '\n';
    ::send(w.client, &newline, 1, MSG_NOSIGNAL | MSG_DONTWAIT);
    w.loop.runPending();
    w.loop.advance(0.5);
    // Drain what the broker answered, so that it never counts us as stalled.
    char buffer[65536];
    while (::recv(w.client, buffer, sizeof buffer, MSG_DONTWAIT) > 0) {
    }
    return 0;
}
