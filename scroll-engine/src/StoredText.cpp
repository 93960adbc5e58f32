#include "ScrollCore/StoredText.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <system_error>

namespace scroll::stored {

namespace {

bool isBlank(char c) {
    return c == ' ' || c == '\t';
}

} // namespace

std::string_view trimBlanks(std::string_view text) {
    while (!text.empty() && isBlank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && isBlank(text.back()))
        text.remove_suffix(1);
    return text;
}

std::string lowercased(std::string_view text) {
    std::string result(text);
    for (char& c : result) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return result;
}

std::vector<std::string_view> splitAtCommas(std::string_view text) {
    std::vector<std::string_view> pieces;
    while (true) {
        const auto comma = text.find(',');
        const auto piece = text.substr(0, comma);
        if (!piece.empty()) pieces.push_back(piece);
        if (comma == std::string_view::npos) break;
        text.remove_prefix(comma + 1);
    }
    return pieces;
}

std::optional<bool> readFlag(std::string_view text) {
    const auto word = lowercased(trimBlanks(text));
    if (word == "1" || word == "true" || word == "yes") return true;
    if (word == "0" || word == "false" || word == "no") return false;
    return std::nullopt;
}

std::string flagText(bool value) {
    return value ? "1" : "0";
}

std::optional<double> readNumber(std::string_view text) {
    text = trimBlanks(text);
    // from_chars takes a leading minus but no plus.
    if (text.size() > 1 && text.front() == '+' && text[1] != '-') text.remove_prefix(1);
    // Only digits, a point and an exponent: this keeps out "inf", "nan" and hexadecimal forms,
    // which from_chars would otherwise read.
    for (char c : text) {
        const bool allowed =
            (c >= '0' && c <= '9') || c == '.' || c == 'e' || c == 'E' || c == '-' || c == '+';
        if (!allowed) return std::nullopt;
    }
    double value = 0;
    const char* end = text.data() + text.size();
    const auto [last, error] = std::from_chars(text.data(), end, value);
    if (error != std::errc() || last != end || !std::isfinite(value)) return std::nullopt;
    return value;
}

std::string numberText(double value) {
    char buffer[64];
    const auto [last, error] = std::to_chars(buffer, buffer + sizeof buffer, value);
    std::string text(buffer, error == std::errc() ? last : buffer);
    // Always a fractional digit, so the text reads as a floating-point number everywhere:
    // "3000" becomes "3000.0" and "1e+22" becomes "1.0e+22".
    if (std::isfinite(value) && text.find('.') == std::string::npos) {
        text.insert(std::min(text.find('e'), text.size()), ".0");
    }
    return text;
}

} // namespace scroll::stored
