// Typed numbers (the "ARef Cal" prompt, the DAC reading fields) under a C and a
// German locale. Input: one byte picking the locale, the rest as UTF-8 text.
//
// Checked for every input:
// - an accepted number is finite and made only of blanks, signs, digits, E/e and the
//   locale's separator;
// - it equals what the C library makes of the same text (separator swapped for a
//   point), down to the last bit, apart from values below the smallest normal double;
// - every text of the form  [blanks][sign]digits[sep digits][E[sign]digits][blanks]
//   whose value is a finite double is accepted (in the C locale);
// - German text T and C text T with ',' and '.' swapped give the same answer.
#include "FuzzCheck.h"
#include "procedures/Formats.h"

#include <QLocale>
#include <QString>

#include <cerrno>
#include <cfloat>
#include <clocale>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>

using quillon::fuzz::check;

namespace {

const QLocale &cLocale()
{
    static const QLocale c(QLocale::C);
    return c;
}

const QLocale &germanLocale()
{
    static const QLocale de(QLocale::German, QLocale::Germany);
    return de;
}

bool sameNumber(double a, double b)
{
    if (std::fabs(a) < DBL_MIN && std::fabs(b) < DBL_MIN)
        return true; // underflow: zero or a subnormal, either is acceptable
    return a == b && std::signbit(a) == std::signbit(b);
}

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

// The typed-number grammar with '.' as separator, over ASCII text.
bool matchesGrammar(const std::string &s)
{
    std::size_t i = 0;
    const std::size_t n = s.size();
    while (i < n && s[i] == ' ')
        ++i;
    if (i < n && (s[i] == '+' || s[i] == '-'))
        ++i;
    std::size_t digits = 0;
    while (i < n && isDigit(s[i]))
        ++i, ++digits;
    if (i < n && s[i] == '.') {
        ++i;
        while (i < n && isDigit(s[i]))
            ++i, ++digits;
    }
    if (digits == 0)
        return false;
    if (i < n && (s[i] == 'e' || s[i] == 'E')) {
        ++i;
        if (i < n && (s[i] == '+' || s[i] == '-'))
            ++i;
        if (i >= n || !isDigit(s[i]))
            return false;
        while (i < n && isDigit(s[i]))
            ++i;
    }
    while (i < n && s[i] == ' ')
        ++i;
    return i == n;
}

// strtod over the whole text, or nothing when it stops early or overflows.
std::optional<double> referenceValue(const std::string &s)
{
    errno = 0;
    char *end = nullptr;
    const double v = std::strtod(s.c_str(), &end);
    std::size_t stop = std::size_t(end - s.c_str());
    while (stop < s.size() && s[stop] == ' ')
        ++stop;
    if (stop != s.size() || std::isinf(v) || std::isnan(v))
        return std::nullopt;
    return v;
}

QString swapSeparators(const QString &text)
{
    QString out = text;
    for (QChar &c : out) {
        if (c == QLatin1Char(','))
            c = QLatin1Char('.');
        else if (c == QLatin1Char('.'))
            c = QLatin1Char(',');
    }
    return out;
}

void checkAccepted(const QString &text, const QLocale &locale, double value)
{
    check(std::isfinite(value), "accepted number is finite", text);
    const QChar sep = locale.decimalPoint().at(0);
    std::string normal;
    for (QChar c : text) {
        const bool allowed = c == QLatin1Char(' ') || c == QLatin1Char('+') || c == QLatin1Char('-')
                             || (c >= QLatin1Char('0') && c <= QLatin1Char('9')) || c == QLatin1Char('e')
                             || c == QLatin1Char('E') || c == sep;
        check(allowed, "accepted text holds only number characters", text);
        normal += c == sep ? '.' : char(c.unicode());
    }
    const std::optional<double> ref = referenceValue(normal);
    check(ref.has_value(), "the C library reads the accepted text too", text);
    check(sameNumber(*ref, value), "same value as the C library",
          text + QStringLiteral(" -> ") + QString::number(value, 'g', 17) + QStringLiteral(" vs ")
              + QString::number(*ref, 'g', 17));
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    std::setlocale(LC_ALL, "C"); // strtod as the reference reads '.' only
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size == 0)
        return 0;
    const bool german = data[0] & 1;
    const QString text = QString::fromUtf8(reinterpret_cast<const char *>(data + 1), qsizetype(size - 1));
    const QLocale &locale = german ? germanLocale() : cLocale();

    const std::optional<double> value = quillon::parseTypedNumber(text, locale);
    if (value)
        checkAccepted(text, locale, *value);

    // Whatever the German locale makes of T, the C locale makes of T with the
    // separators swapped.
    const QString swapped = swapSeparators(text);
    const std::optional<double> de = quillon::parseTypedNumber(german ? text : swapped, germanLocale());
    const std::optional<double> c = quillon::parseTypedNumber(german ? swapped : text, cLocale());
    check(de.has_value() == c.has_value(), "German and C locale accept the same numbers", text);
    if (de && c)
        check(sameNumber(*de, *c) && *de == *c, "German and C locale read the same value", text);

    // Completeness: every well-formed C-locale text with a finite value is accepted.
    bool ascii = true;
    for (QChar ch : text)
        ascii = ascii && ch.unicode() < 128;
    if (ascii) {
        const std::string s = text.toStdString();
        if (matchesGrammar(s)) {
            const std::optional<double> ref = referenceValue(s);
            const std::optional<double> got = quillon::parseTypedNumber(text, cLocale());
            check(got.has_value() == ref.has_value(), "well-formed number accepted iff finite", text);
            if (got && ref)
                check(sameNumber(*got, *ref), "well-formed number read as the C library reads it", text);
        }
    }
    return 0;
}
