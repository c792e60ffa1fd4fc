// The line database against a real PostgreSQL server: schema and roles, the uploader
// through outages, refused credentials and other schema versions.
#include "app/records/RecordsCli.h"
#include "records/SyntheticStore.h"
#include "records/Columns.h"
#include "records/Schema.h"
#include "records/line/LineDatabase.h"
#include "records/line/LineJournal.h"
#include "records/line/LineUploader.h"
#include "support/PgServer.h"
#include "support/SqlRows.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QStandardPaths>
#include <QTextStream>
#include <QRegularExpression>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTemporaryFile>
#include <QThread>
#include <QUuid>

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <mutex>

using namespace quillon::records;
using quillon::testing::PgServer;
using quillon::testing::rows;

namespace {

QString newId()
{
    return QUuid::createUuid().toString(QUuid::WithoutBraces);
}

QString uniqueName(const char *stem)
{
    return QLatin1String(stem) + QLatin1Char('_') + newId().left(8);
}

// A connection that closes itself.
struct Connection {
    QString name = newId();
    QSqlDatabase db() const { return QSqlDatabase::database(name, false); }
    ~Connection()
    {
        if (QSqlDatabase::contains(name)) {
            QSqlDatabase::database(name, false).close();
            QSqlDatabase::removeDatabase(name);
        }
    }
};

// A line database with the schema, and one station role (password "pw-<name>").
struct LineDb {
    QString name;
    QString station;
    bool make(PgServer *pg, const QString &stationName, QString *report = nullptr)
    {
        name = uniqueName("line");
        station = stationName;
        if (!pg->createDatabase(name))
            return false;
        Connection admin;
        QString error;
        QString text;
        if (!openLineDatabase(LineDatabaseUrl::parse(pg->socketUrl(name)), admin.name, &error)) {
            ADD_FAILURE() << qPrintable(error);
            return false;
        }
        QSqlDatabase db = admin.db();
        if (!initLineSchema(db, report ? report : &text, &error)) {
            ADD_FAILURE() << qPrintable(error);
            return false;
        }
        return addStation(pg, stationName);
    }
    bool addStation(PgServer *pg, const QString &stationName) const
    {
        pg->psql(QStringLiteral("DROP ROLE IF EXISTS \"%1\"").arg(stationName));
        return pg->createRole(stationName, QStringLiteral("pw-") + stationName)
               && pg->psql(QStringLiteral("GRANT quillon_station TO \"%1\"").arg(stationName));
    }
};

// A station's local store, and runs in it.
struct Journal {
    QTemporaryDir dir;
    Connection connection;
    QString stationId = newId();
    QString sessionId = newId();
    qint64 seq = 0;

    QString path() const { return dir.filePath(QStringLiteral("records.sqlite")); }

    void create(const QString &stationName)
    {
        QSqlDatabase db;
        QString why;
        ASSERT_TRUE(openStoreFile(path(), connection.name, true, db, &why)) << qPrintable(why);
        ASSERT_TRUE(ensureSchema(db, &why)) << qPrintable(why);
        exec(QStringLiteral("INSERT INTO stations (id, name, host, program, version, library, simulated, created_utc) "
                            "VALUES ('%1', '%2', 'host', 'quillon-sim', '0.1.0', 'sim', 1, "
                            "'2026-12-08T10:00:00.000Z')")
                 .arg(stationId, stationName));
        exec(QStringLiteral("INSERT INTO sessions (id, station_id, started_utc, detection_label, product_id, variant, "
                            "channel_count, dac_count, revision, firmware_reply, revision_reply, simulated) VALUES "
                            "('%1', '%2', '2026-12-08T10:00:01.000Z', 'Detected', 4660, "
                            "'AI16', 16, 4, 'E', '01020304', 'a5', 1)")
                 .arg(sessionId, stationId));
        exec(QStringLiteral(
                 "INSERT INTO prompts (id, run_id, session_id, seq, kind, caption, text, answer, typed, shown_utc, "
                 "answered_utc) VALUES ('%1', NULL, '%2', 0, 'retry-cancel', 'Detect', 'No board', "
                 "'Retry', NULL, '2026-12-08T10:00:00.500Z', '2026-12-08T10:00:00.900Z')")
                 .arg(newId(), sessionId));
    }

    void exec(const QString &sql)
    {
        QSqlQuery query(connection.db());
        ASSERT_TRUE(query.exec(sql)) << qPrintable(sql) << qPrintable(query.lastError().text());
    }

    // A Test All run with two rows, a prompt and an EEPROM write; `ended` adds its end row.
    QString addRun(bool ended = true)
    {
        QString run = newId();
        const qint64 n = ++seq;
        exec(QStringLiteral("INSERT INTO runs (id, station_id, session_id, seq, kind, row_digit, product_id, serial, "
                            "started_utc, simulated) VALUES ('%1', '%2', '%3', %4, 'test-all', NULL, 4660, NULL, "
                            "'2026-12-08T11:00:00.000Z', 1)")
                 .arg(run, stationId, sessionId)
                 .arg(n));
        for (int digit = 1; digit <= 2; ++digit)
            exec(QStringLiteral(
                     "INSERT INTO row_results (id, run_id, seq, digit, name, status, label, fail_label, memo, "
                     "started_utc, ended_utc) VALUES ('%1', '%2', %3, %3, 'Row %3', 'pass', 'PASS', NULL, "
                     "'[\"line \\\\ one\",\"it''s \\\"two\\\" \u00B1 3\"]', "
                     "'2026-12-08T11:00:01.000Z', '2026-12-08T11:00:02.000Z')")
                     .arg(newId(), run)
                     .arg(digit));
        exec(QStringLiteral("INSERT INTO prompts (id, run_id, session_id, seq, kind, caption, text, answer, typed, "
                            "shown_utc, answered_utc) VALUES ('%1', '%2', '%3', 1, 'text', 'DAC', 'Type the reading', "
                            "'OK', '9.99', '2026-12-08T11:00:01.000Z', '2026-12-08T11:00:01.500Z')")
                 .arg(newId(), run, sessionId));
        exec(QStringLiteral("INSERT INTO eeprom_writes (id, run_id, seq, address, bytes, status, at_utc) VALUES ('%1', "
                            "'%2', 1, 7666, 'beef', 4294967295, "
                            "'2026-12-08T11:00:01.700Z')")
                 .arg(newId(), run));
        if (ended)
            end(run);
        return run;
    }
    void end(const QString &run)
    {
        exec(QStringLiteral("INSERT INTO run_ends (run_id, ended_utc, end_state, overall) VALUES ('%1', "
                            "'2026-12-08T11:00:03.000Z', 'completed', 'PASS')")
                 .arg(run));
    }

    LineUploadStatus status()
    {
        LineUploadStatus s;
        QString error;
        QSqlDatabase db = connection.db();
        EXPECT_TRUE(readLineUploadStatus(db, &s, &error)) << qPrintable(error);
        return s;
    }
};

// The tables a run is made of, in one comparable text per table (uploaded_* aside).
QStringList recordText(const QSqlDatabase &db, const QString &runFilter)
{
    QStringList text;
    text << rows(db, QStringLiteral("SELECT id, station_id, session_id, seq, kind, row_digit, product_id, serial, "
                                    "started_utc, simulated FROM runs WHERE %1 ORDER BY seq")
                         .arg(runFilter));
    for (const char *table : {"run_ends", "row_results", "prompts", "eeprom_writes"}) {
        text << rows(db, QStringLiteral("SELECT * FROM %1 WHERE run_id IN (SELECT id FROM runs WHERE %2) ORDER BY 1")
                             .arg(QLatin1String(table), runFilter));
    }
    text << rows(db, QStringLiteral("SELECT * FROM sessions ORDER BY id"));
    text << rows(db, QStringLiteral("SELECT * FROM stations ORDER BY id"));
    text << rows(db, QStringLiteral("SELECT * FROM prompts WHERE run_id IS NULL ORDER BY id"));
    return text;
}

LineUploader::Options options(const QString &url, const Journal &journal, const QString &station)
{
    LineUploader::Options o;
    o.url = url;
    o.journalPath = journal.path();
    o.stationName = station;
    o.minRetryMs = 50;
    o.maxRetryMs = 400;
    return o;
}

// Waits (serving events) until `done` holds or ~20 s passed.
template <typename Pred>
bool eventually(Pred done)
{
    for (int i = 0; i < 400; ++i) {
        if (done())
            return true;
        QCoreApplication::processEvents();
        QThread::msleep(50);
    }
    return done();
}

} // namespace

TEST(LineDatabase, UrlsKeepPasswordsOutAndPassLibpqOptions)
{
    const auto url = LineDatabaseUrl::parse(QStringLiteral("postgresql://st1@db.line:6543/line?sslmode=verify-full"
                                                           "&sslrootcert=/etc/ssl/line ca.pem"));
    EXPECT_TRUE(url.error.isEmpty()) << qPrintable(url.error);
    EXPECT_EQ(url.host, QStringLiteral("db.line"));
    EXPECT_EQ(url.port, 6543);
    EXPECT_EQ(url.database, QStringLiteral("line"));
    EXPECT_EQ(url.user, QStringLiteral("st1"));
    EXPECT_TRUE(url.options.contains(QStringLiteral("sslmode=verify-full")));
    EXPECT_TRUE(url.options.contains(QStringLiteral("sslrootcert='/etc/ssl/line ca.pem'")));
    for (const char *bad : {"postgresql://st1:secret@db/line", "postgresql://st1@db/line?password=secret"}) {
        const auto refused = LineDatabaseUrl::parse(QLatin1String(bad));
        EXPECT_TRUE(refused.error.contains(QLatin1String("pgpass"))) << bad;
        EXPECT_FALSE(refused.error.contains(QLatin1String("secret"))) << bad;
    }
    EXPECT_FALSE(LineDatabaseUrl::parse(QStringLiteral("/var/lib/quillon/records.sqlite")).error.isEmpty());
}

TEST(LineDatabase, SchemaOnceAndStationRoleMayOnlyInsertAndReadItsOwn)
{
    QUILLON_REQUIRE_PG(pg);
    LineDb line;
    QString report;
    ASSERT_TRUE(line.make(pg, QStringLiteral("station-a"), &report));
    EXPECT_TRUE(report.contains(QLatin1String("GRANT SELECT, INSERT ON stations, sessions, runs")))
        << qPrintable(report);
    ASSERT_TRUE(line.addStation(pg, QStringLiteral("station-b")));

    // Twice is harmless.
    Connection admin;
    QString error;
    ASSERT_TRUE(openLineDatabase(LineDatabaseUrl::parse(pg->socketUrl(line.name)), admin.name, &error));
    QSqlDatabase adminDb = admin.db();
    ASSERT_TRUE(initLineSchema(adminDb, &report, &error)) << qPrintable(error);
    EXPECT_TRUE(report.contains(QLatin1String("nothing to do")));

    // Both stations upload a run.
    for (const QString &station : {QStringLiteral("station-a"), QStringLiteral("station-b")}) {
        Journal journal;
        journal.create(station);
        journal.addRun();
        qputenv("PGPASSWORD", ("pw-" + station).toUtf8());
        LineUploader uploader(options(pg->tcpUrl(station, line.name), journal, station));
        uploader.start();
        EXPECT_TRUE(uploader.drain(20000));
        EXPECT_EQ(journal.status().pendingRuns, 0);
    }

    qputenv("PGPASSWORD", "pw-station-a");
    Connection a;
    ASSERT_TRUE(
        openLineDatabase(LineDatabaseUrl::parse(pg->tcpUrl(QStringLiteral("station-a"), line.name)), a.name, &error))
        << qPrintable(error);
    qunsetenv("PGPASSWORD");
    // Its own rows only.
    EXPECT_EQ(rows(a.db(), QStringLiteral("SELECT DISTINCT uploaded_by FROM runs")), QStringList{"station-a"});
    EXPECT_EQ(rows(a.db(), QStringLiteral("SELECT count(*) FROM row_results")), QStringList{"2"});
    EXPECT_EQ(rows(a.db(), QStringLiteral("SELECT count(*) FROM stations")), QStringList{"1"});
    // Never an UPDATE or a DELETE, nor a run in another station's name.
    for (const char *sql : {"UPDATE runs SET serial = 'X'", "DELETE FROM row_results",
                            "UPDATE run_ends SET overall = "
                            "'PASS'",
                            "DELETE FROM runs", "TRUNCATE runs CASCADE",
                            "INSERT INTO runs (id, station_id, seq, kind, started_utc, simulated, uploaded_by) SELECT "
                            "'x', station_id, 99, 'row', started_utc, 1, 'station-b' FROM runs LIMIT 1"}) {
        QSqlQuery query(a.db());
        EXPECT_FALSE(query.exec(QLatin1String(sql))) << sql;
        const QString why = query.lastError().databaseText();
        EXPECT_TRUE(why.contains(QLatin1String("permission denied")) || why.contains(QLatin1String("row-level")))
            << sql << ": " << qPrintable(why);
    }
    EXPECT_EQ(rows(adminDb, QStringLiteral("SELECT count(*), count(DISTINCT uploaded_by) FROM runs")),
              QStringList{"2|2"});

    // A reader sees every station's records and changes none.
    ASSERT_TRUE(pg->createRole(QStringLiteral("line-reader"), QStringLiteral("pw-reader"))
                && pg->psql(QStringLiteral("GRANT quillon_reader TO \"line-reader\"")));
    qputenv("PGPASSWORD", "pw-reader");
    Connection reader;
    ASSERT_TRUE(openLineDatabase(LineDatabaseUrl::parse(pg->tcpUrl(QStringLiteral("line-reader"), line.name)),
                                 reader.name, &error))
        << qPrintable(error);
    qunsetenv("PGPASSWORD");
    EXPECT_EQ(rows(reader.db(), QStringLiteral("SELECT count(*) FROM runs")), QStringList{"2"});
    EXPECT_EQ(rows(reader.db(), QStringLiteral("SELECT count(*) FROM stations")), QStringList{"2"});
    QSqlQuery insert(reader.db());
    EXPECT_FALSE(insert.exec(QStringLiteral("INSERT INTO meta VALUES ('x', 'y')")));
    pg->psql(QStringLiteral("DROP OWNED BY \"line-reader\"; DROP ROLE \"line-reader\""), nullptr, line.name);
}

TEST(LineDatabase, UploadsInOrderOnceAndIdenticalThroughAnOutage)
{
    QUILLON_REQUIRE_PG(pg);
    LineDb line;
    ASSERT_TRUE(line.make(pg, QStringLiteral("st-outage")));
    Journal journal;
    journal.create(QStringLiteral("st-outage"));
    for (int i = 0; i < 5; ++i)
        journal.addRun();
    const QString open = journal.addRun(false); // still running: it and later runs wait

    // The station starts while the server is down: its runs wait locally.
    ASSERT_TRUE(pg->stop(true));
    qputenv("PGPASSWORD", "pw-st-outage");
    LineUploader uploader(
        options(pg->tcpUrl(QStringLiteral("st-outage"), line.name), journal, QStringLiteral("st-outage")));
    int failures = 0;
    QObject::connect(&uploader, &LineUploader::failed, &uploader, [&] { ++failures; });
    uploader.start();
    ASSERT_TRUE(eventually([&] { return failures > 0; }));
    EXPECT_EQ(journal.status().pendingRuns, 5);
    // Up again: the runs arrive by the back-off alone, the open one stays behind.
    ASSERT_TRUE(pg->start());
    ASSERT_TRUE(eventually([&] { return journal.status().pendingRuns == 0; }));
    Connection admin;
    QString error;
    ASSERT_TRUE(openLineDatabase(LineDatabaseUrl::parse(pg->socketUrl(line.name)), admin.name, &error));
    EXPECT_EQ(rows(admin.db(), QStringLiteral("SELECT count(*) FROM runs")), QStringList{"5"});

    // The server goes away without warning; runs keep ending locally.
    admin.db().close();
    ASSERT_TRUE(pg->stop(true));
    journal.end(open);
    journal.addRun();
    uploader.wake();
    ASSERT_TRUE(eventually([&] { return journal.status().lastError.contains(QLatin1String("cannot connect")); }));
    const LineUploadStatus down = journal.status();
    EXPECT_EQ(down.pendingRuns, 2);
    EXPECT_FALSE(down.lastError.contains(QLatin1String("pw-"))) << qPrintable(down.lastError);

    // Back: caught up by the back-off alone, without another wake.
    ASSERT_TRUE(pg->start());
    ASSERT_TRUE(eventually([&] { return journal.status().pendingRuns == 0; }));
    qunsetenv("PGPASSWORD");
    ASSERT_TRUE(admin.db().open());
    EXPECT_EQ(recordText(admin.db(), QStringLiteral("true")),
              recordText(journal.connection.db(), QStringLiteral("true")));
    EXPECT_EQ(rows(admin.db(), QStringLiteral("SELECT DISTINCT uploaded_by FROM runs")), QStringList{"st-outage"});

    // Forgetting the local progress sends everything again: nothing doubles.
    journal.exec(QStringLiteral("DELETE FROM line_uploads"));
    qputenv("PGPASSWORD", "pw-st-outage");
    ASSERT_TRUE(uploader.drain(20000));
    qunsetenv("PGPASSWORD");
    EXPECT_EQ(recordText(admin.db(), QStringLiteral("true")),
              recordText(journal.connection.db(), QStringLiteral("true")));
}

TEST(LineDatabase, RefusalsAreReportedAndTheJournalKept)
{
    QUILLON_REQUIRE_PG(pg);
    LineDb line;
    ASSERT_TRUE(line.make(pg, QStringLiteral("st-refused")));
    const QString other = uniqueName("other");
    ASSERT_TRUE(pg->createDatabase(other));
    ASSERT_TRUE(pg->psql(QStringLiteral("CREATE TABLE meta (key TEXT PRIMARY KEY, value TEXT NOT NULL); "
                                        "INSERT INTO meta VALUES ('schema_version', '7'); "
                                        "GRANT SELECT ON meta TO PUBLIC"),
                         nullptr, other));
    const QString unknownHost = QStringLiteral("no-such-host-").leftJustified(70, QLatin1Char('x'));
    struct Case {
        QString url;
        QByteArray password;
        const char *expected;
    };
    const Case cases[] = {
        {pg->tcpUrl(QStringLiteral("st-refused"), line.name), "wrong", "password authentication failed"},
        // A label longer than DNS allows: the resolver refuses the name without sending
        // a query anywhere (the tests talk to this machine only). The client library's
        // own words follow the locale, so only the station's part is checked.
        {QStringLiteral("postgresql://st-refused@/line?host=%1.invalid&port=5432").arg(unknownHost), "secret-x",
         "cannot connect to the line database"},
        {pg->tcpUrl(QStringLiteral("st-refused"), other), "pw-st-refused", "schema is version 7, newer"},
        {pg->tcpUrl(QStringLiteral("st-refused"), uniqueName("nodb")), "pw-st-refused", "does not exist"},
    };
    for (const Case &c : cases) {
        Journal journal;
        journal.create(QStringLiteral("st-refused"));
        journal.addRun();
        qputenv("PGPASSWORD", c.password);
        LineUploader uploader(options(c.url, journal, QStringLiteral("st-refused")));
        uploader.start();
        EXPECT_FALSE(uploader.drain(20000)) << qPrintable(c.url);
        const LineUploadStatus status = journal.status();
        EXPECT_EQ(status.pendingRuns, 1);
        EXPECT_TRUE(status.lastError.contains(QLatin1String(c.expected))) << qPrintable(status.lastError);
        EXPECT_FALSE(status.lastError.contains(QLatin1String(c.password))) << qPrintable(status.lastError);
    }
    qunsetenv("PGPASSWORD");
}

namespace {

// quillon-records as the command line runs it: exit status and standard output.
std::pair<int, QString> command(const QStringList &arguments)
{
    QByteArray out;
    QBuffer buffer(&out);
    buffer.open(QIODevice::WriteOnly);
    QString err;
    QTextStream errStream(&err);
    const int exit = runRecordsCommand(QStringList{QStringLiteral("quillon-records")} + arguments, buffer, errStream);
    errStream.flush();
    return {exit, QString::fromUtf8(out) + err};
}

} // namespace

TEST(LineDatabase, RecordsCommandsReadTheLineDatabaseAsAFile)
{
    QUILLON_REQUIRE_PG(pg);
    QStandardPaths::setTestModeEnabled(true); // nothing of the user's settings or cache
    const QString name = uniqueName("cli");
    ASSERT_TRUE(pg->createDatabase(name));
    const QString url = pg->socketUrl(name);
    auto [exit, text] = command({QStringLiteral("db"), QStringLiteral("init"), QStringLiteral("--db"), url,
                                 QStringLiteral("--station"), QStringLiteral("line-a")});
    ASSERT_EQ(exit, 0) << qPrintable(text);
    EXPECT_TRUE(text.contains(QLatin1String("GRANT quillon_station TO \"line-a\";"))) << qPrintable(text);
    std::tie(exit, text) = command({QStringLiteral("db"), QStringLiteral("init"), QStringLiteral("--db"), url});
    EXPECT_TRUE(text.contains(QLatin1String("nothing to do"))) << qPrintable(text);

    // Two stations' runs in one file.
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("records.sqlite"));
    QString firstRun;
    {
        quillon::testing::SyntheticStore store(path, {QStringLiteral("line-a"), QStringLiteral("line-b")},
                                               SchemaVersion);
        ASSERT_TRUE(store.isOpen()) << qPrintable(store.error());
        store.setMeasurements(true);
        store.addMany(40, 7);
        QSqlQuery first(store.database());
        ASSERT_TRUE(first.exec(QStringLiteral("SELECT id FROM runs ORDER BY rowid LIMIT 1")) && first.next());
        firstRun = first.value(0).toString();
        // Who tested and with which meter, as a station records them.
        for (const char *sql :
             {"UPDATE runs SET operator = 'E00' || (rowid % 3) WHERE rowid % 4 <> 0",
              "INSERT INTO run_instruments (id, run_id, seq, role, asset_id, kind, serial, due_on, status, note) "
              "SELECT id || '-m', id, 1, 'meter', 'M-' || (rowid % 2), 'meter', 'S' || (rowid % 2), '2027-01-31', "
              "CASE WHEN rowid % 5 = 0 THEN 'overdue' ELSE 'ok' END, "
              "CASE WHEN rowid % 5 = 0 THEN 'Meter was due.' END FROM runs WHERE kind = 'test-all'"})
            ASSERT_TRUE(first.exec(QLatin1String(sql))) << qPrintable(first.lastError().text());
    }
    // The register is kept on the line database; the uploader copies it to the station's file.
    std::tie(exit, text) = command({QStringLiteral("instruments"), QStringLiteral("add"), QStringLiteral("M-1"),
                                    QStringLiteral("--kind"), QStringLiteral("meter"), QStringLiteral("--due"),
                                    QStringLiteral("2027-01-31"), QStringLiteral("--db"), url});
    ASSERT_EQ(exit, 0) << qPrintable(text);
    const QStringList status = {QStringLiteral("status"), QStringLiteral("--db"), path, QStringLiteral("--line-db"),
                                url};
    std::tie(exit, text) = command(status);
    EXPECT_TRUE(text.contains(QLatin1String("Pending runs   40\nUploaded runs  0\nLast upload    never")))
        << qPrintable(text);
    for (const QString &station : {QStringLiteral("line-a"), QStringLiteral("line-b")}) {
        LineUploader::Options o;
        o.url = url;
        o.journalPath = path;
        o.stationName = station;
        LineUploader uploader(o);
        uploader.start();
        ASSERT_TRUE(uploader.drain(30000));
    }
    std::tie(exit, text) = command(status);
    EXPECT_EQ(exit, 0);
    EXPECT_TRUE(text.contains(QLatin1String("Pending runs   0\nUploaded runs  40\n"))) << qPrintable(text);
    EXPECT_TRUE(text.contains(
        QStringLiteral("Last error     none\nServer now     reachable, schema version %1").arg(lineSchemaVersion())))
        << qPrintable(text);

    const QList<QStringList> reads = {
        {QStringLiteral("list")},
        {QStringLiteral("list"), QStringLiteral("--station"), QStringLiteral("line-b")},
        {QStringLiteral("list"), QStringLiteral("--verdict"), QStringLiteral("fail"), QStringLiteral("--since"),
         QStringLiteral("2026-01-05T06:30")},
        {QStringLiteral("show"), firstRun.left(8)},
        {QStringLiteral("export"), QStringLiteral("--format"), QStringLiteral("json"), QStringLiteral("--station"),
         QStringLiteral("line-a")},
        {QStringLiteral("export"), QStringLiteral("--format"), QStringLiteral("csv")},
        {QStringLiteral("export"), QStringLiteral("--format"), QStringLiteral("junit"), QStringLiteral("--limit"),
         QStringLiteral("5")},
        {QStringLiteral("list"), QStringLiteral("--operator"), QStringLiteral("E001")},
        {QStringLiteral("list"), QStringLiteral("--instrument"), QStringLiteral("M-1"), QStringLiteral("--until"),
         QStringLiteral("2026-01-05T06:30")},
        {QStringLiteral("instruments"), QStringLiteral("list")},
        {QStringLiteral("yield")},
        {QStringLiteral("yield"), QStringLiteral("--station"), QStringLiteral("line-a")},
        {QStringLiteral("measurements")},
        {QStringLiteral("measurements"), QStringLiteral("--name"), QStringLiteral("ladder.*.ch0[5-7]"),
         QStringLiteral("--station"), QStringLiteral("line-b")},
        {QStringLiteral("measurements"), QStringLiteral("--name"), QStringLiteral("dac?.*"),
         QStringLiteral("--verdict"), QStringLiteral("fail"), QStringLiteral("--limit"), QStringLiteral("3")},
    };
    for (const QStringList &read : reads) {
        const auto fromFile = command(read + QStringList{QStringLiteral("--db"), path});
        const auto fromLine = command(read + QStringList{QStringLiteral("--db"), url});
        EXPECT_EQ(fromFile.first, 0) << qPrintable(read.join(QLatin1Char(' '))) << qPrintable(fromFile.second);
        EXPECT_EQ(fromLine, fromFile) << qPrintable(read.join(QLatin1Char(' ')));
    }
    EXPECT_EQ(command({QStringLiteral("list"), QStringLiteral("--db"), url}).second.count(QLatin1Char('\n')), 40);
    EXPECT_TRUE(command({QStringLiteral("instruments"), QStringLiteral("list"), QStringLiteral("--db"), path})
                    .second.startsWith(QLatin1String("M-1  meter  -  serial -  calibrated -  due 2027-01-31  ")));
    EXPECT_TRUE(command({QStringLiteral("measurements"), QStringLiteral("--name"), QStringLiteral("ladder.*.ch06"),
                         QStringLiteral("--db"), url})
                    .second.contains(QLatin1String("  ladder.se_bipolar.ch06  ")));
    const QString pdf = dir.filePath(QStringLiteral("run.pdf"));
    std::tie(exit, text) = command(
        {QStringLiteral("certificate"), firstRun, QStringLiteral("--output"), pdf, QStringLiteral("--db"), url});
    EXPECT_EQ(exit, 0) << qPrintable(text);
    EXPECT_GT(QFileInfo(pdf).size(), 1000);
}

TEST(LineDatabase, ALongOutageWarnsOnce)
{
    Journal journal;
    journal.create(QStringLiteral("st-away"));
    journal.addRun();
    LineUploader::Options o = options(QStringLiteral("postgresql://st-away@127.0.0.1:1/line?sslmode=disable"), journal,
                                      QStringLiteral("st-away"));
    o.outageWarningSeconds = 1;
    LineUploader uploader(o);
    QStringList warnings;
    QObject::connect(&uploader, &LineUploader::longOutage, &uploader, [&](const QString &text) { warnings << text; });
    uploader.start();
    ASSERT_TRUE(eventually([&] { return !warnings.isEmpty(); }));
    const int attempts = 8; // a few more failed tries of the same outage
    for (int i = 0; i < attempts; ++i) {
        uploader.wake();
        QThread::msleep(100);
        QCoreApplication::processEvents();
    }
    EXPECT_EQ(warnings.size(), 1);
    EXPECT_TRUE(warnings.value(0).contains(
        QLatin1String("cannot connect to the line database postgresql://st-away@127.0.0.1:1/line")))
        << qPrintable(warnings.value(0));
    EXPECT_TRUE(warnings.value(0).contains(QLatin1String("Testing goes on"))) << qPrintable(warnings.value(0));
}

// A line upgrades one station at a time: a server one schema version ahead (a later
// build's migration, here a column of its own) still takes this station's runs, once,
// and reads as before; a server older than a station needs is refused, the runs kept.
TEST(LineDatabase, RollingUpgradeOneVersionApart)
{
    QUILLON_REQUIRE_PG(pg);
    LineDb line;
    ASSERT_TRUE(line.make(pg, QStringLiteral("st-roll")));
    const int ahead = lineSchemaVersion() + 1;
    ASSERT_TRUE(pg->psql(QStringLiteral("ALTER TABLE runs ADD COLUMN later_note TEXT NOT NULL DEFAULT 'later';"
                                        "UPDATE meta SET value = '%1' WHERE key = 'schema_version'")
                             .arg(ahead),
                         nullptr, line.name));
    const QString url = pg->tcpUrl(QStringLiteral("st-roll"), line.name);
    Journal journal;
    journal.create(QStringLiteral("st-roll"));
    journal.addRun();
    journal.addRun();
    qputenv("PGPASSWORD", "pw-st-roll");
    {
        LineUploader uploader(options(url, journal, QStringLiteral("st-roll")));
        uploader.start();
        ASSERT_TRUE(uploader.drain(20000)) << qPrintable(journal.status().lastError);
        // Sent again from scratch: nothing doubles.
        journal.exec(QStringLiteral("DELETE FROM line_uploads"));
        ASSERT_TRUE(uploader.drain(20000));
    }
    Connection admin;
    QString error;
    ASSERT_TRUE(openLineDatabase(LineDatabaseUrl::parse(pg->socketUrl(line.name)), admin.name, &error));
    EXPECT_EQ(rows(admin.db(), QStringLiteral("SELECT count(*), min(later_note) FROM runs")), QStringList{"2|later"});
    EXPECT_EQ(recordText(admin.db(), QStringLiteral("true")),
              recordText(journal.connection.db(), QStringLiteral("true")));
    const auto fromLine = command({QStringLiteral("list"), QStringLiteral("--db"), url});
    EXPECT_EQ(fromLine, command({QStringLiteral("list"), QStringLiteral("--db"), journal.path()}));
    EXPECT_TRUE(
        command({QStringLiteral("status"), QStringLiteral("--db"), journal.path(), QStringLiteral("--line-db"), url})
            .second.contains(QStringLiteral("Server now     reachable, schema version %1").arg(ahead)));

    // A later build of the station meets this server as too old.
    setLineSchemaVersionForTests(ahead + 1);
    journal.addRun();
    {
        LineUploader uploader(options(url, journal, QStringLiteral("st-roll")));
        uploader.start();
        EXPECT_FALSE(uploader.drain(20000));
    }
    const auto status =
        command({QStringLiteral("status"), QStringLiteral("--db"), journal.path(), QStringLiteral("--line-db"), url});
    EXPECT_EQ(journal.status().pendingRuns, 1);
    // Its administrator migrates the server in place; the run goes up.
    const auto init =
        command({QStringLiteral("db"), QStringLiteral("init"), QStringLiteral("--db"), pg->socketUrl(line.name)});
    EXPECT_TRUE(init.second.contains(QStringLiteral("from schema version %1 to %2 in place").arg(ahead).arg(ahead + 1)))
        << qPrintable(init.second);
    {
        LineUploader uploader(options(url, journal, QStringLiteral("st-roll")));
        uploader.start();
        EXPECT_TRUE(uploader.drain(20000)) << qPrintable(journal.status().lastError);
    }
    setLineSchemaVersionForTests(0);
    qunsetenv("PGPASSWORD");
    EXPECT_EQ(journal.status().pendingRuns, 0);
    EXPECT_TRUE(status.second.contains(
        QStringLiteral("Server now     the line database's schema is version %1, older than this station's %2: its "
                       "administrator runs quillon-records db init --db URL")
            .arg(ahead)
            .arg(ahead + 1)))
        << qPrintable(status.second);
}

// Both backends hold exactly the columns of the column table, in the order its versions
// added them, with their types.
TEST(LineDatabase, BothBackendsHaveTheColumnTable)
{
    QUILLON_REQUIRE_PG(pg);
    LineDb line;
    ASSERT_TRUE(line.make(pg, QStringLiteral("st-cols")));
    Journal journal;
    journal.create(QStringLiteral("st-cols"));
    Connection admin;
    QString error;
    ASSERT_TRUE(openLineDatabase(LineDatabaseUrl::parse(pg->socketUrl(line.name)), admin.name, &error));
    // The type of a declaration: what comes before its constraints.
    const auto typeOf = [](const char *declaration) {
        static const QRegularExpression constraints(QStringLiteral(" (NOT NULL|PRIMARY KEY|REFERENCES|DEFAULT).*$"));
        return QString::fromLatin1(declaration).remove(constraints).toLower();
    };
    for (const TableInfo &table : tables()) {
        const QString name = QLatin1String(table.name);
        for (const Backend backend : {Backend::File, Backend::Line}) {
            if (table.backend != Backend::Both && table.backend != backend)
                continue;
            QList<const Column *> columns = columnsAt(table, backend);
            std::stable_sort(columns.begin(), columns.end(),
                             [](const Column *a, const Column *b) { return a->since < b->since; });
            QStringList expected;
            for (const Column *c : std::as_const(columns))
                expected << QLatin1String(c->name) + QLatin1Char(' ')
                                + typeOf(backend == Backend::File ? c->sqlite : c->postgres);
            const QStringList found =
                backend == Backend::File
                    ? rows(journal.connection.db(),
                           QStringLiteral("SELECT name || ' ' || lower(type) FROM pragma_table_info('%1') ORDER BY cid")
                               .arg(name))
                    : rows(admin.db(), QStringLiteral("SELECT column_name || ' ' || data_type FROM "
                                                      "information_schema.columns WHERE table_name = '%1' AND "
                                                      "table_schema = 'public' ORDER BY ordinal_position")
                                           .arg(name));
            EXPECT_EQ(found.join(QLatin1String(", ")), expected.join(QLatin1String(", ")))
                << table.name << (backend == Backend::File ? " in a file" : " on the line");
        }
    }
}

namespace {

// What the process writes to its standard error and logs, while it lives.
class ProcessOutput {
public:
    ProcessOutput()
    {
        EXPECT_TRUE(m_file.open());
        std::fflush(stderr);
        m_saved = dup(STDERR_FILENO);
        dup2(m_file.handle(), STDERR_FILENO);
        logged().clear();
        m_previous = qInstallMessageHandler([](QtMsgType, const QMessageLogContext &context, const QString &text) {
            const std::lock_guard lock(mutex());
            logged() << QLatin1String(context.category) + QStringLiteral(": ") + text;
        });
    }
    ~ProcessOutput() { stop(); }
    ProcessOutput(const ProcessOutput &) = delete;
    ProcessOutput &operator=(const ProcessOutput &) = delete;

    // Stops listening; returns the standard error written meanwhile.
    QString stop()
    {
        if (m_saved >= 0) {
            qInstallMessageHandler(m_previous);
            std::fflush(stderr);
            dup2(m_saved, STDERR_FILENO);
            close(m_saved);
            m_saved = -1;
        }
        m_file.seek(0);
        return QString::fromUtf8(m_file.readAll());
    }
    static QStringList logs()
    {
        const std::lock_guard lock(mutex());
        return logged();
    }

private:
    static QStringList &logged()
    {
        static QStringList lines;
        return lines;
    }
    static std::mutex &mutex()
    {
        static std::mutex m;
        return m;
    }
    QTemporaryFile m_file;
    int m_saved = -1;
    QtMessageHandler m_previous = nullptr;
};

} // namespace

TEST(LineDatabase, ClientNoticesGoToTheLogCategoryNotRawToStandardError)
{
    QUILLON_REQUIRE_PG(pg);
    LineDb line;
    ASSERT_TRUE(line.make(pg, QStringLiteral("st-notice")));
    Journal journal;
    journal.create(QStringLiteral("st-notice"));
    journal.addRun();
    qputenv("PGPASSWORD", "pw-st-notice");
    LineUploader uploader(
        options(pg->tcpUrl(QStringLiteral("st-notice"), line.name), journal, QStringLiteral("st-notice")));
    uploader.start();
    ASSERT_TRUE(eventually([&] { return journal.status().pendingRuns == 0; }));

    // The server stops under the station's connection; its next upload hears why.
    ProcessOutput output;
    ASSERT_TRUE(pg->stop(true));
    journal.addRun();
    uploader.wake();
    const bool failed = eventually([&] { return !journal.status().lastError.isEmpty(); });
    const QString err = output.stop();
    qunsetenv("PGPASSWORD");
    ASSERT_TRUE(pg->start());
    ASSERT_TRUE(failed);
    EXPECT_FALSE(err.contains(QLatin1String("terminating connection"))) << qPrintable(err);
    const QStringList notices = ProcessOutput::logs().filter(QStringLiteral("terminating connection"));
    ASSERT_EQ(notices.size(), 1) << qPrintable(ProcessOutput::logs().join(QLatin1Char('\n')));
    EXPECT_TRUE(notices[0].startsWith(QLatin1String("quillon.records.line: line database: WARNING:")))
        << qPrintable(notices[0]);
}
