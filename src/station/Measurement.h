#pragma once

#include <QString>

#include <cstdint>
#include <variant>

namespace quillon {

// A reading (double), an integer or bit pattern compared exactly (qint64), or a
// technician's yes/no (bool).
using MeasuredValue = std::variant<double, qint64, bool>;

// How a measurement's value was judged.
enum class Comparison : std::uint8_t {
    Within,  // |value - expected| <= tolerance; low and high are the band's edges
    Range,   // low <= value <= high (what the station can store or use)
    AtLeast, // value >= low
    Equals,  // value == expected, exactly
    Finite,  // a finite value the station can convert or store
    None,    // recorded beside the judged ones (a value typed or shown), not judged
};

enum class MeasureOutcome : std::uint8_t {
    Pass,
    Fail,
    Marginal, // passed, but closer to an edge of its band than the row's margin
    NotJudged,
};

// One number a test judged, reported through TestRow::measure() beside the memo line
// it writes. Building one costs its name only: the unit is static text.
struct Measurement {
    int digit = -1; // the row; stamped by TestRow::measure()
    int order = 0;  // 1-based place in the run; stamped by whoever hears the row
    QString name;   // stable, e.g. "ladder.se_unipolar.ch05", "agnd", "dac2.gain"
    MeasuredValue value = 0.0;
    const char *unit = ""; // "V", "counts", "word", ... (static storage)
    Comparison comparison = Comparison::None;
    MeasuredValue expected = 0.0; // Within, Equals
    double tolerance = 0.0;       // Within
    double low = 0.0;             // Within, Range
    double high = 0.0;            // Within, Range
    MeasureOutcome outcome = MeasureOutcome::NotJudged;
};

// The value as a double (an integer as its nearest double, a verdict as 1 or 0).
double measuredNumber(const MeasuredValue &value);

// Stable words for the enums, as records keep them ("within", "range", "at-least",
// ...; "pass", "fail", "marginal", "not-judged").
const char *comparisonName(Comparison comparison);
const char *outcomeName(MeasureOutcome outcome);

// Pass becomes Marginal when a Within value lies closer than marginPercent of its
// tolerance band's width (high - low) to either edge. Nothing else changes: a Range is
// what the station can store or use, not a tolerance.
MeasureOutcome judgeMargin(const Measurement &m, double marginPercent);

} // namespace quillon
