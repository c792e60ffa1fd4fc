#include "records/Record.h"

#include "records/Columns.h"

#include <QJsonValue>

#include <array>
#include <cstring>
#include <vector>

namespace quillon::records {

namespace {

const std::array<QStringList, RecordKinds> &fileColumns()
{
    static const std::array<QStringList, RecordKinds> names = [] {
        std::array<QStringList, RecordKinds> out;
        for (std::size_t t = 0; t < RecordKinds; ++t)
            for (const Column *c : columnsAt(tableInfo(Table(t)), Backend::File))
                out[t] << QLatin1String(c->name);
        return out;
    }();
    return names;
}

// The same names as C strings: a record is filled on the GUI thread, mostly in column
// order, so each name is looked for from where the last one was found.
const std::array<std::vector<const char *>, RecordKinds> &fileColumnNames()
{
    static const std::array<std::vector<const char *>, RecordKinds> names = [] {
        std::array<std::vector<const char *>, RecordKinds> out;
        for (std::size_t t = 0; t < RecordKinds; ++t)
            for (const Column *c : columnsAt(tableInfo(Table(t)), Backend::File))
                out[t].push_back(c->name);
        return out;
    }();
    return names;
}

} // namespace

Record::Record(Table kind, std::initializer_list<Value> given) : table(kind)
{
    const std::vector<const char *> &names = fileColumnNames()[std::size_t(kind)];
    const std::size_t count = names.size();
    values = QVariantList(qsizetype(count));
    std::size_t from = 0;
    for (const auto &[name, value] : given) {
        std::size_t at = count;
        for (std::size_t i = 0; i < count; ++i) {
            const std::size_t candidate = (from + i) % count;
            if (std::strcmp(names[candidate], name) == 0) {
                at = candidate;
                break;
            }
        }
        Q_ASSERT_X(at < count, "Record", name);
        if (at < count) {
            values[qsizetype(at)] = value;
            from = at + 1;
        }
    }
}

Record Record::later(Table table, std::function<Record()> make)
{
    Record record;
    record.table = table;
    record.m_make = std::move(make);
    return record;
}

void Record::complete()
{
    if (!m_make)
        return;
    const std::function<Record()> make = std::move(m_make);
    m_make = nullptr;
    *this = make();
}

QString tableName(Table table)
{
    return QLatin1String(tableInfo(table).name);
}

const QStringList &columns(Table table)
{
    return fileColumns()[std::size_t(table)];
}

QJsonObject toJson(const Record &record)
{
    QJsonObject values;
    const QStringList &names = columns(record.table);
    for (int i = 0; i < names.size() && i < record.values.size(); ++i)
        values.insert(names[i], QJsonValue::fromVariant(record.values[i]));
    return QJsonObject{{QStringLiteral("table"), tableName(record.table)}, {QStringLiteral("values"), values}};
}

} // namespace quillon::records
