#pragma once

#include <QJsonObject>
#include <QString>
#include <QVariantList>

namespace quillon::records {

// The record tables. Every record is one INSERT into one of them; nothing is updated.
enum class Table { Stations, Sessions, Runs, RunEnds, RowResults, Prompts, EepromWrites };

// One row to insert: the values in the column order of columns(table). A null
// QVariant is SQL NULL. Runs leave seq null: the store numbers them as it inserts.
struct Record {
    Table table = Table::Stations;
    QVariantList values;
};

QString tableName(Table table);
const QStringList &columns(Table table);

// The JSON form of a record ({"table": ..., "values": {column: value}}), used for
// records saved to a file when the store cannot take them.
QJsonObject toJson(const Record &record);

} // namespace quillon::records
