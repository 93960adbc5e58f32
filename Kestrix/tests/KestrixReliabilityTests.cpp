// The broker program against a vanished socket file, a full disk and clients that send what
// they like.
#include "ProcessSupport.h"

#include <sys/resource.h>

using namespace proc;

TEST(KestrixReliability, clientTextIsLoggedOnOneLineAndCutShortAndARemovedSocketComesBack) {
    Home home;
    home.devices(R"({"devices": []})");
    proc::Broker broker(home);
    ASSERT_TRUE(broker.waitListening()) << broker.stderrText();
    std::size_t before = home.log().size();
    VirtualMainLoop loop;
    auto client = connect(loop, home);
    ASSERT_TRUE(client);
    std::string name = "Vantor\n2020-01-01 00:00:00.000 [1] forged" + std::string(900000, 'n');
    client->send(ClientMessage{hello(name, Claim{{"a\nb", std::string(5000, 'p')}, true})});
    ASSERT_TRUE(loop.runUntil([&] { return client->count<BrokerMessage::Holding>() == 1; }));

    std::string socket = home.place().socket().string();
    ASSERT_EQ(::unlink(socket.c_str()), 0);
    ASSERT_TRUE(
        waitInFolder(home.path + "/home", [&] { return ::access(socket.c_str(), F_OK) == 0; }));
    auto late = connect(loop, home);
    ASSERT_TRUE(late);
    late->send(ClientMessage{hello("Later", std::nullopt)});
    ASSERT_TRUE(loop.runUntil([&] { return late->count<BrokerMessage::Welcome>() == 1; }));
    EXPECT_TRUE(contains(home.log(), "was gone or replaced: listening again"));
    EXPECT_FALSE(client->closed);

    client.reset();
    ASSERT_TRUE(waitInFolder(home.path + "/home", [&] { return contains(home.log(), " left"); }));
    std::string log = home.log();
    EXPECT_LT(log.size() - before, 4000u);
    EXPECT_FALSE(contains(log, "\n2020-01-01"));
    EXPECT_TRUE(contains(log, "Vantor\\n2020-01-01 00:00:00.000 [1] forged"));
    EXPECT_TRUE(contains(log, "claims a\\nb, ppp"));
}

TEST(KestrixReliability, onAFullDiskFailuresToWriteTheLogAndTheRecordAreToldOnce) {
    Home home;
    home.devices(R"({"devices": []})");
    // No file may grow: every write fails as on a full disk. Standard error is a pipe, which
    // still takes what the broker tells.
    int err[2];
    ASSERT_EQ(::pipe2(err, O_CLOEXEC), 0);
    proc::Broker broker(home, {{"KESTRIX_LOG_STDERR", "0"}}, [&] {
        ::dup2(err[1], 2);
        ::signal(SIGXFSZ, SIG_IGN);
        rlimit none{0, 0};
        ::setrlimit(RLIMIT_FSIZE, &none);
    });
    ::close(err[1]);
    std::string socket = home.place().socket().string();
    ASSERT_TRUE(
        waitInFolder(home.path + "/home", [&] { return ::access(socket.c_str(), F_OK) == 0; }));
    VirtualMainLoop loop;
    auto client = connect(loop, home);
    ASSERT_TRUE(client);
    client->send(ClientMessage{hello("Vantor", background())});
    ASSERT_TRUE(loop.runUntil([&] { return client->count<BrokerMessage::Holding>() == 1; }));
    broker.kill();
    std::string told = readFile("/proc/self/fd/" + std::to_string(err[0])); // to its end
    ::close(err[0]);
    // Each said once: the first says that further failures are not told.
    for (std::string part : {"cannot write to " + home.place().log().string(),
                             std::string("cannot record the newest broker in ")}) {
        auto first = told.find(part);
        EXPECT_NE(first, std::string::npos) << told;
        EXPECT_EQ(told.find(part, first + 1), std::string::npos) << told;
    }
}
