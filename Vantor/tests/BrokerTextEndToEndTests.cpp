// A real vantor against a broker that says what it likes: the broker's words reach vantor's log
// on one line and cut short.
#include "EndToEndSupport.h"
#include "KestrixProtocol/LineCoding.h"

#include <sys/socket.h>

namespace {

// Waits for the descriptor to be readable, at most 10 s.
bool readable(int fd) {
    pollfd p{fd, POLLIN, 0};
    return ::poll(&p, 1, 10000) == 1;
}

} // namespace

TEST(VantorBrokerText, aRefusalIsLoggedOnOneLineAndCutShort) {
    proc::Home home;
    int listener = kestrix::UnixSocket::listen(home.place().socket().string());
    e2e::Vantor vantor(home, {{"QT_QPA_PLATFORM", "offscreen"}}, home.path + "/events.jsonl");

    // The stand-in broker takes vantor's hello and refuses it with escapes, a line of its own
    // that looks like vantor's and 900 KB.
    ASSERT_TRUE(readable(listener)) << vantor.stderrText();
    int peer = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
    ASSERT_GE(peer, 0);
    std::string hello;
    char buffer[4096];
    while (hello.find('\n') == std::string::npos && readable(peer)) {
        ssize_t count = ::read(peer, buffer, sizeof buffer);
        if (count <= 0) break;
        hello.append(buffer, std::size_t(count));
    }
    ASSERT_NE(hello.find("\"hello\""), std::string::npos) << hello;
    const std::string reason =
        "\x1B[2J\a\r\nvantor: taking the SpaceMouse (frontmost org.forged.App)\n" +
        std::string(900000, 'r');
    std::string line = kestrix::LineEncoder::encode(
        kestrix::BrokerMessage{kestrix::BrokerMessage::Refused{reason}});
    for (std::string_view rest = line; !rest.empty();) {
        ssize_t sent = ::send(peer, rest.data(), rest.size(), MSG_NOSIGNAL);
        ASSERT_GT(sent, 0);
        rest.remove_prefix(std::size_t(sent));
    }
    ::close(peer);

    ASSERT_TRUE(proc::waitInFolder(home.path, [&] {
        return proc::contains(vantor.stderrText(), "Kestrix refused the connection");
    })) << vantor.stderrText();
    std::string err = vantor.stderrText();
    EXPECT_TRUE(proc::contains(err, "vantor: Kestrix refused the connection: \\x1B[2J\\x07\\r\\n"
                                    "vantor: taking the SpaceMouse (frontmost org.forged.App)\\n"
                                    "rrr"))
        << err.substr(0, 2000);
    EXPECT_FALSE(proc::contains(err, "\nvantor: taking the SpaceMouse (frontmost org.forged"));
    EXPECT_EQ(err.find_first_of("\x1B\a\r"), std::string::npos);
    EXPECT_LT(err.size(), 20000u);
    ::close(listener);
}
