#pragma once

#include <QJsonObject>
#include <QString>
#include <QVariantList>

#include <cstddef>
#include <initializer_list>
#include <utility>

namespace quillon::records {

// The record tables. Every record is one INSERT into one of them; nothing is updated.
enum class Table {
    Stations,
    Sessions,
    Runs,
    RunEnds,
    RowResults,
    Prompts,
    EepromWrites,
    Measurements,
    Last = Measurements
};
inline constexpr std::size_t RecordKinds = std::size_t(Table::Last) + 1;

// One row to insert, filled by column name (records/Columns.h names them). A column
// left out, or given a null QVariant, is SQL NULL. Runs leave seq out: the store numbers
// them as it inserts.
struct Record {
    using Value = std::pair<const char *, QVariant>;

    Record() = default;
    // Every name must be a column of the table in a SQLite file; a name that is not
    // is a programming error (an assertion, and the value is dropped).
    Record(Table table, std::initializer_list<Value> values);

    Table table = Table::Stations;
    // In the column order of the table in a SQLite file (columnsAt(..., Backend::File)).
    QVariantList values;
};

QString tableName(Table table);
// The columns of a record kind in a SQLite file, in order.
const QStringList &columns(Table table);

// The JSON form of a record ({"table": ..., "values": {column: value}}), used for
// records saved to a file when the store cannot take them.
QJsonObject toJson(const Record &record);

} // namespace quillon::records
