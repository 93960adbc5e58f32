#include "ReleaseNotes/ReleaseNotes.h"

#include <algorithm>

namespace releasenotes {

namespace {

using Size = std::string_view::size_type;

// The length of the UTF-8 line break at `at` (LF, VT, FF, CR, NEL, LS, PS), or 0. A CR LF pair
// counts as two breaks, so it leaves an empty line between them.
Size lineBreakAt(std::string_view text, Size at) {
    const auto byte = [&](Size i) { return i < text.size() ? static_cast<unsigned char>(text[i]) : 0u; };
    const unsigned c = byte(at);
    if (c >= 0x0A && c <= 0x0D) return 1;
    if (c == 0xC2 && byte(at + 1) == 0x85) return 2;
    if (c == 0xE2 && byte(at + 1) == 0x80 && (byte(at + 2) == 0xA8 || byte(at + 2) == 0xA9)) return 3;
    return 0;
}

// The UTF-8 encodings of the blank characters: tab and the Unicode space separators.
constexpr std::string_view blanks[] = {
    "\t", " ", "\u00A0", "\u1680", "\u2000", "\u2001", "\u2002", "\u2003", "\u2004", "\u2005",
    "\u2006", "\u2007", "\u2008", "\u2009", "\u200A", "\u202F", "\u205F", "\u3000",
};

Size blankPrefix(std::string_view text) {
    for (std::string_view blank : blanks)
        if (text.starts_with(blank)) return blank.size();
    return 0;
}

Size blankSuffix(std::string_view text) {
    for (std::string_view blank : blanks)
        if (text.ends_with(blank)) return blank.size();
    return 0;
}

std::string_view trimmed(std::string_view text) {
    while (Size n = blankPrefix(text)) text.remove_prefix(n);
    while (Size n = blankSuffix(text)) text.remove_suffix(n);
    return text;
}

bool isDigit(char c) { return c >= '0' && c <= '9'; }

// The parser's state between lines.
class Parser {
public:
    void line(std::string_view raw) {
        const std::string_view line = trimmed(raw);
        if (line.starts_with("## ")) {
            endParagraph();
            endVersion();
            ReleaseNotes::Version version;
            version.heading = std::string(trimmed(line.substr(3)));
            version.number = ReleaseNotes::versionNumber(version.heading);
            current_ = std::move(version);
        } else if (line.starts_with("### ")) {
            endParagraph();
            if (current_) current_->sections.push_back({std::string(trimmed(line.substr(4))), {}});
        } else if (line.starts_with("- ") || line.starts_with("* ")) {
            endParagraph();
            paragraph_.emplace_back(trimmed(line.substr(2)));
            isItem_ = true;
        } else if (line.empty()) {
            endParagraph();
        } else {
            paragraph_.emplace_back(line);
        }
    }

    std::vector<ReleaseNotes::Version> finish() {
        endParagraph();
        endVersion();
        return std::move(finished_);
    }

private:
    void endParagraph() {
        if (!paragraph_.empty() && current_) {
            std::string text;
            for (const std::string& part : paragraph_) {
                if (!text.empty()) text += ' ';
                text += part;
            }
            if (current_->sections.empty())
                current_->introduction.push_back(std::move(text));
            else if (isItem_)
                current_->sections.back().items.push_back(std::move(text));
        }
        paragraph_.clear();
        isItem_ = false;
    }

    void endVersion() {
        if (current_) finished_.push_back(std::move(*current_));
        current_.reset();
    }

    std::vector<ReleaseNotes::Version> finished_;
    std::optional<ReleaseNotes::Version> current_;
    std::vector<std::string> paragraph_;
    bool isItem_ = false;
};

} // namespace

bool ReleaseNotes::Version::isEmpty() const {
    return introduction.empty() &&
           std::all_of(sections.begin(), sections.end(), [](const Section& s) { return s.items.empty(); });
}

ReleaseNotes ReleaseNotes::parse(std::string_view markdown) {
    Parser parser;
    Size start = 0;
    for (Size at = 0; at < markdown.size();) {
        if (Size length = lineBreakAt(markdown, at)) {
            parser.line(markdown.substr(start, at - start));
            at += length;
            start = at;
        } else {
            ++at;
        }
    }
    parser.line(markdown.substr(start));
    return ReleaseNotes(parser.finish());
}

std::vector<ReleaseNotes::Version> ReleaseNotes::released() const {
    std::vector<Version> result;
    for (const Version& version : versions)
        if (version.number && !version.isEmpty()) result.push_back(version);
    return result;
}

std::optional<std::string> ReleaseNotes::versionNumber(std::string_view heading) {
    // The number runs up to the first white space (a line break or a blank) or the end of the
    // heading; all of that must be 2 or 3 runs of digits joined by single dots.
    Size end = 0;
    while (end < heading.size() && !lineBreakAt(heading, end) && !blankPrefix(heading.substr(end))) ++end;
    const std::string_view candidate = heading.substr(0, end);
    int runs = 0;
    Size runLength = 0;
    for (char c : candidate) {
        if (isDigit(c)) {
            ++runLength;
        } else if (c == '.' && runLength > 0) {
            ++runs;
            runLength = 0;
        } else {
            return std::nullopt;
        }
    }
    if (runLength == 0) return std::nullopt;
    ++runs;
    if (runs < 2 || runs > 3) return std::nullopt;
    return std::string(candidate);
}

} // namespace releasenotes
