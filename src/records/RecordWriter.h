#pragma once

#include "records/Record.h"

#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>
#include <functional>
#include <thread>

namespace quillon::records {

class RecordStore;

// Writes records on a thread of its own with its own connection, so the GUI thread
// only appends to a queue. While the file cannot be written (read-only folder, full
// disk, locked or corrupt file) the records stay queued in memory and the thread
// retries; whatever is still unwritten when the writer finishes goes to a JSON file.
// enqueue(), waitWritten() and the accessors may be called from any thread; the
// signals are emitted on the writer thread (queued to receivers elsewhere).
class RecordWriter final : public QObject {
    Q_OBJECT

public:
    struct Options {
        QString path;       // the records file
        QString spillDir;   // where unwritten records go at the end (else the temp folder)
        int retryMs = 2000; // pause between attempts while the file cannot be written
        // Runs of this station (name, host, program) still open in the file when it is
        // first opened are ended as "interrupted". Empty name: none are.
        QString station, host, program;
    };

    explicit RecordWriter(Options options, QObject *parent = nullptr);
    ~RecordWriter() override;
    RecordWriter(const RecordWriter &) = delete;
    RecordWriter &operator=(const RecordWriter &) = delete;

    void start();

    // Queues a record; returns its ticket for waitWritten().
    std::uint64_t enqueue(Record record);

    // Waits until the record with this ticket (and everything before it) is committed.
    // Returns false at once while the file cannot be written, or after timeoutMs.
    bool waitWritten(std::uint64_t ticket, int timeoutMs);

    // Waits for the first attempt to open the file; true when it opened.
    bool waitOpened(int timeoutMs);

    bool failing() const { return m_failing.load(); }
    // The first failure (what storeFailed said), also when the file works again since.
    struct Failure {
        QString reason;
        QString spillFile;
    };
    std::optional<Failure> firstFailure() const;
    QString failureReason() const;
    QString path() const { return m_options.path; }
    // The JSON file unwritten records go to at the end (chosen at the first failure).
    QString spillPath() const;
    int pendingCount() const;

    // Stops the thread after one last attempt to write everything; saves what is left
    // to spillPath(). Returns the number of records saved there (0: nothing was lost).
    int finish();

signals:
    // The file cannot be written (emitted once, at the first failure).
    void storeFailed(const QString &file, const QString &reason, const QString &spillFile);
    // Everything queued has been written after a failure.
    void storeRecovered(const QString &file);
    // A run's end has been committed (its records are complete in the file).
    void runFinished(const QString &runId);

private:
    // Everything queued so far, as one transaction's worth.
    struct Batch {
        QList<Record> records;
        std::uint64_t upTo = 0; // the last ticket it holds
        bool stopping = false;
    };
    void run();
    Batch takeBatch();
    bool attempt(RecordStore &store, const Batch &batch, bool &interrupted, const QString &started,
                 const std::function<bool()> &alone, QString *reason);
    void committed(const Batch &batch);
    void noteFailure(const QString &reason);
    QString chooseSpillPath() const;

    const Options m_options;
    std::thread m_thread;
    mutable std::mutex m_mutex;
    std::condition_variable m_wake;
    std::condition_variable m_progress;
    std::deque<Record> m_incoming;
    std::deque<Record> m_pending; // taken by the thread, not yet committed
    std::size_t m_completing = 0; // taken by the thread, being finished (Record::complete)
    std::uint64_t m_enqueued = 0;
    std::uint64_t m_written = 0;
    bool m_stopping = false;
    bool m_done = false; // the thread has returned
    bool m_opened = false;
    bool m_openTried = false;
    bool m_warned = false;
    QString m_reason;
    std::optional<Failure> m_firstFailure;
    QString m_spillPath;
    std::atomic<bool> m_failing{false};
};

} // namespace quillon::records
