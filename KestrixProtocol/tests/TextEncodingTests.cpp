#include "KestrixProtocol/TextEncoding.h"

#include <gtest/gtest.h>
#include <string>
#include <utility>
#include <vector>

using kestrix::validUTF8;

// Every byte that begins no well-formed sequence becomes U+FFFD; the limits of each lead byte.
TEST(TextEncoding, validUTF8KeepsWellFormedSequencesOnly) {
    const std::string bad = "\uFFFD";
    for (const auto& [in, out] : std::vector<std::pair<std::string, std::string>>{
             {"\xC2\xA0\xDF\xBF", "\xC2\xA0\xDF\xBF"},
             {"\xC1\xBF", bad + bad}, // overlong
             {"\xEF\xBF\xBD\xE0\xA0\x80", "\xEF\xBF\xBD\xE0\xA0\x80"},
             {"\xED\x9F\xBF\xEE\x80\x80", "\xED\x9F\xBF\xEE\x80\x80"}, // around the surrogates
             {"\xED\xA0\x80", bad + bad + bad},
             {"\xF4\x8F\xBF\xBF", "\xF4\x8F\xBF\xBF"},    // U+10FFFF
             {"\xF4\x90\x80\x80", bad + bad + bad + bad}, // above it
             {"\x81\x80\x80\x80", bad + bad + bad + bad}, // no lead byte
         })
        EXPECT_EQ(validUTF8(in), out);
}
