#include "KestrixProtocol/HotLines.h"

#include "KestrixProtocol/LineCoding.h"

#include <array>
#include <charconv>
#include <cstdint>
#include <cstring>

namespace kestrix::hotlines {

namespace {

constexpr std::string_view axesHead = R"({"axes":{"device":")";
constexpr std::string_view buttonsHead = R"({"buttons":{"device":")";
// What follows the id, and each axis value, in the designed member order.
constexpr std::array<std::string_view, 6> axesMembers = {
    R"(","axes":{"x":)", R"(,"y":)", R"(,"z":)", R"(,"rx":)", R"(,"ry":)", R"(,"rz":)"};
constexpr std::string_view axesTail = "}}}";
constexpr std::string_view heldMember = R"(","held":)";
constexpr std::string_view buttonsTail = "}}";

// Characters that JSON writes as they are and that are valid UTF-8 on their own.
bool plain(std::string_view text) {
    for (char c : text)
        if (c < 0x20 || c > 0x7e || c == '"' || c == '\\') return false;
    return true;
}

template <class I> void appendNumber(std::string& out, I value) {
    char digits[24];
    auto result = std::to_chars(digits, digits + sizeof digits, value);
    out.append(digits, result.ptr);
}

// A JSON integer at `at` in the form the JSON writer uses: an optional minus, then digits
// without a leading zero (a lone 0 aside), within the range of I. Leaves `at` behind it.
template <class I> bool readNumber(std::string_view line, std::size_t& at, I& out) {
    std::size_t start = at;
    std::size_t digits = at + (at < line.size() && line[at] == '-' ? 1 : 0);
    if (digits >= line.size() || line[digits] < '0' || line[digits] > '9') return false;
    if (line[digits] == '0' && digits + 1 < line.size() && line[digits + 1] >= '0' &&
        line[digits + 1] <= '9')
        return false;
    if (line[digits] == '0' && digits > start) return false; // -0: left to the JSON reader
    auto result = std::from_chars(line.data() + start, line.data() + line.size(), out);
    if (result.ec != std::errc()) return false; // out of range, or a minus for an unsigned
    at = std::size_t(result.ptr - line.data());
    // A fraction or an exponent makes it no integer of this form.
    return at == line.size() || (line[at] != '.' && line[at] != 'e' && line[at] != 'E');
}

bool expect(std::string_view line, std::size_t& at, std::string_view text) {
    if (line.size() - at < text.size() || std::memcmp(line.data() + at, text.data(), text.size()))
        return false;
    at += text.size();
    return true;
}

// The id from `at` up to its closing quote, which `at` is left on.
bool readDevice(std::string_view line, std::size_t& at, std::string& device) {
    std::size_t end = line.find('"', at);
    if (end == std::string_view::npos) return false;
    std::string_view text = line.substr(at, end - at);
    if (!plain(text)) return false;
    device.assign(text);
    at = end;
    return true;
}

template <class T> T& reuse(BrokerMessage& message) {
    if (T* held = message.as<T>()) return *held;
    return message.value.emplace<T>();
}

} // namespace

bool writeAxes(std::string& out, std::string_view device, const smk::SpaceMouseAxes& axes) {
    if (!plain(device)) return false;
    // Written in place in room made once: the longest members and values, then cut to size.
    constexpr std::size_t numberRoom = 20; // an int64_t's digits and sign
    std::size_t start = out.size();
    std::size_t members = 0;
    for (auto member : axesMembers)
        members += member.size();
    out.resize(start + axesHead.size() + device.size() + members + 6 * numberRoom +
               axesTail.size() + 1);
    char* at = out.data() + start;
    auto put = [&at](std::string_view text) {
        std::memcpy(at, text.data(), text.size());
        at += text.size();
    };
    put(axesHead);
    put(device);
    const std::int64_t values[6] = {axes.x, axes.y, axes.z, axes.rx, axes.ry, axes.rz};
    for (std::size_t i = 0; i < 6; ++i) {
        put(axesMembers[i]);
        at = std::to_chars(at, at + numberRoom, values[i]).ptr;
    }
    put(axesTail);
    *at++ = '\n';
    out.resize(std::size_t(at - out.data()));
    return true;
}

bool writeButtons(std::string& out, std::string_view device, smk::SpaceMouseButtons held) {
    if (!plain(device)) return false;
    out.append(buttonsHead);
    out.append(device);
    out.append(heldMember);
    appendNumber(out, held.rawValue);
    out.append(buttonsTail);
    out.push_back('\n');
    return true;
}

void appendAxesLine(std::string& out, std::string_view device, const smk::SpaceMouseAxes& axes) {
    if (!writeAxes(out, device, axes))
        out += LineEncoder::encode(BrokerMessage{BrokerMessage::Axes{std::string(device), axes}});
}

void appendButtonsLine(std::string& out, std::string_view device, smk::SpaceMouseButtons held) {
    if (!writeButtons(out, device, held))
        out +=
            LineEncoder::encode(BrokerMessage{BrokerMessage::Buttons{std::string(device), held}});
}

bool read(std::string_view line, BrokerMessage& message) {
    std::size_t at = 0;
    if (expect(line, at, axesHead)) {
        auto& axes = reuse<BrokerMessage::Axes>(message);
        std::int64_t values[6];
        if (!readDevice(line, at, axes.device)) return false;
        for (std::size_t i = 0; i < 6; ++i)
            if (!expect(line, at, axesMembers[i]) || !readNumber(line, at, values[i])) return false;
        if (!expect(line, at, axesTail) || at != line.size()) return false;
        axes.axes = {values[0], values[1], values[2], values[3], values[4], values[5]};
        return true;
    }
    if (expect(line, at, buttonsHead)) {
        auto& buttons = reuse<BrokerMessage::Buttons>(message);
        std::uint64_t bits = 0;
        if (!readDevice(line, at, buttons.device) || !expect(line, at, heldMember) ||
            !readNumber(line, at, bits) || !expect(line, at, buttonsTail) || at != line.size())
            return false;
        buttons.held = smk::SpaceMouseButtons(bits);
        return true;
    }
    return false;
}

} // namespace kestrix::hotlines

namespace kestrix {

bool writeHotLine(std::string& out, const BrokerMessage& message) {
    if (auto* axes = message.as<BrokerMessage::Axes>())
        return hotlines::writeAxes(out, axes->device, axes->axes);
    if (auto* buttons = message.as<BrokerMessage::Buttons>())
        return hotlines::writeButtons(out, buttons->device, buttons->held);
    return false;
}

bool readHotLine(std::string_view line, BrokerMessage& message) {
    return hotlines::read(line, message);
}

} // namespace kestrix
