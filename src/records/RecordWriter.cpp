#include "records/RecordWriter.h"

#include "records/RecordStore.h"
#include "records/Schema.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QLockFile>
#include <QSaveFile>
#include <QUuid>

#include <chrono>

namespace quillon::records {

RecordWriter::RecordWriter(Options options, QObject *parent) : QObject(parent), m_options(std::move(options))
{
}

RecordWriter::~RecordWriter()
{
    finish();
}

void RecordWriter::start()
{
    if (!m_thread.joinable())
        m_thread = std::thread([this] {
            run();
            {
                const std::lock_guard lock(m_mutex);
                m_done = true;
            }
            m_progress.notify_all();
        });
}

std::uint64_t RecordWriter::enqueue(Record record)
{
    std::uint64_t ticket = 0;
    {
        const std::lock_guard lock(m_mutex);
        m_incoming.push_back(std::move(record));
        ticket = ++m_enqueued;
    }
    m_wake.notify_one();
    return ticket;
}

bool RecordWriter::waitWritten(std::uint64_t ticket, int timeoutMs)
{
    std::unique_lock lock(m_mutex);
    return m_progress.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] {
        return m_written >= ticket || m_failing.load() || m_done;
    }) && m_written >= ticket;
}

bool RecordWriter::waitOpened(int timeoutMs)
{
    std::unique_lock lock(m_mutex);
    m_progress.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return m_openTried; });
    return m_opened;
}

QString RecordWriter::failureReason() const
{
    const std::lock_guard lock(m_mutex);
    return m_reason;
}

std::optional<RecordWriter::Failure> RecordWriter::firstFailure() const
{
    const std::lock_guard lock(m_mutex);
    return m_firstFailure;
}

QString RecordWriter::spillPath() const
{
    const std::lock_guard lock(m_mutex);
    return m_spillPath.isEmpty() ? chooseSpillPath() : m_spillPath;
}

int RecordWriter::pendingCount() const
{
    const std::lock_guard lock(m_mutex);
    return int(m_incoming.size() + m_completing + m_pending.size());
}

QString RecordWriter::chooseSpillPath() const
{
    const QString name = QStringLiteral("records-unwritten-%1-%2.json")
                             .arg(QDateTime::currentDateTimeUtc().toString(QStringLiteral("yyyyMMdd-HHmmss")))
                             .arg(QCoreApplication::applicationPid());
    // A folder that can be written: the one given, else the temporary folder.
    for (const QString &dir : {m_options.spillDir, QDir::tempPath()}) {
        if (dir.isEmpty() || !QDir().mkpath(dir))
            continue;
        if (QFileInfo(dir).isWritable())
            return QDir(dir).filePath(name);
    }
    return QDir(QDir::tempPath()).filePath(name);
}

void RecordWriter::noteFailure(const QString &reason)
{
    bool first = false;
    QString spill;
    {
        const std::lock_guard lock(m_mutex);
        m_reason = reason;
        if (m_spillPath.isEmpty())
            m_spillPath = chooseSpillPath();
        spill = m_spillPath;
        first = !m_warned;
        m_warned = true;
        if (first)
            m_firstFailure = Failure{reason, spill};
        m_failing = true;
    }
    m_progress.notify_all();
    if (first)
        emit storeFailed(m_options.path, reason, spill);
}

RecordWriter::Batch RecordWriter::takeBatch()
{
    std::deque<Record> taken;
    Batch batch;
    {
        std::unique_lock lock(m_mutex);
        if (m_failing.load())
            m_wake.wait_for(lock, std::chrono::milliseconds(m_options.retryMs), [&] { return m_stopping; });
        else if (m_openTried)
            m_wake.wait(lock, [&] { return m_stopping || !m_incoming.empty(); });
        taken.swap(m_incoming);
        m_completing = taken.size();
        batch.stopping = m_stopping;
        batch.upTo = m_enqueued;
    }
    // Records the GUI thread handed over unfinished are finished here, outside the lock,
    // so its enqueue never waits for them.
    for (Record &r : taken)
        r.complete();
    const std::lock_guard lock(m_mutex);
    for (Record &r : taken)
        m_pending.push_back(std::move(r));
    m_completing = 0;
    batch.records.reserve(qsizetype(m_pending.size()));
    for (const Record &r : m_pending)
        batch.records.append(r);
    return batch;
}

namespace {

// True when no other instance of the station holds its lock file (named prefix*.lock in
// dir; own is this instance's). The file of an instance whose process is gone is stale:
// taken and removed on the way.
bool aloneOfItsStation(const QDir &dir, const QString &prefix, const QString &own)
{
    const QStringList locks = dir.entryList({prefix + QStringLiteral("*.lock")}, QDir::Files);
    for (const QString &name : locks) {
        if (name == own)
            continue;
        QLockFile other(dir.filePath(name));
        other.setStaleLockTime(0); // never stale by age: only when its process is gone
        if (!other.tryLock(0))
            return false; // alive, or it cannot be told: its runs may be live
        other.unlock();
    }
    return true;
}

} // namespace

bool RecordWriter::attempt(RecordStore &store, const Batch &batch, bool &interrupted, const QString &started,
                           const std::function<bool()> &alone, QString *reason)
{
    bool ok = store.isOpen() || store.open(m_options.path, reason);
    if (ok && !interrupted) {
        QStringList ended;
        ok = store.interruptOpenRuns(m_options.station, m_options.host, m_options.program, started, &ended, reason,
                                     alone);
        interrupted = ok;
        for (const QString &id : ended)
            emit runFinished(id);
    }
    {
        const std::lock_guard lock(m_mutex);
        if (!m_openTried) {
            m_openTried = true;
            m_opened = ok;
        }
    }
    m_progress.notify_all();
    return ok && (batch.records.isEmpty() || store.write(batch.records, reason));
}

void RecordWriter::committed(const Batch &batch)
{
    bool recovered = false;
    {
        const std::lock_guard lock(m_mutex);
        m_pending.erase(m_pending.begin(), m_pending.begin() + std::ptrdiff_t(batch.records.size()));
        m_written = batch.upTo;
        recovered = m_failing.load() && m_incoming.empty();
        if (recovered)
            m_failing = false;
    }
    m_progress.notify_all();
    for (const Record &r : batch.records)
        if (r.table == Table::RunEnds)
            emit runFinished(r.values.value(0).toString());
    if (recovered)
        emit storeRecovered(m_options.path);
}

void RecordWriter::run()
{
    RecordStore store(QStringLiteral("quillon-records-writer-%1").arg(quintptr(this), 0, 16));
    // Each instance of a station (same file, name, host and program) holds a lock file of
    // its own while it runs. An instance ends the station's open runs as interrupted only
    // when it finds every other instance's lock gone with its process: then no one else
    // can be making them. A lock left by a killed process is stale and removed.
    const QByteArray key = QCryptographicHash::hash(
        QStringList{QFileInfo(m_options.path).absoluteFilePath(), m_options.station, m_options.host, m_options.program}
            .join(QChar(0x1f))
            .toUtf8(),
        QCryptographicHash::Sha1);
    const QDir lockDir(QDir::tempPath());
    const QString prefix = QStringLiteral("quillon-station-%1-").arg(QString::fromLatin1(key.toHex().left(16)));
    const QString own = prefix + QUuid::createUuid().toString(QUuid::Id128) + QStringLiteral(".lock");
    QLockFile instance(lockDir.filePath(own));
    instance.setStaleLockTime(0); // held for the instance's whole life, however long
    bool interrupted = m_options.station.isEmpty() || !instance.tryLock(0);
    const std::function<bool()> alone = [&] { return aloneOfItsStation(lockDir, prefix, own); };
    // Runs begun after this (by a second instance that found the lock taken) are live.
    const QString started = utcNow();
    for (;;) {
        const Batch batch = takeBatch();
        if (batch.stopping && batch.records.isEmpty())
            return;
        QString reason;
        if (!attempt(store, batch, interrupted, started, alone, &reason)) {
            store.close(); // reopened on the next attempt: the file may have been replaced
            noteFailure(reason);
            if (batch.stopping)
                return;
            continue;
        }
        committed(batch);
        if (batch.stopping && pendingCount() == 0)
            return;
    }
}

int RecordWriter::finish()
{
    {
        const std::lock_guard lock(m_mutex);
        m_stopping = true;
    }
    m_wake.notify_all();
    if (m_thread.joinable())
        m_thread.join();
    m_progress.notify_all();

    QJsonArray left;
    QString path;
    {
        const std::lock_guard lock(m_mutex);
        for (const Record &r : m_pending)
            left.append(toJson(r));
        for (Record &r : m_incoming) {
            r.complete();
            left.append(toJson(r));
        }
        m_pending.clear();
        m_incoming.clear();
        if (left.isEmpty())
            return 0;
        if (m_spillPath.isEmpty())
            m_spillPath = chooseSpillPath();
        path = m_spillPath;
    }
    const QJsonObject doc{{QStringLiteral("kind"), QStringLiteral("quillon-records-unwritten")},
                          {QStringLiteral("file"), m_options.path},
                          {QStringLiteral("records"), left}};
    const QByteArray bytes = QJsonDocument(doc).toJson(QJsonDocument::Indented);
    QSaveFile out(path);
    if (!out.open(QIODevice::WriteOnly) || out.write(bytes) != bytes.size() || !out.commit())
        qWarning("quillon: %lld records could not be saved to %s: %s", qlonglong(left.size()), qPrintable(path),
                 qPrintable(out.errorString()));
    return int(left.size());
}

} // namespace quillon::records
