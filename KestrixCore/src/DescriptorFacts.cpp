#include "DescriptorFacts.h"

#include "SpaceMouseKit/HIDReportDescriptor.h"
#include "SpaceMouseKit/SpaceMouseModel.h"

#include <algorithm>

namespace kestrix::core {

using smk::HIDReportDescriptor;

bool isSpaceMouseVendor(std::int64_t vendorID) {
    const auto& vendors = smk::SpaceMouseModel::vendorIDs;
    return std::find(vendors.begin(), vendors.end(), vendorID) != vendors.end();
}

bool declaresMultiAxisController(const std::vector<std::uint8_t>& descriptor) {
    auto parsed = HIDReportDescriptor::parse(descriptor);
    return parsed && parsed->isMultiAxisController();
}

void addDescriptorFacts(const std::vector<std::uint8_t>& descriptor,
                        std::map<std::string, PropertyValue>& properties) {
    auto parsed = HIDReportDescriptor::parse(descriptor);
    if (!parsed) return;
    if (!parsed->applications.empty()) {
        properties["PrimaryUsagePage"] = parsed->applications.front().page;
        properties["PrimaryUsage"] = parsed->applications.front().id;
        // One usage pair per application collection, written as a property list would be.
        std::string pairs = "(\n";
        for (std::size_t i = 0; i < parsed->applications.size(); ++i) {
            const auto& usage = parsed->applications[i];
            pairs += "    {\n        DeviceUsage = " + std::to_string(usage.id) +
                     ";\n        DeviceUsagePage = " + std::to_string(usage.page) + ";\n    }" +
                     (i + 1 < parsed->applications.size() ? ",\n" : "\n");
        }
        pairs += ")";
        properties["DeviceUsagePairs"] = PropertyDescription{pairs};
    }
    auto largest = [&](HIDReportDescriptor::Kind kind, const char* name) {
        std::int64_t size = 0;
        bool any = false;
        for (const auto& report : parsed->reports)
            if (report.kind == kind) {
                size = std::max(size, report.length());
                any = true;
            }
        if (any) properties[name] = size;
    };
    largest(HIDReportDescriptor::Kind::input, "MaxInputReportSize");
    largest(HIDReportDescriptor::Kind::output, "MaxOutputReportSize");
    largest(HIDReportDescriptor::Kind::feature, "MaxFeatureReportSize");
}

} // namespace kestrix::core
