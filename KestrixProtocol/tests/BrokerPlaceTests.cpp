#include "KestrixProtocol/BrokerPlace.h"
#include "TempFolder.h"

#include <algorithm>
#include <cstdlib>
#include <ctime>
#include <functional>
#include <gtest/gtest.h>
#include <map>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

using namespace kestrix;
namespace fs = std::filesystem;
using namespace std::chrono;
using testsupport::readFile;
using testsupport::TempFolder;

namespace {

fs::perms permissions(const fs::path& path) {
    return fs::status(path).permissions() & fs::perms::mask;
}

// An executable file standing in for an installed broker.
std::string makeExecutable(const TempFolder& folder, const std::string& name) {
    folder.write(name, "#!/bin/sh\n");
    fs::permissions(folder.path + "/" + name, fs::perms(0755));
    return folder.path + "/" + name;
}

std::size_t entryCount(const fs::path& folder) {
    return std::size_t(std::distance(fs::directory_iterator(folder), fs::directory_iterator()));
}

// Sets the time zone for the process while it lives.
struct TimeZone {
    const std::string old = std::getenv("TZ") ? std::getenv("TZ") : "";
    explicit TimeZone(const char* zone) { ::setenv("TZ", zone, 1), ::tzset(); }
    ~TimeZone() { old.empty() ? ::unsetenv("TZ") : ::setenv("TZ", old.c_str(), 1), ::tzset(); }
};

// 2026-12-05 20:13:44.123 UTC
const system_clock::time_point sampleTime =
    system_clock::time_point(seconds(1796501624)) + milliseconds(123);

} // namespace

TEST(BrokerPlaceLocation, followsKestrixHomeThenAnAbsoluteXdgDataHomeThenHome) {
    using Env = std::map<std::string, std::string>;
    for (const auto& [env, expected] : std::vector<std::pair<Env, fs::path>>{
             {{{"KESTRIX_HOME", "/tmp/k"}, {"XDG_DATA_HOME", "/data"}, {"HOME", "/h"}}, "/tmp/k"},
             {{{"KESTRIX_HOME", "rel/k"}}, fs::current_path() / "rel/k"},
             {{{"XDG_DATA_HOME", "/data"}, {"HOME", "/h"}}, "/data/kestrix"},
             {{{"HOME", "/h"}}, "/h/.local/share/kestrix"},
             {{{"XDG_DATA_HOME", ""}, {"HOME", "/h"}}, "/h/.local/share/kestrix"},
             {{{"XDG_DATA_HOME", "data"}, {"HOME", "/h"}}, "/h/.local/share/kestrix"},
         }) {
        auto place = BrokerPlace::standard([&env](const char* name) -> const char* {
            auto it = env.find(name);
            return it == env.end() ? nullptr : it->second.c_str();
        });
        EXPECT_EQ(place.directory(), expected) << expected;
    }
    // Without HOME the account's home folder is used.
    auto place = BrokerPlace::standard([](const char*) -> const char* { return nullptr; });
    EXPECT_TRUE(place.directory().is_absolute());
    EXPECT_EQ(place.directory().filename(), "kestrix");
    // The names every broker and client version meet at.
    EXPECT_EQ(BrokerPlace("/tmp/k").socket(), fs::path("/tmp/k/broker.sock"));
    EXPECT_EQ(BrokerPlace("/tmp/k").lock(), fs::path("/tmp/k/broker.lock"));
}

TEST(BrokerPlaceFolder, missingFoldersAreMadePrivateExistingOnesLeftAndFilesInTheWayFail) {
    TempFolder temporary;
    mode_t old = ::umask(0);
    bool created = BrokerPlace(temporary.path + "/a/b").ensureDirectory();
    ::umask(old);
    ASSERT_TRUE(created);
    EXPECT_EQ(permissions(temporary.path + "/a"), fs::perms(0700));
    EXPECT_EQ(permissions(temporary.path + "/a/b"), fs::perms(0700));
    fs::permissions(temporary.path, fs::perms(0755));
    EXPECT_TRUE(BrokerPlace(temporary.path).ensureDirectory());
    EXPECT_EQ(permissions(temporary.path), fs::perms(0755));
    temporary.write("file", "x");
    EXPECT_FALSE(BrokerPlace(temporary.path + "/file").ensureDirectory());
    EXPECT_FALSE(BrokerPlace(temporary.path + "/file/below").ensureDirectory());
}

TEST(NewestRecord, usableIsAnOwnExecutableFileThatOthersCannotWriteAndNoApp) {
    TempFolder t;
    fs::create_directories(t.path + "/Kestrix.app/Contents");
    auto app = makeExecutable(t, "broker.app"); // even an executable named ".app"
    auto capitalised = makeExecutable(t, "Broker.App");
    t.write("plain", "data");
    auto open = makeExecutable(t, "open");
    fs::permissions(open, fs::perms(0777));
    auto foreign = makeExecutable(t, "foreign");
    ASSERT_EQ(::chown(foreign.c_str(), 65534, 0), 0);
    for (const auto& [path, isApp, usable] : std::vector<std::tuple<std::string, bool, bool>>{
             {t.path + "/Kestrix.app", true, false},
             {app, true, false},
             {capitalised, false, true},
             {t.path + "/plain", false, false},
             {t.path, false, false},
             {t.path + "/gone", false, false},
             {"", false, false},
             {open, false, false},
             {foreign, false, false},
         }) {
        BrokerPlace::Newest record{16, path, {"--broker"}};
        EXPECT_EQ(record.isApp(), isApp) << path;
        EXPECT_EQ(record.isUsable(), usable) << path;
    }
}

TEST(NewestRecord, readsOnlyACompleteRecord) {
    TempFolder temporary;
    BrokerPlace place(temporary.path);
    EXPECT_FALSE(place.readNewest());
    for (const char* bad : {"", "{}", "garbage", R"({"version":15,"path":"/x"})",
                            R"({"version":"15","path":"/x","arguments":[]})",
                            R"({"version":15,"path":"/x","arguments":[1]})", "[15]"}) {
        temporary.write("newest.json", bad);
        EXPECT_FALSE(place.readNewest()) << bad;
    }
    temporary.write("newest.json",
                    R"({"path":"\/opt\/kestrix","arguments":["-v"],"version":17,"x":0})");
    EXPECT_EQ(place.readNewest(), (BrokerPlace::Newest{17, "/opt/kestrix", {"-v"}}));
}

TEST(NewestRecord, onlyAStrictlyNewerUsableBrokerKeepsItsPlace) {
    TempFolder t;
    BrokerPlace place(t.path + "/new");
    BrokerPlace::Newest mine{15, "/usr/libexec/vantor/kestrix", {}};
    auto newer = makeExecutable(t, "kestrix-16");
    place.recordNewest({16, newer, {"--x"}}); // alone in a private folder
    EXPECT_EQ(place.readNewest(), (BrokerPlace::Newest{16, newer, {"--x"}}));
    EXPECT_EQ(permissions(place.directory()), fs::perms(0700));
    EXPECT_EQ(entryCount(place.directory()), 1u);
    std::string before = readFile(place.newest());
    place.recordNewest(mine);
    EXPECT_EQ(readFile(place.newest()), before);

    fs::remove(newer); // gone
    place.recordNewest(mine);
    EXPECT_EQ(place.readNewest(), mine);
    place.recordNewest({16, t.path + "/Kestrix.app", {}}); // not usable here
    place.recordNewest(mine);
    EXPECT_EQ(place.readNewest(), mine);

    auto other = makeExecutable(t, "kestrix-b");
    place.recordNewest({15, other, {}}); // equal versions
    EXPECT_EQ(place.readNewest()->path, other);
    place.recordNewest({14, mine.path, {}});
    place.recordNewest({15, other, {"--again"}}); // older stored version
    EXPECT_EQ(place.readNewest(), (BrokerPlace::Newest{15, other, {"--again"}}));

    for (const char* foreign : {"{}", "garbage", R"({"version":99,"path":7,"arguments":[]})"}) {
        t.write("new/newest.json", foreign);
        place.recordNewest(mine);
        EXPECT_EQ(place.readNewest(), mine) << foreign;
    }
}

TEST(NewestRecord, aRecordThatCannotBeWrittenOrEncodedIsLogged) {
    TempFolder temporary;
    BrokerPlace place(temporary.path);
    // A folder where the record should be: renaming a file over it fails.
    fs::create_directories(place.newest() / "inside");
    place.recordNewest({15, "/usr/libexec/vantor/kestrix", {}});
    std::string log = readFile(place.log());
    EXPECT_NE(log.find("] cannot record the newest broker in " + place.newest().string() + ": "),
              std::string::npos)
        << log;
    EXPECT_EQ(entryCount(place.directory()), 2u) << "only the folder in the way and the log";

    TempFolder other;
    BrokerPlace unencodable(other.path);
    unencodable.recordNewest({15, "/opt/\xff/kestrix", {}});
    EXPECT_FALSE(fs::exists(unencodable.newest()));
    EXPECT_NE(readFile(unencodable.log()).find("cannot record the newest broker in "),
              std::string::npos);
}

TEST(BrokerLog, lineIsLocalTimestampProcessIdAndMessage) {
    {
        TimeZone utc("UTC0");
        EXPECT_EQ(BrokerPlace::logLine("driver problem over", sampleTime, 311),
                  "2026-12-05 20:13:44.123 [311] driver problem over\n");
        EXPECT_EQ(BrokerPlace::logLine("x", system_clock::time_point(seconds(1796501624)), 7),
                  "2026-12-05 20:13:44.000 [7] x\n");
        EXPECT_EQ(BrokerPlace::logLine("y", system_clock::time_point(milliseconds(-1)), 7),
                  "1969-12-31 23:59:59.999 [7] y\n"); // a clock before 1970
    }
    TimeZone ahead("XYZ-5:30");
    EXPECT_EQ(BrokerPlace::logLine("m", sampleTime + milliseconds(876), 1),
              "2026-12-06 01:43:44.999 [1] m\n");
}

TEST(BrokerLog, appendMakesThePrivateFolderAndAddsOneLineEach) {
    TempFolder temporary;
    TimeZone utc("UTC0");
    BrokerPlace place(temporary.path + "/missing/kestrix");
    place.appendLog("two\nlines", sampleTime);
    place.appendLog("now");
    EXPECT_EQ(permissions(place.directory()), fs::perms(0700));
    std::string log = readFile(place.log());
    EXPECT_EQ(log.substr(0, log.find('\n') + 1),
              "2026-12-05 20:13:44.123 [" + std::to_string(::getpid()) + "] two\\nlines\n");
    EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 2);
}

TEST(BrokerLog, rotationMovesOnlyALogLargerThanTheLimitAlsoWhileItGrows) {
    TempFolder temporary;
    BrokerPlace place(temporary.path);
    temporary.write("broker.log.1", "kept");
    place.rotateLog(); // no log
    EXPECT_EQ(readFile(place.previousLog()), "kept");
    EXPECT_FALSE(fs::exists(place.log()));
    temporary.write("broker.log", std::string(524288, 'a'));
    place.rotateLog();
    EXPECT_EQ(fs::file_size(place.log()), 524288u);
    EXPECT_EQ(readFile(place.previousLog()), "kept");
    temporary.write("broker.log", std::string(524289, 'b'));
    place.rotateLog();
    EXPECT_FALSE(fs::exists(place.log()));
    EXPECT_EQ(fs::file_size(place.previousLog()), 524289u);
    // A log growing past the limit while running is rotated.
    fs::remove(place.previousLog());
    std::string message(1000, 'm');
    for (int i = 0; i < 600; ++i)
        place.appendLog(message);
    ASSERT_TRUE(fs::exists(place.previousLog()));
    EXPECT_GT(fs::file_size(place.previousLog()), BrokerPlace::logRotationSize);
    EXPECT_LT(fs::file_size(place.previousLog()), BrokerPlace::logRotationSize + 1100);
    // 600 lines of about 1,030 bytes: about 510 went to the older log, the rest to the new one.
    EXPECT_GT(fs::file_size(place.log()), 80000u);
    EXPECT_LT(fs::file_size(place.log()), 100000u);
}

TEST(BrokerLog, aMessageIsOneLineOfBoundedSize) {
    for (const auto& [text, limit, shown] : std::vector<std::tuple<std::string, int, std::string>>{
             {"a\nb", 100, "a\\nb"},
             {"tab\there\r", 100, "tab\\there\\r"},
             {std::string("\x01\x7f\0z", 4), 100, "\\x01\\x7F\\x00z"},
             {"\xC3\xBCn\xC3\xAF", 100, "\xC3\xBCn\xC3\xAF"},
             {"abcdef", 3, "abc\u2026 (6 bytes)"},
             {"a\xC3\xA9", 2, "a\u2026 (3 bytes)"}, // not inside a character
             {"\xC3\xA9", 1, "\u2026 (2 bytes)"},
             {"\xA9\xA9", 1, "\u2026 (2 bytes)"}, // a stray continuation byte first
         })
        EXPECT_EQ(BrokerPlace::loggable(text, std::size_t(limit)), shown) << text;
    std::string line = BrokerPlace::logLine(std::string(1000000, 'x'), system_clock::now(), 1);
    EXPECT_LT(line.size(), BrokerPlace::logMessageLimit + 100);
    EXPECT_EQ(line.find('\n'), line.size() - 1);
}

TEST(BrokerLog, aLogThatCannotBeWrittenIsToldOnceUntilAWriteWorksAgain) {
    TempFolder temporary;
    temporary.write("file", "x");
    BrokerPlace good(temporary.path), bad(temporary.path + "/file/kestrix");
    ::testing::internal::CaptureStderr();
    for (const BrokerPlace* place : {&good, &bad, &bad, &good, &bad})
        place->appendLog("line");
    const std::string told = ::testing::internal::GetCapturedStderr();
    const std::string once = "kestrix: cannot write to " + bad.log().string() + ": ";
    std::size_t times = 0;
    for (auto at = told.find(once); at != std::string::npos; at = told.find(once, at + 1))
        ++times;
    EXPECT_EQ(times, 2u) << told;
}

TEST(BrokerPlaceTrust, foldersAndRecordsOfOtherUsersOrOpenToThemAreRefused) {
    constexpr uid_t stranger = 65534;
    struct Case {
        const char* name;
        std::function<void(const BrokerPlace&)> plant;
        bool trusted;
        const char* logged;
    };
    for (const Case& c : std::vector<Case>{
             {"own private folder and record", [](auto&) {}, true, nullptr},
             {"own folder open to others: closed again",
              [](const BrokerPlace& p) { fs::permissions(p.directory(), fs::perms(0777)); }, true,
              "was open to other users (mode 0777): made private (0700)"},
             {"record of another user",
              [](const BrokerPlace& p) { ASSERT_EQ(::chown(p.newest().c_str(), stranger, 0), 0); },
              false, "belongs to user 65534"},
             {"record that others may write",
              [](const BrokerPlace& p) { fs::permissions(p.newest(), fs::perms(0666)); }, false,
              "can be written by other users (mode 0666)"},
             {"folder of another user",
              [](const BrokerPlace& p) {
                  ASSERT_EQ(::chown(p.directory().c_str(), stranger, 0), 0);
              },
              false, nullptr},
         }) {
        TempFolder temporary;
        BrokerPlace place(temporary.path + "/kestrix");
        place.recordNewest({16, makeExecutable(temporary, "kestrix-16"), {}});
        c.plant(place);
        EXPECT_EQ(place.readNewest().has_value(), c.trusted) << c.name;
        EXPECT_EQ(!place.distrust(), c.name != std::string("folder of another user")) << c.name;
        EXPECT_TRUE(!c.logged || readFile(place.log()).find(c.logged) != std::string::npos)
            << c.name;
        EXPECT_TRUE(!c.trusted || permissions(place.newest()) == fs::perms(0600)) << c.name;
    }
}
