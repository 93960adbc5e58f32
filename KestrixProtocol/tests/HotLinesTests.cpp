#include "KestrixProtocol/HotLines.h"
#include "KestrixProtocol/LineCoding.h"

#include <climits>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

using namespace kestrix;
using M = BrokerMessage;
using nlohmann::json;

namespace {

// What the JSON coder makes of a line, without the fixed form.
std::optional<BrokerMessage> jsonDecoded(std::string_view line) {
    json value = json::parse(line, nullptr, false);
    if (value.is_discarded()) return std::nullopt;
    try {
        return value.get<BrokerMessage>();
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

std::vector<BrokerMessage> samples() {
    const std::int64_t low = INT64_MIN, high = INT64_MAX;
    return {
        {M::Axes{"serial:ABC123", {12, -3, 0, 0, 5, -40}}},
        {M::Axes{"port:046d:c626@14200000/1", {high, low, -1, 1, 350, -350}}},
        {M::Axes{"", {0, 0, 0, 0, 0, 0}}},
        {M::Axes{"bt:aa:bb:cc:dd:ee:ff", {low, low, low, high, high, high}}},
        {M::Buttons{"serial:ABC123", smk::SpaceMouseButtons(0)}},
        {M::Buttons{"d ~!#$%&'()*+,-./:;<=>?@[]^_`{|}", smk::SpaceMouseButtons(UINT64_MAX)}},
        {M::Buttons{"serial:X", smk::SpaceMouseButtons(1ull << 46)}},
    };
}

} // namespace

TEST(HotLines, axesLineHasTheAxesInTheOrderXYZRxRyRz) {
    std::string line;
    ASSERT_TRUE(hotlines::writeAxes(line, "serial:ABC123", {12, -3, 0, 0, 5, -40}));
    EXPECT_EQ(line, R"({"axes":{"device":"serial:ABC123","axes":{"x":12,"y":-3,"z":0,"rx":0,)"
                    R"("ry":5,"rz":-40}}})"
                    "\n");
    line.clear();
    ASSERT_TRUE(hotlines::writeButtons(line, "serial:ABC123", smk::SpaceMouseButtons(3)));
    EXPECT_EQ(line, "{\"buttons\":{\"device\":\"serial:ABC123\",\"held\":3}}\n");
}

TEST(HotLines, fixedFormAndJSONCoderAgreeOnEverySample) {
    BrokerMessage read{M::Buttons{"old", smk::SpaceMouseButtons(1)}}; // reused whatever it held
    for (const BrokerMessage& message : samples()) {
        std::string line;
        ASSERT_TRUE(writeHotLine(line, message)) << line;
        ASSERT_EQ(line.back(), '\n');
        std::string_view body(line.data(), line.size() - 1);
        // The same JSON value as the JSON coder's, and the same message back from both readers.
        json written;
        to_json(written, message);
        EXPECT_EQ(json::parse(body), written) << line;
        EXPECT_EQ(jsonDecoded(body), message) << line;
        ASSERT_TRUE(hotlines::read(body, read)) << line;
        EXPECT_EQ(read, message) << line;
        EXPECT_EQ(LineEncoder::encode(message), line);
    }
}

TEST(HotLines, idsThatNeedEscapingGoThroughTheJSONCoder) {
    for (std::string id : {std::string("a\"b"), std::string("a\\b"), std::string("tab\t"),
                           std::string("caf\xc3\xa9"), std::string(1, '\x7f')}) {
        std::string line;
        EXPECT_FALSE(hotlines::writeAxes(line, id, {1, 2, 3, 4, 5, 6})) << id;
        EXPECT_TRUE(line.empty());
        hotlines::appendAxesLine(line, id, {1, 2, 3, 4, 5, 6});
        BrokerMessage message{M::Axes{id, {1, 2, 3, 4, 5, 6}}};
        EXPECT_EQ(LineDecoder<BrokerMessage>().feed(line), std::vector<BrokerMessage>{message});
        BrokerMessage read;
        EXPECT_FALSE(hotlines::read(line.substr(0, line.size() - 1), read)) << line;
    }
}

// Where the fixed form cannot serve, the JSON coder writes the axes in the same order.
TEST(HotLines, theJSONCoderWritesTheAxesInTheSameOrderToo) {
    EXPECT_EQ(LineEncoder::encode(BrokerMessage{M::Axes{"a\"b", {1, -2, 3, -4, 5, -6}}}),
              R"({"axes":{"axes":{"x":1,"y":-2,"z":3,"rx":-4,"ry":5,"rz":-6},"device":"a\"b"}})"
              "\n");
    struct Case {
        const char* json;
        const char* written;
    };
    for (const Case& c : std::initializer_list<Case>{
             {R"({"rz":6,"ry":5,"rx":4,"z":3,"y":2,"x":1})",
              R"({"x":1,"y":2,"z":3,"rx":4,"ry":5,"rz":6})"},
             {R"([{"rz":0,"ry":0,"rx":0,"z":0,"y":0,"x":[]}])",
              R"([{"x":[],"y":0,"z":0,"rx":0,"ry":0,"rz":0}])"},
             // Not the six axes: members in name order, as ever.
             {R"({"x":1,"y":2,"z":3,"rx":4,"ry":5,"rz":6,"t":7})",
              R"({"rx":4,"ry":5,"rz":6,"t":7,"x":1,"y":2,"z":3})"},
             {R"({"x":1,"y":2,"z":3,"rx":4,"ry":5,"rw":6})",
              R"({"rw":6,"rx":4,"ry":5,"x":1,"y":2,"z":3})"},
             {R"({"b":{"y":1,"x":2},"a":"caf\u00e9"})", R"({"a":"café","b":{"x":2,"y":1}})"},
         }) {
        EXPECT_EQ(writtenJSON(json::parse(c.json)), c.written) << c.json;
    }
    // A text that is not UTF-8 cannot be written: the line is empty.
    EXPECT_EQ(LineEncoder::encode(BrokerMessage{M::Axes{"caf\xe9", {}}}), "\n");
}

// Lines the fixed-form reader leaves to the JSON reader; `same` when that reads the line as the
// message of the first sample.
TEST(HotLines, otherFormsAreLeftToTheJSONReader) {
    const std::string head = R"({"axes":{"device":"serial:ABC123","axes":{"x":)";
    const std::string rest = R"(,"y":-3,"z":0,"rx":0,"ry":5,"rz":-40}}})";
    const BrokerMessage first = samples().front();
    struct Case {
        std::string line;
        bool same;
    };
    const std::vector<Case> cases = {
        {head + "12" + rest + "\r", true},
        {head + " 12" + rest, true},
        {R"({"axes":{"axes":{"x":12,"y":-3,"z":0,"rx":0,"ry":5,"rz":-40},)"
         R"("device":"serial:ABC123"}})",
         true},
        {R"({"axes":{"device":"serial:\u0041BC123","axes":{"x":12,"y":-3,"z":0,"rx":0,"ry":5,)"
         R"("rz":-40}}})",
         true},
        {head + "00" + rest, false},
        {head + "09" + rest, false},
        {head + "12.0" + rest, false},
        {head + "12e0" + rest, false},
        {head + "9223372036854775808" + rest, false},
        {head + "-9223372036854775809" + rest, false},
        {head + "12" + rest + "x", false},
        {head + "12" + rest.substr(0, rest.size() - 1), false},
        {R"({"buttons":{"device":"d","held":-1}})", false},
        {R"({"buttons":{"device":"d","held":18446744073709551616}})", false},
    };
    for (const Case& c : cases) {
        BrokerMessage read;
        EXPECT_FALSE(hotlines::read(c.line, read)) << c.line;
        auto decoded = LineDecoder<BrokerMessage>().feed(c.line + "\n");
        if (c.same) {
            EXPECT_EQ(decoded, std::vector<BrokerMessage>{first}) << c.line;
        } else if (!decoded.empty()) {
            EXPECT_NE(decoded.front(), first) << c.line;
        }
    }
}
