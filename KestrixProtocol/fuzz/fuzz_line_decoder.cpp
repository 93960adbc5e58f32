// Feeds arbitrary bytes, as a peer on the socket could send them, to both line decoders. The
// stream is also fed in two pieces, cut where the first byte says, and must give the same
// messages. Every decoded message must encode to one line that decodes to an equal message.
// Every line that the fixed-form reader of axes and buttons takes must read the same through the
// JSON reader, and be exactly what the fixed-form writer makes of its message.

#include "KestrixProtocol/HotLines.h"
#include "KestrixProtocol/LineCoding.h"
#include "KestrixProtocol/Messages.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <nlohmann/json.hpp>
#include <string_view>
#include <vector>

namespace {

template <class M> void exercise(std::string_view bytes, std::size_t cut) {
    kestrix::LineDecoder<M> whole;
    std::vector<M> messages = whole.feed(bytes);

    kestrix::LineDecoder<M> split;
    std::vector<M> pieces = split.feed(bytes.substr(0, cut));
    std::vector<M> rest = split.feed(bytes.substr(cut));
    pieces.insert(pieces.end(), rest.begin(), rest.end());
    if (pieces != messages || split.pendingCount() != whole.pendingCount()) std::abort();

    for (const M& message : messages) {
        std::string line = kestrix::LineEncoder::encode(message);
        if (line.empty() || line.back() != '\n' || line.find('\n') != line.size() - 1) std::abort();
        kestrix::LineDecoder<M> again;
        std::vector<M> decoded = again.feed(line);
        if (decoded.size() != 1 || !(decoded.front() == message)) std::abort();
    }
}

void compareHotLines(std::string_view bytes) {
    std::size_t start = 0;
    for (;;) {
        std::size_t end = std::min(bytes.find('\n', start), bytes.size());
        std::string_view line = bytes.substr(start, end - start);
        kestrix::BrokerMessage fixed;
        if (kestrix::hotlines::read(line, fixed)) {
            nlohmann::json json = nlohmann::json::parse(line, nullptr, false);
            if (json.is_discarded()) std::abort();
            kestrix::BrokerMessage general;
            try {
                general = json.get<kestrix::BrokerMessage>();
            } catch (const std::exception&) {
                std::abort();
            }
            if (!(general == fixed)) std::abort();
            std::string written;
            if (!kestrix::writeHotLine(written, fixed) ||
                written.substr(0, written.size() - 1) != line)
                std::abort();
        }
        if (end == bytes.size()) return;
        start = end + 1;
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view bytes(reinterpret_cast<const char*>(data), size);
    std::size_t cut = size == 0 ? 0 : data[0] % (size + 1);
    exercise<kestrix::ClientMessage>(bytes, cut);
    exercise<kestrix::BrokerMessage>(bytes, cut);
    compareHotLines(bytes);
    return 0;
}
