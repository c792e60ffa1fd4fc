#include "records/Record.h"

#include "records/Columns.h"

#include <QJsonValue>

#include <array>

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

} // namespace

Record::Record(Table kind, std::initializer_list<Value> given) : table(kind)
{
    const QStringList &names = columns(kind);
    values = QVariantList(names.size());
    for (const auto &[name, value] : given) {
        const qsizetype at = names.indexOf(QLatin1String(name));
        Q_ASSERT_X(at >= 0, "Record", name);
        if (at >= 0)
            values[at] = value;
    }
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
