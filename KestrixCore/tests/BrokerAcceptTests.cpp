// The listening socket when the process has no descriptor left for a new connection.
#include "KestrixCore/Broker.h"
#include "KestrixProtocol/UserDefaults.h"
#include "KestrixProtocol/VirtualMainLoop.h"
#include "TempFolder.h"

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

using namespace kestrix;
using namespace kestrix::core;

namespace {

int highestOpenDescriptor() {
    int highest = 2;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd"))
        highest = std::max(highest, std::atoi(entry.path().filename().c_str()));
    return highest;
}

TEST(BrokerAccept, runningOutOfDescriptorsPausesAcceptingInsteadOfSpinning) {
    testsupport::TempFolder temp;
    const std::filesystem::path folder = temp.path;
    VirtualMainLoop loop;
    UserDefaults settings((folder / "kestrix.json").string());
    BrokerPlace place(folder / "home");
    auto broker = std::make_unique<Broker>(loop, 15, place, 10.0, false, settings,
                                           BrokerPlace::Newest{15, "/usr/libexec/kestrix", {}},
                                           nullptr, Broker::Parts{});
    broker->onLeave = [] {};
    broker->start(-1);

    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::string path = place.socket().string();
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    std::vector<int> clients;
    const std::size_t watchedBefore = loop.readableWatchCount();
    // The sanitizer's first check of a dynamic type needs a pipe; with no descriptor left it
    // would take the watch the broker drops for a broken object. Have it seen once before.
    loop.watchReadable(0, [] {}).reset();
    {
        // Connections wait in the listening queue while no descriptor is left to take them.
        rlimit saved{};
        ::getrlimit(RLIMIT_NOFILE, &saved);
        rlimit low = saved;
        low.rlim_cur = rlim_t(highestOpenDescriptor()) + 1 + 4;
        ::setrlimit(RLIMIT_NOFILE, &low);
        for (;;) {
            int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
            if (fd < 0) break;
            clients.push_back(fd);
            ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address);
        }
        // Paused: the listening socket is no longer watched, so the loop does not spin on it.
        loop.runPending();
        std::size_t accepted = broker->clientCount(), watched = loop.readableWatchCount();
        ::setrlimit(RLIMIT_NOFILE, &saved);
        EXPECT_EQ(accepted, 0u);
        EXPECT_EQ(watched, watchedBefore - 1);
    }
    // With descriptors to spare again, the waiting connections are taken.
    loop.advance(1.0);
    EXPECT_GT(broker->clientCount(), 0u);

    for (int fd : clients)
        ::close(fd);
    broker.reset();
}

} // namespace
