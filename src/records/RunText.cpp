#include "records/RunText.h"

#include <QStringBuilder>

#include <cmath>
#include <tuple>

namespace quillon::records {

namespace {

// The D/A Cal Check's scale items by index, as older stores recorded the pick.
const QStringList ScaleItemNames = {QStringLiteral("Min"), QStringLiteral("Mid"), QStringLiteral("Max")};

QString figure(float value, Figures figures)
{
    return figures == Figures::Exact ? QString::number(double(value), 'g', 9) : QString::number(double(value), 'f', 6);
}

QString recordList(quint8 bits)
{
    QStringList records;
    for (int k = 0; k < 4; ++k)
        if (bits & (1u << k))
            records << QString::number(k);
    return records.join(QStringLiteral(", "));
}

// When markers were written but no block of constants followed: which records no
// longer say their constants are valid, and any marker write that failed.
QStringList markersTexts(const StoredCalibration &stored)
{
    const auto overwritten = quint8(stored.markersWritten & ~stored.markersValid);
    QStringList said;
    if (overwritten)
        said << QStringLiteral("overwritten in record%1 %2: earlier constants no longer marked valid")
                    .arg(overwritten & (overwritten - 1) ? QStringLiteral("s") : QString(), recordList(overwritten));
    if (stored.markerFailedStatus)
        said << QStringLiteral("write to record %1 failed: status %2")
                    .arg(*stored.markerFailedRecord)
                    .arg(*stored.markerFailedStatus);
    return said;
}

// A stored number of a measurement: an integer or verdict as such, a reading to six
// significant figures.
QString measuredFigure(const MeasurementRecord &m, const std::optional<double> &value)
{
    if (!value)
        return QStringLiteral("NaN");
    if (m.kind == QLatin1String("integer") && std::abs(*value) < 9.0e15)
        return QString::number(qint64(*value));
    return QString::number(*value, 'g', 6);
}

QString withUnit(const QString &figure, const QString &unit)
{
    return unit.isEmpty() ? figure : figure + QLatin1Char(' ') + unit;
}

// A Within value to three significant figures of its tolerance, at least to the mV.
int decimalsFor(const MeasurementRecord &m)
{
    int decimals = 3;
    if (m.comparison == QLatin1String("within") && m.tolerance && *m.tolerance > 0)
        while (decimals < 9 && *m.tolerance * std::pow(10.0, decimals) < 100.0)
            ++decimals;
    return decimals;
}

// One number of a measurement (its value or a limit) as the measurements command prints
// it, as the measurement's kind reads.
QString lineFigure(const MeasurementRecord &m, const std::optional<double> &number)
{
    if (!number)
        return QStringLiteral("-");
    const double v = *number;
    if (m.kind == QLatin1String("bool") || m.unit == QLatin1String("verdict"))
        return v != 0.0 ? QStringLiteral("yes") : QStringLiteral("no");
    if (m.kind == QLatin1String("integer")) {
        const auto whole = qint64(v);
        if (m.unit == QLatin1String("word") || m.unit == QLatin1String("byte"))
            return QStringLiteral("0x")
                   + QString::number(whole, 16).toUpper().rightJustified(m.unit == QLatin1String("word") ? 4 : 2,
                                                                         QLatin1Char('0'));
        return QString::number(whole);
    }
    if (m.comparison == QLatin1String("within") || m.unit == QLatin1String("V"))
        return QString::number(v, 'f', decimalsFor(m));
    return QString::number(v, 'g', 7);
}

} // namespace

QString measurementText(const MeasurementRecord &m)
{
    QString text = lineFigure(m, m.value);
    static const QStringList Unitless = {QStringLiteral("word"), QStringLiteral("byte"), QStringLiteral("verdict")};
    if (!m.unit.isEmpty() && !Unitless.contains(m.unit))
        text += QLatin1Char(' ') + m.unit;
    const QString &c = m.comparison;
    if (c == QLatin1String("within"))
        return text % QLatin1String(" within ") % lineFigure(m, m.expected) % QStringView(u" \u00b1")
               % lineFigure(m, m.tolerance);
    if (c == QLatin1String("equals"))
        return text % QLatin1String(" equals ") % lineFigure(m, m.expected);
    if (c == QLatin1String("range"))
        return text % QLatin1String(" in ") % lineFigure(m, m.low) % QLatin1String(" .. ") % lineFigure(m, m.high);
    if (c == QLatin1String("at-least"))
        return text + QStringLiteral(" >= ") + lineFigure(m, m.low);
    if (c == QLatin1String("finite"))
        return text + QStringLiteral(" finite");
    return text;
}

QString outcomeText(const QString &outcome)
{
    return outcome == QLatin1String("fail") ? QStringLiteral("FAIL") : outcome;
}

QString digitText(int digit)
{
    static const QStringList Digits = [] {
        QStringList digits;
        for (int d = 0; d < 16; ++d)
            digits << QString::number(d, 16).toUpper();
        return digits;
    }();
    return digit >= 0 && digit < 16 ? Digits[digit] : QString::number(digit, 16).toUpper();
}

bool isRowRun(const RunSummary &run)
{
    return run.kind == QLatin1String("row") && run.rowDigit;
}

QString kindText(const RunSummary &run)
{
    if (isRowRun(run))
        return QStringLiteral("row ") + digitText(*run.rowDigit);
    if (run.kind == QLatin1String("test-all"))
        return QStringLiteral("Test All");
    return run.kind;
}

QString endText(const RunSummary &run)
{
    return run.endState.isEmpty() ? QStringLiteral("open") : run.endState;
}

QString hex4(int value)
{
    return QStringLiteral("0x%1").arg(QString::number(value, 16).toUpper().rightJustified(4, QLatin1Char('0')));
}

QString productText(const std::optional<int> &product)
{
    return product ? hex4(*product) : QStringLiteral("-");
}

QString shortTime(const QString &utc)
{
    return utc.isEmpty() ? QStringLiteral("-") : utc.left(10) + QLatin1Char(' ') + utc.mid(11, 8) + QLatin1Char('Z');
}

QString preciseTime(const QString &utc)
{
    return utc.left(10) + QLatin1Char(' ') + utc.mid(11, 12);
}

QString orDash(const QString &text)
{
    return text.isEmpty() ? QStringLiteral("-") : text;
}

const QStringList &verdictNames()
{
    static const QStringList names = {QStringLiteral("pass"), QStringLiteral("fail"), QStringLiteral("aborted"),
                                      QStringLiteral("interrupted"), QStringLiteral("open")};
    return names;
}

bool isPick(const PromptRecord &prompt)
{
    return prompt.kind == QLatin1String("dac-scale");
}

QString typedText(const PromptRecord &prompt)
{
    if (!isPick(prompt))
        return prompt.typed;
    bool isIndex = false;
    const int index = prompt.typed.toInt(&isIndex);
    return isIndex && index >= 0 && index < ScaleItemNames.size() ? ScaleItemNames.at(index) : prompt.typed;
}

bool wroteCalibration(const StoredCalibration &stored)
{
    return stored.arefWord || stored.arefFailedStatus || stored.dacs || stored.markersWritten
           || stored.markerFailedStatus;
}

std::vector<ConstantLine> storedConstantLines(const StoredCalibration &stored, Figures figures)
{
    std::vector<ConstantLine> lines;
    const QString aref = QStringLiteral("ARef word");
    if (stored.arefWord) {
        QString value = QStringLiteral("%1 (%2)").arg(*stored.arefWord).arg(hex4(*stored.arefWord));
        if (figures == Figures::Readable)
            value += QStringLiteral(" = %1 V").arg(double(*stored.arefWord) / 6553.6, 0, 'f', 4);
        lines.push_back({aref, value});
    }
    if (stored.arefFailedStatus)
        lines.push_back({aref, QStringLiteral("not stored: status %1").arg(*stored.arefFailedStatus)});
    if (!stored.dacs) {
        for (const QString &markers : markersTexts(stored))
            lines.push_back({QStringLiteral("DAC markers"), markers});
        return lines;
    }
    lines.push_back(
        {QStringLiteral("DAC range"),
         QStringLiteral("%1, %2 DACs calibrated, %3")
             .arg(stored.dacRange ? dacRangeText(*stored.dacRange) : QStringLiteral("-"),
                  stored.dacCount ? QString::number(*stored.dacCount) : QStringLiteral("-"),
                  stored.dacsMarkedValid ? QStringLiteral("marked valid") : QStringLiteral("NOT marked valid"))});
    for (size_t i = 0; i < 4; ++i)
        lines.push_back({QStringLiteral("DAC %1").arg(i),
                         QStringLiteral("gain %1 offset %2")
                             .arg(figure((*stored.dacs)[i].gain, figures), figure((*stored.dacs)[i].offset, figures))});
    return lines;
}

QString measuredValueText(const MeasurementRecord &m)
{
    if (m.kind == QLatin1String("bool") && m.value)
        return *m.value != 0 ? QStringLiteral("yes") : QStringLiteral("no");
    return withUnit(measuredFigure(m, m.value), m.unit);
}

QString limitsText(const MeasurementRecord &m)
{
    const QString &c = m.comparison;
    if (c == QLatin1String("within"))
        return QStringLiteral("%1 \u00B1 %2 (%3 to %4)")
            .arg(withUnit(measuredFigure(m, m.expected), m.unit), QString::number(m.tolerance.value_or(0), 'g', 6),
                 measuredFigure(m, m.low), measuredFigure(m, m.high));
    if (c == QLatin1String("range"))
        return withUnit(measuredFigure(m, m.low) + QStringLiteral(" to ") + measuredFigure(m, m.high), m.unit);
    if (c == QLatin1String("at-least"))
        return QStringLiteral("\u2265 ") + withUnit(measuredFigure(m, m.low), m.unit);
    if (c == QLatin1String("equals")) {
        if (m.kind == QLatin1String("bool") && m.expected)
            return *m.expected != 0 ? QStringLiteral("= yes") : QStringLiteral("= no");
        return QStringLiteral("= ") + withUnit(measuredFigure(m, m.expected), m.unit);
    }
    if (c == QLatin1String("finite"))
        return QStringLiteral("finite");
    return c == QLatin1String("none") ? QString() : c;
}

QString outcomeText(const MeasurementRecord &m)
{
    if (m.outcome == QLatin1String("fail"))
        return QStringLiteral("FAIL");
    if (m.outcome == QLatin1String("not-judged"))
        return QStringLiteral("not judged");
    return m.outcome;
}

bool firstPassBefore(const RunDigest::Run &a, const RunDigest::Run &b)
{
    return std::tie(a.startedMs, a.seq, a.id) < std::tie(b.startedMs, b.seq, b.id);
}

QHash<QString, size_t> firstTestAlls(const std::vector<RunDigest::Run> &runs)
{
    QHash<QString, size_t> first;
    for (size_t i = 0; i < runs.size(); ++i) {
        const RunDigest::Run &run = runs[i];
        if (!run.testAll || run.serial.isEmpty())
            continue;
        const auto it = first.find(run.serial);
        if (it == first.end())
            first.insert(run.serial, i);
        else if (firstPassBefore(run, runs[*it]))
            *it = i;
    }
    return first;
}

} // namespace quillon::records
