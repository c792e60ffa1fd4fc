#include "records/line/LineUploader.h"

#include "records/Columns.h"
#include "records/line/LineDatabase.h"
#include "records/line/LineJournal.h"

#include <QDateTime>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTimer>
#include <QUuid>

Q_LOGGING_CATEGORY(lcLineDatabase, "quillon.records.line", QtInfoMsg)

namespace quillon::records {

namespace {

// The insert of one record kind from a JSON array of rows: the columns the station's file
// has, and for runs who uploads them (the server stamps when).
QString uploadSql(Table table)
{
    const TableInfo &info = tableInfo(table);
    QStringList names;
    for (const Column *c : columnsAt(info, Backend::Line))
        if (c->inFile() || (table == Table::Runs && QLatin1String(c->name) == QLatin1String("uploaded_by")))
            names << QLatin1String(c->name);
    const QString list = names.join(QStringLiteral(", "));
    return QStringLiteral("INSERT INTO %1 (%2) SELECT %2 FROM json_populate_recordset(NULL::%1, CAST(? AS json))"
                          " ON CONFLICT DO NOTHING")
        .arg(tableName(table), list);
}

QString sqlErrorText(const QSqlError &error)
{
    return error.databaseText().isEmpty() ? error.driverText() : error.databaseText();
}

} // namespace

// Everything here runs on the uploader's thread, which owns both connections.
class LineUploadWorker : public QObject {
    Q_OBJECT
public:
    LineUploadWorker(LineUploader *owner, LineUploader::Options options)
        : m_owner(owner), m_options(std::move(options)), m_url(LineDatabaseUrl::parse(m_options.url))
    {
        const QString id = QUuid::createUuid().toString(QUuid::WithoutBraces);
        m_lineName = QStringLiteral("quillon-line-") + id;
        m_journalName = QStringLiteral("quillon-line-journal-") + id;
    }

public slots:
    void begin()
    {
        m_retry = new QTimer(this);
        m_retry->setSingleShot(true);
        connect(m_retry, &QTimer::timeout, this, &LineUploadWorker::step);
        step();
    }

    // A run ended (or drain() asks): try now, even in the middle of a back-off.
    void work(quint64 wake)
    {
        m_wakeSeen = std::max(m_wakeSeen, wake);
        step();
    }

    // One batch; then the next one after the events queued meanwhile (a stop is heard).
    void step()
    {
        if (!m_retry)
            return;
        m_retry->stop();
        QString error;
        int sent = 0;
        if (!openJournal(&error) || !uploadOne(&sent, &error)) {
            failure(error);
            return;
        }
        if (sent > 0 || !m_registerCopied)
            copyRegister();
        if (sent > 0) {
            success(sent);
            m_retry->start(0);
            return;
        }
        // Nothing waits: whatever outage there was no longer holds anything up.
        m_failingFor.invalidate();
        m_warned = false;
        m_delayMs = 0;
        m_lastError.clear();
        m_owner->reportIdle(m_wakeSeen, true);
    }

    void shutdown()
    {
        delete m_retry;
        m_retry = nullptr;
        closeConnection(m_lineName);
        closeConnection(m_journalName);
    }

private:
    static void closeConnection(const QString &name)
    {
        if (QSqlDatabase::contains(name)) {
            QSqlDatabase::database(name, false).close();
            QSqlDatabase::removeDatabase(name);
        }
    }

    bool openJournal(QString *error)
    {
        if (QSqlDatabase::contains(m_journalName) && QSqlDatabase::database(m_journalName, false).isOpen())
            return true;
        // The station's writer creates the file and brings it to the version with the
        // upload tables; until it has, wait without calling it an error.
        if (!QFileInfo::exists(m_options.journalPath)) {
            *error = QStringLiteral("the local store %1 does not exist yet").arg(m_options.journalPath);
            m_notReady = true;
            return false;
        }
        QSqlDatabase journal = QSqlDatabase::contains(m_journalName)
                                   ? QSqlDatabase::database(m_journalName, false)
                                   : QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), m_journalName);
        journal.setDatabaseName(m_options.journalPath);
        // The station's writer holds the file now and then; wait for it instead of failing.
        journal.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=10000"));
        if (!journal.open()) {
            *error = QStringLiteral("cannot open the local store %1: %2")
                         .arg(m_options.journalPath, journal.lastError().text());
            return false;
        }
        QSqlQuery probe(journal);
        if (probe.exec(QStringLiteral("SELECT 1 FROM sqlite_master WHERE name = 'line_uploads'")) && !probe.next()) {
            probe = QSqlQuery();
            journal = QSqlDatabase();
            closeConnection(m_journalName);
            *error = QStringLiteral("the local store %1 has no upload tables yet").arg(m_options.journalPath);
            m_notReady = true;
            return false;
        }
        return true;
    }

    bool openLine(QString *error)
    {
        if (QSqlDatabase::contains(m_lineName) && QSqlDatabase::database(m_lineName, false).isOpen())
            return true;
        closeConnection(m_lineName);
        if (!openLineDatabase(m_url, m_lineName, error))
            return false;
        {
            QSqlDatabase line = QSqlDatabase::database(m_lineName, false);
            *error = checkLineSchema(line);
        }
        if (!error->isEmpty()) {
            closeConnection(m_lineName);
            return false;
        }
        qCInfo(lcLineDatabase).noquote() << "line database: connected to" << m_url.display;
        return true;
    }

    // The register goes down at the first contact and after every upload; a failure here
    // holds no upload up (it is tried again next time).
    void copyRegister()
    {
        QString error;
        if (!openLine(&error))
            return;
        QSqlDatabase line = QSqlDatabase::database(m_lineName, false);
        QSqlDatabase journal = QSqlDatabase::database(m_journalName, false);
        int added = 0;
        if (!copyInstrumentRegister(line, journal, &added, &error)) {
            qCWarning(lcLineDatabase).noquote() << "line database:" << error;
            return;
        }
        m_registerCopied = true;
        if (added > 0)
            qCInfo(lcLineDatabase).noquote() << "line database:" << added << "instrument register entries copied";
    }

    bool uploadOne(int *sent, QString *error)
    {
        QSqlDatabase journal = QSqlDatabase::database(m_journalName, false);
        LineBatch batch;
        if (!readLineBatch(journal, m_options.stationName, m_options.batchRuns, &batch, error))
            return false;
        if (batch.isEmpty())
            return true; // the server is only asked when there is something for it
        if (!openLine(error))
            return false;
        bool sentOk = false;
        for (int attempt = 0; attempt < 2 && !sentOk; ++attempt) {
            // A connection that sat idle may have been dropped by the server or the
            // network meanwhile: one more try on a new one before calling it an error.
            if (attempt > 0 && (!m_reused || !openLine(error)))
                break;
            {
                QSqlDatabase line = QSqlDatabase::database(m_lineName, false);
                sentOk = send(line, batch, error);
            }
            if (!sentOk)
                closeConnection(m_lineName);
        }
        m_reused = sentOk;
        if (!sentOk)
            return false;
        if (!markLineUploaded(journal, batch, error))
            return false; // on the server already; noted locally at the next try
        *sent = int(batch.runIds.size());
        return true;
    }

    static bool send(QSqlDatabase &line, const LineBatch &batch, QString *error)
    {
        if (!line.transaction()) {
            *error = lineErrorText(QStringLiteral("the line database refused a transaction"),
                                   sqlErrorText(line.lastError()));
            return false;
        }
        // Parents before children; the rows a run hangs on after the run (its row policy).
        // Each names the columns this station has: a newer server's own columns keep
        // their defaults.
        QSqlQuery query(line);
        for (std::size_t t = 0; t < RecordKinds; ++t) {
            if (batch.rows[t] == QLatin1String("[]"))
                continue;
            query.prepare(uploadSql(Table(t)));
            query.addBindValue(batch.rows[t]);
            if (!query.exec()) {
                *error = lineErrorText(QStringLiteral("the line database refused the upload"),
                                       sqlErrorText(query.lastError()));
                line.rollback();
                return false;
            }
        }
        if (!line.commit()) {
            *error = lineErrorText(QStringLiteral("the line database did not commit the upload"),
                                   sqlErrorText(line.lastError()));
            line.rollback();
            return false;
        }
        return true;
    }

    void success(int runs)
    {
        if (m_failingFor.isValid())
            qCInfo(lcLineDatabase).noquote()
                << "line database: uploading again after" << m_failingFor.elapsed() / 1000 << "s";
        m_failingFor.invalidate();
        m_warned = false;
        m_delayMs = 0;
        m_lastError.clear();
        qCDebug(lcLineDatabase).noquote() << "line database:" << runs << "run(s) uploaded";
        emit m_owner->uploaded(runs);
    }

    void failure(const QString &message)
    {
        if (m_notReady) {
            m_notReady = false;
            m_retry->start(m_options.minRetryMs);
            m_owner->reportIdle(m_wakeSeen, false);
            return;
        }
        if (!m_failingFor.isValid()) {
            m_failingFor.start();
            m_failingSince = QDateTime::currentDateTimeUtc();
        }
        if (message != m_lastError) {
            // One log line per distinct error, not one per retry.
            qCWarning(lcLineDatabase).noquote() << "line database:" << message << "(runs wait in the local store)";
            m_lastError = message;
            emit m_owner->failed(message);
        }
        if (QSqlDatabase::contains(m_journalName) && QSqlDatabase::database(m_journalName, false).isOpen()) {
            QSqlDatabase journal = QSqlDatabase::database(m_journalName, false);
            QString ignored;
            noteLineUploadError(journal, message, &ignored);
        }
        if (!m_warned && m_failingFor.elapsed() >= qint64(m_options.outageWarningSeconds) * 1000) {
            m_warned = true;
            emit m_owner->longOutage(
                QStringLiteral("The line database has taken none of this station's records since %1 UTC: %2\n"
                               "Testing goes on; the records wait on this station and go up when it is reachable.")
                    .arg(m_failingSince.toString(QStringLiteral("yyyy-MM-dd HH:mm")), message));
        }
        m_delayMs = m_delayMs == 0 ? m_options.minRetryMs : std::min(m_delayMs * 2, m_options.maxRetryMs);
        m_retry->start(m_delayMs);
        m_owner->reportIdle(m_wakeSeen, false);
    }

    LineUploader *m_owner;
    LineUploader::Options m_options;
    LineDatabaseUrl m_url;
    QString m_lineName;
    QString m_journalName;
    QTimer *m_retry = nullptr;
    QElapsedTimer m_failingFor;
    QDateTime m_failingSince;
    QString m_lastError;
    quint64 m_wakeSeen = 0;
    int m_delayMs = 0;
    bool m_warned = false;
    bool m_reused = false;   // the connection has served an upload before
    bool m_notReady = false; // the station's file is not there (or not migrated) yet
    bool m_registerCopied = false;
};

LineUploader::LineUploader(Options options, QObject *parent) : QObject(parent), m_options(std::move(options))
{
    m_thread.setObjectName(QStringLiteral("line uploader"));
}

LineUploader::~LineUploader()
{
    if (m_worker) {
        QMetaObject::invokeMethod(m_worker, "shutdown", Qt::BlockingQueuedConnection);
        m_thread.quit();
        m_thread.wait();
        delete m_worker;
    }
}

void LineUploader::start()
{
    if (m_worker)
        return;
    m_worker = new LineUploadWorker(this, m_options);
    m_worker->moveToThread(&m_thread);
    m_thread.start(QThread::LowPriority);
    QMetaObject::invokeMethod(m_worker, "begin", Qt::QueuedConnection);
}

void LineUploader::wake()
{
    if (!m_worker)
        return;
    quint64 wake = 0;
    {
        QMutexLocker lock(&m_mutex);
        wake = ++m_wakes;
    }
    QMetaObject::invokeMethod(m_worker, "work", Qt::QueuedConnection, Q_ARG(quint64, wake));
}

bool LineUploader::drain(int timeoutMs)
{
    if (!m_worker)
        return false;
    wake();
    QMutexLocker lock(&m_mutex);
    const quint64 wanted = m_wakes;
    QDeadlineTimer deadline(timeoutMs);
    while (m_settledWake < wanted) {
        if (!m_settled.wait(&m_mutex, deadline))
            return false;
    }
    return m_settledClean;
}

void LineUploader::reportIdle(quint64 wakeSeen, bool clean)
{
    QMutexLocker lock(&m_mutex);
    m_settledWake = std::max(m_settledWake, wakeSeen);
    m_settledClean = clean;
    m_settled.wakeAll();
}

} // namespace quillon::records

#include "LineUploader.moc"
