// The records file: schema checks, two stations writing one file at once, and a file
// that cannot be written (records kept, then saved to JSON at the end).
#include "records/RecordStore.h"
#include "records/RecordWriter.h"
#include "records/Schema.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonArray>
#include <QSqlQuery>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <thread>

using namespace quillon::records;

namespace {

Record station(const QString &id, const QString &name)
{
    return {Table::Stations,
            {{"id", id},
             {"name", name},
             {"host", QStringLiteral("host")},
             {"program", QStringLiteral("test")},
             {"version", QStringLiteral("0")},
             {"library", QStringLiteral("lib")},
             {"simulated", 1},
             {"created_utc", utcNow()}}};
}

Record run(const QString &id, const QString &stationId)
{
    return {Table::Runs,
            {{"id", id},
             {"station_id", stationId},
             {"kind", QStringLiteral("test-all")},
             {"product_id", 0x8040},
             {"started_utc", utcNow()},
             {"simulated", 1}}};
}

Record runEnd(const QString &id)
{
    return {Table::RunEnds,
            {{"run_id", id},
             {"ended_utc", utcNow()},
             {"end_state", QStringLiteral("completed")},
             {"overall", QStringLiteral("PASS")}}};
}

// Runs fn on a connection of its own to path.
template <typename Fn>
void withFile(const QString &path, Fn fn)
{
    {
        QSqlDatabase db;
        QString reason;
        ASSERT_TRUE(openStoreFile(path, QStringLiteral("probe"), true, db, &reason)) << qPrintable(reason);
        fn(db);
        db.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("probe"));
}

int count(QSqlDatabase &db, const QString &sql)
{
    QSqlQuery q(db);
    EXPECT_TRUE(q.exec(sql)) << qPrintable(sql);
    return q.next() ? q.value(0).toInt() : -1;
}

} // namespace

TEST(RecordsStore, RefusesFilesItMustNotWrite)
{
    QTemporaryDir dir;
    const QString newer = dir.filePath(QStringLiteral("newer.sqlite"));
    {
        RecordStore store(QStringLiteral("a"));
        QString reason;
        ASSERT_TRUE(store.open(newer, &reason)) << qPrintable(reason);
        QSqlQuery(store.database()).exec(QStringLiteral("UPDATE meta SET value = '7' WHERE key = 'schema_version'"));
    }
    const QString other = dir.filePath(QStringLiteral("other.sqlite"));
    withFile(other, [](QSqlDatabase &db) { QSqlQuery(db).exec(QStringLiteral("CREATE TABLE t (x)")); });
    const QString junk = dir.filePath(QStringLiteral("junk.sqlite"));
    QFile f(junk);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(QByteArray(8192, 'x'));
    f.close();

    const struct {
        QString path;
        const char *reason;
    } cases[] = {{newer, "schema version 7"}, {other, "not a records file"}, {junk, "not a database"}};
    for (const auto &c : cases) {
        RecordStore store(QStringLiteral("b"));
        QString reason;
        EXPECT_FALSE(store.open(c.path, &reason)) << qPrintable(c.path);
        EXPECT_TRUE(reason.contains(QLatin1String(c.reason))) << qPrintable(reason);
    }
}

TEST(RecordsStore, TwoStationsWriteOneFileAtOnce)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("shared.sqlite"));
    constexpr int Runs = 60;
    auto station = [&](const QString &name) {
        RecordWriter::Options o;
        o.path = path;
        o.station = name;
        o.host = QStringLiteral("host");
        o.program = QStringLiteral("test");
        RecordWriter writer(o);
        writer.start();
        const QString sid = newKey();
        writer.enqueue(::station(sid, name));
        for (int i = 0; i < Runs; ++i) {
            const QString id = newKey();
            writer.enqueue(run(id, sid));
            // One commit per run, as a station makes them: the two writers interleave.
            EXPECT_TRUE(writer.waitWritten(writer.enqueue(runEnd(id)), 10'000)) << qPrintable(writer.failureReason());
        }
        EXPECT_EQ(writer.finish(), 0);
        EXPECT_FALSE(writer.failing()) << qPrintable(writer.failureReason());
    };
    std::thread a(station, QStringLiteral("A"));
    std::thread b(station, QStringLiteral("B"));
    a.join();
    b.join();
    withFile(path, [&](QSqlDatabase &db) {
        EXPECT_EQ(count(db, QStringLiteral("SELECT count(DISTINCT id) FROM runs")), 2 * Runs);
        EXPECT_EQ(count(db, QStringLiteral("SELECT count(*) FROM run_ends")), 2 * Runs);
        // Each station numbers its runs 1..Runs without a gap or a repeat.
        EXPECT_EQ(count(db, QStringLiteral("SELECT count(DISTINCT station_id || '/' || seq) FROM runs "
                                           "WHERE seq BETWEEN 1 AND %1")
                                .arg(Runs)),
                  2 * Runs);
    });
}

TEST(RecordsStore, UnwritableFileKeepsRecordsAndSavesThemAtTheEnd)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("corrupt.sqlite"));
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(QByteArray(4096, '\x5a'));
    f.close();

    RecordWriter::Options o;
    o.path = path;
    o.spillDir = dir.filePath(QStringLiteral("spill"));
    o.retryMs = 50;
    RecordWriter writer(o);
    QStringList warnings;
    QObject::connect(
        &writer, &RecordWriter::storeFailed, &writer,
        [&](const QString &file, const QString &reason, const QString &spill) {
            warnings << file + QLatin1Char('|') + reason + QLatin1Char('|') + spill;
        },
        Qt::DirectConnection);
    writer.start();
    const QString sid = newKey();
    writer.enqueue(station(sid, QStringLiteral("A")));
    EXPECT_FALSE(writer.waitWritten(writer.enqueue(run(newKey(), sid)), 5000));
    EXPECT_TRUE(writer.failing());
    std::this_thread::sleep_for(std::chrono::milliseconds(200)); // several retries
    EXPECT_EQ(writer.finish(), 2);
    ASSERT_EQ(warnings.size(), 1) << qPrintable(warnings.join(QLatin1Char('\n')));
    EXPECT_TRUE(warnings[0].startsWith(path + QLatin1Char('|'))) << qPrintable(warnings[0]);
    EXPECT_TRUE(warnings[0].endsWith(writer.spillPath()));

    QFile spill(writer.spillPath());
    ASSERT_TRUE(spill.open(QIODevice::ReadOnly)) << qPrintable(writer.spillPath());
    const QJsonArray records =
        QJsonDocument::fromJson(spill.readAll()).object().value(QStringLiteral("records")).toArray();
    ASSERT_EQ(records.size(), 2);
    EXPECT_EQ(records[1].toObject().value(QStringLiteral("table")).toString(), QStringLiteral("runs"));
}
