#include "records/ReadOnlyStore.h"

#include "records/Schema.h"

#include <QFileInfo>
#include <QSqlQuery>

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
    // Larger reads for the scans of a yield.
    QSqlQuery pragma(store.db);
    pragma.exec(QStringLiteral("PRAGMA mmap_size = 1073741824"));
    pragma.exec(QStringLiteral("PRAGMA cache_size = -65536"));
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
