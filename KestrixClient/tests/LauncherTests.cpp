// Starting a broker program, finding the bundled one, and recognising an attached SpaceMouse.

#include "BundledBroker.h"
#include "KestrixClient/Launcher.h"
#include "SpaceMouseAttached.h"
#include "TempFolder.h"

#include <algorithm>
#include <csignal>
#include <gtest/gtest.h>
#include <pthread.h>
#include <sstream>

namespace kestrix::client::test {
namespace {

using testsupport::readFile;

// The app blocks SIGINT and SIGTERM to take them through a descriptor, and ignores SIGPIPE; a
// broker it starts must not inherit that, or it could no longer be ended by a plain kill.
TEST(Launcher, spawnsTheProgramInASessionOfItsOwnWithOutputDiscardedAndNoSignalBlockedOrIgnored) {
    int answer[2];
    ASSERT_EQ(::pipe(answer), 0); // inherited: the child answers through it
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
    const std::string script = "echo $$ $(cut -d' ' -f6 /proc/$$/stat) $(readlink /proc/$$/fd/1) "
                               "$(readlink /proc/$$/fd/2) \"$0\" \"$1\" "
                               "$(grep -E '^Sig(Blk|Ign):' /proc/$$/status) >&" +
                               std::to_string(answer[1]);
    EXPECT_EQ(startLauncher(Launcher::executable("/bin/sh", {"-c", script, "one", "two"})),
              std::nullopt);
    ::sigaction(SIGHUP, &previousHup, nullptr);
    ::pthread_sigmask(SIG_SETMASK, &previousMask, nullptr);
    ::close(answer[1]);
    const std::string text = readFile("/proc/self/fd/" + std::to_string(answer[0])); // to its end
    ::close(answer[0]);
    std::istringstream stream(text);
    std::vector<std::string> words{std::istream_iterator<std::string>(stream), {}};
    ASSERT_EQ(words.size(), 10u) << text;
    EXPECT_EQ(words[0], words[1]) << text; // its own session
    EXPECT_EQ(std::vector<std::string>(words.begin() + 2, words.begin() + 6),
              (std::vector<std::string>{"/dev/null", "/dev/null", "one", "two"}));
    // The standard signals 1 to 31 only: the C library keeps its own real-time ones ignored in
    // every child it spawns.
    for (std::size_t i : {7u, 9u})
        EXPECT_EQ(std::stoull(words[i], nullptr, 16) & 0x7fffffffULL, 0u) << text;
}

TEST(Launcher, theBundledBrokerIsLookedForInstalledThenBesideThenInTheBuildTreeAndAnAppIsAnError) {
    EXPECT_EQ(detail::bundledCandidates("/usr/local/bin/vantor"),
              (std::vector<std::string>{"/usr/local/libexec/vantor/kestrix",
                                        "/usr/local/bin/kestrix", "/usr/local/Kestrix/kestrix",
                                        "/usr/Kestrix/kestrix"}));
    // The app in the build tree, two folders below it.
    const auto fromApp = detail::bundledCandidates("/src/build/release/Vantor/app/vantor");
    EXPECT_NE(std::find(fromApp.begin(), fromApp.end(), "/src/build/release/Kestrix/kestrix"),
              fromApp.end());
    // This test program lies in the build tree, beside the built broker.
    Launcher bundled = Launcher::bundled();
    EXPECT_EQ(bundled,
              Launcher::executable(detail::bundledCandidates(detail::ownExecutablePath())[2]));
    EXPECT_EQ(Launcher::bundledIfPresent(), bundled);
    // Only an application bundle is an error here.
    EXPECT_EQ(startLauncher(Launcher::executable("/nonexistent/kestrix")), std::nullopt);
    std::optional<std::string> error = startLauncher(Launcher::app("/opt/Vantor.app/Kestrix.app"));
    EXPECT_NE(error.value_or("").find("/opt/Vantor.app/Kestrix.app"), std::string::npos);
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
    for (const Row& row : std::vector<Row>{{"0003:0000256F:0000C635", multiAxis, true},
                                           {"0005:0000046D:0000B03A", multiAxis, true},
                                           {"0003:0000256f:0000c652", multiAxis, true},
                                           {"0003:00001234:0000C635", multiAxis, false},
                                           {"0003:0000046D:0000C077", mouse, false},
                                           {"0003:0000256F:0000C635", cutOff, false},
                                           {"0003:0000256F:0000C635", none, false},
                                           {"256F", multiAxis, false},
                                           {"0003:0000256F", multiAxis, false},
                                           {"0003::0000C635", multiAxis, false},
                                           {"0003:0000256G:0000C635", multiAxis, false}})
        EXPECT_EQ(detail::isSpaceMouseHID(row.hidID, row.descriptor), row.counts) << row.hidID;
}

} // namespace
} // namespace kestrix::client::test
