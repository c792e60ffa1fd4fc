#pragma once

// Invariant checks of the fuzz targets: a broken invariant prints what was seen and
// aborts, which libFuzzer records as a crash with the input that caused it.

#include <QString>

#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace quillon::fuzz {

[[noreturn]] inline void fail(const char *what, const QString &detail)
{
    std::fprintf(stderr, "invariant broken: %s\n  %s\n", what, detail.toUtf8().constData());
    std::abort();
}

inline void check(bool ok, const char *what, const QString &detail = QString())
{
    if (!ok)
        fail(what, detail);
}

// NaN and the infinities are shown by name: no digit in it (it cannot pass for a
// reading), a minus on minus infinity only, and one name per kind.
inline void checkNonFiniteName(const QString &text, double value, const QString &detail)
{
    check(!text.isEmpty(), "a non-finite value has a name", detail);
    for (QChar c : text)
        check(!c.isDigit(), "a non-finite name has no digits", detail);
    check(text.startsWith(QLatin1Char('-')) == (value < 0 && !std::isnan(value)),
          "minus infinity alone starts with a minus", detail);
    if (std::isnan(value))
        check(!text.contains(QLatin1String("nf"), Qt::CaseInsensitive), "NaN is not called infinity", detail);
    else
        check(text.contains(QLatin1String("inf"), Qt::CaseInsensitive), "infinity is called so", detail);
}

} // namespace quillon::fuzz
