#include "KestrixProtocol/LineCoding.h"

#include "SpaceMouseKit/SpaceMouseAxes.h"

namespace kestrix {

namespace {

bool isAxes(const nlohmann::json& value) {
    if (!value.is_object() || value.size() != smk::SpaceMouseAxes::axisNames.size()) return false;
    for (std::string_view name : smk::SpaceMouseAxes::axisNames)
        if (!value.contains(name)) return false;
    return true;
}

// The same value with its axes objects' members in the order x, y, z, rx, ry, rz. Messages nest a few
// levels at most (the tree is built here from records, not read from a peer).
nlohmann::ordered_json inAxesOrder(const nlohmann::json& value) {
    if (value.is_array()) {
        nlohmann::ordered_json list = nlohmann::ordered_json::array();
        for (const auto& element : value)
            list.push_back(inAxesOrder(element));
        return list;
    }
    if (!value.is_object()) return nlohmann::ordered_json(value);
    nlohmann::ordered_json object = nlohmann::ordered_json::object();
    if (isAxes(value)) {
        for (std::string_view name : smk::SpaceMouseAxes::axisNames)
            object[std::string(name)] = nlohmann::ordered_json(value.at(name));
        return object;
    }
    for (const auto& [name, member] : value.items())
        object[name] = inAxesOrder(member);
    return object;
}

} // namespace

std::string writtenJSON(const nlohmann::json& value) {
    return inAxesOrder(value).dump(-1, ' ', false,
                                       nlohmann::ordered_json::error_handler_t::strict);
}

} // namespace kestrix
