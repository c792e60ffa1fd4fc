#include "records/Schema.h"

#include "records/Columns.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QSqlError>
#include <QSqlQuery>
#include <QStringList>
#include <QThread>
#include <QUuid>

#include <array>
#include <cstring>

namespace quillon::records {

namespace {

// How long a statement waits for another station's transaction before failing.
constexpr int BusyTimeoutMs = 5000;

// Indexes that let a yield over a whole store read indexes only: the row results by
// row and status (by run for a filtered yield), and the runs with what a filter asks of
// them beside their ends, both in run id order so the two are walked together. They
// hold no data, so they are not a schema version: every writer adds what is missing
// when it opens a file, and a program that does not know them keeps writing into it
// (SQLite keeps them up to date). Readers look for them by name.
const char *const YieldIndexes[] = {
    "CREATE INDEX IF NOT EXISTS row_results_tally ON row_results(digit, status, name)",
    "CREATE INDEX IF NOT EXISTS row_results_run_tally ON row_results(run_id, digit, status, name)",
    "CREATE INDEX IF NOT EXISTS runs_tally ON runs(id, kind, serial, started_utc, seq, station_id, product_id)",
    "CREATE INDEX IF NOT EXISTS run_ends_overall ON run_ends(run_id, overall)",
};

QString sqlReason(const QSqlError &error)
{
    QString text = error.driverText();
    if (!error.databaseText().isEmpty() && error.databaseText() != text)
        text = error.databaseText();
    return text.isEmpty() ? error.text() : text;
}

bool exec(QSqlDatabase &db, const QString &sql, QString *reason)
{
    QSqlQuery q(db);
    if (q.exec(sql))
        return true;
    if (reason)
        *reason = sqlReason(q.lastError());
    return false;
}

bool hasTable(QSqlDatabase &db, const QString &table)
{
    QSqlQuery q(db);
    q.prepare(QStringLiteral("SELECT 1 FROM sqlite_master WHERE type = 'table' AND name = ?"));
    q.addBindValue(table);
    return q.exec() && q.next();
}

// -1: no meta table (empty file or another kind of file), -2: not a records store.
int storedVersion(QSqlDatabase &db, QString *reason)
{
    if (!hasTable(db, QStringLiteral("meta"))) {
        QSqlQuery any(db);
        if (!any.exec(QStringLiteral("SELECT count(*) FROM sqlite_master"))) {
            if (reason)
                *reason = sqlReason(any.lastError());
            return -2;
        }
        if (any.next() && any.value(0).toInt() == 0)
            return 0;
        if (reason)
            *reason = QStringLiteral("not a records file (it holds other tables)");
        return -2;
    }
    QSqlQuery q(db);
    if (!q.exec(QStringLiteral("SELECT key, value FROM meta WHERE key IN ('kind', 'schema_version')"))) {
        if (reason)
            *reason = sqlReason(q.lastError());
        return -2;
    }
    QString kind;
    int version = -1;
    while (q.next()) {
        if (q.value(0).toString() == QLatin1String("kind"))
            kind = q.value(1).toString();
        else
            version = q.value(1).toString().toInt();
    }
    if (kind != QLatin1String(StoreKind) || version < 1) {
        if (reason)
            *reason = QStringLiteral("not a records file (no records kind and schema version)");
        return -2;
    }
    return version;
}

// Putting a file into WAL mode needs it to itself for a moment, and SQLite answers
// "locked" at once rather than waiting: a second station opening the same new file
// retries here for as long as the busy timeout allows any other statement.
bool enterWal(QSqlDatabase &db, QString *reason)
{
    QElapsedTimer waited;
    waited.start();
    for (;;) {
        QSqlQuery wal(db);
        const bool ran = wal.exec(QStringLiteral("PRAGMA journal_mode=WAL")) && wal.next();
        if (ran && wal.value(0).toString().compare(QLatin1String("wal"), Qt::CaseInsensitive) == 0)
            return true;
        // SQLITE_BUSY, plain or extended.
        const bool busy = !ran && (wal.lastError().nativeErrorCode().toInt() & 0xff) == 5;
        if (!busy || waited.elapsed() >= BusyTimeoutMs) {
            if (reason)
                *reason = wal.lastError().isValid() ? sqlReason(wal.lastError())
                                                    : QStringLiteral("the file cannot be put into WAL mode");
            return false;
        }
        wal.finish();
        QThread::msleep(5);
    }
}

} // namespace

bool openStoreFile(const QString &path, const QString &connectionName, bool create, QSqlDatabase &db, QString *reason)
{
    if (!create && !QFileInfo::exists(path)) {
        if (reason)
            *reason = QStringLiteral("no such file");
        return false;
    }
    db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connectionName);
    db.setDatabaseName(path);
    // Waits this long for another station's transaction instead of failing at once.
    QString options = QStringLiteral("QSQLITE_BUSY_TIMEOUT=%1").arg(BusyTimeoutMs);
    if (!create)
        options += QStringLiteral(";QSQLITE_OPEN_READONLY");
    db.setConnectOptions(options);
    if (!db.open()) {
        if (reason)
            *reason = sqlReason(db.lastError());
        return false;
    }
    // The first statement reads the header: a file that is not SQLite fails here.
    QSqlQuery probe(db);
    if (!probe.exec(QStringLiteral("SELECT count(*) FROM sqlite_master"))) {
        if (reason)
            *reason = sqlReason(probe.lastError());
        return false;
    }
    probe.finish();
    if (create) {
        if (!enterWal(db, reason))
            return false;
        if (!exec(db, QStringLiteral("PRAGMA synchronous=FULL"), reason))
            return false;
    }
    return true;
}

bool ensureSchema(QSqlDatabase &db, QString *reason)
{
    // Immediate: a second station creating the same new file waits instead of racing.
    if (!exec(db, QStringLiteral("BEGIN IMMEDIATE"), reason))
        return false;
    auto fail = [&](const QString &why) {
        exec(db, QStringLiteral("ROLLBACK"), nullptr);
        if (reason)
            *reason = why;
        return false;
    };
    QString why;
    const int version = storedVersion(db, &why);
    if (version < 0)
        return fail(why);
    if (version > SchemaVersion)
        return fail(QStringLiteral("the file has records schema version %1; this program writes version %2 "
                                   "and does not write into newer files")
                        .arg(version)
                        .arg(SchemaVersion));
    for (int v = version; v < SchemaVersion; ++v) {
        // Each step is made from the column table: its new tables, columns and indexes.
        QStringList steps = migrationSql(Backend::File, v);
        if (v == 0)
            steps << QStringLiteral("INSERT INTO meta (key, value) VALUES ('kind', '%1')").arg(QLatin1String(StoreKind))
                  << QStringLiteral("INSERT INTO meta (key, value) VALUES ('schema_version', '%1')").arg(v + 1);
        else
            steps << QStringLiteral("UPDATE meta SET value = '%1' WHERE key = 'schema_version'").arg(v + 1);
        for (const QString &statement : std::as_const(steps))
            if (!exec(db, statement, &why))
                return fail(why);
    }
    for (const char *index : YieldIndexes)
        if (!exec(db, QString::fromLatin1(index), &why))
            return fail(why);
    return exec(db, QStringLiteral("COMMIT"), reason) || fail(reason ? *reason : QString());
}

bool hasYieldIndexes(const QSqlDatabase &db)
{
    QSqlQuery q(db);
    q.setForwardOnly(true);
    if (!q.exec(QStringLiteral("SELECT count(*) FROM sqlite_master WHERE type = 'index' AND name IN "
                               "('row_results_tally', 'row_results_run_tally', 'runs_tally', 'run_ends_overall')"))
        || !q.next())
        return false;
    return q.value(0).toInt() == int(std::size(YieldIndexes));
}

bool checkSchema(QSqlDatabase &db, int *version, QString *reason)
{
    QString why;
    const int v = storedVersion(db, &why);
    if (version)
        *version = v;
    if (v == 0)
        why = QStringLiteral("not a records file (it is empty)");
    if (v > SchemaVersion)
        why = QStringLiteral("the file has records schema version %1; this program reads up to version %2")
                  .arg(v)
                  .arg(SchemaVersion);
    if (v >= 1 && v <= SchemaVersion)
        return true;
    if (reason)
        *reason = why;
    return false;
}

QString utcNow()
{
    return QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs);
}

namespace {

// Random bytes from the system's generator, fetched for 256 keys at a time: a system
// call per key would be most of what a record costs the GUI thread.
std::array<char, 16> randomKeyBytes()
{
    constexpr std::size_t Keys = 256;
    thread_local std::array<quint32, Keys * 4> pool;
    thread_local std::size_t used = Keys;
    if (used == Keys) {
        QRandomGenerator::system()->fillRange(pool.data(), qsizetype(pool.size()));
        used = 0;
    }
    std::array<char, 16> bytes{};
    std::memcpy(bytes.data(), pool.data() + 4 * used++, bytes.size());
    return bytes;
}

QString keyText(std::array<char, 16> bytes, int version)
{
    bytes[6] = char((bytes[6] & 0x0f) | (version << 4));
    bytes[8] = char((bytes[8] & 0x3f) | 0x80); // the RFC 4122 variant
    return QUuid::fromRfc4122(QByteArrayView(bytes.data(), qsizetype(bytes.size()))).toString(QUuid::WithoutBraces);
}

} // namespace

QString newKey()
{
    return keyText(randomKeyBytes(), 4);
}

QString newOrderedKey()
{
    std::array<char, 16> bytes = randomKeyBytes();
    const auto ms = quint64(QDateTime::currentMSecsSinceEpoch());
    for (int i = 0; i < 6; ++i)
        bytes[std::size_t(i)] = char((ms >> (8 * (5 - i))) & 0xff);
    return keyText(bytes, 7);
}

} // namespace quillon::records
