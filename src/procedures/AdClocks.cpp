#include "procedures/ProductionTests.h"

#include "station/Operator.h"
#include "station/Station.h"
#include "procedures/AdcHelpers.h"
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
    ctx.lib.ADC_BulkAcquire(diOnly, bytes, ctx.state.clocksSamples.data());
    ctx.shell.sleepMs(1);
    ctx.lib.ADC_BulkPoll(diOnly, &bytesLeft);

    if (bytesLeft == 0) {
        row.addLine(QStringLiteral("\tFail: Got data without counter 2 enabled."));
        row.setStatus(TestStatus::Fail);
    } else {
        double runHz = 1000.0;
        ctx.lib.CTR_StartOutputFreq(diOnly, 0, &runHz);
        ctx.shell.sleepMs(100);
        double stopHz = 0.0;
        ctx.lib.CTR_StartOutputFreq(diOnly, 0, &stopHz);
        ctx.lib.ADC_BulkPoll(diOnly, &bytesLeft);

        if (bytesLeft != 0) {
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
