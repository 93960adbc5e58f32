// Feeds arbitrary bytes, as a peer on the socket could send them, to both line decoders. The
// stream is also fed in two pieces, cut where the first byte says, and must give the same
// messages. Every decoded message must encode to one line that decodes to an equal message.

#include "KestrixProtocol/LineCoding.h"
#include "KestrixProtocol/Messages.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
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

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view bytes(reinterpret_cast<const char*>(data), size);
    std::size_t cut = size == 0 ? 0 : data[0] % (size + 1);
    exercise<kestrix::ClientMessage>(bytes, cut);
    exercise<kestrix::BrokerMessage>(bytes, cut);
    return 0;
}
