// The folder of the KWin script copies, as another program of the account (or another user) may
// have prepared it: a link, someone else's folder, links planted at the copies' names.
#include "DesktopShells.h"
#include "KWinScriptFrontApp.h"
#include "KestrixProtocol/QtMainLoop.h"
#include "QtWait.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <filesystem>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>

using namespace kestrix::core;
using namespace qtwait;
namespace fs = std::filesystem;

namespace {

mode_t modeOf(const std::string& path) {
    struct stat info {};
    ::lstat(path.c_str(), &info);
    return info.st_mode;
}

// A process id that no process has any more.
pid_t endedProcess() {
    pid_t child = ::fork();
    if (child == 0) ::_exit(0);
    ::waitpid(child, nullptr, 0);
    return child;
}

struct KWinCopiesTest : WithApplication, ::testing::Test {
    testsupport::TempFolder t;
    shelltest::PrivateBus privateBus{t.path + "/bus.log"};
    kestrix::QtMainLoop loop;
    FrontAppIdentityRef identity =
        std::make_shared<const FrontAppIdentity>(t.path + "/proc", std::vector<std::string>{});
    QDBusConnection programBus =
        QDBusConnection::connectToBus(QString::fromStdString(privateBus.address()), "program");
    std::string folder = t.path + "/run/vantor-front-app";
    std::string copy = folder + "/vantor-" + std::to_string(::getpid()) + ".js";
    std::vector<std::string> logged;

    ~KWinCopiesTest() override { QDBusConnection::disconnectFromBus("program"); }

    std::unique_ptr<KWinScriptFrontApp> start() {
        KWinScriptFrontApp::Options options{"// the script\n", folder, "vantor", 10.0, 0.01};
        return std::make_unique<KWinScriptFrontApp>(
            loop, identity, programBus, options,
            [this](const std::string& line) { logged.push_back(line); });
    }
};

} // namespace

// A link in place of the folder, or a folder of another user, is refused with a log line and
// left as it is; a folder of this user that others may read is made private.
TEST_F(KWinCopiesTest, onlyARealFolderOfThisUserTakesTheCopy) {
    const std::string elsewhere = t.path + "/elsewhere";
    const std::string theirs = elsewhere + "/kestrix-" + std::to_string(endedProcess()) + ".js";
    const struct {
        const char* name;
        std::function<void()> make;
        std::string why; // empty when the copy is written
    } rows[] = {
        {"a link to another folder",
         [&] {
             fs::create_directories(t.path + "/run");
             fs::create_directory_symlink(elsewhere, folder);
         },
         "is not a folder (a link or a file is there)"},
        {"a folder of another user",
         [&] {
             fs::create_directories(folder);
             ASSERT_EQ(::chown(folder.c_str(), 65534, 65534), 0);
         },
         "belongs to user 65534"},
        {"a folder of this user open to others",
         [&] {
             fs::create_directories(folder);
             ::chmod(folder.c_str(), 0755);
         },
         ""},
        {"no folder yet", [] {}, ""},
    };
    for (const auto& row : rows) {
        fs::remove_all(t.path + "/run");
        fs::remove_all(elsewhere);
        fs::create_directory(elsewhere);
        ::chmod(elsewhere.c_str(), 0755);
        std::ofstream(theirs) << "theirs";
        logged.clear();
        row.make();
        auto source = start();
        if (row.why.empty()) {
            EXPECT_TRUE(S_ISREG(modeOf(copy))) << row.name;
            EXPECT_EQ(modeOf(folder) & 07777, 0700u) << row.name;
            EXPECT_TRUE(logged.empty()) << row.name;
        } else {
            EXPECT_FALSE(source->status().working()) << row.name;
            EXPECT_NE(source->status().reason.find("the KWin script could not be written"),
                      std::string::npos)
                << row.name;
            EXPECT_NE(source->status().reason.find(row.why), std::string::npos)
                << row.name << ": " << source->status().reason;
            const std::string line = "the KWin script is not written: " + folder + " " + row.why;
            EXPECT_EQ(std::count(logged.begin(), logged.end(), line), 1) << row.name;
            EXPECT_FALSE(fs::exists(fs::symlink_status(copy))) << row.name;
        }
        EXPECT_EQ(modeOf(elsewhere) & 07777, 0755u) << row.name;
        EXPECT_TRUE(fs::exists(theirs)) << row.name;
        EXPECT_FALSE(fs::exists(elsewhere + "/vantor-" + std::to_string(::getpid()) + ".js"));
    }
}

// A link planted at the copy's name is replaced by a new file; what it points to is untouched.
// At the next start of KWin, copies of ended programs go, but only regular files.
TEST_F(KWinCopiesTest, theCopyIsANewFileAndTheSweepRemovesOnlyRegularFiles) {
    fs::create_directories(folder);
    ::chmod(folder.c_str(), 0700);
    const std::string target = t.path + "/precious.txt";
    std::ofstream(target) << "precious";
    fs::create_symlink(target, copy);
    const std::string ended = std::to_string(endedProcess());
    const std::string staleFile = folder + "/kestrix-" + ended + ".js";
    const std::string staleLink = folder + "/other-" + ended + ".js";
    const std::string staleFolder = folder + "/folder-" + ended + ".js";
    std::ofstream(staleFile) << "old";
    fs::create_symlink(target, staleLink);
    fs::create_directory(staleFolder);

    auto source = start();
    EXPECT_TRUE(S_ISREG(modeOf(copy)));
    EXPECT_EQ(testsupport::readFile(target), "precious");
    EXPECT_NE(testsupport::readFile(copy).find("// the script"), std::string::npos);

    // KWin appears: the sweep runs.
    QDBusConnection kwin =
        QDBusConnection::connectToBus(QString::fromStdString(privateBus.address()), "kwin");
    kwin.interface()->registerService("org.kde.KWin");
    EXPECT_TRUE(waitFor([&] { return !fs::exists(staleFile); }));
    EXPECT_TRUE(fs::is_symlink(staleLink));
    EXPECT_EQ(testsupport::readFile(target), "precious");
    EXPECT_TRUE(fs::is_directory(staleFolder));
    EXPECT_TRUE(S_ISREG(modeOf(copy)));
    source.reset();
    EXPECT_FALSE(fs::exists(fs::symlink_status(copy)));
    QDBusConnection::disconnectFromBus("kwin");
}
