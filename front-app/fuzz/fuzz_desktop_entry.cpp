// Desktop files are written by any package and any user: the reader must take every byte
// sequence without crashing, hanging or growing without bound.
#include "FrontApp/DesktopEntry.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view text(reinterpret_cast<const char*>(data), size);
    auto entry = kestrix::core::DesktopEntry::parse(text);
    // The first line doubles as a locale, so odd locale texts get tried too.
    std::string_view locale = text.substr(0, std::min<std::size_t>(text.find('\n'), 40));
    // A name is at most maximumNameLength characters of up to four bytes each.
    constexpr std::size_t longest = 4 * kestrix::core::DesktopEntry::maximumNameLength;
    for (auto name : {entry.localized("Name", locale), entry.localized("Name", "de_DE.UTF-8@euro")})
        if (name && name->size() > longest) __builtin_trap();
    (void)entry.flag("NoDisplay");
    (void)entry.value("Icon");
    return 0;
}
