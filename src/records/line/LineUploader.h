#pragma once

#include <QLoggingCategory>
#include <QMutex>
#include <QObject>
#include <QString>
#include <QThread>
#include <QWaitCondition>

#include <memory>

Q_DECLARE_LOGGING_CATEGORY(lcLineDatabase)

namespace quillon::records {

class LineUploadWorker;

// Copies a station's finished runs from its local store (the journal) to the line
// database, in the order they were written, on a thread and connections of its own.
// Inserting a run twice changes nothing on the server, so a run cut off mid-way (or
// uploaded but not yet noted locally) is simply sent again. While the server cannot be
// reached the runs wait in the journal; the uploader retries with a capped back-off.
//
// Thread-safe: wake() and drain() may be called from any thread; signals are emitted
// from the uploader's thread (connect with queued connections to widgets).
class LineUploader : public QObject {
    Q_OBJECT
public:
    struct Options {
        QString url;         // postgresql://user@host:port/dbname?...
        QString journalPath; // the station's SQLite store
        QString stationName; // uploaded_by; the station's role is named so
        int outageWarningSeconds = 3600;
        int minRetryMs = 500;
        int maxRetryMs = 10000;
        int batchRuns = 200; // runs per server transaction
    };

    explicit LineUploader(Options options, QObject *parent = nullptr);
    ~LineUploader() override; // stops the thread (an upload in flight ends first)

    void start();
    // A run's end was committed to the journal: upload now rather than at the next retry.
    void wake();
    // Waits until everything finished so far is uploaded, or `timeoutMs` passed, or the
    // server failed; true when nothing was left.
    bool drain(int timeoutMs);

signals:
    void uploaded(int runs);
    void failed(const QString &message);
    // Once per outage, when runs have waited longer than the warning setting.
    void longOutage(const QString &message);

private:
    friend class LineUploadWorker;
    void reportIdle(quint64 wakeSeen, bool clean);

    Options m_options;
    QThread m_thread;
    LineUploadWorker *m_worker = nullptr; // lives on m_thread
    QMutex m_mutex;
    QWaitCondition m_settled;
    quint64 m_wakes = 0;
    quint64 m_settledWake = 0;
    bool m_settledClean = false;
};

} // namespace quillon::records
