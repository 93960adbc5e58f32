#include "KestrixCore/DriverWatch.h"
#include "KestrixProtocol/UnixSocket.h"
#include "KestrixProtocol/VirtualMainLoop.h"
#include "TempFolder.h"

#include <csignal>
#include <fstream>
#include <gtest/gtest.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

using kestrix::VirtualMainLoop;
using kestrix::core::SpacenavdWatch;

using testsupport::TempFolder;

// A process standing in for the driver daemon; it waits until it is killed.
struct StandIn {
    pid_t pid = -1;
    StandIn() {
        int ready[2];
        if (::pipe(ready) != 0) return;
        pid = ::fork();
        if (pid == 0) {
            ::prctl(PR_SET_NAME, "spacenavd"); // the name the watch looks for
            ::close(ready[1]);                 // renamed: the parent may go on
            for (;;)
                ::pause();
        }
        ::close(ready[1]);
        char c;
        while (::read(ready[0], &c, 1) > 0) {
        }
        ::close(ready[0]);
    }
    void end() {
        if (pid > 0) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, nullptr, 0);
        }
        pid = -1;
    }
    ~StandIn() { end(); }
};

TEST(SpacenavdWatch, followsThePidFileTheSocketAndTheProcessItself) {
    TempFolder t;
    VirtualMainLoop loop(1000.0);
    std::vector<std::string> lines;
    SpacenavdWatch watch(loop, SpacenavdWatch::Paths{t.path, "spnavd.pid", "spnav.sock", "/proc"},
                         [&](const std::string& l) { lines.push_back(l); });
    int changes = 0;
    watch.onChange = [&] { ++changes; };
    EXPECT_FALSE(watch.helper());

    StandIn daemon;
    ASSERT_GT(daemon.pid, 0);
    std::ofstream(t.path + "/spnavd.pid") << daemon.pid << "\n";
    ASSERT_TRUE(loop.runUntil([&] { return changes >= 1; }));
    auto helper = watch.helper();
    ASSERT_TRUE(helper);
    EXPECT_FALSE(helper->finishedLaunching);
    ASSERT_TRUE(helper->launched);
    // Started moments ago, on the loop's clock.
    EXPECT_LE(*helper->launched, 1000.0 + 0.001);
    EXPECT_GT(*helper->launched, 1000.0 - 60.0);

    int before = changes;
    int listener = kestrix::UnixSocket::listen(t.path + "/spnav.sock");
    ASSERT_TRUE(loop.runUntil([&] { return changes > before; }));
    EXPECT_TRUE(watch.helper()->finishedLaunching);

    // Other files in the folder change nothing.
    before = changes;
    std::ofstream(t.path + "/other.pid") << "1\n";
    loop.runPending();
    EXPECT_EQ(changes, before);

    // A crash leaves the files behind; the process watch notices it anyway.
    before = changes;
    daemon.end();
    ASSERT_TRUE(loop.runUntil([&] { return changes > before; }));
    EXPECT_FALSE(watch.helper());
    ::close(listener);
    EXPECT_TRUE(lines.empty());
}

TEST(SpacenavdWatch, aPidFileNamingNoLiveDaemonOrAMissingFolderIsNoDriver) {
    TempFolder t;
    VirtualMainLoop loop;
    SpacenavdWatch watch(loop, SpacenavdWatch::Paths{t.path, "spnavd.pid", "spnav.sock", "/proc"},
                         [](const std::string&) {});
    const auto pidFile = [&](const std::string& text) {
        std::ofstream(t.path + "/spnavd.pid") << text << "\n";
    };
    pidFile("garbage");
    EXPECT_FALSE(watch.helper());
    StandIn gone;
    const pid_t pid = gone.pid;
    gone.end();
    pidFile(std::to_string(pid));
    EXPECT_FALSE(watch.helper());
    // A crashed daemon's number, taken since by another program (this test).
    pidFile(std::to_string(::getpid()));
    EXPECT_FALSE(watch.helper());

    // A daemon that ended but was not reaped yet.
    StandIn daemon;
    ASSERT_GT(daemon.pid, 0);
    pidFile(std::to_string(daemon.pid));
    EXPECT_TRUE(watch.helper());
    ::kill(daemon.pid, SIGKILL);
    siginfo_t info{};
    ASSERT_EQ(::waitid(P_PID, static_cast<id_t>(daemon.pid), &info, WEXITED | WNOWAIT), 0);
    EXPECT_FALSE(watch.helper());

    // A run folder that is missing is logged, and means no driver.
    std::vector<std::string> lines;
    SpacenavdWatch missing(loop, SpacenavdWatch::Paths{"/nonexistent-run-dir", "p", "s", "/proc"},
                           [&](const std::string& l) { lines.push_back(l); });
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].rfind("cannot watch /nonexistent-run-dir for the spacenavd driver: ", 0),
              0u);
    EXPECT_FALSE(missing.helper());
}
