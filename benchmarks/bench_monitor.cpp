// (b) The cyclic monitor's listing for a 160-channel board, against its 100 ms
// cycle (target below 1 %).
//
// BM_MonitorListing is the listing alone: the station's CyclicListing (the volts of
// every channel under its range code, CyclicVoltsText, the "i: text" lines).
// BM_MonitorCycle runs the station's own monitor loop (runCyclicMonitor) over the
// simulated board with a stepping clock, so every cycle is acquire + poll + listing
// with no real waiting: the listing plus everything around it.
#include "BenchStation.h"

#include "device/TracingDevice.h"
#include "sim/SimBoard.h"
#include "procedures/CyclicListing.h"
#include "procedures/ProductionTests.h"
#include "station/Detection.h"

#include <QStringList>

#include <array>
#include <cstdint>
#include <random>

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
        const QStringList listing = CyclicListing(samples.data(), count, block);
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
    if (!DetectBoard(trace, op, station).found) {
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
    if (view.listings != int(state.iterations()) * ListingsPerRun || view.lines.size() != station.Board.ChannelCount) {
        state.SkipWithError("the monitor did not list every cycle");
        return;
    }
    state.SetItemsProcessed(std::int64_t(view.listings));
    state.counters["ratio"] = benchmark::Counter(
        CycleSeconds * ListingsPerRun, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
    state.SetLabel("20 whole cycles per iteration; ratio: one cycle vs 100 ms; target < 0.01");
}
BENCHMARK(BM_MonitorCycle)->ArgName("channels")->Arg(160)->Arg(16)->UseRealTime();

} // namespace
} // namespace quillon::bench
