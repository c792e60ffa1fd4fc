#include "records/RecordStore.h"

#include "records/Schema.h"

#include <QSqlError>
#include <QSqlQuery>

namespace quillon::records {

namespace {

QString reasonOf(const QSqlError &error)
{
    return error.databaseText().isEmpty() ? error.text() : error.databaseText();
}

QString insertSql(Table table)
{
    const QStringList &names = columns(table);
    QStringList marks;
    for (const QString &name : names) {
        // A run's number follows the station's last one, taken inside the transaction
        // so two processes writing one file never hand out the same number. The station
        // is its name, host and program: a file may hold several rows of one station
        // (keys of older programs).
        if (table == Table::Runs && name == QLatin1String("seq"))
            marks << QStringLiteral("(SELECT COALESCE(MAX(r.seq), 0) + 1 FROM stations me JOIN stations s"
                                    " ON s.name = me.name AND s.host = me.host AND s.program = me.program"
                                    " JOIN runs r ON r.station_id = s.id WHERE me.id = ?)");
        else
            marks << QStringLiteral("?");
    }
    // A station's row is there once per combination; a run's end is the first one
    // written (a run another instance of the station wrongly took for interrupted keeps
    // that end rather than failing every record queued behind its real one).
    const char *verb = table == Table::Stations || table == Table::RunEnds ? "INSERT OR IGNORE INTO " : "INSERT INTO ";
    return QLatin1String(verb) + tableName(table) + QStringLiteral(" (") + names.join(QStringLiteral(", "))
           + QStringLiteral(") VALUES (") + marks.join(QStringLiteral(", ")) + QLatin1Char(')');
}

} // namespace

RecordStore::RecordStore(QString connectionName) : m_connection(std::move(connectionName))
{
}

RecordStore::~RecordStore()
{
    close();
}

bool RecordStore::open(const QString &path, QString *reason)
{
    close();
    if (!openStoreFile(path, m_connection, true, m_db, reason) || !ensureSchema(m_db, reason)) {
        close();
        return false;
    }
    m_open = true;
    return true;
}

void RecordStore::close()
{
    m_open = false;
    for (std::optional<QSqlQuery> &q : m_inserts)
        q.reset();
    if (m_db.isValid()) {
        m_db.close();
        m_db = QSqlDatabase();
        QSqlDatabase::removeDatabase(m_connection);
    }
}

namespace {

bool insert(QSqlDatabase &db, std::optional<QSqlQuery> &q, const Record &record, QString *why)
{
    if (!q) {
        q.emplace(db);
        if (!q->prepare(insertSql(record.table))) {
            *why = reasonOf(q->lastError());
            q.reset();
            return false;
        }
    }
    const QStringList &names = columns(record.table);
    // The run's number is taken from the station's runs: its placeholder takes the station.
    static const qsizetype stationOfRun = columns(Table::Runs).indexOf(QLatin1String("station_id"));
    for (int i = 0; i < names.size(); ++i) {
        const bool seq = record.table == Table::Runs && names[i] == QLatin1String("seq");
        const qsizetype at = seq ? stationOfRun : i;
        q->addBindValue(at < record.values.size() ? record.values.at(at) : QVariant());
    }
    const bool ran = q->exec();
    if (!ran)
        *why = reasonOf(q->lastError());
    q->finish(); // the statement reset: it holds no lock between batches
    return ran;
}

} // namespace

bool RecordStore::write(const QList<Record> &records, QString *reason)
{
    if (!m_open) {
        if (reason)
            *reason = QStringLiteral("the file is not open");
        return false;
    }
    QSqlQuery begin(m_db);
    if (!begin.exec(QStringLiteral("BEGIN IMMEDIATE"))) {
        if (reason)
            *reason = reasonOf(begin.lastError());
        return false;
    }
    QString why;
    bool ok = true;
    for (const Record &record : records) {
        ok = insert(m_db, m_inserts[std::size_t(record.table)], record, &why);
        if (!ok)
            break;
    }
    QSqlQuery end(m_db);
    if (ok && end.exec(QStringLiteral("COMMIT")))
        return true;
    if (ok)
        why = reasonOf(end.lastError());
    QSqlQuery(m_db).exec(QStringLiteral("ROLLBACK"));
    if (reason)
        *reason = why;
    return false;
}

bool RecordStore::interruptOpenRuns(const QString &station, const QString &host, const QString &program,
                                    const QString &before, QStringList *ended, QString *reason,
                                    const std::function<bool()> &alone)
{
    QSqlQuery begin(m_db);
    if (!begin.exec(QStringLiteral("BEGIN IMMEDIATE"))) {
        if (reason)
            *reason = reasonOf(begin.lastError());
        return false;
    }
    if (alone && !alone()) {
        QSqlQuery(m_db).exec(QStringLiteral("ROLLBACK"));
        if (ended)
            ended->clear();
        return true;
    }
    QSqlQuery open(m_db);
    open.prepare(QStringLiteral("SELECT r.id FROM runs r JOIN stations s ON s.id = r.station_id"
                                " WHERE s.name = ? AND s.host = ? AND s.program = ? AND r.started_utc < ?"
                                " AND NOT EXISTS (SELECT 1 FROM run_ends e WHERE e.run_id = r.id)"
                                " ORDER BY r.started_utc"));
    open.addBindValue(station);
    open.addBindValue(host);
    open.addBindValue(program);
    open.addBindValue(before);
    QStringList ids;
    bool ok = open.exec();
    while (ok && open.next())
        ids << open.value(0).toString();
    QString why = ok ? QString() : reasonOf(open.lastError());
    open.finish();
    const QString now = utcNow();
    for (const QString &id : ids) {
        if (!ok)
            break;
        QSqlQuery end(m_db);
        end.prepare(QStringLiteral("INSERT INTO run_ends (run_id, ended_utc, end_state, overall)"
                                   " VALUES (?, ?, 'interrupted', NULL)"));
        end.addBindValue(id);
        end.addBindValue(now);
        ok = end.exec();
        if (!ok)
            why = reasonOf(end.lastError());
    }
    QSqlQuery commit(m_db);
    if (ok && commit.exec(QStringLiteral("COMMIT"))) {
        if (ended)
            *ended = ids;
        return true;
    }
    if (ok)
        why = reasonOf(commit.lastError());
    QSqlQuery(m_db).exec(QStringLiteral("ROLLBACK"));
    if (reason)
        *reason = why;
    return false;
}

} // namespace quillon::records
