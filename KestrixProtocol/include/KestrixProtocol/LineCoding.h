#pragma once

#include "KestrixProtocol/BoundedJson.h"

#include <concepts>
#include <cstddef>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

namespace kestrix {

// One JSON object per line. A message type M takes part through nlohmann's usual hooks, found by
// argument-dependent lookup: to_json(nlohmann::json&, const M&) and from_json(const
// nlohmann::json&, M&), the latter throwing (any std::exception) when the object does not form a
// message.
//
// A message type may also offer a fixed form for its most frequent lines, found the same way:
// writeHotLine(std::string& out, const M&) appends the line (with its line feed) and returns true
// when the message has such a form, and readHotLine(std::string_view line, M&) reads one into the
// message, reusing what it holds, and returns false for every other line. Both must agree with
// the JSON form.
template <class M>
concept HotLineCoded = requires(std::string& out, std::string_view line, const M& in, M& into) {
    { writeHotLine(out, in) } -> std::same_as<bool>;
    { readHotLine(line, into) } -> std::same_as<bool>;
};

// The value as compact JSON, its texts strictly UTF-8 (throws otherwise). An object's members
// come in name order, except the six of a SpaceMouseAxes, which come in the order x, y, z, rx,
// ry, rz, as the fixed form of the axes line has them.
std::string writtenJSON(const nlohmann::json& value);

struct LineEncoder {
    // The message as compact JSON followed by one line feed; a message that cannot be encoded
    // (for instance a text that is not valid UTF-8) becomes the line feed alone, which the receiver
    // drops as an empty line. Line feeds inside texts are escaped, so the line has no other.
    template <class M> static std::string encode(const M& message) {
        std::string line;
        encodeInto(line, message);
        return line;
    }

    // The same line, appended to `out`: without allocating when the message has a fixed form and
    // `out` has room.
    template <class M> static void encodeInto(std::string& out, const M& message) {
        if constexpr (HotLineCoded<M>) {
            if (writeHotLine(out, message)) return;
        }
        out += encodeJSON(message);
    }

private:
    template <class M> static std::string encodeJSON(const M& message) {
        try {
            nlohmann::json json = message;
            std::string line = writtenJSON(json);
            line.push_back('\n');
            return line;
        } catch (const std::exception&) {
            return "\n";
        }
    }
};

namespace detail {

// No message of the protocol nests deeper than a few levels. A line that does is refused before
// parsing, so that a hostile peer cannot make the parser build (and free) an object tree of a
// million levels from one line. Brackets inside strings do not count.
inline constexpr int maximumLineNesting = 64;

// Whether a line is refused without parsing: nested too deeply, or holding a NUL byte, which JSON
// never allows unescaped and which the parser would take as the end of the text (so that
// `{...}<NUL>garbage` would otherwise pass as the object alone).
inline bool refusedBeforeParsing(std::string_view line) {
    return line.find('\0') != std::string_view::npos || nestsDeeperThan(line, maximumLineNesting);
}

} // namespace detail

// Splits a byte stream into lines and decodes each as one message. A line that does not decode is
// dropped without notice and never disturbs the lines around it. A carriage return before the line
// feed is tolerated (JSON allows it as whitespace).
//
// Each byte is looked at once by the splitter, however the stream is cut into calls: a long line
// that arrives in small pieces costs no rescanning of what is already pending.
template <class M> class LineDecoder {
public:
    std::vector<M> feed(std::string_view bytes) {
        std::vector<M> messages;
        feed(bytes, [&messages](const M& message) { messages.push_back(message); });
        return messages;
    }

    // The same, handing each message to `deliver` as its line is decoded, without collecting
    // them. A message read in the fixed form lives in the decoder and is valid only during the
    // call of `deliver`.
    template <class Deliver> void feed(std::string_view bytes, Deliver&& deliver) {
        std::size_t end = bytes.find('\n');
        if (end == std::string_view::npos) {
            pending_.append(bytes);
            return;
        }
        if (pending_.empty()) {
            decodeInto(bytes.substr(0, end), deliver);
        } else {
            pending_.append(bytes.substr(0, end));
            decodeInto(pending_, deliver);
            pending_.clear();
            // A long line (up to the connection's limit) should not pin its buffer for good.
            if (pending_.capacity() > retainedCapacity) std::string().swap(pending_);
        }
        for (;;) {
            std::size_t start = end + 1;
            end = bytes.find('\n', start);
            if (end == std::string_view::npos) {
                pending_.assign(bytes.substr(start));
                return;
            }
            decodeInto(bytes.substr(start, end - start), deliver);
        }
    }

    // Bytes received after the last line feed: the length of the unterminated tail.
    std::size_t pendingCount() const { return pending_.size(); }

private:
    static constexpr std::size_t retainedCapacity = 64 * 1024;

    template <class Deliver> void decodeInto(std::string_view line, Deliver& deliver) {
        if constexpr (HotLineCoded<M>) {
            if (readHotLine(line, hot_)) {
                deliver(std::as_const(hot_));
                return;
            }
        }
        if (line.empty() || line == "\r" || detail::refusedBeforeParsing(line)) return;
        nlohmann::json json = nlohmann::json::parse(line, nullptr, false);
        if (json.is_discarded() || !json.is_object()) return;
        std::optional<M> message;
        try {
            message = json.template get<M>();
        } catch (const std::exception&) {
            return;
        }
        deliver(std::as_const(*message));
    }

    struct NoHotLines {};

    std::string pending_;
    // The message that lines of the fixed form are read into, again and again.
    [[no_unique_address]] std::conditional_t<HotLineCoded<M>, M, NoHotLines> hot_{};
};

} // namespace kestrix
