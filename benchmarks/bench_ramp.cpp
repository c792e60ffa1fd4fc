// (a) The station's own cost per D/A Ramp iteration: the DACMultiDirect frame, the
// library call through the TracingDevice into the simulated board (no latency), one
// pass of the event loop with the main window and the scope question up, and
// IsDone(). A real board takes at least one 125 us USB microframe per control
// transfer; the station's share should stay below 5 % of that.
#include "BenchStation.h"

#include "app/station/MainForm.h"
#include "device/DacRequests.h"
#include "device/TracingDevice.h"
#include "sim/SimBoard.h"
#include "ui/QtOperator.h"

#include <QCoreApplication>

#include <array>

namespace quillon::bench {
namespace {

constexpr double MicroframeSeconds = 125e-6;
constexpr quint16 RampStep = 511;

// range(0): 1 keeps the library traffic as quillon-sim's bench window does (a
// bounded call log), 0 forwards only (the production station keeps no log).
void BM_RampIteration(benchmark::State &state)
{
    sim::SimBoard board;
    board.requestLatencyUs = 0;
    board.scanLatencyUs = 0;
    TracingDevice trace(board);
    const bool keeping = state.range(0) != 0;
    trace.setKeeping(keeping);
    trace.setLimit(2000);
    QtOperator op;
    MainForm form(trace, op);
    op.setMainWindow(&form);
    form.show();
    if (!waitForDetection(form)) {
        state.SkipWithError("the first detection did not find the board");
        return;
    }

    const std::unique_ptr<AsyncQuestion> question =
        op.startQuestion(QStringLiteral("Scope Check"), QStringLiteral("Are both saw teeth good?"));
    quint16 code = 0;
    quint32 firstError = 0;
    bool answered = false;
    for (auto _ : state) {
        code = quint16(code + RampStep);
        const quint16 falling = quint16(~code);
        const std::array<quint16, 4> codes{code, falling, code, falling};
        const quint32 status = DACMultiDirect(trace, diOnly, codes, false);
        if (firstError == 0)
            firstError = status;
        op.processEvents();
        answered = answered || question->isDone();
    }
    if (firstError != 0 || answered)
        state.SkipWithError("a DAC write failed or the question closed by itself");
    state.counters["ratio"] = ratioTo(MicroframeSeconds);
    state.SetLabel(keeping ? "vs 125 us microframe, traffic kept; target < 0.05"
                           : "vs 125 us microframe, traffic not kept; target < 0.05");
    op.abandonAll();
}
BENCHMARK(BM_RampIteration)->ArgName("keep")->Arg(1)->Arg(0)->UseRealTime();

// The simulated board alone, for scale: the part of the figure above that stands in
// for the USB transfer.
void BM_RampBoardOnly(benchmark::State &state)
{
    sim::SimBoard board;
    quint16 code = 0;
    for (auto _ : state) {
        code = quint16(code + RampStep);
        const quint16 falling = quint16(~code);
        const std::array<quint16, 4> codes{code, falling, code, falling};
        benchmark::DoNotOptimize(DACMultiDirect(board, diOnly, codes, false));
    }
    state.counters["ratio"] = ratioTo(MicroframeSeconds);
    state.SetLabel("simulated board alone, vs 125 us microframe");
}
BENCHMARK(BM_RampBoardOnly)->UseRealTime();

} // namespace
} // namespace quillon::bench
