#include "procedures/ProductionTests.h"

#include "station/Operator.h"
#include "station/Station.h"
#include "procedures/AdcHelpers.h"
#include "procedures/Formats.h"
#include "procedures/Limits.h"
#include "procedures/Measure.h"
#include "procedures/RowSteps.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace quillon {

namespace {

// 65536 counts per 10 V.
constexpr double CountsPerVolt = 6553.6;
constexpr quint8 EepromRequest = 0xA2;
constexpr quint16 ArefWordAddress = 0x1DF2;

const QString ArefPrompt =
    QStringLiteral("Measure the ref voltage at R11 (pad closest to the \"R\" in the R11 silkscreen) with a "
                   "calibrated meter and type it here. (For example, \"9.9339\".)");

// The AGnd reading in A/D counts of channel 0's range, low 16 bits; empty when the
// reading has no integer count at all (not finite, or beyond 64 bits).
std::optional<quint16> agndCounts(float reading, std::uint8_t rangeCode)
{
    float x = reading;
    if ((rangeCode & 2) == 0)
        x = x / 2.0f;
    if ((rangeCode & 4) == 0)
        x = x / 5.0f;
    x = x * 65536.0f;
    const std::optional<std::int64_t> counts = RoundHalfEven(static_cast<double>(x));
    if (!counts)
        return std::nullopt;
    return static_cast<quint16>(static_cast<std::uint64_t>(*counts) & 0xFFFFu);
}

// Scans the internal ground once and judges it; false (with the reason on the memo)
// when the scan fails or the reading is off.
bool agndWithinTolerance(StationContext &ctx, TestRow &row, const AdcConfigBlock &block)
{
    adc::ScanBuffer buffer{};
    const quint32 status = ctx.lib.ADC_GetScanV(diOnly, buffer.data());
    if (status != 0) {
        row.addLine(QStringLiteral("\tError ") + QString::number(status) + QStringLiteral(" from ADC_GetScanV."));
        return false;
    }
    // The expectation and tolerance are 32-bit values, as the memo shows them (0.012, 0.006).
    const float expected = limits().agndExpected;
    const float tolerance = limits().agndTolerance;
    const float reading = adc::toFloat(buffer[0]);
    const double off = std::fabs(static_cast<double>(reading) - static_cast<double>(expected));
    // Written as "within" so that a NaN reading fails.
    const bool within = off <= static_cast<double>(tolerance);
    measure::within(row, QStringLiteral("agnd"), "V", double(reading), double(expected), double(tolerance), within);
    if (within)
        return true;
    const std::optional<quint16> counts = agndCounts(reading, block[0]);
    row.addLine(QStringLiteral("\tExpected ") + FixedText(3, expected) + QStringLiteral("V\u00B1")
                + FixedText(3, tolerance) + QStringLiteral("V, got ") + FixedText(3, reading) + QStringLiteral("V [")
                + (counts ? hexText(*counts, 4) : QStringLiteral("????")) + QStringLiteral(" counts]"));
    return false;
}

// Turns the typed reference voltage into the ARef word and writes it to the EEPROM;
// false (with the reason on the memo) when the text, the word or the write is bad.
bool storeArefWord(StationContext &ctx, TestRow &row, const QString &typed)
{
    const std::optional<double> volts = parseTypedNumber(typed, QLocale());
    const std::optional<std::int64_t> rounded = volts ? RoundHalfEven(*volts * CountsPerVolt) : std::nullopt;
    measure::shown(row, QStringLiteral("aref.typed"), "V", volts.value_or(std::numeric_limits<double>::quiet_NaN()),
                   !rounded);
    if (!rounded) {
        row.addLine(QStringLiteral("\tError parsing \"") + typed + QStringLiteral("\"."));
        return false;
    }
    const auto word = static_cast<quint16>(std::clamp<std::int64_t>(*rounded, 0, 0xFFFF));
    const Limits &lim = limits();
    const bool storable = word >= lim.arefWordLow && word <= lim.arefWordHigh;
    measure::range(row, QStringLiteral("aref.word"), "counts", word, lim.arefWordLow, lim.arefWordHigh, storable);
    if (!storable) {
        row.addLine(QStringLiteral("\t") + hexText(word, 4) + QStringLiteral(" counts is out of range."));
        return false;
    }
    quint8 bytes[2] = {static_cast<quint8>(word & 0xFF), static_cast<quint8>(word >> 8)};
    const quint32 writeStatus = ctx.lib.GenericVendorWrite(diOnly, EepromRequest, ArefWordAddress, 0, 2, bytes);
    if (writeStatus != 0) {
        row.addLine(QStringLiteral("\tError ") + QString::number(writeStatus)
                    + QStringLiteral(" writing ARef cal to EEPROM."));
        return false;
    }
    return true;
}

} // namespace

void runCalibrationVoltages(StationContext &ctx, TestRow &row)
{
    if (!beginRow(ctx, row))
        return;
    bool failed = false;

    if (ctx.lib.ADC_QueryCal(diOnly) != 0) {
        row.setStatus(TestStatus::Pass);
        row.addLine(QStringLiteral("No Calibration Detected"));
        row.addLine(QStringLiteral("Calibration Voltages: Skipped"));
        row.refresh();
        return;
    }
    ctx.lib.ADC_SetCal(diOnly, ":1TO1:");

    AdcConfigBlock &block = ctx.state.adc;
    block[0] = 0;
    block[AdcConfigBlock::CalSource] = 1;
    block[AdcConfigBlock::TriggerMode] = 21;
    block[AdcConfigBlock::ChannelsLow] = 0;
    block[AdcConfigBlock::SampleCount] = 15;
    block[AdcConfigBlock::ChannelsHigh] = 0;
    row.addLine(QStringLiteral("AGnd"));

    adc::sendConfig(ctx);
    bool sectionFailed = !agndWithinTolerance(ctx, row, block);
    failed = failed || sectionFailed;
    row.addLine(sectionFailed ? QStringLiteral("AGnd: Failed") : QStringLiteral("AGnd: Passed"));
    row.addLine(QString());
    row.addLine(QStringLiteral("ARef"));

    block[AdcConfigBlock::CalSource] = 3;
    adc::sendConfig(ctx);
    row.addLine(QStringLiteral("ARef: Skipped"));
    row.addLine(QString());
    row.addLine(QStringLiteral("ARef Cal"));

    sectionFailed = false;
    QString typed;
    const bool ok = ctx.op.promptForText(QStringLiteral("ARef Cal"), ArefPrompt, typed);
    if (ctx.shell.closing())
        return;
    if (!ok) {
        sectionFailed = true;
        row.addLine(QStringLiteral("\tCancelled."));
    } else {
        sectionFailed = !storeArefWord(ctx, row, typed);
    }
    failed = failed || sectionFailed;
    row.addLine(sectionFailed ? QStringLiteral("ARef Cal: Failed") : QStringLiteral("ARef Cal: Passed"));
    row.addLine(QString());

    row.setStatus(failed ? TestStatus::Fail : TestStatus::Pass);
    row.addLine(failed ? QStringLiteral("Calibration Voltages: Failed")
                       : QStringLiteral("Calibration Voltages: Passed"));
    row.refresh();
}

} // namespace quillon
