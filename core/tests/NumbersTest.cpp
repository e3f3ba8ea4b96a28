// Reading the leading number of a text, rounding ties to even, and the
// "0.00" pattern.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

#include "core/Numbers.h"

namespace harmolune {
namespace {

TEST(ReadLeadingNumber, TextsWithAPointSeparator) {
    struct Case {
        std::string text;
        double expected;
    };
    const Case cases[] = {
        {"440.00Hz", 440.0},
        {"261.63Hz", 261.63},
        {"261,63Hz", 261.0},  // a comma ends the number
        {"7", 7.0},
        {"-1", -1.0},
        {"3\r\n", 3.0},
        {" 5", 5.0},
        {"4 mots", 4.0},
        {"1 2", 12.0},  // blanks are skipped wherever they stand
        {"\t-\t1", -1.0},
        {"1\n2", 12.0},
        {"+8", 8.0},
        {"2.5", 2.5},
        {".5", 0.5},
        {"5.", 5.0},
        {"1.2.3", 1.2},
        {"1e3", 1000.0},
        {"1E-2", 0.01},
        {"2.5e+1x", 25.0},
        {"4e", 4.0},
        {"4e+", 4.0},
        {"4 e 2", 400.0},
        {"", 0.0},
        {"abc", 0.0},
        {"-", 0.0},
        {".", 0.0},
        {"Hz440", 0.0},
        {"\r5", 0.0},  // a carriage return is not skipped
        {"007", 7.0},
        {"0.000000000000000000000000000001", 1e-30},
        {"12345678901234567890", 12345678901234567890.0},
    };
    for (const Case& c : cases) {
        EXPECT_DOUBLE_EQ(ReadLeadingNumber(c.text), c.expected) << '"' << c.text << '"';
    }
}

TEST(ReadLeadingNumber, TextsWithACommaSeparator) {
    EXPECT_DOUBLE_EQ(ReadLeadingNumber("261,63Hz", ","), 261.63);
    EXPECT_DOUBLE_EQ(ReadLeadingNumber("440,00Hz", ","), 440.0);
    EXPECT_DOUBLE_EQ(ReadLeadingNumber("440.00Hz", ","), 440.0);  // then a point ends it
    EXPECT_DOUBLE_EQ(ReadLeadingNumber("8,18Hz", ","), 8.18);
}

TEST(ReadLeadingNumber, MultiByteSeparator) {
    // U+066B, the Arabic decimal separator, as some locales write it.
    EXPECT_DOUBLE_EQ(ReadLeadingNumber("440\u066B25Hz", "\u066B"), 440.25);
}

TEST(ReadLeadingNumber, IsCorrectlyRounded) {
    // Digits the naive "multiply by ten" loop gets wrong in the last bit.
    EXPECT_EQ(ReadLeadingNumber("0.1"), 0.1);
    EXPECT_EQ(ReadLeadingNumber("7902.13"), 7902.13);
    EXPECT_EQ(ReadLeadingNumber("2.2250738585072014e-308"), 2.2250738585072014e-308);
}

TEST(ReadLeadingNumber, ExtremesStayFinitelyBounded) {
    EXPECT_EQ(ReadLeadingNumber("1e999"), std::numeric_limits<double>::infinity());
    EXPECT_EQ(ReadLeadingNumber("-1e999"), -std::numeric_limits<double>::infinity());
    EXPECT_EQ(ReadLeadingNumber("1e-999"), 0.0);
    EXPECT_EQ(ReadLeadingNumber("1e99999999999999999999"), std::numeric_limits<double>::infinity());
    const std::string longDigits(5000, '9');
    EXPECT_EQ(ReadLeadingNumber(longDigits), std::numeric_limits<double>::infinity());
    const std::string longOctave = std::string(3000, '0') + "4";
    EXPECT_EQ(ReadLeadingNumber(longOctave), 4.0);
    const std::string longFraction = "3." + std::string(3000, '3');
    EXPECT_DOUBLE_EQ(ReadLeadingNumber(longFraction), 10.0 / 3.0);
}

TEST(RoundToEven, TiesGoToTheEvenNeighbour) {
    struct Case {
        double x;
        double expected;
    };
    const Case cases[] = {
        {2.5, 2.0},
        {3.5, 4.0},
        {0.5, 0.0},
        {1.5, 2.0},
        {-0.5, -0.0},
        {-1.5, -2.0},
        {-2.5, -2.0},
        {49.5, 50.0},
        {60.5, 60.0},
        {2.4, 2.0},
        {2.6, 3.0},
        {-2.6, -3.0},
        {7.0, 7.0},
        {0.49999999999999994, 0.0},
        {60.500000000000007, 61.0},
        {4503599627370497.0, 4503599627370497.0},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(RoundToEven(c.x), c.expected) << c.x;
    }
    EXPECT_TRUE(std::isinf(RoundToEven(std::numeric_limits<double>::infinity())));
}

TEST(FormatFixed, ZeroPointZeroZeroPattern) {
    EXPECT_EQ(FormatFixed(440.0, 2, "."), "440.00");
    EXPECT_EQ(FormatFixed(261.6255653005986, 2, "."), "261.63");
    EXPECT_EQ(FormatFixed(8.175798915643707, 2, "."), "8.18");
    EXPECT_EQ(FormatFixed(0.004, 2, "."), "0.00");
    EXPECT_EQ(FormatFixed(0.5, 2, ","), "0,50");
    EXPECT_EQ(FormatFixed(7902.132820097988, 2, ","), "7902,13");  // no grouping
    EXPECT_EQ(FormatFixed(441.065708123, 6, "."), "441.065708");
    EXPECT_EQ(FormatFixed(12.0, 0, "."), "12");
}

}  // namespace
}  // namespace harmolune
