#include "KestrixProtocol/BoundedJson.h"
#include "KestrixProtocol/UserDefaults.h"
#include "KestrixProtocol/VirtualMainLoop.h"
#include "FileReplacements.h"
#include "SettingsFile.h"
#include "TempFolder.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <grp.h>
#include <pwd.h>
#include <gtest/gtest.h>
#include <string>
#include <utility>
#include <csignal>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

using kestrix::UserDefaults;
using nlohmann::json;
using testsupport::readFile;
using testsupport::TempFolder;

namespace {

void writeFile(const std::string& path, const std::string& text) {
    // Written the way another program would: a new file renamed over the old one.
    std::string temp = path + ".other";
    std::ofstream(temp) << text;
    std::filesystem::rename(temp, path);
}

} // namespace

TEST(UserDefaults, setWritesOneJsonObjectThatAnotherInstanceReadsTypeByType) {
    TempFolder t;
    std::string path = t.path + "/sub/folder/kestrix.json";
    {
        UserDefaults d(path);
        EXPECT_FALSE(d.value("showsMenuBarItem")); // no file yet
        EXPECT_TRUE(d.set("disabledDevices", json::array({"serial:A", "serial:B"})));
        EXPECT_TRUE(d.set("showsMenuBarItem", true));
        EXPECT_TRUE(d.set("count", 3));
        EXPECT_TRUE(d.set("nested", json{{"a", 1}}));
        EXPECT_TRUE(d.set("off", false));
        // Not UTF-8 (a name from the file system, say): stored with the bad bytes marked.
        EXPECT_TRUE(d.set("app", std::string("caf\xE9")));
    }
    EXPECT_EQ(json::parse(readFile(path))["showsMenuBarItem"], true);
    UserDefaults again(path);
    EXPECT_EQ(again.get<std::vector<std::string>>("disabledDevices"),
              (std::vector<std::string>{"serial:A", "serial:B"}));
    EXPECT_EQ(again.get<bool>("showsMenuBarItem"), true);
    EXPECT_EQ(again.get<int>("count"), 3);
    EXPECT_EQ(again.value("nested"), (json{{"a", 1}}));
    EXPECT_EQ(again.get<std::string>("app"), "caf\uFFFD");
    // A value of another type reads as absent; text reads take true and false, which files
    // written by hand say for flags.
    EXPECT_FALSE(again.get<bool>("app"));
    EXPECT_FALSE(again.get<int>("app"));
    EXPECT_FALSE(again.get<std::vector<std::string>>("nested"));
    EXPECT_FALSE(again.get<std::string>("disabledDevices"));
    EXPECT_EQ(again.get<std::string>("showsMenuBarItem"), "1");
    EXPECT_EQ(again.get<std::string>("off"), "0");
    // The write leaves no temporary file behind.
    auto folder = std::filesystem::directory_iterator(t.path + "/sub/folder");
    EXPECT_EQ(std::distance(folder, std::filesystem::directory_iterator()), 1);
    struct stat st {};
    ASSERT_EQ(::stat((t.path + "/sub").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
}

TEST(UserDefaults, readsAndReloadsNoticeOutsideChangesAndTellOnlyTheKeysThatChanged) {
    TempFolder t;
    std::string path = t.path + "/k.json";
    UserDefaults d(path);
    d.set("same", 1);
    d.set("gone", 2);
    std::vector<std::string> told;
    d.addObserver([&](const std::string& key) { told.push_back(key); });
    writeFile(path, R"({"same": 1, "new": true})");
    d.reload();
    std::sort(told.begin(), told.end());
    EXPECT_EQ(told, (std::vector<std::string>{"gone", "new"}));
    writeFile(path, R"({"same": 1, "new": false})");
    EXPECT_EQ(d.get<bool>("new"), false); // a read alone notices
    EXPECT_EQ(told.back(), "new");
    UserDefaults theirs(path);
    theirs.set("b", 2);
    d.set("c", 3); // keeps what the other one added meanwhile
    EXPECT_EQ(json::parse(readFile(path)), (json{{"same", 1}, {"new", false}, {"b", 2}, {"c", 3}}));
}

TEST(UserDefaults, removeDeletesTheKeyAndObserversHearOwnChangesButNotUnchangedValues) {
    TempFolder t;
    std::string path = t.path + "/k.json";
    UserDefaults d(path);
    std::vector<std::string> told;
    int token = d.addObserver([&](const std::string& key) { told.push_back(key); });
    d.set("x", 1);
    EXPECT_TRUE(d.set("x", 1)); // unchanged, which is no failure
    d.set("b", 2);
    d.remove("missing");
    EXPECT_TRUE(d.remove("x"));
    EXPECT_FALSE(d.value("x"));
    EXPECT_EQ(json::parse(readFile(path)), (json{{"b", 2}}));
    EXPECT_EQ(told, (std::vector<std::string>{"x", "b", "x"}));
    d.removeObserver(token);
    d.set("y", 2);
    EXPECT_EQ(told.size(), 3u);
}

TEST(UserDefaults, changeSetsAndRemovesKeysInOneReplacementOfTheFile) {
    TempFolder t;
    std::string path = t.path + "/k.json";
    UserDefaults d(path);
    d.set("old", json{{"a", 1}});
    d.set("kept", 3);
    std::vector<std::string> told;
    d.addObserver([&](const std::string& key) { told.push_back(key); });
    testsupport::FileReplacements replacements(t.path);
    ASSERT_TRUE(replacements.ok());
    EXPECT_TRUE(d.change({{"old", std::nullopt}, {"new", json{{"a", {{"b", 1}}}}}, {"kept", 3},
                          {"missing", std::nullopt}}));
    EXPECT_EQ(replacements.take("k.json"), 1u);
    EXPECT_EQ(json::parse(readFile(path)), (json{{"kept", 3}, {"new", {{"a", {{"b", 1}}}}}}));
    EXPECT_EQ(told, (std::vector<std::string>{"old", "new"}));
    // Nothing that differs: no write at all.
    EXPECT_TRUE(d.change({{"kept", 3}, {"old", std::nullopt}}));
    EXPECT_EQ(replacements.take("k.json"), 0u);
}

TEST(UserDefaults, theFirstWriteRemovesTemporaryFilesOfWritersThatAreGone) {
    TempFolder t;
    std::string path = t.path + "/k.json";
    pid_t gone = ::fork();
    if (gone == 0) ::_exit(0);
    ASSERT_GT(gone, 0);
    ASSERT_EQ(::waitpid(gone, nullptr, 0), gone);
    struct Case {
        std::string name;
        bool stays;
    } cases[] = {
        {"k.json.tmp." + std::to_string(gone), false}, // its writer was killed mid-write
        {"k.json.tmp.1", true},                          // a writer that still runs
        {"k.json.tmp.x" + std::to_string(gone), true},   // not one of ours
        {"other.json.tmp." + std::to_string(gone), true},
    };
    for (const Case& c : cases)
        t.write(c.name, "{\"half\":");
    UserDefaults d(path);
    EXPECT_TRUE(d.set("x", 1));
    for (const Case& c : cases)
        EXPECT_EQ(std::filesystem::exists(t.path + "/" + c.name), c.stays) << c.name;
    EXPECT_EQ(json::parse(readFile(path)), (json{{"x", 1}}));
}

TEST(UserDefaults, aFileThatIsNotAnObjectIsMovedAsideBeforeTheFirstWriteAndAFileAsFolderFails) {
    TempFolder t;
    std::string path = t.path + "/k.json";
    std::ofstream(path) << "[1, 2";
    UserDefaults d(path);
    std::vector<std::string> lines;
    d.log = [&](const std::string& line) { lines.push_back(line); };
    EXPECT_FALSE(d.value("a"));
    EXPECT_EQ(readFile(path), "[1, 2"); // reading alone changes nothing
    EXPECT_TRUE(d.set("a", 1));
    EXPECT_EQ(readFile(path + ".bad"), "[1, 2");
    EXPECT_EQ(json::parse(readFile(path)), (json{{"a", 1}}));
    ASSERT_FALSE(lines.empty());
    EXPECT_NE(lines.back().find(".bad"), std::string::npos);
    // A path whose folder is a file fails with a log line.
    UserDefaults inFile(path + "/k.json");
    inFile.log = d.log;
    EXPECT_FALSE(inFile.set("a", 1));
    EXPECT_EQ(lines.back().rfind("cannot write " + path + "/k.json: ", 0), 0u);
}

TEST(UserDefaults, standardPathFollowsAnAbsoluteXdgConfigHomeThenHomeThenTheAccount) {
    const std::string saved = std::getenv("XDG_CONFIG_HOME") ? std::getenv("XDG_CONFIG_HOME") : "",
                      home = std::getenv("HOME") ? std::getenv("HOME") : "/";
    const passwd* account = ::getpwuid(::getuid());
    ASSERT_TRUE(account && account->pw_dir);
    const std::string accountHome = account->pw_dir;
    struct Case {
        const char *config, *home; // null: unset
        std::string path;
    } cases[] = {
        {"/tmp/cfg", "/home/someone", "/tmp/cfg/vantor.json"},
        {"relative/cfg", "/home/someone", "/home/someone/.config/vantor.json"},
        {nullptr, nullptr, accountHome + "/.config/vantor.json"},
        {"", "", accountHome + "/.config/vantor.json"},
    };
    for (const Case& c : cases) {
        c.config ? ::setenv("XDG_CONFIG_HOME", c.config, 1) : ::unsetenv("XDG_CONFIG_HOME");
        c.home ? ::setenv("HOME", c.home, 1) : ::unsetenv("HOME");
        EXPECT_EQ(UserDefaults::standardPath("vantor"), c.path);
    }
    ::setenv("XDG_CONFIG_HOME", saved.c_str(), 1);
    ::setenv("HOME", home.c_str(), 1);
}

TEST(UserDefaults, watchTellsObserversAboutAnOutsideChangeWithoutARead) {
    TempFolder t;
    std::string path = t.path + "/k.json";
    kestrix::VirtualMainLoop loop;
    UserDefaults d(path);
    d.set("showsMenuBarItem", false);
    ASSERT_TRUE(d.watch(loop));
    std::vector<std::string> told;
    d.addObserver([&](const std::string& key) { told.push_back(key); });

    std::ofstream(t.path + "/unrelated.json") << "{}";
    loop.runPending();
    EXPECT_TRUE(told.empty());

    writeFile(path, R"({"showsMenuBarItem": true})");
    ASSERT_TRUE(loop.runUntil([&] { return !told.empty(); }));
    EXPECT_EQ(told, std::vector<std::string>{"showsMenuBarItem"});
    EXPECT_EQ(d.get<bool>("showsMenuBarItem"), true);
    d.set("showsMenuBarItem", false); // own writes are seen at once
    EXPECT_EQ(d.get<bool>("showsMenuBarItem"), false);
}

TEST(UserDefaults, aFileNestedTooDeeplyIsRefusedAtStartAndWhenRewrittenWhileWatched) {
    // 100,000 levels: copying or comparing such a value would exhaust the stack.
    std::string deep =
        R"({"allowed_apps": )" + std::string(100000, '[') + std::string(100000, ']') + "}";
    std::string ok = std::string(63, '[') + std::string(63, ']');
    EXPECT_TRUE(kestrix::nestsDeeperThan("{\"a\": [" + ok + "]}", 64)); // one level too many
    TempFolder t;
    std::string path = t.path + "/v.json";
    writeFile(path, deep);
    kestrix::VirtualMainLoop loop;
    UserDefaults d(path);
    std::vector<std::string> lines;
    d.log = [&](const std::string& line) { lines.push_back(line); };
    EXPECT_FALSE(d.value("allowed_apps"));
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_NE(lines[0].find("nests more than 64 levels deep"), std::string::npos) << lines[0];

    writeFile(path, R"({"allowed_apps": )" + ok + "}");
    ASSERT_TRUE(d.watch(loop));
    EXPECT_EQ(d.value("allowed_apps"), json::parse(ok));
    std::vector<std::string> told;
    d.addObserver([&](const std::string& key) { told.push_back(key); });
    writeFile(path, deep);
    ASSERT_TRUE(loop.runUntil([&] { return !told.empty(); }));
    EXPECT_FALSE(d.value("allowed_apps"));
}

namespace {

// What a store says of its file, and whether a write went through.
struct Outcome {
    std::vector<std::string> lines;
    std::optional<std::string> problem;
    bool wrote = false;
};

Outcome useAndWrite(const std::string& path) {
    Outcome outcome;
    UserDefaults d(path);
    d.log = [&](const std::string& line) { outcome.lines.push_back(line); };
    (void)d.value("allowed_apps");
    outcome.wrote = d.set("welcomed", true);
    EXPECT_EQ(d.get<bool>("welcomed"), true); // kept in memory all the same
    d.reload();                               // the same problem is not told again
    outcome.problem = d.problem();
    return outcome;
}

// useAndWrite in a child process that `become` has made what the test needs (another user, a
// full disk), as the report line "<lines>\n<wrote|kept>\n<problem>\n"; empty when the child
// could not become it.
std::string useAndWriteInChild(const std::string& path, const std::function<bool()>& become) {
    int pipe[2];
    if (::pipe(pipe) != 0) return {};
    pid_t child = ::fork();
    if (child == 0) {
        ::close(pipe[0]);
        if (!become()) ::_exit(2);
        Outcome outcome = useAndWrite(path);
        std::string report = std::to_string(outcome.lines.size()) + "\n" +
                             (outcome.wrote ? "wrote" : "kept") + "\n" +
                             outcome.problem.value_or("none") + "\n";
        (void)!::write(pipe[1], report.data(), report.size());
        ::_exit(0);
    }
    ::close(pipe[1]);
    std::string report;
    char buffer[4096];
    for (ssize_t n; (n = ::read(pipe[0], buffer, sizeof buffer)) > 0;)
        report.append(buffer, std::size_t(n));
    ::close(pipe[0]);
    int status = 0;
    if (child < 0 || ::waitpid(child, &status, 0) != child || !WIFEXITED(status) ||
        WEXITSTATUS(status) != 0)
        return {};
    return report;
}

} // namespace

TEST(UserDefaults, aPathThatIsNoRegularFileOrTooLargeIsNeverWaitedOnNorWrittenOver) {
    struct Case {
        const char* what;
        std::function<void(const std::string&)> make;
        std::string says, fix;
    } cases[] = {
        {"FIFO", [](const std::string& p) { ASSERT_EQ(::mkfifo(p.c_str(), 0600), 0); },
         " is a FIFO, not a regular file; running on default settings, which are",
         "; remove it, or put a settings file in its place"},
        {"folder", [](const std::string& p) { std::filesystem::create_directory(p); },
         " is a folder, not a regular file; running on default settings, which are",
         "; remove it, or put a settings file in its place"},
        {"device", [](const std::string& p) { std::filesystem::create_symlink("/dev/zero", p); },
         " is a character device, not a regular file; running on default settings, which are",
         "; remove it, or put a settings file in its place"},
        {"huge",
         [](const std::string& p) {
             std::ofstream(p) << "{}";
             std::filesystem::resize_file(p, UserDefaults::maximumFileSize + 1);
         },
         " holds 1048577 bytes, more than the 1048576 a settings file may hold; running on "
         "default settings, which are",
         ""},
    };
    for (const Case& c : cases) {
        TempFolder t;
        std::string path = t.path + "/v.json";
        c.make(path);
        struct stat before {};
        ASSERT_EQ(::stat(path.c_str(), &before), 0) << c.what;
        Outcome outcome = useAndWrite(path);
        EXPECT_FALSE(outcome.wrote) << c.what;
        ASSERT_EQ(outcome.lines.size(), 1u) << c.what;
        EXPECT_EQ(outcome.lines[0], path + c.says + " not saved, and the file is left as it is" +
                                        c.fix);
        EXPECT_EQ(outcome.problem, outcome.lines[0]) << c.what;
        struct stat after {};
        ASSERT_EQ(::stat(path.c_str(), &after), 0) << c.what;
        EXPECT_EQ(after.st_ino, before.st_ino) << c.what << " was replaced";
        EXPECT_EQ(after.st_size, before.st_size) << c.what;
    }
}

TEST(UserDefaults, aFileOfAnotherUserThatCannotBeReadIsKeptAndTheLineSaysHowToGiveItBack) {
    // Root reads every file: the store runs in a child that has become another user. The file
    // is what "sudo vantor" leaves: root's, 0600, in a folder of the user.
    constexpr uid_t stranger = 65534;
    TempFolder t;
    ASSERT_EQ(::chmod(t.path.c_str(), 0755), 0);
    std::string folder = t.path + "/config", path = folder + "/v.json";
    std::filesystem::create_directory(folder);
    ASSERT_EQ(::chown(folder.c_str(), stranger, stranger), 0);
    const std::string stored = R"({"allowed_apps": ["org.gimp.GIMP"]})";
    std::ofstream(path) << stored;
    ASSERT_EQ(::chmod(path.c_str(), 0600), 0);
    std::string report = useAndWriteInChild(path, [] {
        return ::setgroups(0, nullptr) == 0 && ::setresgid(stranger, stranger, stranger) == 0 &&
               ::setresuid(stranger, stranger, stranger) == 0;
    });
    EXPECT_EQ(report, "1\nkept\ncannot read " + path +
                          ": Permission denied (it belongs to root); running on default "
                          "settings, which are not saved, and the file is left as it is; give it "
                          "back with \"sudo chown nobody: " +
                          path + "\"\n");
    EXPECT_EQ(readFile(path), stored);
}

TEST(UserDefaults, aSyntaxErrorIsToldWithItsPlaceAndTheFileIsCopiedAsideBeforeItIsReplaced) {
    struct Case {
        std::string text, says;
    } cases[] = {
        {"{\n  \"a\": 1,\n  \"b\" 2\n}\n", " is not valid JSON (line 3, column 7)"},
        {"[1, 2", " is not valid JSON (line 1, column 6)"},
        {"{\"caf\u00e9\": nope}", " is not valid JSON (line 1, column 11)"}, // characters, not bytes
        {"[1, 2]", " is not a JSON object"},
        {std::string(70, '[') + std::string(70, ']'), " nests more than 64 levels deep"},
    };
    for (const Case& c : cases) {
        TempFolder t;
        std::string path = t.path + "/v.json";
        writeFile(path, c.text);
        Outcome outcome = useAndWrite(path);
        ASSERT_EQ(outcome.lines.size(), 1u) << c.says;
        EXPECT_EQ(outcome.lines[0],
                  path + c.says + "; its settings are ignored, and a copy of it is kept in " +
                      path + ".bad");
        EXPECT_EQ(outcome.problem, outcome.lines[0]);
        EXPECT_TRUE(outcome.wrote) << c.says;
        EXPECT_EQ(readFile(path + ".bad"), c.text);
        EXPECT_EQ(json::parse(readFile(path)), (json{{"welcomed", true}}));
    }
    // Each broken text once, beside the earlier ones; an empty file is no settings, not broken.
    TempFolder t;
    std::string path = t.path + "/v.json";
    for (const char* text : {"{", "{", "}", "", " \n"}) {
        writeFile(path, text);
        Outcome outcome = useAndWrite(path);
        EXPECT_EQ(outcome.problem.has_value(), std::string_view(text).find_first_of("{}") == 0)
            << text;
    }
    EXPECT_EQ(readFile(path + ".bad"), "{");
    EXPECT_EQ(readFile(path + ".bad.2"), "}");
    EXPECT_FALSE(std::filesystem::exists(path + ".bad.3"));
}

TEST(UserDefaults, aFileThatBecomesReadableAgainIsReadWhileWatched) {
    TempFolder t;
    std::string path = t.path + "/v.json";
    ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0);
    kestrix::VirtualMainLoop loop;
    UserDefaults d(path);
    ASSERT_TRUE(d.watch(loop));
    EXPECT_TRUE(d.problem());
    std::vector<std::string> told;
    d.addObserver([&](const std::string& key) { told.push_back(key); });
    std::filesystem::remove(path);
    writeFile(path, R"({"speed": "2.0"})");
    ASSERT_TRUE(loop.runUntil([&] { return !told.empty(); }));
    EXPECT_EQ(d.get<std::string>("speed"), "2.0");
    EXPECT_FALSE(d.problem());
    EXPECT_TRUE(d.set("speed", "3.0"));
}

// On a full disk the broken file cannot be copied aside: then it is kept as it is and nothing is
// written over it, as for a file that cannot be read.
TEST(UserDefaults, aBrokenFileThatCannotBeCopiedAsideIsNeverWrittenOver) {
    TempFolder t;
    const std::string path = t.path + "/v.json", broken = "{\"allowed_apps\": [\"org.gimp.GIMP\"]";
    writeFile(path, broken);
    std::string report = useAndWriteInChild(path, [] {
        ::signal(SIGXFSZ, SIG_IGN);
        rlimit none{0, 0};
        return ::setrlimit(RLIMIT_FSIZE, &none) == 0;
    });
    EXPECT_EQ(report.substr(0, 7), "1\nkept\n") << report;
    EXPECT_NE(report.find(" is not valid JSON (line 1, column "), std::string::npos) << report;
    EXPECT_NE(report.find("File too large"), std::string::npos) << report;
    EXPECT_EQ(readFile(path), broken);
    EXPECT_FALSE(std::filesystem::exists(path + ".bad"));
}

// A disk or a network folder may report a failed write only when the file is flushed or closed:
// such a file never takes the place of the one there, and the write is told as failed.
TEST(UserDefaults, aFileThatCannotBeFlushedOrClosedReplacesNothing) {
    using kestrix::settingsfile::closeFile, kestrix::settingsfile::syncFile;
    const std::pair<int (**)(int), int (*)(int)> failures[] = {
        {&syncFile, [](int) { return errno = EIO, -1; }},
        {&closeFile, [](int fd) { return ::close(fd), errno = EIO, -1; }},
    };
    for (auto [call, failing] : failures) {
        TempFolder t;
        const std::string path = t.path + "/v.json", stored = R"({"speed": "2.0"})";
        writeFile(path, stored);
        UserDefaults d(path);
        std::vector<std::string> lines;
        d.log = [&](const std::string& line) { lines.push_back(line); };
        int (*real)(int) = std::exchange(*call, failing);
        EXPECT_FALSE(d.set("speed", "3.0"));
        *call = real;
        EXPECT_EQ(lines, std::vector<std::string>{"cannot write " + path + ": Input/output error"});
        EXPECT_EQ(d.get<std::string>("speed"), "3.0"); // kept in memory all the same
        EXPECT_EQ(readFile(path), stored);
        auto folder = std::filesystem::directory_iterator(t.path);
        EXPECT_EQ(std::distance(folder, std::filesystem::directory_iterator()), 1);
    }
}
