// Inputs from the fuzz targets (fuzz/), kept as regular tests: the extremes of the
// number formats, hostile typed numbers and malformed scenario files. Each case is
// one the fuzzers reached; the checks are the invariants they assert.
#include "sim/Scenario.h"
#include "support/QtPrinters.h"
#include "procedures/Formats.h"

#include <gtest/gtest.h>

#include <QByteArray>
#include <QLocale>
#include <QString>

#include <cfloat>
#include <cmath>
#include <cstdlib>
#include <limits>

namespace quillon {

namespace {

const QLocale C(QLocale::C);
const QLocale German(QLocale::German, QLocale::Germany);

bool hasDigit(const QString &text)
{
    for (QChar c : text)
        if (c.isDigit())
            return true;
    return false;
}

long double readBack(QString text)
{
    text.remove(QChar(0x00B1));
    text.replace(QLatin1Char(','), QLatin1Char('.'));
    return std::strtold(text.toLatin1().constData(), nullptr);
}

} // namespace

// fuzz_fixed_text: infinity with 20 decimals. A non-finite value is a name at every
// precision and in every locale, never something that passes for a reading.
TEST(FuzzRegressions, NonFiniteValuesAreNamedAtEveryPrecision)
{
    const float negativeNan = -std::numeric_limits<float>::quiet_NaN();
    for (int decimals = 0; decimals <= 20; ++decimals) {
        for (const QLocale *locale : {&C, &German}) {
            for (float v : {INFINITY, -INFINITY, std::nanf(""), negativeNan}) {
                const QString text = FixedText(decimals, v, *locale);
                EXPECT_EQ(text, FixedText(3, v, C)) << decimals << " " << v;
                EXPECT_FALSE(hasDigit(text)) << text.toStdString();
                EXPECT_EQ(text.startsWith(QLatin1Char('-')), v < 0) << text.toStdString();
            }
        }
    }
    for (double v : {double(INFINITY), double(-INFINITY), std::nan(""), -std::nan("")}) {
        EXPECT_FALSE(hasDigit(CyclicVoltsText(v))) << v;
        EXPECT_FALSE(hasDigit(SignedVoltsText(v, German))) << v;
    }
}

// fuzz_volts_text: -DBL_MAX, whose 15-digit text lies beyond the largest double. The
// extremes of every format still give well-formed text that reads back.
TEST(FuzzRegressions, ExtremeFiniteValuesGiveTextsThatReadBack)
{
    for (double v : {DBL_MAX, -DBL_MAX, DBL_MIN, -DBL_MIN, 4.9406564584124654e-324, 9.3e16, -9.3e16}) {
        const QString signedText = SignedVoltsText(v, German);
        EXPECT_LE(std::fabs(readBack(signedText) - v), 0.0005L + std::fabs(v) * 1e-14L) << signedText.toStdString();
        EXPECT_FALSE(signedText.contains(QLatin1Char('.'))) << signedText.toStdString();

        const QString cyclic = CyclicVoltsText(v);
        const long double back = readBack(cyclic);
        EXPECT_LE(std::fabs(back - v), 0.005L + std::fabs(v) * 1e-15L) << cyclic.toStdString();
        EXPECT_EQ(cyclic.at(cyclic.size() - 3), QLatin1Char('.')) << cyclic.toStdString();
    }
    EXPECT_EQ(SignedVoltsText(4.9406564584124654e-324, C), QStringLiteral("+0"));
    EXPECT_EQ(CyclicVoltsText(-DBL_MIN), QStringLiteral("\u00B10.00"));

    EXPECT_EQ(FixedText(20, std::numeric_limits<float>::denorm_min(), C), QStringLiteral("0.00000000000000000000"));
    EXPECT_EQ(FixedText(20, -std::numeric_limits<float>::denorm_min(), German),
              QStringLiteral("0,00000000000000000000"));
    const QString big = FixedText(20, -FLT_MAX, German);
    EXPECT_TRUE(big.startsWith(QLatin1String("-340282346638528860000000000000000000000,"))) << big.toStdString();
    EXPECT_EQ(big.size(), 1 + 39 + 1 + 20);
}

// fuzz_volts_text: -92233720368547758.08 V, whose hundredths are exactly -2^63, the
// one 64-bit count without a positive counterpart. Its magnitude used to be negated
// as a signed number (undefined; in practice it stayed negative and the text came
// out with doubled signs).
TEST(FuzzRegressions, MonitorTextAtTheLowestSixtyFourBitCount)
{
    const double lowest = -92233720368547758.08; // * 100 == -2^63 exactly
    ASSERT_EQ(lowest * 100.0, -9223372036854775808.0);
    EXPECT_EQ(CyclicVoltsText(lowest), QStringLiteral("-92233720368547758.08"));
    EXPECT_EQ(CyclicVoltsText(-lowest), QStringLiteral("+92233720368547760.00")); // +2^63: out of range, plain text
    // Just inside and just outside the 64-bit range of hundredths.
    EXPECT_EQ(CyclicVoltsText(std::nextafter(lowest, 0.0)), QStringLiteral("-92233720368547747.84"));
    EXPECT_EQ(CyclicVoltsText(std::nextafter(lowest, -1e300)), QStringLiteral("-92233720368547776.00"));
}

// fuzz_parse_number: exponents past any double, digit strings longer than any
// buffer, and characters that look like digits or separators.
TEST(FuzzRegressions, HostileTypedNumbers)
{
    struct Case {
        const char *text;
        std::optional<double> c;
    };
    const QString manyZeros = QString(400, QLatin1Char('0'));
    const Case cases[] = {
        {"1e999999999999999999999", std::nullopt}, // overflow, exponent beyond 64 bits
        {"1e-999999999999999999999", 0.0},         // underflow is zero, not an error
        {"0e999999999999999999999", 0.0},
        {"-1e-999999999999999999999", -0.0},
        {"1e", std::nullopt},
        {"e5", std::nullopt},
        {".", std::nullopt},
        {"+-1", std::nullopt},
        {"1 2", std::nullopt},
        {"\t1", std::nullopt}, // blanks only, no tabs
        {"0x10", std::nullopt},
        {"inf", std::nullopt},
        {"nan", std::nullopt},
        {"1.5.", std::nullopt},
    };
    for (const auto &c : cases) {
        const auto got = parseTypedNumber(QString::fromLatin1(c.text), C);
        ASSERT_EQ(got.has_value(), c.c.has_value()) << c.text;
        if (got) {
            EXPECT_EQ(*got, *c.c) << c.text;
            EXPECT_EQ(std::signbit(*got), std::signbit(*c.c)) << c.text;
        }
    }

    // 400 zeros after the point, then an exponent that brings the 1 back.
    EXPECT_EQ(parseTypedNumber(QStringLiteral("0.") + manyZeros + QStringLiteral("1e401"), C), 1.0);
    EXPECT_EQ(parseTypedNumber(QStringLiteral("1") + manyZeros + QStringLiteral("e-400"), C), 1.0);
    EXPECT_EQ(parseTypedNumber(QString(20000, QLatin1Char('9')) + QStringLiteral("e-20000"), C), 1.0);

    // Look-alikes: full-width and Arabic-Indic digits, a NUL, the other separator.
    EXPECT_FALSE(parseTypedNumber(QStringLiteral("\uFF11"), C));
    EXPECT_FALSE(parseTypedNumber(QStringLiteral("\u0661\u0662"), German));
    EXPECT_FALSE(parseTypedNumber(QString::fromUtf16(u"1\0"
                                                     "5",
                                                     3),
                                  C));
    EXPECT_FALSE(parseTypedNumber(QStringLiteral("1,5"), C));
    EXPECT_FALSE(parseTypedNumber(QStringLiteral("1.5"), German));
    EXPECT_EQ(parseTypedNumber(QStringLiteral(" -1,5E+2 "), German), -150.0);
}

// fuzz_scenario: files that are not JSON objects, or JSON nested beyond reason, end
// in an error that says what was expected, never in a crash.
TEST(FuzzRegressions, MalformedScenarioFilesAreErrors)
{
    const QByteArray files[] = {
        QByteArray(),
        QByteArray("\0\0\0", 3),
        QByteArray("\xEF\xBB\xBF{\"steps\": [\"testAll\"", 20), // truncated after a BOM
        QByteArray("\xFF\xFE{}"),
        QByteArray(200000, '['),
        "{\"steps\":" + QByteArray(5000, '[') + QByteArray(5000, ']') + "}",
        "{\"steps\": [{\"test\": \"0xA\"}]}",
        "{\"steps\": [{\"monitor\": 1e308}]}",
        "{\"board\": {\"eeprom\": {\"8191\": \"FF FF\"}}}", // runs past the end
        "{\"board\": {\"eeprom\": {\"0x1FFFFFFFFFFFFFFFF\": \"FF\"}}}",
        "{\"latencyUs\": -1}",
        "[]",
        "\"steps\"",
    };
    for (const QByteArray &file : files) {
        sim::Scenario scenario;
        const auto error = sim::readScenario(file, scenario);
        ASSERT_TRUE(error.has_value()) << file.left(60).toStdString();
        EXPECT_FALSE(error->message.isEmpty()) << file.left(60).toStdString();
    }
}

} // namespace quillon
