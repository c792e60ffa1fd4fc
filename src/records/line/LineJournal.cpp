#include "records/line/LineJournal.h"

#include "records/Schema.h"

#include <QJsonObject>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QVariant>

namespace quillon::records {

namespace {

bool fail(const QSqlQuery &query, const QString &what, QString *error)
{
    *error = QStringLiteral("%1: %2").arg(what, query.lastError().text());
    return false;
}

// Rows as JSON objects; integers stay integers, NULL stays null.
void appendRows(QSqlQuery &query, QJsonArray *rows)
{
    while (query.next()) {
        const QSqlRecord record = query.record();
        QJsonObject row;
        for (int i = 0; i < record.count(); ++i) {
            const QVariant value = record.value(i);
            if (value.isNull())
                row.insert(record.fieldName(i), QJsonValue::Null);
            else if (value.typeId() == QMetaType::LongLong || value.typeId() == QMetaType::Int)
                row.insert(record.fieldName(i), value.toLongLong());
            else
                row.insert(record.fieldName(i), value.toString());
        }
        rows->append(row);
    }
}

// Runs `sql` with the batch's run ids in a temporary table `line_batch`.
bool selectInto(QSqlDatabase &journal, const QString &sql, QJsonArray *rows, QString *error)
{
    QSqlQuery query(journal);
    query.setForwardOnly(true);
    if (!query.exec(sql))
        return fail(query, QStringLiteral("cannot read the local store"), error);
    appendRows(query, rows);
    return true;
}

} // namespace

bool readLineUploadStatus(QSqlDatabase &journal, LineUploadStatus *status, QString *error)
{
    QSqlQuery query(journal);
    if (!query.exec(QStringLiteral("SELECT (SELECT count(*) FROM runs r JOIN run_ends e ON e.run_id = r.id"
                                   "         WHERE NOT EXISTS (SELECT 1 FROM line_uploads u WHERE u.run_id = r.id)),"
                                   "       (SELECT count(*) FROM line_uploads),"
                                   "       (SELECT max(uploaded_utc) FROM line_uploads),"
                                   "       (SELECT at_utc FROM line_upload_errors ORDER BY rowid DESC LIMIT 1),"
                                   "       (SELECT message FROM line_upload_errors ORDER BY rowid DESC LIMIT 1)"))
        || !query.next())
        return fail(query, QStringLiteral("cannot read the upload state"), error);
    status->pendingRuns = query.value(0).toLongLong();
    status->uploadedRuns = query.value(1).toLongLong();
    status->lastUploadUtc = query.value(2).toString();
    status->lastErrorUtc = query.value(3).toString();
    status->lastError = query.value(4).toString();
    return true;
}

bool readLineBatch(QSqlDatabase &journal, const QString &stationName, int maxRuns, LineBatch *batch, QString *error)
{
    *batch = LineBatch();
    QSqlQuery query(journal);
    query.setForwardOnly(true);
    // Rows are only ever appended, so the rowid is the order they were written in.
    query.prepare(QStringLiteral("SELECT r.id, EXISTS (SELECT 1 FROM run_ends e WHERE e.run_id = r.id) FROM runs r"
                                 " WHERE r.station_id IN (SELECT id FROM stations WHERE name = ?)"
                                 " AND NOT EXISTS (SELECT 1 FROM line_uploads u WHERE u.run_id = r.id)"
                                 " ORDER BY r.rowid LIMIT ?"));
    query.addBindValue(stationName);
    query.addBindValue(maxRuns);
    if (!query.exec())
        return fail(query, QStringLiteral("cannot read the local store"), error);
    while (query.next() && query.value(1).toBool())
        batch->runIds.append(query.value(0).toString());
    query.finish();
    if (batch->isEmpty())
        return true;

    // The ids are UUIDs the store wrote; quoted all the same.
    QStringList quoted;
    for (QString id : std::as_const(batch->runIds))
        quoted.append(QLatin1Char('\'') + id.replace(QLatin1Char('\''), QStringLiteral("''")) + QLatin1Char('\''));
    const QString ids = quoted.join(QLatin1Char(','));
    const QString sessionsOf = QStringLiteral("SELECT session_id FROM runs WHERE id IN (%1)").arg(ids);
    return selectInto(journal,
                      QStringLiteral("SELECT * FROM stations WHERE id IN (SELECT station_id FROM runs WHERE id IN (%1)"
                                     " UNION SELECT station_id FROM sessions WHERE id IN (%2))")
                          .arg(ids, sessionsOf),
                      &batch->stations, error)
           && selectInto(journal, QStringLiteral("SELECT * FROM sessions WHERE id IN (%1)").arg(sessionsOf),
                         &batch->sessions, error)
           && selectInto(journal, QStringLiteral("SELECT * FROM runs WHERE id IN (%1) ORDER BY rowid").arg(ids),
                         &batch->runs, error)
           && selectInto(journal, QStringLiteral("SELECT * FROM run_ends WHERE run_id IN (%1)").arg(ids),
                         &batch->runEnds, error)
           && selectInto(journal,
                         QStringLiteral("SELECT * FROM row_results WHERE run_id IN (%1) ORDER BY run_id, seq").arg(ids),
                         &batch->rowResults, error)
           && selectInto(journal,
                         QStringLiteral("SELECT * FROM prompts WHERE run_id IN (%1)"
                                        " OR (run_id IS NULL AND session_id IN (%2)) ORDER BY seq")
                             .arg(ids, sessionsOf),
                         &batch->prompts, error)
           && selectInto(
               journal,
               QStringLiteral("SELECT * FROM eeprom_writes WHERE run_id IN (%1) ORDER BY run_id, seq").arg(ids),
               &batch->eepromWrites, error);
}

bool markLineUploaded(QSqlDatabase &journal, const LineBatch &batch, QString *error)
{
    if (!journal.transaction()) {
        *error = QStringLiteral("cannot note the upload in the local store: %1").arg(journal.lastError().text());
        return false;
    }
    QSqlQuery query(journal);
    query.prepare(QStringLiteral("INSERT OR IGNORE INTO line_uploads (run_id, uploaded_utc) VALUES (?, ?)"));
    const QString now = utcNow();
    for (const QString &run : batch.runIds) {
        query.bindValue(0, run);
        query.bindValue(1, now);
        if (!query.exec()) {
            journal.rollback();
            return fail(query, QStringLiteral("cannot note the upload in the local store"), error);
        }
    }
    if (!journal.commit()) {
        *error = QStringLiteral("cannot note the upload in the local store: %1").arg(journal.lastError().text());
        journal.rollback();
        return false;
    }
    return true;
}

bool noteLineUploadError(QSqlDatabase &journal, const QString &message, QString *error)
{
    QSqlQuery query(journal);
    // The same error again, with no upload since, is the same outage: noted once.
    if (!query.exec(QStringLiteral("SELECT message, at_utc > coalesce((SELECT max(uploaded_utc) FROM line_uploads), '')"
                                   " FROM line_upload_errors ORDER BY rowid DESC LIMIT 1")))
        return fail(query, QStringLiteral("cannot read the upload state"), error);
    if (query.next() && query.value(0).toString() == message && query.value(1).toBool())
        return true;
    query.prepare(QStringLiteral("INSERT INTO line_upload_errors (at_utc, message) VALUES (?, ?)"));
    query.addBindValue(utcNow());
    query.addBindValue(message);
    if (!query.exec())
        return fail(query, QStringLiteral("cannot note the upload error"), error);
    return true;
}

} // namespace quillon::records
