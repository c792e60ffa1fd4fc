// The line database: how fast a station's uploader copies finished runs to a local
// PostgreSQL server (a private one, as the tests start it), through the station role
// and its row policies. Each iteration uploads N fresh runs (a Test All each: 12 rows,
// 10 prompts, 10 EEPROM writes) from a station's local store; N = 1,000 gives the
// throughput, N = 10,000 the catch-up after a long outage. Target: 1,000 runs/s.
#include "BenchStation.h"

#include "records/Schema.h"
#include "records/line/LineDatabase.h"
#include "records/line/LineUploader.h"
#include "support/PgServer.h"

#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>

namespace quillon::bench {
namespace {

constexpr double TargetRunsPerSecond = 1000.0;
const QString Station = QStringLiteral("bench-station");

struct LineFixture {
    QString error;
    QString url;
    QTemporaryDir dir;
    QString journalPath;
    QString stationId = records::newKey();
    QString sessionId = records::newKey();
    qint64 seq = 0;

    bool setUp()
    {
        testing::PgServer *pg = testing::sharedPgServer(&error);
        if (!pg)
            return false;
        const QString database = QStringLiteral("bench_") + records::newKey().left(8);
        QString connectionError;
        if (!pg->createDatabase(database) || !pg->psql(QStringLiteral("DROP ROLE IF EXISTS \"%1\"").arg(Station))
            || !pg->createRole(Station, QStringLiteral("bench"))) {
            error = pg->error();
            return false;
        }
        {
            const QString name = QStringLiteral("bench-admin");
            if (!records::openLineDatabase(records::LineDatabaseUrl::parse(pg->socketUrl(database)), name, &error))
                return false;
            QSqlDatabase admin = QSqlDatabase::database(name, false);
            QString report;
            const bool ok = records::initLineSchema(admin, &report, &error);
            admin.close();
            admin = QSqlDatabase();
            QSqlDatabase::removeDatabase(name);
            if (!ok || !pg->psql(QStringLiteral("GRANT quillon_station TO \"%1\"").arg(Station))) {
                error += pg->error();
                return false;
            }
        }
        qputenv("PGPASSWORD", "bench");
        url = pg->tcpUrl(Station, database);
        journalPath = dir.filePath(QStringLiteral("records.sqlite"));
        QSqlDatabase db;
        if (!records::openStoreFile(journalPath, QStringLiteral("bench-journal"), true, db, &error)
            || !records::ensureSchema(db, &error))
            return false;
        return exec(db, QStringLiteral("INSERT INTO stations (id, name, host, program, version, library, simulated, "
                                       "created_utc) VALUES ('%1', '%2', 'host', 'quillon-sim', '0.1.0', "
                                       "'sim', 1, '2026-12-08T10:00:00.000Z')")
                            .arg(stationId, Station))
               && exec(db, QStringLiteral("INSERT INTO sessions (id, station_id, started_utc, detection_label, "
                                          "product_id, variant, channel_count, dac_count, revision, firmware_reply, "
                                          "revision_reply, simulated) VALUES ('%1', '%2', '2026-12-08T10:00:01.000Z', "
                                          "'Detected', 4660, 'AI16', 16, 4, 'E', '01020304', 'a5', 1)")
                               .arg(sessionId, stationId));
    }

    bool exec(QSqlDatabase &db, const QString &sql)
    {
        QSqlQuery query(db);
        if (query.exec(sql))
            return true;
        error = query.lastError().text();
        return false;
    }

    // N finished runs, written as the station's store would (one transaction here).
    bool addRuns(int count)
    {
        QSqlDatabase db = QSqlDatabase::database(QStringLiteral("bench-journal"), false);
        db.transaction();
        QSqlQuery run(db), end(db), row(db), prompt(db), eeprom(db);
        run.prepare(QStringLiteral("INSERT INTO runs (id, station_id, session_id, seq, kind, row_digit, product_id, "
                                   "serial, started_utc, simulated) VALUES (?, ?, ?, ?, 'test-all', NULL, 4660, NULL, "
                                   "'2026-12-08T11:00:00.000Z', 1)"));
        end.prepare(QStringLiteral("INSERT INTO run_ends (run_id, ended_utc, end_state, overall) VALUES (?, "
                                   "'2026-12-08T11:00:09.000Z', 'completed', 'PASS')"));
        row.prepare(
            QStringLiteral("INSERT INTO row_results (id, run_id, seq, digit, name, status, label, fail_label, memo, "
                           "started_utc, ended_utc) VALUES (?, ?, ?, ?, 'A/D Ladder', 'pass', 'PASS', NULL, "
                           "'[\"Channel 0: 9.93 V\",\"Channel 1: 4.96 V\",\"PASS\"]', "
                           "'2026-12-08T11:00:01.000Z', '2026-12-08T11:00:02.000Z')"));
        prompt.prepare(
            QStringLiteral("INSERT INTO prompts (id, run_id, session_id, seq, kind, caption, text, answer, typed, "
                           "shown_utc, answered_utc) VALUES (?, ?, ?, ?, 'message', 'Jig', 'Connect the jig', "
                           "'OK', NULL, '2026-12-08T11:00:01.000Z', '2026-12-08T11:00:01.500Z')"));
        eeprom.prepare(QStringLiteral(
            "INSERT INTO eeprom_writes (id, run_id, seq, address, bytes, status, at_utc) VALUES (?, ?, ?, 7524, "
            "'3f8000003c23d70a3f8000003c23d70a3f8000003c23d70a3f8000003c23d70a', 0, "
            "'2026-12-08T11:00:05.000Z')"));
        bool ok = true;
        for (int i = 0; i < count && ok; ++i) {
            const QString id = records::newKey();
            run.addBindValue(id);
            run.addBindValue(stationId);
            run.addBindValue(sessionId);
            run.addBindValue(++seq);
            ok = run.exec();
            for (int k = 0; k < 12 && ok; ++k) {
                row.addBindValue(records::newKey());
                row.addBindValue(id);
                row.addBindValue(k);
                row.addBindValue(k + 1);
                ok = row.exec();
            }
            for (int k = 0; k < 10 && ok; ++k) {
                prompt.addBindValue(records::newKey());
                prompt.addBindValue(id);
                prompt.addBindValue(sessionId);
                prompt.addBindValue(k);
                ok = prompt.exec();
                eeprom.addBindValue(records::newKey());
                eeprom.addBindValue(id);
                eeprom.addBindValue(k);
                ok = ok && eeprom.exec();
            }
            end.addBindValue(id);
            ok = ok && end.exec();
        }
        if (!ok || !db.commit()) {
            error = QStringLiteral("cannot fill the local store");
            db.rollback();
            return false;
        }
        return true;
    }
};

void BM_LineUpload(benchmark::State &state)
{
    const QString missing = testing::PgServer::missingReason();
    if (!missing.isEmpty()) {
        state.SkipWithError(qPrintable(missing));
        return;
    }
    const int runs = int(state.range(0));
    LineFixture fixture;
    if (!fixture.setUp()) {
        state.SkipWithError(qPrintable(fixture.error));
        return;
    }
    records::LineUploader::Options options;
    options.url = fixture.url;
    options.journalPath = fixture.journalPath;
    options.stationName = Station;
    records::LineUploader uploader(options);
    uploader.start();
    uploader.drain(30000);
    for (auto _ : state) {
        state.PauseTiming();
        if (!fixture.addRuns(runs)) {
            state.SkipWithError(qPrintable(fixture.error));
            break;
        }
        state.ResumeTiming();
        if (!uploader.drain(600000)) {
            state.SkipWithError("the upload did not finish");
            break;
        }
    }
    state.counters["runs/s"] = benchmark::Counter(double(runs), benchmark::Counter::kIsIterationInvariantRate);
    state.counters["ratio"] = ratioTo(runs / TargetRunsPerSecond);
    state.SetLabel(runs >= 10000 ? "catch-up of 10,000 pending runs vs 1,000 runs/s; target < 1"
                                 : "upload throughput vs 1,000 runs/s; target < 1");
}
BENCHMARK(BM_LineUpload)
    ->ArgName("runs")
    ->Arg(1000)
    ->Arg(10000)
    ->Iterations(1)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

} // namespace
} // namespace quillon::bench
