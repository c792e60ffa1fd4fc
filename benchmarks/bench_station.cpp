// (c) A whole Test All through the real main window (offscreen), the simulated board
// with zero latency and the virtual technician at every prompt, on 16- and
// 160-channel boards. Measured against the waits the tests must make anyway (A/D
// Clocks: 1 ms + 100 ms); target within 1.5x on the 16-channel board.
//
// (d) Start-up: MainForm construction to the end of the first detection
// ("Detected"), against 0.5 s.
#include "BenchStation.h"

#include "ui/BlurbForm.h"
#include "app/station/MainForm.h"
#include "device/TracingDevice.h"
#include "sim/SimBoard.h"
#include "sim/VirtualTechnician.h"

#include <QAbstractButton>
#include <QCoreApplication>

#include <optional>
#include <string>

namespace quillon::bench {
namespace {

constexpr double RequiredWaitSeconds = 0.101;
constexpr double StartupTargetSeconds = 0.5;

// The simulator as quillon-sim runs it, without its bench window: the library
// traffic is kept (bounded), the technician serves the event loop.
struct SimStation {
    explicit SimStation(quint32 productId) : trace(board), tech(board)
    {
        board.identity.productId = productId;
        board.requestLatencyUs = 0;
        board.scanLatencyUs = 0;
        trace.setKeeping(true);
        trace.setLimit(2000);
    }
    sim::SimBoard board;
    TracingDevice trace;
    sim::VirtualTechnician tech;
};

void BM_TestAll(benchmark::State &state)
{
    SimStation sim(quint32(state.range(0) == 160 ? Board160 : Board16));
    MainForm form(sim.trace, sim.tech);
    BlurbForm blurb;
    form.setBlurbForm(&blurb);
    form.show();
    if (!waitForDetection(form)) {
        state.SkipWithError("the first detection did not find the board");
        return;
    }
    auto *testAll = form.findChild<QAbstractButton *>(QStringLiteral("TestAllButton"));
    if (!testAll) {
        state.SkipWithError("no TestAllButton");
        return;
    }
    QString overall;
    for (auto _ : state) {
        testAll->click(); // runs every row to its end before it returns
        overall = form.overallLabelText();
    }
    if (overall != QLatin1String("PASS")) {
        QString failed;
        for (int i = 0; i < form.rowCount(); ++i)
            if (form.record(i).Status != TestStatus::Pass)
                failed += QString::number(i, 16).toUpper();
        const std::string why = ("Test All ended " + overall + ", rows not passed: " + failed).toStdString();
        state.SkipWithError(why.c_str());
        return;
    }
    state.counters["ratio"] = ratioTo(RequiredWaitSeconds);
    state.SetLabel(state.range(0) == 16 ? "vs 101 ms of required waits; target < 1.5" : "vs 101 ms of required waits");
    form.close();
    QCoreApplication::processEvents();
}
BENCHMARK(BM_TestAll)
    ->ArgName("channels")
    ->Arg(16)
    ->Arg(160)
    ->Iterations(8)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

void BM_StartupToDetected(benchmark::State &state)
{
    bool detected = true;
    for (auto _ : state) {
        std::optional<SimStation> sim(std::in_place, Board16);
        std::optional<MainForm> form(std::in_place, sim->trace, sim->tech);
        std::optional<BlurbForm> blurb(std::in_place);
        form->setBlurbForm(&*blurb);
        form->show();
        detected = waitForDetection(*form) && detected;

        state.PauseTiming();
        form->close();
        QCoreApplication::processEvents();
        form.reset();
        blurb.reset();
        sim.reset();
        QCoreApplication::processEvents();
        state.ResumeTiming();
    }
    if (!detected) {
        state.SkipWithError("a detection did not find the board");
        return;
    }
    state.counters["ratio"] = ratioTo(StartupTargetSeconds);
    state.SetLabel("MainForm construction to \"Detected\" vs 0.5 s; target < 1");
}
BENCHMARK(BM_StartupToDetected)->Iterations(10)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace
} // namespace quillon::bench
