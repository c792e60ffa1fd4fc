// (c) A whole Test All through the real main window (offscreen), the simulated board
// with zero latency and the virtual technician at every prompt, on 16- and
// 160-channel boards. Measured against the waits the tests must make anyway (A/D
// Clocks: 1 ms + 100 ms); target within 1.5x on the 16-channel board.
//
// Records: a 160-channel Test All with records on against the same with records off
// (ratio; target within 5 %), and the store's growth per 16-channel Test All.
//
// (d) Start-up: MainForm construction to the end of the first detection
// ("Detected"), against 0.5 s.
#include "BenchStation.h"

#include "ui/BlurbForm.h"
#include "app/station/MainForm.h"
#include "app/station/StationRecords.h"
#include "device/TracingDevice.h"
#include "sim/SimBoard.h"
#include "sim/VirtualTechnician.h"

#include <QAbstractButton>
#include <QCoreApplication>
#include <QFileInfo>
#include <QTemporaryDir>

#include <chrono>
#include <memory>

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

// A window on its own simulated board, recording into file when one is named.
struct Bench {
    Bench(quint32 productId, const QString &file) : sim(productId)
    {
        if (!file.isEmpty()) {
            records::RecordsSettings settings;
            settings.file = file;
            settings.station = QStringLiteral("bench");
            recording = StationRecords::create(settings, sim.trace, sim.tech, QStringLiteral("quillon-sim"), true);
        }
        form.emplace(recording ? recording->device() : sim.trace, recording ? recording->op() : sim.tech);
        if (recording)
            recording->attach(*form);
        form->setBlurbForm(&blurb);
        form->show();
        detected = waitForDetection(*form);
        testAll = form->findChild<QAbstractButton *>(QStringLiteral("TestAllButton"));
    }
    ~Bench()
    {
        form->close();
        QCoreApplication::processEvents();
        form.reset();
        recording.reset(); // the recorder finishes writing
    }
    Bench(const Bench &) = delete;
    Bench &operator=(const Bench &) = delete;

    // Seconds of one Test All; false unless it ended PASS.
    bool run(double &seconds)
    {
        const auto start = std::chrono::steady_clock::now();
        testAll->click();
        seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        return form->overallLabelText() == QLatin1String("PASS");
    }

    SimStation sim;
    std::unique_ptr<StationRecords> recording; // before the window that talks through it
    BlurbForm blurb;
    std::optional<MainForm> form;
    QAbstractButton *testAll = nullptr;
    bool detected = false;
};

// Records on and off, Test All after Test All in turn so that both see the same load.
void BM_TestAllRecordsOnVsOff(benchmark::State &state)
{
    QTemporaryDir dir;
    Bench off(Board160, {}), on(Board160, dir.filePath(QStringLiteral("bench.sqlite")));
    if (!off.detected || !on.detected || !off.testAll || !on.testAll) {
        state.SkipWithError("the first detection did not find the board");
        return;
    }
    double offSeconds = 0, onSeconds = 0, seconds = 0;
    bool passed = off.run(seconds) && on.run(seconds); // both warm, the schema created
    for (auto _ : state) {
        passed = off.run(seconds) && passed;
        offSeconds += seconds;
        passed = on.run(seconds) && passed;
        onSeconds += seconds;
        state.SetIterationTime(seconds);
    }
    if (!passed) {
        state.SkipWithError("a Test All did not end PASS");
        return;
    }
    state.counters["ratio"] = onSeconds / offSeconds;
    state.SetLabel("160 channels, records on vs off; target < 1.05");
}
BENCHMARK(BM_TestAllRecordsOnVsOff)->Iterations(8)->Unit(benchmark::kMillisecond)->UseManualTime();

// The file's growth per Test All, 16 channels: what a first Test All leaves (the
// schema, the session) is taken away.
void BM_StoreSizePerTestAll(benchmark::State &state)
{
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("size.sqlite"));
    bool passed = true;
    double seconds = 0;
    {
        Bench first(Board16, file);
        passed = first.detected && first.testAll && first.run(seconds);
    }
    const qint64 before = QFileInfo(file).size();
    qint64 runs = 0;
    {
        Bench bench(Board16, file);
        passed = passed && bench.detected && bench.testAll;
        for (auto _ : state) {
            passed = passed && bench.run(seconds);
            state.SetIterationTime(seconds);
            ++runs;
        }
    }
    if (!passed) {
        state.SkipWithError("a Test All did not end PASS");
        return;
    }
    state.counters["kB"] = double(QFileInfo(file).size() - before) / 1024.0 / double(runs);
    state.SetLabel("16 channels, records file growth per Test All (kB)");
}
BENCHMARK(BM_StoreSizePerTestAll)->Iterations(20)->Unit(benchmark::kMillisecond)->UseManualTime();

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
