#include "FrontApp/DesktopEntry.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kestrix::core {
namespace {

class DesktopEntryFolders : public ::testing::Test {
protected:
    DesktopEntryFolders() {
        root_ = std::filesystem::temp_directory_path() /
                ("vantor-desktop-" + std::to_string(::getpid()));
        std::filesystem::create_directories(root_ / "home");
        std::filesystem::create_directories(root_ / "system");
    }
    ~DesktopEntryFolders() override { std::filesystem::remove_all(root_); }
    void write(const char* dir, const std::string& name, const std::string& content) {
        std::ofstream(root_ / dir / name) << content;
    }
    std::vector<std::string> dirs() const {
        return {(root_ / "home").string(), (root_ / "system").string()};
    }
    std::filesystem::path root_;
};

TEST_F(DesktopEntryFolders, nameOfTheFirstFolderHoldingTheEntry) {
    write("system", "org.example.Editor.desktop",
          "[Desktop Entry]\nType=Application\nName=Editor\nName[de]=Bearbeiter\n");
    EXPECT_EQ(desktopEntryName("org.example.Editor", dirs()), "Editor");
    write("home", "org.example.Editor.desktop", "[Desktop Entry]\nName=My Editor\n");
    EXPECT_EQ(desktopEntryName("org.example.Editor", dirs()), "My Editor");
}

TEST_F(DesktopEntryFolders, onlyTheDesktopEntryGroupCounts) {
    write("system", "org.a.desktop",
          "[Desktop Action new]\nName=New Window\n[Desktop Entry]\nName=A\n");
    EXPECT_EQ(desktopEntryName("org.a", dirs()), "A");
    write("system", "org.b.desktop", "[Desktop Action new]\nName=New Window\n");
    EXPECT_EQ(desktopEntryName("org.b", dirs()), std::nullopt);
    EXPECT_EQ(desktopEntryName("org.missing", dirs()), std::nullopt);
}

TEST_F(DesktopEntryFolders, subfolderIdsAndTheListOfAllFiles) {
    write("system", "org.c.desktop", "[Desktop Entry]\nName=C\n");
    std::filesystem::create_directories(root_ / "system" / "kde" / "extra");
    write("system/kde", "org.d.desktop", "[Desktop Entry]\nName=D\n");
    write("system/kde/extra", "e.desktop", "[Desktop Entry]\nName=E\n");
    write("home", "org.c.desktop", "[Desktop Entry]\nName=Mine\n");
    EXPECT_EQ(desktopEntryName("kde-org.d", dirs()), "D");
    EXPECT_EQ(desktopEntryName("kde-extra-e", dirs()), "E");
    EXPECT_EQ(desktopEntryName("kde-org.x", dirs()), std::nullopt);
    EXPECT_EQ(desktopEntryName("../system/org.c", dirs()), std::nullopt);
    auto files = desktopEntryFiles(dirs());
    ASSERT_EQ(files.size(), 3u);
    EXPECT_EQ(files["org.c"], (root_ / "home" / "org.c.desktop").string());
    EXPECT_EQ(files["kde-org.d"], (root_ / "system" / "kde" / "org.d.desktop").string());
    EXPECT_TRUE(files.count("kde-extra-e"));
}

TEST_F(DesktopEntryFolders, hugeFilesAreCutAndPipesAreNotRead) {
    write("system", "big.desktop",
          "[Desktop Entry]\nName=Big\n" + std::string(3 << 20, 'x') + "\nIcon=late\n");
    auto big = DesktopEntry::read((root_ / "system" / "big.desktop").string());
    ASSERT_TRUE(big);
    EXPECT_EQ(big->value("Name"), "Big");
    EXPECT_EQ(big->value("Icon"), std::nullopt);
    ASSERT_EQ(::mkfifo((root_ / "home" / "pipe.desktop").c_str(), 0600), 0);
    EXPECT_EQ(desktopEntryName("pipe", dirs()), std::nullopt);
}

// Only the keys of the [Desktop Entry] group count; keys before any group belong to none.
TEST(DesktopEntryText, keysOutsideTheGroupAreNotTheEntrys) {
    auto entry = DesktopEntry::parse("Name=Before\n[Desktop Entry]\nIcon=inside\n");
    EXPECT_EQ(entry.value("Name"), std::nullopt);
    EXPECT_EQ(entry.value("Icon"), "inside");
}

TEST(DesktopEntryText, keysValuesAndTheirEscapes) {
    auto entry = DesktopEntry::parse(
        "# comment\n[Desktop Entry]\r\n Name = A\\sB\\\\C\\n\\q \r\nno key here\n"
        "=nothing\nName=second\nNoDisplay=true\nHidden=True\nBad=\xff\xc3\x28!\n"
        "Exec=ends\\\nComment=x\\s\\\n[Other]\nIcon=other\n");
    EXPECT_EQ(entry.value("Name"), "A B\\C\n\\q");
    EXPECT_TRUE(entry.flag("NoDisplay"));
    EXPECT_FALSE(entry.flag("Hidden"));
    EXPECT_FALSE(entry.flag("Missing"));
    EXPECT_EQ(entry.value("Bad"), "\xEF\xBF\xBD\xEF\xBF\xBD(!");
    EXPECT_EQ(entry.value("Icon"), std::nullopt);
    EXPECT_EQ(entry.value("Exec"), "ends\\"); // a lone backslash at the end stays
    EXPECT_EQ(entry.value("Comment"), "x \\");
    EXPECT_EQ(entry.keys.size(), 6u);
}

TEST(DesktopEntryText, longNamesAreCutToWholeCharactersAndAnEllipsis) {
    const std::string e = "\xC3\xA9"; // é, two bytes
    auto times = [](std::size_t n, const std::string& piece) {
        std::string out;
        for (std::size_t i = 0; i < n; ++i) out += piece;
        return out;
    };
    const std::string ellipsis = "\xE2\x80\xA6";
    struct Case {
        std::string line;
        std::string key;
        std::string expected;
    };
    const Case cases[] = {
        {"Name=" + times(80, "x"), "Name", times(80, "x")},
        {"Name=" + times(81, "x"), "Name", times(79, "x") + ellipsis},
        {"Name=" + times(1 << 20, "x"), "Name", times(79, "x") + ellipsis},
        {"Name=" + times(80, e), "Name", times(80, e)},
        {"Name=" + times(300, e), "Name", times(79, e) + ellipsis},
        {"Name[de]=" + times(200, "y"), "Name[de]", times(79, "y") + ellipsis},
        {"Name=" + times(79, "x") + "\\s" + times(5, "z"), "Name", times(79, "x") + ellipsis},
        {"Exec=" + times(300, "x"), "Exec", times(300, "x")},
        {"NameX=" + times(300, "x"), "NameX", times(300, "x")},
    };
    for (const Case& c : cases) {
        auto entry = DesktopEntry::parse("[Desktop Entry]\n" + c.line + "\n");
        EXPECT_EQ(entry.value(c.key), c.expected) << c.line.substr(0, 20);
    }
}

TEST(DesktopEntryText, localizedValueFallsBackStepByStep) {
    struct Case {
        const char* keys;
        const char* locale;
        const char* expected;
    } cases[] = {
        {"Name[sr_YU@Latn]=1\nName[sr_YU]=2\nName[sr@Latn]=3\nName[sr]=4", "sr_YU.UTF-8@Latn", "1"},
        {"Name[sr_YU]=2\nName[sr@Latn]=3\nName[sr]=4", "sr_YU@Latn", "2"},
        {"Name[sr@Latn]=3\nName[sr]=4", "sr_YU@Latn", "3"},
        {"Name[sr]=4\nName[sr_YU@Latn]=1", "sr_YU", "4"},
        {"Name[sr_YU]=2\nName[sr@Latn]=3", "sr", "plain"},
        {"Name[de]=de", "", "plain"},
        {"Name[de]=de", "C", "plain"},
    };
    for (const auto& c : cases) {
        auto entry =
            DesktopEntry::parse(std::string("[Desktop Entry]\nName=plain\n") + c.keys + "\n");
        EXPECT_EQ(entry.localized("Name", c.locale), c.expected) << c.locale << " " << c.keys;
    }
}

} // namespace
} // namespace kestrix::core
