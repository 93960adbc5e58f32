#include "SpaceMouseKit/HIDReportDescriptor.h"

#include <algorithm>
#include <nlohmann/json.hpp>
#include <stdexcept>
#include <string>

namespace smk {

namespace {

using Usage = HIDReportDescriptor::Usage;
using Field = HIDReportDescriptor::Field;
using Kind = HIDReportDescriptor::Kind;

// Item types and tags of the HID class's short items.
enum ItemType : std::uint8_t { mainItem = 0, globalItem = 1, localItem = 2 };
enum MainTag : std::uint8_t { inputTag = 8, outputTag = 9, collectionTag = 10, featureTag = 11 };
enum GlobalTag : std::uint8_t {
    usagePageTag = 0,
    logicalMinimumTag = 1,
    logicalMaximumTag = 2,
    reportSizeTag = 7,
    reportIDTag = 8,
    reportCountTag = 9,
    pushTag = 10,
    popTag = 11,
};
enum LocalTag : std::uint8_t { usageTag = 0, usageMinimumTag = 1, usageMaximumTag = 2 };

constexpr std::uint8_t longItemPrefix = 0xFE;
constexpr std::uint32_t applicationCollection = 1;
// A usage range expands to at most this many usages; a hostile descriptor cannot make the
// parser allocate more than that per item.
constexpr std::int64_t maximumRange = 1024;
// Real descriptors (at most a few kilobytes) list a few hundred usages at most. Ranges let a
// few bytes stand for a thousand usages each, so a hostile descriptor could otherwise demand
// gigabytes; one that lists more than this in total is refused as a whole.
constexpr std::size_t usageBudget = std::size_t{1} << 20;

constexpr std::int64_t genericDesktopPage = 1;
constexpr std::int64_t ledPage = 8;
constexpr std::int64_t buttonPage = 9;
constexpr std::int64_t genericIndicator = 0x4B;

struct GlobalState {
    std::int64_t usagePage = 0;
    std::int64_t logicalMinimum = 0;
    std::int64_t logicalMaximum = 0;
    std::int64_t size = 0;
    std::int64_t count = 0;
    // The data size of the last Logical Maximum item: a maximum that reads negative while the
    // minimum is not is really unsigned (0xFF meaning 255), and needs its width to be re-read.
    std::int64_t maximumBytes = 1;
    std::uint8_t reportID = 0;
};

bool isAxis(const Usage& usage) {
    return usage.page == genericDesktopPage && usage.id >= 0x30 && usage.id <= 0x35;
}

// A usage from a Usage or Usage Minimum item: four data bytes carry their own page.
Usage usageFrom(std::uint32_t data, std::size_t dataSize, std::int64_t usagePage) {
    if (dataSize == 4) return {static_cast<std::int64_t>(data >> 16), data & 0xFFFF};
    return {usagePage, static_cast<std::int64_t>(data)};
}

} // namespace

std::optional<Usage> Field::usage(std::int64_t i) const {
    if (usages.empty()) return std::nullopt;
    const auto last = static_cast<std::int64_t>(usages.size()) - 1;
    return usages[static_cast<std::size_t>(std::clamp<std::int64_t>(i, 0, last))];
}

// Sizes and counts come from the device as 32-bit values; a hostile descriptor could make
// their products overflow, so the sums saturate instead.
std::int64_t HIDReportDescriptor::Report::bits() const {
    std::int64_t total = 0;
    for (const auto& field : fields) {
        std::int64_t product = 0;
        if (__builtin_mul_overflow(field.size, field.count, &product) ||
            __builtin_add_overflow(total, product, &total)) {
            return INT64_MAX;
        }
    }
    return total;
}

std::int64_t HIDReportDescriptor::Report::length() const {
    return bits() / 8 + (bits() % 8 != 0 ? 1 : 0) + (id != 0 ? 1 : 0);
}

std::optional<HIDReportDescriptor> HIDReportDescriptor::parse(std::span<const std::uint8_t> bytes) {
    HIDReportDescriptor descriptor;
    GlobalState global;
    std::vector<GlobalState> stack;
    std::vector<Usage> usages;
    // The pending Usage Minimum, valid while `hasMinimum`.
    Usage minimum;
    bool hasMinimum = false;
    std::size_t usageCount = 0;

    const std::size_t length = bytes.size();
    std::size_t position = 0;
    while (position < length) {
        const std::uint8_t prefix = bytes[position];
        if (prefix == longItemPrefix) {
            // Long items (prefix, data size, tag, data) carry nothing we use.
            if (length - position < 3) return std::nullopt;
            position += 3 + static_cast<std::size_t>(bytes[position + 1]);
            continue;
        }

        static constexpr std::size_t sizes[] = {0, 1, 2, 4};
        const std::size_t dataSize = sizes[prefix & 3];
        const auto type = static_cast<std::uint8_t>((prefix >> 2) & 3);
        const auto tag = static_cast<std::uint8_t>(prefix >> 4);
        // The item's data must lie wholly inside the bytes; a cut-off item spoils the whole
        // descriptor rather than leaving a partial one.
        if (position + dataSize >= length) return std::nullopt;
        std::uint32_t data = 0;
        for (std::size_t i = 0; i < dataSize; ++i) {
            data |= static_cast<std::uint32_t>(bytes[position + 1 + i]) << (8 * i);
        }
        std::int64_t signedData = 0;
        switch (dataSize) {
        case 1:
            signedData = static_cast<std::int8_t>(data);
            break;
        case 2:
            signedData = static_cast<std::int16_t>(data);
            break;
        case 4:
            signedData = static_cast<std::int32_t>(data);
            break;
        default:
            break;
        }
        position += 1 + dataSize;

        switch (type) {
        case mainItem:
            switch (tag) {
            case inputTag:
            case outputTag:
            case featureTag: {
                const Kind kind = tag == inputTag    ? Kind::input
                                  : tag == outputTag ? Kind::output
                                                     : Kind::feature;
                std::int64_t maximum = global.logicalMaximum;
                if (global.logicalMinimum >= 0 && maximum < 0) {
                    maximum += std::int64_t{1} << (8 * global.maximumBytes);
                }
                Field field{std::move(usages), global.logicalMinimum, maximum,
                            global.size,       global.count,          data};
                const auto report = std::find_if(
                    descriptor.reports.begin(), descriptor.reports.end(),
                    [&](const Report& r) { return r.id == global.reportID && r.kind == kind; });
                if (report != descriptor.reports.end()) {
                    report->fields.push_back(std::move(field));
                } else {
                    descriptor.reports.push_back({global.reportID, kind, {std::move(field)}});
                }
                break;
            }
            case collectionTag:
                if (data == applicationCollection && !usages.empty()) {
                    descriptor.applications.push_back(usages.front());
                }
                break;
            default:
                break;
            }
            usages.clear();
            hasMinimum = false;
            break;

        case globalItem:
            switch (tag) {
            case usagePageTag:
                global.usagePage = data;
                break;
            case logicalMinimumTag:
                global.logicalMinimum = signedData;
                break;
            case logicalMaximumTag:
                global.logicalMaximum = signedData;
                global.maximumBytes = static_cast<std::int64_t>(dataSize);
                break;
            case reportSizeTag:
                global.size = data;
                break;
            case reportIDTag:
                global.reportID = static_cast<std::uint8_t>(data & 0xFF);
                break;
            case reportCountTag:
                global.count = data;
                break;
            case pushTag:
                stack.push_back(global);
                break;
            case popTag:
                if (!stack.empty()) {
                    global = stack.back();
                    stack.pop_back();
                }
                break;
            default:
                break;
            }
            break;

        case localItem:
            switch (tag) {
            case usageTag:
                if (++usageCount > usageBudget) return std::nullopt;
                usages.push_back(usageFrom(data, dataSize, global.usagePage));
                break;
            case usageMinimumTag:
                minimum = usageFrom(data, dataSize, global.usagePage);
                hasMinimum = true;
                break;
            case usageMaximumTag: {
                const std::int64_t maximumID = dataSize == 4 ? (data & 0xFFFF) : data;
                if (hasMinimum && maximumID >= minimum.id &&
                    maximumID - minimum.id < maximumRange) {
                    usageCount += static_cast<std::size_t>(maximumID - minimum.id + 1);
                    if (usageCount > usageBudget) return std::nullopt;
                    for (std::int64_t id = minimum.id; id <= maximumID; ++id) {
                        usages.push_back({minimum.page, id});
                    }
                }
                break;
            }
            default:
                break;
            }
            break;

        default:
            break; // reserved items
        }
    }
    return descriptor;
}

const HIDReportDescriptor::Report* HIDReportDescriptor::report(std::uint8_t id, Kind kind) const {
    for (const auto& candidate : reports) {
        if (candidate.id == id && candidate.kind == kind) return &candidate;
    }
    return nullptr;
}

bool HIDReportDescriptor::isMultiAxisController() const {
    return std::find(applications.begin(), applications.end(), multiAxisController) !=
           applications.end();
}

std::optional<std::int64_t> HIDReportDescriptor::axisLogicalMaximum() const {
    std::optional<std::int64_t> largest;
    for (const auto& report : reports) {
        if (report.kind != Kind::input) continue;
        for (const auto& field : report.fields) {
            if (field.isConstant() || field.count < 1 || field.usages.empty()) continue;
            // Past the listed usages the last one repeats, so the listed ones are all there is
            // to look at, however large the count.
            const auto reach =
                std::min<std::int64_t>(field.count, static_cast<std::int64_t>(field.usages.size()));
            bool axisField = false;
            for (std::int64_t i = 0; i < reach && !axisField; ++i) {
                axisField = isAxis(*field.usage(i));
            }
            if (axisField && (!largest || field.logicalMaximum > *largest)) {
                largest = field.logicalMaximum;
            }
        }
    }
    return largest;
}

bool HIDReportDescriptor::axesDeclaredRelative() const {
    for (const auto& report : reports) {
        if (report.kind != Kind::input) continue;
        for (const auto& field : report.fields) {
            if (field.isRelative() &&
                std::any_of(field.usages.begin(), field.usages.end(), isAxis)) {
                return true;
            }
        }
    }
    return false;
}

std::vector<std::int64_t> HIDReportDescriptor::buttonUsages() const {
    std::vector<std::int64_t> ids;
    const auto keep = [&](const Usage& usage) {
        if (usage.page == buttonPage && std::find(ids.begin(), ids.end(), usage.id) == ids.end()) {
            ids.push_back(usage.id);
        }
    };
    for (const auto& report : reports) {
        if (report.kind != Kind::input) continue;
        for (const auto& field : report.fields) {
            if (field.isConstant()) continue;
            if (std::none_of(field.usages.begin(), field.usages.end(),
                             [](const Usage& u) { return u.page == buttonPage; })) {
                continue;
            }
            if (field.isVariable()) {
                // Values past the listed usages repeat the last usage, so the first `count`
                // listed usages (or all of them, when the count is larger) are the whole set.
                const auto reach = std::min<std::int64_t>(
                    field.count, static_cast<std::int64_t>(field.usages.size()));
                for (std::int64_t i = 0; i < reach; ++i)
                    keep(*field.usage(i));
            } else {
                for (const auto& usage : field.usages)
                    keep(usage);
            }
        }
    }
    return ids;
}

bool HIDReportDescriptor::hasLED() const {
    for (const auto& report : reports) {
        if (report.kind != Kind::output) continue;
        for (const auto& field : report.fields) {
            for (const auto& usage : field.usages) {
                if (usage.page == ledPage && usage.id == genericIndicator) return true;
            }
        }
    }
    return false;
}

std::vector<std::uint8_t> HIDReportDescriptor::featureReportIDs() const {
    std::vector<std::uint8_t> ids;
    for (const auto& report : reports) {
        if (report.kind == Kind::feature) ids.push_back(report.id);
    }
    return ids;
}

std::string_view rawValue(HIDReportDescriptor::Kind kind) {
    switch (kind) {
    case Kind::input:
        return "input";
    case Kind::output:
        return "output";
    case Kind::feature:
        return "feature";
    }
    return "input";
}

std::optional<HIDReportDescriptor::Kind> kindFromRawValue(std::string_view raw) {
    for (auto kind : {Kind::input, Kind::output, Kind::feature}) {
        if (rawValue(kind) == raw) return kind;
    }
    return std::nullopt;
}

void to_json(nlohmann::json& json, const HIDReportDescriptor::Kind& kind) {
    json = std::string(rawValue(kind));
}

void from_json(const nlohmann::json& json, HIDReportDescriptor::Kind& kind) {
    if (!json.is_string()) throw std::invalid_argument("report kind: not a string");
    const auto parsed = kindFromRawValue(json.get_ref<const std::string&>());
    if (!parsed) throw std::invalid_argument("report kind: unknown value");
    kind = *parsed;
}

void to_json(nlohmann::json& json, const HIDReportDescriptor::Usage& usage) {
    json = nlohmann::json::object();
    json["page"] = usage.page;
    json["id"] = usage.id;
}

void from_json(const nlohmann::json& json, HIDReportDescriptor::Usage& usage) {
    if (!json.is_object()) throw std::invalid_argument("usage: not an object");
    const auto page = json.find("page");
    const auto id = json.find("id");
    if (page == json.end() || id == json.end() || !page->is_number_integer() ||
        !id->is_number_integer()) {
        throw std::invalid_argument("usage: needs integer \"page\" and \"id\"");
    }
    usage = {page->get<std::int64_t>(), id->get<std::int64_t>()};
}

} // namespace smk
