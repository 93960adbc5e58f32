// What the broker costs per forwarded axes report, and its resident memory when idle.
//
// BM_brokerProcess: a real `kestrix` process with a simulated SpaceMouse sending translation and
// rotation reports at 1 kHz (one axes sample per millisecond), one holder and 16 listeners over
// the real socket. Reports the broker's CPU time (all threads, from the scheduler's account) per
// axes message the holder received, and its resident memory before any client or report (idle).
//
// BM_forwardAxes: the broker's own work per sample in this process (holder lookup, encoding and
// the socket write), with the same 17 clients, without the simulated device; the clients' reading
// is kept off the clock.
#include "KestrixCore/Broker.h"
#include "KestrixProtocol/LineConnection.h"
#include "KestrixProtocol/Messages.h"
#include "KestrixProtocol/UnixSocket.h"
#include "KestrixProtocol/UserDefaults.h"
#include "KestrixProtocol/VirtualMainLoop.h"
#include "ProcessAccount.h"

#include <benchmark/benchmark.h>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace kestrix;

namespace {

struct Folder {
    std::string path;
    Folder() {
        char pattern[] = "/tmp/kestrix-bench-XXXXXX";
        path = ::mkdtemp(pattern);
    }
    ~Folder() {
        std::error_code ignored;
        std::filesystem::remove_all(path, ignored);
    }
};

struct Client {
    std::shared_ptr<LineConnection<ClientMessage, BrokerMessage>> connection;
    long axes = 0;
    long holding = 0;
    long messages = 0;
};

std::unique_ptr<Client> connectTo(VirtualMainLoop& loop, const std::string& socket) {
    auto fd = UnixSocket::connect(socket);
    if (!fd) return nullptr;
    auto c = std::make_unique<Client>();
    c->connection = LineConnection<ClientMessage, BrokerMessage>::create(loop, *fd);
    Client* raw = c.get();
    c->connection->onMessage = [raw](const BrokerMessage& m) {
        ++raw->messages;
        if (m.as<BrokerMessage::Axes>()) ++raw->axes;
        if (m.as<BrokerMessage::Holding>()) ++raw->holding;
    };
    c->connection->start();
    return c;
}

long rssKilobytes(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(in, line))
        if (line.rfind("VmRSS:", 0) == 0) return std::strtol(line.c_str() + 6, nullptr, 10);
    return 0;
}

Hello hello(const std::string& name, std::optional<Claim> claim) {
    return Hello{2, 15, static_cast<std::int32_t>(::getpid()), name, std::move(claim)};
}

void BM_brokerProcess(benchmark::State& state) {
    const double seconds = 5.0;
    for (auto _ : state) {
        Folder folder;
        ::mkdir((folder.path + "/home").c_str(), 0700);
        std::ofstream(folder.path + "/devices.json") << R"({"devices": [
 {"vendorID": 9583, "productID": 50741, "product": "SpaceMouse Compact", "transport": "USB",
  "serialNumber": "BENCH", "locationID": 1, "interface": 0,
  "reports": [{"at": 1.0, "every": 0.001, "count": 100000000, "bytes": [1, 16, 0, 240, 255, 0, 0]},
              {"at": 1.0005, "every": 0.001, "count": 100000000, "bytes": [2, 0, 0, 0, 0, 10, 0]}]}]})";
        pid_t pid = ::fork();
        if (pid == 0) {
            ::unsetenv("DISPLAY");
            ::unsetenv("WAYLAND_DISPLAY");
            ::unsetenv("QT_QPA_PLATFORM");
            ::setenv("KESTRIX_HOME", (folder.path + "/home").c_str(), 1);
            ::setenv("XDG_CONFIG_HOME", folder.path.c_str(), 1);
            ::setenv("KESTRIX_DEVICES", ("sim:" + folder.path + "/devices.json").c_str(), 1);
            ::setenv("SPNAV_SOCKET", (folder.path + "/spnav.sock").c_str(), 1);
            int null = ::open("/dev/null", O_RDWR);
            ::dup2(null, 0);
            ::dup2(null, 1);
            ::dup2(null, 2);
            ::execl(KESTRIX_EXECUTABLE, KESTRIX_EXECUTABLE, static_cast<char*>(nullptr));
            ::_exit(127);
        }
        VirtualMainLoop loop;
        std::string socket = folder.path + "/home/broker.sock";
        std::unique_ptr<Client> holder;
        for (int i = 0; i < 1000 && !holder; ++i) {
            holder = connectTo(loop, socket);
            if (!holder) ::usleep(10000); // the broker is still starting
        }
        if (!holder) {
            state.SkipWithError("the broker did not start");
            ::kill(pid, SIGKILL);
            ::waitpid(pid, nullptr, 0);
            return;
        }
        loop.runUntil([] { return false; }, 0.5);
        long idleRSS = rssKilobytes(pid);
        std::vector<std::unique_ptr<Client>> listeners;
        for (int i = 0; i < 16; ++i) {
            listeners.push_back(connectTo(loop, socket));
            if (!listeners.back()) {
                state.SkipWithError(
                    ("listener " + std::to_string(i) + " could not connect").c_str());
                break;
            }
            listeners.back()->connection->send(ClientMessage{hello("Listener", std::nullopt)});
        }
        if (listeners.size() < 16 || !listeners.back()) break;
        holder->connection->send(ClientMessage{hello("Holder", Claim{{}, true, {}, {}})});
        loop.runUntil([&] { return holder->axes > 100; }, 10.0);
        double cpu0 = bench::cpuSeconds(pid);
        long axes0 = holder->axes;
        loop.runUntil([] { return false; }, seconds);
        double cpu1 = bench::cpuSeconds(pid);
        long axes1 = holder->axes;
        long listenerAxes = 0;
        for (auto& l : listeners)
            listenerAxes += l->axes;
        long forwarded = axes1 - axes0;
        state.counters["reports_per_s"] = double(forwarded) / seconds;
        state.counters["cpu_us_per_report"] =
            forwarded ? (cpu1 - cpu0) * 1e6 / double(forwarded) : 0;
        state.counters["cpu_percent"] = (cpu1 - cpu0) / seconds * 100.0;
        state.counters["idle_rss_kB"] = double(idleRSS);
        state.counters["busy_rss_kB"] = double(rssKilobytes(pid));
        state.counters["listener_axes"] = double(listenerAxes); // must stay 0
        ::kill(pid, SIGTERM);
        ::waitpid(pid, nullptr, 0);
    }
}
BENCHMARK(BM_brokerProcess)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

class QuietDevices final : public core::BrokerDevices {
public:
    void start() override {}
    void stop() override {}
    void want(bool) override {}
    std::vector<SpaceMouseDevice> list() const override { return {}; }
    std::optional<std::string> setLED(bool, const std::string&) override { return {}; }
    void describe(const std::string&, std::function<void(DeviceDescription)>) override {}
    std::optional<smk::SpaceMouseModel> model(const std::string&) const override { return {}; }
    void setDriverHolds(bool) override {}
    std::optional<DriverProblem> driverProblem() const override { return {}; }
    void setDriverProblem(std::optional<DriverProblem>) override {}
};

void BM_forwardAxes(benchmark::State& state) {
    Folder folder;
    VirtualMainLoop loop;
    UserDefaults settings(folder.path + "/kestrix.json");
    core::Broker::Parts parts;
    auto devices = std::make_unique<QuietDevices>();
    QuietDevices* d = devices.get();
    parts.devices = std::move(devices);
    BrokerPlace place(folder.path + "/home");
    core::Broker broker(loop, 15, place, 10.0, true, settings,
                        BrokerPlace::Newest{15, "/bench", {}}, nullptr, std::move(parts));
    broker.onLeave = [] {};
    broker.start(-1);
    loop.advance(1.0);
    auto holder = connectTo(loop, place.socket().string());
    holder->connection->send(ClientMessage{hello("Holder", Claim{{}, true, {}, {}})});
    std::vector<std::unique_ptr<Client>> listeners;
    for (int i = 0; i < 16; ++i) {
        listeners.push_back(connectTo(loop, place.socket().string()));
        listeners.back()->connection->send(ClientMessage{hello("Listener", std::nullopt)});
    }
    loop.runUntil([&] { return holder->holding == 1; });
    smk::SpaceMouseAxes axes{120, -35, 8, 0, 14, -200};
    long sent = 0;
    for (auto _ : state) {
        d->onAxes("serial:BENCH", axes);
        if (++sent % 64 == 0) {
            state.PauseTiming(); // the holder reads, as a client would, off the clock
            loop.runPending();
            state.ResumeTiming();
        }
    }
    loop.runUntil([&] { return holder->axes == sent; });
    state.SetItemsProcessed(sent);
    state.counters["holder_axes"] = double(holder->axes);
}
BENCHMARK(BM_forwardAxes);

} // namespace
