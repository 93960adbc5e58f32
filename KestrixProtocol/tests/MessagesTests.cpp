#include "KestrixProtocol/LineCoding.h"
#include "KestrixProtocol/Messages.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <string_view>

using namespace kestrix;
using nlohmann::json;
using M = BrokerMessage;

namespace {

template <class T> std::optional<T> decode(std::string_view line) {
    LineDecoder<T> decoder;
    auto messages = decoder.feed(std::string(line) + "\n");
    if (messages.size() != 1) return std::nullopt;
    return messages.front();
}

SpaceMouseDevice compactOpen() {
    SpaceMouseDevice device;
    device.id = "serial:ABC123";
    device.vendorID = 9583;
    device.productID = 50741;
    device.name = "SpaceMouse Compact";
    device.transport = "USB";
    device.enabled = true;
    device.state = "open";
    return device;
}

struct ClientExample {
    const char* line;
    ClientMessage message;
};

struct BrokerExample {
    const char* line;
    BrokerMessage message;
};

std::vector<ClientExample> clientExamples() {
    return {
        {R"({"hello":{"_0":{"protocolVersion":2,"version":15,"processID":4242,"name":"Vantor",)"
         R"("claim":{"apps":["org.blenderfoundation.blender"],"background":true}}}})",
         {Hello{2, 15, 4242, "Vantor", Claim{{"org.blenderfoundation.blender"}, true}}}},
        {R"({"hello":{"_0":{"protocolVersion":2,"version":16,"processID":977,)"
         R"("name":"Kestrix v16"}}})",
         {Hello{2, 16, 977, "Kestrix v16"}}},
        {R"({"claim":{"_0":{"apps":["org.blenderfoundation.blender"],"background":true,)"
         R"("raw":true}}})",
         {Claim{{"org.blenderfoundation.blender"}, true, std::nullopt, true}}},
        {R"({"setLED":{"device":"serial:ABC123","on":true}})",
         {ClientMessage::SetLED{"serial:ABC123", true}}},
        {R"({"describe":{"device":"serial:ABC123"}})", {ClientMessage::Describe{"serial:ABC123"}}},
        {R"({"status":{}})", {ClientMessage::Status{}}},
        {R"({"takeOver":{"version":16}})", {ClientMessage::TakeOver{16}}},
    };
}

std::vector<BrokerExample> brokerExamples() {
    return {
        {R"({"welcome":{"version":15,"protocolVersion":2}})", {M::Welcome{15, 2}}},
        {R"({"devices":{"_0":[{"id":"serial:ABC123","vendorID":9583,"productID":50741,)"
         R"("name":"SpaceMouse Compact","transport":"USB","enabled":true,"state":"open"}]}})",
         {M::Devices{{compactOpen()}}}},
        {R"({"holding":{"_0":true}})", {M::Holding{true}}},
        {R"({"axes":{"device":"serial:ABC123","axes":{"x":12,"y":-3,"z":0,"rx":0,"ry":5,)"
         R"("rz":-40}}})",
         {M::Axes{"serial:ABC123", smk::SpaceMouseAxes{12, -3, 0, 0, 5, -40}}}},
        {R"({"buttons":{"device":"serial:ABC123","held":1}})",
         {M::Buttons{"serial:ABC123", smk::SpaceMouseButtons::left}}},
        {R"({"report":{"device":"serial:ABC123","bytes":[1,12,0,253,255,0,0]}})",
         {M::Report{"serial:ABC123", {1, 12, 0, 253, 255, 0, 0}}}},
        {R"({"description":{"_0":{"device":"serial:ABC123","properties":{},)"
         R"("reportDescriptor":[],"featureReports":[],"error":"not in the IORegistry"}}})",
         {DeviceDescription{"serial:ABC123", {}, {}, {}, std::nullopt, "not in the IORegistry"}}},
        {R"({"status":{"_0":{"version":15,"processID":311,"devices":[],"clients":[]}}})",
         {BrokerStatus{15, 311, std::nullopt, {}, {}}}},
        {R"({"appsWithOwnClient":{"apps":["com.autodesk.fusion360"]}})",
         {M::AppsWithOwnClient{{"com.autodesk.fusion360"}}}},
        {R"({"handingOver":{"_0":true}})", {M::HandingOver{true}}},
    };
}

} // namespace

// MARK: the example lines

TEST(MessageExamples, clientLinesDecodeToTheirMessageAndEncodeToTheSameJson) {
    for (const auto& example : clientExamples()) {
        auto decoded = decode<ClientMessage>(example.line);
        ASSERT_TRUE(decoded) << example.line;
        EXPECT_EQ(*decoded, example.message) << example.line;
        std::string encoded = LineEncoder::encode(example.message);
        EXPECT_EQ(json::parse(encoded), json::parse(example.line)) << encoded;
        EXPECT_EQ(decode<ClientMessage>(encoded), example.message) << encoded;
    }
}

TEST(MessageExamples, brokerLinesDecodeToTheirMessageAndEncodeToTheSameJson) {
    for (const auto& example : brokerExamples()) {
        auto decoded = decode<BrokerMessage>(example.line);
        ASSERT_TRUE(decoded) << example.line;
        EXPECT_EQ(*decoded, example.message) << example.line;
        std::string encoded = LineEncoder::encode(example.message);
        EXPECT_EQ(json::parse(encoded), json::parse(example.line)) << encoded;
        EXPECT_EQ(decode<BrokerMessage>(encoded), example.message) << encoded;
    }
}

TEST(MessageExamples, caseNamesFollowTheDeclarationOrder) {
    std::vector<std::string> names;
    for (const auto& example : clientExamples())
        names.push_back(caseName(example.message));
    EXPECT_EQ(names, (std::vector<std::string>{"hello", "hello", "claim", "setLED", "describe",
                                               "status", "takeOver"}));
    names.clear();
    for (const auto& example : brokerExamples())
        names.push_back(caseName(example.message));
    EXPECT_EQ(names, (std::vector<std::string>{"welcome", "devices", "holding", "axes", "buttons",
                                               "report", "description", "status",
                                               "appsWithOwnClient", "handingOver"}));
}

TEST(MessageExamples, linesOfOneSideAreNotMessagesOfTheOther) {
    for (const auto& example : clientExamples()) {
        if (std::string_view(example.line).starts_with(R"({"status")"))
            continue; // both sides have a status case, with different payloads
        EXPECT_FALSE(decode<BrokerMessage>(example.line)) << example.line;
    }
    for (const auto& example : brokerExamples()) {
        if (std::string_view(example.line).starts_with(R"({"status")")) continue;
        EXPECT_FALSE(decode<ClientMessage>(example.line)) << example.line;
    }
    EXPECT_FALSE(decode<BrokerMessage>(R"({"status":{}})"));
    // The client's status ignores the members of its payload, so the broker's answer reads as a
    // request; the broker's status needs its record.
    EXPECT_TRUE(decode<ClientMessage>(
        R"({"status":{"_0":{"version":15,"processID":311,"devices":[],"clients":[]}}})"));
}

// MARK: the tagged scheme

TEST(TaggedScheme, caseWithoutPayloadNeedsAnObject) {
    EXPECT_EQ(decode<ClientMessage>(R"({"status":{}})"), ClientMessage{ClientMessage::Status{}});
    EXPECT_TRUE(decode<ClientMessage>(R"({"status":{"verbose":true}})"));
    EXPECT_FALSE(decode<ClientMessage>(R"({"status":null})"));
    EXPECT_FALSE(decode<ClientMessage>(R"({"status":true})"));
    EXPECT_FALSE(decode<ClientMessage>(R"({"status":[]})"));
    EXPECT_EQ(LineEncoder::encode(ClientMessage{ClientMessage::Status{}}), "{\"status\":{}}\n");
}

TEST(TaggedScheme, exactlyOneCaseMemberAndUnknownMembersIgnored) {
    const char* hello = R"({"protocolVersion":2,"version":15,"processID":1,"name":"n"})";
    const char* claim = R"({"apps":[],"background":true})";
    EXPECT_FALSE(decode<ClientMessage>(std::string(R"({"hello":{"_0":)") + hello +
                                       R"(},"claim":{"_0":)" + claim + "}}"));
    auto extra =
        decode<ClientMessage>(std::string(R"({"hello":{"_0":)") + hello + R"(},"extra":1})");
    ASSERT_TRUE(extra);
    EXPECT_TRUE(extra->as<Hello>());
    EXPECT_FALSE(decode<ClientMessage>(R"({"extra":1})"));
    EXPECT_FALSE(decode<ClientMessage>(R"({})"));
    EXPECT_FALSE(decode<ClientMessage>(R"({"Status":{}})")); // case names are case-sensitive
    EXPECT_FALSE(decode<ClientMessage>(R"({"takeover":{"version":16}})"));
    EXPECT_FALSE(decode<BrokerMessage>(R"({"holding":{"_0":true},"handingOver":{"_0":true}})"));
}

TEST(TaggedScheme, unlabelledValueLivesUnderUnderscoreZero) {
    EXPECT_FALSE(decode<BrokerMessage>(R"({"holding":true})"));
    EXPECT_FALSE(decode<BrokerMessage>(R"({"holding":{}})"));
    EXPECT_FALSE(decode<BrokerMessage>(R"({"holding":{"_0":null}})"));
    EXPECT_FALSE(decode<BrokerMessage>(R"({"holding":{"_0":1}})"));
    EXPECT_FALSE(decode<BrokerMessage>(R"({"holding":{"_1":true}})"));
    EXPECT_EQ(decode<BrokerMessage>(R"({"holding":{"_0":false,"since":3}})"),
              BrokerMessage{M::Holding{false}});
    EXPECT_FALSE(decode<BrokerMessage>(R"({"devices":{"_0":{}}})"));
    EXPECT_EQ(decode<BrokerMessage>(R"({"devices":{"_0":[]}})"), BrokerMessage{M::Devices{}});
}

TEST(TaggedScheme, labelledValuesAreAllRequired) {
    EXPECT_FALSE(decode<ClientMessage>(R"({"setLED":{"device":"d"}})"));
    EXPECT_FALSE(decode<ClientMessage>(R"({"setLED":{"on":true}})"));
    EXPECT_FALSE(decode<ClientMessage>(R"({"setLED":{"device":"d","on":"true"}})"));
    EXPECT_FALSE(decode<BrokerMessage>(R"({"welcome":{"version":15}})"));
    EXPECT_FALSE(decode<BrokerMessage>(R"({"axes":{"device":"d"}})"));
    EXPECT_FALSE(decode<BrokerMessage>(
        R"({"axes":{"device":"d","axes":{"x":1,"y":2,"z":3,"rx":4,"ry":5}}})"));
    EXPECT_FALSE(decode<BrokerMessage>(
        R"({"axes":{"device":"d","axes":{"x":1,"y":2,"z":3,"rx":4,"ry":5,"rz":0.5}}})"));
    EXPECT_FALSE(decode<BrokerMessage>(R"({"buttons":{"device":"d","held":-1}})"));
    EXPECT_FALSE(decode<BrokerMessage>(R"({"appsWithOwnClient":{"apps":null}})"));
    EXPECT_FALSE(decode<ClientMessage>(R"({"takeOver":{}})"));
}

TEST(TaggedScheme, aRecordThatFailsFailsItsMessage) {
    EXPECT_FALSE(decode<BrokerMessage>(R"({"report":{"device":"d","bytes":[1,256]}})"));
    EXPECT_FALSE(decode<BrokerMessage>(
        R"({"description":{"_0":{"device":"d","properties":{},"reportDescriptor":[],)"
        R"("featureReports":[{"id":8,"bytes":[256]}]}}})"));
    EXPECT_FALSE(decode<ClientMessage>(
        R"({"hello":{"_0":{"protocolVersion":2,"version":15,"processID":2147483648,"name":"n"}}})"));
    EXPECT_FALSE(decode<BrokerMessage>(
        R"({"devices":{"_0":[{"id":"a","vendorID":1,"productID":2,"name":"n","transport":"USB",)"
        R"("enabled":true,"state":"open"},{"id":"b"}]}})"));
}

TEST(TaggedScheme, buttonsAboveBit31TravelAsOneNumber) {
    BrokerMessage message{M::Buttons{"d", smk::SpaceMouseButtons((1ull << 63) | (1ull << 40))}};
    std::string line = LineEncoder::encode(message);
    EXPECT_EQ(line, "{\"buttons\":{\"device\":\"d\",\"held\":9223373136366403584}}\n");
    EXPECT_EQ(decode<BrokerMessage>(line), message);
}

TEST(TaggedScheme, encodedLineHasOneLineFeedAtTheEnd) {
    BrokerMessage message{M::AppsWithOwnClient{{"a\nb", "c\r\nd", "e/f"}}};
    std::string line = LineEncoder::encode(message);
    ASSERT_FALSE(line.empty());
    EXPECT_EQ(line.back(), '\n');
    EXPECT_EQ(line.find('\n'), line.size() - 1);
    EXPECT_EQ(decode<BrokerMessage>(line), message);
}

TEST(TaggedScheme, messageThatCannotBeEncodedBecomesAnEmptyLine) {
    ClientMessage message{ClientMessage::Describe{"serial:\xff\xfe"}};
    EXPECT_EQ(LineEncoder::encode(message), "\n");
}
