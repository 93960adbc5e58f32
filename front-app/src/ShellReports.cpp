#include "FrontApp/ShellReports.h"

#include <limits>

namespace kestrix::core {

std::optional<std::int32_t> processIDFromText(std::string_view text) {
    if (text.empty()) return std::nullopt;
    std::int64_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        value = value * 10 + (c - '0');
        if (value > std::numeric_limits<std::int32_t>::max()) return std::nullopt;
    }
    if (value < 1) return std::nullopt;
    return static_cast<std::int32_t>(value);
}

std::string desktopIDFromShell(std::string_view name) {
    if (name.starts_with("window:")) return {};
    if (auto slash = name.rfind('/'); slash != std::string_view::npos)
        name.remove_prefix(slash + 1);
    constexpr std::string_view suffix = ".desktop";
    if (name.size() > suffix.size() && name.ends_with(suffix))
        name.remove_suffix(suffix.size());
    return std::string(name);
}

FrontAppWindow windowFromKWin(std::string_view desktopFileName, std::string_view resourceClass,
                              std::string_view processID) {
    FrontAppWindow window;
    window.processID = processIDFromText(processID);
    window.appID = desktopIDFromShell(desktopFileName);
    window.windowClass = std::string(resourceClass);
    return window;
}

FrontAppWindow windowFromGnomeShell(std::string_view appID, std::string_view windowClass,
                                    std::int32_t processID) {
    FrontAppWindow window;
    if (processID > 0) window.processID = processID;
    window.appID = desktopIDFromShell(appID);
    window.windowClass = std::string(windowClass);
    return window;
}

} // namespace kestrix::core
