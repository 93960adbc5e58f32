// A soak of the broker program, not a test: a real `kestrix` process with a simulated SpaceMouse
// reporting at 1 kHz, claimant processes that come and go (each killed with SIGKILL after a while
// and replaced by a new one; every fifth never reads, so the broker must drop it), and a status
// question from a short-lived listener every 50 ms. Reports the broker's resident
// memory (and its anonymous part), open descriptors and threads at the start and at the end, and
// every minute in between.
//
//     BrokerSoak [--seconds N] [--claimants K]      (defaults: 60 s, 6 claimants)
//
// A broker that keeps its figures flat over ten minutes leaks neither memory, descriptors nor
// threads under churn. Exits 1 when the broker died or stopped answering.
#include "KestrixProtocol/LineCoding.h"
#include "KestrixProtocol/Messages.h"
#include "KestrixProtocol/UnixSocket.h"

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <poll.h>
#include <random>
#include <string>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace kestrix;
using Clock = std::chrono::steady_clock;

namespace {

// A SpaceMouse Compact moving at 1 kHz for as long as the soak may run.
constexpr const char* devicesFile = R"({"devices": [
 {"vendorID": 9583, "productID": 50741, "product": "SpaceMouse Compact", "transport": "USB",
  "serialNumber": "SOAK1", "locationID": 1, "interface": 0,
  "reports": [{"at": 0.0, "every": 0.001, "count": 1000000000,
               "bytes": [1, 16, 0, 240, 255, 0, 0, 0, 0, 0, 0, 0, 0]}]}]})";

struct Figures {
    long rssKB = 0;
    long anonymousKB = 0; // the part of it that no file backs: where a leak would show
    int descriptors = 0;
    int threads = 0;
};

Figures figuresOf(pid_t pid) {
    Figures f;
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind("VmRSS:", 0) == 0) f.rssKB = std::atol(line.c_str() + 6);
        if (line.rfind("RssAnon:", 0) == 0) f.anonymousKB = std::atol(line.c_str() + 8);
        if (line.rfind("Threads:", 0) == 0) f.threads = std::atoi(line.c_str() + 8);
    }
    if (DIR* dir = ::opendir(("/proc/" + std::to_string(pid) + "/fd").c_str())) {
        while (dirent* entry = ::readdir(dir))
            if (entry->d_name[0] != '.') ++f.descriptors;
        ::closedir(dir);
    }
    return f;
}

void print(const char* when, double seconds, const Figures& f, long sessions, long answers,
           long unanswered) {
    std::printf("%-6s %5.0f s  RSS %6ld KB (anonymous %6ld KB)  descriptors %3d  threads %2d  "
                "claimant sessions %5ld  status answers %6ld (late %ld)\n",
                when, seconds, f.rssKB, f.anonymousKB, f.descriptors, f.threads, sessions, answers,
                unanswered);
    std::fflush(stdout);
}

void sendAll(int fd, const std::string& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = ::send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
        if (n <= 0) return;
        done += std::size_t(n);
    }
}

// A claimant process: says hello with a background claim, then reads everything (or, as a
// peer that stopped reading, nothing) until it is killed.
[[noreturn]] void claimant(const std::string& socket, long number, bool reads) {
    auto fd = UnixSocket::connect(socket);
    if (!fd) ::_exit(1);
    Hello hello{2, 15, ::getpid(), "soak claimant " + std::to_string(number),
                Claim{{"org.example.soak"}, true, std::nullopt, std::nullopt}};
    sendAll(*fd, LineEncoder::encode(ClientMessage{hello}));
    if (!reads) ::pause();
    char buffer[65536];
    while (::read(*fd, buffer, sizeof buffer) > 0) {
    }
    ::_exit(0);
}

// A listener that asks for the status and waits up to two seconds for the answer.
bool statusAnswered(const std::string& socket) {
    auto fd = UnixSocket::connect(socket);
    if (!fd) return false;
    sendAll(*fd, LineEncoder::encode(ClientMessage{Hello{2, 15, ::getpid(), "soak probe",
                                                         std::nullopt}}) +
                     LineEncoder::encode(ClientMessage{ClientMessage::Status{}}));
    LineDecoder<BrokerMessage> decoder;
    char buffer[65536];
    bool answered = false;
    auto deadline = Clock::now() + std::chrono::seconds(2);
    while (!answered && Clock::now() < deadline) {
        pollfd p{*fd, POLLIN, 0};
        if (::poll(&p, 1, 100) <= 0) continue;
        ssize_t n = ::read(*fd, buffer, sizeof buffer);
        if (n <= 0) break;
        for (const auto& m : decoder.feed(std::string_view(buffer, std::size_t(n))))
            if (m.as<BrokerStatus>()) answered = true;
    }
    ::close(*fd);
    return answered;
}

} // namespace

int main(int argc, char** argv) {
    double seconds = 60;
    int claimants = 6;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--seconds") == 0) seconds = std::atof(argv[i + 1]);
        if (std::strcmp(argv[i], "--claimants") == 0) claimants = std::atoi(argv[i + 1]);
    }
    std::signal(SIGPIPE, SIG_IGN);

    char pattern[] = "/tmp/kestrix-soak-XXXXXX";
    std::string folder = ::mkdtemp(pattern);
    std::string home = folder + "/home";
    ::mkdir(home.c_str(), 0700);
    std::ofstream(folder + "/devices.json") << devicesFile;
    std::string socket = home + "/broker.sock";

    pid_t broker = ::fork();
    if (broker == 0) {
        ::unsetenv("DISPLAY");
        ::unsetenv("WAYLAND_DISPLAY");
        ::setenv("KESTRIX_HOME", home.c_str(), 1);
        ::setenv("XDG_CONFIG_HOME", folder.c_str(), 1);
        ::setenv("KESTRIX_DEVICES", ("sim:" + folder + "/devices.json").c_str(), 1);
        ::setenv("SPNAV_SOCKET", (folder + "/spnav.sock").c_str(), 1);
        int null = ::open("/dev/null", O_RDWR);
        ::dup2(null, 0);
        ::dup2(null, 1);
        ::dup2(null, 2);
        ::execl(KESTRIX_EXECUTABLE, KESTRIX_EXECUTABLE, static_cast<char*>(nullptr));
        ::_exit(127);
    }

    std::mt19937 random(12345);
    std::vector<pid_t> children;
    long sessions = 0, answers = 0, unanswered = 0;
    auto startClaimant = [&] {
        ++sessions;
        bool reads = sessions % 5 != 0;
        pid_t child = ::fork();
        if (child == 0) claimant(socket, sessions, reads);
        children.push_back(child);
    };
    std::vector<pid_t> killed;
    auto reap = [&] {
        std::erase_if(killed, [](pid_t pid) { return ::waitpid(pid, nullptr, WNOHANG) == pid; });
    };

    auto start = Clock::now();
    auto elapsed = [&] { return std::chrono::duration<double>(Clock::now() - start).count(); };
    while (::access(socket.c_str(), F_OK) != 0 && elapsed() < 10)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    for (int i = 0; i < claimants; ++i)
        startClaimant();
    std::this_thread::sleep_for(std::chrono::seconds(2)); // settled: the device runs, all hold on
    Figures first = figuresOf(broker);
    start = Clock::now();
    print("start", 0, first, sessions, answers, unanswered);

    bool healthy = true;
    double lastAnswer = 0;
    double nextReport = 60;
    for (long tick = 0; elapsed() < seconds; ++tick) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        // On a loaded machine an answer may come late now and then; a broker that has died,
        // or has not answered for 30 s, ends the soak.
        if (statusAnswered(socket)) {
            ++answers;
            lastAnswer = elapsed();
        } else {
            ++unanswered;
        }
        if (::waitpid(broker, nullptr, WNOHANG) == broker || elapsed() - lastAnswer > 30) {
            std::printf("the broker died or stopped answering after %.0f s\n", elapsed());
            healthy = false;
            break;
        }
        if (tick % 4 == 0 && !children.empty()) {
            // A claimant killed (the holder as often as not) and a new one in its place.
            std::size_t which = random() % children.size();
            ::kill(children[which], SIGKILL);
            killed.push_back(children[which]);
            children.erase(children.begin() + long(which));
            startClaimant();
        }
        reap();
        if (elapsed() >= nextReport) {
            print("", elapsed(), figuresOf(broker), sessions, answers, unanswered);
            nextReport += 60;
        }
    }
    Figures last = figuresOf(broker);
    print("end", elapsed(), last, sessions, answers, unanswered);

    for (pid_t child : children)
        ::kill(child, SIGKILL);
    ::kill(broker, SIGTERM);
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    ::kill(broker, SIGKILL);
    while (::wait(nullptr) > 0) {
    }
    std::error_code ignored;
    std::filesystem::remove_all(folder, ignored);
    return healthy ? 0 : 1;
}
