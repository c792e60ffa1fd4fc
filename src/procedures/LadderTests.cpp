#include "procedures/ProductionTests.h"

#include "station/Operator.h"
#include "station/Station.h"
#include "procedures/AdcHelpers.h"
#include "procedures/Formats.h"
#include "procedures/Limits.h"
#include "procedures/Measure.h"
#include "procedures/RowSteps.h"

#include <cmath>

namespace quillon {

namespace {

constexpr std::uint8_t TriggerMode = 0x15;
constexpr std::uint8_t SampleCount = 0x17;
constexpr std::uint8_t DifferentialRange = 9;
const QString NoChannelsLine = QStringLiteral("\tNo channels to test: press Detect first.");

// Judges one reading against the limits table and reports it as `name`.
bool withinTolerance(TestRow &row, QString name, float reading, float expected)
{
    const double tolerance = limits().ladderTolerance;
    // Both are floats: their difference is exact in double. NaN fails.
    const bool within = std::fabs(static_cast<double>(reading) - static_cast<double>(expected)) <= tolerance;
    measure::within(row, std::move(name), "V", double(reading), double(expected), tolerance, within);
    return within;
}

QString expectationText(float expected, float reading)
{
    // The memo shows the tolerance as its 32-bit value; the check uses the double.
    return QStringLiteral("expected ") + FixedText(3, expected) + QStringLiteral("V\u00B1")
           + FixedText(3, adc::toFloat(limits().ladderTolerance)) + QStringLiteral("V, got ") + FixedText(3, reading)
           + QStringLiteral("V");
}

QString scanErrorText(quint32 status)
{
    return QStringLiteral("Error ") + QString::number(status) + QStringLiteral(" from ADC_GetScanV.");
}

void finishRun(TestRow &row, bool failed)
{
    row.setStatus(failed ? TestStatus::Fail : TestStatus::Pass);
    row.refresh();
}

// Writes every byte the ladder tests care about except the range codes.
void writeScanBlock(AdcConfigBlock &block, std::uint8_t range, int lastChannel)
{
    block.setAllRanges(range);
    block[AdcConfigBlock::CalSource] = 0;
    block[AdcConfigBlock::TriggerMode] = TriggerMode;
    block.setChannels(0, lastChannel);
    block[AdcConfigBlock::SampleCount] = SampleCount;
}

// One full scan into a zeroed buffer and the check of channels 0..count-1 against
// expected(n), each reported as `prefix` + "chNN". Returns true when anything failed.
template <typename Expected>
bool scanAndCheck(StationContext &ctx, TestRow &row, adc::ScanBuffer &buffer, int count, const QString &prefix,
                  Expected expected)
{
    buffer.fill(0.0);
    const quint32 status = ctx.lib.ADC_GetScanV(diOnly, buffer.data());
    if (status != 0) {
        row.addLine(QStringLiteral("\t") + scanErrorText(status));
        return true;
    }
    bool failed = false;
    for (int n = 0; n < count && n < MaxChannels; ++n) {
        const float reading = adc::toFloat(buffer[static_cast<std::size_t>(n)]);
        const float want = expected(n);
        if (!withinTolerance(row, measure::numbered(prefix, n), reading, want)) {
            failed = true;
            row.addLine(QStringLiteral("\tChannel ") + QString::number(n) + QStringLiteral(": ")
                        + expectationText(want, reading));
        }
    }
    return failed;
}

float singleEnded(double sign, int n, bool mux32)
{
    return adc::toFloat(sign * 10.0 * static_cast<double>(LadderFraction(n, mux32)));
}

// Channel 1 read once in each of the eight input ranges; always eight lines.
bool channelOneSweep(StationContext &ctx, TestRow &row, adc::ScanBuffer &buffer)
{
    row.addLine(QStringLiteral("Channel 1:"));
    AdcConfigBlock &block = ctx.state.adc;
    block.setChannels(1, 1);
    adc::sendConfig(ctx);
    const float expected = singleEnded(1.0, 1, ctx.state.board.Mux32);
    bool failed = false;
    for (int code = 0; code < 8; ++code) {
        block.setAllRanges(static_cast<std::uint8_t>(code));
        adc::sendConfig(ctx);
        buffer.fill(0.0);
        const quint32 status = ctx.lib.ADC_GetScanV(diOnly, buffer.data());
        QString result;
        if (status != 0) {
            result = scanErrorText(status);
            failed = true;
        } else {
            const float reading = adc::toFloat(buffer[1]);
            if (withinTolerance(row, QStringLiteral("ladder.se_unipolar.ch01.range") + QString::number(code), reading,
                                expected)) {
                result = FixedText(3, reading) + QStringLiteral("V, OK");
            } else {
                result = expectationText(expected, reading);
                failed = true;
            }
        }
        row.addLine(QStringLiteral("\t") + RangeName(code) + QStringLiteral("V: ") + result);
    }
    return failed;
}

} // namespace

// Without a detected board there is nothing to compare against: the ladder tests
// fail at once with NoChannelsLine, before any prompt and without touching the board.

void runAdSeUnipolar(StationContext &ctx, TestRow &row)
{
    if (!beginRow(ctx, row))
        return;
    if (adc::channelBound(ctx.state) == 0) {
        row.addLine(NoChannelsLine);
        finishRun(row, true);
        return;
    }
    ctx.op.messageBox(BoxStyle::JigInfo, QStringLiteral("A/D Jig Needed"),
                      QStringLiteral("Connect the test jig with 10V across the analog input leads, set to +."));
    if (ctx.shell.closing())
        return;

    // Taken after the prompt: a Detect may have run meanwhile.
    const int count = adc::channelBound(ctx.state);
    const bool mux32 = ctx.state.board.Mux32;
    if (count == 0) {
        row.addLine(NoChannelsLine);
        finishRun(row, true);
        return;
    }
    writeScanBlock(ctx.state.adc, 0, count - 1);
    adc::sendConfig(ctx);

    adc::ScanBuffer buffer{};
    bool failed = scanAndCheck(ctx, row, buffer, count, QStringLiteral("ladder.se_unipolar.ch"),
                               [mux32](int n) { return singleEnded(1.0, n, mux32); });
    if (!failed)
        failed = channelOneSweep(ctx, row, buffer);
    finishRun(row, failed);
}

void runAdSeBipolar(StationContext &ctx, TestRow &row)
{
    if (!beginRow(ctx, row))
        return;
    if (adc::channelBound(ctx.state) == 0) {
        row.addLine(NoChannelsLine);
        finishRun(row, true);
        return;
    }
    // The configuration goes out before the polarity prompt.
    writeScanBlock(ctx.state.adc, 1, adc::channelBound(ctx.state) - 1);
    adc::sendConfig(ctx);
    ctx.op.messageBox(BoxStyle::JigInfo, QStringLiteral("10V Switch"),
                      QStringLiteral("Turn off the 10V source, switch the jig to -, and turn the 10V source back on."));
    if (ctx.shell.closing())
        return;

    const int count = adc::channelBound(ctx.state);
    const bool mux32 = ctx.state.board.Mux32;
    adc::ScanBuffer buffer{};
    bool failed = count == 0;
    if (failed)
        row.addLine(NoChannelsLine);
    else
        failed = scanAndCheck(ctx, row, buffer, count, QStringLiteral("ladder.se_bipolar.ch"),
                              [mux32](int n) { return singleEnded(-1.0, n, mux32); });
    finishRun(row, failed);
}

void runAdDifferential(StationContext &ctx, TestRow &row)
{
    if (!ctx.state.board.DiffApplies) {
        markNotApplicable(row);
        return;
    }
    if (!beginRow(ctx, row))
        return;
    const int count = adc::channelBound(ctx.state);
    const int half = count / 2;
    if (half == 0) {
        row.addLine(NoChannelsLine);
        finishRun(row, true);
        return;
    }
    writeScanBlock(ctx.state.adc, DifferentialRange, half - 1);
    adc::sendConfig(ctx);

    const bool mux32 = ctx.state.board.Mux32;
    adc::ScanBuffer buffer{};
    const bool failed =
        scanAndCheck(ctx, row, buffer, half, QStringLiteral("ladder.differential.ch"), [mux32, half](int n) {
            // The difference is narrowed to 32 bits before it is scaled.
            const float difference = LadderFraction(n, mux32) - LadderFraction(n + half, mux32);
            return adc::toFloat(-10.0 * static_cast<double>(difference));
        });
    finishRun(row, failed);
}

} // namespace quillon
