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

TEST(LineFraming, lineWithoutLineFeedWaitsForIt) {
    LineDecoder<BrokerMessage> decoder;
    auto first = decoder.feed(lineA + "\n" + lineB);
    EXPECT_EQ(first, std::vector<BrokerMessage>{messageA});
    EXPECT_EQ(decoder.pendingCount(), lineB.size());
    auto second = decoder.feed("\n");
    EXPECT_EQ(second, std::vector<BrokerMessage>{messageB});
    EXPECT_EQ(decoder.pendingCount(), 0u);
}

TEST(LineFraming, emptyLinesYieldNothing) {
    LineDecoder<BrokerMessage> decoder;
    EXPECT_TRUE(decoder.feed("\n\n").empty());
    EXPECT_EQ(decoder.pendingCount(), 0u);
    EXPECT_TRUE(decoder.feed("\r\n \n\t\n").empty());
    EXPECT_EQ(decoder.feed(lineA + "\n"), std::vector<BrokerMessage>{messageA});
}

TEST(LineFraming, carriageReturnBeforeLineFeedIsTolerated) {
    EXPECT_EQ(feedAll(lineA + "\r\n" + lineB + "\r\n"),
              (std::vector<BrokerMessage>{messageA, messageB}));
    EXPECT_EQ(feedBytewise(lineA + "\r\n"), std::vector<BrokerMessage>{messageA});
    EXPECT_EQ(feedAll("  " + lineA + " \t\r\n"), std::vector<BrokerMessage>{messageA});
}

TEST(LineFraming, badLineVanishesBetweenGoodOnes) {
    for (std::string bad : {R"({"unknownCase":{}})", R"({"holding":true})", "not json", "[1,2]",
                            "null", "17", R"({"holding":{"_0":true})", R"({"holding":{"_0":tru)",
                            R"({"holding":{"_0":true}}{"holding":{"_0":true}})", "{}", "\r\r"}) {
        EXPECT_EQ(feedAll(lineA + "\n" + bad + "\n" + lineB + "\n"),
                  (std::vector<BrokerMessage>{messageA, messageB}))
            << bad;
        EXPECT_EQ(feedBytewise(lineA + "\n" + bad + "\n" + lineB + "\n"),
                  (std::vector<BrokerMessage>{messageA, messageB}))
            << bad;
    }
}

TEST(LineFraming, splitAtEveryBoundaryGivesTheSameMessages) {
    std::string stream = lineA + "\n" + axesLine + "\r\n" + "garbage\n" + lineB + "\n" + lineA;
    auto whole = feedAll(stream);
    ASSERT_EQ(whole.size(), 3u);
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

TEST(LineFraming, pendingCountIsTheUnterminatedTail) {
    LineDecoder<BrokerMessage> decoder;
    decoder.feed("{\"hold");
    EXPECT_EQ(decoder.pendingCount(), 6u);
    decoder.feed("ing\":");
    EXPECT_EQ(decoder.pendingCount(), 11u);
    EXPECT_EQ(decoder.feed("{\"_0\":true}}\n{\"x"), std::vector<BrokerMessage>{messageA});
    EXPECT_EQ(decoder.pendingCount(), 3u);
}

TEST(LineFraming, everyExampleStreamedTogetherComesOutInOrder) {
    std::vector<BrokerMessage> sent{
        messageA,
        messageB,
        {M::Axes{"serial:ABC123", smk::SpaceMouseAxes{12, -3, 0, 0, 5, -40}}},
        {M::Report{"port:256f:c635@01100000", {1, 2, 3}}},
        {M::HandingOver{false}},
        {M::AppsWithOwnClient{{}}},
    };
    std::string stream;
    for (const auto& message : sent)
        stream += LineEncoder::encode(message);
    EXPECT_EQ(feedAll(stream), sent);
    EXPECT_EQ(feedBytewise(stream), sent);
}

// MARK: hostile input: dropped, never a crash, never a lost neighbour

TEST(HostileLines, deepNestingIsDroppedCheaply) {
    std::string deep(200000, '[');
    std::string deepObject;
    for (int i = 0; i < 100000; ++i)
        deepObject += "{\"a\":";
    EXPECT_EQ(feedAll(lineA + "\n" + deep + "\n" + deepObject + "\n" + lineB + "\n"),
              (std::vector<BrokerMessage>{messageA, messageB}));
    // Deep nesting inside an unknown member of an otherwise good line.
    std::string nested =
        R"({"holding":{"_0":true},"future":)" + std::string(100, '[') + std::string(100, ']') + "}";
    EXPECT_TRUE(feedAll(nested + "\n").empty());
}

TEST(HostileLines, nestingWithinTheLimitAndBracketsInTextsStillDecode) {
    std::string nested =
        R"({"holding":{"_0":true},"future":)" + std::string(50, '[') + std::string(50, ']') + "}";
    EXPECT_EQ(feedAll(nested + "\n"), std::vector<BrokerMessage>{messageA});
    std::string brackets(300, '[');
    std::string line = R"({"appsWithOwnClient":{"apps":[")" + brackets + R"(\"[[[["]}})";
    auto messages = feedAll(line + "\n");
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].as<M::AppsWithOwnClient>()->apps[0], brackets + "\"[[[[");
}

TEST(HostileLines, hugeNumbersAndWrongTypesAreDropped) {
    for (std::string bad : {
             R"({"axes":{"device":"d","axes":{"x":1e999,"y":0,"z":0,"rx":0,"ry":0,"rz":0}}})",
             R"({"axes":{"device":"d","axes":{"x":99999999999999999999999,"y":0,"z":0,"rx":0,)"
             R"("ry":0,"rz":0}}})",
             R"({"axes":{"device":"d","axes":{"x":-9223372036854775809,"y":0,"z":0,"rx":0,)"
             R"("ry":0,"rz":0}}})",
             R"({"buttons":{"device":"d","held":18446744073709551616}})",
             R"({"report":{"device":"d","bytes":[1,2,3,1e2]}})",
             R"({"report":{"device":["d"],"bytes":[]}})",
             R"({"welcome":{"version":"15","protocolVersion":2}})",
             R"({"welcome":{"version":15,"protocolVersion":true}})",
         }) {
        EXPECT_EQ(feedAll(bad + "\n" + lineA + "\n"), std::vector<BrokerMessage>{messageA}) << bad;
    }
}

TEST(HostileLines, invalidUtf8IsDropped) {
    std::string bad = "{\"report\":{\"device\":\"\xff\xfe\",\"bytes\":[]}}";
    std::string overlong = "{\"report\":{\"device\":\"\xc0\xaf\",\"bytes\":[]}}";
    std::string surrogate = R"({"report":{"device":"\ud800","bytes":[]}})";
    // The parser would stop at a NUL and take the object before it.
    std::string nul = std::string("{\"holding\":{\"_0\":true}}") + '\0' + "garbage";
    EXPECT_EQ(feedAll(bad + "\n" + overlong + "\n" + surrogate + "\n" + nul + "\n" + lineB + "\n"),
              std::vector<BrokerMessage>{messageB});
}

TEST(HostileLines, truncatedExamplesAreDroppedAtEveryLength) {
    std::string line = LineEncoder::encode(BrokerMessage{M::Axes{"d", {1, 2, 3, 4, 5, 6}}});
    line.pop_back();
    for (std::size_t length = 0; length < line.size(); ++length) {
        EXPECT_EQ(feedAll(line.substr(0, length) + "\n" + lineA + "\n"),
                  std::vector<BrokerMessage>{messageA})
            << length;
    }
}

TEST(HostileLines, clientDecoderDropsBrokerLinesAndGarbageAlike) {
    LineDecoder<ClientMessage> decoder;
    auto messages =
        decoder.feed(lineA + "\n\xff\xff\n{\"status\":{}}\n{\"takeOver\":{\"version\":16}}\n");
    EXPECT_EQ(messages, (std::vector<ClientMessage>{{ClientMessage::Status{}},
                                                    {ClientMessage::TakeOver{16}}}));
}
