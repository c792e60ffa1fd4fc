#include "records/StoreBackend.h"

#include "records/Schema.h"

namespace quillon::records {

StoreBackend StoreBackend::of(const QSqlDatabase &db)
{
    return StoreBackend(db.driverName() == QLatin1String("QSQLITE") ? Kind::File : Kind::LineDatabase);
}

QString StoreBackend::beginRead() const
{
    return m_kind == Kind::File ? QStringLiteral("BEGIN") : QStringLiteral("BEGIN ISOLATION LEVEL REPEATABLE READ");
}

std::optional<QString> StoreBackend::secondConnectionFile(const QSqlDatabase &db) const
{
    const QString file = db.databaseName();
    if (m_kind != Kind::File || file.isEmpty() || file.startsWith(QLatin1Char(':'))
        || file.startsWith(QLatin1String("file:")))
        return std::nullopt;
    return file;
}

bool StoreBackend::hasYieldIndexes(const QSqlDatabase &db) const
{
    return m_kind == Kind::File && records::hasYieldIndexes(db);
}

QString StoreBackend::indexedBy(const char *index)
{
    return QStringLiteral(" INDEXED BY ") + QLatin1String(index);
}

} // namespace quillon::records
