// The real vantor program, run as a user other than root, with a settings file it cannot read, a
// FIFO in the file's place, a file with a syntax error, or a broker folder of root's: it starts,
// says once what is wrong and what to do, and writes over nothing it could not read.
#include "VantorRun.h"

#include <QString>
#include <filesystem>
#include <fstream>
#include <functional>
#include <gtest/gtest.h>
#include <sys/stat.h>

namespace vantor {
namespace {

constexpr uid_t stranger = 65534; // "nobody"

// Reads the program's standard error until it holds every one of `parts` (at most `seconds`).
QString errorsUntil(VantorRun& run, const QStringList& parts, int seconds) {
    QString err;
    auto all = [&] {
        for (const QString& part : parts)
            if (!err.contains(part)) return false;
        return true;
    };
    for (int i = 0; i < seconds * 10 && !all(); ++i) {
        run.process->waitForReadyRead(100);
        err += QString::fromUtf8(run.process->readAllStandardError());
    }
    return err;
}

TEST(VantorProcess, aSettingsFileThatCannotBeReadIsToldOnceAndNeverWrittenOver) {
    const std::string stored = "{\"allowed_apps\": [\"org.gimp.GIMP\"],\n  oops}";
    struct Case {
        const char* what;
        std::function<void(const std::string&)> make;
        QString says; // after the settings file's path
        std::function<void(const std::string&)> check;
    } cases[] = {
        {"root's file",
         [&](const std::string& p) {
             std::ofstream(p) << stored;
             ::chmod(p.c_str(), 0600);
         },
         ": Permission denied (it belongs to root); running on default settings, which are not "
         "saved, and the file is left as it is; give it back with \"sudo chown nobody: ",
         [&](const std::string& p) {
             struct stat info {};
             EXPECT_TRUE(::stat(p.c_str(), &info) == 0 && info.st_uid == 0);
             EXPECT_EQ(testsupport::readFile(p), stored);
         }},
        {"FIFO", [](const std::string& p) { ::mkfifo(p.c_str(), 0600); },
         " is a FIFO, not a regular file; running on default settings",
         [](const std::string& p) {
             struct stat info {};
             EXPECT_TRUE(::stat(p.c_str(), &info) == 0 && S_ISFIFO(info.st_mode));
         }},
        {"syntax error", [&](const std::string& p) { std::ofstream(p) << stored; },
         " is not valid JSON (line 2, column 3); its settings are ignored, and a copy of it is "
         "kept in ",
         [&](const std::string& p) {
             EXPECT_EQ(testsupport::readFile(p + ".bad"), stored);
             EXPECT_NE(testsupport::readFile(p).find("\"welcomed\": true"), std::string::npos);
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        testsupport::TempFolder home;
        std::filesystem::create_directory(home.path + "/config");
        const std::string path = home.path + "/config/me.orvella.Vantor.json";
        c.make(path);
        const QString root = QString::fromStdString(home.path);
        VantorRun run(home, {}, {"QT_QPA_PLATFORM=offscreen", "HOME=" + root}, stranger);
        const QString told = QString::fromStdString(path) + c.says;
        QString err = errorsUntil(run, {told, "connected to Kestrix"}, 20);
        EXPECT_TRUE(err.contains(told)) << err.toStdString();
        EXPECT_EQ(err.count(told), 1) << "told once";
        run.quit();
        EXPECT_EQ(run.status, 0) << "ends when asked";
        c.check(path);
        endBroker(root + "/kestrix");
    }
}

TEST(VantorProcess, aBrokerFolderOfAnotherUserIsToldWithWhatToDo) {
    testsupport::TempFolder home;
    const QString root = QString::fromStdString(home.path), folder = root + "/kestrix";
    std::filesystem::create_directory(folder.toStdString()); // root's, as "sudo vantor" leaves it
    VantorRun run(home, {}, {"QT_QPA_PLATFORM=offscreen", "HOME=" + root}, stranger);
    const QString told = "Kestrix could not be reached: the broker folder " + folder +
                         " belongs to user 0, so Kestrix does not start; give it back with "
                         "\"sudo chown -R nobody: " +
                         folder + "\"";
    QString err = errorsUntil(run, {told}, 20);
    EXPECT_TRUE(err.contains(told)) << err.toStdString();
    run.quit();
    EXPECT_EQ(run.status, 0);
}

} // namespace
} // namespace vantor
