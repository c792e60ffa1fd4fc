#include "records/RecordsQuery.h"

#include "records/Columns.h"
#include "records/ReadOnlyStore.h"
#include "records/RunText.h"
#include "records/Schema.h"
#include "records/StoreBackend.h"

#include <QDateTime>
#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QRegularExpression>
#include <QSet>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QVariant>

#include <algorithm>
#include <array>
#include <atomic>
#include <cstdint>
#include <numeric>
#include <limits>
#include <thread>
#include <map>
#include <tuple>

namespace quillon::records {

namespace {

// A stored REAL, or nullopt for SQL NULL.
std::optional<double> realOrNone(const QVariant &v)
{
    return v.isNull() ? std::nullopt : std::optional<double>(v.toDouble());
}

std::optional<int> optionalInt(const QVariant &value)
{
    if (value.isNull())
        return std::nullopt;
    return value.toInt();
}

// The WHERE clause of a filter over runs r, stations s and run_ends e, with its values
// in the order of their placeholders.
struct Where {
    QString sql;       // " WHERE " + condition, or empty
    QString condition; // the terms joined by AND, or empty
    QVariantList values;
    bool needsStation = false;
    bool needsEnd = false;
};

// The verdict a person reads: the overall label, else a row run's own row label.
const QString VerdictExpression =
    QStringLiteral("CASE WHEN e.overall IS NOT NULL THEN e.overall WHEN r.kind = 'row' THEN "
                   "(SELECT rr.label FROM row_results rr WHERE rr.run_id = r.id ORDER BY rr.seq DESC LIMIT 1) END");

// version: the store's schema version (a filter on what it does not keep matches nothing).
Where whereOf(const RunFilter &filter, int version)
{
    QStringList terms;
    Where where;
    const bool traced = version >= tableInfo(Table::RunInstruments).since;
    if (!filter.operatorId.isEmpty()) {
        terms << (traced ? QStringLiteral("r.operator = ?") : QStringLiteral("1 = 0"));
        if (traced)
            where.values << filter.operatorId;
    }
    if (!filter.instrument.isEmpty()) {
        terms << (traced ? QStringLiteral("EXISTS (SELECT 1 FROM run_instruments ri WHERE ri.asset_id = ? AND "
                                          "ri.run_id = r.id)")
                         : QStringLiteral("1 = 0"));
        if (traced)
            where.values << filter.instrument;
    }
    if (!filter.since.isEmpty()) {
        terms << QStringLiteral("r.started_utc >= ?");
        where.values << filter.since;
    }
    if (!filter.until.isEmpty()) {
        terms << QStringLiteral("r.started_utc < ?");
        where.values << filter.until;
    }
    if (!filter.serial.isEmpty()) {
        terms << QStringLiteral("r.serial = ?");
        where.values << filter.serial;
    }
    if (filter.product) {
        terms << QStringLiteral("r.product_id = ?");
        where.values << *filter.product;
    }
    if (!filter.station.isEmpty()) {
        terms << QStringLiteral("s.name = ?");
        where.values << filter.station;
        where.needsStation = true;
    }
    const QString verdict = filter.verdict.toLower();
    where.needsEnd = !verdict.isEmpty();
    if (verdict == QLatin1String("pass") || verdict == QLatin1String("fail")) {
        terms << QStringLiteral("(upper(e.overall) = ? OR (e.overall IS NULL AND r.kind = 'row' AND EXISTS "
                                "(SELECT 1 FROM row_results rr WHERE rr.run_id = r.id AND rr.status = ?)))");
        where.values << verdict.toUpper() << verdict;
    } else if (verdict == QLatin1String("open")) {
        terms << QStringLiteral("e.run_id IS NULL");
    } else if (!verdict.isEmpty()) {
        terms << QStringLiteral("e.end_state = ?");
        where.values << verdict;
    }
    if (!terms.isEmpty()) {
        where.condition = terms.join(QStringLiteral(" AND "));
        where.sql = QStringLiteral(" WHERE ") + where.condition;
    }
    return where;
}

bool exec(QSqlQuery &query, const QString &sql, const QVariantList &values, QueryError *error)
{
    query.setForwardOnly(true);
    if (!query.prepare(sql)) {
        if (error)
            error->message = query.lastError().text();
        return false;
    }
    for (const QVariant &value : values)
        query.addBindValue(value);
    if (!query.exec()) {
        if (error)
            error->message = query.lastError().text();
        return false;
    }
    return true;
}

// The columns of a record table as a select list over `alias`, as the store has them at
// `version`: a column added later reads as NULL.
struct Selection {
    QList<const Column *> columns;
    QStringList names; // the columns' names, made once (every row's fields share them)
    QString sql;
};

Selection selection(Table table, const char *alias, int version)
{
    Selection s;
    s.columns = columnsAt(tableInfo(table), Backend::File);
    QStringList parts;
    for (const Column *c : std::as_const(s.columns))
        s.names << QLatin1String(c->name);
    for (const Column *c : std::as_const(s.columns))
        parts << (c->since <= version ? QLatin1String(alias) + QLatin1Char('.') + QLatin1String(c->name)
                                      : QStringLiteral("NULL"));
    s.sql = parts.join(QStringLiteral(", "));
    return s;
}

// The values of a selection that starts at `first`, by column name.
QVariantHash fieldsOf(const QSqlQuery &q, int first, const Selection &s)
{
    QVariantHash fields;
    fields.reserve(s.columns.size());
    for (int i = 0; i < s.names.size(); ++i)
        fields.insert(s.names[i], q.value(first + i));
    return fields;
}

// A listing's line: the run's columns, its end's, its station's name and the verdict.
struct SummarySelect {
    Selection runs, ends;
    QString sql; // SELECT ... FROM ...
};

SummarySelect summarySelect(int version)
{
    SummarySelect s{selection(Table::Runs, "r", version), selection(Table::RunEnds, "e", version), {}};
    s.sql = QStringLiteral("SELECT ") + s.runs.sql + QStringLiteral(", ") + s.ends.sql + QStringLiteral(", s.name, ")
            + VerdictExpression
            + QStringLiteral(" FROM runs r JOIN stations s ON s.id = r.station_id LEFT JOIN run_ends e ON e.run_id "
                             "= r.id");
    return s;
}

RunSummary summaryFrom(const QSqlQuery &q, const SummarySelect &s)
{
    RunSummary run;
    run.fields = fieldsOf(q, 0, s.runs);
    run.endFields = fieldsOf(q, int(s.runs.columns.size()), s.ends);
    const int after = int(s.runs.columns.size() + s.ends.columns.size());
    const QVariantHash &f = run.fields;
    const QVariantHash &e = run.endFields;
    run.id = f.value(QStringLiteral("id")).toString();
    run.seq = f.value(QStringLiteral("seq")).toLongLong();
    run.stationId = f.value(QStringLiteral("station_id")).toString();
    run.stationName = q.value(after).toString();
    run.sessionId = f.value(QStringLiteral("session_id")).toString();
    run.kind = f.value(QStringLiteral("kind")).toString();
    run.rowDigit = optionalInt(f.value(QStringLiteral("row_digit")));
    run.productId = optionalInt(f.value(QStringLiteral("product_id")));
    run.serial = f.value(QStringLiteral("serial")).toString();
    run.startedUtc = f.value(QStringLiteral("started_utc")).toString();
    run.endedUtc = e.value(QStringLiteral("ended_utc")).toString();
    run.endState = e.value(QStringLiteral("end_state")).toString();
    run.overall = e.value(QStringLiteral("overall")).toString();
    run.simulated = f.value(QStringLiteral("simulated")).toLongLong() != 0;
    run.verdict = q.value(after + 1).toString();
    run.operatorId = f.value(QStringLiteral("operator")).toString();
    return run;
}

QStringList memoLines(const QString &json)
{
    QStringList lines;
    const QJsonArray array = QJsonDocument::fromJson(json.toUtf8()).array();
    lines.reserve(array.size());
    for (const auto &line : array)
        lines << line.toString();
    return lines;
}

} // namespace

RecordsQuery::RecordsQuery(const QSqlDatabase &db) : m_db(db)
{
}

std::optional<QueryError> RecordsQuery::checkStore() const
{
    if (!m_db.isOpen())
        return QueryError{QStringLiteral("the database is not open: %1").arg(m_db.lastError().text())};
    // Portable (the line database too): only the meta table is asked.
    QSqlQuery q(m_db);
    q.setForwardOnly(true);
    if (!q.exec(QStringLiteral("SELECT key, value FROM meta WHERE key IN ('kind', 'schema_version')")))
        return QueryError{QStringLiteral("not a records file (%1)").arg(q.lastError().databaseText())};
    QString kind;
    int version = -1;
    while (q.next()) {
        if (q.value(0).toString() == QLatin1String("kind"))
            kind = q.value(1).toString();
        else
            version = q.value(1).toString().toInt();
    }
    if (kind != QLatin1String(StoreKind) || version < 1)
        return QueryError{QStringLiteral("not a records file (no records kind and schema version)")};
    if (version > SchemaVersion)
        return QueryError{QStringLiteral("the file has records schema version %1; this program reads up to version %2")
                              .arg(version)
                              .arg(SchemaVersion)};
    return std::nullopt;
}

std::vector<RunSummary> RecordsQuery::list(const RunFilter &filter, QueryError *error) const
{
    const Where where = whereOf(filter, storeVersion());
    QString order;
    switch (filter.order) {
    case RunFilter::Order::Started: order = QStringLiteral("r.started_utc"); break;
    case RunFilter::Order::Station: order = QStringLiteral("s.name"); break;
    case RunFilter::Order::Serial: order = QStringLiteral("r.serial"); break;
    case RunFilter::Order::Product: order = QStringLiteral("r.product_id"); break;
    case RunFilter::Order::Kind: order = QStringLiteral("r.kind"); break;
    case RunFilter::Order::EndState: order = QStringLiteral("e.end_state"); break;
    case RunFilter::Order::Verdict: order = QStringLiteral("e.overall"); break;
    }
    order += filter.ascending ? QStringLiteral(" ASC") : QStringLiteral(" DESC");
    if (filter.order != RunFilter::Order::Started)
        order += QStringLiteral(", r.started_utc DESC");
    const SummarySelect select = summarySelect(storeVersion());
    QString sql = select.sql + where.sql + QStringLiteral(" ORDER BY ") + order + QStringLiteral(", r.seq DESC");
    QVariantList values = where.values;
    if (filter.limit >= 0 || filter.offset > 0) {
        sql += QStringLiteral(" LIMIT ? OFFSET ?");
        values << (filter.limit >= 0 ? filter.limit : std::numeric_limits<int>::max()) << filter.offset;
    }
    QSqlQuery q(m_db);
    std::vector<RunSummary> runs;
    if (!exec(q, sql, values, error))
        return runs;
    while (q.next())
        runs.push_back(summaryFrom(q, select));
    return runs;
}

// runs r with only the joins the filter needs.
static QString filteredFrom(const Where &where)
{
    QString from = QStringLiteral(" FROM runs r");
    if (where.needsStation)
        from += QStringLiteral(" JOIN stations s ON s.id = r.station_id");
    if (where.needsEnd)
        from += QStringLiteral(" LEFT JOIN run_ends e ON e.run_id = r.id");
    return from;
}

qint64 RecordsQuery::count(const RunFilter &filter, QueryError *error) const
{
    const Where where = whereOf(filter, storeVersion());
    QSqlQuery q(m_db);
    if (!exec(q, QStringLiteral("SELECT count(*)") + filteredFrom(where) + where.sql, where.values, error) || !q.next())
        return 0;
    return q.value(0).toLongLong();
}

std::vector<qint64> RecordsQuery::rowids(const RunFilter &filter, QueryError *error) const
{
    const Where where = whereOf(filter, storeVersion());
    std::vector<qint64> ids;
    QSqlQuery q(m_db);
    if (!exec(q,
              QStringLiteral("SELECT r.rowid") + filteredFrom(where) + where.sql + QStringLiteral(" ORDER BY r.rowid"),
              where.values, error))
        return ids;
    while (q.next())
        ids.push_back(q.value(0).toLongLong());
    return ids;
}

QStringList RecordsQuery::runIds(const RunFilter &filter, QueryError *error) const
{
    const Where where = whereOf(filter, storeVersion());
    QStringList ids;
    QSqlQuery q(m_db);
    if (!exec(q, QStringLiteral("SELECT r.id") + filteredFrom(where) + where.sql, where.values, error))
        return ids;
    while (q.next())
        ids << q.value(0).toString();
    return ids;
}

std::optional<QString> RecordsQuery::resolveRun(const QString &idOrPrefix, QueryError *error) const
{
    const QString prefix = idOrPrefix.trimmed().toLower();
    if (prefix.isEmpty()) {
        if (error)
            error->message = QStringLiteral("empty run id");
        return std::nullopt;
    }
    static const QRegularExpression idCharacters(QStringLiteral("^[0-9a-f-]+$"));
    if (!idCharacters.match(prefix).hasMatch()) {
        if (error)
            error->message = QStringLiteral("no run %1").arg(idOrPrefix);
        return std::nullopt;
    }
    // A key range keeps it on the primary key: ids are lower-case hex and '-', so every
    // id starting with the prefix sorts between the prefix and the prefix followed by 'g'.
    QSqlQuery q(m_db);
    if (!exec(q, QStringLiteral("SELECT id FROM runs WHERE id >= ? AND id < ? ORDER BY id LIMIT 2"),
              {prefix, prefix + QLatin1Char('g')}, error))
        return std::nullopt;
    QStringList found;
    while (q.next())
        found << q.value(0).toString();
    if (found.isEmpty()) {
        if (error)
            error->message = QStringLiteral("no run %1").arg(idOrPrefix);
        return std::nullopt;
    }
    if (found.size() > 1 && found.first() != prefix) {
        if (error)
            error->message =
                QStringLiteral("run prefix %1 is ambiguous (%2, %3, ...)").arg(idOrPrefix, found.at(0), found.at(1));
        return std::nullopt;
    }
    return found.first();
}

std::optional<RunDetail> RecordsQuery::run(const QString &id, QueryError *error) const
{
    RunDetail detail;
    const int version = storeVersion();
    {
        const SummarySelect select = summarySelect(version);
        QSqlQuery q(m_db);
        if (!exec(q, select.sql + QStringLiteral(" WHERE r.id = ?"), {id}, error))
            return std::nullopt;
        if (!q.next()) {
            if (error)
                error->message = QStringLiteral("no run %1").arg(id);
            return std::nullopt;
        }
        detail.run = summaryFrom(q, select);
    }
    // The records a run hangs on, each row's columns by name, in order.
    const auto each = [&](Table table, const char *where, const QVariant &key, auto &&take) {
        const Selection s = selection(table, "t", version);
        QSqlQuery q(m_db);
        if (!exec(q,
                  QStringLiteral("SELECT ") + s.sql + QStringLiteral(" FROM ") + tableName(table)
                      + QStringLiteral(" t WHERE ") + QLatin1String(where),
                  {key}, error))
            return false;
        while (q.next())
            take(fieldsOf(q, 0, s));
        return true;
    };
    detail.keepsMeasurements = version >= tableInfo(Table::Measurements).since;
    const auto text = [](const QVariantHash &f, const char *name) { return f.value(QLatin1String(name)).toString(); };
    const auto number = [](const QVariantHash &f, const char *name) {
        return f.value(QLatin1String(name)).toLongLong();
    };
    const bool ok =
        each(Table::Stations, "t.id = ?", detail.run.stationId,
             [&](QVariantHash f) {
                 detail.station = StationInfo{
                     text(f, "id"),      text(f, "name"),    text(f, "host"),        text(f, "program"),
                     text(f, "version"), text(f, "library"), text(f, "created_utc"), number(f, "simulated") != 0,
                     std::move(f)};
             })
        && (detail.run.sessionId.isEmpty()
            || each(Table::Sessions, "t.id = ?", detail.run.sessionId,
                    [&](QVariantHash f) {
                        SessionInfo s;
                        s.id = text(f, "id");
                        s.startedUtc = text(f, "started_utc");
                        s.detectionLabel = text(f, "detection_label");
                        s.productId = optionalInt(f.value(QStringLiteral("product_id")));
                        s.variant = text(f, "variant");
                        s.channelCount = optionalInt(f.value(QStringLiteral("channel_count")));
                        s.dacCount = optionalInt(f.value(QStringLiteral("dac_count")));
                        s.revision = text(f, "revision");
                        s.firmwareReply = text(f, "firmware_reply");
                        s.revisionReply = text(f, "revision_reply");
                        s.simulated = number(f, "simulated") != 0;
                        s.fields = std::move(f);
                        detail.session = std::move(s);
                    }))
        && each(Table::RowResults, "t.run_id = ? ORDER BY t.seq", id,
                [&](QVariantHash f) {
                    detail.rows.push_back(RowRecord{int(number(f, "seq")), int(number(f, "digit")), text(f, "name"),
                                                    text(f, "status"), text(f, "label"), text(f, "fail_label"),
                                                    memoLines(text(f, "memo")), text(f, "started_utc"),
                                                    text(f, "ended_utc"), std::move(f)});
                })
        && each(Table::Prompts, "t.run_id = ? ORDER BY t.seq", id,
                [&](QVariantHash f) {
                    PromptRecord p;
                    p.seq = int(number(f, "seq"));
                    p.kind = text(f, "kind");
                    p.caption = text(f, "caption");
                    p.text = text(f, "text");
                    p.answer = text(f, "answer");
                    p.hasTyped = !f.value(QStringLiteral("typed")).isNull();
                    p.typed = text(f, "typed");
                    p.shownUtc = text(f, "shown_utc");
                    p.answeredUtc = text(f, "answered_utc");
                    p.fields = std::move(f);
                    detail.prompts.push_back(std::move(p));
                })
        && each(Table::EepromWrites, "t.run_id = ? ORDER BY t.seq", id,
                [&](QVariantHash f) {
                    detail.eepromWrites.push_back(EepromWrite{int(number(f, "seq")), int(number(f, "address")),
                                                              QByteArray::fromHex(text(f, "bytes").toLatin1()),
                                                              quint32(number(f, "status")), text(f, "at_utc"),
                                                              std::move(f)});
                })
        && (!detail.keepsMeasurements
            || each(Table::Measurements, "t.run_id = ? ORDER BY t.seq", id,
                    [&](QVariantHash f) {
                        const auto real = [&f](const char *name) { return realOrNone(f.value(QLatin1String(name))); };
                        MeasurementRecord m;
                        m.seq = int(number(f, "seq"));
                        m.digit = int(number(f, "digit"));
                        m.name = text(f, "name");
                        m.kind = text(f, "kind");
                        m.unit = text(f, "unit");
                        m.comparison = text(f, "comparison");
                        m.outcome = text(f, "outcome");
                        m.value = real("value");
                        m.expected = real("expected");
                        m.tolerance = real("tolerance");
                        m.low = real("low");
                        m.high = real("high");
                        m.fields = std::move(f);
                        detail.measurements.push_back(std::move(m));
                    }))
        && (version < tableInfo(Table::RunInstruments).since
            || each(Table::RunInstruments, "t.run_id = ? ORDER BY t.seq", id, [&](QVariantHash f) {
                   InstrumentUse u;
                   u.seq = int(number(f, "seq"));
                   u.role = text(f, "role");
                   u.assetId = text(f, "asset_id");
                   u.kind = text(f, "kind");
                   u.make = text(f, "make");
                   u.model = text(f, "model");
                   u.serial = text(f, "serial");
                   u.calibratedOn = text(f, "calibrated_on");
                   u.dueOn = text(f, "due_on");
                   u.certificate = text(f, "certificate");
                   u.status = text(f, "status");
                   u.note = text(f, "note");
                   u.fields = std::move(f);
                   detail.instruments.push_back(std::move(u));
               }));
    if (!ok)
        return std::nullopt;
    return detail;
}

int RecordsQuery::storeVersion() const
{
    if (!m_version) {
        QSqlQuery q(m_db);
        q.setForwardOnly(true);
        m_version = q.exec(QStringLiteral("SELECT value FROM meta WHERE key = 'schema_version'")) && q.next()
                        ? q.value(0).toString().toInt()
                        : 0;
    }
    return *m_version;
}

bool RecordsQuery::hasTallyIndexes() const
{
    // Each yield query is pinned to its covering index where the file has them (without
    // statistics, which a station never gathers, SQLite may pick another).
    if (!m_tallyIndexes)
        m_tallyIndexes = StoreBackend::of(m_db).hasYieldIndexes(m_db);
    return *m_tallyIndexes;
}

namespace {

// The FROM clause over runs r, their station s when the filter names one, and their
// ends e; each pinned to its covering index when pinned.
struct YieldSql {
    Where where;
    bool pinned = false;
    QString indexed(const char *index) const { return pinned ? StoreBackend::indexedBy(index) : QString(); }
    QString runs() const
    {
        return QStringLiteral(" FROM runs r") + indexed("runs_tally")
               + (where.needsStation ? QStringLiteral(" JOIN stations s ON s.id = r.station_id") : QString())
               + QStringLiteral(" LEFT JOIN run_ends e") + indexed("run_ends_overall")
               + QStringLiteral(" ON e.run_id = r.id");
    }
};

// Per row: runs, passes, fails, and the name (the last in sort order, should a row's
// name have changed between program versions).
bool rowYields(const QSqlDatabase &db, const YieldSql &y, std::vector<RowYield> &out, QueryError *error)
{
    // Unfiltered, the row table alone answers; a filter picks the rows of its runs
    // (walked in run id order, as the rows' index is).
    QString sql = QStringLiteral("SELECT rr.digit, rr.status, rr.name, count(*)");
    if (y.where.sql.isEmpty())
        sql += QStringLiteral(" FROM row_results rr") + y.indexed("row_results_tally");
    else
        sql += y.runs() + QStringLiteral(" JOIN row_results rr") + y.indexed("row_results_run_tally")
               + QStringLiteral(" ON rr.run_id = r.id") + y.where.sql;
    QSqlQuery q(db);
    if (!exec(q, sql + QStringLiteral(" GROUP BY rr.digit, rr.status, rr.name"), y.where.values, error))
        return false;
    std::map<int, RowYield> rows;
    while (q.next()) {
        RowYield &row = rows[q.value(0).toInt()];
        const QString status = q.value(1).toString();
        const qint64 count = q.value(3).toLongLong();
        row.runs += count;
        row.passes += status == QLatin1String("pass") ? count : 0;
        row.fails += status == QLatin1String("fail") ? count : 0;
        row.name = std::max(row.name, q.value(2).toString());
    }
    for (auto &[digit, row] : rows) {
        row.digit = digit;
        out.push_back(row);
    }
    return true;
}

// The Test Alls of a yield: the verdicts of the runs the filter picks, and each
// serial's first run.
struct RunTally {
    enum Overall { None, Pass, Fail, Other };
    static Overall overallOf(int code) { return Overall(code >> 1); }
    static bool picked(int code) { return (code & 1) != 0; }

    qint64 passes = 0, fails = 0;
    QHash<QString, std::pair<QString, int>> firsts; // serial -> start, code
};

// Every Test All in one pass, as its serial, its start and a code: its overall verdict and whether the filter picks it. A serial's first Test All
// ever (on any station, by start, then run number, then id) decides its first pass.
// Three values a run: reading them is most of the time a yield takes.
bool runTally(const QSqlDatabase &db, const YieldSql &y, RunTally &out, QueryError *error)
{
    const QString code = QStringLiteral("(CASE WHEN e.overall IS NULL THEN 0 WHEN upper(e.overall) = 'PASS' THEN 1 "
                                        "WHEN upper(e.overall) = 'FAIL' THEN 2 ELSE 3 END) * 2 + ")
                         + (y.where.condition.isEmpty() ? QStringLiteral("1")
                                                        : QStringLiteral("CASE WHEN ") + y.where.condition
                                                              + QStringLiteral(" THEN 1 ELSE 0 END"));
    QSqlQuery q(db);
    if (!exec(q,
              QStringLiteral("SELECT r.serial, r.started_utc, ") + code + y.runs()
                  + QStringLiteral(" WHERE r.kind = 'test-all'"),
              y.where.values, error))
        return false;
    // Serials with two runs started in the same millisecond: their run numbers and ids
    // decide, asked below (it hardly ever happens).
    QSet<QString> tied;
    while (q.next()) {
        const int runCode = q.value(2).toInt();
        if (RunTally::picked(runCode)) {
            out.passes += RunTally::overallOf(runCode) == RunTally::Pass;
            out.fails += RunTally::overallOf(runCode) == RunTally::Fail;
        }
        const QVariant serial = q.value(0);
        if (serial.isNull())
            continue;
        QString started = q.value(1).toString();
        auto &first = out.firsts[serial.toString()];
        if (first.first.isEmpty() || started < first.first)
            first = {std::move(started), runCode};
        else if (started == first.first)
            tied.insert(serial.toString());
    }
    for (const QString &serial : std::as_const(tied)) {
        QSqlQuery one(db);
        if (!exec(one,
                  QStringLiteral("SELECT ") + code + y.runs()
                      + QStringLiteral(" WHERE r.kind = 'test-all' AND r.serial = ? ORDER BY ")
                      + QLatin1String(FirstPassOrderSql) + QStringLiteral(" LIMIT 1"),
                  QVariantList(y.where.values) << serial, error)
            || !one.next())
            return false;
        out.firsts[serial].second = one.value(0).toInt();
    }
    return true;
}

// The row results of a yield of a SQLite file, counted on a read-only connection of
// their own (so on another thread). Empty when the file cannot be opened again.
std::optional<bool> rowYieldsOnOwnConnection(const QString &file, const YieldSql &y, std::vector<RowYield> &rows,
                                             QueryError *error)
{
    const QString name = QStringLiteral("quillon-yield-rows-%1").arg(quintptr(&rows), 0, 16);
    std::optional<bool> counted;
    {
        const ReadOnlyStore store = openReadOnlyStore(file, name);
        if (store.isOpen())
            counted = rowYields(store.db, y, rows, error);
    }
    closeReadOnlyStore(name);
    return counted;
}

} // namespace

YieldReport RecordsQuery::yield(const RunFilter &filter, QueryError *error) const
{
    YieldReport report;
    const YieldSql y{whereOf(filter, storeVersion()), hasTallyIndexes()};
    RunTally tally;
    if (const std::optional<QString> file = StoreBackend::of(m_db).secondConnectionFile(m_db)) {
        // A SQLite file: the row results on a connection of their own on another thread
        // while this one reads the runs (the two take about as long).
        // (Declared before the thread, which joins on leaving the block, also on return.)
        std::vector<RowYield> rows;
        std::optional<bool> counted;
        QueryError rowsError;
        {
            const std::jthread aside([&] { counted = rowYieldsOnOwnConnection(*file, y, rows, &rowsError); });
            if (!runTally(m_db, y, tally, error))
                return report;
        }
        if (counted && !*counted) {
            if (error)
                *error = rowsError;
            return report;
        }
        if (!counted && !rowYields(m_db, y, rows, error))
            return report;
        report.rows = std::move(rows);
    } else if (!rowYields(m_db, y, report.rows, error) || !runTally(m_db, y, tally, error)) {
        return report;
    }
    report.passes = tally.passes;
    report.fails = tally.fails;
    report.runs = report.passes + report.fails;
    for (const auto &[place, runCode] : std::as_const(tally.firsts)) {
        if (!RunTally::picked(runCode) || RunTally::overallOf(runCode) == RunTally::None)
            continue;
        ++report.serials;
        report.firstPassSerials += RunTally::overallOf(runCode) == RunTally::Pass;
    }
    return report;
}

QStringList RecordsQuery::stationNames() const
{
    QStringList names;
    QSqlQuery q(m_db);
    q.setForwardOnly(true);
    if (q.exec(QStringLiteral("SELECT DISTINCT name FROM stations ORDER BY name")))
        while (q.next())
            names << q.value(0).toString();
    return names;
}

QStringList RecordsQuery::measurementNames(QueryError *error) const
{
    QStringList names;
    if (storeVersion() < tableInfo(Table::Measurements).since)
        return names;
    // A loose index scan over the name index: one seek per distinct name.
    QSqlQuery q(m_db);
    if (!exec(q,
              QStringLiteral("WITH RECURSIVE n(name) AS (SELECT min(name) FROM measurements UNION ALL "
                             "SELECT (SELECT min(m.name) FROM measurements m WHERE m.name > n.name) FROM n "
                             "WHERE n.name IS NOT NULL) SELECT name FROM n WHERE name IS NOT NULL"),
              {}, error))
        return names;
    while (q.next())
        names << q.value(0).toString();
    // The line database orders by its collation: the same order everywhere.
    std::sort(names.begin(), names.end());
    return names;
}

namespace {

// A measurement's own fields from columns first.. of a measurements select (digit, name,
// value, kind, unit, comparison, expected, tolerance, low, high, outcome). The few
// distinct texts are shared rather than held once per line.
// A measurement's own fields from columns first.. of a select of MeasurementFields.
void readMeasurement(const QSqlQuery &q, int first, MeasurementRecord &m)
{
    m.digit = q.value(first).toInt();
    m.name = q.value(first + 1).toString();
    m.value = realOrNone(q.value(first + 2));
    m.kind = q.value(first + 3).toString();
    m.unit = q.value(first + 4).toString();
    m.comparison = q.value(first + 5).toString();
    m.expected = realOrNone(q.value(first + 6));
    m.tolerance = realOrNone(q.value(first + 7));
    m.low = realOrNone(q.value(first + 8));
    m.high = realOrNone(q.value(first + 9));
    m.outcome = q.value(first + 10).toString();
}

const QString MeasurementFields =
    QStringLiteral("m.digit, m.name, m.value, m.kind, m.unit, m.comparison, m.expected, m.tolerance, m.low, m.high, "
                   "m.outcome");
// The same without the name.
const QString MeasurementValueFields =
    QStringLiteral("m.digit, m.value, m.kind, m.unit, m.comparison, m.expected, m.tolerance, m.low, m.high, m.outcome");

bool failed(const QSqlQuery &q, QueryError *error)
{
    if (!q.lastError().isValid())
        return false;
    if (error)
        error->message = q.lastError().text();
    return true;
}

// A UUID's text as this program writes it (8-4-4-4-12 lowercase hex digits) as two
// numbers, which order as the text does; false for any other text.
bool uuidNumber(QStringView text, quint64 &high, quint64 &low)
{
    if (text.size() != 36)
        return false;
    quint64 parts[2] = {0, 0};
    int digits = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t c = text[i].unicode();
        if (i == 8 || i == 13 || i == 18 || i == 23) {
            if (c != u'-')
                return false;
            continue;
        }
        int v = -1;
        if (c >= u'0' && c <= u'9')
            v = c - u'0';
        else if (c >= u'a' && c <= u'f')
            v = c - u'a' + 10;
        if (v < 0)
            return false;
        quint64 &part = parts[digits / 16];
        part = (part << 4) | quint64(v);
        ++digits;
    }
    high = parts[0];
    low = parts[1];
    return true;
}

// Runs this many or fewer are looked up by run and name; more, by name alone.
constexpr qsizetype FewRuns = 1000;

} // namespace

bool RecordsQuery::measurements(const RunFilter &filter, const std::optional<QStringList> &names,
                                const std::function<void(const MeasurementLine &)> &each, QueryError *error) const
{
    if (storeVersion() < tableInfo(Table::Measurements).since || (names && names->isEmpty()))
        return true;
    if (names)
        return measurementsNamed(filter, *names, each, error);
    Where where = whereOf(filter, storeVersion());
    QStringList terms;
    QVariantList values;
    if (!where.condition.isEmpty()) {
        terms << where.condition;
        values << where.values;
    }
    if (filter.limit >= 0) {
        terms << QStringLiteral("r.id IN (SELECT r.id") + filteredFrom(where) + where.sql
                     + QStringLiteral(" ORDER BY r.started_utc DESC, r.seq DESC LIMIT ?)");
        values << where.values << filter.limit;
    }
    QString sql = QStringLiteral("SELECT r.id, r.started_utc, s.name, r.serial, ") + MeasurementFields
                  + QStringLiteral(" FROM measurements m JOIN runs r ON r.id = m.run_id "
                                   "JOIN stations s ON s.id = r.station_id");
    if (where.needsEnd)
        sql += QStringLiteral(" LEFT JOIN run_ends e ON e.run_id = r.id");
    if (!terms.isEmpty())
        sql += QStringLiteral(" WHERE ") + terms.join(QStringLiteral(" AND "));
    sql += QStringLiteral(" ORDER BY r.started_utc DESC, r.seq DESC, r.id, m.seq");
    QSqlQuery q(m_db);
    if (!exec(q, sql, values, error))
        return false;
    MeasurementLine line;
    while (q.next()) {
        line.runId = q.value(0).toString();
        line.startedUtc = q.value(1).toString();
        line.stationName = q.value(2).toString();
        line.serial = q.value(3).toString();
        readMeasurement(q, 4, line.measurement);
        each(line);
    }
    return !failed(q, error);
}

namespace {

// The runs a named measurements query writes lines for, in the order it writes them.
bool readRuns(const QSqlDatabase &db, const QString &sql, const QVariantList &values,
              std::vector<MeasurementLine> &runs, QueryError *error)
{
    QSqlQuery q(db);
    if (!exec(q, sql, values, error))
        return false;
    while (q.next()) {
        MeasurementLine run;
        run.runId = q.value(0).toString();
        run.startedUtc = q.value(1).toString();
        run.stationName = q.value(2).toString();
        run.serial = q.value(3).toString();
        runs.push_back(std::move(run));
    }
    return !failed(q, error);
}

// The same on a connection of its own, made from the one named (for another thread).
bool readRunsAlongside(const QString &connection, const QString &sql, const QVariantList &values,
                       std::vector<MeasurementLine> &runs, QueryError *error)
{
    static std::atomic<int> serial{0};
    const QString name = QStringLiteral("%1-runs-%2").arg(connection).arg(++serial);
    bool ok = false;
    {
        QSqlDatabase db = QSqlDatabase::cloneDatabase(connection, name);
        if (!db.open()) {
            if (error)
                error->message = db.lastError().text();
        } else {
            ok = readRuns(db, sql, values, runs, error);
        }
        db.close();
    }
    QSqlDatabase::removeDatabase(name);
    return ok;
}

// A run key as two numbers and a place among the runs, ordered by the numbers.
struct RunKey {
    quint64 high = 0, low = 0;
    std::uint32_t run = 0;
    bool operator<(const RunKey &o) const { return high != o.high ? high < o.high : low < o.low; }
};

// The few distinct texts of many lines, each kept once and named by its place.
class TextTable {
public:
    // column: where the text comes from (a line's texts mostly repeat the last line's).
    std::uint32_t place(const QString &t, std::size_t column)
    {
        Last &last = m_last[column];
        if (last.set && last.text == t)
            return last.at;
        last = {true, t, lookUp(t)};
        return last.at;
    }
    const QString &at(std::uint32_t place) const { return m_texts[place]; }

private:
    struct Last {
        bool set = false;
        QString text;
        std::uint32_t at = 0;
    };
    std::uint32_t lookUp(const QString &t)
    {
        const auto at = m_at.constFind(t);
        if (at != m_at.constEnd())
            return *at;
        m_at.insert(t, std::uint32_t(m_texts.size()));
        m_texts << t;
        return std::uint32_t(m_texts.size() - 1);
    }
    std::array<Last, 5> m_last;
    QHash<QString, std::uint32_t> m_at;
    QStringList m_texts;
};

// The values of a few names over many runs, read into memory until every name's are
// in, then handed out run by run.
class NamedValuesRead {
public:
    NamedValuesRead(const QSqlDatabase &db, const QStringList &names, QueryError *error)
        : m_db(db), m_names(names), m_error(error)
    {
    }

    // Every run is wanted: the runs are read (runsSql) on a second connection while the
    // values are, and matched by key as numbers. False with `matched` false when a key
    // is not a UUID (then readFor() matches by text).
    bool readAlongside(const QString &runsSql, const QVariantList &runsValues, bool &matched)
    {
        matched = false;
        QueryError runsError;
        bool runsRead = false;
        // Filled apart from this object: the two threads must not share its cache lines.
        std::vector<MeasurementLine> runs;
        const QString connection = m_db.connectionName();
        std::thread alongside([&] { runsRead = readRunsAlongside(connection, runsSql, runsValues, runs, &runsError); });
        bool read = true;
        bool otherKeys = false;
        for (const QString &name : m_names) {
            read = readName(name, {}, [&](const QString &key, Line &line) {
                otherKeys = otherKeys || !uuidNumber(key, line.keyHigh, line.keyLow);
                return std::optional<std::uint32_t>(0);
            });
            if (!read || otherKeys)
                break;
        }
        alongside.join();
        m_runs = std::move(runs);
        if (!runsRead) {
            if (m_error)
                *m_error = runsError;
            return false;
        }
        if (!read)
            return false;
        if (!otherKeys)
            matched = matchByNumber();
        if (!matched)
            m_lines.clear();
        return true;
    }

    // The runs wanted were read by the caller (or by readAlongside()): each name's values
    // matched to them by text, by run when they are few.
    bool readFor(const QString &runsSql, const QVariantList &runsValues, bool runsRead)
    {
        if (!runsRead && !readRuns(m_db, runsSql, runsValues, m_runs, m_error))
            return false;
        QHash<QString, std::uint32_t> runAt;
        for (std::uint32_t i = 0; i < m_runs.size(); ++i)
            runAt.insert(m_runs[i].runId, i);
        const RunOf byText = [&runAt](const QString &key, Line &) {
            const auto at = runAt.constFind(key);
            return at == runAt.constEnd() ? std::nullopt : std::optional<std::uint32_t>(*at);
        };
        for (const QString &name : m_names)
            if (!readName(name, m_runs.size() <= std::size_t(FewRuns) ? runKeys() : QStringList(), byText))
                return false;
        return true;
    }

    // Newest run first, each run's in the order they were taken.
    void handOut(const std::function<void(const MeasurementLine &)> &each)
    {
        std::sort(m_lines.begin(), m_lines.end(),
                  [](const Line &a, const Line &b) { return a.run != b.run ? a.run < b.run : a.seq < b.seq; });
        for (const Line &line : m_lines) {
            MeasurementLine &run = m_runs[line.run];
            MeasurementRecord &m = run.measurement;
            m.seq = line.seq;
            m.digit = line.digit;
            m.name = m_texts.at(line.name);
            m.kind = m_texts.at(line.kind);
            m.unit = m_texts.at(line.unit);
            m.comparison = m_texts.at(line.comparison);
            m.outcome = m_texts.at(line.outcome);
            m.value = line.value;
            m.expected = line.expected;
            m.tolerance = line.tolerance;
            m.low = line.low;
            m.high = line.high;
            each(run);
        }
    }

private:
    struct Line {
        std::uint32_t run = 0;           // once matched
        quint64 keyHigh = 0, keyLow = 0; // its run's key as numbers, until matched
        int seq = 0, digit = 0;
        std::uint32_t name = 0, kind = 0, unit = 0, comparison = 0, outcome = 0;
        std::optional<double> value, expected, tolerance, low, high;
    };
    // A line's run (nullopt: a run not asked for), from its key.
    using RunOf = std::function<std::optional<std::uint32_t>(const QString &, Line &)>;

    QStringList runKeys() const
    {
        QStringList keys;
        for (const MeasurementLine &run : m_runs)
            keys << run.runId;
        return keys;
    }

    // One name's values: of every run, or of the runs keyed (a few hundred a statement,
    // each run one seek).
    bool readName(const QString &name, const QStringList &keys, const RunOf &runOf)
    {
        const QString select = QStringLiteral("SELECT m.run_id, m.seq, ") + MeasurementValueFields
                               + QStringLiteral(" FROM measurements m WHERE m.name = ?");
        if (keys.isEmpty())
            return readStatement(name, select, {name}, runOf);
        constexpr qsizetype Chunk = 500;
        for (qsizetype from = 0; from < keys.size(); from += Chunk) {
            const QStringList some = keys.mid(from, Chunk);
            QVariantList bound{name};
            for (const QString &key : some)
                bound << key;
            const QString statement = select + QStringLiteral(" AND m.run_id IN (")
                                      + QStringList(some.size(), QStringLiteral("?")).join(QLatin1Char(',')) + ')';
            if (!readStatement(name, statement, bound, runOf))
                return false;
        }
        return true;
    }

    bool readStatement(const QString &name, const QString &statement, const QVariantList &bound, const RunOf &runOf)
    {
        QSqlQuery q(m_db);
        if (!exec(q, statement, bound, m_error))
            return false;
        const std::uint32_t nameText = m_texts.place(name, 0);
        while (q.next()) {
            Line line;
            const std::optional<std::uint32_t> run = runOf(q.value(0).toString(), line);
            if (!run)
                continue;
            line.run = *run;
            line.seq = q.value(1).toInt();
            line.name = nameText;
            line.digit = q.value(2).toInt();
            line.value = realOrNone(q.value(3));
            line.kind = m_texts.place(q.value(4).toString(), 1);
            line.unit = m_texts.place(q.value(5).toString(), 2);
            line.comparison = m_texts.place(q.value(6).toString(), 3);
            line.expected = realOrNone(q.value(7));
            line.tolerance = realOrNone(q.value(8));
            line.low = realOrNone(q.value(9));
            line.high = realOrNone(q.value(10));
            line.outcome = m_texts.place(q.value(11).toString(), 4);
            m_lines.push_back(line);
        }
        return !failed(q, m_error);
    }

    // Each line to its run by key number; false when a run's key is not a UUID. A line of
    // a run begun after the runs were read has no run here and is dropped.
    bool matchByNumber()
    {
        std::vector<RunKey> keys;
        keys.reserve(m_runs.size());
        for (std::uint32_t i = 0; i < m_runs.size(); ++i) {
            RunKey k;
            k.run = i;
            if (!uuidNumber(m_runs[i].runId, k.high, k.low))
                return false;
            keys.push_back(k);
        }
        std::sort(keys.begin(), keys.end());
        std::erase_if(m_lines, [&keys](Line &line) {
            RunKey k;
            k.high = line.keyHigh;
            k.low = line.keyLow;
            const auto at = std::lower_bound(keys.begin(), keys.end(), k);
            if (at == keys.end() || at->high != k.high || at->low != k.low)
                return true;
            line.run = at->run;
            return false;
        });
        return true;
    }

    const QSqlDatabase &m_db;
    const QStringList &m_names;
    QueryError *m_error;
    std::vector<MeasurementLine> m_runs;
    std::vector<Line> m_lines;
    TextTable m_texts;
};

} // namespace

// A few names over many runs: the filter's runs, in the order the lines are written, and
// each name's values from the index that holds them together (measurements_by_name),
// matched to their runs here. Joined in SQL, each line would look up its run somewhere
// in the file. When every run is wanted, the runs are read on a second connection while
// the values are.
bool RecordsQuery::measurementsNamed(const RunFilter &filter, const QStringList &names,
                                     const std::function<void(const MeasurementLine &)> &each, QueryError *error) const
{
    Where where = whereOf(filter, storeVersion());
    where.needsStation = true;
    QString runsSql = QStringLiteral("SELECT r.id, r.started_utc, s.name, r.serial") + filteredFrom(where) + where.sql
                      + QStringLiteral(" ORDER BY r.started_utc DESC, r.seq DESC, r.id");
    QVariantList runsValues = where.values;
    if (filter.limit >= 0) {
        runsSql += QStringLiteral(" LIMIT ?");
        runsValues << filter.limit;
    }
    NamedValuesRead read(m_db, names, error);
    bool matched = false;
    const bool everyRun = where.condition.isEmpty() && filter.limit < 0;
    if (everyRun && !read.readAlongside(runsSql, runsValues, matched))
        return false;
    if (!matched && !read.readFor(runsSql, runsValues, everyRun))
        return false;
    read.handOut(each);
    return true;
}

} // namespace quillon::records
