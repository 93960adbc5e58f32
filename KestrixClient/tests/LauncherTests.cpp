// Starting a broker program, finding the bundled one, and recognising an attached SpaceMouse.

#include "BundledBroker.h"
#include "SpaceMouseAttached.h"
#include "TestSupport.h"

#include <csignal>
#include <gtest/gtest.h>
#include <pthread.h>
#include <sstream>
#include <sys/stat.h>

namespace kestrix::client::test {
namespace {

// The app blocks SIGINT and SIGTERM to take them through a descriptor, and ignores SIGPIPE; a
// broker it starts must not inherit that, or it could no longer be ended by a plain kill.
TEST(Launcher, spawnsTheProgramInASessionOfItsOwnWithOutputDiscardedAndNoSignalBlockedOrIgnored) {
    TempFolder folder;
    std::string fifo = folder.path + "/answer";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    int reader = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
    sigset_t blocked, previousMask;
    sigemptyset(&blocked);
    sigaddset(&blocked, SIGTERM);
    sigaddset(&blocked, SIGINT);
    ASSERT_EQ(::pthread_sigmask(SIG_BLOCK, &blocked, &previousMask), 0);
    struct sigaction ignore = {}, previousHup = {};
    ignore.sa_handler = SIG_IGN;
    ASSERT_EQ(::sigaction(SIGHUP, &ignore, &previousHup), 0);
    // The child tells its pid, its session, where its output and errors go, its arguments and
    // its blocked and ignored signals.
    EXPECT_EQ(startLauncher(Launcher::executable(
                  "/bin/sh", {"-c",
                              "echo $$ $(cut -d' ' -f6 /proc/$$/stat) $(readlink /proc/$$/fd/1) "
                              "$(readlink /proc/$$/fd/2) \"$1\" \"$2\" "
                              "$(grep -E '^Sig(Blk|Ign):' /proc/$$/status) > \"$0\"",
                              fifo, "one", "two"})),
              std::nullopt);
    ::sigaction(SIGHUP, &previousHup, nullptr);
    ::pthread_sigmask(SIG_SETMASK, &previousMask, nullptr);
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
    std::istringstream stream(answer);
    std::vector<std::string> words{std::istream_iterator<std::string>(stream), {}};
    ASSERT_EQ(words.size(), 10u) << answer;
    EXPECT_EQ(words[0], words[1]) << answer; // its own session
    EXPECT_NE(words[0], std::to_string(::getpid()));
    EXPECT_EQ(std::vector<std::string>(words.begin() + 2, words.end()),
              (std::vector<std::string>{"/dev/null", "/dev/null", "one", "two", "SigBlk:", words[7],
                                        "SigIgn:", words[9]}));
    // The standard signals 1 to 31 only: the C library keeps its own real-time ones ignored in
    // every child it spawns.
    EXPECT_EQ(std::stoull(words[7], nullptr, 16) & 0x7fffffffULL, 0u) << words[7];
    EXPECT_EQ(std::stoull(words[9], nullptr, 16) & 0x7fffffffULL, 0u) << words[9];
}

TEST(Launcher, onlyAnApplicationBundleIsAnErrorHere) {
    EXPECT_EQ(startLauncher(Launcher::executable("/nonexistent/kestrix")), std::nullopt);
    EXPECT_EQ(startLauncher(Launcher::none()), std::nullopt);
    std::optional<std::string> error = startLauncher(Launcher::app("/opt/Vantor.app/Kestrix.app"));
    ASSERT_TRUE(error.has_value());
    EXPECT_NE(error->find("/opt/Vantor.app/Kestrix.app"), std::string::npos);
}

TEST(Launcher, theBundledBrokerIsLookedForInstalledFirstThenBesideThenInTheBuildTree) {
    EXPECT_EQ(detail::bundledCandidates("/usr/local/bin/vantor"),
              (std::vector<std::string>{"/usr/local/libexec/vantor/kestrix",
                                        "/usr/local/bin/kestrix", "/usr/local/Kestrix/kestrix"}));
    // This test program lies in the build tree, beside the built broker.
    Launcher bundled = Launcher::bundled();
    EXPECT_EQ(bundled,
              Launcher::executable(detail::bundledCandidates(detail::ownExecutablePath())[2]));
    EXPECT_EQ(Launcher::bundledIfPresent(), bundled);
}

TEST(SpaceMouseAttached, aMultiAxisControllerOfASpaceMouseVendorCounts) {
    const std::vector<std::uint8_t> multiAxis{0x05, 0x01, 0x09, 0x08, 0xA1, 0x01, 0xC0};
    const std::vector<std::uint8_t> mouse{0x05, 0x01, 0x09, 0x02, 0xA1, 0x01, 0xC0};
    const std::vector<std::uint8_t> cutOff{0x05, 0x01, 0x26, 0xFF}, none;
    struct Row {
        const char* hidID;
        const std::vector<std::uint8_t>& descriptor;
        bool counts;
    };
    for (const Row& row :
         {Row{"0003:0000256F:0000C635", multiAxis, true},
          Row{"0005:0000046D:0000B03A", multiAxis, true},
          Row{"0003:0000256f:0000c652", multiAxis, true},
          Row{"0003:00001234:0000C635", multiAxis, false},
          Row{"0003:0000046D:0000C077", mouse, false}, Row{"0003:0000256F:0000C635", cutOff, false},
          Row{"0003:0000256F:0000C635", none, false}, Row{"256F", multiAxis, false},
          Row{"0003:0000256F", multiAxis, false}, Row{"0003::0000C635", multiAxis, false},
          Row{"0003:0000256G:0000C635", multiAxis, false}})
        EXPECT_EQ(detail::isSpaceMouseHID(row.hidID, row.descriptor), row.counts) << row.hidID;
}

} // namespace
} // namespace kestrix::client::test
