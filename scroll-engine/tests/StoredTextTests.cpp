#include "ScrollCore/StoredText.h"

#include <cmath>
#include <gtest/gtest.h>
#include <limits>
#include <random>

namespace scroll::stored {
namespace {

TEST(StoredText, numberTextIsShortestWithFractionalDigit) {
    EXPECT_EQ(numberText(1.0), "1.0");
    EXPECT_EQ(numberText(3000.0), "3000.0");
    EXPECT_EQ(numberText(0.25), "0.25");
    EXPECT_EQ(numberText(10.0), "10.0");
    EXPECT_EQ(numberText(0.1), "0.1");
    EXPECT_EQ(numberText(-2.5), "-2.5");
    EXPECT_EQ(numberText(0.0), "0.0");
    EXPECT_EQ(numberText(1.0 / 3), "0.3333333333333333");
    EXPECT_EQ(numberText(1e22), "1.0e+22");
    EXPECT_EQ(numberText(1.5e-7), "1.5e-07");
    EXPECT_EQ(numberText(123456.0), "123456.0");
}

TEST(StoredText, numberTextReadsBackToTheSameValue) {
    std::mt19937_64 random(7);
    std::uniform_real_distribution<double> exponent(-300, 300);
    for (int i = 0; i < 2000; ++i) {
        const double value = std::pow(10.0, exponent(random)) * (i % 2 ? -1 : 1);
        const auto text = numberText(value);
        const auto back = readNumber(text);
        ASSERT_TRUE(back) << text;
        EXPECT_EQ(*back, value) << text;
    }
    for (double value : {1e16, 1e22, 5e-324, std::numeric_limits<double>::max(), 123456789.0}) {
        EXPECT_EQ(readNumber(numberText(value)), value) << numberText(value);
    }
}

TEST(StoredText, readNumberAcceptsDecimalForms) {
    EXPECT_EQ(readNumber(" 0.25\t"), 0.25);
    EXPECT_EQ(readNumber("-3"), -3.0);
    EXPECT_EQ(readNumber("+3"), 3.0);
    EXPECT_EQ(readNumber("1e3"), 1000.0);
    EXPECT_EQ(readNumber("2.5E-1"), 0.25);
    EXPECT_EQ(readNumber(".5"), 0.5);
}

TEST(StoredText, readNumberRejectsNonNumbersAndNonFinite) {
    for (const char* text : {"", " ", "abc", "1.0x", "1,5", "inf", "-inf", "infinity", "nan", "NaN",
                             "0x10", "1e400", "+-1", "++1", "1 2", "1\n"}) {
        EXPECT_FALSE(readNumber(text)) << text;
    }
}

TEST(StoredText, readFlag) {
    for (const char* yes : {"1", "true", "yes", " YES ", "\tTrue"})
        EXPECT_EQ(readFlag(yes), true);
    for (const char* no : {"0", "false", "no", "No "})
        EXPECT_EQ(readFlag(no), false);
    for (const char* neither : {"", "maybe", "2", "y", "on", "yes\n"}) {
        EXPECT_FALSE(readFlag(neither)) << neither;
    }
}

TEST(StoredText, splitDropsEmptyPieces) {
    EXPECT_EQ(splitAtCommas("a,,b,"), (std::vector<std::string_view>{"a", "b"}));
    EXPECT_EQ(splitAtCommas(" , "), (std::vector<std::string_view>{" ", " "}));
    EXPECT_TRUE(splitAtCommas("").empty());
    EXPECT_TRUE(splitAtCommas(",,").empty());
}

} // namespace
} // namespace scroll::stored
