// What KWin's script and the GNOME Shell extension send comes off the session bus: any three
// strings (split at NUL bytes here) must give a window's facts, never a crash.
#include "FrontApp/ShellReports.h"

#include <cstddef>
#include <cstdint>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view text(reinterpret_cast<const char*>(data), size);
    std::string_view parts[3];
    for (auto& part : parts) {
        auto zero = text.find('\0');
        part = text.substr(0, zero);
        text = zero == std::string_view::npos ? std::string_view() : text.substr(zero + 1);
    }
    using namespace kestrix::core;
    FrontAppWindow kwin = windowFromKWin(parts[0], parts[1], parts[2]);
    (void)FrontAppIdentity::isID(kwin.appID);
    auto id = processIDFromText(parts[2]);
    FrontAppWindow shell = windowFromGnomeShell(parts[0], parts[1], id.value_or(-1));
    if (shell.processID && *shell.processID <= 0) __builtin_trap();
    return 0;
}
