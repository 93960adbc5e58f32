#pragma once

#include "SpaceMouseKit/HIDReportDescriptor.h"
#include "SpaceMouseKit/SpaceMouseButtons.h"

#include <array>
#include <cstdint>
#include <map>
#include <nlohmann/json_fwd.hpp>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace smk {

// What the system knows about one kind of SpaceMouse. Equality compares the ids and the name
// only.
struct SpaceMouseModel {
    // How sure the model data is.
    enum class Knowledge { checked, published, guessed };

    // Report bit index -> named button. Indices are positions in the button report's bytes and
    // may exceed 63.
    using ButtonBits = std::map<int, SpaceMouseButtons>;

    std::int64_t vendorID = 0;
    std::int64_t productID = 0;
    std::string name;
    ButtonBits buttonBits;
    Knowledge knowledge = Knowledge::guessed;
    std::int64_t axisFullScale = 350;
    bool hasStatusLED = false;

    bool operator==(const SpaceMouseModel& other) const {
        return vendorID == other.vendorID && productID == other.productID && name == other.name;
    }

    // The known models, in search order.
    static const std::vector<SpaceMouseModel>& known();
    static const SpaceMouseModel& compact();
    static const SpaceMouseModel& spaceNavigator();
    static const SpaceMouseModel& spaceMousePro();
    static const SpaceMouseModel& spaceMouseWireless();
    static const SpaceMouseModel& spaceTraveler();
    static const SpaceMouseModel& spaceball5000();
    static const SpaceMouseModel& spaceMousePlus();
    static const SpaceMouseModel& spaceNavigatorNotebook();
    static const SpaceMouseModel& spaceExplorer();
    static const SpaceMouseModel& spacePilot();
    static const SpaceMouseModel& spacePilotPro();
    static const SpaceMouseModel& spaceMouseWirelessCable();
    static const SpaceMouseModel& spaceMouseWirelessReceiver();
    static const SpaceMouseModel& spaceMouseProWirelessCable();
    static const SpaceMouseModel& spaceMouseProWirelessReceiver();
    static const SpaceMouseModel& spaceMouseProWireless();
    static const SpaceMouseModel& enterprise();

    // The common button numbering of the larger devices (40 entries).
    static const ButtonBits& sharedNumbering();

    // The vendors whose devices are SpaceMouse candidates.
    static constexpr std::array<std::int64_t, 2> vendorIDs{0x046D, 0x256F};
    // Products of vendor 0x256F that are never SpaceMouse devices.
    static constexpr std::array<std::int64_t, 11> ignored{
        0xC650, 0xC651, 0xC654, 0xC655, 0xC656, 0xC657, 0xC658, 0xC664, 0xC665, 0xC668, 0xC671};
    // The Universal Receiver (vendor 0x256F) carries different wireless devices, so it is not a
    // row of `known`; recognition names it from its descriptor.
    static constexpr std::int64_t universalReceiverProductID = 0xC652;

    static std::optional<SpaceMouseModel> matching(std::int64_t vendorID, std::int64_t productID);
    static std::optional<SpaceMouseModel> matching(std::int64_t productID);

    // A known row corrected by the device's descriptor, or a model built from the descriptor of
    // an unknown multi-axis controller; absent for anything that is not a SpaceMouse.
    static std::optional<SpaceMouseModel>
    recognise(std::int64_t vendorID, std::int64_t productID,
              const std::optional<std::string>& product,
              const std::optional<HIDReportDescriptor>& descriptor);

    // "SpaceMouse Compact (256F:C635, checked)"
    std::string description() const;
    // Every button the model has.
    SpaceMouseButtons buttons() const;
    // The buttons of the set bits 0 to 63 of `raw`; bits without an entry are dropped.
    SpaceMouseButtons buttons(std::uint64_t raw) const;
    // The buttons of the given report bit indices (as the button report lists them); indices
    // without an entry are dropped.
    SpaceMouseButtons buttonsForBits(std::span<const int> bits) const;
    SpaceMouseButtons::TwoButtons twoButtons() const;
    SpaceMouseButtons asTwoButtons(SpaceMouseButtons held) const;
    // The two wireless models whose LED is not switched while they are on Bluetooth.
    bool statusLEDNeedsCable() const;
    // The feature report that carries the serial number: 8 on vendor 0x256F except the
    // Universal Receiver.
    std::optional<std::uint8_t> serialFeatureReportID() const;
};

std::string_view rawValue(SpaceMouseModel::Knowledge knowledge);
std::optional<SpaceMouseModel::Knowledge> knowledgeFromRawValue(std::string_view raw);

void to_json(nlohmann::json& json, const SpaceMouseModel::Knowledge& knowledge);
void from_json(const nlohmann::json& json, SpaceMouseModel::Knowledge& knowledge);

} // namespace smk
