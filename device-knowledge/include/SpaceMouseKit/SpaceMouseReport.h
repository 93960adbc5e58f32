#pragma once

#include "SpaceMouseKit/SpaceMouseAxes.h"
#include "SpaceMouseKit/SpaceMouseButtons.h"
#include "SpaceMouseKit/SpaceMouseModel.h"

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace smk {

// Decoding of a SpaceMouse's HID input reports and of its serial-number feature report.
// Byte 0 of every report is its id; axis values are signed 16-bit little-endian.
namespace SpaceMouseReport {

inline constexpr std::uint8_t translationReportID = 1;
inline constexpr std::uint8_t rotationReportID = 2;
inline constexpr std::uint8_t buttonReportID = 3;
inline constexpr std::uint8_t batteryReportID = 0x17;
inline constexpr std::uint8_t serialReportID = 8; // a feature report

struct Battery {
    int percent = 0;
    bool charging = false;
    bool operator==(const Battery&) const = default;
};

// Decodes a translation (id 1) or rotation (id 2) report into `axes`, changing only the axes
// the report carries. An id-1 report of 13 bytes or more carries all six. False, with nothing
// changed, for a shorter report than 7 bytes or another id.
bool take(std::span<const std::uint8_t> report, SpaceMouseAxes& axes);
// Whether the report finishes a six-axis sample: any rotation report, or a translation report
// that carries all six axes.
bool completes(std::span<const std::uint8_t> report);
// The positions of the set bits after byte 0 of a button report, ascending (bit k mod 8 of
// byte 1 + k / 8); absent for anything that is not a button report of at least two bytes.
std::optional<std::vector<int>> buttonBits(std::span<const std::uint8_t> report);
// The model's buttons for the set positions; positions the model does not know are dropped.
std::optional<SpaceMouseButtons> buttons(std::span<const std::uint8_t> report,
                                         const SpaceMouseModel& model);
// The first set position that the model has no button for.
std::optional<int> unknownBit(std::span<const std::uint8_t> report, const SpaceMouseModel& model);
// Charge in percent (0 to 100) and whether the device is charging.
std::optional<Battery> battery(std::span<const std::uint8_t> report);
// The serial number of feature report 8: one or two letters and a big-endian number, written
// as the letters followed by the number in decimal ("AB12345").
std::optional<std::string> serialNumber(std::span<const std::uint8_t> bytes);

} // namespace SpaceMouseReport

} // namespace smk
