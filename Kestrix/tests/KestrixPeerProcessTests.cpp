// A real `kestrix` against other programs of the same account: a client whose process has a root
// folder of its own, with whatever it likes at .flatpak-info.
#include "ProcessSupport.h"
#include "X11TestDesktop.h"

#include <filesystem>
#include <sched.h>

using namespace proc;

namespace {

// A process whose root folder is `root`, as a process in a user namespace of its own has it. It
// runs until this ends.
class RootedProcess {
public:
    explicit RootedProcess(const std::string& root) {
        int ready[2], release[2];
        if (::pipe2(ready, O_CLOEXEC) != 0 || ::pipe2(release, O_CLOEXEC) != 0) return;
        pid_ = ::fork();
        if (pid_ == 0) {
            ::close(ready[0]);
            ::close(release[1]);
            // As another user than root, a user namespace gives the right to change the root.
            if (::getuid() != 0 && ::unshare(CLONE_NEWUSER | CLONE_NEWNS) != 0) ::_exit(1);
            if (::chroot(root.c_str()) != 0) ::_exit(2);
            char byte = 1;
            if (::write(ready[1], &byte, 1) != 1) ::_exit(3);
            // Until the test closes its end.
            ::_exit(::read(release[0], &byte, 1) < 0 ? 4 : 0);
        }
        ::close(ready[1]);
        ::close(release[0]);
        release_ = release[1];
        char byte = 0;
        rooted_ = ::read(ready[0], &byte, 1) == 1;
        ::close(ready[0]);
    }
    ~RootedProcess() {
        ::close(release_);
        if (pid_ > 0) ::waitpid(pid_, nullptr, 0);
    }
    pid_t pid() const { return pid_; }
    bool rooted() const { return rooted_; }

private:
    pid_t pid_ = -1;
    int release_ = -1;
    bool rooted_ = false;
};

} // namespace

// The broker names a client's app by its process: a FIFO or an 8 GiB file at .flatpak-info names
// none, and the broker answers on as before; a small file names the app.
TEST(KestrixPeers, aClientsOwnFlatpakInfoNeverStopsTheBroker) {
    x11test::Xvfb server;
    ASSERT_FALSE(server.display().empty()) << "Xvfb did not start";
    struct Row {
        const char* name;
        std::function<void(const std::string& path)> make;
        std::vector<std::string> appsWithOwnClient;
    };
    const std::string info = "[Application]\nname=org.example.Modeller\n";
    const std::vector<Row> rows = {
        {"a small file", [&](auto& p) { std::ofstream(p) << info; }, {"org.example.Modeller"}},
        {"a FIFO", [](auto& p) { ASSERT_EQ(::mkfifo(p.c_str(), 0600), 0); }, {}},
        {"an 8 GiB sparse file",
         [&](auto& p) {
             std::ofstream(p) << info;
             ASSERT_EQ(::truncate(p.c_str(), off_t(8) << 30), 0);
         },
         {}},
    };
    for (const Row& row : rows) {
        Home home;
        home.devices(R"({"devices": []})");
        std::filesystem::create_directory(home.path + "/root");
        row.make(home.path + "/root/.flatpak-info");
        RootedProcess plugIn(home.path + "/root");
        ASSERT_TRUE(plugIn.rooted()) << row.name;
        proc::Broker broker(home, proc::onDisplay(home, server.display()));
        ASSERT_TRUE(broker.waitListening()) << broker.stderrText();

        VirtualMainLoop loop;
        auto client = connect(loop, home);
        ASSERT_TRUE(client);
        client->send(ClientMessage{Hello{2, 15, plugIn.pid(), "Modeller plug-in",
                                         Claim{{"org.example.Modeller"}, false, {}, {}}}});
        client->send(ClientMessage{ClientMessage::Status{}});
        EXPECT_TRUE(loop.runUntil([&] { return client->count<BrokerStatus>() == 1; }))
            << row.name << ": the status is not answered";
        if (client->count<BrokerStatus>() == 1) {
            EXPECT_EQ(client->all<BrokerStatus>()[0].appsWithOwnClient, row.appsWithOwnClient)
                << row.name;
        }
        auto second = connect(loop, home);
        ASSERT_TRUE(second);
        second->send(ClientMessage{hello("Vantor", background())});
        EXPECT_TRUE(loop.runUntil([&] { return second->count<BrokerMessage::Welcome>() == 1; }))
            << row.name << ": a second client is not welcomed";
        EXPECT_EQ(broker.waitExit(0), std::nullopt) << row.name << ": " << broker.stderrText();
    }
}
