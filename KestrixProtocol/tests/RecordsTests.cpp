#include "KestrixProtocol/Kestrix.h"
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
    R"("buttons":3,"axisFullScale":350,"hasLED":true})";

const char* minimalDevice = R"({"id":"serial:A","vendorID":9583,"productID":50741,"name":"SM",)"
                            R"("transport":"USB","enabled":true,"state":"open")";

std::string deviceWith(std::string_view extra) {
    return std::string(minimalDevice) + "," + std::string(extra) + "}";
}

SpaceMouseDevice device(std::int64_t vendor, std::int64_t product, std::string transport) {
    SpaceMouseDevice device;
    device.id = "serial:X";
    device.vendorID = vendor;
    device.productID = product;
    device.name = "device";
    device.transport = std::move(transport);
    device.state = "open";
    return device;
}

} // namespace

TEST(KestrixConstants, areTheSharedValues) {
    EXPECT_EQ(Kestrix::appName, "Kestrix");
    EXPECT_EQ(Kestrix::bundleIdentifier, "me.orvella.Kestrix");
    EXPECT_EQ(Kestrix::version, 15);
    EXPECT_EQ(Kestrix::protocolVersion, 2);
}

// MARK: examples

TEST(RecordExamples, decodeToTheirFieldsAndEncodeBack) {
    auto hello = decode<Hello>(R"({"protocolVersion":2,"version":15,"processID":4242,)"
                               R"("name":"Vantor","claim":{"apps":)"
                               R"(["org.blenderfoundation.blender"],"background":true}})");
    ASSERT_TRUE(hello);
    EXPECT_EQ(*hello,
              (Hello{2, 15, 4242, "Vantor", Claim{{"org.blenderfoundation.blender"}, true}}));
    EXPECT_EQ(decode<Hello>(json(*hello).dump()), hello);

    auto claim = decode<Claim>(R"({"apps":["org.blenderfoundation.blender",)"
                               R"("com.autodesk.fusion360"],"background":false,)"
                               R"("backgroundLast":true,"raw":false})");
    ASSERT_TRUE(claim);
    EXPECT_EQ(
        *claim,
        (Claim{{"org.blenderfoundation.blender", "com.autodesk.fusion360"}, false, true, false}));

    auto problem = decode<DriverProblem>(
        R"({"code":"driverNotAnswering","detail":"the registration with 3Dconnexion's driver )"
        R"(keeps failing: unknown"})");
    ASSERT_TRUE(problem);
    EXPECT_EQ(problem->code, DriverProblem::driverNotAnswering);

    auto device = decode<SpaceMouseDevice>(fullDeviceExample);
    ASSERT_TRUE(device);
    SpaceMouseDevice expected;
    expected.id = "serial:ABC123";
    expected.vendorID = 9583;
    expected.productID = 50741;
    expected.name = "SpaceMouse Compact";
    expected.transport = "USB";
    expected.serialNumber = "ABC123";
    expected.locationID = 336592896;
    expected.battery = 80;
    expected.charging = false;
    expected.enabled = true;
    expected.state = "open";
    expected.led = true;
    expected.knowledge = smk::SpaceMouseModel::Knowledge::checked;
    expected.buttons = SpaceMouseButtons(3);
    expected.axisFullScale = 350;
    expected.hasLED = true;
    EXPECT_EQ(*device, expected);
    EXPECT_EQ(json(*device), json::parse(fullDeviceExample));

    auto description = decode<DeviceDescription>(
        R"({"device":"serial:ABC123","properties":{"Product":"SpaceMouse Compact",)"
        R"("VendorID":"9583"},"reportDescriptor":[5,1,9,8],"featureReports":[{"id":8,)"
        R"("bytes":[8,65,66,67]},{"id":9,"error":"GET failed"}],"featureReportsVia":"HID device"})");
    ASSERT_TRUE(description);
    DeviceDescription expectedDescription{
        "serial:ABC123",
        {{"Product", "SpaceMouse Compact"}, {"VendorID", "9583"}},
        {5, 1, 9, 8},
        {{8, std::vector<std::uint8_t>{8, 65, 66, 67}, std::nullopt},
         {9, std::nullopt, "GET failed"}},
        "HID device",
        std::nullopt};
    EXPECT_EQ(*description, expectedDescription);
    EXPECT_EQ(decode<DeviceDescription>(json(*description).dump()), description);

    const char* statusText =
        R"({"version":15,"processID":311,"frontmostApp":"org.blenderfoundation.blender",)"
        R"("devices":[],"clients":[{"id":1,"name":"Vantor","processID":4242,"claim":{"apps":[],)"
        R"("background":true},"holds":true}],"driver":false,"appsWithOwnClient":[]})";
    auto status = decode<BrokerStatus>(statusText);
    ASSERT_TRUE(status);
    BrokerStatus expectedStatus{15,
                                311,
                                "org.blenderfoundation.blender",
                                {},
                                {{1, "Vantor", 4242, Claim{{}, true}, true}},
                                false,
                                std::vector<std::string>{}};
    EXPECT_EQ(*status, expectedStatus);
    EXPECT_EQ(json(*status), json::parse(statusText));
}

// MARK: presence rules

TEST(RecordPresence, helloWithoutClaimOrWithNullClaimHasNone) {
    auto missing = decode<Hello>(R"({"protocolVersion":2,"version":15,"processID":1,"name":"a"})");
    auto null = decode<Hello>(
        R"({"protocolVersion":2,"version":15,"processID":1,"name":"a","claim":null})");
    ASSERT_TRUE(missing);
    ASSERT_TRUE(null);
    EXPECT_FALSE(missing->claim);
    EXPECT_FALSE(null->claim);
}

TEST(RecordPresence, absentOptionalsAreNotWritten) {
    json hello = Hello{2, 16, 7, "Kestrix v16"};
    EXPECT_FALSE(hello.contains("claim"));
    json claim = Claim{{}, true};
    EXPECT_EQ(claim, json::parse(R"({"apps":[],"background":true})"));
    json device = decode<SpaceMouseDevice>(std::string(minimalDevice) + "}").value();
    EXPECT_EQ(device.size(), 7u);
    json report = DeviceDescription::FeatureReport{3};
    EXPECT_EQ(report, json::parse(R"({"id":3})"));
}

TEST(RecordPresence, claimNeedsBackgroundButNotItsOptionals) {
    EXPECT_FALSE(decode<Claim>(R"({"apps":[]})"));
    auto claim = decode<Claim>(R"({"apps":["a"],"background":false})");
    ASSERT_TRUE(claim);
    EXPECT_FALSE(claim->backgroundLast);
    EXPECT_FALSE(claim->raw);
}

TEST(RecordPresence, requiredMemberThatIsNullFails) {
    EXPECT_FALSE(decode<Claim>(R"({"apps":null,"background":true})"));
    EXPECT_FALSE(decode<Claim>(R"({"apps":[],"background":null})"));
    EXPECT_FALSE(decode<SpaceMouseDevice>(
        deviceWith(R"("x":1)").replace(std::string(minimalDevice).find("\"open\""), 6, "null")));
}

TEST(RecordPresence, everyRequiredDeviceMemberIsNeeded) {
    for (const char* member :
         {"id", "vendorID", "productID", "name", "transport", "enabled", "state"}) {
        json object = json::parse(std::string(minimalDevice) + "}");
        object.erase(member);
        EXPECT_FALSE(decode<SpaceMouseDevice>(object.dump())) << member;
    }
    for (const char* member : {"id", "name", "processID", "claim", "holds"}) {
        json client = json::parse(R"({"id":1,"name":"V","processID":2,)"
                                  R"("claim":{"apps":[],"background":true},"holds":false})");
        EXPECT_TRUE(decode<BrokerStatus::Client>(client.dump()));
        client.erase(member);
        EXPECT_FALSE(decode<BrokerStatus::Client>(client.dump())) << member;
    }
}

TEST(RecordPresence, nullOptionalsAreAbsent) {
    auto device = decode<SpaceMouseDevice>(deviceWith(
        R"("serialNumber":null,"battery":null,"knowledge":null,"buttons":null,"driverProblem":null)"));
    ASSERT_TRUE(device);
    EXPECT_EQ(*device, decode<SpaceMouseDevice>(std::string(minimalDevice) + "}"));
}

TEST(RecordPresence, optionalOfTheWrongTypeFailsTheRecord) {
    EXPECT_FALSE(decode<SpaceMouseDevice>(deviceWith(R"("battery":"80")")));
    EXPECT_FALSE(decode<SpaceMouseDevice>(deviceWith(R"("charging":1)")));
    EXPECT_FALSE(decode<Claim>(R"({"apps":[],"background":true,"raw":"yes"})"));
    EXPECT_FALSE(decode<SpaceMouseDevice>(deviceWith(R"("driverProblem":{"code":"x"})")));
}

TEST(RecordPresence, unknownMembersAreIgnoredEverywhere) {
    auto hello = decode<Hello>(R"({"protocolVersion":3,"version":16,"processID":1,"name":"n",)"
                               R"("future":{"deep":[1,2]},"claim":{"apps":[],"background":true,)"
                               R"("priority":5}})");
    ASSERT_TRUE(hello);
    EXPECT_EQ(hello->claim, (Claim{{}, true}));
    EXPECT_TRUE(decode<SpaceMouseDevice>(deviceWith(R"("colour":"blue")")));
    EXPECT_TRUE(decode<DeviceDescription>(
        R"({"device":"d","properties":{},"reportDescriptor":[],"featureReports":[{"id":1,"x":0}],)"
        R"("new":true})"));
    EXPECT_TRUE(decode<BrokerStatus>(R"({"version":15,"processID":1,"devices":[],"clients":[],)"
                                     R"("uptime":12.5})"));
}

// MARK: JSON types and integer ranges

TEST(RecordTypes, wrongJsonTypesFail) {
    EXPECT_FALSE(decode<Claim>(R"({"apps":"a","background":true})"));
    EXPECT_FALSE(decode<Claim>(R"({"apps":[1],"background":true})"));
    EXPECT_FALSE(decode<Claim>(R"({"apps":[],"background":1})"));
    EXPECT_FALSE(decode<Claim>(R"({"apps":[],"background":"true"})"));
    EXPECT_FALSE(decode<Hello>(R"({"protocolVersion":2,"version":15,"processID":1,"name":5})"));
    EXPECT_FALSE(
        decode<Hello>(R"({"protocolVersion":true,"version":15,"processID":1,"name":"n"})"));
    EXPECT_FALSE(decode<DeviceDescription>(
        R"({"device":"d","properties":{"a":1},"reportDescriptor":[],"featureReports":[]})"));
    EXPECT_FALSE(decode<Claim>(R"(["apps"])"));
}

TEST(RecordTypes, integersMustBeWholeJsonNumbers) {
    auto hello = [](std::string_view version) {
        return decode<Hello>(R"({"protocolVersion":2,"version":)" + std::string(version) +
                             R"(,"processID":1,"name":"n"})");
    };
    EXPECT_TRUE(hello("-5"));
    EXPECT_FALSE(hello("15.5"));
    EXPECT_FALSE(hello("15.0"));
    EXPECT_FALSE(hello("1e3"));
    EXPECT_FALSE(hello("\"15\""));
    EXPECT_EQ(hello("9223372036854775807")->version, INT64_MAX);
    EXPECT_EQ(hello("-9223372036854775808")->version, INT64_MIN);
    EXPECT_FALSE(hello("9223372036854775808"));
    EXPECT_FALSE(hello("18446744073709551616"));
    EXPECT_FALSE(hello("-9223372036854775809"));
}

TEST(RecordTypes, processIdIsInt32) {
    auto hello = [](std::string_view pid) {
        return decode<Hello>(R"({"protocolVersion":2,"version":15,"processID":)" +
                             std::string(pid) + R"(,"name":"n"})");
    };
    EXPECT_EQ(hello("2147483647")->processID, INT32_MAX);
    EXPECT_EQ(hello("-2147483648")->processID, INT32_MIN);
    EXPECT_FALSE(hello("2147483648"));
    EXPECT_FALSE(hello("-2147483649"));
    EXPECT_FALSE(
        decode<BrokerStatus>(R"({"version":15,"processID":4294967297,"devices":[],"clients":[]})"));
}

TEST(RecordTypes, bytesAreNumbersFrom0To255) {
    auto description = [](std::string_view bytes) {
        return decode<DeviceDescription>(
            R"({"device":"d","properties":{},"reportDescriptor":[],"featureReports":[{"id":8,)"
            R"("bytes":)" +
            std::string(bytes) + "}]}");
    };
    auto good = description("[0,255]");
    ASSERT_TRUE(good);
    EXPECT_EQ(good->featureReports[0].bytes, (std::vector<std::uint8_t>{0, 255}));
    EXPECT_FALSE(description("[256]"));
    EXPECT_FALSE(description("[-1]"));
    EXPECT_FALSE(description("[1.5]"));
    EXPECT_FALSE(description("\"AAE=\"")); // base-64 is not a byte array here
    EXPECT_FALSE(decode<DeviceDescription>(
        R"({"device":"d","properties":{},"reportDescriptor":[1,300],"featureReports":[]})"));

    json written = DeviceDescription{"d", {}, {0, 200, 255}, {}};
    EXPECT_EQ(written["reportDescriptor"], json::parse("[0,200,255]"));
}

TEST(RecordTypes, buttonsAreTheBareMaskAndKnowledgeItsText) {
    auto device = decode<SpaceMouseDevice>(deviceWith(R"("buttons":1152921504606846977)"));
    ASSERT_TRUE(device);
    EXPECT_EQ(device->buttons, SpaceMouseButtons((1ull << 60) | 1));
    EXPECT_EQ(json(*device)["buttons"], json(1152921504606846977ull));
    EXPECT_EQ(decode<SpaceMouseDevice>(deviceWith(R"("buttons":18446744073709551615)"))->buttons,
              SpaceMouseButtons(~0ull));
    EXPECT_FALSE(decode<SpaceMouseDevice>(deviceWith(R"("buttons":-1)")));
    EXPECT_FALSE(decode<SpaceMouseDevice>(deviceWith(R"("buttons":"3")")));

    for (auto [text, knowledge] : {std::pair{"checked", smk::SpaceMouseModel::Knowledge::checked},
                                   {"published", smk::SpaceMouseModel::Knowledge::published},
                                   {"guessed", smk::SpaceMouseModel::Knowledge::guessed}}) {
        auto read =
            decode<SpaceMouseDevice>(deviceWith("\"knowledge\":\"" + std::string(text) + "\""));
        ASSERT_TRUE(read) << text;
        EXPECT_EQ(read->knowledge, knowledge);
        EXPECT_EQ(json(*read)["knowledge"], text);
    }
    EXPECT_FALSE(decode<SpaceMouseDevice>(deviceWith(R"("knowledge":"Checked")")));
    EXPECT_FALSE(decode<SpaceMouseDevice>(deviceWith(R"("knowledge":"certain")")));
}

TEST(RecordTypes, escapedSolidusIsRead) {
    auto claim = decode<Claim>(R"({"apps":["a\/b"],"background":true})");
    ASSERT_TRUE(claim);
    EXPECT_EQ(claim->apps[0], "a/b");
}

// MARK: equality

TEST(RecordEquality, claimComparesAppsInOrderAndAbsentOnlyEqualsAbsent) {
    EXPECT_NE((Claim{{"a", "b"}, true}), (Claim{{"b", "a"}, true}));
    EXPECT_NE((Claim{{"a"}, true, std::nullopt, false}), (Claim{{"a"}, true}));
    EXPECT_NE((Claim{{"a"}, true, false}), (Claim{{"a"}, true}));
    EXPECT_EQ((Claim{{"a"}, true, true, false}), (Claim{{"a"}, true, true, false}));
    EXPECT_NE((Claim{{"a"}, true}), (Claim{{"a"}, false}));
}

TEST(RecordEquality, deviceComparesEveryField) {
    auto base = decode<SpaceMouseDevice>(fullDeviceExample).value();
    auto other = base;
    other.driverProblem = DriverProblem{std::string(DriverProblem::helperNotResponding), "x"};
    EXPECT_NE(base, other);
    other = base;
    other.bluetoothAddress = "aa:bb";
    EXPECT_NE(base, other);
    other = base;
    other.hasLED = std::nullopt;
    EXPECT_NE(base, other);
}

// MARK: derived device properties

TEST(DeviceTransport, isCompareIgnoringCaseButWholly) {
    EXPECT_TRUE(device(1, 2, "usb").isUSB());
    EXPECT_TRUE(device(1, 2, "USB").isUSB());
    EXPECT_FALSE(device(1, 2, "usb").isBluetooth());
    EXPECT_TRUE(device(1, 2, "bluetooth").isBluetooth());
    EXPECT_TRUE(device(1, 2, "BLUETOOTH").isBluetooth());
    auto le = device(1, 2, "Bluetooth Low Energy");
    EXPECT_FALSE(le.isBluetooth());
    EXPECT_FALSE(le.isUSB());
    EXPECT_FALSE(device(1, 2, "USB2").isUSB());
    EXPECT_FALSE(device(1, 2, "").isUSB());
}

TEST(DeviceModel, isTheKnownRowForTheIds) {
    auto compact = device(0x256F, 0xC635, "USB").model();
    ASSERT_TRUE(compact);
    EXPECT_EQ(compact->name, "SpaceMouse Compact");
    EXPECT_FALSE(device(0x256F, 0xC6FF, "USB").model());
    EXPECT_FALSE(device(0x046D, 0xC635, "USB").model());
}

TEST(DeviceLED, ownFlagComesFirst) {
    auto compact = device(0x256F, 0xC635, "USB"); // a model with a status LED
    EXPECT_TRUE(compact.canLightLED());
    compact.hasLED = false;
    EXPECT_FALSE(compact.canLightLED());

    auto spaceball = device(0x046D, 0xC621, "USB"); // a model without one
    EXPECT_FALSE(spaceball.canLightLED());
    spaceball.hasLED = true;
    EXPECT_TRUE(spaceball.canLightLED());

    auto unknown = device(0x256F, 0xC6FF, "Bluetooth");
    EXPECT_FALSE(unknown.canLightLED());
    unknown.hasLED = true;
    EXPECT_TRUE(unknown.canLightLED());
}

TEST(DeviceLED, wirelessModelNeedsTheCable) {
    for (std::int64_t product : {0xC63A, 0xC638}) {
        auto wired = device(0x256F, product, "USB");
        wired.hasLED = true;
        EXPECT_TRUE(wired.canLightLED()) << product;
        auto wireless = wired;
        wireless.transport = "Bluetooth";
        EXPECT_FALSE(wireless.canLightLED()) << product;
        wireless.hasLED = std::nullopt;
        EXPECT_FALSE(wireless.canLightLED()) << product;
    }
    // A model that keeps its LED over Bluetooth.
    auto compact = device(0x256F, 0xC635, "bluetooth");
    EXPECT_TRUE(compact.canLightLED());
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
