#pragma once

#include <cstddef>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kestrix::core {

// The [Desktop Entry] group of a desktop file: the keys that describe an application. Desktop
// files are written by anyone, so reading never throws: lines that are not "key=value" are
// skipped, texts that are not UTF-8 get U+FFFD for their bad bytes, only the first
// `maximumFileSize` bytes of a file are read, and a name (Name, or Name in any language) longer
// than `maximumNameLength` characters is cut to that length, its last character an ellipsis.
class DesktopEntry {
public:
    static constexpr std::size_t maximumFileSize = 1 << 20;
    static constexpr std::size_t maximumNameLength = 80;

    // Keys as written, including a locale suffix ("Name[de]"); values unescaped ("\s", "\n",
    // "\t", "\r", "\\"). A key given twice keeps its first value.
    std::map<std::string, std::string, std::less<>> keys;

    static DesktopEntry parse(std::string_view text);
    // Absent when the path is not a readable regular file.
    static std::optional<DesktopEntry> read(const std::string& path);

    std::optional<std::string> value(std::string_view key) const;
    // The value for a locale in the form lang_COUNTRY.ENCODING@MODIFIER, tried as
    // lang_COUNTRY@MODIFIER, lang_COUNTRY, lang@MODIFIER, lang, then the plain key.
    std::optional<std::string> localized(std::string_view key, std::string_view locale) const;
    // "true" is true; anything else, or no value, is false.
    bool flag(std::string_view key) const;
};

// The file of a desktop-file id in the first folder that has it, most personal folder first.
// An id may name a file in a subfolder: "kde-org.Foo" is also "kde/org.Foo.desktop".
std::optional<std::string> desktopEntryPath(const std::string& id,
                                            const std::vector<std::string>& dirs);

// Every desktop file of the folders and their subfolders, by id; where two folders have the
// same id, the earlier folder's file wins.
std::map<std::string, std::string> desktopEntryFiles(const std::vector<std::string>& dirs);

// The Name of the [Desktop Entry] group of the id's file in the first folder that has that
// file; absent when none has it or it names no Name.
std::optional<std::string> desktopEntryName(const std::string& id,
                                            const std::vector<std::string>& dirs);

} // namespace kestrix::core
