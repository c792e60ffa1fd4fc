#include "app/records/LineCommands.h"

#include "records/ReadOnlyStore.h"
#include "records/line/LineDatabase.h"
#include "records/line/LineJournal.h"

#include <QSqlDatabase>
#include <QTextStream>

namespace quillon::records {

namespace {

enum Exit { Done = 0, Failed = 1, Usage = 2 };

// Closes a named connection once every handle on it is gone.
struct ConnectionGuard {
    QString name;
    ~ConnectionGuard()
    {
        if (QSqlDatabase::contains(name)) {
            QSqlDatabase::database(name, false).close();
            QSqlDatabase::removeDatabase(name);
        }
    }
};

// The line database as status names it. A store with uploads was written by a station
// given its line database (--line-db) where this command was given none.
QString lineDatabaseText(const QString &url, const LineDatabaseUrl &parsed, const LineUploadStatus &state)
{
    if (!url.isEmpty())
        return parsed.display;
    if (state.uploadedRuns > 0 || !state.lastUploadUtc.isEmpty() || !state.lastError.isEmpty())
        return QStringLiteral("not configured here; the store has uploads (name the station's line database with "
                              "--line-db URL)");
    return QStringLiteral("not configured");
}

} // namespace

int lineDbInit(const QString &url, const QString &station, QTextStream &out, QTextStream &err)
{
    const LineDatabaseUrl parsed = LineDatabaseUrl::parse(url);
    ConnectionGuard guard{QStringLiteral("quillon-records-db-init")};
    QString error;
    if (!openLineDatabase(parsed, guard.name, &error)) {
        err << "quillon-records: " << error << '\n';
        return Failed;
    }
    QSqlDatabase db = QSqlDatabase::database(guard.name, false);
    QString report;
    const bool ok = initLineSchema(db, &report, &error);
    db = QSqlDatabase();
    if (!ok) {
        err << "quillon-records: " << error << '\n';
        return Failed;
    }
    out << report << '\n' << stationRoleInstructions(station);
    return Done;
}

// The state of the uploader as the station's store has it, and a fresh look at the server.
int lineStatus(const QString &path, const QString &url, QTextStream &out, QTextStream &err)
{
    const QString storeName = QStringLiteral("quillon-records-status");
    LineUploadStatus state;
    QString error;
    {
        ReadOnlyStore store = openReadOnlyStore(path, storeName);
        if (!store.isOpen()) {
            err << "quillon-records: " << store.error << '\n';
            store.db = QSqlDatabase();
            closeReadOnlyStore(storeName);
            return Failed;
        }
        const bool ok = readLineUploadStatus(store.db, &state, &error);
        store.db = QSqlDatabase();
        closeReadOnlyStore(storeName);
        if (!ok) {
            err << "quillon-records: " << path << ": " << error << '\n';
            return Failed;
        }
    }
    const LineDatabaseUrl parsed = LineDatabaseUrl::parse(url);
    out << "Local store    " << path << '\n';
    out << "Line database  " << lineDatabaseText(url, parsed, state) << '\n';
    out << "Pending runs   " << state.pendingRuns << '\n';
    out << "Uploaded runs  " << state.uploadedRuns << '\n';
    out << "Last upload    " << (state.lastUploadUtc.isEmpty() ? QStringLiteral("never") : state.lastUploadUtc) << '\n';
    if (state.lastError.isEmpty())
        out << "Last error     none\n";
    else
        out << "Last error     " << state.lastErrorUtc << "  " << state.lastError
            << (state.lastUploadUtc > state.lastErrorUtc ? "  (uploads went on after it)" : "") << '\n';
    if (url.isEmpty())
        return Done;
    // Now: what a connection from here meets (credentials as the station has them).
    ConnectionGuard guard{QStringLiteral("quillon-records-status-line")};
    QString now;
    if (openLineDatabase(parsed, guard.name, &error)) {
        QSqlDatabase db = QSqlDatabase::database(guard.name, false);
        const LineSchemaCheck check = checkLineSchemaVersion(db);
        now =
            check.message.isEmpty() ? QStringLiteral("reachable, schema version %1").arg(check.version) : check.message;
    } else {
        now = error;
    }
    out << "Server now     " << now << '\n';
    return Done;
}

} // namespace quillon::records
