// (b) The cyclic monitor's listing for a 160-channel board, against its 100 ms
// cycle (target below 1 %).
//
// BM_MonitorListing is the listing alone: the volts of every channel under its range
// code, CyclicVoltsText, and the "i: text" lines, as the monitor builds them.
// BM_MonitorCycle runs the station's own monitor loop (runCyclicMonitor) over the
// simulated board with a stepping clock, so every cycle is acquire + poll + listing
// with no real waiting: the listing plus everything around it.
#include "BenchStation.h"

#include "board/TracingDevice.h"
#include "sim/SimBoard.h"
#include "tests/Formats.h"
#include "tests/ProductionTests.h"
#include "board/Detection.h"

#include <QStringList>

#include <array>
#include <cstdint>
#include <random>

namespace quillon::bench {
namespace {

constexpr double CycleSeconds = 0.100;

// The monitor's conversion of one raw sample under a range code.
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

void BM_MonitorListing(benchmark::State &state)
{
    const int count = int(state.range(0));
    std::array<std::uint16_t, MaxChannels> samples{};
    std::mt19937 rng(7);
    for (auto &s : samples)
        s = std::uint16_t(rng());
    std::array<std::uint8_t, 16> codes;
    codes.fill(1);
    for (auto _ : state) {
        QStringList listing;
        listing.reserve(count);
        for (int i = 0; i < count; ++i) {
            const double volts = sampleVolts(samples[std::size_t(i)], codes[std::size_t(i % 16)]);
            listing.append(QString::number(i, 16).toUpper() + QStringLiteral(": ") + CyclicVoltsText(volts));
        }
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
    if (view.listings != int(state.iterations()) * ListingsPerRun
        || view.lines.size() != station.Board.ChannelCount) {
        state.SkipWithError("the monitor did not list every cycle");
        return;
    }
    state.SetItemsProcessed(std::int64_t(view.listings));
    state.counters["ratio"] = benchmark::Counter(CycleSeconds * ListingsPerRun,
                                                 benchmark::Counter::kIsIterationInvariantRate
                                                     | benchmark::Counter::kInvert);
    state.SetLabel("20 whole cycles per iteration; ratio: one cycle vs 100 ms; target < 0.01");
}
BENCHMARK(BM_MonitorCycle)->ArgName("channels")->Arg(160)->Arg(16)->UseRealTime();

} // namespace
} // namespace quillon::bench
