#pragma once

#include "records/Columns.h"

#include <QSqlDatabase>
#include <QString>

namespace quillon::records {

// SchemaVersion (records/Columns.h) is the version this build writes. Older files are
// migrated on open; a newer file is refused (an older program must not write into it).
// meta('kind'): marks a SQLite file as a records store.
inline constexpr char StoreKind[] = "quillon-records";

// Opens a SQLite records file on a new connection named connectionName (the caller
// removes it with QSqlDatabase::removeDatabase once every handle is gone). The file
// is opened in WAL mode with a busy timeout, so several stations can write one file
// at once, and with full synchronous commits, so a committed record survives a
// crash. Creates the file when create is true. False and a one-line reason on failure.
bool openStoreFile(const QString &path, const QString &connectionName, bool create, QSqlDatabase &db, QString *reason);

// Creates the schema in an empty file, migrates an older one to SchemaVersion, and
// adds the yield indexes a file lacks (hasYieldIndexes()).
// False with a reason when the file is not a records store or is of a newer schema.
bool ensureSchema(QSqlDatabase &db, QString *reason);

// For readers: true when the file is a records store this build can read (any
// version up to SchemaVersion); reason otherwise. version receives the file's version.
bool checkSchema(QSqlDatabase &db, int *version, QString *reason);

// True when the SQLite records file has every index a yield reads (a station adds them
// when it opens the file). Readers ask StoreBackend::hasYieldIndexes().
bool hasYieldIndexes(const QSqlDatabase &db);

// UTC time with milliseconds: 2026-12-08T14:45:31.123Z.
QString utcNow();

// A new record key: a random UUID without braces. Runs, sessions and stations have
// these: a run is named by the first characters of its key.
QString newKey();

// A new key for the records inside a run (row results, prompts, EEPROM writes,
// measurements): a time-ordered UUID (version 7: the time in milliseconds, then random
// bits), so each lands at the end of the file's key index instead of on a random page
// of it. Nobody types these, so their shared first characters do not matter.
QString newOrderedKey();

} // namespace quillon::records
