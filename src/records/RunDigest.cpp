#include "records/RunDigest.h"

#include "records/StoreBackend.h"

#include "device/DacRequests.h"
#include "records/StoredCalibration.h"

#include <QCryptographicHash>
#include <QDataStream>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QSqlError>
#include <QSqlQuery>
#include <QStandardPaths>

#include <algorithm>

namespace quillon::records {

namespace {

constexpr quint32 CacheMagic = 0x51524447; // "QRDG"
constexpr quint32 CacheVersion = 5;

quint8 statusCode(const QString &status)
{
    if (status == QLatin1String("pass"))
        return RunDigest::Pass;
    if (status == QLatin1String("fail"))
        return RunDigest::Fail;
    if (status == QLatin1String("testing"))
        return RunDigest::Testing;
    return RunDigest::Untested;
}

quint8 overallCode(const QVariant &overall)
{
    if (overall.isNull())
        return 0;
    const QString text = overall.toString().toUpper();
    if (text == QLatin1String("PASS"))
        return 1;
    if (text == QLatin1String("FAIL"))
        return 2;
    return text.isEmpty() ? 0 : 3;
}

bool run(QSqlQuery &q, const QString &sql, const QVariantList &values, QString *reason)
{
    q.setForwardOnly(true);
    if (!q.prepare(sql)) {
        if (reason)
            *reason = q.lastError().text();
        return false;
    }
    for (const QVariant &v : values)
        q.addBindValue(v);
    if (!q.exec()) {
        if (reason)
            *reason = q.lastError().text();
        return false;
    }
    return true;
}

// The addresses of the calibration writes: each record's marker and block, the ARef word.
QString calibrationAddresses()
{
    QStringList addresses;
    for (int record = 0; record < 4; ++record) {
        const int marker = DacCalRecordBase + DacCalRecordSize * record;
        addresses << QString::number(marker) << QString::number(marker + CalMarkerSize);
    }
    addresses << QString::number(ArefCalAddress);
    return addresses.join(QStringLiteral(", "));
}

} // namespace

QString RunDigest::cacheFileFor(const QString &storePath)
{
    const QByteArray key = QFileInfo(storePath).absoluteFilePath().toUtf8();
    return QDir(QStandardPaths::writableLocation(QStandardPaths::CacheLocation))
        .filePath(
            QStringLiteral("records-digest-%1.bin")
                .arg(QString::fromLatin1(QCryptographicHash::hash(key, QCryptographicHash::Sha1).toHex().left(16))));
}

const RunDigest::Run *RunDigest::find(qint64 rowid) const
{
    const auto it =
        std::lower_bound(m_runs.begin(), m_runs.end(), rowid, [](const Run &run, qint64 id) { return run.rowid < id; });
    return it != m_runs.end() && it->rowid == rowid ? &*it : nullptr;
}

std::vector<qint64> RunDigest::rowids() const
{
    std::vector<qint64> ids;
    ids.reserve(m_runs.size());
    for (const Run &run : m_runs)
        ids.push_back(run.rowid);
    return ids;
}

std::vector<qint64> RunDigest::rowidsOf(const QStringList &ids) const
{
    std::vector<qint64> rowids;
    rowids.reserve(size_t(ids.size()));
    for (const QString &id : ids) {
        const auto it = m_byId.constFind(id);
        if (it != m_byId.constEnd())
            rowids.push_back(m_runs[*it].rowid);
    }
    std::sort(rowids.begin(), rowids.end());
    return rowids;
}

RunDigest::Run *RunDigest::runWithId(const QString &id)
{
    const auto it = m_byId.constFind(id);
    return it == m_byId.constEnd() ? nullptr : &m_runs[*it];
}

// Selects the rowid and then columns (with FROM and any WHERE) of the records after
// mark, in rowid order; of the line database every record (rowid 0) in lineOrder.
bool RunDigest::select(QSqlQuery &q, const QSqlDatabase &db, const QString &columns, const Mark &mark,
                       const QString &lineOrder, QString *reason) const
{
    q = QSqlQuery(db);
    if (!m_sqlite)
        return run(q, QStringLiteral("SELECT 0, ") + columns + QStringLiteral(" ORDER BY ") + lineOrder, {}, reason);
    const QString after = columns.contains(QLatin1String(" WHERE ")) ? QStringLiteral(" AND rowid > ?")
                                                                     : QStringLiteral(" WHERE rowid > ?");
    return run(q, QStringLiteral("SELECT rowid, ") + columns + after + QStringLiteral(" ORDER BY rowid"), {mark.rowid},
               reason);
}

bool RunDigest::cancelled(QString *reason) const
{
    if (!m_cancelled || !m_cancelled())
        return false;
    if (reason)
        *reason = QStringLiteral("cancelled");
    return true;
}

bool RunDigest::update(const QSqlDatabase &db, const QString &cacheFile, QString *reason,
                       const std::function<bool()> &cancelled)
{
    const StoreBackend backend = StoreBackend::of(db);
    // A file is read from where the digest left off; the line database whole.
    const bool sqlite = backend.hasWriteOrder();
    if (!sqlite) {
        *this = RunDigest();
        m_sqlite = false;
    } else if (m_runs.empty() && !cacheFile.isEmpty()) {
        load(cacheFile);
    }
    // One read transaction: a station appending meanwhile is seen whole or not at all.
    QSqlQuery begin(db);
    begin.exec(backend.beginRead());
    // Still the store the digest was read from? Else read it all again.
    const struct {
        Mark *mark;
        const char *sql;
    } marks[] = {{&m_runsMark, "SELECT id FROM runs WHERE rowid = ?"},
                 {&m_endsMark, "SELECT run_id FROM run_ends WHERE rowid = ?"},
                 {&m_rowsMark, "SELECT id FROM row_results WHERE rowid = ?"},
                 {&m_writesMark, "SELECT id FROM eeprom_writes WHERE rowid = ?"}};
    for (const auto &m : marks) {
        if (!sqlite || m.mark->rowid == 0)
            continue;
        QSqlQuery q(db);
        if (!run(q, QString::fromLatin1(m.sql), {m.mark->rowid}, reason))
            return false;
        if (!q.next() || q.value(0).toString() != m.mark->key) {
            *this = RunDigest();
            break;
        }
    }
    const qint64 before = m_rowsMark.rowid + m_runsMark.rowid + m_endsMark.rowid + m_writesMark.rowid;
    m_cancelled = cancelled;
    const bool ok = readSince(db, reason);
    m_cancelled = nullptr;
    QSqlQuery(db).exec(QStringLiteral("COMMIT"));
    if (ok && sqlite && !cacheFile.isEmpty()
        && m_rowsMark.rowid + m_runsMark.rowid + m_endsMark.rowid + m_writesMark.rowid != before)
        save(cacheFile);
    return ok;
}

// Stations are few: read them all. The rows of one name, host and program are one
// station (older programs keyed a station by more, so a file may hold several).
bool RunDigest::readStations(const QSqlDatabase &db, QString *reason)
{
    QSqlQuery q(db);
    if (!run(q,
             m_sqlite ? QStringLiteral("SELECT id, name, host, program FROM stations ORDER BY rowid")
                      : QStringLiteral("SELECT id, name, host, program FROM stations ORDER BY created_utc, id"),
             {}, reason))
        return false;
    QHash<QString, qint32> first; // identity -> the index of its first row
    m_stationIndex.clear();
    while (q.next()) {
        const QString id = q.value(0).toString();
        if (!m_stationIds.contains(id)) {
            m_stationIds << id;
            m_stationNames << q.value(1).toString();
        }
        const QString identity =
            QStringList{q.value(1).toString(), q.value(2).toString(), q.value(3).toString()}.join(QChar(0x1f));
        const auto found = first.constFind(identity);
        const qint32 index = found != first.constEnd() ? *found : qint32(m_stationIds.indexOf(id));
        first.insert(identity, index);
        m_stationIndex.insert(id, index);
    }
    return true;
}

bool RunDigest::readRuns(const QSqlDatabase &db, QString *reason)
{
    QSqlQuery q;
    if (!select(q, db, QStringLiteral("id, seq, kind, serial, started_utc, station_id, product_id FROM runs"),
                m_runsMark, QStringLiteral("started_utc, id"), reason))
        return false;
    while (q.next()) {
        if (cancelled(reason))
            return false;
        Run r;
        r.id = q.value(1).toString();
        r.station = m_stationIndex.value(q.value(6).toString(), -1);
        r.productId = q.value(7).isNull() ? -1 : q.value(7).toInt();
        r.rowid = m_sqlite ? q.value(0).toLongLong() : qint64(m_runs.size()) + 1;
        r.seq = q.value(2).toLongLong();
        r.testAll = q.value(3).toString() == QLatin1String("test-all");
        r.serial = q.value(4).toString();
        r.startedMs = QDateTime::fromString(q.value(5).toString(), Qt::ISODateWithMs).toMSecsSinceEpoch();
        m_byId.insert(r.id, m_runs.size());
        m_runsMark = {r.rowid, r.id};
        m_runs.push_back(std::move(r));
    }
    return true;
}

bool RunDigest::readEnds(const QSqlDatabase &db, QString *reason)
{
    QSqlQuery q;
    if (!select(q, db, QStringLiteral("run_id, overall FROM run_ends"), m_endsMark, QStringLiteral("run_id"), reason))
        return false;
    while (q.next()) {
        if (cancelled(reason))
            return false;
        const QString id = q.value(1).toString();
        if (Run *found = runWithId(id))
            found->overall = overallCode(q.value(2));
        m_endsMark = {q.value(0).toLongLong(), id};
    }
    return true;
}

bool RunDigest::readRows(const QSqlDatabase &db, QString *reason)
{
    QSqlQuery q;
    if (!select(q, db, QStringLiteral("id, run_id, digit, status, name FROM row_results"), m_rowsMark,
                QStringLiteral("run_id, seq"), reason))
        return false;
    QString lastRun;
    Run *target = nullptr;
    while (q.next()) {
        if (cancelled(reason))
            return false;
        // A run's rows come one after another: look its id up once.
        const QString runId = q.value(2).toString();
        if (runId != lastRun) {
            target = runWithId(runId);
            lastRun = runId;
        }
        const int digit = q.value(3).toInt();
        if (target) {
            target->rows.append(char(digit));
            target->rows.append(char(statusCode(q.value(4).toString())));
        }
        if (!m_rowNames.contains(digit) || m_rowNames.value(digit) != q.value(5).toString())
            m_rowNames.insert(digit, q.value(5).toString());
        m_rowsMark = {q.value(0).toLongLong(), q.value(1).toString()};
    }
    return true;
}

// The calibration writes: the ARef word, the DAC blocks and their markers.
bool RunDigest::readWrites(const QSqlDatabase &db, QString *reason)
{
    QSqlQuery q;
    if (!select(q, db,
                QStringLiteral("id, run_id, address, bytes, status FROM eeprom_writes WHERE address IN (%1)")
                    .arg(calibrationAddresses()),
                m_writesMark, QStringLiteral("run_id, seq"), reason))
        return false;
    while (q.next()) {
        if (cancelled(reason))
            return false;
        m_writesMark = {q.value(0).toLongLong(), q.value(1).toString()};
        Run *target = runWithId(q.value(2).toString());
        if (!target || q.value(5).toLongLong() != 0)
            continue;
        const int address = q.value(3).toInt();
        const QByteArray bytes = QByteArray::fromHex(q.value(4).toString().toLatin1());
        if (address == ArefCalAddress && bytes.size() == 2) {
            target->arefWord = arefWordOf(bytes);
        } else if (calRecordOfBlock(address) >= 0 && bytes.size() == CalBlockSize) {
            target->dacs = calBlockValues(bytes);
            target->dacState = 0x10;
        } else if (const int record = calRecordOfMarker(address); record >= 0 && bytes.size() == CalMarkerSize) {
            const quint8 bit = quint8(1u << record);
            target->dacState =
                bytes == QByteArrayLiteral("DACC") ? quint8(target->dacState | bit) : quint8(target->dacState & ~bit);
        }
    }
    return true;
}

bool RunDigest::readSince(const QSqlDatabase &db, QString *reason)
{
    return readStations(db, reason) && readRuns(db, reason) && readEnds(db, reason) && readRows(db, reason)
           && readWrites(db, reason);
}

bool RunDigest::load(const QString &cacheFile)
{
    QFile file(cacheFile);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    QDataStream in(&file);
    quint32 magic = 0;
    quint32 version = 0;
    in >> magic >> version;
    if (magic != CacheMagic || version != CacheVersion)
        return false;
    RunDigest read;
    quint64 count = 0;
    in >> read.m_runsMark.rowid >> read.m_runsMark.key >> read.m_endsMark.rowid >> read.m_endsMark.key
        >> read.m_rowsMark.rowid >> read.m_rowsMark.key >> read.m_writesMark.rowid >> read.m_writesMark.key
        >> read.m_rowNames >> read.m_stationIds >> read.m_stationNames >> count;
    if (in.status() != QDataStream::Ok || count > quint64(file.size()))
        return false;
    read.m_runs.reserve(count);
    in.setFloatingPointPrecision(QDataStream::SinglePrecision);
    for (quint64 i = 0; i < count; ++i) {
        Run r;
        in >> r.rowid >> r.id >> r.seq >> r.serial >> r.startedMs >> r.testAll >> r.overall >> r.rows >> r.station
            >> r.productId >> r.arefWord >> r.dacState;
        for (float &v : r.dacs)
            in >> v;
        read.m_byId.insert(r.id, read.m_runs.size());
        read.m_runs.push_back(std::move(r));
    }
    if (in.status() != QDataStream::Ok)
        return false;
    *this = std::move(read);
    return true;
}

void RunDigest::save(const QString &cacheFile) const
{
    QDir().mkpath(QFileInfo(cacheFile).absolutePath());
    QSaveFile file(cacheFile);
    if (!file.open(QIODevice::WriteOnly))
        return;
    QDataStream out(&file);
    out << CacheMagic << CacheVersion << m_runsMark.rowid << m_runsMark.key << m_endsMark.rowid << m_endsMark.key
        << m_rowsMark.rowid << m_rowsMark.key << m_writesMark.rowid << m_writesMark.key << m_rowNames << m_stationIds
        << m_stationNames << quint64(m_runs.size());
    out.setFloatingPointPrecision(QDataStream::SinglePrecision);
    for (const Run &r : m_runs) {
        out << r.rowid << r.id << r.seq << r.serial << r.startedMs << r.testAll << r.overall << r.rows << r.station
            << r.productId << r.arefWord << r.dacState;
        for (const float v : r.dacs)
            out << v;
    }
    file.commit();
}

} // namespace quillon::records
