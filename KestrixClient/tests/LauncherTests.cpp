// Starting a broker program, finding the bundled one, and recognising an attached SpaceMouse.

#include "BundledBroker.h"
#include "SpaceMouseAttached.h"
#include "TestSupport.h"

#include <csignal>
#include <fcntl.h>
#include <fstream>
#include <gtest/gtest.h>
#include <pthread.h>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

namespace kestrix::client::test {
namespace {

using Launcher = KestrixConnection::Launcher;

TEST(Launcher, spawnsTheProgramInASessionOfItsOwnWithOutputDiscarded) {
    TempFolder folder;
    std::string fifo = folder.path() + "/answer";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    int reader = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    // The child tells its pid, its session, where its standard output and error go, and its
    // arguments.
    std::string script = "echo $$ $(cut -d' ' -f6 /proc/$$/stat) $(readlink /proc/$$/fd/1) "
                         "$(readlink /proc/$$/fd/2) \"$1\" \"$2\" > " +
                         fifo;
    EXPECT_EQ(startLauncher(Launcher::executable("/bin/sh", {"-c", script, "sh", "one", "two"})),
              std::nullopt);

    VirtualMainLoop loop;
    std::string answer;
    auto watch = loop.watchReadable(reader, [&] {
        char buffer[512];
        ssize_t n = ::read(reader, buffer, sizeof buffer);
        if (n > 0) answer.append(buffer, std::size_t(n));
    });
    ASSERT_TRUE(loop.runUntil([&] { return answer.find('\n') != std::string::npos; }, 10.0));
    watch.reset();
    ::close(reader);

    std::istringstream words(answer);
    std::string pid, session, out, err, first, second;
    words >> pid >> session >> out >> err >> first >> second;
    EXPECT_EQ(pid, session) << answer;
    EXPECT_NE(pid, std::to_string(::getpid()));
    EXPECT_EQ(out, "/dev/null");
    EXPECT_EQ(err, "/dev/null");
    EXPECT_EQ(first, "one");
    EXPECT_EQ(second, "two");
}

// The app blocks SIGINT and SIGTERM to take them through a descriptor, and ignores SIGPIPE; a
// broker it starts must not inherit that, or it could no longer be ended by a plain kill.
TEST(Launcher, theProgramStartsWithNoSignalBlockedOrIgnored) {
    TempFolder folder;
    std::string fifo = folder.path() + "/answer";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    int reader = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    std::string script =
        "grep -E '^Sig(Blk|Ign):' /proc/$$/status | tr '\\n' ' ' > " + fifo + "; echo >> " + fifo;

    sigset_t blocked, previousMask;
    sigemptyset(&blocked);
    sigaddset(&blocked, SIGTERM);
    sigaddset(&blocked, SIGINT);
    ASSERT_EQ(::pthread_sigmask(SIG_BLOCK, &blocked, &previousMask), 0);
    struct sigaction ignore = {};
    struct sigaction previousHup = {};
    ignore.sa_handler = SIG_IGN;
    ASSERT_EQ(::sigaction(SIGHUP, &ignore, &previousHup), 0);
    std::optional<std::string> error =
        startLauncher(Launcher::executable("/bin/sh", {"-c", script}));
    ::sigaction(SIGHUP, &previousHup, nullptr);
    ::pthread_sigmask(SIG_SETMASK, &previousMask, nullptr);
    EXPECT_EQ(error, std::nullopt);

    VirtualMainLoop loop;
    std::string answer;
    auto watch = loop.watchReadable(reader, [&] {
        char buffer[512];
        ssize_t n = ::read(reader, buffer, sizeof buffer);
        if (n > 0) answer.append(buffer, std::size_t(n));
    });
    ASSERT_TRUE(loop.runUntil([&] { return answer.find('\n') != std::string::npos; }, 10.0));
    watch.reset();
    ::close(reader);

    std::istringstream words(answer);
    std::string blkName, blk, ignName, ign;
    words >> blkName >> blk >> ignName >> ign;
    ASSERT_EQ(blkName, "SigBlk:") << answer;
    ASSERT_EQ(ignName, "SigIgn:") << answer;
    // The standard signals 1 to 31 only: the C library keeps its own real-time ones ignored in
    // every child it spawns.
    const unsigned long long standard = 0x7fffffffULL;
    EXPECT_EQ(std::stoull(blk, nullptr, 16) & standard, 0u) << answer;
    EXPECT_EQ(std::stoull(ign, nullptr, 16) & standard, 0u) << answer;
}

TEST(Launcher, aProgramThatCannotBeSpawnedFailsSilently) {
    TempFolder folder;
    EXPECT_EQ(startLauncher(Launcher::executable(folder.path() + "/nothing-here")), std::nullopt);
    EXPECT_EQ(startLauncher(Launcher::none()), std::nullopt);
}

TEST(Launcher, anApplicationBundleCannotBeOpenedHere) {
    std::optional<std::string> error = startLauncher(Launcher::app("/opt/Vantor.app/Kestrix.app"));
    ASSERT_TRUE(error.has_value());
    EXPECT_NE(error->find("/opt/Vantor.app/Kestrix.app"), std::string::npos);
}

TEST(Launcher, theBundledBrokerIsLookedForInstalledFirstThenBesideThenInTheBuildTree) {
    EXPECT_EQ(detail::bundledCandidates("/usr/local/bin/vantor"),
              (std::vector<std::string>{"/usr/local/libexec/vantor/kestrix",
                                        "/usr/local/bin/kestrix", "/usr/local/Kestrix/kestrix"}));
    EXPECT_EQ(
        detail::bundledCandidates("/work/build/Vantor/vantor"),
        (std::vector<std::string>{"/work/build/libexec/vantor/kestrix",
                                  "/work/build/Vantor/kestrix", "/work/build/Kestrix/kestrix"}));
}

TEST(Launcher, bundledNamesAKestrixProgramAndIfPresentChecksThatItExists) {
    Launcher bundled = Launcher::bundled();
    const auto* program = std::get_if<Launcher::Executable>(&bundled.how);
    ASSERT_NE(program, nullptr);
    EXPECT_EQ(std::filesystem::path(program->path).filename(), "kestrix");
    EXPECT_TRUE(program->arguments.empty());
    Launcher present = Launcher::bundledIfPresent();
    if (::access(program->path.c_str(), X_OK) == 0)
        EXPECT_EQ(present, bundled);
    else
        EXPECT_TRUE(present.isNone());
}

const std::vector<std::uint8_t> multiAxis{0x05, 0x01, 0x09, 0x08, 0xA1, 0x01, 0xC0};

TEST(SpaceMouseAttached, aMultiAxisControllerOfASpaceMouseVendorCounts) {
    EXPECT_TRUE(detail::isSpaceMouseHID("0003:0000256F:0000C635", multiAxis));
    EXPECT_TRUE(detail::isSpaceMouseHID("0005:0000046D:0000B03A", multiAxis));
    EXPECT_TRUE(detail::isSpaceMouseHID("0003:0000256f:0000c652", multiAxis));
}

TEST(SpaceMouseAttached, otherVendorsAndOtherDevicesDoNot) {
    EXPECT_FALSE(detail::isSpaceMouseHID("0003:00001234:0000C635", multiAxis));
    // A mouse of the same vendor: generic desktop, usage 2.
    EXPECT_FALSE(detail::isSpaceMouseHID(
        "0003:0000046D:0000C077",
        std::vector<std::uint8_t>{0x05, 0x01, 0x09, 0x02, 0xA1, 0x01, 0xC0}));
    // A cut-off descriptor, a missing one, and malformed ids.
    EXPECT_FALSE(detail::isSpaceMouseHID("0003:0000256F:0000C635",
                                         std::vector<std::uint8_t>{0x05, 0x01, 0x26, 0xFF}));
    EXPECT_FALSE(detail::isSpaceMouseHID("0003:0000256F:0000C635", {}));
    EXPECT_FALSE(detail::isSpaceMouseHID("256F", multiAxis));
    EXPECT_FALSE(detail::isSpaceMouseHID("0003::0000C635", multiAxis));
    EXPECT_FALSE(detail::isSpaceMouseHID("0003:0000256G:0000C635", multiAxis));
}

} // namespace
} // namespace kestrix::client::test
