// Real `kestrix` processes: what a client sees, the election between programs, the app in front
// on a real X server, the command line, and the program against a vanished socket file, a full
// disk and clients that send what they like.
#include "ProcessSupport.h"
#include "X11TestDesktop.h"

#include <filesystem>
#include <functional>
#include <grp.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/resource.h>

using namespace proc;
// Who holds and who gets what is the broker's own unit tests' matter; here the built program
// serves the simulated devices its environment names, and runs on without the display it cannot
// reach.
TEST(KestrixProcess, helloIsAnsweredAndTheHolderGetsTheSimulatedAxesAndRawReportsWithoutADisplay) {
    Home home;
    home.devices(movingDevices);
    std::ofstream(home.path + "/config/kestrix.json") << R"({"showsMenuBarItem": true})";
    proc::Broker broker(home, {{"DISPLAY", ":4093"}});
    ASSERT_TRUE(broker.waitListening()) << broker.stderrText();
    VirtualMainLoop loop;
    auto holder = connect(loop, home);
    ASSERT_TRUE(holder);
    holder->send(ClientMessage{hello("Holder", background(true))});
    holder->send(ClientMessage{ClientMessage::Status{}});
    ASSERT_TRUE(loop.runUntil([&] {
        return holder->count<BrokerMessage::Axes>() >= 20 &&
               holder->count<BrokerMessage::Report>() >= 20;
    }));
    EXPECT_EQ(holder->got[0], (BrokerMessage{BrokerMessage::Welcome{15, 2}}));
    EXPECT_EQ(holder->all<BrokerMessage::Axes>().back().device, "serial:ABC123");
    EXPECT_EQ(holder->all<BrokerStatus>().at(0).processID, broker.pid());
    EXPECT_TRUE(contains(home.log(), "menu bar item not shown: no display (showsMenuBarItem)"));
    EXPECT_TRUE(contains(broker.stderrText(), "kestrix: menu bar item not shown: no display"));
}

// A broker killed leaves its lock and socket to the next; a second of the same version stays
// away; a newer one takes over and the old one leaves.
TEST(KestrixProcess, theElectionBetweenBrokerPrograms) {
    Home home;
    home.devices(R"({"devices": []})");
    {
        proc::Broker crashed(home);
        ASSERT_TRUE(crashed.waitListening()) << crashed.stderrText();
        crashed.kill();
    }
    ASSERT_TRUE(std::filesystem::exists(home.place().socket())); // left behind
    proc::Broker first(home);
    ASSERT_TRUE(first.waitListening()) << first.stderrText();
    VirtualMainLoop loop;
    auto client = connect(loop, home);
    client->send(ClientMessage{hello("Vantor", background())});
    ASSERT_TRUE(loop.runUntil([&] { return client->count<BrokerMessage::Holding>() == 1; }));

    proc::Broker same(home, {{"KESTRIX_TEST_VERSION", "99x"}}); // not a number: runs as v15
    EXPECT_EQ(same.waitExit(10), 0);
    EXPECT_TRUE(contains(home.log(), "[" + std::to_string(same.pid()) +
                                         "] Kestrix v15 runs and stays (this is v15, "));

    proc::Broker newer(home, {{"KESTRIX_TEST_VERSION", "16"}});
    EXPECT_EQ(first.waitExit(10), 0);
    ASSERT_TRUE(newer.waitListening()) << newer.stderrText();
    std::string log = home.log();
    EXPECT_TRUE(contains(log, "[" + std::to_string(first.pid()) + "] handing over to v16"));
    EXPECT_FALSE(contains(log, "menu bar item")); // not asked for
    ASSERT_TRUE(loop.runUntil([&] { return client->closed; }));
    EXPECT_EQ(home.place().readNewest()->version, 16);
    auto again = connect(loop, home);
    ASSERT_TRUE(again);
    again->send(ClientMessage{ClientMessage::Status{}});
    ASSERT_TRUE(loop.runUntil([&] { return again->count<BrokerStatus>() == 1; }));
    EXPECT_EQ(again->all<BrokerStatus>()[0].version, 16);
}

// How a broker ends, told in its log: a start that cannot listen fails with status 1; kill, a
// closed terminal and Ctrl-C end it as an idle exit does, its socket file gone, its lock free and
// its holder's link closed.
TEST(KestrixProcess, eachEndIsLoggedAndOnlyAFailedStartEndsWithAFailure) {
    struct Row {
        int signal; // 0: the broker folder's socket path is too long to listen at
        const char* says;
        int status;
    } rows[] = {{0, "] cannot listen: path too long", 1},
                {SIGTERM, "] SIGTERM received, leaving", 0},
                {SIGHUP, "] SIGHUP received, leaving", 0},
                {SIGINT, "] SIGINT received, leaving", 0}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.says);
        Home home;
        home.devices(R"({"devices": []})");
        if (!row.signal) {
            const std::string folder = home.path + "/" + std::string(120, 'k');
            proc::Broker broker(home, {{"KESTRIX_HOME", folder}});
            EXPECT_EQ(broker.waitExit(10), row.status);
            EXPECT_TRUE(contains(readFile(folder + "/broker.log"), row.says))
                << broker.stderrText();
            continue;
        }
        proc::Broker broker(home);
        ASSERT_TRUE(broker.waitListening()) << broker.stderrText();
        VirtualMainLoop loop;
        auto holder = connect(loop, home);
        ASSERT_TRUE(holder);
        holder->send(ClientMessage{hello("Vantor", background())});
        ASSERT_TRUE(loop.runUntil([&] { return holder->count<BrokerMessage::Holding>() == 1; }));
        broker.signal(row.signal);
        EXPECT_EQ(broker.waitExit(10), row.status);
        EXPECT_TRUE(contains(home.log(), "[" + std::to_string(broker.pid()) + row.says))
            << home.log();
        EXPECT_FALSE(std::filesystem::exists(home.place().socket()));
        int lock = ::open(home.place().lock().c_str(), O_RDWR | O_CLOEXEC);
        EXPECT_EQ(::flock(lock, LOCK_EX | LOCK_NB), 0);
        ::close(lock);
        EXPECT_TRUE(loop.runUntil([&] { return holder->closed; }));
    }
}

TEST(KestrixDesktop, theClaimantOfTheAppInFrontHoldsTheDevice) {
    x11test::Xvfb server;
    ASSERT_FALSE(server.display().empty()) << "Xvfb did not start";
    Home home;
    home.devices(R"({"devices": []})");
    // The tray icon hands the broker's loop to Qt's: the device goes on being handed out.
    std::ofstream(home.path + "/config/kestrix.json") << R"({"showsMenuBarItem": true})";
    x11test::FakeDesktop desktop(server.display());
    // Process ids that no process has: the apps are known by their window class.
    xcb_window_t modeller = desktop.window(2000000001, "Modeller");
    xcb_window_t editor = desktop.window(2000000002, "Editor");
    proc::Broker broker(home, proc::onDisplay(home, server.display()));
    ASSERT_TRUE(broker.waitListening()) << broker.stderrText();

    VirtualMainLoop loop;
    auto client = connect(loop, home);
    ASSERT_TRUE(client);
    auto holding = [&] {
        auto all = client->all<BrokerMessage::Holding>();
        return !all.empty() && all.back().holding;
    };
    client->send(ClientMessage{hello("Modeller plug-in", Claim{{"Modeller"}, false, {}, {}})});
    ASSERT_TRUE(loop.runUntil([&] { return client->count<BrokerMessage::Welcome>() == 1; }));

    desktop.activate(modeller);
    ASSERT_TRUE(loop.runUntil(holding));
    desktop.activate(editor);
    ASSERT_TRUE(loop.runUntil([&] { return !holding(); }));
    EXPECT_TRUE(contains(home.log(), "menu bar item shown (showsMenuBarItem)"));
}

TEST(KestrixCommandLine, helpAndVersionAnswerAndBadArgumentsAreUsageErrorsWithoutABroker) {
    struct Case {
        std::vector<std::string> arguments;
        int status;
        const char* out; // a part of standard output ("" for none at all)
        const char* err; // a part of standard error ("" for none at all)
    } cases[] = {
        {{"--help"}, 0, "Usage: kestrix [options]", ""},
        {{"-h"}, 0, "--version", ""},
        {{"-platform", "offscreen", "--help"}, 0, "Usage: kestrix", ""},
        {{"--version"}, 0, "kestrix 1.0.0 (release 15)\n", ""},
        {{"-v"}, 0, "(release 15)", ""},
        {{"--bogus-flag"}, 2, "", "Unknown option 'bogus-flag'"},
        {{"--help", "--bogus-flag"}, 2, "", "Usage: kestrix"},
        {{"stray"}, 2, "", "unexpected argument 'stray'"},
    };
    for (const auto& c : cases) {
        proc::Home home;
        const std::string out = home.path + "/out.txt";
        proc::Broker run(
            home, {}, [&] { ::dup2(::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600), 1); },
            c.arguments);
        std::string label = c.arguments.front() + " " + c.arguments.back();
        EXPECT_EQ(run.waitExit(10), c.status) << label;
        const std::string o = proc::readFile(out), e = run.stderrText();
        EXPECT_TRUE(*c.out ? o.find(c.out) != std::string::npos : o.empty()) << label << ": " << o;
        EXPECT_TRUE(*c.err ? e.find(c.err) != std::string::npos : e.empty()) << label << ": " << e;
        // Nothing was started: no election, no log, no socket.
        EXPECT_TRUE(std::filesystem::is_empty(home.path + "/home")) << label;
    }
}

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
    // The new socket is there once bound, and takes connections once the broker listens on it.
    std::unique_ptr<Client> late;
    ASSERT_TRUE(waitInFolder(home.path + "/home", [&] {
        if (::access(socket.c_str(), F_OK) == 0) late = connect(loop, home);
        return late != nullptr;
    }));
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
    VirtualMainLoop loop;
    // The socket is there once bound, and takes connections once the broker listens on it.
    std::unique_ptr<Client> client;
    ASSERT_TRUE(waitInFolder(home.path + "/home", [&] {
        if (::access(socket.c_str(), F_OK) == 0) client = connect(loop, home);
        return client != nullptr;
    }));
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

// A kestrix.json that cannot be read (root's, as "sudo kestrix" leaves it, with the broker run
// as another user), a FIFO in its place or a file with a syntax error: the broker still listens,
// says once what is wrong and how to fix it, and leaves the file (a broken one is copied aside).
TEST(KestrixProcess, aSettingsFileThatCannotBeReadIsToldAndKeptAndTheBrokerListens) {
    constexpr uid_t stranger = 65534;
    const std::string stored = "{\"disabledDevices\": [\"serial:A\"],\n  oops}";
    struct Case {
        const char* what;
        bool asStranger;
        std::function<void(const std::string&)> make;
        std::string says; // after the path
    } cases[] = {
        {"root's file", true,
         [&](const std::string& p) {
             std::ofstream(p) << stored;
             ::chmod(p.c_str(), 0600);
         },
         ": Permission denied (it belongs to root); running on default settings, which are not "
         "saved, and the file is left as it is; give it back with \"sudo chown nobody: "},
        {"FIFO", false, [](const std::string& p) { ::mkfifo(p.c_str(), 0600); },
         " is a FIFO, not a regular file; running on default settings"},
        {"syntax error", false, [&](const std::string& p) { std::ofstream(p) << stored; },
         " is not valid JSON (line 2, column 3); its settings are ignored, and a copy of it is "
         "kept in "},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Home home;
        home.devices(R"({"devices": []})");
        const std::string path = home.path + "/config/kestrix.json";
        c.make(path);
        std::function<void()> become;
        if (c.asStranger) {
            for (const std::string& folder : {home.path + "/home", home.path + "/config"})
                ASSERT_EQ(::chown(folder.c_str(), stranger, stranger), 0);
            ASSERT_EQ(::chmod(home.path.c_str(), 0755), 0);
            become = [] {
                if (::setgroups(0, nullptr) != 0 || ::setresgid(stranger, stranger, stranger) != 0 ||
                    ::setresuid(stranger, stranger, stranger) != 0)
                    ::_exit(126);
            };
        }
        proc::Broker broker(home, {}, become);
        ASSERT_TRUE(broker.waitListening()) << broker.stderrText();
        const std::string log = home.log();
        EXPECT_TRUE(contains(log, (c.asStranger ? "cannot read " : "") + path + c.says)) << log;
        const std::size_t told = log.find(path);
        EXPECT_EQ(log.find(path, log.find('\n', told)), std::string::npos) << "told once: " << log;
        if (std::string(c.what) == "FIFO") {
            struct stat info {};
            EXPECT_TRUE(::stat(path.c_str(), &info) == 0 && S_ISFIFO(info.st_mode));
        } else {
            EXPECT_EQ(readFile(path), stored);
        }
        if (std::string(c.what) == "syntax error") {
            EXPECT_EQ(readFile(path + ".bad"), stored);
        }
    }
}
