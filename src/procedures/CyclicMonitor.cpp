#include "procedures/ProductionTests.h"

#include "station/Operator.h"
#include "station/Station.h"
#include "procedures/AdcHelpers.h"
#include "procedures/CyclicListing.h"
#include "procedures/Formats.h"

namespace quillon {

namespace {

// Volts of one raw sample under a range code of the configuration block.
double sampleVolts(std::uint16_t sample, std::uint8_t code)
{
    double x = sample / 65536.0;
    if (code & 1)
        x = 2.0 * x - 1.0;
    if ((code & 2) == 0)
        x = 2.0 * x;
    if ((code & 4) == 0)
        x = 5.0 * x;
    return x;
}

// Pause between polls: the loop serves events instead of spinning on the library.
constexpr int PollPauseMs = 5;
// Once Stop is pressed, an outstanding scan gets this many more pauses (about 2.5
// periods of the 10 Hz clock) to arrive; after that the wait is given up.
constexpr int StopGracePolls = 50;

const QString NoChannelsLine = QStringLiteral("No channels to list: press Detect first.");
const QString NoScanLine = QStringLiteral("Stopped: no scan arrived.");

enum class PollEnd { Data, Error, Abandoned };

} // namespace

QStringList CyclicListing(const std::uint16_t *samples, int channels, const AdcConfigBlock &block)
{
    QStringList listing;
    listing.reserve(channels);
    for (int i = 0; i < channels; ++i) {
        const double volts = sampleVolts(samples[i], block[i % 16]);
        listing.append(QString::number(i, 16).toUpper() + QStringLiteral(": ") + CyclicVoltsText(volts));
    }
    return listing;
}

void runCyclicMonitor(StationContext &ctx, MonitorView &view)
{
    StationState &state = ctx.State;
    // A Go pressed inside the running loop must not start a second monitor.
    if (state.CyclicRunning)
        return;
    state.CyclicRunning = true;

    view.setRunning(true);
    view.clearList();
    int columnsFor = adc::channelBound(state);
    view.setColumns(columnsFor / 16 + 1);
    ctx.Op.processEvents();

    const auto finish = [&] {
        view.setRunning(false);
        state.CyclicRunning = false;
    };
    if (ctx.Shell.closing()) {
        finish();
        return;
    }
    const int startCount = adc::channelBound(state);
    if (startCount == 0) {
        // Nothing was ever detected: do not drive an unknown board.
        view.setLines({NoChannelsLine});
        finish();
        return;
    }

    AdcConfigBlock &block = state.Adc;
    block.setAllRanges(1);
    block[AdcConfigBlock::CalSource] = 0;
    block[AdcConfigBlock::TriggerMode] = 0x15;
    block.setChannels(0, startCount - 1);
    block[AdcConfigBlock::SampleCount] = 0;
    adc::sendConfig(ctx);
    double hz = 10.0;
    ctx.Lib.CTR_StartOutputFreq(diOnly, 0, &hz);

    state.CyclicStopRequested = false;
    for (;;) {
        // A Detect run inside the loop may have changed the count: take it afresh.
        const int count = adc::channelBound(state);
        if (count == 0) {
            view.setLines({NoChannelsLine});
            state.CyclicStopRequested = true;
            break;
        }
        if (count != columnsFor) {
            columnsFor = count;
            view.setColumns(count / 16 + 1);
        }

        // The station owns the buffer: an abandoned acquisition still writes live memory.
        const quint32 bytes = 2u * static_cast<quint32>(count);
        quint32 bytesLeft = bytes;
        const quint32 acquireStatus = ctx.Lib.ADC_BulkAcquire(diOnly, bytes, state.MonitorSamples.data());
        if (acquireStatus != 0) {
            view.setLines({QStringLiteral("ADC_BulkAcquire returned error ") + QString::number(acquireStatus)
                           + QLatin1Char('.')});
            state.CyclicStopRequested = true;
            break;
        }

        PollEnd end = PollEnd::Abandoned;
        int graceLeft = StopGracePolls;
        for (;;) {
            ctx.Op.processEvents();
            if (ctx.Shell.closing())
                break;
            const quint32 pollStatus = ctx.Lib.ADC_BulkPoll(diOnly, &bytesLeft);
            if (pollStatus != 0) {
                view.setLines(
                    {QStringLiteral("ADC_BulkPoll returned error ") + QString::number(pollStatus) + QLatin1Char('.')});
                end = PollEnd::Error;
                break;
            }
            if (bytesLeft == 0) {
                end = PollEnd::Data;
                break;
            }
            if (state.CyclicStopRequested && graceLeft-- <= 0) {
                view.setLines({NoScanLine});
                break;
            }
            ctx.Shell.waitForEvents(PollPauseMs);
        }
        if (end != PollEnd::Data) {
            state.CyclicStopRequested = true;
            break;
        }

        view.setLines(CyclicListing(state.MonitorSamples.data(), count, block));
        ctx.Op.processEvents();
        if (state.CyclicStopRequested || ctx.Shell.closing())
            break;
    }
    // The 10 Hz clock keeps running after the monitor ends.
    finish();
}

} // namespace quillon
