// Feeds arbitrary bytes to the report-descriptor parser and every query built on it, and to
// model recognition with the result.

#include "SpaceMouseKit/HIDReportDescriptor.h"
#include "SpaceMouseKit/SpaceMouseModel.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::span<const std::uint8_t> bytes(data, size);
    const auto descriptor = smk::HIDReportDescriptor::parse(bytes);
    if (!descriptor) return 0;

    // Parsing is a pure function of the bytes.
    if (smk::HIDReportDescriptor::parse(bytes) != descriptor) std::abort();

    (void)descriptor->isMultiAxisController();
    (void)descriptor->axisLogicalMaximum();
    (void)descriptor->axesDeclaredRelative();
    (void)descriptor->buttonUsages();
    (void)descriptor->hasLED();
    (void)descriptor->featureReportIDs();
    for (const auto& report : descriptor->reports) {
        if (descriptor->report(report.id, report.kind) == nullptr) std::abort();
        (void)report.bits();
        (void)report.length();
        for (const auto& field : report.fields) {
            (void)field.usage(0);
            (void)field.usage(field.count);
        }
    }

    for (std::int64_t vendor : smk::SpaceMouseModel::vendorIDs) {
        for (std::int64_t product : {0xC626, 0xC652, 0xC6FF}) {
            const auto model = smk::SpaceMouseModel::recognise(vendor, product, std::nullopt,
                                                               descriptor);
            if (model) {
                (void)model->description();
                (void)model->buttons();
            }
        }
    }
    return 0;
}
