#include "procedures/Formats.h"

#include <QByteArray>

#include <charconv>
#include <cmath>
#include <limits>
#include <string>

namespace quillon {

namespace {

// A non-negative decimal number as digits and a point position:
// value = 0.d1d2d3... * 10^pointPos (digits without leading zeros unless zero).
struct Decimal {
    std::string digits; // '0'..'9'
    int pointPos = 0;   // count of digits before the decimal point (may be <= 0)
};

// Exact decimal expansion of |value|. Every float is exactly a double, and a
// double has a finite decimal expansion; 120 significant digits hold every float
// exactly, so to_chars (locale-independent, correctly rounded) loses nothing.
Decimal exactDecimal(float value)
{
    char buf[200];
    const double wide = std::fabs(static_cast<double>(value));
    const auto res = std::to_chars(buf, buf + sizeof buf, wide, std::chars_format::scientific, 120);
    const std::string text(buf, res.ptr);
    // d.ddd...e[+-]xx
    const auto ePos = text.find('e');
    Decimal d;
    d.digits = text.substr(0, 1) + text.substr(2, ePos - 2);
    d.pointPos = std::stoi(text.substr(ePos + 1)) + 1;
    while (d.digits.size() > 1 && d.digits.back() == '0')
        d.digits.pop_back();
    return d;
}

// Adds one unit in the last digit; a carry out of the first digit shifts the point.
void incrementLast(Decimal &d)
{
    int i = static_cast<int>(d.digits.size()) - 1;
    while (i >= 0) {
        if (d.digits[static_cast<std::size_t>(i)] == '9') {
            d.digits[static_cast<std::size_t>(i)] = '0';
            --i;
        } else {
            ++d.digits[static_cast<std::size_t>(i)];
            return;
        }
    }
    d.digits.insert(d.digits.begin(), '1');
    ++d.pointPos;
}

enum class Tie { AwayFromZero, ToEven };

// Keeps `keep` leading digits (keep may be <= 0: the value then rounds to 0 or to
// one unit at that place).
void roundToDigits(Decimal &d, int keep, Tie tie)
{
    const int size = static_cast<int>(d.digits.size());
    if (keep >= size)
        return;
    if (keep < 0) {
        d.digits.assign(1, '0');
        d.pointPos = 0;
        return;
    }
    const char first = d.digits[static_cast<std::size_t>(keep)];
    bool restNonZero = false;
    for (int i = keep + 1; i < size; ++i)
        restNonZero = restNonZero || d.digits[static_cast<std::size_t>(i)] != '0';
    bool up = false;
    if (first > '5' || (first == '5' && restNonZero)) {
        up = true;
    } else if (first == '5') {
        if (tie == Tie::AwayFromZero)
            up = true;
        else
            up = keep > 0 && (d.digits[static_cast<std::size_t>(keep - 1)] - '0') % 2 == 1;
    }
    if (keep == 0) {
        // Rounding happens left of every digit: the result is 0 or one unit there.
        d.digits.assign(1, up ? '1' : '0');
        if (up)
            ++d.pointPos;
        else
            d.pointPos = 0;
        return;
    }
    d.digits.resize(static_cast<std::size_t>(keep));
    if (up)
        incrementLast(d);
}

QString decimalSeparator(const QLocale &locale)
{
    return locale.decimalPoint();
}

} // namespace

QString FixedText(int decimals, float value, const QLocale &locale)
{
    if (std::isnan(value))
        return QStringLiteral("NaN");
    if (std::isinf(value))
        return value < 0 ? QStringLiteral("-Inf") : QStringLiteral("Inf");
    decimals = qMax(decimals, 0);

    Decimal d = exactDecimal(value);
    roundToDigits(d, 18, Tie::ToEven);
    // Keep the digits down to the requested decimal place.
    roundToDigits(d, d.pointPos + decimals, Tie::AwayFromZero);

    std::string intPart;
    std::string fracPart;
    const int size = static_cast<int>(d.digits.size());
    auto digitAt = [&](int index) { // index 0 = first digit of d.digits
        return (index >= 0 && index < size) ? d.digits[static_cast<std::size_t>(index)] : '0';
    };
    if (d.pointPos <= 0) {
        intPart = "0";
    } else {
        for (int i = 0; i < d.pointPos; ++i)
            intPart += digitAt(i);
    }
    for (int i = 0; i < decimals; ++i)
        fracPart += digitAt(d.pointPos + i);

    const bool zero = d.digits.find_first_not_of('0') == std::string::npos;
    QString out;
    if (value < 0 && !zero)
        out += QLatin1Char('-');
    out += QString::fromLatin1(intPart.data(), static_cast<qsizetype>(intPart.size()));
    if (decimals > 0) {
        out += decimalSeparator(locale);
        out += QString::fromLatin1(fracPart.data(), static_cast<qsizetype>(fracPart.size()));
    }
    return out;
}

QString RangeName(int code)
{
    int span = 1;
    if ((code & 2) == 0)
        span *= 2;
    if ((code & 4) == 0)
        span *= 5;
    const QString prefix = (code & 1) ? QStringLiteral("\u00B1") : QStringLiteral("0-");
    return prefix + QString::number(span);
}

float LadderFraction(int n, bool mux32)
{
    const int m = mux32 ? n % 16 : n;
    if (m == 0)
        return 1.0f;
    return static_cast<float>(m % 16) / 15.0f;
}

QString CyclicVoltsText(double volts)
{
    if (std::isnan(volts))
        return QStringLiteral("NaN");
    if (std::isinf(volts))
        return volts < 0 ? QStringLiteral("-Inf") : QStringLiteral("+Inf");
    const std::optional<std::int64_t> rounded = RoundHalfEven(volts * 100.0);
    if (!rounded) {
        // Beyond 9.2e16 V every double is a whole number: plain fixed text is exact.
        const QString digits = QString::number(std::fabs(volts), 'f', 2);
        return (volts < 0 ? QLatin1Char('-') : QLatin1Char('+')) + digits;
    }
    const std::int64_t rounded100 = *rounded;
    QString sign;
    if (rounded100 == 0)
        sign = QStringLiteral("\u00B1");
    else
        sign = rounded100 > 0 ? QStringLiteral("+") : QStringLiteral("-");
    // The magnitude as unsigned: -2^63 is in range and has no signed negation.
    const std::uint64_t n =
        rounded100 < 0 ? 0 - static_cast<std::uint64_t>(rounded100) : static_cast<std::uint64_t>(rounded100);
    return sign + QString::number(n / 100) + QLatin1Char('.') + QString::number((n / 10) % 10)
           + QString::number(n % 10);
}

QString SignedVoltsText(double volts, const QLocale &locale)
{
    if (volts == 0)
        return QStringLiteral("\u00B10");
    if (std::isnan(volts))
        return QStringLiteral("NaN");
    if (std::isinf(volts))
        return volts < 0 ? QStringLiteral("-Inf") : QStringLiteral("+Inf");
    const std::optional<std::int64_t> millivolts = RoundHalfEven(volts * 1000.0);
    // Out of the 64-bit range the value is already a whole number of millivolts.
    const double y = millivolts ? static_cast<double>(*millivolts) * 0.001 : volts;

    // Shortest general form with up to 15 significant digits; QString::number is
    // locale-independent, so the separator is swapped in afterwards.
    QString text = QString::number(y, 'g', 15);
    const qsizetype ePos = text.indexOf(QLatin1Char('e'));
    QString mantissa = ePos < 0 ? text : text.left(ePos);
    QString exponent;
    if (ePos >= 0) {
        const int exp = text.mid(ePos + 1).toInt();
        exponent = QStringLiteral("E") + QString::number(exp);
    }
    mantissa.replace(QLatin1Char('.'), decimalSeparator(locale));
    return (y >= 0 ? QStringLiteral("+") : QString()) + mantissa + exponent;
}

std::optional<std::int64_t> RoundHalfEven(double value)
{
    if (!std::isfinite(value))
        return std::nullopt;
    const double below = std::floor(value);
    const double fraction = value - below; // exact for every double
    double r = below;
    if (fraction > 0.5 || (fraction == 0.5 && std::fmod(below, 2.0) != 0.0))
        r = below + 1.0;
    // [-2^63, 2^63): both bounds are exact doubles.
    if (r < -9223372036854775808.0 || r >= 9223372036854775808.0)
        return std::nullopt;
    return static_cast<std::int64_t>(r);
}

namespace {

// Reads a typed number from left to right and writes the same number in C syntax.
class TypedNumberScanner {
public:
    explicit TypedNumberScanner(const QString &text) : m_text(text) {}

    void skipBlanks()
    {
        while (m_i < m_text.size() && m_text[m_i] == QLatin1Char(' '))
            ++m_i;
    }

    void takeSign()
    {
        if (m_i < m_text.size() && (m_text[m_i] == QLatin1Char('+') || m_text[m_i] == QLatin1Char('-')))
            take();
    }

    // Digits, then the locale's separator and more digits; returns how many digits.
    int takeMantissa(const QString &separator)
    {
        int digits = 0;
        bool seenNonZero = false;
        while (digitHere()) {
            seenNonZero = seenNonZero || m_text[m_i] != QLatin1Char('0');
            if (seenNonZero)
                ++m_magnitude;
            take();
            ++digits;
        }
        if (separator.isEmpty() || m_text.mid(m_i, separator.size()) != separator)
            return digits;
        m_i += separator.size();
        m_normal += '.';
        while (digitHere()) {
            if (!seenNonZero && m_text[m_i] == QLatin1Char('0'))
                --m_magnitude;
            seenNonZero = seenNonZero || m_text[m_i] != QLatin1Char('0');
            take();
            ++digits;
        }
        return digits;
    }

    // An optional exponent; false when an E has no digits after it.
    bool takeExponent()
    {
        if (m_i >= m_text.size() || (m_text[m_i] != QLatin1Char('e') && m_text[m_i] != QLatin1Char('E')))
            return true;
        ++m_i;
        m_normal += 'e';
        takeSign();
        const bool negative = m_normal.endsWith('-');
        if (!digitHere())
            return false;
        long long exponent = 0;
        while (digitHere()) {
            exponent = qMin(exponent * 10 + (m_text[m_i].unicode() - '0'), 1000000000LL);
            take();
        }
        m_magnitude += negative ? -exponent : exponent;
        return true;
    }

    bool atEnd() const { return m_i == m_text.size(); }
    const QByteArray &normal() const { return m_normal; }
    // Rough decimal magnitude of the number, only to tell underflow from overflow.
    long long magnitude() const { return m_magnitude; }

private:
    bool digitHere() const
    {
        return m_i < m_text.size() && m_text[m_i] >= QLatin1Char('0') && m_text[m_i] <= QLatin1Char('9');
    }
    void take() { m_normal += static_cast<char>(m_text[m_i++].unicode()); }

    const QString &m_text;
    qsizetype m_i = 0;
    QByteArray m_normal;
    long long m_magnitude = 0;
};

// The value of a number in C syntax; an underflow is zero, an overflow nothing.
std::optional<double> valueOfNormal(const QByteArray &normal, long long magnitude)
{
    double value = 0;
    const char *begin = normal.constData();
    const char *end = begin + normal.size();
    if (*begin == '+')
        ++begin; // from_chars takes no plus sign
    const auto res = std::from_chars(begin, end, value);
    if (res.ec == std::errc::result_out_of_range && res.ptr == end && magnitude < 0) {
        // Too small for a double: that is zero, not an error.
        return normal.startsWith('-') ? -0.0 : 0.0;
    }
    if (res.ec != std::errc() || res.ptr != end || !std::isfinite(value))
        return std::nullopt;
    return value;
}

} // namespace

std::optional<double> parseTypedNumber(const QString &text, const QLocale &locale)
{
    TypedNumberScanner scan(text);
    scan.skipBlanks();
    scan.takeSign();
    if (scan.takeMantissa(decimalSeparator(locale)) == 0)
        return std::nullopt;
    if (!scan.takeExponent())
        return std::nullopt;
    scan.skipBlanks();
    if (!scan.atEnd())
        return std::nullopt;
    return valueOfNormal(scan.normal(), scan.magnitude());
}

QString hexText(quint32 value, int digits)
{
    return QString::number(value, 16).toUpper().rightJustified(digits, QLatin1Char('0'));
}

} // namespace quillon
