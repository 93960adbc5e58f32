#include "KestrixCore/FrontAppIdentity.h"

#include "TextEncoding.h"

#include <cstdlib>
#include <dirent.h>
#include <fstream>
#include <sstream>

namespace kestrix::core {

namespace {

std::optional<std::string> readFile(const std::string& path) {
    std::ifstream in(path);
    if (!in) return std::nullopt;
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

std::vector<std::string> split(std::string_view text, char separator) {
    std::vector<std::string> parts;
    std::size_t start = 0;
    for (;;) {
        std::size_t at = text.find(separator, start);
        parts.emplace_back(text.substr(start, at == std::string_view::npos ? at : at - start));
        if (at == std::string_view::npos) return parts;
        start = at + 1;
    }
}

// systemd unit names escape bytes as "\xNN".
std::string unescape(std::string_view text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' && i + 3 < text.size() && text[i + 1] == 'x') {
            std::string hex(text.substr(i + 2, 2));
            char* end = nullptr;
            long value = std::strtol(hex.c_str(), &end, 16);
            if (end == hex.c_str() + 2) {
                out.push_back(static_cast<char>(value));
                i += 3;
                continue;
            }
        }
        out.push_back(text[i]);
    }
    return out;
}

std::string trim(std::string_view s) {
    auto b = s.find_first_not_of(" \t\r");
    if (b == std::string_view::npos) return {};
    auto e = s.find_last_not_of(" \t\r");
    return std::string(s.substr(b, e - b + 1));
}

} // namespace

FrontAppIdentity::FrontAppIdentity(std::string procRoot, std::vector<std::string> applicationDirs)
    : procRoot_(std::move(procRoot))
    , applicationDirs_(std::move(applicationDirs)) {}

FrontAppIdentity FrontAppIdentity::standard() {
    return FrontAppIdentity("/proc", standardApplicationDirs());
}

std::vector<std::string> FrontAppIdentity::standardApplicationDirs() {
    std::vector<std::string> dirs;
    const char* dataHome = std::getenv("XDG_DATA_HOME");
    const char* home = std::getenv("HOME");
    if (dataHome && dataHome[0] == '/')
        dirs.push_back(std::string(dataHome) + "/applications");
    else if (home)
        dirs.push_back(std::string(home) + "/.local/share/applications");
    const char* dataDirs = std::getenv("XDG_DATA_DIRS");
    std::string list = dataDirs && *dataDirs ? dataDirs : "/usr/local/share:/usr/share";
    for (const auto& dir : split(list, ':'))
        if (!dir.empty()) dirs.push_back(dir + "/applications");
    return dirs;
}

std::optional<std::string> FrontAppIdentity::fromCgroup(std::string_view cgroupFile) {
    for (const auto& line : split(cgroupFile, '\n')) {
        auto slash = line.rfind('/');
        if (slash == std::string::npos) continue;
        std::string_view unit = std::string_view(line).substr(slash + 1);
        if (unit.substr(0, 4) != "app-") continue;
        unit.remove_prefix(4);
        std::vector<std::string> parts;
        if (unit.size() > 6 && unit.substr(unit.size() - 6) == ".scope") {
            unit.remove_suffix(6);
            parts = split(unit, '-');
            if (parts.size() < 2) continue;
            parts.pop_back(); // the random part
        } else if (unit.size() > 8 && unit.substr(unit.size() - 8) == ".service") {
            unit.remove_suffix(8);
            unit = unit.substr(0, unit.find('@'));
            parts = split(unit, '-');
        } else {
            continue;
        }
        if (parts.size() >= 2) parts.erase(parts.begin()); // the launcher
        std::string id;
        for (std::size_t i = 0; i < parts.size(); ++i)
            id += (i ? "-" : "") + parts[i];
        id = validUTF8(unescape(id));
        if (id.size() > 8 && id.substr(id.size() - 8) == ".desktop") id.resize(id.size() - 8);
        if (!id.empty()) return id;
    }
    return std::nullopt;
}

std::optional<std::string> FrontAppIdentity::fromFlatpakInfo(std::string_view info) {
    bool inApplication = false;
    for (const auto& raw : split(info, '\n')) {
        std::string line = trim(raw);
        if (!line.empty() && line.front() == '[') {
            inApplication = line == "[Application]";
            continue;
        }
        if (!inApplication) continue;
        auto eq = line.find('=');
        if (eq != std::string::npos && trim(line.substr(0, eq)) == "name") {
            std::string name = trim(line.substr(eq + 1));
            if (!name.empty()) return validUTF8(name);
        }
    }
    return std::nullopt;
}

std::optional<std::string> FrontAppIdentity::ofProcess(std::int32_t processID) const {
    if (processID <= 0) return std::nullopt;
    std::string base = procRoot_ + "/" + std::to_string(processID);
    if (auto cgroup = readFile(base + "/cgroup"))
        if (auto id = fromCgroup(*cgroup)) return id;
    if (auto info = readFile(base + "/root/.flatpak-info"))
        if (auto id = fromFlatpakInfo(*info)) return id;
    return std::nullopt;
}

std::optional<std::string> FrontAppIdentity::desktopFileFor(const std::string& windowClass) const {
    for (const auto& dir : applicationDirs_) {
        DIR* d = ::opendir(dir.c_str());
        if (!d) continue;
        std::optional<std::string> found;
        while (dirent* e = ::readdir(d)) {
            std::string name = e->d_name;
            if (name.size() <= 8 || name.substr(name.size() - 8) != ".desktop") continue;
            auto text = readFile(dir + "/" + name);
            if (!text) continue;
            for (const auto& raw : split(*text, '\n')) {
                std::string line = trim(raw);
                if (line.rfind("StartupWMClass=", 0) == 0 && trim(line.substr(15)) == windowClass) {
                    found = validUTF8(name.substr(0, name.size() - 8));
                    break;
                }
            }
            if (found) break;
        }
        ::closedir(d);
        if (found) return found;
    }
    return std::nullopt;
}

std::optional<std::string> FrontAppIdentity::ofWindow(std::optional<std::int32_t> processID,
                                                      const std::string& windowClass) const {
    if (processID)
        if (auto id = ofProcess(*processID)) return id;
    if (windowClass.empty()) return std::nullopt;
    if (auto id = desktopFileFor(windowClass)) return id;
    return windowClass;
}

} // namespace kestrix::core
