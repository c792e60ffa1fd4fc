#pragma once

#include <QByteArray>
#include <QHash>
#include <QMap>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QString>
#include <QStringList>

#include <array>
#include <functional>
#include <vector>

namespace quillon::records {

// What the plots need of every run of a records store. Of a SQLite store it is kept in a
// cache file outside the store and brought up to date by reading only the records added
// since (records are append-only, so rowids only grow); the cache file is rebuilt
// whenever it does not match the store (another file at the same path, a file restored
// from a backup). Of the line database it is read whole each time (rows uploaded by
// several stations at once do not arrive in key order), each run numbered by its start.
//
// The store itself is never written.
class RunDigest {
public:
    struct Run {
        // The SQLite rowid; on the line database, the run's place in start order (from 1).
        qint64 rowid = 0;
        QString id;
        qint64 seq = 0;
        QString serial;
        qint64 startedMs = 0; // since the epoch, UTC
        bool testAll = false;
        // 0 no end yet or no overall label, 1 "PASS", 2 "FAIL", 3 another label.
        quint8 overall = 0;
        // Pairs of bytes: the row's digit, then its status (Status below).
        QByteArray rows;
        qint32 station = -1;   // index into stationNames()
        qint32 productId = -1; // -1: none
        qint32 arefWord = -1;  // the ARef word written successfully, -1: none
        // Bits 0-3: records marked valid since the last DAC block; bit 4: a block written.
        quint8 dacState = 0;
        std::array<float, 8> dacs{}; // M0, B0 .. M3, B3 of the last block written
        // True when the last DAC block written was then marked valid in every record.
        bool dacsValid() const { return dacState == 0x1F; }
    };
    enum Status : quint8 { Untested = 0, Testing = 1, Pass = 2, Fail = 3 };

    // Loads cacheFile if it belongs to this store, reads what was added since and
    // saves the cache back (quietly skipped when the file cannot be written). An empty
    // cacheFile keeps the digest in memory only; so does a store that is not a SQLite
    // file, which is read whole. False with a reason on a query error, or when
    // cancelled (asked as it reads) says to stop: the digest is then incomplete and is
    // neither saved nor to be used.
    bool update(const QSqlDatabase &db, const QString &cacheFile, QString *reason,
                const std::function<bool()> &cancelled = {});

    const std::vector<Run> &runs() const { return m_runs; }
    // The run with this rowid, or null.
    const Run *find(qint64 rowid) const;
    // Every run's rowid, ascending.
    std::vector<qint64> rowids() const;
    // The rowids of the runs with these ids (any order; unknown ids skipped), ascending.
    std::vector<qint64> rowidsOf(const QStringList &ids) const;
    // The rows' names by digit, as last recorded.
    const QMap<int, QString> &rowNames() const { return m_rowNames; }
    const QStringList &stationNames() const { return m_stationNames; }

    // The cache file for the store at storePath, in the user's cache folder.
    static QString cacheFileFor(const QString &storePath);

private:
    bool load(const QString &cacheFile);
    void save(const QString &cacheFile) const;
    bool readSince(const QSqlDatabase &db, QString *reason);
    Run *runWithId(const QString &id);
    bool cancelled(QString *reason) const;
    struct Mark;
    bool select(QSqlQuery &q, const QSqlDatabase &db, const QString &columns, const Mark &mark,
                const QString &lineOrder, QString *reason) const;
    bool readStations(const QSqlDatabase &db, QString *reason);
    bool readRuns(const QSqlDatabase &db, QString *reason);
    bool readEnds(const QSqlDatabase &db, QString *reason);
    bool readRows(const QSqlDatabase &db, QString *reason);
    bool readWrites(const QSqlDatabase &db, QString *reason);

    std::vector<Run> m_runs;       // by rowid
    QHash<QString, size_t> m_byId; // run id -> index in m_runs
    bool m_sqlite = true;
    QMap<int, QString> m_rowNames;
    QStringList m_stationIds, m_stationNames;
    QHash<QString, qint32> m_stationIndex; // station id -> its station's index (read each update)
    // The highest rowid read of each table and the key found there, to tell that the
    // store still holds what was read.
    struct Mark {
        qint64 rowid = 0;
        QString key;
    };
    Mark m_runsMark, m_endsMark, m_rowsMark, m_writesMark;
    std::function<bool()> m_cancelled; // set during update()
};

} // namespace quillon::records
