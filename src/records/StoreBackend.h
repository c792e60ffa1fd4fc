#pragma once

#include "records/Columns.h"

#include <QSqlDatabase>
#include <QString>

#include <optional>

namespace quillon::records {

// What a records store can do, by where it lives: a SQLite file (one station's, or a
// copy) or the line database (PostgreSQL). The one place that tells the two apart; the
// readers ask it rather than the driver.
class StoreBackend {
public:
    enum class Kind { File, LineDatabase };

    static StoreBackend of(const QSqlDatabase &db);

    Kind kind() const { return m_kind; }
    // Which columns of the column table it has.
    Backend columns() const { return m_kind == Kind::File ? Backend::File : Backend::Line; }

    // Records are only ever appended to a file, so its rowids are the order they were
    // written in, and what was added since a rowid can be read alone. The line database
    // has no such key (several stations upload at once, out of key order): read it whole,
    // each table in a stable order of its own.
    bool hasWriteOrder() const { return m_kind == Kind::File; }
    // The statement that begins one consistent read of several queries.
    QString beginRead() const;

    // The file to open a second read-only connection on (for work on another thread),
    // or nullopt where there is none (the line database, an in-memory file).
    std::optional<QString> secondConnectionFile(const QSqlDatabase &db) const;

    // Whether the store has the covering indexes a yield is pinned to (a file that a
    // station of this version has opened), and the hint that pins a query to one.
    bool hasYieldIndexes(const QSqlDatabase &db) const;
    static QString indexedBy(const char *index);

private:
    explicit StoreBackend(Kind kind) : m_kind(kind) {}
    Kind m_kind;
};

} // namespace quillon::records
