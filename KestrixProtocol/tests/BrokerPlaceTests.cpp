#include "KestrixProtocol/BrokerPlace.h"

#include <cstdlib>
#include <ctime>
#include <fstream>
#include <functional>
#include <gtest/gtest.h>
#include <map>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

using namespace kestrix;
namespace fs = std::filesystem;
using namespace std::chrono;

namespace {

// A fresh folder for one test, removed afterwards.
class TemporaryFolder {
public:
    TemporaryFolder() {
        std::string pattern = (fs::temp_directory_path() / "broker-place-XXXXXX").string();
        if (!::mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
        path_ = pattern;
    }
    ~TemporaryFolder() {
        std::error_code error;
        fs::remove_all(path_, error);
    }
    const fs::path& path() const { return path_; }

private:
    fs::path path_;
};

std::string contents(const fs::path& path) {
    std::ifstream file(path, std::ios::binary);
    std::stringstream buffer;
    buffer << file.rdbuf();
    return buffer.str();
}

void write(const fs::path& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

fs::perms permissions(const fs::path& path) {
    return fs::status(path).permissions() & fs::perms::mask;
}

// An executable file standing in for an installed broker.
fs::path makeExecutable(const fs::path& path) {
    write(path, "#!/bin/sh\n");
    fs::permissions(path, fs::perms(0755));
    return path;
}

BrokerPlace::Environment environmentOf(std::map<std::string, std::string> values) {
    return [values = std::move(values)](const char* name) -> const char* {
        auto it = values.find(name);
        return it == values.end() ? nullptr : it->second.c_str();
    };
}

// Sets the time zone for the process and restores it afterwards.
class TimeZone {
public:
    explicit TimeZone(const char* zone) {
        if (const char* old = std::getenv("TZ")) old_ = old;
        ::setenv("TZ", zone, 1);
        ::tzset();
    }
    ~TimeZone() {
        if (old_)
            ::setenv("TZ", old_->c_str(), 1);
        else
            ::unsetenv("TZ");
        ::tzset();
    }

private:
    std::optional<std::string> old_;
};

// 2026-12-05 20:13:44.123 UTC
const system_clock::time_point sampleTime =
    system_clock::time_point(seconds(1796501624)) + milliseconds(123);

} // namespace

// MARK: where the place is

TEST(BrokerPlaceLocation, kestrixHomeNamesTheFolder) {
    auto place = BrokerPlace::standard(
        environmentOf({{"KESTRIX_HOME", "/tmp/k"}, {"XDG_DATA_HOME", "/data"}, {"HOME", "/h"}}));
    EXPECT_EQ(place.directory(), fs::path("/tmp/k"));
    EXPECT_EQ(place.socket(), fs::path("/tmp/k/broker.sock"));
    EXPECT_EQ(place.lock(), fs::path("/tmp/k/broker.lock"));
    EXPECT_EQ(place.log(), fs::path("/tmp/k/broker.log"));
    EXPECT_EQ(place.previousLog(), fs::path("/tmp/k/broker.log.1"));
    EXPECT_EQ(place.newest(), fs::path("/tmp/k/newest.json"));
}

TEST(BrokerPlaceLocation, relativeKestrixHomeIsTakenAgainstTheCurrentFolder) {
    auto place = BrokerPlace::standard(environmentOf({{"KESTRIX_HOME", "rel/k"}}));
    EXPECT_EQ(place.directory(), fs::current_path() / "rel/k");
    EXPECT_TRUE(place.socket().is_absolute());
}

TEST(BrokerPlaceLocation, withoutKestrixHomeItIsTheUsersDataFolder) {
    EXPECT_EQ(
        BrokerPlace::standard(environmentOf({{"XDG_DATA_HOME", "/data"}, {"HOME", "/h"}})).socket(),
        fs::path("/data/kestrix/broker.sock"));
    EXPECT_EQ(BrokerPlace::standard(environmentOf({{"HOME", "/h"}})).newest(),
              fs::path("/h/.local/share/kestrix/newest.json"));
    // An empty or relative XDG_DATA_HOME is not valid and falls back to the default.
    EXPECT_EQ(
        BrokerPlace::standard(environmentOf({{"XDG_DATA_HOME", ""}, {"HOME", "/h"}})).directory(),
        fs::path("/h/.local/share/kestrix"));
    EXPECT_EQ(BrokerPlace::standard(environmentOf({{"XDG_DATA_HOME", "data"}, {"HOME", "/h"}}))
                  .directory(),
              fs::path("/h/.local/share/kestrix"));
}

TEST(BrokerPlaceLocation, withoutHomeTheAccountsHomeIsUsed) {
    auto place = BrokerPlace::standard(environmentOf({}));
    EXPECT_TRUE(place.directory().is_absolute());
    EXPECT_EQ(place.directory().filename(), "kestrix");
}

// MARK: the folder

TEST(BrokerPlaceFolder, missingFoldersAreCreatedPrivateWhateverTheUmask) {
    TemporaryFolder temporary;
    BrokerPlace place(temporary.path() / "a" / "b");
    mode_t old = ::umask(0);
    bool created = place.ensureDirectory();
    ::umask(old);
    ASSERT_TRUE(created);
    EXPECT_EQ(permissions(temporary.path() / "a"), fs::perms(0700));
    EXPECT_EQ(permissions(temporary.path() / "a" / "b"), fs::perms(0700));
}

TEST(BrokerPlaceFolder, existingFolderIsLeftAsItIs) {
    TemporaryFolder temporary;
    fs::permissions(temporary.path(), fs::perms(0755));
    EXPECT_TRUE(BrokerPlace(temporary.path()).ensureDirectory());
    EXPECT_EQ(permissions(temporary.path()), fs::perms(0755));
}

TEST(BrokerPlaceFolder, aFileInTheWayIsAFailure) {
    TemporaryFolder temporary;
    write(temporary.path() / "file", "x");
    EXPECT_FALSE(BrokerPlace(temporary.path() / "file").ensureDirectory());
    EXPECT_FALSE(BrokerPlace(temporary.path() / "file" / "below").ensureDirectory());
}

// MARK: the newest-broker record

TEST(NewestRecord, appPathsAreNeverUsableHere) {
    TemporaryFolder temporary;
    auto bundle = temporary.path() / "Kestrix.app";
    fs::create_directories(bundle / "Contents");
    EXPECT_TRUE((BrokerPlace::Newest{15, bundle.string(), {}}).isApp());
    EXPECT_FALSE((BrokerPlace::Newest{15, bundle.string(), {}}).isUsable());
    // Even an executable file whose name ends in ".app".
    auto executable = makeExecutable(temporary.path() / "broker.app");
    EXPECT_FALSE((BrokerPlace::Newest{15, executable.string(), {}}).isUsable());
}

TEST(NewestRecord, otherPathsAreUsableWhenExecutableFiles) {
    TemporaryFolder temporary;
    auto capitalised = makeExecutable(temporary.path() / "Broker.App");
    BrokerPlace::Newest record{16, capitalised.string(), {"--broker"}};
    EXPECT_FALSE(record.isApp());
    EXPECT_TRUE(record.isUsable());

    auto plain = temporary.path() / "plain";
    write(plain, "data");
    fs::permissions(plain, fs::perms(0644));
    EXPECT_FALSE((BrokerPlace::Newest{16, plain.string(), {}}).isUsable());
    EXPECT_FALSE((BrokerPlace::Newest{16, temporary.path().string(), {}}).isUsable());
    EXPECT_FALSE((BrokerPlace::Newest{16, (temporary.path() / "gone").string(), {}}).isUsable());
    EXPECT_FALSE((BrokerPlace::Newest{16, "", {}}).isUsable());
}

TEST(NewestRecord, readsOnlyACompleteRecord) {
    TemporaryFolder temporary;
    BrokerPlace place(temporary.path());
    EXPECT_FALSE(place.readNewest());
    for (const char* bad : {"", "{}", "garbage", R"({"version":15,"path":"/x"})",
                            R"({"version":"15","path":"/x","arguments":[]})",
                            R"({"version":15,"path":"/x","arguments":[1]})", "[15]"}) {
        write(place.newest(), bad);
        EXPECT_FALSE(place.readNewest()) << bad;
    }
    write(place.newest(), R"({"path":"\/opt\/kestrix","arguments":["-v"],"version":17,"x":0})");
    EXPECT_EQ(place.readNewest(), (BrokerPlace::Newest{17, "/opt/kestrix", {"-v"}}));
}

TEST(NewestRecord, writtenRecordReadsBack) {
    TemporaryFolder temporary;
    BrokerPlace place(temporary.path() / "new");
    BrokerPlace::Newest record{15, "/usr/libexec/vantor/kestrix", {}};
    place.recordNewest(record);
    EXPECT_EQ(place.readNewest(), record);
    EXPECT_EQ(permissions(place.directory()), fs::perms(0700));
    // No temporary file is left beside it.
    EXPECT_EQ(std::distance(fs::directory_iterator(place.directory()), fs::directory_iterator()),
              1);
}

TEST(NewestRecord, newerUsableBrokerKeepsItsPlace) {
    TemporaryFolder temporary;
    BrokerPlace place(temporary.path());
    auto newer = makeExecutable(temporary.path() / "kestrix-16");
    write(place.newest(),
          R"({"version":16,"path":")" + newer.string() + R"(","arguments":["--x"]})");
    std::string before = contents(place.newest());
    place.recordNewest({15, "/old/kestrix", {}});
    EXPECT_EQ(contents(place.newest()), before);
}

TEST(NewestRecord, newerBrokerThatIsGoneOrNotUsableIsReplaced) {
    TemporaryFolder temporary;
    BrokerPlace place(temporary.path());
    BrokerPlace::Newest mine{15, "/usr/libexec/vantor/kestrix", {}};

    auto gone = makeExecutable(temporary.path() / "kestrix-16");
    place.recordNewest({16, gone.string(), {}});
    fs::remove(gone);
    place.recordNewest(mine);
    EXPECT_EQ(place.readNewest(), mine);

    place.recordNewest({16, (temporary.path() / "Kestrix.app").string(), {}});
    place.recordNewest(mine);
    EXPECT_EQ(place.readNewest(), mine);
}

TEST(NewestRecord, equalOrOlderStoredVersionIsRewritten) {
    TemporaryFolder temporary;
    BrokerPlace place(temporary.path());
    auto same = makeExecutable(temporary.path() / "kestrix-a");
    auto other = makeExecutable(temporary.path() / "kestrix-b");
    place.recordNewest({15, same.string(), {}});
    place.recordNewest({15, other.string(), {}});
    EXPECT_EQ(place.readNewest()->path, other.string());
    place.recordNewest({14, same.string(), {}});
    place.recordNewest({15, other.string(), {"--again"}});
    EXPECT_EQ(place.readNewest(), (BrokerPlace::Newest{15, other.string(), {"--again"}}));
}

TEST(NewestRecord, foreignContentIsRewritten) {
    TemporaryFolder temporary;
    BrokerPlace place(temporary.path());
    BrokerPlace::Newest mine{15, "/usr/libexec/vantor/kestrix", {}};
    for (const char* foreign : {"{}", "garbage", R"({"version":99,"path":7,"arguments":[]})"}) {
        write(place.newest(), foreign);
        place.recordNewest(mine);
        EXPECT_EQ(place.readNewest(), mine) << foreign;
    }
}

TEST(NewestRecord, failedWriteIsLogged) {
    TemporaryFolder temporary;
    BrokerPlace place(temporary.path());
    // A folder where the record should be: renaming a file over it fails.
    fs::create_directories(place.newest() / "inside");
    place.recordNewest({15, "/usr/libexec/vantor/kestrix", {}});
    std::string log = contents(place.log());
    EXPECT_NE(log.find("] cannot record the newest broker in " + place.newest().string() + ": "),
              std::string::npos)
        << log;
    EXPECT_EQ(std::distance(fs::directory_iterator(place.directory()), fs::directory_iterator()), 2)
        << "only the folder in the way and the log";
}

TEST(NewestRecord, recordThatCannotBeEncodedIsLoggedNotWritten) {
    TemporaryFolder temporary;
    BrokerPlace place(temporary.path());
    place.recordNewest({15, "/opt/\xff/kestrix", {}});
    EXPECT_FALSE(fs::exists(place.newest()));
    EXPECT_NE(contents(place.log()).find("cannot record the newest broker in "), std::string::npos);
}

// MARK: the log

TEST(BrokerLog, lineIsLocalTimestampProcessIdAndMessage) {
    TimeZone utc("UTC0");
    EXPECT_EQ(BrokerPlace::logLine("driver problem over", sampleTime, 311),
              "2026-12-05 20:13:44.123 [311] driver problem over\n");
    EXPECT_EQ(BrokerPlace::logLine("x", system_clock::time_point(seconds(1796501624)), 7),
              "2026-12-05 20:13:44.000 [7] x\n");
}

TEST(BrokerLog, timestampIsInTheLocalZone) {
    TimeZone ahead("XYZ-5:30");
    EXPECT_EQ(BrokerPlace::logLine("m", sampleTime + milliseconds(876), 1),
              "2026-12-06 01:43:44.999 [1] m\n");
}

TEST(BrokerLog, appendCreatesTheFolderAndTheFile) {
    TemporaryFolder temporary;
    TimeZone utc("UTC0");
    BrokerPlace place(temporary.path() / "missing" / "kestrix");
    place.appendLog("started", sampleTime);
    EXPECT_EQ(permissions(place.directory()), fs::perms(0700));
    EXPECT_EQ(contents(place.log()),
              "2026-12-05 20:13:44.123 [" + std::to_string(::getpid()) + "] started\n");
}

TEST(BrokerLog, linesAreAppendedWithLineFeedsInsideEscaped) {
    TemporaryFolder temporary;
    TimeZone utc("UTC0");
    BrokerPlace place(temporary.path());
    write(place.log(), "older line\n");
    place.appendLog("one", sampleTime);
    place.appendLog("two\nlines", sampleTime + seconds(1));
    std::string pid = std::to_string(::getpid());
    EXPECT_EQ(contents(place.log()), "older line\n2026-12-05 20:13:44.123 [" + pid +
                                         "] one\n2026-12-05 20:13:45.123 [" + pid +
                                         "] two\\nlines\n");
}

TEST(BrokerLog, appendWithTheClockWritesOneLine) {
    TemporaryFolder temporary;
    BrokerPlace place(temporary.path());
    place.appendLog("now");
    std::string log = contents(place.log());
    EXPECT_EQ(log.size(), std::string("2026-12-05 20:13:44.123 [").size() +
                              std::to_string(::getpid()).size() + std::string("] now\n").size());
    EXPECT_EQ(log.substr(log.size() - 6), "] now\n");
}

TEST(BrokerLog, rotationKeepsALogOfExactlyTheLimit) {
    TemporaryFolder temporary;
    BrokerPlace place(temporary.path());
    write(place.log(), std::string(524288, 'a'));
    place.rotateLog();
    EXPECT_EQ(fs::file_size(place.log()), 524288u);
    EXPECT_FALSE(fs::exists(place.previousLog()));
}

TEST(BrokerLog, rotationMovesALargerLogReplacingTheOlderOne) {
    TemporaryFolder temporary;
    BrokerPlace place(temporary.path());
    write(place.previousLog(), "oldest");
    write(place.log(), std::string(524289, 'b'));
    place.rotateLog();
    EXPECT_FALSE(fs::exists(place.log()));
    EXPECT_EQ(fs::file_size(place.previousLog()), 524289u);
    place.appendLog("fresh");
    EXPECT_LT(fs::file_size(place.log()), 100u);
}

TEST(BrokerLog, rotationWithoutALogDoesNothing) {
    TemporaryFolder temporary;
    BrokerPlace place(temporary.path());
    write(place.previousLog(), "kept");
    place.rotateLog();
    EXPECT_EQ(contents(place.previousLog()), "kept");
    EXPECT_FALSE(fs::exists(place.log()));
}

TEST(BrokerLog, aMessageIsOneLineOfBoundedSize) {
    struct Case {
        std::string text;
        std::size_t limit;
        std::string shown;
    };
    for (const Case& c : std::vector<Case>{
             {"a\nb", 100, "a\\nb"},
             {"tab\there\r", 100, "tab\\there\\r"},
             {std::string("\x01\x7f\0z", 4), 100, "\\x01\\x7F\\x00z"},
             {"\xC3\xBCn\xC3\xAF", 100, "\xC3\xBCn\xC3\xAF"},
             {"abcdef", 3, "abc\u2026 (6 bytes)"},
             {"a\xC3\xA9", 2, "a\u2026 (3 bytes)"}, // not inside a character
         })
        EXPECT_EQ(BrokerPlace::loggable(c.text, c.limit), c.shown) << c.text;
    std::string line = BrokerPlace::logLine(std::string(1000000, 'x'), system_clock::now(), 1);
    EXPECT_LT(line.size(), BrokerPlace::logMessageLimit + 100);
    EXPECT_EQ(line.find('\n'), line.size() - 1);
}

TEST(BrokerLog, aLogGrowingPastTheLimitWhileRunningIsRotated) {
    TemporaryFolder temporary;
    BrokerPlace place(temporary.path());
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

// MARK: trust

TEST(BrokerPlaceTrust, foldersAndRecordsOfOtherUsersOrOpenToThemAreRefused) {
    constexpr uid_t stranger = 65534;
    struct Case {
        const char* name;
        std::function<void(const BrokerPlace&, const fs::path& program)> plant;
        bool trusted;
        const char* logged;
    };
    for (const Case& c : std::vector<Case>{
             {"own private folder and record", [](auto&, auto&) {}, true, nullptr},
             {"own folder open to others: closed again",
              [](const BrokerPlace& p, auto&) { fs::permissions(p.directory(), fs::perms(0777)); },
              true, "was open to other users (mode 0777): made private (0700)"},
             {"record of another user",
              [](const BrokerPlace& p, auto&) { (void)::chown(p.newest().c_str(), stranger, 0); },
              false, "belongs to user 65534"},
             {"record that others may write",
              [](const BrokerPlace& p, auto&) { fs::permissions(p.newest(), fs::perms(0666)); },
              false, "can be written by other users (mode 0666)"},
             {"folder of another user",
              [](const BrokerPlace& p, auto&) { (void)::chown(p.directory().c_str(), stranger, 0); },
              false, nullptr},
         }) {
        TemporaryFolder temporary;
        BrokerPlace place(temporary.path() / "kestrix");
        auto program = makeExecutable(temporary.path() / "kestrix-16");
        place.recordNewest({16, program.string(), {}});
        c.plant(place, program);
        EXPECT_EQ(place.readNewest().has_value(), c.trusted) << c.name;
        EXPECT_EQ(!place.distrust(), c.name != std::string("folder of another user")) << c.name;
        if (c.logged) {
            EXPECT_NE(contents(place.log()).find(c.logged), std::string::npos) << c.name;
        }
        if (c.trusted) {
            EXPECT_EQ(permissions(place.newest()), fs::perms(0600)) << c.name;
        }
    }
}

TEST(BrokerPlaceTrust, aProgramOfAnotherUserOrOpenToOthersIsNotUsable) {
    TemporaryFolder temporary;
    auto program = makeExecutable(temporary.path() / "kestrix");
    BrokerPlace::Newest record{16, program.string(), {}};
    EXPECT_TRUE(record.isUsable());
    fs::permissions(program, fs::perms(0777));
    EXPECT_FALSE(record.isUsable());
    fs::permissions(program, fs::perms(0755));
    ASSERT_EQ(::chown(program.c_str(), 65534, 0), 0);
    EXPECT_FALSE(record.isUsable());
}
