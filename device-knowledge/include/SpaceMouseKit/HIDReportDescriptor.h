#pragma once

#include <cstddef>
#include <cstdint>
#include <nlohmann/json_fwd.hpp>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

namespace smk {

// The few facts of a USB HID report descriptor that the system needs: the reports with their
// fields and the application collections. Built only by `parse`. Unknown and reserved items are
// skipped; a descriptor whose last item runs past the end of the bytes, or one whose usage
// ranges expand to more than a million usages, gives nothing at all rather than a partial
// result.
struct HIDReportDescriptor {
    enum class Kind { input, output, feature };

    struct Usage {
        std::int64_t page = 0;
        std::int64_t id = 0;
        bool operator==(const Usage&) const = default;
    };

    struct Field {
        std::vector<Usage> usages;
        std::int64_t logicalMinimum = 0;
        std::int64_t logicalMaximum = 0;
        std::int64_t size = 0;  // bits per value
        std::int64_t count = 0; // number of values
        std::int64_t flags = 0; // the main item's data
        bool operator==(const Field&) const = default;

        bool isConstant() const { return (flags & 1) != 0; }
        bool isVariable() const { return (flags & 2) != 0; }
        bool isRelative() const { return (flags & 4) != 0; }
        // The usage of value i; the last listed usage repeats for the remaining values.
        std::optional<Usage> usage(std::int64_t i) const;
    };

    struct Report {
        std::uint8_t id = 0; // 0 when the descriptor declares no report ids
        Kind kind = Kind::input;
        std::vector<Field> fields;
        bool operator==(const Report&) const = default;

        std::int64_t bits() const;
        // Bytes on the wire: the bits rounded up to whole bytes, plus the report-id byte.
        std::int64_t length() const;
    };

    static constexpr Usage multiAxisController{1, 8};

    std::vector<Report> reports;     // in order of first appearance
    std::vector<Usage> applications; // one per application collection

    // Parses the bytes; absent when an item runs past the end or the usages exceed the limit.
    // Empty bytes parse to an empty descriptor.
    static std::optional<HIDReportDescriptor> parse(std::span<const std::uint8_t> bytes);

    bool operator==(const HIDReportDescriptor&) const = default;

    const Report* report(std::uint8_t id, Kind kind) const;
    bool isMultiAxisController() const;
    // The largest logical maximum of the fields that carry X, Y, Z, Rx, Ry or Rz.
    std::optional<std::int64_t> axisLogicalMaximum() const;
    bool axesDeclaredRelative() const;
    // Button-page usage ids of the input reports, first appearance kept.
    std::vector<std::int64_t> buttonUsages() const;
    // An output report carries the LED page's Generic Indicator.
    bool hasLED() const;
    std::vector<std::uint8_t> featureReportIDs() const;
};

std::string_view rawValue(HIDReportDescriptor::Kind kind);
std::optional<HIDReportDescriptor::Kind> kindFromRawValue(std::string_view raw);

void to_json(nlohmann::json& json, const HIDReportDescriptor::Kind& kind);
void from_json(const nlohmann::json& json, HIDReportDescriptor::Kind& kind);
void to_json(nlohmann::json& json, const HIDReportDescriptor::Usage& usage);
void from_json(const nlohmann::json& json, HIDReportDescriptor::Usage& usage);

} // namespace smk
