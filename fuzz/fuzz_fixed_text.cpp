// FixedText over every float bit pattern and 0..20 decimals, in the C and the German
// locale. Input: 4 bytes of float bits, a byte of decimals (mod 21), a locale byte.
//
// Checked: a finite value gives [-]digits[sep + exactly `decimals` digits], no
// leading zeros, a minus sign only on a negative value that does not round to zero;
// the text reads back within half a unit of the last decimal (plus the rounding to
// 18 significant digits). NaN and infinities give a name
// that cannot be taken for a number.
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

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    std::setlocale(LC_ALL, "C");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size < 4)
        return 0;
    float value = 0;
    std::memcpy(&value, data, sizeof value);
    const int decimals = size > 4 ? data[4] % 21 : 3;
    const bool german = size > 5 && (data[5] & 1);
    static const QLocale c(QLocale::C);
    static const QLocale de(QLocale::German, QLocale::Germany);
    const QLocale &locale = german ? de : c;

    const QString text = quillon::FixedText(decimals, value, locale);
    const QString detail = QString::number(double(value), 'g', 9) + QStringLiteral(" /") + QString::number(decimals)
                           + QStringLiteral(" -> ") + text;

    if (!std::isfinite(value)) {
        quillon::fuzz::checkNonFiniteName(text, value, detail);
        return 0;
    }

    const QChar sep = locale.decimalPoint().at(0);
    qsizetype i = 0;
    const bool minus = text.startsWith(QLatin1Char('-'));
    if (minus)
        ++i;
    const qsizetype intStart = i;
    while (i < text.size() && text[i].isDigit() && text[i].unicode() < 128)
        ++i;
    const qsizetype intDigits = i - intStart;
    check(intDigits >= 1, "an integer part", detail);
    check(intDigits == 1 || text[intStart] != QLatin1Char('0'), "no leading zeros", detail);
    if (decimals > 0) {
        check(i < text.size() && text[i] == sep, "the locale's separator", detail);
        ++i;
        const qsizetype fracStart = i;
        while (i < text.size() && text[i] >= QLatin1Char('0') && text[i] <= QLatin1Char('9'))
            ++i;
        check(i - fracStart == decimals, "exactly `decimals` decimals", detail);
    }
    check(i == text.size(), "nothing but sign, digits and separator", detail);

    bool allZero = true;
    for (QChar ch : text)
        allZero = allZero && !(ch >= QLatin1Char('1') && ch <= QLatin1Char('9'));
    check(!minus || (value < 0 && !allZero), "minus only on a negative value that is not zero", detail);
    check(minus || value >= 0 || allZero, "a negative value keeps its sign", detail);

    std::string normal = text.toStdString();
    for (char &ch : normal)
        if (ch == ',')
            ch = '.';
    const double back = std::strtod(normal.c_str(), nullptr);
    const double wide = double(value);
    const double tolerance = 0.5 * std::pow(10.0, -decimals) * (1 + 1e-9) + std::fabs(wide) * 3e-16;
    check(std::fabs(back - wide) <= tolerance, "the text reads back as the value", detail);
    return 0;
}
