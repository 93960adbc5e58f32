#include "KestrixCore/FeatureReports.h"

#include "KestrixCore/Devices.h"
#include "SpaceMouseKit/Text.h"

#include <algorithm>
#include <limits>

namespace kestrix::core {

namespace {

// The length in bytes of the line break that starts at `i`, 0 when none does: line feed,
// vertical tab, form feed, carriage return, and in UTF-8 next line, line and paragraph
// separator.
std::size_t lineBreak(const std::string& text, std::size_t i) {
    auto byte = [&](std::size_t at) { return static_cast<unsigned char>(text[at]); };
    unsigned char c = byte(i);
    if (c == '\n' || c == '\v' || c == '\f' || c == '\r') return 1;
    if (c == 0xC2 && i + 1 < text.size() && byte(i + 1) == 0x85) return 2;
    if (c == 0xE2 && i + 2 < text.size() && byte(i + 1) == 0x80 &&
        (byte(i + 2) == 0xA8 || byte(i + 2) == 0xA9))
        return 3;
    return 0;
}

std::string oneLine(const std::string& text) {
    std::string result;
    auto addPiece = [&](std::string piece) {
        auto blank = [](char c) { return c == ' ' || c == '\t'; };
        auto begin = std::find_if_not(piece.begin(), piece.end(), blank);
        auto end = std::find_if_not(piece.rbegin(), piece.rend(), blank).base();
        // Pieces that were empty between two breaks are dropped; blank ones end up empty.
        if (piece.empty()) return;
        std::string trimmed = begin < end ? std::string(begin, end) : std::string();
        if (!result.empty()) result += ' ';
        result += trimmed;
    };
    std::string piece;
    for (std::size_t i = 0; i < text.size();) {
        if (auto n = lineBreak(text, i)) {
            addPiece(std::move(piece));
            piece.clear();
            i += n;
        } else {
            piece += text[i++];
        }
    }
    addPiece(std::move(piece));
    return result;
}

} // namespace

std::string propertyText(const PropertyValue& value) {
    if (auto* number = std::get_if<std::int64_t>(&value)) return std::to_string(*number);
    if (auto* text = std::get_if<std::string>(&value)) return *text;
    if (auto* bytes = std::get_if<std::vector<std::uint8_t>>(&value)) return smk::hex(*bytes, "");
    return oneLine(std::get<PropertyDescription>(value).text);
}

std::map<std::string, std::string> Devices::properties(const HIDBackend& backend, DeviceKey key) {
    std::map<std::string, std::string> texts;
    for (const char* name : ownPropertyKeys)
        if (auto value = backend.property(key, name)) texts[name] = propertyText(*value);
    for (const char* name : searchedPropertyKeys)
        if (auto value = backend.searchProperty(key, name)) texts[name] = propertyText(*value);
    return texts;
}

std::optional<std::int64_t> Devices::interfaceNumber(const HIDBackend& backend, DeviceKey key) {
    auto value = backend.searchProperty(key, property::interfaceNumber);
    if (!value) return std::nullopt;
    if (auto* number = std::get_if<std::int64_t>(&*value)) return *number;
    return std::nullopt;
}

std::optional<std::vector<std::uint8_t>>
Devices::getFeature(HIDBackend& backend, DeviceKey key, std::uint8_t reportID, std::size_t length,
                    const std::shared_ptr<HIDHandle>& device) {
    auto read = [&](HIDHandle& handle) -> std::optional<std::vector<std::uint8_t>> {
        std::vector<std::uint8_t> buffer(std::clamp<std::size_t>(length, 2, largestReport), 0);
        buffer[0] = reportID;
        std::size_t size = buffer.size();
        if (handle.getFeature(reportID, buffer.data(), size) != hidSuccess) return std::nullopt;
        buffer.resize(std::min(size, buffer.size()));
        return buffer;
    };
    if (device) return read(*device);
    auto handle = backend.makeHandle(key);
    if (!handle || handle->open(false) != hidSuccess) return std::nullopt;
    auto bytes = read(*handle);
    handle->close();
    return bytes;
}

std::optional<std::vector<std::uint8_t>> Devices::getFeatureOverControlPipe(HIDBackend& backend,
                                                                            ControlPipe pipe,
                                                                            std::uint8_t reportID,
                                                                            std::size_t length) {
    std::size_t size = std::max<std::size_t>(length, 2);
    constexpr auto limit = std::numeric_limits<std::uint16_t>::max();
    // wIndex and wLength of the request are 16-bit fields.
    if (pipe.interface < 0 || pipe.interface > limit || size > limit || pipe.location < 0 ||
        pipe.location > std::numeric_limits<std::uint32_t>::max())
        return std::nullopt;
    return backend.getFeatureOverControlPipe(static_cast<std::uint32_t>(pipe.location),
                                             static_cast<std::uint16_t>(pipe.interface), reportID,
                                             static_cast<std::uint16_t>(size));
}

} // namespace kestrix::core
