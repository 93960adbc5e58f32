#include "SpaceMouseKit/SpaceMouseReport.h"

#include <cctype>

namespace smk::SpaceMouseReport {

namespace {

std::int64_t int16At(std::span<const std::uint8_t> report, std::size_t offset) {
    return static_cast<std::int16_t>(static_cast<std::uint16_t>(report[offset]) |
                                     static_cast<std::uint16_t>(report[offset + 1]) << 8);
}

bool isLetter(std::uint8_t byte) {
    return (byte >= 'A' && byte <= 'Z') || (byte >= 'a' && byte <= 'z');
}

} // namespace

bool take(std::span<const std::uint8_t> report, SpaceMouseAxes& axes) {
    if (report.size() < 7) return false;
    switch (report[0]) {
    case translationReportID:
        axes.x = int16At(report, 1);
        axes.y = int16At(report, 3);
        axes.z = int16At(report, 5);
        // Newer devices send all six axes in the translation report.
        if (report.size() >= 13) {
            axes.rx = int16At(report, 7);
            axes.ry = int16At(report, 9);
            axes.rz = int16At(report, 11);
        }
        return true;
    case rotationReportID:
        axes.rx = int16At(report, 1);
        axes.ry = int16At(report, 3);
        axes.rz = int16At(report, 5);
        return true;
    default:
        return false;
    }
}

bool completes(std::span<const std::uint8_t> report) {
    if (report.empty()) return false;
    if (report[0] == rotationReportID) return true;
    return report[0] == translationReportID && report.size() >= 13;
}

std::optional<std::vector<int>> buttonBits(std::span<const std::uint8_t> report) {
    if (report.size() < 2 || report[0] != buttonReportID) return std::nullopt;
    std::vector<int> positions;
    for (std::size_t byte = 1; byte < report.size(); ++byte) {
        for (int bit = 0; bit < 8; ++bit) {
            if ((report[byte] >> bit) & 1) {
                positions.push_back(static_cast<int>((byte - 1) * 8) + bit);
            }
        }
    }
    return positions;
}

std::optional<SpaceMouseButtons> buttons(std::span<const std::uint8_t> report,
                                         const SpaceMouseModel& model) {
    const auto positions = buttonBits(report);
    if (!positions) return std::nullopt;
    return model.buttonsForBits(*positions);
}

std::optional<int> unknownBit(std::span<const std::uint8_t> report, const SpaceMouseModel& model) {
    const auto positions = buttonBits(report);
    if (!positions) return std::nullopt;
    for (int position : *positions) {
        if (model.buttonBits.count(position) == 0) return position;
    }
    return std::nullopt;
}

std::optional<Battery> battery(std::span<const std::uint8_t> report) {
    if (report.size() < 2 || report[0] != batteryReportID || report[1] > 100) {
        return std::nullopt;
    }
    return Battery{report[1], report.size() >= 3 && (report[2] & 1) != 0};
}

std::optional<std::string> serialNumber(std::span<const std::uint8_t> bytes) {
    if (bytes.size() < 8 || bytes[0] != serialReportID || !isLetter(bytes[1])) {
        return std::nullopt;
    }
    // One letter and a six-byte number, or two letters and a five-byte number.
    const std::size_t letters = isLetter(bytes[2]) ? 2 : 1;
    std::uint64_t number = 0;
    for (std::size_t i = 1 + letters; i < 8; ++i)
        number = number << 8 | bytes[i];
    if (number == 0) return std::nullopt;
    std::string text(bytes.begin() + 1, bytes.begin() + 1 + static_cast<std::ptrdiff_t>(letters));
    return text + std::to_string(number);
}

} // namespace smk::SpaceMouseReport
