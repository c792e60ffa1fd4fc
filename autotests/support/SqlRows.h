#pragma once

#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QStringList>

#include <gtest/gtest.h>

namespace quillon::testing {

// Every row sql returns, its fields joined by '|' (NULL for a null); the query failing
// fails the test. Header-only: the suites that use it link Qt SQL, the support library
// does not.
inline QStringList rows(const QSqlDatabase &db, const QString &sql)
{
    QSqlQuery query(db);
    EXPECT_TRUE(query.exec(sql)) << qPrintable(sql) << qPrintable(query.lastError().text());
    QStringList out;
    while (query.next()) {
        QStringList fields;
        for (int i = 0; i < query.record().count(); ++i)
            fields << (query.isNull(i) ? QStringLiteral("NULL") : query.value(i).toString());
        out << fields.join(QLatin1Char('|'));
    }
    return out;
}

} // namespace quillon::testing
