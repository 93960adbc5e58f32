#include "SpaceMouseKit/SpaceMouseAxes.h"

#include <algorithm>
#include <nlohmann/json.hpp>
#include <stdexcept>

namespace smk {

namespace {

struct DirectionInfo {
    std::string_view raw;
    SpaceMouseAxes::Direction::Axis axis;
    std::string_view instruction;
};

// Indexed by Direction::Value.
constexpr std::array<DirectionInfo, 12> directionInfo{{
    {"slideRight", {0, +1}, "Slide the cap to the right"},
    {"slideLeft", {0, -1}, "Slide the cap to the left"},
    {"slideForward", {1, -1}, "Slide the cap forward, away from you"},
    {"slideBack", {1, +1}, "Slide the cap back, towards you"},
    {"push", {2, +1}, "Push the cap down"},
    {"pull", {2, -1}, "Pull the cap up"},
    {"tiltForward", {3, -1}, "Tilt the cap forward"},
    {"tiltBack", {3, +1}, "Tilt the cap back"},
    {"tiltRight", {4, -1}, "Tilt the cap to the right"},
    {"tiltLeft", {4, +1}, "Tilt the cap to the left"},
    {"twistRight", {5, +1}, "Twist the cap clockwise"},
    {"twistLeft", {5, -1}, "Twist the cap counter-clockwise"},
}};

const DirectionInfo& info(SpaceMouseAxes::Direction direction) {
    return directionInfo[static_cast<std::size_t>(direction)];
}

} // namespace

std::optional<SpaceMouseAxes::Direction>
SpaceMouseAxes::Direction::fromRawValue(std::string_view raw) {
    for (auto direction : allCases()) {
        if (info(direction).raw == raw) return direction;
    }
    return std::nullopt;
}

std::string_view SpaceMouseAxes::Direction::rawValue() const {
    return info(*this).raw;
}

const std::array<SpaceMouseAxes::Direction, 12>& SpaceMouseAxes::Direction::allCases() {
    static constexpr std::array<Direction, 12> cases{
        slideRight,  slideLeft, slideForward, slideBack, push,       pull,
        tiltForward, tiltBack,  tiltRight,    tiltLeft,  twistRight, twistLeft,
    };
    return cases;
}

SpaceMouseAxes::Direction::Axis SpaceMouseAxes::Direction::axis() const {
    return info(*this).axis;
}

std::string_view SpaceMouseAxes::Direction::instruction() const {
    return info(*this).instruction;
}

std::string SpaceMouseAxes::description() const {
    std::string text;
    const auto values = all();
    for (std::size_t i = 0; i < values.size(); ++i) {
        if (i > 0) text += ' ';
        text += axisNames[i];
        text += ' ';
        text += std::to_string(values[i]);
    }
    return text;
}

std::int64_t SpaceMouseAxes::along(Direction direction) const {
    const auto axis = direction.axis();
    const std::int64_t value = all()[static_cast<std::size_t>(axis.index)];
    if (axis.sign < 0) {
        if (value >= 0) return 0;
        // Negating the most negative value would overflow.
        return value == INT64_MIN ? INT64_MAX : -value;
    }
    return value > 0 ? value : 0;
}

double SpaceMouseAxes::fraction(Direction direction, std::int64_t fullScale) const {
    const double divisor = static_cast<double>(std::max<std::int64_t>(fullScale, 1));
    return std::min(static_cast<double>(along(direction)) / divisor, 1.0);
}

std::optional<SpaceMouseAxes::Direction> SpaceMouseAxes::strongest() const {
    std::int64_t best = 0;
    std::optional<Direction> result;
    for (auto direction : Direction::allCases()) {
        const std::int64_t value = along(direction);
        if (value > best) {
            best = value;
            result = direction;
        }
    }
    return result;
}

void to_json(nlohmann::json& json, const SpaceMouseAxes& axes) {
    json = nlohmann::json::object();
    const auto values = axes.all();
    for (std::size_t i = 0; i < values.size(); ++i) {
        json[std::string(SpaceMouseAxes::axisNames[i])] = values[i];
    }
}

void from_json(const nlohmann::json& json, SpaceMouseAxes& axes) {
    if (!json.is_object()) throw std::invalid_argument("axes: not an object");
    std::array<std::int64_t, 6> values{};
    for (std::size_t i = 0; i < values.size(); ++i) {
        const std::string key(SpaceMouseAxes::axisNames[i]);
        const auto member = json.find(key);
        if (member == json.end()) throw std::invalid_argument("axes: missing \"" + key + "\"");
        if (member->is_number_integer()) {
            // An unsigned number above the signed range is not an axis count.
            if (member->is_number_unsigned() &&
                member->get<std::uint64_t>() > static_cast<std::uint64_t>(INT64_MAX)) {
                throw std::invalid_argument("axes: \"" + key + "\" out of range");
            }
            values[i] = member->get<std::int64_t>();
        } else {
            throw std::invalid_argument("axes: \"" + key + "\" is not an integer");
        }
    }
    axes = {values[0], values[1], values[2], values[3], values[4], values[5]};
}

void to_json(nlohmann::json& json, const SpaceMouseAxes::Direction& direction) {
    json = std::string(direction.rawValue());
}

void from_json(const nlohmann::json& json, SpaceMouseAxes::Direction& direction) {
    if (!json.is_string()) throw std::invalid_argument("direction: not a string");
    const auto parsed = SpaceMouseAxes::Direction::fromRawValue(json.get_ref<const std::string&>());
    if (!parsed)
        throw std::invalid_argument("direction: unknown \"" + json.get<std::string>() + "\"");
    direction = *parsed;
}

} // namespace smk
