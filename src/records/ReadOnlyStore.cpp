#include "records/ReadOnlyStore.h"

#include "records/RecordsQuery.h"

#include <QFileInfo>
#include <QSqlError>
#include <QSqlQuery>

namespace quillon::records {

ReadOnlyStore openReadOnlyStore(const QString &path, const QString &connectionName)
{
    ReadOnlyStore store;
    const QFileInfo info(path);
    if (!info.exists()) {
        store.error = QStringLiteral("%1: no such file").arg(path);
        return store;
    }
    if (!info.isFile()) {
        store.error = QStringLiteral("%1: not a file").arg(path);
        return store;
    }
    store.db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connectionName);
    store.db.setDatabaseName(path);
    // Read-only: SQLite neither creates the file nor writes it; a store being written
    // by a station (WAL) can be read meanwhile.
    store.db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY;QSQLITE_BUSY_TIMEOUT=2000"));
    if (!store.db.open()) {
        store.error = QStringLiteral("%1: %2").arg(path, store.db.lastError().text());
        return store;
    }
    {
        // Larger reads for the scans of a yield.
        QSqlQuery pragma(store.db);
        pragma.exec(QStringLiteral("PRAGMA mmap_size = 1073741824"));
        pragma.exec(QStringLiteral("PRAGMA cache_size = -65536"));
    }
    if (const auto problem = RecordsQuery(store.db).checkStore())
        store.error = QStringLiteral("%1: %2").arg(path, problem->message);
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
