#include "KestrixProtocol/BoundedJson.h"

namespace kestrix {

bool nestsDeeperThan(std::string_view text, int limit) {
    int depth = 0;
    bool inString = false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (inString) {
            if (c == '\\')
                ++i;
            else if (c == '"')
                inString = false;
        } else if (c == '"') {
            inString = true;
        } else if (c == '{' || c == '[') {
            if (++depth > limit) return true;
        } else if (c == '}' || c == ']') {
            --depth;
        }
    }
    return false;
}

nlohmann::json parseBoundedJson(std::string_view text) {
    if (nestsDeeperThan(text, maximumFileNesting))
        return nlohmann::json(nlohmann::json::value_t::discarded);
    return nlohmann::json::parse(text, nullptr, false);
}

} // namespace kestrix
