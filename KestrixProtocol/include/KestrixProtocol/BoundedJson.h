#pragma once

#include <nlohmann/json.hpp>
#include <string_view>

namespace kestrix {

// JSON read from files that others may write (user defaults, the newest-broker record, the
// simulated devices) nests no deeper than this. Copying, comparing and printing a JSON value
// recurse over its nesting, so a file of a million brackets would exhaust the stack long after it
// was parsed; such a file is refused before parsing.
inline constexpr int maximumFileNesting = 64;

// Whether the text opens more than `limit` objects or lists inside each other (brackets inside
// strings do not count). One pass, no recursion.
bool nestsDeeperThan(std::string_view text, int limit);

// The parsed text; a discarded value (is_discarded()) when the text is not JSON or nests deeper
// than maximumFileNesting. Never throws.
nlohmann::json parseBoundedJson(std::string_view text);

} // namespace kestrix
