#pragma once

#include "records/Record.h"

#include <QList>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QString>
#include <QStringList>

#include <array>
#include <functional>
#include <optional>

namespace quillon::records {

// One connection to a records file and the inserts of every table. Used by one thread
// only (the writer thread, or a test). Append-only: it never updates or deletes.
class RecordStore {
public:
    // connectionName must be unique in the process.
    explicit RecordStore(QString connectionName);
    ~RecordStore();
    RecordStore(const RecordStore &) = delete;
    RecordStore &operator=(const RecordStore &) = delete;

    // Opens (creating if needed) and brings the schema up to date. False with a reason.
    bool open(const QString &path, QString *reason);
    bool isOpen() const { return m_open; }
    void close();

    // Inserts the records in one transaction: all of them or none. A station record
    // already present is left as it is (its key names its combination).
    bool write(const QList<Record> &records, QString *reason);

    // Ends every run of the named station (name, host, program) begun before `before` (a
    // UTC time as stored) that has no end yet as "interrupted": runs a previous process
    // left open. Returns the runs ended. alone, when given, is asked inside the write
    // transaction (no other writer can add a run meanwhile) whether every other instance
    // of the station is gone; if not, the open runs may be live and none is ended.
    bool interruptOpenRuns(const QString &station, const QString &host, const QString &program, const QString &before,
                           QStringList *ended, QString *reason, const std::function<bool()> &alone = {});

    QSqlDatabase database() const { return m_db; }

private:
    QString m_connection;
    QSqlDatabase m_db;
    bool m_open = false;
    // One prepared insert per record kind, made when a batch first needs it and kept
    // for the connection's life: the writer commits many small batches.
    std::array<std::optional<QSqlQuery>, RecordKinds> m_inserts;
};

} // namespace quillon::records
