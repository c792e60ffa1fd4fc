#include "records/line/LineJournal.h"

#include "records/Columns.h"
#include "records/Schema.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>
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

// The rows of `table` that match `where`, as one JSON array of objects (column name
// -> value; integers stay integers, NULL stays null), built by SQLite itself. Extra
// key/value pairs (bound to the placeholders in `extra`) go into every object.
bool selectJson(QSqlDatabase &journal, const QString &table, const QString &where, QString *json, QString *error,
                const QString &extra = QString(), const QVariantList &bound = {})
{
    QSqlQuery query(journal);
    if (!query.exec(QStringLiteral("SELECT name FROM pragma_table_info('%1') ORDER BY cid").arg(table)))
        return fail(query, QStringLiteral("cannot read the local store"), error);
    QStringList pairs;
    while (query.next()) {
        const QString column = query.value(0).toString();
        pairs << QStringLiteral("'%1', \"%1\"").arg(column);
    }
    if (!extra.isEmpty())
        pairs << extra;
    query.prepare(
        QStringLiteral("SELECT coalesce(json_group_array(json_object(%1)), '[]') FROM (SELECT * FROM %2 WHERE %3)")
            .arg(pairs.join(QStringLiteral(", ")), table, where));
    for (const QVariant &value : bound)
        query.addBindValue(value);
    if (!query.exec() || !query.next())
        return fail(query, QStringLiteral("cannot read the local store"), error);
    *json = query.value(0).toString();
    return true;
}

// A table with floating-point columns (measurements): its JSON is written here, each
// double in the shortest text that reads back to the same bits. SQLite's own JSON
// keeps 15 significant digits, and the line database would hold other numbers than the
// file.
bool hasRealColumns(const QString &table)
{
    const TableInfo *info = findTable(table);
    if (!info)
        return false;
    for (const Column *c : columnsAt(*info, Backend::File))
        if (c->json == JsonAs::Real)
            return true;
    return false;
}

bool selectJsonExact(QSqlDatabase &journal, const QString &table, const QString &where, QString *json, QString *error)
{
    QSqlQuery query(journal);
    query.setForwardOnly(true);
    if (!query.exec(QStringLiteral("SELECT * FROM %1 WHERE %2").arg(table, where)))
        return fail(query, QStringLiteral("cannot read the local store"), error);
    const QSqlRecord columns = query.record();
    QJsonArray rows;
    while (query.next()) {
        QJsonObject row;
        for (int i = 0; i < columns.count(); ++i) {
            const QVariant v = query.value(i);
            QJsonValue value;
            if (v.isNull())
                value = QJsonValue::Null;
            else if (v.typeId() == QMetaType::Double)
                value = v.toDouble();
            else if (v.typeId() == QMetaType::LongLong || v.typeId() == QMetaType::Int)
                value = v.toLongLong();
            else
                value = v.toString();
            row.insert(columns.fieldName(i), value);
        }
        rows.append(row);
    }
    if (query.lastError().isValid())
        return fail(query, QStringLiteral("cannot read the local store"), error);
    *json = QString::fromUtf8(QJsonDocument(rows).toJson(QJsonDocument::Compact));
    return true;
}

} // namespace

bool readLineUploadStatus(QSqlDatabase &journal, LineUploadStatus *status, QString *error)
{
    QSqlQuery query(journal);
    // A store from before uploads existed (opened read-only, so not migrated): nothing
    // of it has gone up.
    if (!query.exec(QStringLiteral("SELECT 1 FROM sqlite_master WHERE name = 'line_uploads'")))
        return fail(query, QStringLiteral("cannot read the upload state"), error);
    if (!query.next()) {
        *status = LineUploadStatus();
        if (!query.exec(QStringLiteral("SELECT count(*) FROM run_ends")) || !query.next())
            return fail(query, QStringLiteral("cannot read the upload state"), error);
        status->pendingRuns = query.value(0).toLongLong();
        return true;
    }
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
    for (std::size_t t = 0; t < RecordKinds; ++t) {
        const Table table = Table(t);
        // How each kind hangs on the batch's runs; a later kind through its run_id.
        QString where = QStringLiteral("run_id IN (%1)").arg(ids);
        QString extra;
        QVariantList bound;
        switch (table) {
        case Table::Stations:
            where = QStringLiteral("id IN (SELECT station_id FROM runs WHERE id IN (%1)"
                                   " UNION SELECT station_id FROM sessions WHERE id IN (%2))")
                        .arg(ids, sessionsOf);
            break;
        case Table::Sessions: where = QStringLiteral("id IN (%1)").arg(sessionsOf); break;
        case Table::Runs:
            where = QStringLiteral("id IN (%1) ORDER BY rowid").arg(ids);
            extra = QStringLiteral("'uploaded_by', ?");
            bound = {stationName};
            break;
        case Table::Prompts:
            where = QStringLiteral("rowid IN (SELECT rowid FROM prompts WHERE run_id IN (%1) UNION ALL"
                                   " SELECT rowid FROM prompts WHERE run_id IS NULL AND session_id IN (%2))")
                        .arg(ids, sessionsOf);
            break;
        default: break;
        }
        const bool read = extra.isEmpty() && hasRealColumns(tableName(table))
                              ? selectJsonExact(journal, tableName(table), where, &batch->rows[t], error)
                              : selectJson(journal, tableName(table), where, &batch->rows[t], error, extra, bound);
        if (!read)
            return false;
    }
    return true;
}

bool copyInstrumentRegister(QSqlDatabase &line, QSqlDatabase &journal, int *added, QString *error)
{
    *added = 0;
    const TableInfo *info = findTable(QStringLiteral("instruments"));
    QSqlQuery has(journal);
    if (!info || !has.exec(QStringLiteral("SELECT 1 FROM sqlite_master WHERE name = 'instruments'")) || !has.next())
        return true;
    const QString columns = columnList(*info, Backend::Line);
    QSqlQuery read(line);
    read.setForwardOnly(true);
    if (!read.exec(QStringLiteral("SELECT %1 FROM instruments ORDER BY changed_utc, id").arg(columns)))
        return fail(read, QStringLiteral("cannot read the line's instrument register"), error);
    const int count = int(columnsAt(*info, Backend::Line).size());
    QStringList marks;
    for (int i = 0; i < count; ++i)
        marks << QStringLiteral("?");
    if (!journal.transaction()) {
        *error = QStringLiteral("cannot copy the instrument register: %1").arg(journal.lastError().text());
        return false;
    }
    QSqlQuery insert(journal);
    insert.prepare(QStringLiteral("INSERT OR IGNORE INTO instruments (%1) VALUES (%2)")
                       .arg(columns, marks.join(QLatin1Char(','))));
    while (read.next()) {
        for (int i = 0; i < count; ++i)
            insert.bindValue(i, read.value(i));
        if (!insert.exec()) {
            journal.rollback();
            return fail(insert, QStringLiteral("cannot copy the instrument register"), error);
        }
        *added += insert.numRowsAffected() > 0;
    }
    if (!journal.commit()) {
        *error = QStringLiteral("cannot copy the instrument register: %1").arg(journal.lastError().text());
        journal.rollback();
        return false;
    }
    return true;
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
