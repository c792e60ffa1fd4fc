#pragma once

#include <QSqlDatabase>
#include <QString>
#include <QStringList>
#include <QVariantHash>

#include <functional>
#include <optional>
#include <vector>

namespace quillon::records {

// Which runs a listing, an export or a yield covers. Empty fields do not filter.
// Times are stored-form UTC texts ("2026-12-08T14:45:31.123Z"); readRunFilter()
// (RunFilterText.h) makes a filter from what a person types.
struct RunFilter {
    QString since;              // started_utc >= since
    QString until;              // started_utc < until
    QString serial;             // exact
    std::optional<int> product; // product id
    QString station;            // station name, exact
    QString verdict;            // "pass", "fail", "aborted", "interrupted" or "open"
    QString operatorId;         // who tested, exact
    QString instrument;         // a reference instrument's asset id the run used, exact
    int limit = -1;             // -1 for all
    int offset = 0;
    // The order of a listing (newest first by default); ties go newest first.
    enum class Order { Started, Station, Serial, Product, Kind, EndState, Verdict };
    Order order = Order::Started;
    bool ascending = false;

    // True when no criterion is set (order, limit and offset aside).
    bool picksAll() const
    {
        return since.isEmpty() && until.isEmpty() && serial.isEmpty() && !product && station.isEmpty()
               && verdict.isEmpty() && operatorId.isEmpty() && instrument.isEmpty();
    }
};

// One line of a listing: the run with its station and end.
struct RunSummary {
    QString id;
    qint64 seq = 0;
    QString stationId;
    QString stationName;
    QString sessionId;
    QString kind; // "test-all" | "row"
    std::optional<int> rowDigit;
    std::optional<int> productId;
    QString serial;
    QString startedUtc;
    QString endedUtc;   // empty while open
    QString endState;   // empty while open
    QString overall;    // overall label text, empty if none
    QString verdict;    // overall, else a row run's row label, else empty
    QString operatorId; // who tested, empty when not recorded
    bool simulated = false;
    // Every stored column by name: the run's (runs) and its end's (run_ends).
    QVariantHash fields, endFields;
};

struct StationInfo {
    QString id, name, host, program, version, library, createdUtc;
    bool simulated = false;
    QVariantHash fields; // every stored column by name
};

struct SessionInfo {
    QString id, startedUtc, detectionLabel;
    std::optional<int> productId;
    QString variant;
    std::optional<int> channelCount, dacCount;
    QString revision, firmwareReply, revisionReply;
    bool simulated = false;
    QVariantHash fields; // every stored column by name
};

struct RowRecord {
    int seq = 0;
    int digit = 0;
    QString name, status, label, failLabel;
    QStringList memo; // exact lines
    QString startedUtc, endedUtc;
    QVariantHash fields; // every stored column by name
};

struct PromptRecord {
    int seq = 0;
    QString kind, caption, text, answer, typed;
    QString shownUtc, answeredUtc;
    bool hasTyped = false;
    QVariantHash fields; // every stored column by name
};

struct EepromWrite {
    int seq = 0;
    int address = 0;
    QByteArray bytes;
    quint32 status = 0;
    QString atUtc;
    QVariantHash fields; // every stored column by name
};

// One number a row judged (records/Columns.cpp: measurements). A value or limit
// that is not there (NaN, or not used by the comparison) is nullopt.
struct MeasurementRecord {
    int seq = 0; // its place in the run
    int digit = 0;
    QString name, kind, unit, comparison, outcome;
    std::optional<double> value, expected, tolerance, low, high;
    QVariantHash fields; // every stored column by name
};

// A reference instrument a run used, as the register held it then (records/Columns.cpp:
// run_instruments).
struct InstrumentUse {
    int seq = 0;
    QString role, assetId, kind, make, model, serial, calibratedOn, dueOn, certificate, status, note;
    QVariantHash fields; // every stored column by name
};

// Everything recorded about one run.
struct RunDetail {
    RunSummary run;
    StationInfo station;
    std::optional<SessionInfo> session;
    std::vector<RowRecord> rows;
    std::vector<PromptRecord> prompts;
    std::vector<EepromWrite> eepromWrites;
    std::vector<MeasurementRecord> measurements; // in the order they were taken
    bool keepsMeasurements = false;              // the store has them (schema 3 on)
    std::vector<InstrumentUse> instruments;      // in the order the run first used them
};

// One measurement with the keys of its run, as a listing of measurements shows it.
struct MeasurementLine {
    QString runId, startedUtc, stationName, serial;
    MeasurementRecord measurement; // its fields left empty
};

struct RowYield {
    int digit = 0;
    QString name;
    qint64 runs = 0, passes = 0, fails = 0;
};

struct YieldReport {
    std::vector<RowYield> rows; // by digit
    qint64 runs = 0;            // runs with an overall verdict
    qint64 passes = 0, fails = 0;
    qint64 serials = 0;          // distinct serials among them
    qint64 firstPassSerials = 0; // serials whose first such run passed
};

// A failed query or an unusable store: one line for a person.
struct QueryError {
    QString message;
};

// Read-only questions about a records store, over any open Qt SQL connection (SQLite
// file or the line database). Portable SQL with bound parameters only. Not thread-safe:
// use it on the thread that owns the connection.
class RecordsQuery {
public:
    explicit RecordsQuery(const QSqlDatabase &db);

    // Empty when the connection holds a records store this program can read; else why
    // not (not a records store, a newer schema).
    std::optional<QueryError> checkStore() const;

    std::vector<RunSummary> list(const RunFilter &filter, QueryError *error = nullptr) const;
    // Runs matching filter, ignoring its limit and offset.
    qint64 count(const RunFilter &filter, QueryError *error = nullptr) const;

    // The full id of the run whose id is idOrPrefix or starts with it; an error when none
    // or more than one does.
    std::optional<QString> resolveRun(const QString &idOrPrefix, QueryError *error) const;
    std::optional<RunDetail> run(const QString &id, QueryError *error = nullptr) const;

    // Aggregates in SQL (any database); on a SQLite store every query reads indexes only.
    YieldReport yield(const RunFilter &filter, QueryError *error = nullptr) const;
    // SQLite only: the rowids of the runs matching filter (limit ignored), ascending.
    std::vector<qint64> rowids(const RunFilter &filter, QueryError *error = nullptr) const;
    // The ids of the runs matching filter (limit ignored), in no particular order.
    QStringList runIds(const RunFilter &filter, QueryError *error = nullptr) const;

    // The distinct measurement names stored, ascending (by code point); empty for a store
    // without measurements. A few hundred index seeks, whatever the store's size.
    QStringList measurementNames(QueryError *error = nullptr) const;
    // The measurements named (all when names is nullopt) of the runs matching filter, its
    // limit counting runs: newest run first, each run's in the order they were taken,
    // handed to each (all of them as they are read; named ones once every run's are in,
    // which for a few names over many runs is many times faster). False (with error)
    // when the query failed.
    bool measurements(const RunFilter &filter, const std::optional<QStringList> &names,
                      const std::function<void(const MeasurementLine &)> &each, QueryError *error = nullptr) const;

    // Station names seen, for filter choices.
    QStringList stationNames() const;

    QSqlDatabase database() const { return m_db; }

    // The store's records schema version (0 when it cannot be read): a column added
    // after it reads as NULL.
    int storeVersion() const;

private:
    bool measurementsNamed(const RunFilter &filter, const QStringList &names,
                           const std::function<void(const MeasurementLine &)> &each, QueryError *error) const;
    bool hasTallyIndexes() const;

    QSqlDatabase m_db;
    mutable std::optional<bool> m_tallyIndexes;
    mutable std::optional<int> m_version;
};

} // namespace quillon::records
