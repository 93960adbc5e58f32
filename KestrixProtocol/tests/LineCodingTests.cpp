#include "KestrixProtocol/LineCoding.h"
#include "KestrixProtocol/Messages.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

using namespace kestrix;
using M = BrokerMessage;

namespace {

const std::string lineA = R"({"holding":{"_0":true}})";
const std::string lineB = R"({"welcome":{"version":15,"protocolVersion":2}})";
const std::string axesLine =
    R"({"axes":{"device":"serial:ABC123","axes":{"x":12,"y":-3,"z":0,"rx":0,"ry":5,"rz":-40}}})";

const BrokerMessage messageA{M::Holding{true}};
const BrokerMessage messageB{M::Welcome{15, 2}};

std::vector<BrokerMessage> feedAll(const std::string& bytes) {
    LineDecoder<BrokerMessage> decoder;
    return decoder.feed(bytes);
}

// The same stream fed one byte at a time.
std::vector<BrokerMessage> feedBytewise(const std::string& bytes, std::size_t* pending = nullptr) {
    LineDecoder<BrokerMessage> decoder;
    std::vector<BrokerMessage> all;
    for (char c : bytes) {
        auto some = decoder.feed(std::string_view(&c, 1));
        all.insert(all.end(), some.begin(), some.end());
    }
    if (pending) *pending = decoder.pendingCount();
    return all;
}

} // namespace

TEST(LineFraming, badLineVanishesBetweenGoodOnes) {
    for (const std::string& bad : std::vector<std::string>{
             R"({"unknownCase":{}})", R"({"holding":true})", "not json", "[1,2]", "null", "17",
             R"({"holding":{"_0":true})", R"({"holding":{"_0":tru)", "{}", "\r\r",
             R"({"holding":{"_0":true}}{"holding":{"_0":true}})",
             // not UTF-8: bad bytes, an overlong form, a lone surrogate
             "{\"report\":{\"device\":\"\xff\xfe\",\"bytes\":[]}}",
             "{\"report\":{\"device\":\"\xc0\xaf\",\"bytes\":[]}}",
             R"({"report":{"device":"\ud800","bytes":[]}})",
             // the parser would stop at a NUL and take the object before it
             std::string("{\"holding\":{\"_0\":true}}") + '\0' + "garbage"}) {
        EXPECT_EQ(feedAll(lineA + "\n" + bad + "\n" + lineB + "\n"),
                  (std::vector<BrokerMessage>{messageA, messageB}))
            << bad;
        EXPECT_EQ(feedBytewise(lineA + "\n" + bad + "\n" + lineB + "\n"),
                  (std::vector<BrokerMessage>{messageA, messageB}))
            << bad;
    }
}

TEST(LineFraming, splitAtEveryBoundaryGivesTheSameMessagesAndTheTailWaitsForItsLineFeed) {
    // Blank lines and carriage returns yield nothing; the last line waits for its line feed.
    std::string stream = "\n\r\n \n\t\n" + lineA + "\n" + axesLine + "\r\n" + "garbage\n" + lineB +
                         " \t\r\n" + lineA;
    auto whole = feedAll(stream);
    EXPECT_EQ(whole, (std::vector<BrokerMessage>{
                         messageA, {M::Axes{"serial:ABC123", {12, -3, 0, 0, 5, -40}}}, messageB}));
    for (std::size_t cut = 0; cut <= stream.size(); ++cut) {
        LineDecoder<BrokerMessage> decoder;
        auto messages = decoder.feed(std::string_view(stream).substr(0, cut));
        auto rest = decoder.feed(std::string_view(stream).substr(cut));
        messages.insert(messages.end(), rest.begin(), rest.end());
        EXPECT_EQ(messages, whole) << "cut at " << cut;
        EXPECT_EQ(decoder.pendingCount(), lineA.size()) << "cut at " << cut;
    }
    std::size_t pending = 0;
    EXPECT_EQ(feedBytewise(stream, &pending), whole);
    EXPECT_EQ(pending, lineA.size());
}

TEST(HostileLines, deepNestingIsDroppedCheaplyNestingWithinTheLimitDecodes) {
    std::string deep(200000, '[');
    std::string deepObject;
    for (int i = 0; i < 100000; ++i)
        deepObject += "{\"a\":";
    EXPECT_EQ(feedAll(lineA + "\n" + deep + "\n" + deepObject + "\n" + lineB + "\n"),
              (std::vector<BrokerMessage>{messageA, messageB}));
    // Nesting inside an unknown member of an otherwise good line: 100 levels are too deep, 50 not,
    // and brackets inside texts do not count.
    std::string nested = R"({"holding":{"_0":true},"future":)";
    EXPECT_TRUE(feedAll(nested + std::string(100, '[') + std::string(100, ']') + "}\n").empty());
    EXPECT_EQ(feedAll(nested + std::string(50, '[') + std::string(50, ']') + "}\n"),
              std::vector<BrokerMessage>{messageA});
    std::string brackets(300, '[');
    auto messages = feedAll(R"({"appsWithOwnClient":{"apps":[")" + brackets + "\\\"[[[[\"]}}\n");
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].as<M::AppsWithOwnClient>()->apps[0], brackets + "\"[[[[");
}
