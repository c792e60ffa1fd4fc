// CyclicVoltsText, SignedVoltsText and RoundHalfEven over every double bit pattern
// (NaN, infinities, subnormals, huge values). Input: 8 bytes of double bits, then a
// locale byte for SignedVoltsText.
//
// Checked: RoundHalfEven is within half a unit, ties go to even, and it answers
// exactly when the result fits in 64 bits. CyclicVoltsText is sign + digits + "." +
// two digits, "±" exactly when it shows zero, and reads back within 5 mV.
// SignedVoltsText is "±0" only for zero, else a signed number (locale separator,
// optional E exponent) that reads back within half a millivolt.
#include "FuzzCheck.h"
#include "procedures/Formats.h"

#include <QLocale>
#include <QString>

#include <clocale>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

using quillon::fuzz::check;

namespace {

const QChar PlusMinus(0x00B1);

bool asciiDigit(QChar c)
{
    return c >= QLatin1Char('0') && c <= QLatin1Char('9');
}

// Digits from i on; returns the count and moves i past them.
qsizetype digitsAt(const QString &s, qsizetype &i)
{
    const qsizetype start = i;
    while (i < s.size() && asciiDigit(s[i]))
        ++i;
    return i - start;
}

// Read in long double: 15 significant digits of a value near the largest double may
// round past it.
long double readBack(const QString &text, QChar sep)
{
    std::string s;
    for (QChar c : text) {
        if (c == PlusMinus)
            continue;
        s += c == sep ? '.' : char(c.unicode());
    }
    return std::strtold(s.c_str(), nullptr);
}

void checkRounding(double v)
{
    const auto r = quillon::RoundHalfEven(v);
    const bool fits = std::isfinite(v) && v >= -9223372036854775808.0 && v < 9223372036854775807.5;
    // Between 2^63 - 0.5 and 2^63 there is no double: the two bounds agree.
    check(r.has_value() == fits, "rounds exactly when the result fits in 64 bits", QString::number(v, 'g', 17));
    if (!r)
        return;
    const long double diff = static_cast<long double>(*r) - static_cast<long double>(v);
    check(std::fabs(diff) <= 0.5L, "within half a unit", QString::number(v, 'g', 17));
    if (std::fabs(diff) == 0.5L)
        check(*r % 2 == 0, "ties go to the even neighbour", QString::number(v, 'g', 17));
}

void checkCyclic(double v)
{
    const QString text = quillon::CyclicVoltsText(v);
    const QString detail = QString::number(v, 'g', 17) + QStringLiteral(" -> ") + text;
    if (!std::isfinite(v)) {
        quillon::fuzz::checkNonFiniteName(text, v, detail);
        return;
    }
    check(!text.isEmpty(), "some text", detail);
    const QChar sign = text[0];
    check(sign == QLatin1Char('+') || sign == QLatin1Char('-') || sign == PlusMinus, "a sign first", detail);
    qsizetype i = 1;
    const qsizetype whole = digitsAt(text, i);
    check(whole >= 1 && (whole == 1 || text[1] != QLatin1Char('0')), "whole volts without leading zeros", detail);
    check(i < text.size() && text[i] == QLatin1Char('.'), "a point", detail);
    ++i;
    check(digitsAt(text, i) == 2 && i == text.size(), "two decimals and nothing after", detail);

    bool zero = true;
    for (QChar c : text)
        zero = zero && !(c >= QLatin1Char('1') && c <= QLatin1Char('9'));
    check((sign == PlusMinus) == zero, "\u00B1 exactly on zero", detail);
    check(sign != QLatin1Char('+') || v > 0, "+ only on a positive value", detail);
    check(sign != QLatin1Char('-') || v < 0, "- only on a negative value", detail);

    const long double back = readBack(text, QLatin1Char('.'));
    check(std::fabs(back - v) <= 0.005L + std::fabs(v) * 1e-15L + 1e-12L, "reads back within 5 mV", detail);
}

void checkSigned(double v, const QLocale &locale)
{
    const QString text = quillon::SignedVoltsText(v, locale);
    const QString detail = QString::number(v, 'g', 17) + QStringLiteral(" -> ") + text;
    if (!std::isfinite(v)) {
        quillon::fuzz::checkNonFiniteName(text, v, detail);
        return;
    }
    if (v == 0) {
        check(text == QString(PlusMinus) + QLatin1Char('0'), "\u00B10 for zero", detail);
        return;
    }
    const QChar sep = locale.decimalPoint().at(0);
    check(!text.isEmpty() && (text[0] == QLatin1Char('+') || text[0] == QLatin1Char('-')), "a sign first", detail);
    qsizetype i = 1;
    check(digitsAt(text, i) >= 1, "digits", detail);
    if (i < text.size() && text[i] == sep) {
        ++i;
        check(digitsAt(text, i) >= 1, "digits after the separator", detail);
    }
    if (i < text.size() && text[i] == QLatin1Char('E')) {
        ++i;
        if (i < text.size() && text[i] == QLatin1Char('-'))
            ++i;
        check(digitsAt(text, i) >= 1, "exponent digits", detail);
    }
    check(i == text.size(), "nothing else", detail);
    check(text[0] != QLatin1Char('-') || v < 0, "- only on a negative value", detail);

    const long double back = readBack(text, sep);
    check(std::fabs(back - v) <= 0.0005L + std::fabs(v) * 1e-14L, "reads back within half a millivolt", detail);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    std::setlocale(LC_ALL, "C");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size < 8)
        return 0;
    double v = 0;
    std::memcpy(&v, data, sizeof v);
    static const QLocale c(QLocale::C);
    static const QLocale de(QLocale::German, QLocale::Germany);
    const bool german = size > 8 && (data[8] & 1);

    checkRounding(v);
    checkRounding(v * 100.0);
    checkCyclic(v);
    checkSigned(v, german ? de : c);
    return 0;
}
