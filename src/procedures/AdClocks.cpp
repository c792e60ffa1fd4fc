#include "procedures/ProductionTests.h"

#include "station/Operator.h"
#include "station/Station.h"
#include "procedures/AdcHelpers.h"
#include "procedures/Limits.h"
#include "procedures/Measure.h"
#include "procedures/RowSteps.h"

namespace quillon {

void runAdClocks(StationContext &ctx, TestRow &row)
{
    if (!beginRow(ctx, row))
        return;

    const int count = adc::channelBound(ctx.state);
    if (count == 0) {
        // An acquisition of no bytes would "arrive" at once and read as a wiring fault.
        row.addLine(QStringLiteral("\tNo channels to test: press Detect first."));
        row.setStatus(TestStatus::Fail);
        row.refresh();
        return;
    }

    AdcConfigBlock &block = ctx.state.adc;
    block.setAllRanges(0);
    block[AdcConfigBlock::CalSource] = 0;
    block.setChannels(0, count - 1);
    block[AdcConfigBlock::SampleCount] = 0;
    row.addLine(QStringLiteral("CTR 2"));
    block[AdcConfigBlock::TriggerMode] = 0x15;
    adc::sendConfig(ctx);

    // The station owns the buffer: on the abort path the acquisition stays outstanding.
    ctx.state.clocksSamples.fill(0);
    const quint32 bytes = 2u * static_cast<quint32>(count);
    quint32 bytesLeft = bytes;
    const Limits &lim = limits();
    ctx.lib.ADC_BulkAcquire(diOnly, bytes, ctx.state.clocksSamples.data());
    ctx.shell.sleepMs(lim.clocksUnclockedWaitMs);
    ctx.lib.ADC_BulkPoll(diOnly, &bytesLeft);

    // Without the clock nothing may arrive: some bytes must still be outstanding.
    measure::atLeast(row, QStringLiteral("adclocks.unclocked.bytes_left"), "bytes", bytesLeft, 1, bytesLeft != 0);
    if (bytesLeft == 0) {
        row.addLine(QStringLiteral("\tFail: Got data without counter 2 enabled."));
        row.setStatus(TestStatus::Fail);
    } else {
        double runHz = lim.clocksHz;
        const qint64 clockStartMs = ctx.shell.clockMs();
        ctx.lib.CTR_StartOutputFreq(diOnly, 0, &runHz);
        ctx.shell.sleepMs(lim.clocksClockedWaitMs);
        double stopHz = 0.0;
        ctx.lib.CTR_StartOutputFreq(diOnly, 0, &stopHz);
        ctx.lib.ADC_BulkPoll(diOnly, &bytesLeft);
        measure::shown(row, QStringLiteral("adclocks.clocked.time"), "ms", ctx.shell.clockMs() - clockStartMs);

        if (!measure::equals(row, QStringLiteral("adclocks.clocked.bytes_left"), "bytes", bytesLeft,
                             lim.clocksClockedBytesLeft)) {
            row.addLine(QStringLiteral("\tFail: Did not get data via counter 2."));
            row.addLine(QString());
            row.addLine(QStringLiteral("Aborting test, PLEASE HOTPLUG."));
            ctx.shell.maximizeMainWindow();
            if (!row.detailsDown()) {
                ctx.shell.sleepMs(250);
                row.pressDetails();
            }
            row.setStatus(TestStatus::Fail);
            row.refresh();
            ctx.state.AbortAll = true;
            return;
        }
        row.addLine(QStringLiteral("\tPass."));
    }

    row.addLine(QString());
    row.addLine(QStringLiteral("External(CTR 0)"));
    row.addLine(QStringLiteral("\tSkipped."));
    if (row.status() == TestStatus::Testing)
        row.setStatus(TestStatus::Pass);
    row.refresh();
}

} // namespace quillon
