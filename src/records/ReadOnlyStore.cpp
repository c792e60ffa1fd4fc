#include "records/ReadOnlyStore.h"

#include "records/Schema.h"

#include <QFileInfo>

namespace quillon::records {

ReadOnlyStore openReadOnlyStore(const QString &path, const QString &connectionName)
{
    ReadOnlyStore store;
    const QFileInfo info(path);
    if (info.exists() && !info.isFile()) {
        store.error = QStringLiteral("%1: not a file").arg(path);
        return store;
    }
    // Read-only: SQLite neither creates the file nor writes it; a store being written
    // by a station (WAL) can be read meanwhile.
    QString reason;
    if (!openStoreFile(path, connectionName, false, store.db, &reason) || !checkSchema(store.db, nullptr, &reason)) {
        store.error = QStringLiteral("%1: %2").arg(path, reason);
        return store;
    }
    return store;
}

void closeReadOnlyStore(const QString &connectionName)
{
    {
        QSqlDatabase db = QSqlDatabase::database(connectionName, false);
        if (db.isValid())
            db.close();
    }
    QSqlDatabase::removeDatabase(connectionName);
}

} // namespace quillon::records
