#pragma once

#include <string>
#include <string_view>

// Texts from the platform (sysfs attributes, X11 properties, file names) are bytes in no checked
// encoding; the protocol's JSON and the settings hold UTF-8 only.
namespace kestrix {

// Whether the bytes are well-formed UTF-8 (no overlong forms, surrogates or values above
// U+10FFFF).
bool isValidUTF8(std::string_view text);

// The text with every byte that does not begin a well-formed UTF-8 sequence replaced by U+FFFD.
std::string validUTF8(std::string_view text);

// An X11 STRING property: Latin-1 by definition, but some toolkits store UTF-8 there. Valid UTF-8
// is taken as it is, anything else as Latin-1.
std::string fromX11String(std::string_view text);

} // namespace kestrix
