#include "KestrixProtocol/LineCoding.h"
#include "KestrixProtocol/Messages.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>

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
    SpaceMouseDevice d;
    std::tie(d.id, d.vendorID, d.productID, d.name, d.transport, d.state) =
        std::tuple("serial:ABC123", 9583, 50741, "SpaceMouse Compact", "USB", "open");
    return d;
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
        {R"({"refused":{"reason":"line longer than 1048576 bytes"}})",
         {M::Refused{"line longer than 1048576 bytes"}}},
    };
}

} // namespace

// The example lines of one side decode to their messages, named by the line's one member, encode
// to the same JSON and are no messages of the other side (but for the status request, which
// ignores its payload).
template <class Mine, class Theirs, class Example>
void checkExamples(const std::vector<Example>& examples) {
    for (const auto& example : examples) {
        auto decoded = decode<Mine>(example.line);
        ASSERT_TRUE(decoded) << example.line;
        EXPECT_EQ(*decoded, example.message) << example.line;
        std::string encoded = LineEncoder::encode(example.message);
        EXPECT_EQ(json::parse(encoded), json::parse(example.line)) << encoded;
        EXPECT_EQ(decode<Mine>(encoded), example.message) << encoded;
        std::string name = caseName(example.message);
        EXPECT_EQ(name, json::parse(example.line).begin().key());
        bool statusRequest = name == "status" && std::is_same_v<Theirs, ClientMessage>;
        EXPECT_EQ(decode<Theirs>(example.line).has_value(), statusRequest) << example.line;
    }
}

TEST(MessageExamples, decodeToTheirMessageAndEncodeToTheSameJson) {
    checkExamples<ClientMessage, BrokerMessage>(clientExamples());
    checkExamples<BrokerMessage, ClientMessage>(brokerExamples());
}

// Lines of the tagged scheme that decode; every other line below is dropped.
TEST(TaggedScheme, oneCaseMemberWithItsPayloadAllLabelledValuesWithTheirTypesUnknownIgnored) {
    const std::string hello = R"({"hello":{"_0":{"protocolVersion":2,"version":15,"processID":1,)"
                              R"("name":"n"}})";
    EXPECT_TRUE(decode<ClientMessage>(R"({"status":{"verbose":true}})"));
    EXPECT_TRUE(decode<ClientMessage>(hello + R"(,"extra":1})"));
    EXPECT_EQ(decode<BrokerMessage>(R"({"holding":{"_0":false,"since":3}})"),
              BrokerMessage{M::Holding{false}});
    EXPECT_EQ(decode<BrokerMessage>(R"({"devices":{"_0":[]}})"), BrokerMessage{M::Devices{}});
    for (const std::string& bad : std::vector<std::string>{
             R"({"status":null})", R"({"status":true})", R"({"status":[]})",
             hello + R"(,"claim":{"_0":{"apps":[],"background":true}}})", R"({"extra":1})", "{}",
             R"({"Status":{}})", // case names are case-sensitive
             R"({"takeover":{"version":16}})"})
        EXPECT_FALSE(decode<ClientMessage>(bad)) << bad;
    for (const char* bad :
         {R"({"holding":{"_0":true},"handingOver":{"_0":true}})", R"({"holding":true})",
          R"({"holding":{}})", R"({"holding":{"_0":null}})", R"({"holding":{"_0":1}})",
          R"({"holding":{"_1":true}})", R"({"devices":{"_0":{}}})"})
        EXPECT_FALSE(decode<BrokerMessage>(bad)) << bad;
    // Labelled values are all required with their types, and a record that fails fails its
    // message.
    for (const char* bad : {
             R"({"welcome":{"version":15}})",
             R"({"welcome":{"version":"15","protocolVersion":2}})",
             R"({"axes":{"device":"d"}})",
             R"({"axes":{"device":"d","axes":{"x":1,"y":2,"z":3,"rx":4,"ry":5}}})",
             R"({"axes":{"device":"d","axes":{"x":1,"y":2,"z":3,"rx":4,"ry":5,"rz":0.5}}})",
             R"({"buttons":{"device":"d","held":-1}})",
             R"({"buttons":{"device":"d","held":18446744073709551616}})",
             R"({"appsWithOwnClient":{"apps":null}})",
             R"({"report":{"device":"d","bytes":[1,256]}})",
             R"({"report":{"device":"d","bytes":[1,2,3,1e2]}})",
             R"({"report":{"device":["d"],"bytes":[]}})",
             R"({"devices":{"_0":[{"id":"a","vendorID":1,"productID":2,"name":"n",)"
             R"("transport":"USB","enabled":true,"state":"open"},{"id":"b"}]}})",
         })
        EXPECT_FALSE(decode<BrokerMessage>(bad)) << bad;
    for (const char* bad : {
             R"({"setLED":{"on":true}})",
             R"({"setLED":{"device":"d","on":"true"}})",
             R"({"takeOver":{}})",
         })
        EXPECT_FALSE(decode<ClientMessage>(bad)) << bad;
}

TEST(TaggedScheme, encodedLineIsOneLineWithButtonsAsOneNumberOrEmptyWhenNotEncodable) {
    BrokerMessage buttons{M::Buttons{"d", smk::SpaceMouseButtons((1ull << 63) | (1ull << 40))}};
    std::string line = LineEncoder::encode(buttons);
    EXPECT_EQ(line, "{\"buttons\":{\"device\":\"d\",\"held\":9223373136366403584}}\n");
    EXPECT_EQ(decode<BrokerMessage>(line), buttons);
    BrokerMessage apps{M::AppsWithOwnClient{{"a\nb", "c\r\nd", "e/f"}}};
    line = LineEncoder::encode(apps);
    EXPECT_EQ(line.find('\n'), line.size() - 1);
    EXPECT_EQ(decode<BrokerMessage>(line), apps);
    EXPECT_EQ(LineEncoder::encode(ClientMessage{ClientMessage::Describe{"serial:\xff\xfe"}}), "\n");
}
