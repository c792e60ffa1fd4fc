// Eight scripted stations record into one line database at once while the server is
// stopped without warning and started again: every run arrives exactly once, with its
// measurements, as each station's own file has it.
#include "records/line/LineDatabase.h"
#include "support/PgServer.h"
#include "support/QtPrinters.h"
#include "support/SqlRows.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

#include <memory>
#include <vector>

using namespace quillon::records;
using quillon::testing::rows;

namespace {

constexpr int kStations = 8;
constexpr int kRunsEach = 12;

// Everything recorded under one station name, table by table (upload columns aside).
QStringList stationText(const QSqlDatabase &db, const QString &station)
{
    const QString stations = QStringLiteral("(SELECT id FROM stations WHERE name = '%1')").arg(station);
    const QString runs = QStringLiteral("(SELECT id FROM runs WHERE station_id IN %1)").arg(stations);
    QStringList text;
    text << rows(db, QStringLiteral("SELECT * FROM stations WHERE id IN %1 ORDER BY id").arg(stations));
    text << rows(db, QStringLiteral("SELECT * FROM sessions WHERE station_id IN %1 AND id IN (SELECT session_id FROM "
                                    "runs) ORDER BY id")
                         .arg(stations));
    text << rows(db, QStringLiteral("SELECT id, station_id, session_id, seq, kind, row_digit, product_id, serial, "
                                    "started_utc, simulated FROM runs WHERE station_id IN %1 ORDER BY seq")
                         .arg(stations));
    for (const char *table : {"run_ends", "row_results", "prompts", "eeprom_writes"})
        text << rows(db,
                     QStringLiteral("SELECT * FROM %1 WHERE run_id IN %2 ORDER BY 1").arg(QLatin1String(table), runs));
    // Measurements run by run, in the order they were taken, each run's count first.
    const QStringList counts = rows(db, QStringLiteral("SELECT run_id, count(*) FROM measurements WHERE run_id IN "
                                                       "%1 GROUP BY run_id ORDER BY run_id")
                                            .arg(runs));
    EXPECT_EQ(counts.size(), kRunsEach) << qPrintable(station) << ": runs without measurements";
    text << counts;
    // Every value to the bit: a double reads back as the shortest text of its bits.
    text << rows(db, QStringLiteral("SELECT id, run_id, seq, digit, name, kind, unit, comparison, outcome, value, "
                                    "expected, tolerance, low, high FROM measurements WHERE run_id IN %1 "
                                    "ORDER BY run_id, seq")
                         .arg(runs));
    return text;
}

struct Connection {
    QString name;
    ~Connection()
    {
        if (QSqlDatabase::contains(name)) {
            QSqlDatabase::database(name, false).close();
            QSqlDatabase::removeDatabase(name);
        }
    }
    QSqlDatabase db() const { return QSqlDatabase::database(name, false); }
};

} // namespace

TEST(LineStations, EightStationsThroughAServerRestartEachRunOnce)
{
    QUILLON_REQUIRE_PG(pg);
    const QString database = QStringLiteral("line_stations");
    ASSERT_TRUE(pg->createDatabase(database)) << qPrintable(pg->error());
    Connection admin{QStringLiteral("stations-admin")};
    QString error;
    ASSERT_TRUE(openLineDatabase(LineDatabaseUrl::parse(pg->socketUrl(database)), admin.name, &error))
        << qPrintable(error);
    {
        QSqlDatabase db = admin.db();
        QString report;
        ASSERT_TRUE(initLineSchema(db, &report, &error)) << qPrintable(error);
    }

    // Passwords the libpq way: a password file named by PGPASSFILE.
    QTemporaryDir dir;
    QFile pgpass(dir.filePath(QStringLiteral("pgpass")));
    ASSERT_TRUE(pgpass.open(QIODevice::WriteOnly));
    pgpass.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    QStringList names;
    for (int i = 1; i <= kStations; ++i) {
        const QString name = QStringLiteral("line-st-%1").arg(i);
        names << name;
        pg->psql(QStringLiteral("DROP ROLE IF EXISTS \"%1\"").arg(name));
        ASSERT_TRUE(pg->createRole(name, QStringLiteral("pw-") + name));
        ASSERT_TRUE(pg->psql(QStringLiteral("GRANT quillon_station TO \"%1\"").arg(name)));
        pgpass.write(QStringLiteral("127.0.0.1:%1:%2:%3:pw-%3\n").arg(pg->port()).arg(database, name).toUtf8());
    }
    pgpass.close();

    // Runs with pauses between them (the monitor at 10 Hz), so that every station is
    // still testing while the server is away and when it is back.
    QStringList steps;
    for (int i = 0; i < kRunsEach; ++i) {
        steps << QStringLiteral("\"testAll\"");
        if (i % 4 == 3)
            steps << QStringLiteral("{\"monitor\": 15}");
    }
    std::vector<std::unique_ptr<QProcess>> stations;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove(QStringLiteral("PGPASSWORD"));
    environment.insert(QStringLiteral("PGPASSFILE"), pgpass.fileName());
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    for (const QString &name : names) {
        QFile scenario(dir.filePath(name + QStringLiteral(".json")));
        ASSERT_TRUE(scenario.open(QIODevice::WriteOnly));
        scenario.write(QStringLiteral("{\"records\": \"%1\", \"steps\": [%2]}")
                           .arg(dir.filePath(name + QStringLiteral(".sqlite")), steps.join(QLatin1Char(',')))
                           .toUtf8());
        scenario.close();
        auto process = std::make_unique<QProcess>();
        process->setProcessEnvironment(environment);
        process->setStandardOutputFile(QProcess::nullDevice());
        process->setStandardErrorFile(dir.filePath(name + QStringLiteral(".log")));
        process->start(QStringLiteral(QUILLON_SIM_BINARY),
                       {QStringLiteral("--scenario"), scenario.fileName(), QStringLiteral("--station"), name,
                        QStringLiteral("--line-db"), pg->tcpUrl(name, database)});
        stations.push_back(std::move(process));
    }

    // Some runs are up: the server goes away without warning, comes back shortly after.
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < 60000
           && rows(admin.db(), QStringLiteral("SELECT count(*) FROM runs")).value(0).toInt() < 4)
        QThread::msleep(50);
    admin.db().close();
    ASSERT_TRUE(pg->stop(true));
    QThread::msleep(1500);
    ASSERT_TRUE(pg->start()) << qPrintable(pg->error());

    for (auto &process : stations) {
        EXPECT_TRUE(process->waitForFinished(180000));
        EXPECT_EQ(process->exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(process->exitCode(), 0);
    }
    ASSERT_TRUE(admin.db().open());
    EXPECT_EQ(rows(admin.db(), QStringLiteral("SELECT count(*), count(DISTINCT id) FROM runs")),
              QStringList{QStringLiteral("%1|%1").arg(kStations * kRunsEach)});
    int stationsThatSawTheOutage = 0;
    for (const QString &name : names) {
        Connection journal{QStringLiteral("journal-") + name};
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), journal.name);
        db.setDatabaseName(dir.filePath(name + QStringLiteral(".sqlite")));
        db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY"));
        ASSERT_TRUE(db.open());
        const QStringList local = stationText(db, name);
        stationsThatSawTheOutage +=
            rows(db, QStringLiteral("SELECT count(*) > 0 FROM line_upload_errors")).value(0).toInt();
        EXPECT_EQ(rows(db, QStringLiteral("SELECT count(*) FROM run_ends")), QStringList{QString::number(kRunsEach)});
        EXPECT_EQ(stationText(admin.db(), name), local) << qPrintable(name);
        EXPECT_EQ(
            rows(admin.db(), QStringLiteral("SELECT DISTINCT uploaded_by FROM runs WHERE station_id IN (SELECT id "
                                            "FROM stations WHERE name = '%1')")
                                 .arg(name)),
            QStringList{name});
    }
    EXPECT_GT(stationsThatSawTheOutage, 0);
}
