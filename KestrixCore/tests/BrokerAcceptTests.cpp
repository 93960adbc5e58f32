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

// A virtual loop that counts how often readiness handlers run.
class CountingLoop final : public MainLoop {
public:
    VirtualMainLoop inner;
    int readableCalls = 0;

    double now() const override { return inner.now(); }
    void after(double seconds, Task body) override { inner.after(seconds, std::move(body)); }
    void post(Task body) override { inner.post(std::move(body)); }
    std::unique_ptr<Watch> watchReadable(int fd, Task handler) override {
        return inner.watchReadable(fd, [this, handler = std::move(handler)] {
            ++readableCalls;
            handler();
        });
    }
    std::unique_ptr<Watch> watchWritable(int fd, Task handler) override {
        return inner.watchWritable(fd, std::move(handler));
    }
    std::unique_ptr<Watch> repeat(double interval, double leeway, Task handler) override {
        return inner.repeat(interval, leeway, std::move(handler));
    }
    bool isLoopThread() const override { return inner.isLoopThread(); }
};

int highestOpenDescriptor() {
    int highest = 2;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd"))
        highest = std::max(highest, std::atoi(entry.path().filename().c_str()));
    return highest;
}

// Lowers the process's descriptor limit for the life of the object.
struct DescriptorLimit {
    rlimit saved{};
    explicit DescriptorLimit(rlim_t limit) {
        ::getrlimit(RLIMIT_NOFILE, &saved);
        rlimit low = saved;
        low.rlim_cur = limit;
        ::setrlimit(RLIMIT_NOFILE, &low);
    }
    ~DescriptorLimit() { restore(); }
    void restore() { ::setrlimit(RLIMIT_NOFILE, &saved); }
};

TEST(BrokerAccept, runningOutOfDescriptorsPausesAcceptingInsteadOfSpinning) {
    testsupport::TempFolder temp;
    const std::filesystem::path folder = temp.path;
    CountingLoop loop;
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
    // The sanitizer's first check of a dynamic type needs a pipe; with no descriptor left it
    // would take the watch the broker drops for a broken object. Have it seen once before.
    loop.inner.watchReadable(0, [] {}).reset();
    {
        // Connections wait in the listening queue while no descriptor is left to take them.
        DescriptorLimit limit(rlim_t(highestOpenDescriptor()) + 1 + 4);
        for (;;) {
            int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
            if (fd < 0) break;
            clients.push_back(fd);
            ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address);
        }
        loop.readableCalls = 0;
        loop.inner.runPending();
        int calls = loop.readableCalls;
        std::size_t accepted = broker->clientCount();
        limit.restore();
        EXPECT_EQ(accepted, 0u);
        EXPECT_LT(calls, 10);
    }
    // With descriptors to spare again, the waiting connections are taken.
    loop.inner.advance(1.0);
    EXPECT_GT(broker->clientCount(), 0u);

    for (int fd : clients)
        ::close(fd);
    broker.reset();
}

} // namespace
