#include "FrontApp/FrontAppIdentity.h"

#include "FrontApp/DesktopAppIndex.h"
#include "KestrixProtocol/SmallFile.h"
#include "KestrixProtocol/TextEncoding.h"

#include <cstdlib>

namespace kestrix::core {

namespace {

// A file of a process is read on the loop whenever a client or a window names the process, and
// a process with a root folder of its own (an unprivileged user namespace) chooses what lies in
// it: only a regular file is read, without waiting on it, and only when it is small. The files
// that name an app are a few hundred bytes.
constexpr std::size_t maxProcessFileBytes = 64 * 1024;

std::optional<std::string> readProcessFile(const std::string& path) {
    SmallFile file = readSmallFile(path, maxProcessFileBytes, LastLink::refuse);
    if (file.status != SmallFile::Status::ok) return std::nullopt;
    return std::move(file.bytes);
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

// The text as an id: valid UTF-8 (bad bytes become U+FFFD), absent when it cannot be one.
std::optional<std::string> asID(std::string_view text) {
    std::string id = validUTF8(text);
    if (!FrontAppIdentity::isID(id)) return std::nullopt;
    return id;
}

std::string withoutDesktopSuffix(std::string id) {
    if (id.size() > 8 && id.substr(id.size() - 8) == ".desktop") id.resize(id.size() - 8);
    return id;
}

} // namespace

bool equalWithoutCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
        if (lower(a[i]) != lower(b[i])) return false;
    }
    return true;
}

std::optional<std::string> matchDesktopApp(const std::vector<DesktopApp>& apps,
                                           const FrontAppWindow& window) {
    const std::string_view names[] = {window.windowClass, window.instance};
    for (auto name : names) {
        if (name.empty()) continue;
        for (const auto& app : apps)
            if (equalWithoutCase(app.startupWMClass, name)) return app.id;
    }
    // The whole id first, then its last part ("org.gnome.Nautilus" for "nautilus").
    for (bool lastPart : {false, true})
        for (auto name : {window.instance, window.windowClass}) {
            if (name.empty()) continue;
            for (const auto& app : apps) {
                std::string_view id = app.id;
                if (lastPart) id = id.substr(id.rfind('.') + 1);
                if (equalWithoutCase(id, name)) return app.id;
            }
        }
    return std::nullopt;
}

FrontAppIdentity::FrontAppIdentity(std::string procRoot, std::vector<std::string> applicationDirs)
    : FrontAppIdentity(std::move(procRoot), DesktopAppIndex::fixed(std::move(applicationDirs))) {}

FrontAppIdentity::FrontAppIdentity(std::string procRoot,
                                   std::shared_ptr<DesktopAppIndex> installedApps)
    : procRoot_(std::move(procRoot))
    , installedApps_(std::move(installedApps)) {}

FrontAppIdentity FrontAppIdentity::standard(MainLoop& loop) {
    return FrontAppIdentity("/proc", DesktopAppIndex::watched(loop, standardApplicationDirs()));
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
        if (auto valid = asID(withoutDesktopSuffix(unescape(id)))) return valid;
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
            if (auto name = asID(trim(line.substr(eq + 1)))) return name;
        }
    }
    return std::nullopt;
}

void FrontAppIdentity::nameProcess(std::int32_t processID, std::string id) {
    namedProcess_.emplace(processID, std::move(id));
}

std::optional<std::string> FrontAppIdentity::ofProcess(std::int32_t processID) const {
    if (processID <= 0) return std::nullopt;
    if (namedProcess_ && namedProcess_->first == processID) return namedProcess_->second;
    std::string base = procRoot_ + "/" + std::to_string(processID);
    if (auto cgroup = readProcessFile(base + "/cgroup"))
        if (auto id = fromCgroup(*cgroup)) return id;
    // The Flatpak id is what the sandbox's .flatpak-info says. A process that makes a root folder
    // of its own can put any .flatpak-info there and so claim any app id; nothing here tells a
    // real sandbox from one that looks like it, and that is left as it is.
    if (auto info = readProcessFile(base + "/root/.flatpak-info"))
        if (auto id = fromFlatpakInfo(*info)) return id;
    return std::nullopt;
}

bool FrontAppIdentity::isID(std::string_view text) {
    if (text.empty() || text.size() > maxIDLength) return false;
    for (char c : text)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) return false;
    return true;
}

std::optional<std::string> FrontAppIdentity::desktopFileFor(const FrontAppWindow& window) const {
    return matchDesktopApp(*installedApps_->apps(), window);
}

std::optional<std::string> FrontAppIdentity::ofWindow(const FrontAppWindow& window) const {
    if (window.processID)
        if (auto id = ofProcess(*window.processID)) return id;
    if (auto id = asID(withoutDesktopSuffix(window.appID))) {
        // A native app's app_id is its desktop-file id. Some compositors put an XWayland
        // window's WM_CLASS there instead: an app_id that no installed file has is matched as a
        // class would be, so that the app is named as the chooser names it.
        const std::vector<DesktopApp>& apps = *installedApps_->apps();
        for (const DesktopApp& app : apps)
            if (app.id == *id) return id;
        if (auto match = matchDesktopApp(apps, FrontAppWindow{std::nullopt, {}, *id, *id}))
            return match;
        return id;
    }
    if (auto id = desktopFileFor(window)) return id;
    return asID(window.windowClass);
}

} // namespace kestrix::core
