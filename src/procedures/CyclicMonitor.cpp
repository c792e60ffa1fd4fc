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

// The counter clock that paces the scans, and the period it gives them.
constexpr double ClockHz = 10.0;
constexpr qint64 PeriodMs = 100;
// The pace of polls while the phase of the clock is not known (the first scan, a scan
// found late, one overdue).
constexpr int SteadyPollMs = 5;
// Polls around a scan that is due, so it is listed within a few milliseconds.
constexpr int ClosePollMs = 2;
// How long before and after a due scan the loop polls closely.
constexpr qint64 LeadMs = 10;
// Once Stop is pressed, an outstanding scan gets about 2.5 periods to arrive; after
// that the wait is given up.
constexpr qint64 StopGraceMs = 250;

const QString NoChannelsLine = QStringLiteral("No channels to list: press Detect first.");
const QString NoScanLine = QStringLiteral("Stopped: no scan arrived.");

// When to poll next. The clock completes one scan per period, so once a scan has been
// seen arriving between two polls at most LeadMs apart, the next one is due a period
// later: the loop then waits for events until shortly before it and polls closely
// around it, instead of polling all period long. A scan found at the first poll after
// such a wait (the phase moved) makes the phase unknown again until one is caught.
class PollPacer {
public:
    void acquisitionStarted() { m_lastPending = -1; }
    void pending(qint64 now) { m_lastPending = now; }
    void arrived(qint64 now)
    {
        const bool caught = m_lastPending >= 0 && now - m_lastPending <= LeadMs;
        m_nextScan = caught ? now + PeriodMs : -1;
    }
    int pauseMs(qint64 now) const
    {
        if (m_nextScan < 0)
            return SteadyPollMs;
        const qint64 untilDue = m_nextScan - now;
        if (untilDue > LeadMs)
            return static_cast<int>(untilDue - LeadMs);
        return untilDue > -LeadMs ? ClosePollMs : SteadyPollMs;
    }

private:
    qint64 m_lastPending = -1; // the latest poll that found the scan incomplete
    qint64 m_nextScan = -1;    // when the next scan is due; -1: not known
};

enum class PollEnd { Data, Error, Abandoned };

} // namespace

QStringList cyclicListing(const std::uint16_t *samples, int channels, const AdcConfigBlock &block)
{
    QStringList listing;
    listing.reserve(channels);
    for (int i = 0; i < channels; ++i) {
        const double volts = sampleVolts(samples[i], block[i % 16]);
        listing.append(QString::number(i, 16).toUpper() + QStringLiteral(": ") + CyclicVoltsText(volts));
    }
    return listing;
}

namespace {

// Fills the block for a scan of channels 0 to count - 1 and starts the 10 Hz clock.
void startAcquisitions(StationContext &ctx, int count)
{
    AdcConfigBlock &block = ctx.state.adc;
    block.setAllRanges(1);
    block[AdcConfigBlock::CalSource] = 0;
    block[AdcConfigBlock::TriggerMode] = 0x15;
    block.setChannels(0, count - 1);
    block[AdcConfigBlock::SampleCount] = 0;
    adc::sendConfig(ctx);
    double hz = ClockHz;
    ctx.lib.CTR_StartOutputFreq(diOnly, 0, &hz);
}

// Polls the acquisition under way until its scan is complete, serving events before
// every poll and waiting for them between polls. Shows the line of an error, or of a
// Stop that ended a wait no scan came to.
PollEnd waitForScan(StationContext &ctx, MonitorView &view, PollPacer &pacer, quint32 bytes)
{
    quint32 bytesLeft = bytes;
    qint64 stopSeen = -1;
    pacer.acquisitionStarted();
    for (;;) {
        ctx.op.processEvents();
        if (ctx.shell.closing())
            return PollEnd::Abandoned;
        const quint32 pollStatus = ctx.lib.ADC_BulkPoll(diOnly, &bytesLeft);
        const qint64 now = ctx.shell.clockMs();
        if (pollStatus != 0) {
            view.setLines(
                {QStringLiteral("ADC_BulkPoll returned error ") + QString::number(pollStatus) + QLatin1Char('.')});
            return PollEnd::Error;
        }
        if (bytesLeft == 0) {
            pacer.arrived(now);
            return PollEnd::Data;
        }
        pacer.pending(now);
        if (ctx.state.CyclicStopRequested) {
            if (stopSeen < 0)
                stopSeen = now;
            if (now - stopSeen >= StopGraceMs) {
                view.setLines({NoScanLine});
                return PollEnd::Abandoned;
            }
        }
        ctx.shell.waitForEvents(pacer.pauseMs(now));
    }
}

// One cycle: acquire, wait for the scan, list it. False when the monitor ends: on
// Stop, on closing, or on an error (its line shown and the stop flag set).
bool runCycle(StationContext &ctx, MonitorView &view, PollPacer &pacer, int &columnsFor)
{
    const auto fail = [&ctx] {
        ctx.state.CyclicStopRequested = true;
        return false;
    };
    StationState &state = ctx.state;
    // A Detect run inside the loop may have changed the count: take it afresh.
    const int count = adc::channelBound(state);
    if (count == 0) {
        view.setLines({NoChannelsLine});
        return fail();
    }
    if (count != columnsFor) {
        columnsFor = count;
        view.setColumns(count / 16 + 1);
    }

    // The station owns the buffer: an abandoned acquisition still writes live memory.
    const quint32 bytes = 2u * static_cast<quint32>(count);
    const quint32 acquireStatus = ctx.lib.ADC_BulkAcquire(diOnly, bytes, state.monitorSamples.data());
    if (acquireStatus != 0) {
        view.setLines(
            {QStringLiteral("ADC_BulkAcquire returned error ") + QString::number(acquireStatus) + QLatin1Char('.')});
        return fail();
    }
    if (waitForScan(ctx, view, pacer, bytes) != PollEnd::Data)
        return fail();

    view.setLines(cyclicListing(state.monitorSamples.data(), count, state.adc));
    ctx.op.processEvents();
    return !state.CyclicStopRequested && !ctx.shell.closing();
}

} // namespace

void runCyclicMonitor(StationContext &ctx, MonitorView &view)
{
    StationState &state = ctx.state;
    // A Go pressed inside the running loop must not start a second monitor.
    if (state.cyclicRunning)
        return;
    state.cyclicRunning = true;

    view.setRunning(true);
    view.clearList();
    int columnsFor = adc::channelBound(state);
    view.setColumns(columnsFor / 16 + 1);
    ctx.op.processEvents();

    const int startCount = adc::channelBound(state);
    if (!ctx.shell.closing() && startCount == 0) {
        // Nothing was ever detected: do not drive an unknown board.
        view.setLines({NoChannelsLine});
    } else if (!ctx.shell.closing()) {
        startAcquisitions(ctx, startCount);
        state.CyclicStopRequested = false;
        PollPacer pacer;
        while (runCycle(ctx, view, pacer, columnsFor)) {
        }
    }
    // The 10 Hz clock keeps running after the monitor ends.
    view.setRunning(false);
    state.cyclicRunning = false;
}

} // namespace quillon
