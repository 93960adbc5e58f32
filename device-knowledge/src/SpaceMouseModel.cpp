#include "SpaceMouseKit/SpaceMouseModel.h"

#include <algorithm>
#include <cstdio>
#include <nlohmann/json.hpp>
#include <set>
#include <stdexcept>

namespace smk {

namespace {

using B = SpaceMouseButtons;
using ButtonBits = SpaceMouseModel::ButtonBits;
using Knowledge = SpaceMouseModel::Knowledge;

// The first generation of devices carries the older vendor id; everything since the newer one.
constexpr std::int64_t olderVendor = 0x046D;
constexpr std::int64_t newerVendor = 0x256F;

const ButtonBits& twoButtonBits() {
    static const ButtonBits bits{{0, B::left}, {1, B::right}};
    return bits;
}

ButtonBits sharedSubset(std::initializer_list<int> indices) {
    ButtonBits bits;
    for (int index : indices)
        bits.emplace(index, SpaceMouseModel::sharedNumbering().at(index));
    return bits;
}

const ButtonBits& proBits() {
    static const ButtonBits bits =
        sharedSubset({0, 1, 2, 4, 5, 8, 12, 13, 14, 15, 22, 23, 24, 25, 26});
    return bits;
}

const ButtonBits& enterpriseBits() {
    static const ButtonBits bits =
        sharedSubset({0,  1,  2,  4,  5,  8,  10, 12, 13, 14, 15,  16,  17,  18,  19, 20,
                      21, 22, 23, 24, 25, 26, 35, 36, 76, 77, 102, 103, 104, 174, 175});
    return bits;
}

ButtonBits spacePilotProBits() {
    ButtonBits bits;
    for (const auto& [index, button] : SpaceMouseModel::sharedNumbering()) {
        if (index < 31) bits.emplace(index, button);
    }
    return bits;
}

ButtonBits numbered(std::initializer_list<B> buttons) {
    ButtonBits bits;
    int index = 0;
    for (auto button : buttons)
        bits.emplace(index++, button);
    return bits;
}

const std::vector<SpaceMouseModel>& table() {
    static const std::vector<SpaceMouseModel> rows = [] {
        const auto row = [](std::int64_t vendor, std::int64_t product, std::string name,
                            Knowledge knowledge, std::int64_t fullScale, bool led,
                            ButtonBits bits) {
            return SpaceMouseModel{vendor,    product, std::move(name), std::move(bits), knowledge,
                                   fullScale, led};
        };
        const auto O = olderVendor;
        const auto N = newerVendor;
        const auto checked = Knowledge::checked;
        const auto published = Knowledge::published;
        return std::vector<SpaceMouseModel>{
            row(N, 0xC635, "SpaceMouse Compact", checked, 350, true, twoButtonBits()),
            row(O, 0xC626, "SpaceNavigator", checked, 500, true, twoButtonBits()),
            row(O, 0xC62B, "SpaceMouse Pro", checked, 350, true, proBits()),
            row(N, 0xC63A, "SpaceMouse Wireless", checked, 350, true, twoButtonBits()),
            row(O, 0xC623, "SpaceTraveler", checked, 500, true,
                numbered({B::key1, B::key2, B::key3, B::key4, B::key5, B::key6, B::key7, B::key8})),
            row(O, 0xC621, "Spaceball 5000", checked, 500, false,
                numbered({B::key1, B::key2, B::key3, B::key4, B::key5, B::key6, B::key7, B::key8,
                          B::key9, B::keyA, B::keyB, B::keyC})),
            row(O, 0xC603, "SpaceMouse Plus", published, 500, false,
                numbered({B::key1, B::key2, B::key3, B::key4, B::key5, B::key6, B::key7, B::key8,
                          B::star, B::left, B::right})),
            row(O, 0xC628, "SpaceNavigator for Notebooks", published, 350, true, twoButtonBits()),
            row(O, 0xC627, "SpaceExplorer", published, 350, true,
                numbered({B::key1, B::key2, B::viewTop, B::viewLeft, B::viewRight, B::viewFront,
                          B::escape, B::alt, B::shift, B::control, B::fit, B::menu, B::plus,
                          B::minus, B::rotationLock})),
            row(O, 0xC625, "SpacePilot", published, 350, false,
                numbered({B::key1,   B::key2,    B::key3,     B::key4,      B::key5,
                          B::key6,   B::viewTop, B::viewLeft, B::viewRight, B::viewFront,
                          B::escape, B::alt,     B::shift,    B::control,   B::fit,
                          B::menu,   B::plus,    B::minus,    B::dominant,  B::rotationLock,
                          B::config})),
            row(O, 0xC629, "SpacePilot Pro", published, 350, true, spacePilotProBits()),
            row(N, 0xC62E, "SpaceMouse Wireless (cable)", published, 350, true, twoButtonBits()),
            row(N, 0xC62F, "SpaceMouse Wireless (receiver)", published, 350, true, twoButtonBits()),
            row(N, 0xC631, "SpaceMouse Pro Wireless (cable)", published, 350, true, proBits()),
            row(N, 0xC632, "SpaceMouse Pro Wireless (receiver)", published, 350, true, proBits()),
            row(N, 0xC638, "SpaceMouse Pro Wireless", published, 350, true, proBits()),
            row(N, 0xC633, "SpaceMouse Enterprise", published, 350, true, enterpriseBits()),
        };
    }();
    return rows;
}

const SpaceMouseModel& rowAt(std::size_t index) {
    return table().at(index);
}

std::string hex4(std::int64_t value) {
    char buffer[24];
    std::snprintf(buffer, sizeof buffer, "%04llX",
                  static_cast<unsigned long long>(static_cast<std::uint64_t>(value)));
    return buffer;
}

} // namespace

const ButtonBits& SpaceMouseModel::sharedNumbering() {
    static const ButtonBits bits{
        {0, B::menu},          {1, B::fit},
        {2, B::viewTop},       {3, B::viewLeft},
        {4, B::viewRight},     {5, B::viewFront},
        {6, B::viewBottom},    {7, B::viewBack},
        {8, B::viewRoll},      {9, B::viewRollReverse},
        {10, B::viewIso1},     {11, B::viewIso2},
        {12, B::key1},         {13, B::key2},
        {14, B::key3},         {15, B::key4},
        {16, B::key5},         {17, B::key6},
        {18, B::key7},         {19, B::key8},
        {20, B::key9},         {21, B::key10},
        {22, B::escape},       {23, B::alt},
        {24, B::shift},        {25, B::control},
        {26, B::rotationLock}, {27, B::panZoom},
        {28, B::dominant},     {29, B::plus},
        {30, B::minus},        {35, B::enter},
        {36, B::delete_},      {76, B::key11},
        {77, B::key12},        {102, B::view1},
        {103, B::view2},       {104, B::view3},
        {174, B::tab},         {175, B::space},
    };
    return bits;
}

const std::vector<SpaceMouseModel>& SpaceMouseModel::known() {
    return table();
}

const SpaceMouseModel& SpaceMouseModel::compact() {
    return rowAt(0);
}
const SpaceMouseModel& SpaceMouseModel::spaceNavigator() {
    return rowAt(1);
}
const SpaceMouseModel& SpaceMouseModel::spaceMousePro() {
    return rowAt(2);
}
const SpaceMouseModel& SpaceMouseModel::spaceMouseWireless() {
    return rowAt(3);
}
const SpaceMouseModel& SpaceMouseModel::spaceTraveler() {
    return rowAt(4);
}
const SpaceMouseModel& SpaceMouseModel::spaceball5000() {
    return rowAt(5);
}
const SpaceMouseModel& SpaceMouseModel::spaceMousePlus() {
    return rowAt(6);
}
const SpaceMouseModel& SpaceMouseModel::spaceNavigatorNotebook() {
    return rowAt(7);
}
const SpaceMouseModel& SpaceMouseModel::spaceExplorer() {
    return rowAt(8);
}
const SpaceMouseModel& SpaceMouseModel::spacePilot() {
    return rowAt(9);
}
const SpaceMouseModel& SpaceMouseModel::spacePilotPro() {
    return rowAt(10);
}
const SpaceMouseModel& SpaceMouseModel::spaceMouseWirelessCable() {
    return rowAt(11);
}
const SpaceMouseModel& SpaceMouseModel::spaceMouseWirelessReceiver() {
    return rowAt(12);
}
const SpaceMouseModel& SpaceMouseModel::spaceMouseProWirelessCable() {
    return rowAt(13);
}
const SpaceMouseModel& SpaceMouseModel::spaceMouseProWirelessReceiver() {
    return rowAt(14);
}
const SpaceMouseModel& SpaceMouseModel::spaceMouseProWireless() {
    return rowAt(15);
}
const SpaceMouseModel& SpaceMouseModel::enterprise() {
    return rowAt(16);
}

std::optional<SpaceMouseModel> SpaceMouseModel::matching(std::int64_t vendorID,
                                                         std::int64_t productID) {
    for (const auto& model : known()) {
        if (model.vendorID == vendorID && model.productID == productID) return model;
    }
    return std::nullopt;
}

std::optional<SpaceMouseModel> SpaceMouseModel::matching(std::int64_t productID) {
    for (const auto& model : known()) {
        if (model.productID == productID) return model;
    }
    return std::nullopt;
}

std::optional<SpaceMouseModel>
SpaceMouseModel::recognise(std::int64_t vendorID, std::int64_t productID,
                           const std::optional<std::string>& product,
                           const std::optional<HIDReportDescriptor>& descriptor) {
    if (std::find(vendorIDs.begin(), vendorIDs.end(), vendorID) == vendorIDs.end()) {
        return std::nullopt;
    }
    if (vendorID == newerVendor &&
        std::find(ignored.begin(), ignored.end(), productID) != ignored.end()) {
        return std::nullopt;
    }

    // The descriptor's axis range beats the table: some firmware revisions report a different
    // full scale than the one the model first shipped with.
    std::optional<std::int64_t> fullScale;
    if (descriptor) {
        const auto maximum = descriptor->axisLogicalMaximum();
        if (maximum && *maximum >= 1) fullScale = maximum;
    }

    if (auto model = matching(vendorID, productID)) {
        model->axisFullScale = fullScale.value_or(model->axisFullScale);
        if (model->hasStatusLED) model->hasStatusLED = descriptor ? descriptor->hasLED() : true;
        return model;
    }

    if (!descriptor || !descriptor->isMultiAxisController()) return std::nullopt;

    std::set<int> indices;
    for (const auto usage : descriptor->buttonUsages()) {
        // Usage 1 is report bit 0. Usage ids are 16-bit, so the index always fits.
        indices.insert(static_cast<int>(usage - 1));
    }
    const bool onlyTwo =
        indices.size() < 3 && std::all_of(indices.begin(), indices.end(),
                                          [](int index) { return index == 0 || index == 1; });
    ButtonBits bits;
    for (const auto& [index, button] : onlyTwo ? twoButtonBits() : sharedNumbering()) {
        if (indices.count(index) != 0) bits.emplace(index, button);
    }

    std::string name;
    Knowledge knowledge;
    if (vendorID == newerVendor && productID == universalReceiverProductID) {
        name = indices.size() <= 2 ? "SpaceMouse Wireless" : "SpaceMouse Pro Wireless";
        name += " (Universal Receiver)";
        knowledge = Knowledge::published;
    } else {
        name = product && !product->empty()
                   ? *product
                   : "SpaceMouse " + hex4(vendorID) + ":" + hex4(productID);
        knowledge = Knowledge::guessed;
    }
    return SpaceMouseModel{vendorID,
                           productID,
                           std::move(name),
                           std::move(bits),
                           knowledge,
                           fullScale.value_or(350),
                           descriptor->hasLED()};
}

std::string SpaceMouseModel::description() const {
    return name + " (" + hex4(vendorID) + ":" + hex4(productID) + ", " +
           std::string(rawValue(knowledge)) + ")";
}

SpaceMouseButtons SpaceMouseModel::buttons() const {
    SpaceMouseButtons all;
    for (const auto& entry : buttonBits)
        all.insert(entry.second);
    return all;
}

SpaceMouseButtons SpaceMouseModel::buttons(std::uint64_t raw) const {
    SpaceMouseButtons result;
    for (int bit = 0; bit < 64; ++bit) {
        if ((raw >> bit) & 1) {
            const auto entry = buttonBits.find(bit);
            if (entry != buttonBits.end()) result.insert(entry->second);
        }
    }
    return result;
}

SpaceMouseButtons SpaceMouseModel::buttonsForBits(std::span<const int> bits) const {
    SpaceMouseButtons result;
    for (int bit : bits) {
        const auto entry = buttonBits.find(bit);
        if (entry != buttonBits.end()) result.insert(entry->second);
    }
    return result;
}

SpaceMouseButtons::TwoButtons SpaceMouseModel::twoButtons() const {
    return SpaceMouseButtons::twoButtons(buttons());
}

SpaceMouseButtons SpaceMouseModel::asTwoButtons(SpaceMouseButtons held) const {
    return held.asTwoButtons(twoButtons());
}

bool SpaceMouseModel::statusLEDNeedsCable() const {
    return vendorID == newerVendor && (productID == 0xC63A || productID == 0xC638);
}

std::optional<std::uint8_t> SpaceMouseModel::serialFeatureReportID() const {
    if (vendorID == newerVendor && productID != universalReceiverProductID) return 8;
    return std::nullopt;
}

std::string_view rawValue(SpaceMouseModel::Knowledge knowledge) {
    switch (knowledge) {
    case Knowledge::checked:
        return "checked";
    case Knowledge::published:
        return "published";
    case Knowledge::guessed:
        return "guessed";
    }
    return "guessed";
}

std::optional<SpaceMouseModel::Knowledge> knowledgeFromRawValue(std::string_view raw) {
    for (auto knowledge : {Knowledge::checked, Knowledge::published, Knowledge::guessed}) {
        if (rawValue(knowledge) == raw) return knowledge;
    }
    return std::nullopt;
}

void to_json(nlohmann::json& json, const SpaceMouseModel::Knowledge& knowledge) {
    json = std::string(rawValue(knowledge));
}

void from_json(const nlohmann::json& json, SpaceMouseModel::Knowledge& knowledge) {
    if (!json.is_string()) throw std::invalid_argument("knowledge: not a string");
    const auto parsed = knowledgeFromRawValue(json.get_ref<const std::string&>());
    if (!parsed) throw std::invalid_argument("knowledge: unknown value");
    knowledge = *parsed;
}

} // namespace smk
