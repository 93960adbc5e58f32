#include "KestrixProtocol/HotLines.h"

#include "KestrixProtocol/LineCoding.h"

#include <array>
#include <charconv>
#include <cstdint>
#include <cstring>
#include <utility>

namespace kestrix::hotlines {

namespace {

constexpr std::string_view axesHead = R"({"axes":{"device":")";
constexpr std::string_view buttonsHead = R"({"buttons":{"device":")";
// What follows the id, and each axis value, in the order x, y, z, rx, ry, rz.
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
    const char* end = line.data() + line.size();
    const char* start = line.data() + at;
    bool negative = start < end && *start == '-';
    const char* first = start + (negative ? 1 : 0);
    const char* after = first;
    while (after < end && *after >= '0' && *after <= '9')
        ++after;
    if (after == first) return false;
    if (*first == '0' && (after - first > 1 || negative)) return false; // 007, or -0
    // A fraction or an exponent makes it no integer of this form.
    if (after < end && (*after == '.' || *after == 'e' || *after == 'E')) return false;
    if (after - first <= 18) {
        // Eighteen digits cannot overflow: the common case, read without the general parser.
        std::int64_t magnitude = 0;
        for (const char* digit = first; digit < after; ++digit)
            magnitude = magnitude * 10 + (*digit - '0');
        std::int64_t value = negative ? -magnitude : magnitude;
        if (!std::in_range<I>(value)) return false;
        out = I(value);
    } else {
        auto result = std::from_chars(start, after, out);
        if (result.ec != std::errc() || result.ptr != after) return false; // out of range
    }
    at = std::size_t(after - line.data());
    return true;
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
    if (device != text) device.assign(text); // the same device, line after line
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
    // Written in place in room made once, for the longest values, then cut to size.
    constexpr std::size_t numberRoom = 20; // an int64_t's digits and sign
    std::size_t fixed = axesHead.size() + axesTail.size() + 1;
    for (auto member : axesMembers)
        fixed += member.size();
    std::size_t start = out.size();
    out.resize(start + fixed + device.size() + 6 * numberRoom);
    char* at = out.data() + start;
    auto put = [&at](std::string_view text) {
        std::memcpy(at, text.data(), text.size());
        at += text.size();
    };
    auto member = [&](std::size_t index, std::int64_t value) {
        put(axesMembers[index]);
        at = std::to_chars(at, at + numberRoom, value).ptr;
    };
    put(axesHead);
    put(device);
    member(0, axes.x);
    member(1, axes.y);
    member(2, axes.z);
    member(3, axes.rx);
    member(4, axes.ry);
    member(5, axes.rz);
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
