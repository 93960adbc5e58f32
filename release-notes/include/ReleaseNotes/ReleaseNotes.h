#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace releasenotes {

// Release notes in a small, line-based subset of Markdown (UTF-8):
//
//   ## 1.2 – Title        a version; its number is the "1.2" or "1.2.3" at the very start
//   Plain paragraph.      before the first section: the version's introduction
//   ### Fixed             a section of the version
//   - An item             list items ("- " or "* "); indented lines continue them
//
// Blank lines end paragraphs; plain paragraphs after a version's first section, and everything
// before the first "## " line, are dropped. Any text parses: lines that fit no rule are plain text.
struct ReleaseNotes {
    struct Section {
        std::string title;
        std::vector<std::string> items;

        bool operator==(const Section&) const = default;
    };

    struct Version {
        std::string heading;               // the "## " line without its marker
        std::optional<std::string> number; // "1.2" of "## 1.2 – Title"; absent for "## Unreleased"
        std::vector<std::string> introduction;
        std::vector<Section> sections;

        // No introduction and no section with an item.
        bool isEmpty() const;

        bool operator==(const Version&) const = default;
    };

    std::vector<Version> versions;

    ReleaseNotes() = default;
    explicit ReleaseNotes(std::vector<Version> versions) : versions(std::move(versions)) {}

    static ReleaseNotes parse(std::string_view markdown);

    // The versions with a number that are not empty, in file order.
    std::vector<Version> released() const;

    // The version number at the start of a heading: two or three dot-separated runs of ASCII
    // digits, followed by white space or the end.
    static std::optional<std::string> versionNumber(std::string_view heading);

    bool operator==(const ReleaseNotes&) const = default;
};

} // namespace releasenotes
