// Records on the GUI thread. Every prompt, EEPROM write, measurement and row the station records
// costs the GUI thread an enqueue (the writer thread owns the file); the target is
// well under 1 ms per event. A run's end waits until its records are committed (the
// durability promise: a run's verdict is on disk before it is shown); that wait, for a
// row's Test button on its own, is measured separately, against the same 1 ms.
#include "BenchStation.h"

#include "records/RecordStore.h"
#include "records/Recorder.h"
#include "records/Schema.h"

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
    }
};

// range(0): 0 a prompt answered, 1 an EEPROM write.
void BM_RecordEvent(benchmark::State &state)
{
    RecordsFixture f;
    f.recorder->testAllStarting();
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
    f.recorder->testAllStarting();
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

// A row's Test button on its own: the row's run committed (full sync) before its
// verdict is shown.
void BM_RowRunDurable(benchmark::State &state)
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
    state.SetLabel("a row's own run committed before its verdict is shown, vs 1 ms");
    f.recorder->finish();
}
BENCHMARK(BM_RowRunDurable)->UseRealTime();

// The writer thread's side: a ladder row's worth of measurements (512) committed in one
// transaction, per record. What a Test All's end waits for is the last rows' records.
void BM_WriteMeasurements(benchmark::State &state)
{
    QTemporaryDir dir;
    records::RecordStore store(QStringLiteral("bench-writer"));
    QString why;
    if (!store.open(dir.filePath(QStringLiteral("w.sqlite")), &why)) {
        state.SkipWithError(why.toStdString().c_str());
        return;
    }
    const QString station = records::newKey(), run = records::newKey();
    QList<records::Record> head{{records::Table::Stations,
                                 {{"id", station},
                                  {"name", QStringLiteral("bench")},
                                  {"host", QStringLiteral("h")},
                                  {"program", QStringLiteral("bench")},
                                  {"version", QStringLiteral("0")},
                                  {"library", QStringLiteral("sim")},
                                  {"simulated", 1},
                                  {"created_utc", records::utcNow()}}},
                                {records::Table::Runs,
                                 {{"id", run},
                                  {"station_id", station},
                                  {"kind", QStringLiteral("test-all")},
                                  {"started_utc", records::utcNow()},
                                  {"simulated", 1}}}};
    if (!store.write(head, &why)) {
        state.SkipWithError(why.toStdString().c_str());
        return;
    }
    int order = 0;
    for (auto _ : state) {
        state.PauseTiming();
        QList<records::Record> batch;
        for (int i = 0; i < 512; ++i, ++order)
            batch.append({records::Table::Measurements,
                          {{"id", records::newOrderedKey()},
                           {"run_id", run},
                           {"seq", order},
                           {"digit", 5},
                           {"name", QStringLiteral("ladder.se_unipolar.ch%1").arg(i % 160, 3, 10, QLatin1Char('0'))},
                           {"value", 0.665 + 1e-4 * (i % 7)},
                           {"kind", QStringLiteral("number")},
                           {"unit", QStringLiteral("V")},
                           {"comparison", QStringLiteral("within")},
                           {"expected", 0.665},
                           {"tolerance", 0.3},
                           {"low", 0.365},
                           {"high", 0.965},
                           {"outcome", QStringLiteral("pass")}}});
        state.ResumeTiming();
        if (!store.write(batch, &why)) {
            state.SkipWithError(why.toStdString().c_str());
            return;
        }
    }
    state.SetItemsProcessed(state.iterations() * 512);
    state.SetLabel("512 measurements a transaction (full sync)");
}
BENCHMARK(BM_WriteMeasurements)->Iterations(50)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace
} // namespace quillon::bench
