#pragma once

#include "records/ReadOnlyStore.h"

#include <QSqlDatabase>
#include <QString>
#include <QStringList>

namespace quillon::records {

// Where the line database is: a postgresql://user@host:port/dbname?key=value URL.
// Query keys are libpq connection keywords (sslmode, sslrootcert, connect_timeout,
// service, host for a socket folder, ...). A password never belongs in it: libpq finds
// one in PGPASSWORD, ~/.pgpass, PGPASSFILE or a service file.
struct LineDatabaseUrl {
    QString host; // name, address or socket folder; empty: libpq's default
    int port = -1;
    QString database;
    QString user;
    QStringList options; // "keyword=value", quoted for libpq where needed
    QString error;       // why the URL was refused; empty when it is usable

    static LineDatabaseUrl parse(const QString &url);
    // The URL without anything secret, for messages and the log.
    QString display;
};

inline bool isLineDatabaseUrl(const QString &text)
{
    return text.startsWith(QLatin1String("postgresql://")) || text.startsWith(QLatin1String("postgres://"));
}

// Opens a QPSQL connection under `connectionName` on the calling thread. On failure
// returns false with a one-line reason naming the server.
bool openLineDatabase(const LineDatabaseUrl &url, const QString &connectionName, QString *error);

// The line database's schema version: the highest records schema version that changed
// what the line database holds (records/Columns.h numbers both backends alike). A
// station uploads to a server of this version or newer within its major version (the
// columns it does not know stay NULL or take their defaults); a newer major version
// changes what is there in a way an older station cannot write into.
int lineSchemaVersion();
inline constexpr int kLineSchemaMajor = 1;
// Tests only: this build needs `version` of the line database instead (0: the real one),
// to meet a server older than a later build needs.
void setLineSchemaVersionForTests(int version);

// The group roles `db init` sets up: stations insert and read their own rows, readers
// read everything.
inline constexpr const char *kStationGroupRole = "quillon_station";
inline constexpr const char *kReaderGroupRole = "quillon_reader";

// What a program of this version makes of the server's schema.
struct LineSchemaCheck {
    enum State { Fits, Missing, Older, Newer, Unreadable };
    State state = Fits;
    int version = 0;
    QString message; // empty when it fits: what is wrong and what to do
};
LineSchemaCheck checkLineSchemaVersion(QSqlDatabase &db);

// checkLineSchemaVersion()'s message: empty when this station may upload to it.
QString checkLineSchema(QSqlDatabase &db);

// Creates the schema, or migrates an older one in place, step by step, with the group
// roles, grants and row policies of every table it adds. Returns false with `error`;
// `report` gets what was done.
bool initLineSchema(QSqlDatabase &db, QString *report, QString *error);

// The statements an administrator runs for one station's role (or a placeholder).
QString stationRoleInstructions(const QString &stationName);

// The line database opened for the records commands (list, show, export, ...): a
// QPSQL connection under connectionName, its schema checked. Close it with
// closeReadOnlyStore().
ReadOnlyStore openLineStore(const QString &url, const QString &connectionName);

// A records store opened for reading: the line database for a postgresql:// URL, else
// the SQLite file at `source`. Close it with closeReadOnlyStore().
ReadOnlyStore openRecordsStore(const QString &source, const QString &connectionName);

// Turns a driver error into one line (the server's message, without Qt's suffixes).
QString lineErrorText(const QString &what, const QString &serverText);

} // namespace quillon::records
