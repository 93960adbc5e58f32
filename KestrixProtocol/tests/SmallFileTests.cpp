#include "KestrixProtocol/SmallFile.h"
#include "TempFolder.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>

using namespace kestrix;

// Only a regular file within the bound is read; a FIFO, a socket or a link (where refused) is
// told apart without being waited on.
TEST(SmallFile, readsOnlyASmallRegularFile) {
    testsupport::TempFolder t;
    t.write("ten", "0123456789");
    t.write("eleven", "0123456789A");
    t.write("empty", "");
    ::mkfifo((t.path + "/fifo").c_str(), 0600);
    std::filesystem::create_directory(t.path + "/folder");
    std::filesystem::create_symlink(t.path + "/ten", t.path + "/link");
    int listener = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::string socketPath = t.path + "/socket";
    socketPath.copy(address.sun_path, sizeof address.sun_path - 1);
    ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);

    using S = SmallFile::Status;
    const struct {
        const char* name;
        LastLink link;
        S status;
        std::string bytes;
    } rows[] = {
        {"ten", LastLink::follow, S::ok, "0123456789"},
        {"eleven", LastLink::follow, S::tooLarge, ""},
        {"empty", LastLink::follow, S::ok, ""},
        {"missing", LastLink::follow, S::missing, ""},
        {"ten/under", LastLink::follow, S::missing, ""},
        {"fifo", LastLink::follow, S::notRegular, ""},
        {"folder", LastLink::follow, S::notRegular, ""},
        {"socket", LastLink::follow, S::notRegular, ""},
        {"link", LastLink::follow, S::ok, "0123456789"},
        {"link", LastLink::refuse, S::notRegular, ""},
    };
    for (const auto& row : rows) {
        SmallFile file = readSmallFile(t.path + "/" + row.name, 10, row.link);
        EXPECT_EQ(file.status, row.status) << row.name;
        EXPECT_EQ(file.bytes, row.bytes) << row.name;
    }
    // Files that tell no size, as those of /proc.
    SmallFile status = readSmallFile("/proc/self/status", 64 * 1024);
    EXPECT_EQ(status.status, S::ok);
    EXPECT_NE(status.bytes.find("Pid:"), std::string::npos);
    EXPECT_EQ(readSmallFile("/proc/self/status", 10).status, S::tooLarge);
    ::close(listener);
}
