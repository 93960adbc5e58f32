// What one forwarded SpaceMouse report costs, side by side with the cheapest honest pipeline.
//
// Each run measures, in the same run and paced the same way (one six-axis report a millisecond,
// written into a socket by a device process whose own cost is not counted):
// - the anchor: binary_pipe (compiled from shared/bench/binary_pipe.c, found by walking up from
//   the source tree; skipped with a message when absent), CPU per event of its broker and client;
// - the broker's own classes (Broker, Devices, the line connections, the Qt loop) in a process of
//   their own, fed report by report through a socket as hidraw would, with a minimal
//   line-protocol client holding the device: CPU per report, broker plus client;
// - the same broker with a real `vantor` scrolling the app in front of a private X server;
// - latency p50 from writing the report to the client having decoded the axes, against the same
//   measurement of a binary pipeline; also with the broker's loop under Qt's, as when the broker
//   shows its tray icon;
// - the broker's CPU per report with 64 idle listeners beside the holder, over 1 listener (the
//   same broker, with 63 listeners connected between two windows without them);
// - wake-ups a second of a real `kestrix` and `vantor` while the cap rests;
// - for comparison, the real `kestrix` with its simulated SpaceMouse at 1 kHz (a timer inside the
//   broker wakes it for every report) with the minimal client and with vantor, and what one bare
//   1 kHz timer wake-up costs on this machine.
// Prints the median of each figure over the runs and the ratios to the anchor.
//
// Usage: report_path_benchmark [runs (3)] [seconds per figure (4)] [groups (all)]
// groups is a comma-separated choice of minimal, vantor, latency, simulated and rest.
// With QT_NO_GLIB set but empty, the broker and vantor run glib's event dispatcher, as they did
// before they chose Qt's own: the same binaries measure both.
#include "BenchProcesses.h"
#include "FrontApp/FrontApp.h"
#include "KestrixCore/Broker.h"
#include "KestrixCore/BrokerParts.h"
#include "KestrixCore/Devices.h"
#include "KestrixProtocol/LineCoding.h"
#include "KestrixProtocol/Messages.h"
#include "KestrixProtocol/QtMainLoop.h"
#include "KestrixProtocol/UnixSocket.h"
#include "KestrixProtocol/UserDefaults.h"
#include "X11TestDesktop.h"

#include <QCoreApplication>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <optional>
#include <poll.h>
#include <string>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/timerfd.h>
#include <sys/wait.h>
#include <thread>
#include <time.h>
#include <unistd.h>
#include <vector>

using namespace kestrix;
using namespace bench;
namespace fs = std::filesystem;

namespace {

constexpr double rate = 1000.0; // reports a second
// A translation report that carries all six axes: each one completes a sample.
constexpr std::uint8_t report[13] = {1, 120, 0, 216, 255, 0, 0, 0, 0, 0, 0, 7, 0};

// What the simulated device sends: the report, or nothing (a resting cap).
std::vector<std::uint8_t> deviceReport(bool moving) {
    return moving ? std::vector<std::uint8_t>(std::begin(report), std::end(report))
                  : std::vector<std::uint8_t>();
}

void writeDevices(const Folder& folder, bool moving) {
    bench::writeDevices(folder, deviceReport(moving));
}

void writeLine(int fd, const ClientMessage& message) {
    std::string line = LineEncoder::encode(message);
    [[maybe_unused]] auto written = ::write(fd, line.data(), line.size());
}

Hello hello(const std::string& name, std::optional<Claim> claim) {
    return Hello{2, 15, static_cast<std::int32_t>(::getpid()), name, std::move(claim)};
}

// The minimal line-protocol client: blocking reads, the protocol's decoder, a count of the axes.
[[noreturn]] void minimalClient(int fd, std::atomic<long>* axes) {
    writeLine(fd, ClientMessage{hello("Holder", Claim{{}, true})});
    LineDecoder<BrokerMessage> decoder;
    char buffer[4096];
    for (;;) {
        ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n <= 0) ::_exit(0);
        decoder.feed({buffer, std::size_t(n)}, [axes](const BrokerMessage& message) {
            if (message.as<BrokerMessage::Axes>()) axes->fetch_add(1, std::memory_order_relaxed);
        });
    }
}

// Idle listeners: connected, introduced, never reading after that (nothing comes but lists).
std::vector<int> listeners(const std::string& socket, int count) {
    std::vector<int> fds;
    for (int i = 0; i < count; ++i)
        if (auto fd = UnixSocket::connect(socket)) {
            writeLine(*fd, ClientMessage{hello("Listener", std::nullopt)});
            fds.push_back(*fd);
        }
    return fds;
}

struct BrokerFigures {
    double brokerPerReport = 0; // µs
    double clientPerReport = 0; // µs
    double forwardedPerSecond = 0;
};

// The broker with a minimal holder and `listenerCount` idle listeners, for `seconds`.
std::optional<BrokerFigures> brokerWithMinimalClient(int listenerCount, double seconds) {
    Folder folder;
    writeDevices(folder, true);
    auto broker = startBroker(folder);
    std::string socket = folder.path + "/home/broker.sock";
    auto fd = connectWithin(socket, 10.0);
    if (!fd) return std::nullopt;
    auto* axes = static_cast<std::atomic<long>*>(::mmap(nullptr, sizeof(std::atomic<long>),
                                                        PROT_READ | PROT_WRITE,
                                                        MAP_SHARED | MAP_ANONYMOUS, -1, 0));
    new (axes) std::atomic<long>(0);
    std::vector<int> idle = listeners(socket, listenerCount);
    std::optional<BrokerFigures> figures;
    {
        Child client([&] { minimalClient(*fd, axes); });
        ::close(*fd);
        double until = monotonic() + 10.0;
        while (axes->load() < 200 && monotonic() < until)
            sleepFor(0.01);
        if (axes->load() >= 200) {
            double b0 = cpuSeconds(broker->pid), c0 = cpuSeconds(client.pid);
            long a0 = axes->load();
            sleepFor(seconds);
            double b1 = cpuSeconds(broker->pid), c1 = cpuSeconds(client.pid);
            long forwarded = axes->load() - a0;
            if (forwarded > 0)
                figures =
                    BrokerFigures{(b1 - b0) * 1e6 / double(forwarded),
                                  (c1 - c0) * 1e6 / double(forwarded), double(forwarded) / seconds};
        }
    }
    for (int l : idle)
        ::close(l);
    ::munmap(axes, sizeof(std::atomic<long>));
    return figures;
}

struct VantorFigures {
    double perReport = 0;     // µs, broker plus vantor
    double brokerWakeups = 0; // a second, at rest
    double vantorWakeups = 0;
};

// Broker and vantor scrolling the app in front (moving), or with a resting cap (wake-ups).
std::optional<VantorFigures> brokerWithVantor(double seconds, bool moving) {
    EditorInFront scene(deviceReport(moving), R"({"allowed_apps": "org.example.Editor"})");
    if (!scene.up) return std::nullopt;
    if (!scene.vantorTakesTheDevice()) {
        std::fprintf(stderr, "vantor did not take the device\n");
        return std::nullopt;
    }
    const auto& broker = scene.broker;
    const auto& vantor = scene.vantor;
    std::string events = scene.events();
    if (moving) {
        within(10.0, [&] { return sizeOf(events) >= 4096; });
        double b0 = cpuSeconds(broker->pid), v0 = cpuSeconds(vantor->pid);
        double t0 = monotonic();
        sleepFor(seconds);
        double b1 = cpuSeconds(broker->pid), v1 = cpuSeconds(vantor->pid);
        double reports = (monotonic() - t0) * rate;
        return VantorFigures{(b1 - b0 + v1 - v0) * 1e6 / reports, 0, 0};
    }
    sleepFor(1.0); // settle
    long b0 = switches(broker->pid), v0 = switches(vantor->pid);
    double t0 = monotonic();
    sleepFor(seconds);
    double span = monotonic() - t0;
    return VantorFigures{0, double(switches(broker->pid) - b0) / span,
                         double(switches(vantor->pid) - v0) / span};
}

// MARK: latency

// A HID backend with one SpaceMouse whose input reports arrive on a datagram socket, one report
// per read, as a hidraw node hands them out.
class SocketBackend final : public core::HIDBackend {
public:
    SocketBackend(MainLoop& loop, int fd)
        : loop_(loop)
        , fd_(fd) {}
    void start(KeyHandler appeared, KeyHandler) override {
        loop_.post([appeared] { appeared(1); });
    }
    void stop() override {}
    bool exists(core::DeviceKey key) const override { return key == 1; }
    std::optional<core::PropertyValue> property(core::DeviceKey,
                                                const std::string& name) const override {
        static const std::map<std::string, core::PropertyValue> properties{
            {core::property::vendorID, std::int64_t(9583)},
            {core::property::productID, std::int64_t(50741)},
            {core::property::product, std::string("SpaceMouse Compact")},
            {core::property::transport, std::string("USB")},
            {core::property::serialNumber, std::string("BENCH")},
            {core::property::locationID, std::int64_t(1)}};
        auto it = properties.find(name);
        if (it == properties.end()) return std::nullopt;
        return it->second;
    }
    std::optional<core::PropertyValue> searchProperty(core::DeviceKey,
                                                      const std::string&) const override {
        return std::nullopt;
    }
    std::shared_ptr<core::HIDHandle> makeHandle(core::DeviceKey) override {
        return std::make_shared<Handle>(loop_, fd_);
    }
    std::optional<std::vector<std::uint8_t>>
    getFeatureOverControlPipe(std::uint32_t, std::uint16_t, std::uint8_t, std::uint16_t) override {
        return std::nullopt;
    }

private:
    class Handle final : public core::HIDHandle {
    public:
        Handle(MainLoop& loop, int fd)
            : loop_(loop)
            , fd_(fd) {}
        std::optional<core::PropertyValue> property(const std::string&) const override {
            return std::nullopt;
        }
        void setInputHandler(std::uint8_t* buffer, std::size_t size,
                             InputHandler handler) override {
            buffer_ = buffer;
            size_ = size;
            handler_ = std::move(handler);
        }
        core::HIDResult open(bool) override { return core::hidSuccess; }
        void activate() override {
            watch_ = loop_.watchFrequentReadable(fd_, [this] {
                ssize_t n = ::read(fd_, buffer_, size_);
                if (n > 0) handler_(buffer_, std::size_t(n));
            });
        }
        void close() override { watch_.reset(); }
        void cancel() override { watch_.reset(); }
        core::HIDResult getFeature(std::uint8_t, std::uint8_t*, std::size_t&) override {
            return EPIPE;
        }
        core::HIDResult setOutputReport(std::uint8_t, const std::uint8_t*, std::size_t) override {
            return core::hidSuccess;
        }

    private:
        MainLoop& loop_;
        int fd_;
        std::uint8_t* buffer_ = nullptr;
        std::size_t size_ = 0;
        InputHandler handler_;
        std::unique_ptr<Watch> watch_;
    };

    MainLoop& loop_;
    int fd_;
};

// The broker's own classes as the program puts them together, with the socket backend; runs
// until killed. Its loop runs on its own, as the program's does while it shows no tray icon, or
// under Qt's event loop, as once it does (`underQt`).
[[noreturn]] void socketBroker(const Folder& folder, int device, const std::string& display,
                               bool underQt = false) {
    quiet();
    folder.enter(display);
    int argc = 1;
    char name[] = "kestrix";
    char* argv[] = {name, nullptr};
    std::unique_ptr<QCoreApplication> app;
    if (underQt) {
        QtDispatcherChoice qtDispatcher; // as the program does
        app = std::make_unique<QCoreApplication>(argc, argv);
    }
    QtMainLoop loop(underQt ? QtMainLoop::Drive::qt : QtMainLoop::Drive::own);
    UserDefaults settings(folder.path + "/config/kestrix.json");
    settings.watch(loop);
    core::Broker::Parts parts;
    parts.devices = std::make_unique<core::DevicesAdapter>(
        std::make_unique<core::Devices>(loop, std::make_unique<SocketBackend>(loop, device)));
    if (!display.empty()) parts.frontApp = core::makeFrontApp(loop, nullptr);
    BrokerPlace place(folder.path + "/home");
    core::Broker broker(loop, 15, place, 3600.0, true, settings,
                        BrokerPlace::Newest{15, "/bench", {}}, nullptr, std::move(parts));
    broker.onLeave = [] { ::_exit(0); };
    broker.start(-1);
    if (app)
        app->exec();
    else
        loop.run();
    ::_exit(0);
}

// Writes `count` reports at 1 kHz on an absolute grid, as the anchor's device does. False when a
// report could not be written within a second (nobody reads the device any more, the broker
// stalls) or the socket failed: the caller gives up on the figure instead of waiting for ever.
bool pace(int device, long count) {
    timespec next{};
    ::clock_gettime(CLOCK_MONOTONIC, &next);
    for (long i = 0; i < count; ++i) {
        next.tv_nsec += long(1e9 / rate);
        if (next.tv_nsec >= 1000000000L) {
            next.tv_nsec -= 1000000000L;
            next.tv_sec += 1;
        }
        ::clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &next, nullptr);
        pollfd writable{device, POLLOUT, 0};
        if (::poll(&writable, 1, 1000) != 1 || !(writable.revents & POLLOUT)) return false;
        if (::send(device, report, sizeof report, MSG_DONTWAIT) != sizeof report) return false;
    }
    return true;
}

struct SocketFedFigures {
    double perReport = 0;       // µs, broker plus client
    double brokerPerReport = 0; // µs
    double listenersAdded = 0;  // µs of broker CPU a report that 63 more idle listeners add
};

// The broker's classes fed report by report through a socket from this process (whose cost, as
// the anchor's device's, is not counted), with a minimal holder or vantor, and idle listeners.
std::optional<SocketFedFigures> socketFed(bool withVantor, int listenerCount, double seconds) {
    std::unique_ptr<x11test::Xvfb> server;
    std::unique_ptr<x11test::FakeDesktop> desktop;
    std::unique_ptr<FakeTray> tray;
    if (withVantor) {
        server = std::make_unique<x11test::Xvfb>();
        if (server->display().empty()) return std::nullopt;
        desktop = std::make_unique<x11test::FakeDesktop>(server->display());
        tray = std::make_unique<FakeTray>(server->display());
        desktop->activate(desktop->window(999999, "org.example.Editor"));
    }
    std::string display = server ? server->display() : std::string();
    Folder folder;
    std::ofstream(folder.path + "/config/me.orvella.Vantor.json")
        << R"({"allowed_apps": "org.example.Editor"})";
    int device[2];
    ::socketpair(AF_UNIX, SOCK_SEQPACKET, 0, device);
    Child broker([&] {
        ::close(device[0]);
        socketBroker(folder, device[1], display);
    });
    ::close(device[1]);
    std::string socket = folder.path + "/home/broker.sock";
    auto fd = connectWithin(socket, 10.0);
    if (!fd) return std::nullopt;
    std::vector<int> idle = listeners(socket, listenerCount);
    auto* axes = static_cast<std::atomic<long>*>(::mmap(nullptr, sizeof(std::atomic<long>),
                                                        PROT_READ | PROT_WRITE,
                                                        MAP_SHARED | MAP_ANONYMOUS, -1, 0));
    new (axes) std::atomic<long>(0);
    std::unique_ptr<Child> client;
    if (withVantor) {
        ::close(*fd);
        client = startVantor(folder, display);
    } else {
        client = std::make_unique<Child>([&] { minimalClient(*fd, axes); });
        ::close(*fd);
    }
    // Until the client holds the device and the reports flow; a client that ended (a vantor
    // that found another one running, say) or a device nobody reads ends the wait.
    auto ready = [&] {
        if (!withVantor) return axes->load() >= 200;
        return vantorHolds(folder) && sizeOf(folder.path + "/events.jsonl") >= 4096;
    };
    double until = monotonic() + 15.0;
    bool flowing = true;
    while (!ready() && monotonic() < until && (flowing = client->alive() && broker.alive()))
        flowing = pace(device[0], 50);
    if (!flowing) std::fprintf(stderr, "the client or the broker ended, or stopped reading\n");
    std::optional<SocketFedFigures> figures;
    // CPU per report of broker and client over one paced window.
    auto window = [&](long count) {
        long a0 = axes->load();
        double b0 = cpuSeconds(broker.pid), c0 = cpuSeconds(client->pid);
        if (!pace(device[0], count)) flowing = false;
        double until = monotonic() + 1.0;
        while (!withVantor && axes->load() - a0 < count && monotonic() < until)
            sleepFor(0.001);
        sleepFor(0.01);
        double b1 = cpuSeconds(broker.pid), c1 = cpuSeconds(client->pid);
        return std::pair((b1 - b0) * 1e6 / double(count), (c1 - c0) * 1e6 / double(count));
    };
    if (flowing && ready()) {
        long count = long(seconds * rate);
        auto [broker1, client1] = window(count);
        figures = SocketFedFigures{broker1 + client1, broker1, 0};
        if (!withVantor) {
            // The same broker with 63 more idle listeners, between two windows without them.
            std::vector<int> more = listeners(socket, 63);
            sleepFor(0.2);
            double with = window(count).first;
            for (int l : more)
                ::close(l);
            sleepFor(0.2);
            double without = window(count).first;
            figures->listenersAdded = with - (broker1 + without) / 2;
        }
        if (!flowing) figures.reset();
    }
    client.reset();
    for (int l : idle)
        ::close(l);
    ::close(device[0]);
    ::munmap(axes, sizeof(std::atomic<long>));
    return figures;
}

double threadCPU() {
    rusage usage{};
    ::getrusage(RUSAGE_THREAD, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// CPU of one wake-up by a 1 kHz timerfd, in µs: what a device simulated on a timer inside the
// broker costs before the broker does anything with its report.
double timerWake(double seconds) {
    int fd = ::timerfd_create(CLOCK_MONOTONIC, TFD_CLOEXEC);
    itimerspec every{{0, long(1e9 / rate)}, {0, long(1e9 / rate)}};
    ::timerfd_settime(fd, 0, &every, nullptr);
    long count = long(seconds * rate);
    double c0 = threadCPU();
    for (long i = 0; i < count; ++i) {
        pollfd p{fd, POLLIN, 0};
        ::poll(&p, 1, -1);
        std::uint64_t expirations;
        [[maybe_unused]] auto n = ::read(fd, &expirations, sizeof expirations);
    }
    double cpu = threadCPU() - c0;
    ::close(fd);
    return cpu * 1e6 / double(count);
}

// Paces `count` reports at 1 kHz: write one to `device`, wait until `received` says the client
// has it; the p50 of the spans.
double pacedLatency(int device, int count, const std::function<void()>& received) {
    std::vector<double> spans;
    double next = monotonic();
    for (int i = 0; i < count; ++i) {
        next += 1.0 / rate;
        double t0 = monotonic();
        if (::send(device, report, sizeof report, MSG_DONTWAIT) != sizeof report) break;
        received();
        spans.push_back((monotonic() - t0) * 1e6);
        double wait = next - monotonic();
        if (wait > 0) sleepFor(wait);
    }
    return median(spans);
}

// Report to decoded axes through the broker's classes; p50 in µs.
std::optional<double> brokerLatency(int count, bool underQt) {
    Folder folder;
    int device[2];
    ::socketpair(AF_UNIX, SOCK_SEQPACKET, 0, device);
    Child broker([&] {
        ::close(device[0]);
        socketBroker(folder, device[1], {}, underQt);
    });
    ::close(device[1]);
    auto fd = connectWithin(folder.path + "/home/broker.sock", 10.0);
    std::optional<double> p50;
    if (fd) {
        writeLine(*fd, ClientMessage{hello("Holder", Claim{{}, true})});
        LineDecoder<BrokerMessage> decoder;
        char buffer[4096];
        bool holding = false;
        auto readAxes = [&](double timeout) {
            double until = monotonic() + timeout;
            for (;;) {
                ssize_t n = ::recv(*fd, buffer, sizeof buffer, MSG_DONTWAIT);
                if (n > 0) {
                    bool axes = false;
                    decoder.feed({buffer, std::size_t(n)}, [&](const BrokerMessage& m) {
                        if (auto* h = m.as<BrokerMessage::Holding>()) holding = h->holding;
                        if (m.as<BrokerMessage::Axes>()) axes = true;
                    });
                    if (axes) return true;
                } else if (n == 0 || monotonic() > until) {
                    return false;
                }
            }
        };
        // Until the broker holds the device for this client and forwards.
        double until = monotonic() + 10.0;
        bool flowing = false;
        while (!flowing && monotonic() < until) {
            [[maybe_unused]] auto w = ::send(device[0], report, sizeof report, MSG_DONTWAIT);
            flowing = readAxes(0.05) && holding;
        }
        if (flowing) p50 = pacedLatency(device[0], count, [&] { readAxes(1.0); });
        ::close(*fd);
    }
    ::close(device[0]);
    return p50;
}

// The same measurement through a binary pipeline: one 32-byte event per report.
double binaryLatency(int count) {
    int device[2], link[2];
    ::socketpair(AF_UNIX, SOCK_SEQPACKET, 0, device);
    ::socketpair(AF_UNIX, SOCK_STREAM, 0, link);
    Child broker([&] {
        ::close(device[0]);
        ::close(link[1]);
        std::uint8_t bytes[64];
        for (;;) {
            ssize_t n = ::read(device[1], bytes, sizeof bytes);
            if (n < 13) ::_exit(0);
            std::int32_t event[8] = {0};
            for (int a = 0; a < 6; ++a)
                event[1 + a] = std::int16_t(bytes[1 + 2 * a] | bytes[2 + 2 * a] << 8);
            event[7] = 8;
            if (::write(link[0], event, sizeof event) != sizeof event) ::_exit(0);
        }
    });
    ::close(device[1]);
    ::close(link[0]);
    double p50 = pacedLatency(device[0], count, [&] {
        std::int32_t event[8];
        std::size_t have = 0;
        while (have < sizeof event) {
            ssize_t n = ::read(link[1], reinterpret_cast<char*>(event) + have, sizeof event - have);
            if (n <= 0) return;
            have += std::size_t(n);
        }
    });
    ::close(device[0]);
    ::close(link[1]);
    return p50;
}

// MARK: the anchor

std::optional<std::string> binaryPipeSource() {
    for (fs::path dir = VANTOR_SOURCE_DIR; !dir.empty(); dir = dir.parent_path()) {
        fs::path candidate = dir / "shared" / "bench" / "binary_pipe.c";
        if (fs::exists(candidate)) return candidate.string();
        if (dir == dir.parent_path()) break;
    }
    return std::nullopt;
}

std::optional<std::string> buildBinaryPipe(const std::string& source, const std::string& folder) {
    std::string program = folder + "/binary_pipe";
    std::string command = "cc -O2 -o '" + program + "' '" + source + "'";
    if (std::system(command.c_str()) != 0) return std::nullopt;
    return program;
}

std::optional<double> binaryPipe(const std::string& program, double seconds) {
    std::string command = "'" + program + "' " + std::to_string(long(seconds * rate)) + " " +
                          std::to_string(long(rate));
    FILE* out = ::popen(command.c_str(), "r");
    if (!out) return std::nullopt;
    char line[256] = {};
    std::optional<double> value;
    while (std::fgets(line, sizeof line, out))
        if (const char* at = std::strstr(line, "CPU ")) value = std::atof(at + 4);
    ::pclose(out);
    return value;
}

struct Run {
    std::map<std::string, double> figures;
};

} // namespace

int main(int argc, char** argv) {
    const BenchOptions options(argc, argv);
    std::signal(SIGPIPE, SIG_IGN);

    auto source = binaryPipeSource();
    Folder tools;
    std::optional<std::string> pipe;
    if (!source)
        std::printf("binary_pipe.c not found above %s: the anchor is skipped\n", VANTOR_SOURCE_DIR);
    else if (!(pipe = buildBinaryPipe(*source, tools.path)))
        std::printf("binary_pipe.c did not compile: the anchor is skipped\n");

    Figures figures;
    auto add = [&](const std::string& name, std::optional<double> value) {
        figures.add(name, value);
    };
    const int samples = int(options.seconds * rate);
    for (int run = 1; run <= options.runs; ++run) {
        std::fprintf(stderr, "run %d of %d\n", run, options.runs);
        if (options.chosen("minimal")) {
            if (pipe) add("anchor minimal", binaryPipe(*pipe, options.seconds));
            if (auto f = socketFed(false, 1, options.seconds)) {
                add("minimal", f->perReport);
                add("minimal broker", f->brokerPerReport);
                add("listeners added", f->listenersAdded);
            }
        }
        if (options.chosen("vantor")) {
            if (pipe) add("anchor vantor", binaryPipe(*pipe, options.seconds));
            if (auto f = socketFed(true, 0, options.seconds)) add("vantor", f->perReport);
        }
        if (options.chosen("latency")) {
            add("latency", brokerLatency(samples, false));
            add("anchor latency", binaryLatency(samples));
            add("latency under Qt", brokerLatency(samples, true));
        }
        if (options.chosen("simulated")) {
            if (auto f = brokerWithMinimalClient(1, options.seconds)) {
                add("simulated minimal", f->brokerPerReport + f->clientPerReport);
                add("simulated minimal broker", f->brokerPerReport);
                add("simulated minimal client", f->clientPerReport);
                add("forwarded per s", f->forwardedPerSecond);
            }
            if (auto f = brokerWithVantor(options.seconds, true))
                add("simulated vantor", f->perReport);
            add("timer wake", timerWake(options.seconds));
        }
        if (options.chosen("rest")) {
            if (auto f = brokerWithVantor(options.seconds, false)) {
                add("broker wakeups", f->brokerWakeups);
                add("vantor wakeups", f->vantorWakeups);
            }
        }
    }

    auto m = [&](const std::string& name) { return figures.median(name); };
    auto text = [](std::optional<double> v, const char* unit) {
        char buffer[64];
        if (!v) return std::string("-");
        std::snprintf(buffer, sizeof buffer, "%.1f%s", *v, unit);
        return std::string(buffer);
    };
    auto ratio = [](std::optional<double> a, std::optional<double> b) {
        char buffer[32];
        if (!a || !b || *b <= 0) return std::string("-");
        std::snprintf(buffer, sizeof buffer, "%.2f", *a / *b);
        return std::string(buffer);
    };
    std::printf("\nmedians of %d runs, %.1f s a figure, simulated SpaceMouse at %.0f Hz\n",
                options.runs, options.seconds, rate);
    std::printf("| figure | ours | anchor | ratio | goal |\n|---|---|---|---|---|\n");
    std::printf(
        "| broker + a minimal line-protocol client, CPU per report | %s | %s | %s | <= 1.3 |\n",
        text(m("minimal"), " us").c_str(), text(m("anchor minimal"), " us").c_str(),
        ratio(m("minimal"), m("anchor minimal")).c_str());
    std::printf("| broker + vantor scrolling, CPU per report | %s | %s | %s | <= 1.8 |\n",
                text(m("vantor"), " us").c_str(), text(m("anchor vantor"), " us").c_str(),
                ratio(m("vantor"), m("anchor vantor")).c_str());
    std::printf("| latency p50, report -> client has decoded the axes | %s | %s | %s | <= 1.5 |\n",
                text(m("latency"), " us").c_str(), text(m("anchor latency"), " us").c_str(),
                ratio(m("latency"), m("anchor latency")).c_str());
    std::printf("| the same, the broker's loop under Qt's (tray icon shown) | %s | %s | %s | |\n",
                text(m("latency under Qt"), " us").c_str(),
                text(m("anchor latency"), " us").c_str(),
                ratio(m("latency under Qt"), m("anchor latency")).c_str());
    std::optional<double> added = m("listeners added");
    std::printf(
        "| 64 idle listeners, broker CPU added per report over 1 listener | %s | | | <= 2 us |\n",
        text(added, " us").c_str());
    std::printf("| wake-ups a second at rest (broker, vantor) | %s, %s | | | stays 0 |\n",
                text(m("broker wakeups"), "").c_str(), text(m("vantor wakeups"), "").c_str());
    std::printf("\nThe rows above feed the broker's classes report by report through a socket, "
                "from a device outside the\nprocesses measured, as the anchor's device is. The "
                "real kestrix with its simulated device, whose\ntimer wakes the broker for every "
                "report:\n");
    std::printf("  broker + minimal client %s (broker %s, client %s, %s reports a second), "
                "broker + vantor %s;\n  a bare 1 kHz timerfd wake-up alone costs %s\n",
                text(m("simulated minimal"), " us").c_str(),
                text(m("simulated minimal broker"), " us").c_str(),
                text(m("simulated minimal client"), " us").c_str(),
                text(m("forwarded per s"), "").c_str(), text(m("simulated vantor"), " us").c_str(),
                text(m("timer wake"), " us").c_str());
    return 0;
}
