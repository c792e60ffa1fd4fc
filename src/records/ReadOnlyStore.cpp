#include "records/ReadOnlyStore.h"

#include "records/Schema.h"

#include <QFile>
#include <QFileInfo>
#include <QSqlError>
#include <QSqlQuery>
#include <QUrl>

#include <unistd.h>

namespace quillon::records {

namespace {

// As long as a station waits for another station's transaction.
constexpr int BusyTimeoutMs = 5000;

// What the first page of an SQLite file says, read before SQLite sees the file (SQLite
// would create a -wal and a -shm beside a file that claims WAL mode, store or not).
struct FileHeader {
    QString problem; // empty: a sound SQLite header
    bool wal = false;
};

FileHeader readHeader(const QString &path, const QFileInfo &info)
{
    FileHeader header;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        header.problem = file.errorString();
        return header;
    }
    const QByteArray first = file.read(100);
    if (info.size() == 0) {
        header.problem = QStringLiteral("not a records file (it is empty)");
        return header;
    }
    if (first.size() < 16 || !first.startsWith(QByteArrayLiteral("SQLite format 3\0"))) {
        header.problem = QStringLiteral("file is not a database");
        return header;
    }
    // The page size (1 stands for 65536) and the file's length agree on whole pages.
    const int raw = first.size() >= 18 ? (quint8(first.at(16)) << 8) | quint8(first.at(17)) : 0;
    const qint64 pageSize = raw == 1 ? 65536 : raw;
    const bool powerOfTwo = pageSize >= 512 && pageSize <= 65536 && (pageSize & (pageSize - 1)) == 0;
    if (first.size() < 100 || !powerOfTwo || info.size() < pageSize) {
        header.problem = QStringLiteral("database disk image is malformed (its header is cut short)");
        return header;
    }
    header.wal = first.at(18) == 2 && first.at(19) == 2;
    return header;
}

// The database's own words where it has them.
QString reasonOf(const QSqlError &error)
{
    QString text = error.driverText();
    if (!error.databaseText().isEmpty() && error.databaseText() != text)
        text = error.databaseText();
    return text.isEmpty() ? error.text() : text;
}

bool mayCreateBeside(const QFileInfo &info)
{
    return ::access(QFile::encodeName(info.absolutePath()).constData(), W_OK) == 0;
}

// How to open the file. A WAL store with no -wal holds all its records in the file;
// reading it the ordinary way makes SQLite create a -wal and a -shm, which a reader
// who may not write the folder cannot: that reader gets it as an immutable file.
// With a -wal (a station has the store open, or left it so), SQLite reads the log
// through the -shm, read-only where it may not write it.
struct OpenPlan {
    QString name;     // the database name for QSQLITE
    bool uri = false; // name is a file: URI
    QString problem;
};

OpenPlan planFor(const QString &path, const QFileInfo &info, const FileHeader &header)
{
    OpenPlan plan{path, false, {}};
    if (!header.wal)
        return plan;
    const QFileInfo wal(path + QStringLiteral("-wal"));
    const QFileInfo shm(path + QStringLiteral("-shm"));
    const bool mayCreate = mayCreateBeside(info);
    const bool logHoldsNothing = !wal.exists() || (wal.size() == 0 && !shm.exists());
    if (logHoldsNothing && !mayCreate) {
        plan.uri = true;
        plan.name = QUrl::fromLocalFile(info.absoluteFilePath()).toString(QUrl::FullyEncoded)
                    + QStringLiteral("?mode=ro&immutable=1");
        return plan;
    }
    if (wal.exists() && !shm.exists() && !mayCreate)
        plan.problem = QStringLiteral("its write-ahead log (%1) holds records not yet in the file, and reading it "
                                      "needs its index (-shm), which only a user who may write the folder can "
                                      "create")
                           .arg(wal.fileName());
    return plan;
}

} // namespace

ReadOnlyStore openReadOnlyStore(const QString &path, const QString &connectionName)
{
    ReadOnlyStore store;
    const QFileInfo info(path);
    auto failed = [&](const QString &why) {
        store.error = QStringLiteral("%1: %2").arg(path, why);
        return store;
    };
    if (!info.exists())
        return failed(QStringLiteral("no such file"));
    if (!info.isFile())
        return failed(QStringLiteral("not a file"));
    const FileHeader header = readHeader(path, info);
    if (!header.problem.isEmpty())
        return failed(header.problem);
    const OpenPlan plan = planFor(path, info, header);
    if (!plan.problem.isEmpty())
        return failed(plan.problem);
    // Read-only: SQLite neither creates the file nor writes it; a store being written
    // by a station (WAL) can be read meanwhile.
    store.db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connectionName);
    store.db.setDatabaseName(plan.name);
    store.db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=%1;QSQLITE_OPEN_READONLY%2")
                                   .arg(BusyTimeoutMs)
                                   .arg(plan.uri ? QStringLiteral(";QSQLITE_OPEN_URI") : QString()));
    if (!store.db.open())
        return failed(reasonOf(store.db.lastError()));
    QString reason;
    {
        QSqlQuery probe(store.db);
        if (!probe.exec(QStringLiteral("SELECT count(*) FROM sqlite_master")))
            reason = reasonOf(probe.lastError());
    }
    if (reason.isEmpty() && !checkSchema(store.db, nullptr, &reason) && reason.isEmpty())
        reason = QStringLiteral("not a records file");
    if (!reason.isEmpty())
        return failed(reason);
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
