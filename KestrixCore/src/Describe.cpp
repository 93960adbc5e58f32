#include "KestrixCore/Devices.h"
#include "KestrixProtocol/MainLoop.h"
#include "SpaceMouseKit/HIDReportDescriptor.h"

namespace kestrix::core {

namespace {

constexpr const char* viaHID = "HID device";
constexpr const char* viaControlPipe = "control pipe";
constexpr const char* getFailed = "GET failed";

DeviceDescription::FeatureReport row(std::uint8_t id,
                                     std::optional<std::vector<std::uint8_t>> bytes) {
    DeviceDescription::FeatureReport report;
    report.id = id;
    if (!bytes) report.error = getFailed;
    report.bytes = std::move(bytes);
    return report;
}

} // namespace

void Devices::describe(const std::string& id, std::function<void(DeviceDescription)> completion) {
    DeviceDescription description;
    description.device = id;
    auto found = lookup(id);
    if (!found) {
        description.error = "no such device";
        completion(std::move(description));
        return;
    }
    DeviceKey key = found->first;
    const Entry* entry = found->second;
    if (!backend_->exists(key)) {
        description.error = "not in sysfs";
        completion(std::move(description));
        return;
    }
    description.properties = properties(*backend_, key);
    if (auto value = backend_->property(key, property::reportDescriptor))
        if (auto* bytes = std::get_if<std::vector<std::uint8_t>>(&*value))
            description.reportDescriptor = *bytes;
    // Every feature report the descriptor declares, with its length on the wire.
    std::vector<std::pair<std::uint8_t, std::size_t>> reports;
    if (auto parsed = smk::HIDReportDescriptor::parse(description.reportDescriptor))
        for (const auto& report : parsed->reports)
            if (report.kind == smk::HIDReportDescriptor::Kind::feature)
                reports.emplace_back(report.id, static_cast<std::size_t>(report.length()));

    if (entry->device) {
        describeSeized(key, std::move(description), std::move(reports), std::move(completion));
        return;
    }
    std::optional<ControlPipe> pipe;
    if (entry->info.isUSB())
        pipe = ControlPipe{entry->info.locationID.value_or(0), entry->interface.value_or(0)};
    HIDBackend* backend = backend_.get();
    inBackground([backend, key, pipe, reports, description = std::move(description),
                  completion = std::move(completion)]() mutable -> std::function<void()> {
        for (const auto& [reportID, length] : reports) {
            // A fresh handle for every report; the first path that works names the way.
            auto bytes = getFeature(*backend, key, reportID, length, nullptr);
            if (bytes && !description.featureReportsVia) description.featureReportsVia = viaHID;
            if (!bytes && pipe) {
                bytes = getFeatureOverControlPipe(*backend, *pipe, reportID, length);
                if (bytes && !description.featureReportsVia)
                    description.featureReportsVia = viaControlPipe;
            }
            description.featureReports.push_back(row(reportID, std::move(bytes)));
        }
        return [description = std::move(description), completion = std::move(completion)] {
            completion(description);
        };
    });
}

// Reads on the layer's own seized handle, one report per loop task so that input reports and
// other work go on between them.
void Devices::describeSeized(DeviceKey key, DeviceDescription description,
                             std::vector<std::pair<std::uint8_t, std::size_t>> reports,
                             std::function<void(DeviceDescription)> completion) {
    struct Reading {
        HIDBackend* backend;
        DeviceKey key;
        std::shared_ptr<HIDHandle> device;
        DeviceDescription description;
        std::vector<std::pair<std::uint8_t, std::size_t>> reports;
        std::function<void(DeviceDescription)> completion;
        std::size_t next = 0;
    };
    auto reading = std::make_shared<Reading>(Reading{backend_.get(), key, entries_[key].device,
                                                     std::move(description), std::move(reports),
                                                     std::move(completion)});
    auto step = std::make_shared<std::function<void()>>();
    MainLoop* loop = &loop_;
    std::weak_ptr<std::function<void()>> weakStep = step;
    *step = [reading, loop, weakStep] {
        if (reading->next < reading->reports.size()) {
            auto [reportID, length] = reading->reports[reading->next++];
            auto bytes =
                getFeature(*reading->backend, reading->key, reportID, length, reading->device);
            if (bytes && !reading->description.featureReportsVia)
                reading->description.featureReportsVia = viaHID;
            reading->description.featureReports.push_back(row(reportID, std::move(bytes)));
            if (auto next = weakStep.lock()) {
                loop->post([next] { (*next)(); });
                return;
            }
        }
        reading->completion(std::move(reading->description));
    };
    loop->post([step] { (*step)(); });
}

} // namespace kestrix::core
