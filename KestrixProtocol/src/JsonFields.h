#pragma once

#include <cstdint>
#include <map>
#include <nlohmann/json.hpp>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

// Strict readers for the protocol's JSON objects. nlohmann's own conversions are lenient (a
// boolean or a fraction converts to an integer, a big number silently wraps), which would let two
// peers read different values from the same line; these accept exactly the JSON type of the field
// and integers within its range, and throw DecodingError otherwise.
namespace kestrix::jsonfields {

using nlohmann::json;

struct DecodingError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

[[noreturn]] inline void fail(const std::string& what) {
    throw DecodingError(what);
}

inline void requireObject(const json& value, const char* what) {
    if (!value.is_object()) fail(std::string(what) + " is not an object");
}

// A JSON integer that fits I. Fractions and exponents (which nlohmann parses as floating point)
// are not integers here, and neither are booleans.
template <class I> I integer(const json& value) {
    if (value.is_number_unsigned()) {
        auto number = value.get_ref<const json::number_unsigned_t&>();
        if (!std::in_range<I>(number)) fail("integer out of range");
        return static_cast<I>(number);
    }
    if (value.is_number_integer()) {
        auto number = value.get_ref<const json::number_integer_t&>();
        if (!std::in_range<I>(number)) fail("integer out of range");
        return static_cast<I>(number);
    }
    fail("not an integer");
}

inline void read(const json& value, std::int64_t& out) {
    out = integer<std::int64_t>(value);
}
inline void read(const json& value, std::int32_t& out) {
    out = integer<std::int32_t>(value);
}
inline void read(const json& value, std::uint8_t& out) {
    out = integer<std::uint8_t>(value);
}
inline void read(const json& value, std::uint64_t& out) {
    out = integer<std::uint64_t>(value);
}

inline void read(const json& value, bool& out) {
    if (!value.is_boolean()) fail("not a boolean");
    out = value.get_ref<const json::boolean_t&>();
}

inline void read(const json& value, std::string& out) {
    if (!value.is_string()) fail("not a string");
    out = value.get_ref<const json::string_t&>();
}

inline void read(const json& value, std::map<std::string, std::string>& out) {
    requireObject(value, "map");
    out.clear();
    for (auto it = value.begin(); it != value.end(); ++it)
        read(it.value(), out[it.key()]);
}

// Records, and the device-knowledge values (axes, buttons, knowledge), whose strict from_json
// lives with their types: found by argument-dependent lookup.
template <class T> void read(const json& value, T& out) {
    from_json(value, out);
}

template <class T> void read(const json& value, std::vector<T>& out) {
    if (!value.is_array()) fail("not an array");
    out.clear();
    out.reserve(value.size());
    for (const json& element : value) {
        T item{};
        read(element, item);
        out.push_back(std::move(item));
    }
}

// A member that must be present and not null.
template <class T> void required(const json& object, const char* key, T& out) {
    auto it = object.find(key);
    if (it == object.end() || it->is_null()) fail(std::string("missing member ") + key);
    read(*it, out);
}

// A member that may be missing; null also means absent.
template <class T> void optional(const json& object, const char* key, std::optional<T>& out) {
    auto it = object.find(key);
    if (it == object.end() || it->is_null()) {
        out.reset();
        return;
    }
    T value{};
    read(*it, value);
    out = std::move(value);
}

// Strings, numbers, lists and records: nlohmann's conversions and the types' own to_json.
template <class T> json write(const T& value) {
    return json(value);
}

// Writes an optional member only when it is present.
template <class T> void put(json& object, const char* key, const std::optional<T>& value) {
    if (value) object[key] = write(*value);
}

} // namespace kestrix::jsonfields
