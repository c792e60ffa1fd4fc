// D/A Cal Set (row 8): drive the DACs raw to a low and a high code, take the meter
// readings, fit a gain and an offset per DAC, store them in the EEPROM and make the
// board reload them. Also the D/A range the station keeps and the code/volt maths.
#include "procedures/DacMath.h"
#include "procedures/Formats.h"
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
    if (!ctx.State.Board.HasDacs) {
        markNotApplicable(row);
        return;
    }

    if (!beginRow(ctx, row))
        return;
    bool failed = false;

    AskDacRange(ctx.Op, ctx.State.DacRange);
    if (ctx.Shell.closing())
        return;
    // The readings are converted and stored under this range, whatever runs meanwhile.
    const DacRangeState range = ctx.State.DacRange;
    const DacCodes codes = range.DacBipolar ? BipolarCodes : UnipolarCodes;
    const double correction = ctx.Shell.correctionChecked() ? CorrectionVolts : 0.0;
    (void)ctx.Lib.DACSetBoardRange(diOnly, 0);

    const QLocale locale;
    auto dialog = ctx.Op.createDacReadingDialog();
    DacCalConstants constants;

    struct Phase {
        const char *name;
        quint16 code;
    };
    const std::array<Phase, 2> phases{{{"Low", codes.low}, {"High", codes.high}}};
    // Ideal codes of the measured voltages, per phase and DAC.
    std::array<std::array<double, Dacs>, 2> readings{};
    std::array<bool, Dacs> hasReadings{true, true, true, true};

    for (size_t p = 0; p < phases.size(); ++p) {
        const Phase &phase = phases[p];
        const QString caption = QStringLiteral("DAC ") + QLatin1String(phase.name) + QStringLiteral(" Reading");
        dialog->setCaption(caption);
        row.addLine(caption);

        const std::array<quint16, Dacs> phaseCodes{phase.code, phase.code, phase.code, phase.code};
        if (const quint32 status = DACMultiDirect(ctx.Lib, diOnly, phaseCodes, true)) {
            failed = true;
            row.addLine(QStringLiteral("Error ") + QString::number(status)
                        + QStringLiteral(" from \"DACMultiDirect\"."));
            continue;
        }

        const QString expected = SignedVoltsText(DacCountsToVolts(phase.code, range), locale);
        dialog->setPrompt(QStringLiteral("The DACs should be producing about ") + expected
                          + QStringLiteral("V. Measure each with a meter, and enter the actual value."));
        for (int i = 0; i < Dacs; ++i)
            dialog->setFieldText(i, p == 0 ? QString() : expected);
        dialog->focusField(0);

        const bool ok = dialog->exec();
        if (ctx.Shell.closing())
            return;
        if (!ok) {
            failed = true;
            row.addLine(QStringLiteral("Cancelled by tester."));
            break;
        }

        for (int i = 0; i < Dacs; ++i) {
            if (!dialog->isFieldVisible(i))
                continue;
            const std::optional<double> volts = ParseTypedNumber(dialog->fieldText(i), locale);
            if (!volts) {
                // This DAC and every higher one go uncalibrated, in both phases.
                for (int j = i; j < Dacs; ++j) {
                    hasReadings[size_t(j)] = false;
                    dialog->hideField(j);
                }
                continue;
            }
            readings[p][size_t(i)] = DacVoltsToCounts(*volts, range);
        }

        bool unusable = false;
        for (int i = 0; i < Dacs; ++i) {
            if (!dialog->isFieldVisible(i))
                continue;
            const QString typed = dialog->fieldText(i);
            const std::optional<std::int64_t> counts = RoundHalfEven(readings[p][size_t(i)]);
            if (!counts) {
                row.addLine(QStringLiteral("DAC ") + QString::number(i) + QStringLiteral(" reading ") + typed
                            + QStringLiteral(" V is out of range."));
                unusable = true;
                break;
            }
            row.addLine(typed + QStringLiteral(" V -> ") + QString::number(*counts) + QStringLiteral("d counts"));
        }
        if (unusable) {
            failed = true;
            break;
        }
        if (!hasReadings[0]) {
            // Nothing left to calibrate: storing identity constants would pass a board
            // whose DACs were never measured.
            failed = true;
            row.addLine(QStringLiteral("No reading entered for DAC 0."));
            break;
        }
    }

    row.addLine(QString());
    if (failed) {
        finish(row, failed);
        return;
    }

    // Fit. DACs without readings form a tail (a missing reading drops every higher
    // DAC too) and keep M = 1, B = 0.
    const double span = double(codes.high) - double(codes.low);
    quint8 dacCount = 0;
    bool fitFailed = false;
    for (int i = 0; i < Dacs; ++i) {
        if (!hasReadings[size_t(i)])
            break;
        ++dacCount;
        const double low = readings[0][size_t(i)];
        const double high = readings[1][size_t(i)];
        if (high == low) {
            row.addLine(QStringLiteral("DAC ") + QString::number(i)
                        + QStringLiteral(": low and high readings are equal."));
            fitFailed = true;
            continue;
        }
        std::optional<float> m = toSingle(span / (high - low));
        if (m && !range.DacBipolar)
            m = toSingle(double(*m) * (range.DacSpanVolts - correction) / range.DacSpanVolts);
        const std::optional<float> b = m ? toSingle(double(codes.low) - low * double(*m)) : std::nullopt;
        if (!m || !b) {
            row.addLine(QStringLiteral("DAC ") + QString::number(i)
                        + QStringLiteral(": readings give a gain or offset out of range."));
            fitFailed = true;
            continue;
        }
        constants.M[size_t(i)] = *m;
        constants.B[size_t(i)] = *b;
    }
    if (fitFailed) {
        row.addLine(QString());
        finish(row, true);
        return;
    }

    row.addLine(QString::number(dacCount) + QStringLiteral(" DACs."));
    for (int i = 0; i < dacCount; ++i) {
        row.addLine(QStringLiteral("M[%1] = ").arg(i) + FixedText(4, constants.M[size_t(i)], locale));
        row.addLine(QStringLiteral("B[%1] = ").arg(i) + FixedText(4, constants.B[size_t(i)], locale));
    }
    row.addLine(QString());

    if (DacCalStore(ctx.Lib, constants, range.DacRange, dacCount, row))
        failed = true;

    // Sent whatever the store reported, so the board never goes on applying constants
    // the EEPROM no longer marks valid.
    std::array<std::uint8_t, DacFrameSize> zeros{};
    if (const quint32 status =
            ctx.Lib.GenericVendorWrite(diOnly, DacRequest, 0, DacIndexReloadCal, quint32(zeros.size()), zeros.data())) {
        failed = true;
        row.addLine(QStringLiteral("Error ") + QString::number(status)
                    + QStringLiteral(" loading newly-written calibration."));
    }

    finish(row, failed);
}

} // namespace quillon
