#pragma once

#include "records/Record.h"

#include <QJsonValue>
#include <QString>
#include <QStringList>
#include <QVariant>

#include <span>

namespace quillon::records {

// The one description of what the records hold: every table, every column, the version
// that added it, and how it is exported. The CREATE TABLEs and migrations of both
// backends (a SQLite file, the line database), the inserts, the selects, the uploads and
// the JSON/CSV mapping are made from it. A new column is one entry here (with a higher
// `since` and SchemaVersion raised to it); nothing else lists columns.

// The records schema version this build writes. A SQLite file and the line database
// share the numbering: a column added in version N is there in both from N on.
inline constexpr int SchemaVersion = 5;

// The runs CSV's first fields name the run (run_id, started_utc, station, serial,
// product_id); the measurements CSV leads with them, its own fields placed after them.
inline constexpr int CsvRunKeys = 5;

// How a stored value becomes a JSON value in an export.
enum class JsonAs {
    None,      // not exported at this level (a key, or exported nested)
    Text,      // a string; SQL NULL stays null
    Number,    // an integer; SQL NULL stays null
    Real,      // a floating-point number; SQL NULL stays null
    Bool,      // an integer flag as true/false
    TextArray, // a JSON array stored as text (memo lines)
};

// How a stored value becomes a CSV field.
enum class CsvAs {
    None,     // not in the CSV
    Text,     // as stored, empty for NULL
    Real,     // a floating-point number in its shortest exact form (C locale), empty for NULL
    HexDigit, // a row digit as the station names it: 0-9, A, B
    Lines,    // a JSON array of lines, joined by a line feed
};

// Which backend has the column or table.
enum class Backend { Both, File, Line };

struct Column {
    const char *name;
    const char *sqlite;   // declaration in a SQLite file (type and constraints)
    const char *postgres; // declaration on the line database
    int since = 1;        // the schema version that added it
    JsonAs json = JsonAs::None;
    const char *jsonKey = nullptr; // nullptr: the column's name
    CsvAs csv = CsvAs::None;
    const char *csvHeader = nullptr;
    int csvPlace = 0; // place of the field in its CSV line (runs and rows, or measurements), 0: none
    Backend backend = Backend::Both;

    QString key() const { return QLatin1String(jsonKey ? jsonKey : name); }
    bool inFile() const { return backend != Backend::Line; }
    bool onLine() const { return backend != Backend::File; }
};

struct TableInfo {
    const char *name;
    int since;
    Backend backend;
    std::span<const Column> columns;
    // The SQL that follows the columns in a CREATE TABLE (table constraints), or empty.
    const char *constraints = "";
};

struct IndexInfo {
    const char *name;
    const char *table;
    const char *columns; // "started_utc" or "product_id, started_utc"
    int since;
    Backend backend;
    int until = 0; // the version that dropped it (an index replaced by a better one); 0: kept
};

// Every table, in the order they are created (parents first).
std::span<const TableInfo> tables();
// The tables that hold records (the station's writes), by kind.
const TableInfo &tableInfo(Table table);
const TableInfo *findTable(const QString &name);
std::span<const IndexInfo> indexes();

// The columns of a table that a backend has at a schema version, in table order.
QList<const Column *> columnsAt(const TableInfo &table, Backend backend, int version = SchemaVersion);
// Their names joined for a column list ("id, name, ...").
QString columnList(const TableInfo &table, Backend backend, int version = SchemaVersion);
// The highest version that added anything the backend has (what a reader or writer of
// that backend needs at the least to find every column it names).
int neededVersion(Backend backend);

// CREATE TABLE for a backend: the columns it has at `version`.
QString createTableSql(const TableInfo &table, Backend backend, int version);
// The statements that take a backend's schema from version `from` to `from + 1`
// (from 0: an empty database): new tables, then new columns, then new indexes.
QStringList migrationSql(Backend backend, int from);

// A stored value as an export shows it.
QJsonValue jsonValue(const Column &column, const QVariant &value);
QString csvValue(const Column &column, const QVariant &value);

} // namespace quillon::records
