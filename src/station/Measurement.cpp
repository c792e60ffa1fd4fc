#include "station/Measurement.h"

#include <cmath>

namespace quillon {

double measuredNumber(const MeasuredValue &value)
{
    if (const double *real = std::get_if<double>(&value))
        return *real;
    if (const qint64 *integer = std::get_if<qint64>(&value))
        return static_cast<double>(*integer);
    return std::get<bool>(value) ? 1.0 : 0.0;
}

const char *comparisonName(Comparison comparison)
{
    switch (comparison) {
    case Comparison::Within: return "within";
    case Comparison::Range: return "range";
    case Comparison::AtLeast: return "at-least";
    case Comparison::Equals: return "equals";
    case Comparison::Finite: return "finite";
    case Comparison::None: break;
    }
    return "none";
}

const char *outcomeName(MeasureOutcome outcome)
{
    switch (outcome) {
    case MeasureOutcome::Pass: return "pass";
    case MeasureOutcome::Fail: return "fail";
    case MeasureOutcome::Marginal: return "marginal";
    case MeasureOutcome::NotJudged: break;
    }
    return "not-judged";
}

MeasureOutcome judgeMargin(const Measurement &m, double marginPercent)
{
    if (m.outcome != MeasureOutcome::Pass || m.comparison != Comparison::Within)
        return m.outcome;
    const double value = measuredNumber(m.value);
    const double margin = (m.high - m.low) * marginPercent / 100.0;
    if (!std::isfinite(value) || !(margin > 0.0))
        return m.outcome;
    return value - m.low < margin || m.high - value < margin ? MeasureOutcome::Marginal : m.outcome;
}

} // namespace quillon
