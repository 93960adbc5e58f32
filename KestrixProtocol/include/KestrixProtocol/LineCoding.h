#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

namespace kestrix {

// One JSON object per line. A message type M takes part through nlohmann's usual hooks, found by
// argument-dependent lookup: to_json(nlohmann::json&, const M&) and from_json(const nlohmann::json&,
// M&), the latter throwing (any std::exception) when the object does not form a message.
struct LineEncoder {
    // The message as compact JSON followed by one line feed; a message that cannot be encoded
    // becomes the line feed alone, which the receiver drops as an empty line.
    template <class M> static std::string encode(const M& message) {
        try {
            nlohmann::json json = message;
            std::string line = json.dump(-1, ' ', false, nlohmann::json::error_handler_t::strict);
            line.push_back('\n');
            return line;
        } catch (const std::exception&) {
            return "\n";
        }
    }
};

// Splits a byte stream into lines and decodes each as one message. A line that does not decode is
// dropped without notice and never disturbs the lines around it. A carriage return before the line
// feed is tolerated.
template <class M> class LineDecoder {
public:
    std::vector<M> feed(std::string_view bytes) {
        std::vector<M> messages;
        pending_.append(bytes);
        std::size_t start = 0;
        for (;;) {
            std::size_t end = pending_.find('\n', start);
            if (end == std::string::npos)
                break;
            std::string_view line(pending_.data() + start, end - start);
            if (!line.empty() && line.back() == '\r')
                line.remove_suffix(1);
            decodeInto(line, messages);
            start = end + 1;
        }
        pending_.erase(0, start);
        return messages;
    }

    // Bytes received after the last line feed.
    std::size_t pendingCount() const { return pending_.size(); }

private:
    static void decodeInto(std::string_view line, std::vector<M>& messages) {
        if (line.empty())
            return;
        nlohmann::json json = nlohmann::json::parse(line, nullptr, false);
        if (json.is_discarded() || !json.is_object())
            return;
        try {
            messages.push_back(json.template get<M>());
        } catch (const std::exception&) {
        }
    }

    std::string pending_;
};

} // namespace kestrix
