// D/A Cal Set (row 8): drive the DACs raw to a low and a high code, take the meter
// readings, fit a gain and an offset per DAC, store them in the EEPROM and make the
// board reload them. Also the D/A range the station keeps and the code/volt maths.
#include "procedures/DacMath.h"
#include "procedures/Formats.h"
#include "procedures/Measure.h"
#include "procedures/ProductionTests.h"
#include "procedures/RowSteps.h"

#include "station/DacCalStore.h"
#include "device/DeviceLibrary.h"
#include "station/Operator.h"
#include "station/Station.h"

#include <QLocale>

#include <array>
#include <cmath>
#include <limits>
#include <optional>

namespace quillon {

namespace {

constexpr int Dacs = 4;

struct DacCodes {
    quint16 low;
    quint16 high;
};
constexpr DacCodes UnipolarCodes{655, 64880};
constexpr DacCodes BipolarCodes{32768, 65207};
constexpr double CorrectionVolts = 0.03;

// A double as a single, or nothing when it is not finite or beyond the single range
// (narrowing such a value is undefined).
std::optional<float> toSingle(double value)
{
    if (!std::isfinite(value) || std::fabs(value) > double(std::numeric_limits<float>::max()))
        return std::nullopt;
    return float(value);
}

QString passFail(bool failed)
{
    return failed ? QStringLiteral("FAIL") : QStringLiteral("PASS");
}

void finish(TestRow &row, bool failed)
{
    row.setStatus(failed ? TestStatus::Fail : TestStatus::Pass);
    row.addLine(QStringLiteral("D/A Cal Set: ") + passFail(failed));
    row.refresh();
}

// The technician's readings as ideal codes, per phase (low, high) and DAC. A DAC
// without a reading drops every higher DAC too, so present is a run of trues.
struct Readings {
    std::array<std::array<double, Dacs>, 2> volts{};
    std::array<std::array<double, Dacs>, 2> counts{};
    std::array<bool, Dacs> present{true, true, true, true};
};

struct Phase {
    const char *name;
    const char *measureName; // ".low" or ".high" after "dacN"
    quint16 code;
};

QString dacName(int i)
{
    return QStringLiteral("dac") + QString::number(i);
}

enum class PhaseEnd {
    Read,        // readings taken
    WriteFailed, // the DACs could not be driven; the next phase still runs
    Stop,        // the run ends as a failure
    Closing,     // the window is closing: return at once
};

// Parses the visible fields into counts. A field that does not parse hides itself and
// every higher field, in both phases.
void takeReadings(DacReadingDialog &dialog, const DacRangeState &range, const QLocale &locale,
                  std::array<double, Dacs> &volts, std::array<double, Dacs> &counts, std::array<bool, Dacs> &present)
{
    for (int i = 0; i < Dacs; ++i) {
        if (!dialog.isFieldVisible(i))
            continue;
        const std::optional<double> parsed = parseTypedNumber(dialog.fieldText(i), locale);
        if (!parsed) {
            for (int j = i; j < Dacs; ++j) {
                present[size_t(j)] = false;
                dialog.hideField(j);
            }
            continue;
        }
        volts[size_t(i)] = *parsed;
        counts[size_t(i)] = DacVoltsToCounts(*parsed, range);
    }
}

// One memo line per reading, each reported with its counts; false at the first reading
// whose counts cannot be represented.
bool listReadings(TestRow &row, const DacReadingDialog &dialog, const Phase &phase,
                  const std::array<double, Dacs> &volts, const std::array<double, Dacs> &counts)
{
    for (int i = 0; i < Dacs; ++i) {
        if (!dialog.isFieldVisible(i))
            continue;
        const QString typed = dialog.fieldText(i);
        const std::optional<std::int64_t> rounded = RoundHalfEven(counts[size_t(i)]);
        const QString name = dacName(i) + QLatin1String(phase.measureName);
        measure::shown(row, name, "V", volts[size_t(i)]);
        measure::finite(row, name + QStringLiteral(".counts"), "counts",
                        rounded ? MeasuredValue(qint64(*rounded)) : MeasuredValue(counts[size_t(i)]),
                        rounded.has_value());
        if (!rounded) {
            row.addLine(QStringLiteral("DAC ") + QString::number(i) + QStringLiteral(" reading ") + typed
                        + QStringLiteral(" V is out of range."));
            return false;
        }
        row.addLine(typed + QStringLiteral(" V -> ") + QString::number(*rounded) + QStringLiteral("d counts"));
    }
    return true;
}

// Drives every DAC raw to the phase's code and takes the technician's meter readings.
PhaseEnd readPhase(StationContext &ctx, TestRow &row, DacReadingDialog &dialog, const DacRangeState &range,
                   const QLocale &locale, size_t phase, const Phase &what, Readings &readings)
{
    const QString caption = QStringLiteral("DAC ") + QLatin1String(what.name) + QStringLiteral(" Reading");
    dialog.setCaption(caption);
    row.addLine(caption);

    const std::array<quint16, Dacs> phaseCodes{what.code, what.code, what.code, what.code};
    if (const quint32 status = DACMultiDirect(ctx.lib, diOnly, phaseCodes, true)) {
        row.addLine(QStringLiteral("Error ") + QString::number(status) + QStringLiteral(" from \"DACMultiDirect\"."));
        return PhaseEnd::WriteFailed;
    }

    const QString expected = SignedVoltsText(DacCountsToVolts(what.code, range), locale);
    dialog.setPrompt(QStringLiteral("The DACs should be producing about ") + expected
                     + QStringLiteral("V. Measure each with a meter, and enter the actual value."));
    for (int i = 0; i < Dacs; ++i)
        dialog.setFieldText(i, phase == 0 ? QString() : expected);
    dialog.focusField(0);

    const bool ok = dialog.exec();
    if (ctx.shell.closing())
        return PhaseEnd::Closing;
    if (!ok) {
        row.addLine(QStringLiteral("Cancelled by tester."));
        return PhaseEnd::Stop;
    }
    takeReadings(dialog, range, locale, readings.volts[phase], readings.counts[phase], readings.present);
    if (!listReadings(row, dialog, what, readings.volts[phase], readings.counts[phase]))
        return PhaseEnd::Stop;
    if (!readings.present[0]) {
        // Nothing left to calibrate: storing identity constants would pass a board
        // whose DACs were never measured.
        row.addLine(QStringLiteral("No reading entered for DAC 0."));
        return PhaseEnd::Stop;
    }
    return PhaseEnd::Read;
}

// One DAC's gain and offset, each reported; false (the DAC named on the memo) when its
// readings give no usable constants.
bool fitDac(TestRow &row, int i, double low, double high, DacCodes codes, const DacRangeState &range, double correction,
            float &gain, float &offset)
{
    const QString name = dacName(i);
    const double span = double(codes.high) - double(codes.low);
    if (high == low) {
        measure::finite(row, name + QStringLiteral(".gain"), "ratio", std::numeric_limits<double>::infinity(), false);
        row.addLine(QStringLiteral("DAC ") + QString::number(i) + QStringLiteral(": low and high readings are equal."));
        return false;
    }
    double fitted = span / (high - low);
    std::optional<float> m = toSingle(fitted);
    if (m && !range.DacBipolar) {
        fitted = double(*m) * (range.DacSpanVolts - correction) / range.DacSpanVolts;
        m = toSingle(fitted);
    }
    measure::finite(row, name + QStringLiteral(".gain"), "ratio", m ? double(*m) : fitted, m.has_value());
    std::optional<float> b;
    if (m) {
        const double fittedOffset = double(codes.low) - low * double(*m);
        b = toSingle(fittedOffset);
        measure::finite(row, name + QStringLiteral(".offset"), "counts", b ? double(*b) : fittedOffset, b.has_value());
    }
    if (!m || !b) {
        row.addLine(QStringLiteral("DAC ") + QString::number(i)
                    + QStringLiteral(": readings give a gain or offset out of range."));
        return false;
    }
    gain = *m;
    offset = *b;
    return true;
}

// Gain and offset per DAC with readings; DACs without keep M = 1, B = 0. False when a
// DAC's readings give no usable constants (each such DAC is named on the memo).
bool fitConstants(TestRow &row, const Readings &readings, DacCodes codes, const DacRangeState &range, double correction,
                  DacCalConstants &constants, quint8 &dacCount)
{
    bool fitted = true;
    for (int i = 0; i < Dacs && readings.present[size_t(i)]; ++i) {
        ++dacCount;
        fitted = fitDac(row, i, readings.counts[0][size_t(i)], readings.counts[1][size_t(i)], codes, range, correction,
                        constants.M[size_t(i)], constants.B[size_t(i)])
                 && fitted;
    }
    return fitted;
}

// Lists the constants, stores them and makes the board reload them. False when the
// store or the reload failed.
bool storeAndReload(StationContext &ctx, TestRow &row, const DacCalConstants &constants, const DacRangeState &range,
                    quint8 dacCount, const QLocale &locale)
{
    row.addLine(QString::number(dacCount) + QStringLiteral(" DACs."));
    for (int i = 0; i < dacCount; ++i) {
        row.addLine(QStringLiteral("M[%1] = ").arg(i) + FixedText(4, constants.M[size_t(i)], locale));
        row.addLine(QStringLiteral("B[%1] = ").arg(i) + FixedText(4, constants.B[size_t(i)], locale));
    }
    row.addLine(QString());

    bool stored = !DacCalStore(ctx.lib, constants, range.DacRange, dacCount, row);

    // Sent whatever the store reported, so the board never goes on applying constants
    // the EEPROM no longer marks valid.
    std::array<std::uint8_t, DacFrameSize> zeros{};
    if (const quint32 status =
            ctx.lib.GenericVendorWrite(diOnly, DacRequest, 0, DacIndexReloadCal, quint32(zeros.size()), zeros.data())) {
        stored = false;
        row.addLine(QStringLiteral("Error ") + QString::number(status)
                    + QStringLiteral(" loading newly-written calibration."));
    }
    return stored;
}

} // namespace

void AskDacRange(Operator &op, DacRangeState &state)
{
    if (state.DacRange >= 0 && state.DacRange <= 3) {
        // Known already; keep span and polarity in step with it.
        state.select(state.DacRange);
        return;
    }
    int item = op.askDacRange();
    if (item < 0 || item > 3)
        item = 3; // the preselected item
    state.select(item);
}

double DacCountsToVolts(double code, const DacRangeState &state)
{
    double x = code * 0.0000152587890625; // 2^-16
    if (state.DacBipolar)
        x = 2.0 * x - 1.0;
    return state.DacSpanVolts * x;
}

double DacVoltsToCounts(double volts, const DacRangeState &state)
{
    double x = volts / state.DacSpanVolts;
    if (state.DacBipolar)
        x = (x + 1.0) * 0.5;
    return 65535.0 * x;
}

void runDacCalSet(StationContext &ctx, TestRow &row)
{
    if (!ctx.state.board.HasDacs) {
        markNotApplicable(row);
        return;
    }

    if (!beginRow(ctx, row))
        return;

    AskDacRange(ctx.op, ctx.state.dacRange);
    if (ctx.shell.closing())
        return;
    // The readings are converted and stored under this range, whatever runs meanwhile.
    const DacRangeState range = ctx.state.dacRange;
    const DacCodes codes = range.DacBipolar ? BipolarCodes : UnipolarCodes;
    const double correction = ctx.shell.correctionChecked() ? CorrectionVolts : 0.0;
    (void)ctx.lib.DACSetBoardRange(diOnly, 0);

    const QLocale locale;
    auto dialog = ctx.op.createDacReadingDialog();
    const std::array<Phase, 2> phases{{{"Low", ".low", codes.low}, {"High", ".high", codes.high}}};
    Readings readings;
    bool failed = false;
    for (size_t p = 0; p < phases.size(); ++p) {
        const PhaseEnd end = readPhase(ctx, row, *dialog, range, locale, p, phases[p], readings);
        if (end == PhaseEnd::Closing)
            return;
        failed = failed || end != PhaseEnd::Read;
        if (end == PhaseEnd::Stop)
            break;
    }

    row.addLine(QString());
    if (failed) {
        finish(row, true);
        return;
    }

    DacCalConstants constants;
    quint8 dacCount = 0;
    if (!fitConstants(row, readings, codes, range, correction, constants, dacCount)) {
        row.addLine(QString());
        finish(row, true);
        return;
    }
    finish(row, !storeAndReload(ctx, row, constants, range, dacCount, locale));
}

} // namespace quillon
