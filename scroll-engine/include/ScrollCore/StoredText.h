#pragma once

// Reading and writing the small texts of the stored settings: flags, numbers, lists.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace scroll::stored {

// Without leading and trailing spaces and tabs (line breaks are kept).
std::string_view trimBlanks(std::string_view text);
// ASCII letters lowered; other bytes unchanged.
std::string lowercased(std::string_view text);
// The pieces between commas, empty pieces dropped.
std::vector<std::string_view> splitAtCommas(std::string_view text);

// "1", "true", "yes" / "0", "false", "no", after trimming, in any case; absent otherwise.
std::optional<bool> readFlag(std::string_view text);
std::string flagText(bool value);

// A finite decimal number (sign, fraction and exponent allowed) with blanks around it; absent
// for anything else, including the words for infinity and not-a-number and numbers too large
// for a double.
std::optional<double> readNumber(std::string_view text);
// The shortest decimal form that reads back to the same value, with at least one fractional
// digit ("1.0", "3000.0", "0.25", "1.0e+22").
std::string numberText(double value);

} // namespace scroll::stored
