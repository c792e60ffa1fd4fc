#pragma once

// Building the measurements a check reports beside its memo line (station/Measurement.h).
// Each takes the verdict the check itself reached, or reaches it, so the recorded
// outcome is the applied one.

#include "station/Measurement.h"
#include "station/Station.h"

#include <QString>

#include <utility>

namespace quillon::measure {

inline Measurement make(QString name, const char *unit, MeasuredValue value, Comparison comparison)
{
    Measurement m;
    m.name = std::move(name);
    m.unit = unit;
    m.value = value;
    m.comparison = comparison;
    return m;
}

inline MeasureOutcome outcome(bool passed)
{
    return passed ? MeasureOutcome::Pass : MeasureOutcome::Fail;
}

// A reading judged as expected ± tolerance.
inline void within(TestRow &row, QString name, const char *unit, double value, double expected, double tolerance,
                   bool passed)
{
    Measurement m = make(std::move(name), unit, value, Comparison::Within);
    m.expected = expected;
    m.tolerance = tolerance;
    m.low = expected - tolerance;
    m.high = expected + tolerance;
    m.outcome = outcome(passed);
    row.measure(std::move(m));
}

// An integer judged as low..high.
inline void range(TestRow &row, QString name, const char *unit, qint64 value, double low, double high, bool passed)
{
    Measurement m = make(std::move(name), unit, value, Comparison::Range);
    m.low = low;
    m.high = high;
    m.outcome = outcome(passed);
    row.measure(std::move(m));
}

// An integer that must be at least low.
inline void atLeast(TestRow &row, QString name, const char *unit, qint64 value, double low, bool passed)
{
    Measurement m = make(std::move(name), unit, value, Comparison::AtLeast);
    m.low = low;
    m.outcome = outcome(passed);
    row.measure(std::move(m));
}

// An integer or bit pattern that must match exactly; returns whether it does.
inline bool equals(TestRow &row, QString name, const char *unit, qint64 value, qint64 expected)
{
    Measurement m = make(std::move(name), unit, value, Comparison::Equals);
    m.expected = expected;
    const bool passed = value == expected;
    m.outcome = outcome(passed);
    row.measure(std::move(m));
    return passed;
}

// The technician's yes (true) or no; yes passes.
inline void verdict(TestRow &row, QString name, bool yes)
{
    Measurement m = make(std::move(name), "verdict", yes, Comparison::Equals);
    m.expected = true;
    m.outcome = outcome(yes);
    row.measure(std::move(m));
}

// A value that must be finite and representable where the station puts it.
inline void finite(TestRow &row, QString name, const char *unit, MeasuredValue value, bool passed)
{
    Measurement m = make(std::move(name), unit, value, Comparison::Finite);
    m.outcome = outcome(passed);
    row.measure(std::move(m));
}

// A value typed or shown beside the judged ones; failed: the row refused it.
inline void shown(TestRow &row, QString name, const char *unit, MeasuredValue value, bool failed = false)
{
    Measurement m = make(std::move(name), unit, value, Comparison::None);
    m.outcome = failed ? MeasureOutcome::Fail : MeasureOutcome::NotJudged;
    row.measure(std::move(m));
}

// "<prefix>NN": a channel or DAC number with at least two digits.
inline QString numbered(const QString &prefix, int n)
{
    return prefix + QString::number(n).rightJustified(2, QLatin1Char('0'));
}

} // namespace quillon::measure
