#include "procedures/Formats.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace quillon {

namespace {
const QLocale C(QLocale::C);
const QLocale German(QLocale::German, QLocale::Germany);
} // namespace

TEST(FixedText, RoundsHalvesAwayFromZeroOnTheExactValue)
{
    struct Case {
        int decimals;
        float value;
        const char *text;
    };
    const Case cases[] = {
        {3, 0.0625f, "0.063"}, // exact tie: away from zero
        {3, -0.0625f, "-0.063"}, {3, 0.6666667f, "0.667"},
        {3, -0.0004f, "0.000"}, // rounds to zero: no sign
        {3, -0.0f, "0.000"},     {3, 0.3f, "0.300"},
        {3, 0.01234f, "0.012"},  {3, 0.00595f, "0.006"},
        {3, 2.31f, "2.310"},     {3, 9.9997f, "10.000"}, // carry into a new integer digit
        {3, -10.0f, "-10.000"},  {3, 0.0005f, "0.001"},  // 0.0005f is slightly above 0.0005
        {3, 1.0005f, "1.000"},                           // 1.0005f is slightly below 1.0005
        {4, 1.00005f, "1.0000"},                         // 1.00005f is 1.0000499...
        {4, 0.5f, "0.5000"},     {0, 2.5f, "3"},
        {0, -0.4f, "0"},         {2, 123456.789f, "123456.79"}, // no grouping
        {3, 1e-30f, "0.000"},    {-1, 1.5f, "2"},               // negative decimals act as none
    };
    for (const auto &c : cases)
        EXPECT_EQ(FixedText(c.decimals, c.value, C), QString::fromLatin1(c.text)) << c.decimals << " " << c.value;
}

TEST(FixedText, ReducesToEighteenSignificantDigitsFirst)
{
    // 3.4e38 has 39 integer digits; only 18 survive, the rest are zeros.
    EXPECT_EQ(FixedText(0, std::numeric_limits<float>::max(), C),
              QStringLiteral("340282346638528860000000000000000000000"));
}

TEST(FixedText, UsesTheLocaleSeparatorAndNamesNonFiniteValues)
{
    EXPECT_EQ(FixedText(3, 0.6666667f, German), QStringLiteral("0,667"));
    EXPECT_EQ(FixedText(3, -1234.5f, German), QStringLiteral("-1234,500"));
    EXPECT_EQ(FixedText(3, std::nanf(""), C), QStringLiteral("NaN"));
    EXPECT_EQ(FixedText(3, -INFINITY, C), QStringLiteral("-Inf"));
    EXPECT_EQ(FixedText(3, INFINITY, C), QStringLiteral("Inf"));
}

TEST(RangeName, AllEightCodesAndOnlyThreeBits)
{
    const char *names[] = {"0-10", "\u00B110", "0-5", "\u00B15", "0-2", "\u00B12", "0-1", "\u00B11"};
    for (int code = 0; code < 8; ++code) {
        EXPECT_EQ(RangeName(code), QString::fromUtf8(names[code])) << code;
        EXPECT_EQ(RangeName(code + 8), QString::fromUtf8(names[code])) << code + 8;
    }
}

TEST(LadderFraction, BlocksOfSixteenWithFullScaleAtTheStart)
{
    EXPECT_EQ(LadderFraction(0, false), 1.0f);
    EXPECT_EQ(LadderFraction(15, false), 1.0f);
    EXPECT_EQ(LadderFraction(3, false), 3.0f / 15.0f);
    EXPECT_EQ(LadderFraction(1, true), 1.0f / 15.0f);
    for (int n : {16, 32, 48}) {
        EXPECT_EQ(LadderFraction(n, false), 0.0f) << n;
        EXPECT_EQ(LadderFraction(n, true), 1.0f) << n;
    }
    EXPECT_EQ(LadderFraction(17, false), LadderFraction(1, false));
    EXPECT_EQ(LadderFraction(47, true), 1.0f);
}

TEST(CyclicVoltsText, TwoDecimalsHalvesToEven)
{
    struct Case {
        double volts;
        const char *text;
    };
    const Case cases[] = {
        {1.234, "+1.23"},
        {-0.004, "\u00B10.00"},
        {-12.3456, "-12.35"},
        {9.9997, "+10.00"},
        {0.125, "+0.12"},
        {0.375, "+0.38"},
        {-0.125, "-0.12"},
        {0.005, "\u00B10.00"}, // 0.005 * 100 gives exactly 0.5
        {0.0, "\u00B10.00"},
        {-10.0, "-10.00"},
        {0.07, "+0.07"},
        {1e20, "+100000000000000000000.00"}, // beyond 64-bit hundredths
        {-1e20, "-100000000000000000000.00"},
    };
    for (const auto &c : cases)
        EXPECT_EQ(CyclicVoltsText(c.volts), QString::fromUtf8(c.text)) << c.volts;
    EXPECT_EQ(CyclicVoltsText(std::nan("")), QStringLiteral("NaN"));
    EXPECT_EQ(CyclicVoltsText(INFINITY), QStringLiteral("+Inf"));
    EXPECT_EQ(CyclicVoltsText(-INFINITY), QStringLiteral("-Inf"));
}

TEST(SignedVoltsText, MillivoltsShortestFormWithSign)
{
    struct Case {
        double volts;
        const char *c;
        const char *german;
    };
    const Case cases[] = {
        {0.0, "\u00B10", "\u00B10"},   {-0.0, "\u00B10", "\u00B10"}, {0.1, "+0.1", "+0,1"},
        {9.9, "+9.9", "+9,9"},         {-5.0, "-5", "-5"},           {10.0, "+10", "+10"},
        {4.99984741, "+5", "+5"},      {0.0004, "+0", "+0"}, // millivolts round to 0, still not exactly 0
        {-0.0004, "+0", "+0"},                               // rounds to 0 mV: not exactly 0, so signed
        {0.0025, "+0.002", "+0,002"},                        // half to even in millivolts
        {-1.2345, "-1.234", "-1,234"}, {1e17, "+1E17", "+1E17"},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(SignedVoltsText(c.volts, C), QString::fromUtf8(c.c)) << c.volts;
        EXPECT_EQ(SignedVoltsText(c.volts, German), QString::fromUtf8(c.german)) << c.volts;
    }
    EXPECT_EQ(SignedVoltsText(std::nan(""), C), QStringLiteral("NaN"));
}

TEST(RoundHalfEven, TiesToEvenAndRangeChecked)
{
    struct Case {
        double in;
        std::int64_t out;
    };
    const Case cases[] = {{0.5, 0},
                          {1.5, 2},
                          {2.5, 2},
                          {-0.5, 0},
                          {-1.5, -2},
                          {-2.5, -2},
                          {2.4999999, 2},
                          {65103.00704, 65103},
                          {-9223372036854775808.0, INT64_MIN},
                          {4503599627370497.0, 4503599627370497}};
    for (const auto &c : cases)
        EXPECT_EQ(RoundHalfEven(c.in), c.out) << c.in;
    for (double bad :
         {9223372036854775808.0, -9223372036854777856.0, 1e300, std::nan(""), static_cast<double>(INFINITY)})
        EXPECT_FALSE(RoundHalfEven(bad).has_value()) << bad;
}

TEST(parseTypedNumber, AcceptsTheDecimalSyntaxOnly)
{
    struct Case {
        const char *text;
        const QLocale *locale;
        std::optional<double> value;
    };
    const Case cases[] = {
        {"9.9339", &C, 9.9339},
        {"  -1.5e3  ", &C, -1500.0},
        {"+.5", &C, 0.5},
        {"5.", &C, 5.0},
        {"1E-2", &C, 0.01},
        {"1e+2", &C, 100.0},
        {"0", &C, 0.0},
        {"1e300", &C, 1e300},
        {"1e-400", &C, 0.0}, // underflow is zero, not an error
        {"9,9339", &German, 9.9339},
        {"9.9339", &German, std::nullopt}, // point under a comma locale
        {"1,000.5", &C, std::nullopt},     // no group separators
        {"1.000,5", &German, std::nullopt},
        {"", &C, std::nullopt},
        {"   ", &C, std::nullopt},
        {"abc", &C, std::nullopt},
        {".", &C, std::nullopt},
        {"-", &C, std::nullopt},
        {"1e", &C, std::nullopt},
        {"1e+", &C, std::nullopt},
        {"e5", &C, std::nullopt},
        {"1e400", &C, std::nullopt}, // not finite
        {"inf", &C, std::nullopt},
        {"nan", &C, std::nullopt},
        {"0x1A", &C, std::nullopt},
        {"1 2", &C, std::nullopt},
        {"--1", &C, std::nullopt},
        {"\t1", &C, std::nullopt},
        {"\u0661", &C, std::nullopt}, // non-ASCII digit
    };
    for (const auto &c : cases)
        EXPECT_EQ(parseTypedNumber(QString::fromUtf8(c.text), *c.locale), c.value) << c.text;
}

TEST(Hex, UpperCaseZeroFilled)
{
    EXPECT_EQ(hexText(0x148, 4), QStringLiteral("0148"));
    EXPECT_EQ(hexText(0xfe4f, 4), QStringLiteral("FE4F"));
    EXPECT_EQ(hexText(0, 1), QStringLiteral("0"));
    EXPECT_EQ(hexText(0x3f, 1), QStringLiteral("3F"));
    EXPECT_EQ(hexText(0xFFFFFFFFu, 4), QStringLiteral("FFFFFFFF"));
}

} // namespace quillon
