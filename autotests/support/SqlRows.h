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

// Runs one statement on the SQLite file at path, on a connection of its own that is
// gone afterwards; false (the statement and the reason in the test's output) when it
// failed.
inline bool execOnFile(const QString &path, const QString &sql)
{
    const QString name = QStringLiteral("exec-on-file");
    bool ran = false;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        db.setDatabaseName(path);
        if (db.open()) {
            QSqlQuery query(db);
            ran = query.exec(sql);
            EXPECT_TRUE(ran) << qPrintable(sql) << qPrintable(query.lastError().text());
        } else {
            ADD_FAILURE() << qPrintable(path) << ": " << qPrintable(db.lastError().text());
        }
    }
    QSqlDatabase::removeDatabase(name);
    return ran;
}

} // namespace quillon::testing
