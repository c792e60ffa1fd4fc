// quillon-records on a store of 100,000 runs (each Test All with its eleven rows, its
// prompts, the EEPROM writes of D/A Cal Set and ARef Cal, and its measurements:
// about 60, every ladder channel of up to 16): `list --limit 50`,
// `show RUN`, `yield` and `yield` of one station as whole commands (opening the store
// included), each against 300 ms; `measurements --name 'ladder.*.ch05'` against 1 s.
// Nothing is cached between runs of a command.
//
// The records window on that store: its first page, and a filter change.
//
// The store is built once (a minute or so) and kept beside the benchmark program as
// records-100k-v4.sqlite; delete it to build it again.
#include "BenchStation.h"
#include "SyntheticStore.h"
#include "app/records/RecordsCli.h"
#include "app/records/RecordsWindow.h"
#include "app/records/RunsModel.h"
#include "records/Schema.h"

#include <QBuffer>
#include <QComboBox>
#include <QStandardPaths>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QSqlQuery>
#include <QTextStream>

namespace quillon::bench {
namespace {

constexpr int StoreRuns = 100000;
constexpr double AnswerSeconds = 0.3;

// The store's path, built on first use; empty (with why) if it could not be.
const QString &benchStore(QString *why)
{
    static QString path;
    static QString failure;
    if (path.isEmpty() && failure.isEmpty()) {
        const QString file =
            QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("records-100k-v4.sqlite"));
        bool complete = false;
        if (QFileInfo::exists(file)) {
            QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("bench-check"));
            db.setDatabaseName(file);
            if (db.open()) {
                QSqlQuery q(db);
                complete = q.exec(QStringLiteral("SELECT count(*) FROM run_ends")) && q.next()
                           && q.value(0).toInt() >= StoreRuns * 99 / 100;
                // A store built before the yield indexes existed is built again.
                complete = complete && records::hasYieldIndexes(db);
            }
            db.close();
            db = QSqlDatabase();
            QSqlDatabase::removeDatabase(QStringLiteral("bench-check"));
        }
        if (!complete) {
            std::fprintf(stderr, "bench: building %s (%d runs)...\n", qPrintable(file), StoreRuns);
            testing::SyntheticStore store(
                file, {QStringLiteral("line-a-1"), QStringLiteral("line-a-2"), QStringLiteral("line-b-1")});
            QElapsedTimer building;
            building.start();
            store.setMeasurements(true);
            if (store.isOpen())
                store.addMany(StoreRuns, 20261208);
            std::fprintf(stderr, "bench: built in %.1f s\n", double(building.elapsed()) / 1000.0);
            if (!store.isOpen())
                failure = store.error();
        }
        if (failure.isEmpty())
            path = file;
    }
    if (why)
        *why = failure;
    return path;
}

// Runs one quillon-records command; false (with the error line) when it failed.
bool command(const QStringList &arguments, QByteArray *output, QString *error)
{
    output->clear();
    QBuffer out(output);
    out.open(QIODevice::WriteOnly);
    QTextStream err(error);
    return records::runRecordsCommand(QStringList{QStringLiteral("quillon-records")} + arguments, out, err) == 0;
}

void measure(benchmark::State &state, const QStringList &arguments, double answerSeconds = AnswerSeconds)
{
    QString why;
    const QString &store = benchStore(&why);
    if (store.isEmpty()) {
        state.SkipWithError(why.toStdString().c_str());
        return;
    }
    QStringList args = QStringList{QStringLiteral("--db"), store} + arguments;
    QByteArray output;
    QString error;
    if (arguments.contains(QStringLiteral("show"))) {
        // A run from the middle of the store, by an 8-character prefix.
        if (!command({QStringLiteral("--db"), store, QStringLiteral("list"), QStringLiteral("--since"),
                      QStringLiteral("2026-02-01"), QStringLiteral("--until"), QStringLiteral("2026-02-01")},
                     &output, &error)
            || output.isEmpty()) {
            state.SkipWithError("no run to show");
            return;
        }
        args << QString::fromLatin1(output.left(8));
    }
    const QString label = QStringLiteral("vs %1 ms; target < 1").arg(answerSeconds * 1000.0);
    for (auto _ : state) {
        if (!command(args, &output, &error)) {
            state.SkipWithError(error.toStdString().c_str());
            return;
        }
        benchmark::DoNotOptimize(output.size());
    }
    state.counters["ratio"] = ratioTo(answerSeconds);
    state.SetLabel(label.toStdString());
}

void BM_RecordsList50(benchmark::State &state)
{
    measure(state, {QStringLiteral("list"), QStringLiteral("--limit"), QStringLiteral("50")});
}
BENCHMARK(BM_RecordsList50)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_RecordsShow(benchmark::State &state)
{
    measure(state, {QStringLiteral("show")});
}
BENCHMARK(BM_RecordsShow)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_RecordsYield(benchmark::State &state)
{
    measure(state, {QStringLiteral("yield")});
}
BENCHMARK(BM_RecordsYield)->Unit(benchmark::kMillisecond)->UseRealTime();

// A third of the store: the row results are reached through each chosen run.
void BM_RecordsYieldOneStation(benchmark::State &state)
{
    measure(state, {QStringLiteral("yield"), QStringLiteral("--station"), QStringLiteral("line-a-2")});
}
BENCHMARK(BM_RecordsYieldOneStation)->Unit(benchmark::kMillisecond)->UseRealTime();

// One measurement (channel 5 of the three ladder rows) of every run: about 285,000
// lines written, against 1 s.
void BM_RecordsMeasurementsByName(benchmark::State &state)
{
    measure(state, {QStringLiteral("measurements"), QStringLiteral("--name"), QStringLiteral("ladder.*.ch05")}, 1.0);
}
BENCHMARK(BM_RecordsMeasurementsByName)->Unit(benchmark::kMillisecond)->UseRealTime();

// The records window on the same store: from construction to its first page of runs
// shown (and the newest run's page filled), against 1 s.
void BM_RecordsWindowFirstPage(benchmark::State &state)
{
    QString why;
    const QString &store = benchStore(&why);
    if (store.isEmpty()) {
        state.SkipWithError(why.toStdString().c_str());
        return;
    }
    QStandardPaths::setTestModeEnabled(true); // no remembered filters
    for (auto _ : state) {
        records::RecordsWindow window(store);
        window.show();
        QCoreApplication::processEvents();
        if (!window.isOpen() || window.model()->rowCount() == 0) {
            state.SkipWithError("the window showed no runs");
            return;
        }
    }
    state.counters["ratio"] = ratioTo(1.0);
    state.SetLabel("vs 1 s; target < 1");
}
BENCHMARK(BM_RecordsWindowFirstPage)->Unit(benchmark::kMillisecond)->UseRealTime();

// A filter change in the open window: the station filter alternates between two
// stations and none, each answered with the run count, the first page and the first
// run's page; against 300 ms.
void BM_RecordsWindowFilterChange(benchmark::State &state)
{
    QString why;
    const QString &store = benchStore(&why);
    if (store.isEmpty()) {
        state.SkipWithError(why.toStdString().c_str());
        return;
    }
    QStandardPaths::setTestModeEnabled(true);
    records::RecordsWindow window(store);
    window.show();
    QCoreApplication::processEvents();
    QComboBox *station = window.stationBox();
    if (station->count() < 3) {
        state.SkipWithError("the store has fewer than two stations");
        return;
    }
    int next = 0;
    for (auto _ : state) {
        next = (next + 1) % 3;
        station->setCurrentIndex(next);
        window.applyFilter();
        QCoreApplication::processEvents();
        if (window.model()->rowCount() == 0) {
            state.SkipWithError("a filter showed no runs");
            return;
        }
    }
    state.counters["ratio"] = ratioTo(AnswerSeconds);
    state.SetLabel("vs 300 ms; target < 1");
}
BENCHMARK(BM_RecordsWindowFilterChange)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace
} // namespace quillon::bench
