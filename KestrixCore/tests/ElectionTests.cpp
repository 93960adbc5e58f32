#include "KestrixCore/Election.h"
#include "KestrixProtocol/LineCoding.h"
#include "KestrixProtocol/Messages.h"
#include "KestrixProtocol/UnixSocket.h"
#include "TempFolder.h"

#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <gtest/gtest.h>
#include <optional>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

using namespace kestrix;
using kestrix::core::Election;

namespace {

using testsupport::TempFolder;

// Holds the lock as a running broker would (another open file description of the lock file).
int holdLock(const BrokerPlace& place) {
    place.ensureDirectory();
    int fd = ::open(place.lock().c_str(), O_RDWR | O_CREAT, 0600);
    EXPECT_EQ(::flock(fd, LOCK_EX | LOCK_NB), 0);
    return fd;
}

// A running broker's socket side, on a thread: answers one question with the given lines after
// reading the question's two lines.
class FakeRunningBroker {
public:
    FakeRunningBroker(const BrokerPlace& place, std::vector<BrokerMessage> answer)
        : listenFD_(UnixSocket::listen(place.socket().string())) {
        thread_ = std::thread([this, answer] {
            int fd = ::accept(listenFD_, nullptr, nullptr);
            if (fd < 0) return;
            LineDecoder<ClientMessage> decoder;
            char buffer[4096];
            while (questions_.size() < 2) {
                ssize_t n = ::read(fd, buffer, sizeof buffer);
                if (n <= 0) break;
                for (auto& m : decoder.feed(std::string_view(buffer, std::size_t(n))))
                    questions_.push_back(m);
            }
            for (const auto& m : answer) {
                std::string line = LineEncoder::encode(m);
                (void)::send(fd, line.data(), line.size(), MSG_NOSIGNAL);
            }
            ::close(fd);
        });
    }
    ~FakeRunningBroker() {
        ::shutdown(listenFD_, SHUT_RDWR);
        thread_.join();
        ::close(listenFD_);
    }
    std::vector<ClientMessage> questions() {
        thread_.join();
        thread_ = std::thread([] {});
        return questions_;
    }

private:
    int listenFD_;
    std::thread thread_;
    std::vector<ClientMessage> questions_;
};

Election::Timing fast() {
    Election::Timing t;
    t.questions = 3;
    t.receiveTimeout = 0.2;
    t.sleep = [](double) {};
    return t;
}

} // namespace

TEST(Election, nobodyRunningElectsAtOnceWithoutLogging) {
    TempFolder t;
    BrokerPlace place(t.path + "/home");
    std::vector<std::string> lines;
    auto outcome = Election::run(
        place, 15, [&](const std::string& l) { lines.push_back(l); }, fast());
    ASSERT_EQ(outcome.kind, Election::Outcome::Kind::elected);
    EXPECT_TRUE(lines.empty());
    struct stat st {};
    ASSERT_EQ(::stat(place.lock().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    // The lock is really held: another open file cannot take it.
    int other = ::open(place.lock().c_str(), O_RDWR);
    EXPECT_NE(::flock(other, LOCK_EX | LOCK_NB), 0);
    ::close(other);
    // And it is not handed to programs the broker starts.
    EXPECT_TRUE(::fcntl(outcome.lockFile, F_GETFD) & FD_CLOEXEC);
    ::close(outcome.lockFile);
}

TEST(Election, aFolderOrLockOfAnotherUserOrNoFolderIsRefusedAnOpenLockIsMadePrivate) {
    struct Case {
        std::function<void(const BrokerPlace&)> plant;
        std::optional<std::string> failure; // none: elected
    };
    for (const Case& c : std::vector<Case>{
             {[](const BrokerPlace& p) { ASSERT_EQ(::chown(p.directory().c_str(), 65534, 0), 0); },
              "belongs to user 65534"},
             {[](const BrokerPlace& p) { ASSERT_EQ(::chown(p.lock().c_str(), 65534, 0), 0); },
              "broker.lock belongs to user 65534"},
             {[](const BrokerPlace& p) {
                  std::filesystem::remove_all(p.directory());
                  std::ofstream(p.directory()).close(); // the folder is a plain file
              },
              "home/broker.lock: Not a directory"},
             // A crashed broker's lock file is taken over, and made private if it was not.
             {[](const BrokerPlace& p) { ::chmod(p.lock().c_str(), 0666); }, std::nullopt},
         }) {
        TempFolder t;
        BrokerPlace place(t.path + "/home");
        place.ensureDirectory();
        ::close(::open(place.lock().c_str(), O_RDWR | O_CREAT, 0600));
        c.plant(place);
        auto outcome = Election::run(
            place, 15, [](const std::string&) {}, fast());
        if (c.failure) {
            EXPECT_EQ(outcome.kind, Election::Outcome::Kind::failed);
            EXPECT_NE(outcome.text.find(*c.failure), std::string::npos) << outcome.text;
            continue;
        }
        ASSERT_EQ(outcome.kind, Election::Outcome::Kind::elected);
        struct stat st {};
        ::fstat(outcome.lockFile, &st);
        EXPECT_EQ(st.st_mode & 0777, 0600u);
        ::close(outcome.lockFile);
    }
}

TEST(Election, aHeldLockWithNoBrokerAnsweringFailsAfterAllQuestions) {
    for (bool listening : {false, true}) {
        TempFolder t;
        BrokerPlace place(t.path);
        int held = holdLock(place);
        // Listening, the connections wait unanswered in the queue.
        const int silent = listening ? UnixSocket::listen(place.socket().string()) : -1;
        auto timing = fast();
        int sleeps = 0;
        timing.sleep = [&](double s) {
            EXPECT_DOUBLE_EQ(s, 0.1);
            ++sleeps;
        };
        auto outcome = Election::run(
            place, 15, [](const std::string&) {}, timing);
        EXPECT_EQ(outcome, Election::Outcome::failed("lock held, but no broker answers"));
        EXPECT_EQ(sleeps, 3); // the pause also follows the last question
        ::close(held);
        ::close(silent);
    }
}

TEST(Election, sameOrHigherVersionStaysAndNoWelcomeMeansVersionZero) {
    TempFolder t;
    BrokerPlace place(t.path);
    int held = holdLock(place);
    {
        FakeRunningBroker running(place, {BrokerMessage{BrokerMessage::Welcome{15, 2}},
                                          BrokerMessage{BrokerMessage::Devices{}},
                                          BrokerMessage{BrokerMessage::HandingOver{false}}});
        auto outcome = Election::run(
            place, 15, [](const std::string&) {}, fast());
        EXPECT_EQ(outcome, Election::Outcome::stays(15));
        EXPECT_EQ(running.questions(),
                  (std::vector<ClientMessage>{
                      ClientMessage{Hello{2, 15, ::getpid(), "Kestrix v15", std::nullopt}},
                      ClientMessage{ClientMessage::TakeOver{15}}}));
    }
    {
        FakeRunningBroker running(place, {BrokerMessage{BrokerMessage::Welcome{17, 2}},
                                          BrokerMessage{BrokerMessage::HandingOver{false}}});
        EXPECT_EQ(Election::run(
                      place, 15, [](const std::string&) {}, fast()),
                  Election::Outcome::stays(17));
    }
    {
        FakeRunningBroker running(place, {BrokerMessage{BrokerMessage::HandingOver{false}}});
        EXPECT_EQ(Election::askToHandOver(place, 16, 1.0), (Election::Answer{0, false}));
    }
    ::close(held);
}

// The old broker lets go of the lock after a few polls, or keeps it for good.
TEST(Election, olderBrokerHandsOverAndTheLockIsTakenOnceItLetsGoWithinFiveSeconds) {
    for (bool letsGo : {true, false}) {
        TempFolder t;
        BrokerPlace place(t.path);
        int held = holdLock(place);
        FakeRunningBroker running(place, {BrokerMessage{BrokerMessage::Welcome{14, 2}},
                                          BrokerMessage{BrokerMessage::HandingOver{true}}});
        auto timing = fast();
        double now = 0;
        int tries = 0;
        timing.clock = [&] { return now; };
        timing.sleep = [&](double s) {
            now += s;
            ++tries;
            if (letsGo && now > 0.05 && held >= 0) {
                ::close(held);
                held = -1;
            }
        };
        std::vector<std::string> lines;
        auto outcome = Election::run(
            place, 15, [&](const std::string& l) { lines.push_back(l); }, timing);
        if (!letsGo) {
            EXPECT_EQ(outcome, Election::Outcome::failed("old broker did not let go of the lock"));
            EXPECT_GE(tries, 249);
            EXPECT_LE(tries, 251);
            ::close(held);
            continue;
        }
        ASSERT_EQ(outcome.kind, Election::Outcome::Kind::elected);
        EXPECT_EQ(lines, (std::vector<std::string>{"running broker v14 hands over to v15",
                                                   "lock taken after 60 ms"}));
        ::close(outcome.lockFile);
    }
}
