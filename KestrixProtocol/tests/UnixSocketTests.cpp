#include "KestrixProtocol/UnixSocket.h"
#include "TransportTestSupport.h"

#include <fcntl.h>
#include <fstream>
#include <gtest/gtest.h>
#include <string>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace kestrix;
using kestrix::test::openDescriptorCount;
using kestrix::test::TempDir;

namespace {

// Closes a descriptor at the end of a test.
struct Closer {
    int fd;
    ~Closer() {
        if (fd >= 0) ::close(fd);
    }
};

mode_t permissions(const std::string& path) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) return 07777;
    return info.st_mode & 07777;
}

bool isSocketFile(const std::string& path) {
    struct stat info {};
    return ::lstat(path.c_str(), &info) == 0 && S_ISSOCK(info.st_mode);
}

bool closesOnExec(int fd) {
    return (::fcntl(fd, F_GETFD) & FD_CLOEXEC) != 0;
}

std::string listenFailure(const std::string& path) {
    try {
        int fd = UnixSocket::listen(path);
        ::close(fd);
    } catch (const UnixSocket::Failure& failure) {
        return failure.description();
    }
    return "";
}

// Accepts one pending connection and checks that bytes pass both ways.
void expectConnected(int listener, int client) {
    Closer server{::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC)};
    ASSERT_GE(server.fd, 0);
    ASSERT_EQ(::send(client, "hi", 2, MSG_NOSIGNAL), 2);
    char buffer[2];
    ASSERT_EQ(::recv(server.fd, buffer, 2, MSG_WAITALL), 2);
    EXPECT_EQ(std::string(buffer, 2), "hi");
}

} // namespace

TEST(UnixSocketPath, pathOf103BytesIsAccepted) {
    TempDir dir;
    std::string path = dir.pathOfLength(103);
    Closer listener{UnixSocket::listen(path)};
    EXPECT_TRUE(isSocketFile(path));
    auto client = UnixSocket::connect(path);
    ASSERT_TRUE(client);
    Closer closer{*client};
    expectConnected(listener.fd, *client);
}

TEST(UnixSocketPath, pathOf104BytesIsRefusedByBoth) {
    TempDir dir;
    std::string path = dir.pathOfLength(104);
    EXPECT_EQ(listenFailure(path), "path too long for a socket: " + path);
    EXPECT_FALSE(isSocketFile(path));
    // Even with a listener at the 103-byte prefix, the longer path does not connect there.
    Closer listener{UnixSocket::listen(path.substr(0, 103))};
    std::size_t before = openDescriptorCount();
    EXPECT_FALSE(UnixSocket::connect(path));
    EXPECT_EQ(openDescriptorCount(), before);
}

TEST(UnixSocketPath, lengthCountsUtf8Bytes) {
    TempDir dir;
    // "é" is two bytes: 101 + 2 = 103 fits, 102 + 2 = 104 does not.
    std::string fits = dir.pathOfLength(101) + "\xC3\xA9";
    std::string tooLong = dir.pathOfLength(102) + "\xC3\xA9";
    ASSERT_EQ(fits.size(), 103u);
    Closer listener{UnixSocket::listen(fits)};
    EXPECT_TRUE(isSocketFile(fits));
    EXPECT_EQ(listenFailure(tooLong), "path too long for a socket: " + tooLong);
}

TEST(UnixSocketPath, emptyPathIsRefused) {
    EXPECT_EQ(listenFailure(""), "bind : Invalid argument");
    EXPECT_FALSE(UnixSocket::connect(""));
}

TEST(UnixSocketListen, replacesAStaleSocketFile) {
    TempDir dir;
    std::string path = dir.path() + "/broker.sock";
    ::close(UnixSocket::listen(path)); // the old broker died, its file stayed
    ASSERT_TRUE(isSocketFile(path));
    EXPECT_FALSE(UnixSocket::connect(path)); // stale: nobody answers
    Closer listener{UnixSocket::listen(path)};
    auto client = UnixSocket::connect(path);
    ASSERT_TRUE(client);
    Closer closer{*client};
    expectConnected(listener.fd, *client);
}

TEST(UnixSocketListen, replacesARegularFile) {
    TempDir dir;
    std::string path = dir.path() + "/broker.sock";
    std::ofstream(path) << "left over";
    Closer listener{UnixSocket::listen(path)};
    EXPECT_TRUE(isSocketFile(path));
}

TEST(UnixSocketListen, socketFileIsReadableAndWritableByTheOwnerOnly) {
    TempDir dir;
    std::string path = dir.path() + "/broker.sock";
    mode_t old = ::umask(0);
    Closer listener{UnixSocket::listen(path)};
    ::umask(old);
    EXPECT_EQ(permissions(path), mode_t(0600));
}

TEST(UnixSocketListen, missingFolderGivesTheBindText) {
    TempDir dir;
    std::string path = dir.path() + "/missing/broker.sock";
    EXPECT_EQ(listenFailure(path), "bind " + path + ": No such file or directory");
}

TEST(UnixSocketListen, failureLeavesNoDescriptorOpen) {
    TempDir dir;
    std::size_t before = openDescriptorCount();
    listenFailure(dir.path() + "/missing/broker.sock");
    listenFailure(dir.pathOfLength(104));
    EXPECT_EQ(openDescriptorCount(), before);
}

TEST(UnixSocketListen, descriptorIsBlockingAndClosedOnExec) {
    TempDir dir;
    Closer listener{UnixSocket::listen(dir.path() + "/broker.sock")};
    EXPECT_TRUE(closesOnExec(listener.fd));
    EXPECT_EQ(::fcntl(listener.fd, F_GETFL) & O_NONBLOCK, 0);
}

TEST(UnixSocketConnect, noListenerGivesAbsentAndLeaksNothing) {
    TempDir dir;
    std::size_t before = openDescriptorCount();
    EXPECT_FALSE(UnixSocket::connect(dir.path() + "/nobody.sock"));
    EXPECT_FALSE(UnixSocket::connect(dir.path() + "/missing/nobody.sock"));
    EXPECT_EQ(openDescriptorCount(), before);
}

TEST(UnixSocketConnect, descriptorIsBlockingAndClosedOnExec) {
    TempDir dir;
    std::string path = dir.path() + "/broker.sock";
    Closer listener{UnixSocket::listen(path)};
    auto client = UnixSocket::connect(path);
    ASSERT_TRUE(client);
    Closer closer{*client};
    EXPECT_TRUE(closesOnExec(*client));
    EXPECT_EQ(::fcntl(*client, F_GETFL) & O_NONBLOCK, 0);
}

TEST(UnixSocketConnect, writingToAVanishedPeerRaisesNoSignal) {
    TempDir dir;
    std::string path = dir.path() + "/broker.sock";
    Closer listener{UnixSocket::listen(path)};
    auto client = UnixSocket::connect(path);
    ASSERT_TRUE(client);
    Closer closer{*client};
    ::close(::accept4(listener.fd, nullptr, nullptr, SOCK_CLOEXEC));
    // Without MSG_NOSIGNAL this send would kill the test program with SIGPIPE.
    EXPECT_EQ(::send(*client, "x", 1, MSG_NOSIGNAL), -1);
    EXPECT_EQ(errno, EPIPE);
}
