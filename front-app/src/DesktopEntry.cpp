#include "FrontApp/DesktopEntry.h"

#include "KestrixProtocol/TextEncoding.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <system_error>

namespace kestrix::core {

namespace {

std::string_view trimmed(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r'))
        text.remove_suffix(1);
    return text;
}

std::string unescaped(std::string_view value) {
    std::string out;
    out.reserve(value.size());
    for (std::size_t i = 0; i < value.size(); ++i) {
        if (value[i] != '\\' || i + 1 == value.size()) {
            out += value[i];
            continue;
        }
        switch (value[++i]) {
        case 's':
            out += ' ';
            break;
        case 'n':
            out += '\n';
            break;
        case 't':
            out += '\t';
            break;
        case 'r':
            out += '\r';
            break;
        case '\\':
            out += '\\';
            break;
        default:
            out += '\\';
            out += value[i];
        }
    }
    return out;
}

// Names show in menus and lists: a longer one keeps its first characters and an ellipsis. The
// text is valid UTF-8, so every byte that is not a continuation byte starts a character.
std::string cutName(std::string name) {
    std::size_t characters = 0;
    std::size_t ellipsisAt = 0; // where the last character kept would start
    for (std::size_t i = 0; i < name.size(); ++i) {
        if ((static_cast<std::uint8_t>(name[i]) & 0xC0) == 0x80) continue;
        if (characters == DesktopEntry::maximumNameLength - 1) ellipsisAt = i;
        if (characters++ == DesktopEntry::maximumNameLength) {
            name.replace(ellipsisAt, std::string::npos, "\xE2\x80\xA6");
            break;
        }
    }
    return name;
}

bool isName(std::string_view key) {
    return key == "Name" || (key.size() > 6 && key.substr(0, 5) == "Name[" && key.back() == ']');
}

bool isRegularFile(const std::filesystem::path& path) {
    std::error_code error;
    return std::filesystem::is_regular_file(path, error);
}

} // namespace

DesktopEntry DesktopEntry::parse(std::string_view text) {
    DesktopEntry entry;
    bool inEntry = false;
    while (!text.empty()) {
        std::size_t end = text.find('\n');
        std::string_view line = trimmed(text.substr(0, end));
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        if (line.empty() || line.front() == '#') continue;
        if (line.front() == '[') {
            inEntry = line == "[Desktop Entry]";
            continue;
        }
        if (!inEntry) continue;
        std::size_t equals = line.find('=');
        if (equals == std::string_view::npos) continue;
        std::string_view key = trimmed(line.substr(0, equals));
        if (key.empty()) continue;
        std::string value = validUTF8(unescaped(trimmed(line.substr(equals + 1))));
        if (isName(key)) value = cutName(std::move(value));
        entry.keys.emplace(validUTF8(key), std::move(value));
    }
    return entry;
}

std::optional<DesktopEntry> DesktopEntry::read(const std::string& path) {
    // A FIFO or a device under the name of a desktop file would block or never end.
    if (!isRegularFile(path)) return std::nullopt;
    std::ifstream file(path, std::ios::binary);
    if (!file) return std::nullopt;
    std::string text;
    char chunk[1 << 16];
    while (text.size() < maximumFileSize && file) {
        file.read(chunk, static_cast<std::streamsize>(
                             std::min(sizeof chunk, maximumFileSize - text.size())));
        text.append(chunk, static_cast<std::size_t>(file.gcount()));
    }
    return parse(text);
}

std::optional<std::string> DesktopEntry::value(std::string_view key) const {
    auto found = keys.find(key);
    if (found == keys.end()) return std::nullopt;
    return found->second;
}

std::optional<std::string> DesktopEntry::localized(std::string_view key,
                                                   std::string_view locale) const {
    // lang_COUNTRY.ENCODING@MODIFIER: the encoding never takes part in the match.
    std::string_view modifier;
    if (auto at = locale.find('@'); at != std::string_view::npos) {
        modifier = locale.substr(at + 1);
        locale = locale.substr(0, at);
    }
    locale = locale.substr(0, locale.find('.'));
    std::string_view lang = locale.substr(0, locale.find('_'));
    std::string_view country =
        locale.size() > lang.size() ? locale.substr(lang.size() + 1) : std::string_view();
    std::vector<std::string> candidates;
    if (!lang.empty()) {
        std::string withCountry = std::string(lang) + "_" + std::string(country);
        if (!country.empty() && !modifier.empty())
            candidates.push_back(withCountry + "@" + std::string(modifier));
        if (!country.empty()) candidates.push_back(withCountry);
        if (!modifier.empty())
            candidates.push_back(std::string(lang) + "@" + std::string(modifier));
        candidates.emplace_back(lang);
    }
    for (const auto& candidate : candidates)
        if (auto found = value(std::string(key) + "[" + candidate + "]")) return found;
    return value(key);
}

bool DesktopEntry::flag(std::string_view key) const {
    return value(key) == "true";
}

std::optional<std::string> desktopEntryPath(const std::string& id,
                                            const std::vector<std::string>& dirs) {
    if (id.empty() || id.find('/') != std::string::npos || id.front() == '.') return std::nullopt;
    for (const auto& dir : dirs) {
        std::string path = dir + "/" + id + ".desktop";
        if (isRegularFile(path)) return path;
        // "kde-org.Foo" may be kde/org.Foo.desktop: try each "-" as a folder separator, from
        // the left, as long as the folder exists.
        std::string folder = dir;
        std::size_t start = 0;
        for (std::size_t dash = id.find('-'); dash != std::string::npos;
             dash = id.find('-', dash + 1)) {
            std::string candidate = folder + "/" + id.substr(start, dash - start);
            std::error_code error;
            if (!std::filesystem::is_directory(candidate, error)) continue;
            std::string file = candidate + "/" + id.substr(dash + 1) + ".desktop";
            if (isRegularFile(file)) return file;
            folder = candidate;
            start = dash + 1;
        }
    }
    return std::nullopt;
}

std::map<std::string, std::string> desktopEntryFiles(const std::vector<std::string>& dirs) {
    std::map<std::string, std::string> files;
    for (const auto& dir : dirs) {
        std::error_code error;
        std::filesystem::recursive_directory_iterator it(
            dir, std::filesystem::directory_options::skip_permission_denied, error);
        if (error) continue;
        for (; it != std::filesystem::recursive_directory_iterator(); it.increment(error)) {
            if (error) break;
            // Deep trees of links are not application folders.
            if (it.depth() > 4) it.disable_recursion_pending();
            const auto& path = it->path();
            if (path.extension() != ".desktop" || !isRegularFile(path)) continue;
            std::string id = path.lexically_relative(dir).replace_extension().string();
            for (char& c : id)
                if (c == '/') c = '-';
            files.emplace(validUTF8(id), path.string());
        }
    }
    return files;
}

std::optional<std::string> desktopEntryName(const std::string& id,
                                            const std::vector<std::string>& dirs) {
    auto path = desktopEntryPath(id, dirs);
    if (!path) return std::nullopt;
    auto entry = DesktopEntry::read(*path);
    if (!entry) return std::nullopt;
    return entry->value("Name");
}

} // namespace kestrix::core
