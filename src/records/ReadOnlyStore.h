#pragma once

#include <QSqlDatabase>
#include <QString>

namespace quillon::records {

// A records store opened for reading only: nothing is created or changed, not even a
// missing file. On failure the connection is invalid and error says why in one line.
struct ReadOnlyStore {
    QSqlDatabase db;
    QString error;
    bool isOpen() const { return error.isEmpty() && db.isOpen(); }
};

// Opens the SQLite file at path under connectionName (which must be unused) and checks
// that it is a records store of a schema this program reads. Close it with
// closeReadOnlyStore(), after every query on it is gone.
ReadOnlyStore openReadOnlyStore(const QString &path, const QString &connectionName);
void closeReadOnlyStore(const QString &connectionName);

} // namespace quillon::records
