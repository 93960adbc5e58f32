#include "KestrixCore/SimulatedHIDBackend.h"
#include "KestrixProtocol/BoundedJson.h"

#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <stdexcept>

namespace kestrix::core {

namespace {

using nlohmann::json;

struct BadFile : std::runtime_error {
    using std::runtime_error::runtime_error;
};

const json* member(const json& object, const char* name) {
    auto it = object.find(name);
    if (it == object.end() || it->is_null()) return nullptr;
    return &*it;
}

std::int64_t integer(const json& value, const std::string& where) {
    if (!value.is_number_integer()) throw BadFile(where + " is not an integer");
    return value.get<std::int64_t>();
}

double seconds(const json& value, const std::string& where) {
    if (!value.is_number() || value.get<double>() < 0)
        throw BadFile(where + " is not a time in seconds");
    return value.get<double>();
}

std::optional<std::string> text(const json& object, const char* name, const std::string& where) {
    const json* value = member(object, name);
    if (!value) return std::nullopt;
    if (!value->is_string()) throw BadFile(where + "." + name + " is not a text");
    return value->get<std::string>();
}

std::vector<std::uint8_t> bytes(const json& value, const std::string& where) {
    if (!value.is_array()) throw BadFile(where + " is not a list of bytes");
    std::vector<std::uint8_t> result;
    for (const auto& byte : value) {
        if (!byte.is_number_integer() || byte.get<std::int64_t>() < 0 ||
            byte.get<std::int64_t>() > 255)
            throw BadFile(where + " holds a value that is not a byte");
        result.push_back(static_cast<std::uint8_t>(byte.get<std::int64_t>()));
    }
    return result;
}

SimulatedReport report(const json& object, const std::string& where) {
    if (!object.is_object()) throw BadFile(where + " is not an object");
    SimulatedReport report;
    if (const json* at = member(object, "at")) report.at = seconds(*at, where + ".at");
    if (const json* every = member(object, "every"))
        report.every = seconds(*every, where + ".every");
    if (const json* count = member(object, "count")) {
        report.count = integer(*count, where + ".count");
        if (report.count < 0) throw BadFile(where + ".count is negative");
    }
    const json* data = member(object, "bytes");
    if (!data) throw BadFile(where + " has no bytes");
    report.bytes = bytes(*data, where + ".bytes");
    return report;
}

SimulatedDevice device(const json& object, const std::string& where) {
    if (!object.is_object()) throw BadFile(where + " is not an object");
    SimulatedDevice device;
    const json* vendor = member(object, "vendorID");
    const json* product = member(object, "productID");
    if (!vendor || !product) throw BadFile(where + " lacks vendorID or productID");
    device.vendorID = integer(*vendor, where + ".vendorID");
    device.productID = integer(*product, where + ".productID");
    device.product = text(object, "product", where);
    device.transport = text(object, "transport", where);
    device.serialNumber = text(object, "serialNumber", where);
    device.bluetoothAddress = text(object, "bluetoothAddress", where);
    if (const json* location = member(object, "locationID"))
        device.locationID = integer(*location, where + ".locationID");
    if (const json* interface = member(object, "interface"))
        device.interface = integer(*interface, where + ".interface");
    if (const json* descriptor = member(object, "reportDescriptor"))
        device.reportDescriptor = bytes(*descriptor, where + ".reportDescriptor");
    if (const json* features = member(object, "featureReports")) {
        if (!features->is_object()) throw BadFile(where + ".featureReports is not an object");
        for (const auto& [id, data] : features->items()) {
            std::size_t used = 0;
            int number = -1;
            try {
                number = std::stoi(id, &used);
            } catch (const std::exception&) {
            }
            if (used != id.size() || number < 0 || number > 255)
                throw BadFile(where + ".featureReports has the report id \"" + id +
                              "\", which is not a number from 0 to 255");
            device.featureReports[static_cast<std::uint8_t>(number)] =
                bytes(data, where + ".featureReports." + id);
        }
    }
    if (const json* busy = member(object, "busy")) {
        if (!busy->is_boolean()) throw BadFile(where + ".busy is not true or false");
        device.busy = busy->get<bool>();
    }
    if (const json* at = member(object, "appearAt"))
        device.appearAt = seconds(*at, where + ".appearAt");
    if (const json* at = member(object, "vanishAt"))
        device.vanishAt = seconds(*at, where + ".vanishAt");
    if (const json* reports = member(object, "reports")) {
        if (!reports->is_array()) throw BadFile(where + ".reports is not a list");
        for (std::size_t i = 0; i < reports->size(); ++i)
            device.reports.push_back(
                report((*reports)[i], where + ".reports[" + std::to_string(i) + "]"));
    }
    return device;
}

} // namespace

std::variant<std::vector<SimulatedDevice>, std::string>
parseSimulatedDevices(const std::string& text) {
    try {
        if (nestsDeeperThan(text, maximumFileNesting))
            throw BadFile("the file nests more than " + std::to_string(maximumFileNesting) +
                          " levels deep");
        json root = json::parse(text);
        if (!root.is_object()) throw BadFile("the file is not a JSON object");
        const json* devices = member(root, "devices");
        if (!devices || !devices->is_array()) throw BadFile("the file has no list \"devices\"");
        std::vector<SimulatedDevice> result;
        for (std::size_t i = 0; i < devices->size(); ++i)
            result.push_back(device((*devices)[i], "devices[" + std::to_string(i) + "]"));
        return result;
    } catch (const json::exception& error) {
        return std::string("not valid JSON: ") + error.what();
    } catch (const BadFile& error) {
        return std::string(error.what());
    }
}

std::variant<std::vector<SimulatedDevice>, std::string>
loadSimulatedDevices(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return "cannot read " + path;
    std::ostringstream contents;
    contents << in.rdbuf();
    auto parsed = parseSimulatedDevices(contents.str());
    if (auto* error = std::get_if<std::string>(&parsed)) return path + ": " + *error;
    return parsed;
}

} // namespace kestrix::core
