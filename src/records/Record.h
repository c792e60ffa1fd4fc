#pragma once

#include <QJsonObject>
#include <QString>
#include <QVariantList>

#include <cstddef>
#include <functional>
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
    RunInstruments,
    Last = RunInstruments
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

    // A record worked out later, by complete() on the writer thread: the GUI thread only
    // hands over what it has (the many measurements of a row cost it almost nothing).
    static Record later(Table table, std::function<Record()> make);
    // Fills a record made by later(); does nothing to one that is complete.
    void complete();

    Table table = Table::Stations;
    // In the column order of the table in a SQLite file (columnsAt(..., Backend::File)).
    QVariantList values;

private:
    std::function<Record()> m_make;
};

QString tableName(Table table);
// The columns of a record kind in a SQLite file, in order.
const QStringList &columns(Table table);

// The JSON form of a record ({"table": ..., "values": {column: value}}), used for
// records saved to a file when the store cannot take them.
QJsonObject toJson(const Record &record);

} // namespace quillon::records
