#pragma once

#include <QLocale>
#include <QString>

#include <cstdint>
#include <optional>

namespace quillon {

// Fixed-point text with exactly `decimals` digits, halves away from zero (after
// reducing the widened value to 18 significant digits), the locale's decimal
// separator, no sign on a value that rounds to zero.
QString FixedText(int decimals, float value, const QLocale &locale = QLocale());

// "0-10", "\u00B110", "0-5", ... for range codes 0-7 (only bits 0-2 are looked at).
QString RangeName(int code);

// Fraction of the jig's source voltage on channel n.
float LadderFraction(int n, bool mux32);

// Two-decimal signed volts of the cyclic monitor: "+1.23", "\u00B10.00", "-12.35".
QString CyclicVoltsText(double volts);

// D/A prompt volts: "\u00B10" for exactly 0, else millivolt-rounded shortest text with
// a sign ("+0.1", "+9.9", "-5").
QString SignedVoltsText(double volts, const QLocale &locale = QLocale());

// Rounds to the nearest integer, ties to even. Empty when the result does not fit
// in 64 bits or the value is not finite.
std::optional<std::int64_t> RoundHalfEven(double value);

// Parses a typed number: optional blanks, optional sign, digits with the locale's
// decimal separator, optional exponent (E/e), optional blanks. No group separators,
// no "inf" or "nan". Empty on any other text or a non-finite result.
std::optional<double> parseTypedNumber(const QString &text, const QLocale &locale = QLocale());

// Upper-case hex, zero-filled to at least `digits` digits.
QString hexText(quint32 value, int digits);

} // namespace quillon
