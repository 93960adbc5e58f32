#include "ReleaseNotes/ReleaseNotes.h"

#include <gtest/gtest.h>

using releasenotes::ReleaseNotes;
using Version = ReleaseNotes::Version;
using Section = ReleaseNotes::Section;

TEST(ReleaseNotesTest, VersionNumberIsTwoOrThreeRunsOfDigitsEndedByWhiteSpace) {
    const struct {
        const char* heading;
        std::optional<std::string> number;
    } cases[] = {
        {"1.2 – Title", "1.2"},
        {"1.2.3", "1.2.3"},
        {"10.20.30 (2026-01-02)", "10.20.30"},
        {"1.2\tBeta", "1.2"},
        {"1.2\u00A0Beta", "1.2"},
        {"1", std::nullopt},
        {"1.2.3.4", std::nullopt},
        {"1.2.3.4 Title", std::nullopt},
        {"Release 1.2", std::nullopt},
        {"Unreleased", std::nullopt},
        {"1.2-beta", std::nullopt},
        {"1.2.", std::nullopt},
        {"1..2", std::nullopt},
        {".1.2", std::nullopt},
        {"1.x", std::nullopt},
        {"\u0661.\u0662", std::nullopt},
        {"", std::nullopt},
    };
    for (const auto& c : cases) EXPECT_EQ(ReleaseNotes::versionNumber(c.heading), c.number) << c.heading;
}

TEST(ReleaseNotesTest, LineRules) {
    const struct {
        const char* name;
        const char* markdown;
        std::vector<Version> versions;
    } cases[] = {
        {"empty", "", {}},
        {"lines before the first version are dropped", "Intro\n### Title\n- item\n## 1.0\nText",
         {{"1.0", "1.0", {"Text"}, {}}}},
        {"heading trimmed, number from it", "  ##   1.2   Title  ", {{"1.2   Title", "1.2", {}, {}}}},
        {"continuation line joins a list item", "## 1.0\n### Fixed\n- first line\n  second line",
         {{"1.0", "1.0", {}, {{"Fixed", {"first line second line"}}}}}},
        {"paragraph and list item before a section go to the introduction",
         "## 1.2\nSome\ntext\n\n* an item\n### Added\n- new",
         {{"1.2", "1.2", {"Some text", "an item"}, {{"Added", {"new"}}}}}},
        {"plain paragraph after a section is dropped", "## 1.2\n### Fixed\nloose text\n- kept",
         {{"1.2", "1.2", {}, {{"Fixed", {"kept"}}}}}},
        {"a blank line ends an item; what follows is a plain paragraph", "## 1.2\n### Fixed\n- a\n\nb",
         {{"1.2", "1.2", {}, {{"Fixed", {"a"}}}}}},
        {"near-headings are plain text", "## 1.0\n#### x\n#x\n##x\n##\t1.1\n-x\n- ",
         {{"1.0", "1.0", {"#### x #x ##x ##\t1.1 -x -"}, {}}}},
        {"CR LF leaves an empty line between lines", "## 1.0\r\nA\r\nB", {{"1.0", "1.0", {"A", "B"}, {}}}},
        {"Unicode line breaks split lines", "## 1.0\u2028A\u0085\u0085B", {{"1.0", "1.0", {"A", "B"}, {}}}},
        {"other characters of the same blocks do not", "## 1.0\nA \u2013 B\u2027C\u00A9", {{"1.0", "1.0", {"A \u2013 B\u2027C\u00A9"}, {}}}},
        {"versions in file order, unnumbered kept", "## Unreleased\n- soon\n## 2.0\n### Empty\n## 1.0 First\nHi",
         {{"Unreleased", std::nullopt, {"soon"}, {}},
          {"2.0", "2.0", {}, {{"Empty", {}}}},
          {"1.0 First", "1.0", {"Hi"}, {}}}},
    };
    for (const auto& c : cases) EXPECT_EQ(ReleaseNotes::parse(c.markdown).versions, c.versions) << c.name;
}

TEST(ReleaseNotesTest, ReleasedKeepsNumberedVersionsWithContent) {
    const ReleaseNotes notes = ReleaseNotes::parse("## Unreleased\n- soon\n"
                                                   "## 3.0\n### Added\n### Fixed\n"
                                                   "## 2.0\n### Added\n### Fixed\n- one\n"
                                                   "## 1.0\nFirst.\n");
    std::vector<std::string> headings;
    for (const Version& v : notes.released()) headings.push_back(v.heading);
    EXPECT_EQ(headings, (std::vector<std::string>{"2.0", "1.0"}));
    EXPECT_TRUE(notes.versions[1].isEmpty());
    EXPECT_FALSE(notes.versions[2].isEmpty());
}
