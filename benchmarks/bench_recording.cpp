// Records on the GUI thread. Every prompt, EEPROM write, measurement and row the station records
// costs the GUI thread an enqueue (the writer thread owns the file); the target is
// well under 1 ms per event. The row end also waits until its result is committed
// (the durability promise: a verdict shown is on disk before the next row starts);
// that wait is measured separately, against the same 1 ms.
#include "BenchStation.h"

#include "records/Recorder.h"

#include <QTemporaryDir>

namespace quillon::bench {
namespace {

constexpr double Millisecond = 1e-3;

struct RecordsFixture {
    QTemporaryDir dir;
    std::unique_ptr<records::Recorder> recorder;

    RecordsFixture()
    {
        records::RecordWriter::Options options;
        options.path = dir.filePath(QStringLiteral("bench.sqlite"));
        options.spillDir = dir.filePath(QStringLiteral("spill"));
        records::StationIdentity station{QStringLiteral("bench"), QStringLiteral("host"), QStringLiteral("bench"),
                                         QStringLiteral("0"),     QStringLiteral("sim"),  true};
        recorder = std::make_unique<records::Recorder>(options, station);
        recorder->detectionStarting();
        recorder->detectionEnded(true, QStringLiteral("Detected"), BoardConfig{});
        recorder->testAllStarting();
    }
};

// range(0): 0 a prompt answered, 1 an EEPROM write.
void BM_RecordEvent(benchmark::State &state)
{
    RecordsFixture f;
    const QByteArray bytes(32, '\x5a');
    for (auto _ : state) {
        if (state.range(0) == 0)
            f.recorder->prompt(QStringLiteral("message"), QStringLiteral("A/D Jig Needed"),
                               QStringLiteral("Connect the jig, then press OK."), QStringLiteral("OK"), std::nullopt,
                               QStringLiteral("2026-12-08T14:45:31.123Z"), QStringLiteral("2026-12-08T14:45:32.456Z"));
        else
            f.recorder->eepromWrite(7524, bytes, 0);
    }
    state.counters["ratio"] = ratioTo(Millisecond);
    state.SetLabel(state.range(0) == 0 ? "prompt, GUI-thread cost vs 1 ms; target well under 1"
                                       : "EEPROM write, GUI-thread cost vs 1 ms; target well under 1");
    f.recorder->testAllEnded(true, QStringLiteral("PASS"));
    f.recorder->finish();
}
BENCHMARK(BM_RecordEvent)->ArgName("eeprom")->Arg(0)->Arg(1)->UseRealTime();

// One judged reading as the ladder rows report it, name built per call as they do.
void BM_RecordMeasurement(benchmark::State &state)
{
    RecordsFixture f;
    Measurement m;
    m.digit = 5;
    m.unit = "V";
    m.comparison = Comparison::Within;
    m.expected = 0.665;
    m.tolerance = 0.01;
    m.low = 0.655;
    m.high = 0.675;
    m.outcome = MeasureOutcome::Pass;
    int channel = 0;
    for (auto _ : state) {
        m.order = ++channel;
        m.name = QStringLiteral("ladder.se_unipolar.ch%1").arg(channel % 16, 2, 10, QLatin1Char('0'));
        m.value = 0.665 + 1e-4 * (channel % 7);
        f.recorder->measured(m);
    }
    state.counters["ratio"] = ratioTo(Millisecond);
    state.SetLabel("measurement, GUI-thread cost vs 1 ms; target well under 1");
    f.recorder->testAllEnded(true, QStringLiteral("PASS"));
    f.recorder->finish();
}
BENCHMARK(BM_RecordMeasurement)->UseRealTime();

// A row's end: the result enqueued and committed (full sync) before the call returns.
void BM_RowEndDurable(benchmark::State &state)
{
    RecordsFixture f;
    RowOutcome row;
    row.digit = 5;
    row.name = QStringLiteral("A/D SE Unipolar");
    row.status = TestStatus::Pass;
    row.label = QStringLiteral("PASS");
    row.memo = QStringList(16, QStringLiteral("\t0-10V: 0.665V, OK"));
    for (auto _ : state) {
        f.recorder->rowStarting(row.digit);
        f.recorder->rowEnded(row, false);
    }
    state.counters["ratio"] = ratioTo(Millisecond);
    state.SetLabel("row result committed before the next row, vs 1 ms");
    f.recorder->testAllEnded(true, QStringLiteral("PASS"));
    f.recorder->finish();
}
BENCHMARK(BM_RowEndDurable)->UseRealTime();

} // namespace
} // namespace quillon::bench
