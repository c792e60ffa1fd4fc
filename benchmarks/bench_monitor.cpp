// (b) The cyclic monitor's listing for a 160-channel board, against its 100 ms
// cycle (target below 1 %), and how soon a scan shows.
//
// BM_MonitorListing is the listing alone: the station's cyclicListing (the volts of
// every channel under its range code, CyclicVoltsText, the "i: text" lines).
// BM_MonitorCycle runs the station's own monitor loop (runCyclicMonitor) over the
// simulated board with a stepping clock, so every cycle is acquire + poll + listing
// with no real waiting: the listing plus everything around it.
// BM_MonitorLatency runs the real window's monitor (Go, real waits between polls)
// over the simulated board on the real clock: the time from the counter tick that
// completes a scan to the monitor's list holding that scan.
#include "BenchStation.h"

#include "app/station/MainForm.h"
#include "sim/VirtualTechnician.h"
#include "ui/BlurbForm.h"

#include "device/TracingDevice.h"
#include "sim/SimBoard.h"
#include "procedures/CyclicListing.h"
#include "procedures/ProductionTests.h"
#include "station/Detection.h"

#include <QAbstractButton>
#include <QCoreApplication>
#include <QListWidget>
#include <QStringList>

#include <algorithm>
#include <array>
#include <cstdint>
#include <random>
#include <vector>

namespace quillon::bench {
namespace {

constexpr double CycleSeconds = 0.100;

void BM_MonitorListing(benchmark::State &state)
{
    const int count = int(state.range(0));
    std::array<std::uint16_t, MaxChannels> samples{};
    std::mt19937 rng(7);
    for (auto &s : samples)
        s = std::uint16_t(rng());
    AdcConfigBlock block;
    block.setAllRanges(1);
    for (auto _ : state) {
        const QStringList listing = cyclicListing(samples.data(), count, block);
        benchmark::DoNotOptimize(listing.constData());
    }
    state.counters["ratio"] = ratioTo(CycleSeconds);
    state.SetLabel("listing vs 100 ms cycle; target < 0.01");
}
BENCHMARK(BM_MonitorListing)->ArgName("channels")->Arg(160)->Arg(16)->UseRealTime();

// Listings per runCyclicMonitor call: the start (configuration, clock) is shared out.
constexpr int ListingsPerRun = 20;

void BM_MonitorCycle(benchmark::State &state)
{
    sim::SimBoard board(SteppingClock(20'000));
    board.identity.productId = state.range(0) == 160 ? Board160 : Board16;
    TracingDevice trace(board);
    SilentOperator op;
    NullShell shell;
    StationState station;
    StationContext ctx{trace, op, shell, station};
    if (!detectBoard(trace, op, station).found) {
        state.SkipWithError("detection did not find the simulated board");
        return;
    }
    ListingView view;
    view.onListing = [&] {
        if (view.listings % ListingsPerRun == 0)
            station.CyclicStopRequested = true;
    };
    for (auto _ : state) {
        runCyclicMonitor(ctx, view);
    }
    if (view.listings != int(state.iterations()) * ListingsPerRun || view.lines.size() != station.board.ChannelCount) {
        state.SkipWithError("the monitor did not list every cycle");
        return;
    }
    state.SetItemsProcessed(std::int64_t(view.listings));
    state.counters["ratio"] = benchmark::Counter(
        CycleSeconds * ListingsPerRun, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
    state.SetLabel("20 whole cycles per iteration; ratio: one cycle vs 100 ms; target < 0.01");
}
BENCHMARK(BM_MonitorCycle)->ArgName("channels")->Arg(160)->Arg(16)->UseRealTime();

// Forwards every call to the board; notes when the A/D clock was (re)started, so the
// times of its ticks are known.
class ClockWatch final : public DeviceLibrary {
public:
    explicit ClockWatch(DeviceLibrary &inner) : m_inner(inner) {}
    std::int64_t startedUs = 0;

    QString description() const override { return m_inner.description(); }
    quint32 GetDevices() override { return m_inner.GetDevices(); }
    quint32 QueryDeviceInfo(qint32 d, quint32 *p, quint32 *ns, char *n, quint32 *db, quint32 *c) override
    {
        return m_inner.QueryDeviceInfo(d, p, ns, n, db, c);
    }
    quint32 ClearDevices() override { return m_inner.ClearDevices(); }
    quint32 GenericVendorRead(qint32 d, quint8 r, quint16 v, quint16 i, quint32 *s, void *data) override
    {
        return m_inner.GenericVendorRead(d, r, v, i, s, data);
    }
    quint32 GenericVendorWrite(qint32 d, quint8 r, quint16 v, quint16 i, quint32 s, void *data) override
    {
        return m_inner.GenericVendorWrite(d, r, v, i, s, data);
    }
    quint32 ADC_SetConfig(qint32 d, quint8 *b, quint32 *s) override { return m_inner.ADC_SetConfig(d, b, s); }
    quint32 ADC_GetScanV(qint32 d, double *buffer) override { return m_inner.ADC_GetScanV(d, buffer); }
    quint32 ADC_QueryCal(qint32 d) override { return m_inner.ADC_QueryCal(d); }
    quint32 ADC_SetCal(qint32 d, const char *name) override { return m_inner.ADC_SetCal(d, name); }
    quint32 ADC_BulkAcquire(qint32 d, quint32 s, void *b) override { return m_inner.ADC_BulkAcquire(d, s, b); }
    quint32 ADC_BulkPoll(qint32 d, quint32 *left) override { return m_inner.ADC_BulkPoll(d, left); }
    quint32 CTR_StartOutputFreq(qint32 d, quint32 b, double *hz) override
    {
        startedUs = sim::steadyMicros();
        return m_inner.CTR_StartOutputFreq(d, b, hz);
    }
    quint32 DIO_Configure(qint32 d, quint8 t, void *m, void *data) override
    {
        return m_inner.DIO_Configure(d, t, m, data);
    }
    quint32 DIO_WriteAll(qint32 d, void *data) override { return m_inner.DIO_WriteAll(d, data); }
    quint32 DIO_ReadAll(qint32 d, void *data) override { return m_inner.DIO_ReadAll(d, data); }
    quint32 DACSetBoardRange(qint32 d, quint32 r) override { return m_inner.DACSetBoardRange(d, r); }

private:
    DeviceLibrary &m_inner;
};

constexpr std::int64_t TickUs = 100'000; // the monitor's 10 Hz clock
constexpr int ScansPerGo = 10;
constexpr double LatencyTargetSeconds = 0.005;

void BM_MonitorLatency(benchmark::State &state)
{
    sim::SimBoard board; // the real clock
    board.identity.productId = state.range(0) == 160 ? Board160 : Board16;
    ClockWatch watch(board);
    TracingDevice trace(watch); // as quillon-sim keeps it for the bench's traffic list
    trace.setKeeping(true);
    trace.setLimit(500);
    sim::VirtualTechnician tech(board);
    MainForm form(trace, tech);
    BlurbForm blurb;
    form.setBlurbForm(&blurb);
    form.show();
    auto *go = form.findChild<QAbstractButton *>(QStringLiteral("CyclicGoButton"));
    auto *stop = form.findChild<QAbstractButton *>(QStringLiteral("CyclicStopButton"));
    auto *list = form.findChild<QListWidget *>(QStringLiteral("CyclicList"));
    if (!waitForDetection(form) || !go || !stop || !list) {
        state.SkipWithError("no detected board or no monitor controls");
        return;
    }
    // The list is updated when the listing's rows are in; the scan was ready at the
    // latest tick of the clock before that.
    std::vector<double> latencies;
    QObject::connect(list->model(), &QAbstractItemModel::rowsInserted, list, [&] {
        if (list->count() != form.state().board.ChannelCount)
            return;
        const std::int64_t since = sim::steadyMicros() - watch.startedUs;
        latencies.push_back(double(since % TickUs) / 1e6);
        if (latencies.size() % ScansPerGo == 0)
            stop->click();
    });
    double worst = 0.0;
    for (auto _ : state) {
        const std::size_t first = latencies.size();
        go->click(); // returns once Stop has ended the monitor
        if (latencies.size() < first + ScansPerGo) {
            state.SkipWithError("the monitor did not list every scan");
            return;
        }
        double sum = 0.0;
        for (std::size_t i = first; i < latencies.size(); ++i) {
            sum += latencies[i];
            worst = std::max(worst, latencies[i]);
        }
        state.SetIterationTime(sum / double(latencies.size() - first));
    }
    state.counters["worst_ms"] = worst * 1e3;
    state.counters["ratio"] = ratioTo(LatencyTargetSeconds);
    state.SetLabel("mean tick-to-list per scan (10 scans a Go); ratio: vs 5 ms; target < 1");
    form.close();
    QCoreApplication::processEvents();
}
BENCHMARK(BM_MonitorLatency)
    ->ArgName("channels")
    ->Arg(16)
    ->Arg(160)
    ->UseManualTime()
    ->Iterations(3)
    ->Unit(benchmark::kMillisecond);

} // namespace
} // namespace quillon::bench
