#include "KestrixProtocol/ProtocolRecords.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <string_view>

using namespace kestrix;
using nlohmann::json;
using smk::SpaceMouseButtons;

namespace {

// The record read from `text`, or absent when it does not decode.
template <class T> std::optional<T> decode(std::string_view text) {
    json parsed = json::parse(text, nullptr, false);
    if (parsed.is_discarded()) return std::nullopt;
    try {
        return parsed.get<T>();
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

const char* fullDeviceExample =
    R"({"id":"serial:ABC123","vendorID":9583,"productID":50741,"name":"SpaceMouse Compact",)"
    R"("transport":"USB","serialNumber":"ABC123","locationID":336592896,"battery":80,)"
    R"("charging":false,"enabled":true,"state":"open","led":true,"knowledge":"checked",)"
    R"("buttons":3,"axisFullScale":350,"hasLED":true,"driverProblem":{"code":"driverNotAnswering",)"
    R"("detail":"the registration with 3Dconnexion's driver keeps failing: unknown"}})";

const char* minimalDevice = R"({"id":"serial:A","vendorID":9583,"productID":50741,"name":"SM",)"
                            R"("transport":"USB","enabled":true,"state":"open")";

std::string deviceWith(std::string_view extra) {
    return std::string(minimalDevice) + "," + std::string(extra) + "}";
}

SpaceMouseDevice device(std::int64_t vendor, std::int64_t product, std::string transport) {
    SpaceMouseDevice d;
    std::tie(d.id, d.vendorID, d.productID, d.name, d.transport, d.state) =
        std::tuple("serial:X", vendor, product, "device", std::move(transport), "open");
    return d;
}

} // namespace

TEST(RecordExamples, decodeToTheirFieldsAndEncodeBack) {
    auto device = decode<SpaceMouseDevice>(fullDeviceExample);
    ASSERT_TRUE(device);
    // A few fields by hand, all of them by writing the same JSON back.
    EXPECT_EQ(device->serialNumber, "ABC123");
    EXPECT_EQ(device->locationID, 336592896);
    EXPECT_EQ(device->battery, 80);
    EXPECT_EQ(device->knowledge, smk::SpaceMouseModel::Knowledge::checked);
    EXPECT_EQ(device->buttons, SpaceMouseButtons(3));
    EXPECT_EQ(device->driverProblem->code, DriverProblem::driverNotAnswering);
    EXPECT_EQ(json(*device), json::parse(fullDeviceExample));

    const char* descriptionText =
        R"({"device":"serial:ABC123","properties":{"Product":"SpaceMouse Compact"},)"
        R"("reportDescriptor":[5,1,9,8],"featureReports":[{"id":8,"bytes":[8,65]},)"
        R"({"id":9,"error":"GET failed"}],"featureReportsVia":"HID device"})";
    auto description = decode<DeviceDescription>(descriptionText);
    ASSERT_TRUE(description);
    EXPECT_EQ(description->featureReports[1],
              (DeviceDescription::FeatureReport{9, std::nullopt, "GET failed"}));
    EXPECT_EQ(json(*description), json::parse(descriptionText));

    const char* statusText =
        R"({"version":15,"processID":311,"frontmostApp":"org.blenderfoundation.blender",)"
        R"("devices":[],"clients":[{"id":1,"name":"Vantor","processID":4242,"claim":{"apps":[],)"
        R"("background":true},"holds":true}],"driver":false,"appsWithOwnClient":[]})";
    auto status = decode<BrokerStatus>(statusText);
    ASSERT_TRUE(status);
    EXPECT_EQ(status->clients,
              (std::vector<BrokerStatus::Client>{{1, "Vantor", 4242, Claim{{}, true}, true}}));
    EXPECT_EQ(json(*status), json::parse(statusText));
}

TEST(RecordRules, requiredMembersPresentWithTheirTypesAndRangesOptionalsMayBeNullUnknownIgnored) {
    auto hello = [](std::string_view version, std::string_view pid = "1") {
        return R"({"protocolVersion":2,"version":)" + std::string(version) + R"(,"processID":)" +
               std::string(pid) + R"(,"name":"n"})";
    };
    struct Case {
        std::string text;
        bool decodes;
    };
    for (const Case& c : std::vector<Case>{
             {hello("-5"), true},
             {hello("15.0"), false},
             {hello("\"15\""), false},
             {hello("9223372036854775808"), false},
             {hello("18446744073709551616"), false},
             {hello("-9223372036854775809"), false},
             {hello("15", "2147483648"), false},
             {hello("15", "-2147483649"), false},
             {R"({"protocolVersion":2,"version":15,"processID":1,"name":5})", false},
             {R"({"protocolVersion":true,"version":15,"processID":1,"name":"n"})", false},
             {R"({"protocolVersion":3,"version":16,"processID":1,"name":"n","future":{"d":[1]},)"
              R"("claim":{"apps":[],"background":true,"priority":5}})",
              true},
         })
        EXPECT_EQ(decode<Hello>(c.text).has_value(), c.decodes) << c.text;
    EXPECT_EQ(decode<Hello>(hello("9223372036854775807", "2147483647")),
              (Hello{2, INT64_MAX, INT32_MAX, "n"}));
    EXPECT_EQ(decode<Hello>(hello("-9223372036854775808", "-2147483648")),
              (Hello{2, INT64_MIN, INT32_MIN, "n"}));
    for (const Case& c : std::vector<Case>{
             {R"({"apps":["a"],"background":false})", true},
             {R"({"apps":[]})", false},
             {R"({"apps":null,"background":true})", false},
             {R"({"apps":[],"background":null})", false},
             {R"({"apps":[1],"background":true})", false},
             {R"({"apps":[],"background":1})", false},
             {R"({"apps":[],"background":true,"raw":"yes"})", false},
             {R"(["apps"])", false},
         })
        EXPECT_EQ(decode<Claim>(c.text).has_value(), c.decodes) << c.text;
    for (const Case& c : std::vector<Case>{
             {deviceWith(R"("colour":"blue")"), true},
             {deviceWith(R"("battery":"80")"), false},
             {deviceWith(R"("charging":1)"), false},
             {deviceWith(R"("driverProblem":{"code":"x"})"), false},
             {deviceWith(R"("buttons":-1)"), false},
             {deviceWith(R"("knowledge":"Checked")"), false},
             {deviceWith(R"("knowledge":"certain")"), false},
             {deviceWith(R"("x":1)")
                  .replace(std::string(minimalDevice).find("\"open\""), 6, "null"),
              false},
         })
        EXPECT_EQ(decode<SpaceMouseDevice>(c.text).has_value(), c.decodes) << c.text;
    for (const char* member :
         {"id", "vendorID", "productID", "name", "transport", "enabled", "state"}) {
        json object = json::parse(std::string(minimalDevice) + "}");
        object.erase(member);
        EXPECT_FALSE(decode<SpaceMouseDevice>(object.dump())) << member;
    }
    for (const char* member : {"", "id", "name", "processID", "claim", "holds"}) {
        json client = json::parse(R"({"id":1,"name":"V","processID":2,)"
                                  R"("claim":{"apps":[],"background":true},"holds":false})");
        client.erase(member);
        EXPECT_EQ(decode<BrokerStatus::Client>(client.dump()).has_value(), !*member) << member;
    }
    EXPECT_FALSE(
        decode<BrokerStatus>(R"({"version":15,"processID":4294967297,"devices":[],"clients":[]})"));
    EXPECT_FALSE(decode<DeviceDescription>(
        R"({"device":"d","properties":{"a":1},"reportDescriptor":[],"featureReports":[]})"));
}

TEST(RecordRules, absentAndNullOptionalsAreAbsentAndNotWritten) {
    for (const char* text : {R"({"protocolVersion":2,"version":15,"processID":1,"name":"a"})",
                             R"({"protocolVersion":2,"version":15,"processID":1,"name":"a",)"
                             R"("claim":null})"}) {
        auto hello = decode<Hello>(text);
        ASSERT_TRUE(hello) << text;
        EXPECT_FALSE(hello->claim) << text;
        EXPECT_FALSE(json(*hello).contains("claim"));
    }
    auto device = decode<SpaceMouseDevice>(deviceWith(
        R"("serialNumber":null,"battery":null,"knowledge":null,"buttons":null,"driverProblem":null)"));
    ASSERT_TRUE(device);
    EXPECT_EQ(*device, decode<SpaceMouseDevice>(std::string(minimalDevice) + "}"));
    EXPECT_EQ(json(*device).size(), 7u);
    EXPECT_EQ(json(DeviceDescription::FeatureReport{3}), json::parse(R"({"id":3})"));
}

TEST(RecordRules, bytesButtonsAndKnowledgeKeepTheirWholeRange) {
    auto description = [](std::string_view bytes) {
        return decode<DeviceDescription>(
            R"({"device":"d","properties":{},"reportDescriptor":[],"featureReports":[{"id":8,)"
            R"("bytes":)" +
            std::string(bytes) + "}]}");
    };
    auto good = description("[0,255]");
    ASSERT_TRUE(good);
    EXPECT_EQ(good->featureReports[0].bytes, (std::vector<std::uint8_t>{0, 255}));
    for (const char* bad : {"[256]", "[-1]", "[1.5]", "\"AAE=\""}) // base-64 is no byte array
        EXPECT_FALSE(description(bad)) << bad;
    EXPECT_FALSE(decode<DeviceDescription>(
        R"({"device":"d","properties":{},"reportDescriptor":[1,300],"featureReports":[]})"));

    auto device = decode<SpaceMouseDevice>(deviceWith(R"("buttons":1152921504606846977)"));
    ASSERT_TRUE(device);
    EXPECT_EQ(device->buttons, SpaceMouseButtons((1ull << 60) | 1));
    EXPECT_EQ(json(*device)["buttons"], json(1152921504606846977ull));
    EXPECT_EQ(decode<SpaceMouseDevice>(deviceWith(R"("buttons":18446744073709551615)"))->buttons,
              SpaceMouseButtons(~0ull));
    for (const char* text : {"published", "guessed"}) // "checked" is in the full example
        EXPECT_EQ(
            json(decode<SpaceMouseDevice>(deviceWith(R"("knowledge":")" + std::string(text) + "\""))
                     .value())["knowledge"],
            text);
}

TEST(DeviceTransport, isCompareIgnoringCaseButWholly) {
    for (auto [transport, usb, bluetooth] : std::vector<std::tuple<const char*, bool, bool>>{
             {"usb", true, false},
             {"USB", true, false},
             {"bluetooth", false, true},
             {"Bluetooth Low Energy", false, false},
             {"USB2", false, false},
             {"", false, false},
         }) {
        EXPECT_EQ(device(1, 2, transport).isUSB(), usb) << transport;
        EXPECT_EQ(device(1, 2, transport).isBluetooth(), bluetooth) << transport;
    }
}

TEST(DeviceLED, ownFlagComesFirstThenTheModelAndWirelessModelsNeedTheCable) {
    std::optional<bool> none;
    struct Case {
        std::int64_t vendor, product;
        const char* transport;
        std::optional<bool> hasLED;
        bool can;
    };
    for (const Case& c : std::vector<Case>{
             {0x256F, 0xC635, "USB", none, true}, // a model with a status LED
             {0x256F, 0xC635, "USB", false, false},
             {0x256F, 0xC635, "bluetooth", none, true},  // keeps its LED over Bluetooth
             {0x046D, 0xC621, "USB", none, false},       // a model without one
             {0x256F, 0xC6FF, "Bluetooth", none, false}, // unknown
             {0x256F, 0xC63A, "USB", true, true},        // wireless models
             {0x256F, 0xC63A, "Bluetooth", true, false},
             {0x256F, 0xC638, "Bluetooth", true, false},
         }) {
        auto d = device(c.vendor, c.product, c.transport);
        d.hasLED = c.hasLED;
        EXPECT_EQ(d.canLightLED(), c.can) << c.product << c.transport;
    }
}

TEST(DeviceTwoButtons, comesFromButtonsThenModelThenLeftRight) {
    using B = SpaceMouseButtons;
    auto unknown = device(0x256F, 0xC6FF, "USB");
    EXPECT_EQ(unknown.twoButtons(), (B::TwoButtons{B::left, B::right}));

    auto pro = device(0x046D, 0xC62B, "USB"); // the model's buttons begin with menu and fit
    EXPECT_EQ(pro.twoButtons(), (B::TwoButtons{B::menu, B::fit}));

    pro.buttons = B{B::key1, B::key3};
    EXPECT_EQ(pro.twoButtons(), (B::TwoButtons{B::key1, B::key2}));
    unknown.buttons = B{B::menu, B::fit, B::key1};
    EXPECT_EQ(unknown.twoButtons(), (B::TwoButtons{B::menu, B::fit}));
}
