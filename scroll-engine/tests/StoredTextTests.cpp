#include "ScrollCore/StoredText.h"

#include <cmath>
#include <gtest/gtest.h>
#include <limits>
#include <random>

namespace scroll::stored {
namespace {

TEST(StoredText, numberTextIsShortestWithFractionalDigit) {
    const std::pair<double, const char*> rows[] = {
        {3000.0, "3000.0"}, {0.25, "0.25"}, {-2.5, "-2.5"}, {0.0, "0.0"},
        {1.0 / 3, "0.3333333333333333"}, {1e22, "1.0e+22"}, {1.5e-7, "1.5e-07"},
    };
    for (const auto& [value, text] : rows)
        EXPECT_EQ(numberText(value), text);
}

TEST(StoredText, numberTextReadsBackToTheSameValue) {
    std::mt19937_64 random(7);
    std::uniform_real_distribution<double> exponent(-300, 300);
    for (int i = 0; i < 2000; ++i) {
        const double value = std::pow(10.0, exponent(random)) * (i % 2 ? -1 : 1);
        ASSERT_EQ(readNumber(numberText(value)), value) << numberText(value);
    }
    for (double value : {1e16, 5e-324, std::numeric_limits<double>::max(), 123456789.0})
        EXPECT_EQ(readNumber(numberText(value)), value) << numberText(value);
}

TEST(StoredText, readNumberTakesDecimalFormsOnly) {
    EXPECT_EQ(readNumber(" 0.25\t"), 0.25);
    EXPECT_EQ(readNumber("+3"), 3.0);
    EXPECT_EQ(readNumber("2.5E-1"), 0.25);
    EXPECT_EQ(readNumber(".5"), 0.5);
    for (const char* text : {"", " ", "abc", "1.0x", "1,5", "inf", "-inf", "nan", "0x10", "1e400",
                             "+-1", "++1", "1 2", "1\n"}) {
        EXPECT_FALSE(readNumber(text)) << text;
    }
}

TEST(StoredText, readFlag) {
    for (const char* yes : {"1", "true", "yes", " YES ", "\tTrue"})
        EXPECT_EQ(readFlag(yes), true) << yes;
    for (const char* no : {"0", "false", "no", "No "})
        EXPECT_EQ(readFlag(no), false) << no;
    for (const char* neither : {"", "maybe", "2", "on", "yes\n"})
        EXPECT_FALSE(readFlag(neither)) << neither;
}

TEST(StoredText, splitDropsEmptyPieces) {
    EXPECT_EQ(splitAtCommas("a,,b,"), (std::vector<std::string_view>{"a", "b"}));
    EXPECT_EQ(splitAtCommas(" , "), (std::vector<std::string_view>{" ", " "}));
    EXPECT_TRUE(splitAtCommas(",,").empty());
}

} // namespace
} // namespace scroll::stored
