#include "KestrixProtocol/UnixSocket.h"
#include "ProtocolTestSupport.h"
#include "TempFolder.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <string>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace kestrix;
using kestrix::test::openDescriptorCount;
using testsupport::TempFolder;

namespace {

// Closes a descriptor at the end of a test.
struct Closer {
    int fd;
    ~Closer() {
        if (fd >= 0) ::close(fd);
    }
};

bool isSocketFile(const std::string& path) {
    struct stat info {};
    return ::lstat(path.c_str(), &info) == 0 && S_ISSOCK(info.st_mode);
}

bool blocksAndClosesOnExec(int fd) {
    return (::fcntl(fd, F_GETFD) & FD_CLOEXEC) != 0 && (::fcntl(fd, F_GETFL) & O_NONBLOCK) == 0;
}

std::string listenFailure(const std::string& path) {
    try {
        ::close(UnixSocket::listen(path));
    } catch (const UnixSocket::Failure& failure) {
        return failure.description();
    }
    return "";
}

// A path in the folder exactly `length` bytes long.
std::string pathOfLength(const TempFolder& folder, std::size_t length) {
    return folder.path + "/" + std::string(length - folder.path.size() - 1, 'p');
}

// Connects to the listener, accepts, and checks that bytes pass.
void expectConnects(int listener, const std::string& path) {
    auto client = UnixSocket::connect(path);
    ASSERT_TRUE(client) << path;
    Closer closer{*client};
    EXPECT_TRUE(blocksAndClosesOnExec(*client));
    Closer server{::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC)};
    ASSERT_GE(server.fd, 0);
    ASSERT_EQ(::send(*client, "hi", 2, MSG_NOSIGNAL), 2);
    char buffer[2];
    ASSERT_EQ(::recv(server.fd, buffer, 2, MSG_WAITALL), 2);
    EXPECT_EQ(std::string(buffer, 2), "hi");
}

} // namespace

TEST(UnixSocketPath, upTo103BytesOfUtf8IsAcceptedAndFailuresGiveTheBindTextAndLeakNothing) {
    TempFolder t;
    std::string path = pathOfLength(t, 104);
    EXPECT_EQ(listenFailure(path), "path too long for a socket: " + path);
    EXPECT_FALSE(isSocketFile(path));
    // "é" is two bytes: 101 + 2 = 103 fits, 102 + 2 = 104 does not.
    std::string tooLong = pathOfLength(t, 102) + "\xC3\xA9";
    EXPECT_EQ(listenFailure(tooLong), "path too long for a socket: " + tooLong);
    Closer utf8{UnixSocket::listen(pathOfLength(t, 101) + "\xC3\xA9")};
    EXPECT_TRUE(isSocketFile(pathOfLength(t, 101) + "\xC3\xA9"));

    Closer listener{UnixSocket::listen(path.substr(0, 103))};
    expectConnects(listener.fd, path.substr(0, 103));
    // Even with a listener at the 103-byte prefix, the longer path does not connect there.
    std::size_t before = openDescriptorCount();
    EXPECT_FALSE(UnixSocket::connect(path));
    EXPECT_EQ(openDescriptorCount(), before);
    EXPECT_EQ(listenFailure(""), "bind : Invalid argument");
    EXPECT_FALSE(UnixSocket::connect(""));
    const std::string missing = t.path + "/missing/broker.sock";
    EXPECT_EQ(listenFailure(missing), "bind " + missing + ": No such file or directory");
    EXPECT_FALSE(UnixSocket::connect(missing));
    EXPECT_EQ(openDescriptorCount(), before);
}

TEST(UnixSocketListen, replacesAStaleSocketOrAFileWithOneOnlyItsOwnerMayUse) {
    TempFolder t;
    std::string path = t.path + "/broker.sock";
    ::close(UnixSocket::listen(path)); // the old broker died, its file stayed
    ASSERT_TRUE(isSocketFile(path));
    EXPECT_FALSE(UnixSocket::connect(path)); // stale: nobody answers
    Closer listener{UnixSocket::listen(path)};
    expectConnects(listener.fd, path);
    EXPECT_TRUE(blocksAndClosesOnExec(listener.fd));

    t.write("file.sock", "left over");
    mode_t old = ::umask(0);
    Closer other{UnixSocket::listen(t.path + "/file.sock")};
    ::umask(old);
    struct stat info {};
    ASSERT_EQ(::stat((t.path + "/file.sock").c_str(), &info), 0);
    EXPECT_TRUE(S_ISSOCK(info.st_mode));
    EXPECT_EQ(info.st_mode & 07777, mode_t(0600));
}

TEST(UnixSocketConnect, startConnectNeverBlocksAndFinishConnectTellsAConnectedSocket) {
    TempFolder t;
    std::string path = t.path + "/broker.sock";
    EXPECT_FALSE(UnixSocket::startConnect(path)); // nobody listens
    Closer listener{UnixSocket::listen(path)};
    auto started = UnixSocket::startConnect(path);
    ASSERT_TRUE(started);
    Closer client{started->fd};
    EXPECT_TRUE(started->connected); // a listener with room in its queue takes it at once
    EXPECT_NE(::fcntl(client.fd, F_GETFL) & O_NONBLOCK, 0);
    EXPECT_TRUE(UnixSocket::finishConnect(client.fd));
    Closer lone{::socket(AF_UNIX, SOCK_STREAM, 0)};
    EXPECT_FALSE(UnixSocket::finishConnect(lone.fd));
}
