#include "KestrixProtocol/LineConnection.h"
#include "KestrixProtocol/VirtualMainLoop.h"
#include "ProtocolTestSupport.h"

#include <algorithm>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <string>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

using namespace kestrix;
using kestrix::test::SocketPair;

namespace {

// A small message for the tests: {"text":"..."}, one line of text.size() + 12 bytes.
struct Note {
    std::string text;
    bool operator==(const Note&) const = default;
};
NLOHMANN_DEFINE_TYPE_NON_INTRUSIVE(Note, text)

using Connection = LineConnection<Note, Note>;

constexpr std::size_t lineOverhead = 12;

Note noteOfLineSize(std::size_t lineSize) {
    return Note{std::string(lineSize - lineOverhead, 'n')};
}

void setNonBlocking(int fd) {
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
}

bool isOpen(int fd) {
    return ::fcntl(fd, F_GETFD) != -1;
}

// Writes into fd until the socket takes no more, as if its peer had stopped reading. Returns the
// number of bytes written.
std::size_t fillUntilFull(int fd) {
    setNonBlocking(fd);
    std::size_t total = 0;
    std::string chunk(4096, '\n');
    for (std::size_t size : {std::size_t(4096), std::size_t(1)}) {
        for (;;) {
            ssize_t n = ::send(fd, chunk.data(), size, MSG_NOSIGNAL);
            if (n <= 0) break;
            total += std::size_t(n);
        }
    }
    return total;
}

// The test's side of a connection: a plain socket end that it writes to and reads from while the
// loop runs.
struct Peer {
    VirtualMainLoop& loop;
    int fd;

    // Writes all bytes, letting the loop consume them as the socket fills.
    void write(const std::string& bytes) {
        setNonBlocking(fd);
        std::size_t offset = 0;
        while (offset < bytes.size()) {
            ssize_t n = ::send(fd, bytes.data() + offset, bytes.size() - offset, MSG_NOSIGNAL);
            if (n > 0)
                offset += std::size_t(n);
            else
                ASSERT_TRUE(n < 0 && errno == EAGAIN) << "peer write failed";
            loop.runPending();
        }
        loop.runPending();
    }

    // Reads everything the connection writes until `size` bytes have come or nothing more comes.
    std::string read(std::size_t size) {
        setNonBlocking(fd);
        std::string received;
        char buffer[8192];
        for (int idle = 0; received.size() < size && idle < 3;) {
            ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
            if (n > 0) {
                received.append(buffer, std::size_t(n));
                idle = 0;
            } else {
                ++idle;
            }
            loop.runPending();
        }
        return received;
    }
};

class LineConnectionTest : public ::testing::Test {
protected:
    VirtualMainLoop loop;
    SocketPair pair;
    std::shared_ptr<Connection> connection = Connection::create(loop, pair.release(0));
    Peer peer{loop, pair.fds[1]};
    std::vector<Note> received;
    int closes = 0;

    void SetUp() override {
        connection->onMessage = [this](const Note& note) { received.push_back(note); };
        connection->onClose = [this] { ++closes; };
        connection->start();
    }
};

} // namespace

TEST_F(LineConnectionTest, deliversMessagesInOrderWhateverTheSplitAndDropsUndecodableLines) {
    peer.write("{\"text\":\"one\"}\nnot json\n{\"other\":1}\n[1]\n\n{\"te");
    EXPECT_EQ(received, (std::vector<Note>{{"one"}}));
    peer.write("xt\":\"two\"}\r\n{\"text\":\"three\"}\n");
    EXPECT_EQ(received, (std::vector<Note>{{"one"}, {"two"}, {"three"}}));
    EXPECT_EQ(closes, 0);
}

TEST_F(LineConnectionTest, aHandlerThatReplacesItselfMidReadHandsTheRestToItsSuccessor) {
    std::vector<std::string> events;
    connection->onMessage = [&, tag = std::string("first handler ")](const Note& note) {
        connection->onMessage = [&](const Note& next) { events.push_back("then " + next.text); };
        events.push_back(tag + note.text); // its captures are still alive
    };
    peer.write("{\"text\":\"a\"}\n{\"text\":\"b\"}\n");
    EXPECT_EQ(events, (std::vector<std::string>{"first handler a", "then b"}));
}

TEST_F(LineConnectionTest, inputTailOfExactlyTheLineLimitIsKeptAndALineFeedResetsIt) {
    peer.write(std::string(Connection::lineLimit, 'a') + "\n{\"text\":\"before\"}\n" +
               std::string(Connection::lineLimit, 'a'));
    EXPECT_FALSE(connection->isClosed());
    EXPECT_EQ(closes, 0);
    peer.write("a");
    EXPECT_TRUE(connection->isClosed());
    EXPECT_FALSE(connection->stalled());
    EXPECT_TRUE(connection->overlong());
    EXPECT_EQ(closes, 1);
    EXPECT_EQ(received, (std::vector<Note>{{"before"}}));
}

TEST(LineConnectionOverlong, aPeerStillSendingAnOverlongLineHearsWhyBeforeItsLinkCloses) {
    struct Case {
        std::size_t size;
        bool sendsBeforeReading; // its write watch then comes before its read watch
    } cases[] = {{Connection::lineLimit + 2 * Connection::readSize, false},
                 {3 * Connection::lineLimit, false},
                 {3 * Connection::lineLimit, true}};
    for (const auto& [size, sendsBeforeReading] : cases) {
        SCOPED_TRACE(testing::Message() << size << (sendsBeforeReading ? " sent first" : ""));
        VirtualMainLoop loop;
        SocketPair pair;
        auto reader = Connection::create(loop, pair.release(0));
        auto sender = Connection::create(loop, pair.release(1));
        int warnings = 0;
        reader->onOverlong = [&] {
            ++warnings;
            reader->send(Note{"too long"});
        };
        reader->onClose = [&] { reader.reset(); }; // the owner drops it, as the broker does
        std::vector<std::string> events;
        sender->onMessage = [&](const Note& note) { events.push_back(note.text); };
        sender->onClose = [&] { events.push_back("closed"); };
        reader->start();
        if (sendsBeforeReading) sender->send(noteOfLineSize(size));
        sender->start();
        if (!sendsBeforeReading) sender->send(noteOfLineSize(size));
        ASSERT_TRUE(loop.runUntil([&] { return !events.empty() && events.back() == "closed"; }));
        EXPECT_EQ(warnings, 1);
        EXPECT_FALSE(reader);
        EXPECT_EQ(events, (std::vector<std::string>{"too long", "closed"}));
    }
}

TEST_F(LineConnectionTest, peerVanishingMidLineWithOutputWaitingClosesWithoutTheHalfLineOrASignal) {
    peer.write("{\"text\":\"whole\"}\n{\"text\":\"ha");
    fillUntilFull(connection->fd());
    connection->send(Note{"waiting"});
    ASSERT_EQ(loop.writableWatchCount(), 1u);
    pair.closeEnd(1);
    loop.runPending();
    EXPECT_EQ(received, (std::vector<Note>{{"whole"}}));
    EXPECT_TRUE(connection->isClosed());
    EXPECT_FALSE(connection->stalled());
    EXPECT_EQ(closes, 1);
    EXPECT_EQ(loop.writableWatchCount(), 0u);
}

TEST(LineConnectionReading, nothingIsReadBeforeStart) {
    VirtualMainLoop loop;
    SocketPair pair;
    auto connection = Connection::create(loop, pair.release(0));
    int messages = 0;
    connection->onMessage = [&](const Note&) { ++messages; };
    ASSERT_EQ(::send(pair.fds[1], "{\"text\":\"x\"}\n", 13, 0), 13);
    loop.runPending();
    EXPECT_EQ(messages, 0);
    EXPECT_EQ(loop.readableWatchCount(), 0u);
    connection->start();
    connection->start();
    EXPECT_EQ(loop.readableWatchCount(), 1u);
    loop.runPending();
    EXPECT_EQ(messages, 1);
}

TEST_F(LineConnectionTest, sendWritesAtOnceOrLeavesOneWriteWatchThatGoesWhenDrainedOrReleased) {
    connection->send(Note{"hello"});
    connection->send(Note{"again"});
    char buffer[64]; // without the loop running
    ssize_t n = ::recv(pair.fds[1], buffer, sizeof buffer, MSG_DONTWAIT);
    EXPECT_EQ(std::string(buffer, std::size_t(std::max<ssize_t>(n, 0))),
              "{\"text\":\"hello\"}\n{\"text\":\"again\"}\n");
    EXPECT_EQ(loop.writableWatchCount(), 0u);
    // EAGAIN leaves one write watch, which goes when the backlog drains or on release.
    std::size_t prefill = fillUntilFull(connection->fd());
    connection->send(Note{"first"});
    EXPECT_EQ(loop.writableWatchCount(), 1u);
    connection->send(Note{"second"});
    loop.runPending();
    EXPECT_EQ(loop.writableWatchCount(), 1u);
    std::string expected = "{\"text\":\"first\"}\n{\"text\":\"second\"}\n";
    std::string all = peer.read(prefill + expected.size());
    ASSERT_EQ(all.size(), prefill + expected.size());
    EXPECT_EQ(all.substr(prefill), expected);
    EXPECT_EQ(loop.writableWatchCount(), 0u);
    EXPECT_FALSE(connection->isClosed());
    // Released with output waiting: the watches go, without onClose.
    fillUntilFull(connection->fd());
    connection->send(Note{"waiting"});
    connection.reset();
    EXPECT_EQ(loop.writableWatchCount() + loop.readableWatchCount(), 0u);
    EXPECT_EQ(closes, 0);
}

TEST_F(LineConnectionTest, backlogOverTheLimitThatDoesNotDrainForTheStallTimeClosesAsStalled) {
    fillUntilFull(connection->fd());
    connection->send(noteOfLineSize(Connection::backlogLimit - 13));
    connection->send(Note{"x"}); // 13 more bytes: exactly the limit
    loop.advance(Connection::stallSeconds);
    EXPECT_FALSE(connection->isClosed());
    connection->send(Note{""}); // 12 more: over it
    loop.advance(Connection::stallSeconds - 0.01);
    EXPECT_FALSE(connection->isClosed());
    loop.advance(0.01);
    EXPECT_TRUE(connection->isClosed());
    EXPECT_TRUE(connection->stalled());
    EXPECT_EQ(closes, 1);
    EXPECT_EQ(loop.writableWatchCount(), 0u);
    EXPECT_EQ(loop.readableWatchCount(), 0u);
}

TEST_F(LineConnectionTest, aPeerThatReadsKeepsItsConnectionWhateverTheAnswersSize) {
    // A status answer of a busy broker: six times the limit in one line, then more lines.
    Note big = noteOfLineSize(6 * Connection::backlogLimit);
    connection->send(big);
    connection->send(big);
    std::string expected = LineEncoder::encode(big) + LineEncoder::encode(big);
    std::string got;
    setNonBlocking(pair.fds[1]);
    char buffer[4096];
    while (got.size() < expected.size() && !connection->isClosed()) {
        for (ssize_t n; (n = ::recv(pair.fds[1], buffer, sizeof buffer, 0)) > 0;)
            got.append(buffer, std::size_t(n)); // a prompt reader, every 50 ms
        loop.advance(0.05);
    }
    EXPECT_FALSE(connection->stalled());
    EXPECT_EQ(got, expected);
}

TEST_F(LineConnectionTest, aPeerThatReadsTooLittleIsDroppedAtTheCeiling) {
    fillUntilFull(connection->fd());
    std::size_t queued = 0;
    while (!connection->isClosed() && queued < 4 * Connection::backlogCeiling) {
        connection->send(noteOfLineSize(1000));
        queued += 1000;
        char some[400]; // less than comes in
        (void)::recv(pair.fds[1], some, sizeof some, MSG_DONTWAIT);
        loop.advance(0.001);
    }
    EXPECT_TRUE(connection->stalled());
    EXPECT_GT(queued, Connection::backlogCeiling); // not dropped earlier: it kept reading
}

TEST_F(LineConnectionTest, closeOnceDiscardsWaitingOutputAndNothingRunsAfterIt) {
    std::size_t prefill = fillUntilFull(connection->fd());
    connection->send(Note{"discarded"});
    connection->close();
    connection->close();
    connection->send(Note{"after"});
    connection->start();
    EXPECT_EQ(loop.writableWatchCount(), 0u);
    EXPECT_EQ(loop.readableWatchCount(), 0u);
    EXPECT_FALSE(connection->stalled());
    // The peer sees what was in the socket already, then the end of the stream on release.
    EXPECT_EQ(peer.read(prefill + 1).size(), prefill);
    char byte;
    EXPECT_EQ(::recv(pair.fds[1], &byte, 1, MSG_DONTWAIT), -1);
    int fd = connection->fd();
    EXPECT_TRUE(isOpen(fd));
    connection.reset();
    EXPECT_FALSE(isOpen(fd));
    EXPECT_EQ(::recv(pair.fds[1], &byte, 1, 0), 0);
    EXPECT_EQ(closes, 1);
}

// The messages of one read all reach a handler that closes or drops the connection.
TEST_F(LineConnectionTest, ownerMayCloseOrDropTheConnectionInsideOnMessage) {
    std::vector<std::string> events;
    connection->onClose = [&] { events.push_back("closed"); };
    connection->onMessage = [&](const Note& note) {
        events.push_back(note.text);
        connection->close();
    };
    peer.write("{\"text\":\"first\"}\n{\"text\":\"second\"}\n");
    EXPECT_EQ(events, (std::vector<std::string>{"first", "closed", "second"}));
    peer.write("{\"text\":\"third\"}\n"); // nobody reads any more
    EXPECT_EQ(events.size(), 3u);

    SocketPair other;
    connection = Connection::create(loop, other.release(0));
    int fd = connection->fd();
    connection->onMessage = [&](const Note& note) {
        events.push_back(note.text);
        connection.reset();
        EXPECT_TRUE(isOpen(fd)); // still running its own handler
    };
    connection->start();
    Peer{loop, other.fds[1]}.write("{\"text\":\"a\"}\n{\"text\":\"b\"}\n");
    EXPECT_EQ(events, (std::vector<std::string>{"first", "closed", "second", "a", "b"}));
    EXPECT_FALSE(isOpen(fd));
    EXPECT_EQ(loop.readableWatchCount(), 0u);
}

TEST_F(LineConnectionTest, ownerMayDropTheConnectionInsideOnCloseWhenThePeerGoesOrASendStalls) {
    for (bool stall : {false, true}) {
        SocketPair other;
        connection = Connection::create(loop, other.release(0));
        connection->start();
        int fd = connection->fd();
        connection->onClose = [&] {
            ++closes;
            connection.reset();
        };
        if (stall) {
            fillUntilFull(fd);
            connection->send(noteOfLineSize(Connection::backlogLimit + 1));
            loop.advance(Connection::stallSeconds);
        } else {
            other.closeEnd(1);
            loop.runPending();
        }
        EXPECT_FALSE(connection) << stall;
        EXPECT_FALSE(isOpen(fd)) << stall;
    }
    EXPECT_EQ(closes, 2);
}

// The same exchange on every loop implementation.

template <class Driver> class LineConnectionOnLoop : public ::testing::Test {
protected:
    Driver driver;
};

TYPED_TEST_SUITE(LineConnectionOnLoop, test::MainLoopDriverTypes, test::MainLoopDriverNames);

TYPED_TEST(LineConnectionOnLoop, echoesManyMessagesThroughABacklog) {
    MainLoop& loop = this->driver.loop();
    SocketPair pair;
    auto left = Connection::create(loop, pair.release(0));
    auto right = Connection::create(loop, pair.release(1));
    std::vector<Note> echoed;
    right->onMessage = [&](const Note& note) { right->send(note); };
    left->onMessage = [&](const Note& note) { echoed.push_back(note); };
    left->start();
    right->start();
    // More than a socket buffer at once, so both sides go through their backlogs, but less than
    // the backlog limit.
    std::vector<Note> sent;
    for (int i = 0; i < 400; ++i) {
        sent.push_back(Note{std::to_string(i) + std::string(100, 'e')});
        left->send(sent.back());
    }
    ASSERT_TRUE(this->driver.waitFor([&] { return echoed.size() == sent.size(); }));
    EXPECT_EQ(echoed, sent);
    EXPECT_FALSE(left->isClosed());
    EXPECT_FALSE(right->isClosed());
}

// Reading at the owner's pace.

TEST_F(LineConnectionTest, aHeldConnectionReadsOnlyWhenAskedThenAllThatWaitsAndItsEnd) {
    connection->holdReading(true);
    EXPECT_EQ(loop.readableWatchCount(), 0u);
    std::string lines;
    for (char c : {'a', 'b', 'c'}) // 9 KB: more than one read's worth
        lines += nlohmann::json{{"text", std::string(3000, c)}}.dump() + "\n";
    peer.write(lines);
    EXPECT_TRUE(received.empty());
    connection->readWaiting();
    ASSERT_EQ(received.size(), 3u);
    EXPECT_EQ(received[2].text[0], 'c');

    connection->holdReading(false);
    peer.write("{\"text\":\"d\"}\n");
    EXPECT_EQ(received.size(), 4u);

    connection->holdReading(true);
    ::shutdown(pair.fds[1], SHUT_WR);
    loop.runPending();
    EXPECT_EQ(closes, 0);
    connection->readWaiting();
    EXPECT_EQ(closes, 1);
    EXPECT_TRUE(connection->isClosed());
}
