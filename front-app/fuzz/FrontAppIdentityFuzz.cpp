// The identity rules read texts that other programs write (cgroup names, .flatpak-info, app_id,
// WM_CLASS, StartupWMClass): any bytes must give an answer or none, never a crash.
#include "FrontApp/FrontAppIdentity.h"

#include <cstddef>
#include <cstdint>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using kestrix::core::FrontAppIdentity;
    std::string_view text(reinterpret_cast<const char*>(data), size);
    (void)FrontAppIdentity::fromCgroup(text);
    (void)FrontAppIdentity::fromFlatpakInfo(text);
    (void)FrontAppIdentity::isID(text);
    // The first line is the window's WM_CLASS instance and class, the rest the installed apps'
    // ids and StartupWMClass values, a line each.
    std::string_view first = text.substr(0, text.find('\n'));
    kestrix::core::FrontAppWindow window{std::nullopt, std::string(first),
                                         std::string(first.substr(0, first.size() / 2)),
                                         std::string(first.substr(first.size() / 2))};
    std::vector<kestrix::core::DesktopApp> apps;
    std::size_t at = first.size();
    while (at < text.size()) {
        std::size_t end = text.find('\n', at + 1);
        std::string line(text.substr(at + 1, end == std::string_view::npos ? end : end - at - 1));
        apps.push_back({line, line.substr(line.size() / 3)});
        at = end == std::string_view::npos ? text.size() : end;
    }
    (void)kestrix::core::matchDesktopApp(apps, window);
    (void)FrontAppIdentity("/nonexistent", std::vector<std::string>{}).ofWindow(window);
    return 0;
}
