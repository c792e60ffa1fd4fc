#include "records/Columns.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QLocale>

#include <algorithm>
#include <cmath>

namespace quillon::records {

namespace {

// Every integer is a BIGINT on the line database (library statuses are unsigned 32-bit);
// flags stay INTEGER. Keys are UUID texts, times UTC texts with milliseconds.

// clang-format off
const Column MetaColumns[] = {
    {"key", "TEXT PRIMARY KEY", "TEXT PRIMARY KEY"},
    {"value", "TEXT NOT NULL", "TEXT NOT NULL"},
};

const Column StationColumns[] = {
    {"id", "TEXT PRIMARY KEY", "TEXT PRIMARY KEY", 1, JsonAs::Text},
    {"name", "TEXT NOT NULL", "TEXT NOT NULL", 1, JsonAs::Text, nullptr, CsvAs::Text, "station", 3},
    {"host", "TEXT NOT NULL", "TEXT NOT NULL", 1, JsonAs::Text},
    {"program", "TEXT NOT NULL", "TEXT NOT NULL", 1, JsonAs::Text},
    {"version", "TEXT NOT NULL", "TEXT NOT NULL", 1, JsonAs::Text},
    {"library", "TEXT NOT NULL", "TEXT NOT NULL", 1, JsonAs::Text},
    {"simulated", "INTEGER NOT NULL", "INTEGER NOT NULL", 1, JsonAs::Bool},
    {"created_utc", "TEXT NOT NULL", "TEXT NOT NULL"},
};

const Column SessionColumns[] = {
    {"id", "TEXT PRIMARY KEY", "TEXT PRIMARY KEY", 1, JsonAs::Text},
    {"station_id", "TEXT NOT NULL REFERENCES stations(id)", "TEXT NOT NULL REFERENCES stations(id)"},
    {"started_utc", "TEXT NOT NULL", "TEXT NOT NULL", 1, JsonAs::Text},
    {"detection_label", "TEXT NOT NULL", "TEXT NOT NULL", 1, JsonAs::Text},
    {"product_id", "INTEGER", "BIGINT", 1, JsonAs::Number},
    {"variant", "TEXT", "TEXT", 1, JsonAs::Text},
    {"channel_count", "INTEGER", "BIGINT", 1, JsonAs::Number},
    {"dac_count", "INTEGER", "BIGINT", 1, JsonAs::Number},
    {"revision", "TEXT", "TEXT", 1, JsonAs::Text},
    {"firmware_reply", "TEXT", "TEXT", 1, JsonAs::Text},
    {"revision_reply", "TEXT", "TEXT", 1, JsonAs::Text},
    {"simulated", "INTEGER NOT NULL", "INTEGER NOT NULL"},
};

const Column RunColumns[] = {
    {"id", "TEXT PRIMARY KEY", "TEXT PRIMARY KEY", 1, JsonAs::Text, nullptr, CsvAs::Text, "run_id", 1},
    {"station_id", "TEXT NOT NULL REFERENCES stations(id)", "TEXT NOT NULL REFERENCES stations(id)"},
    {"session_id", "TEXT REFERENCES sessions(id)", "TEXT REFERENCES sessions(id)"},
    {"seq", "INTEGER NOT NULL", "BIGINT NOT NULL", 1, JsonAs::Number},
    {"kind", "TEXT NOT NULL", "TEXT NOT NULL", 1, JsonAs::Text, nullptr, CsvAs::Text, "kind", 6},
    {"row_digit", "INTEGER", "BIGINT", 1, JsonAs::Number},
    {"product_id", "INTEGER", "BIGINT", 1, JsonAs::Number, nullptr, CsvAs::Text, "product_id", 5},
    {"serial", "TEXT", "TEXT", 1, JsonAs::Text, nullptr, CsvAs::Text, "serial", 4},
    {"started_utc", "TEXT NOT NULL", "TEXT NOT NULL", 1, JsonAs::Text, nullptr, CsvAs::Text, "started_utc", 2},
    {"simulated", "INTEGER NOT NULL", "INTEGER NOT NULL", 1, JsonAs::Bool},
    // The identity of the limits table the run's checks used (a hash of its entries and
    // the program version).
    {"limits_id", "TEXT", "TEXT", 3, JsonAs::Text},
    // Who tested (the id scanned or typed at the station), and the environment the
    // certificate states (as typed or configured; NULL: not recorded).
    {"operator", "TEXT", "TEXT", 5, JsonAs::Text, nullptr, CsvAs::Text, "operator", 17},
    {"temperature", "TEXT", "TEXT", 5, JsonAs::Text},
    {"humidity", "TEXT", "TEXT", 5, JsonAs::Text},
    // The marginal band the station applied (records/marginalPercent), for the decision
    // rule a certificate states.
    {"marginal_percent", "REAL", "DOUBLE PRECISION", 5, JsonAs::Real},
    // Who uploaded the run and when: the line database's own (row policies name the role).
    {"uploaded_by", nullptr, "TEXT NOT NULL", 1, JsonAs::None, nullptr, CsvAs::None, nullptr, 0, Backend::Line},
    {"uploaded_utc", nullptr,
     "TEXT NOT NULL DEFAULT to_char(clock_timestamp() AT TIME ZONE 'UTC', 'YYYY-MM-DD\"T\"HH24:MI:SS.MS\"Z\"')", 1,
     JsonAs::None, nullptr, CsvAs::None, nullptr, 0, Backend::Line},
};

const Column RunEndColumns[] = {
    {"run_id", "TEXT PRIMARY KEY REFERENCES runs(id)", "TEXT PRIMARY KEY REFERENCES runs(id)"},
    {"ended_utc", "TEXT NOT NULL", "TEXT NOT NULL", 1, JsonAs::Text},
    {"end_state", "TEXT NOT NULL", "TEXT NOT NULL", 1, JsonAs::Text, nullptr, CsvAs::Text, "end_state", 7},
    {"overall", "TEXT", "TEXT", 1, JsonAs::Text, nullptr, CsvAs::Text, "overall", 8},
};

const Column RowResultColumns[] = {
    {"id", "TEXT PRIMARY KEY", "TEXT PRIMARY KEY"},
    {"run_id", "TEXT NOT NULL REFERENCES runs(id)", "TEXT NOT NULL REFERENCES runs(id)"},
    {"seq", "INTEGER NOT NULL", "BIGINT NOT NULL", 1, JsonAs::Number},
    {"digit", "INTEGER NOT NULL", "BIGINT NOT NULL", 1, JsonAs::Number, nullptr, CsvAs::HexDigit, "row_digit", 9},
    {"name", "TEXT NOT NULL", "TEXT NOT NULL", 1, JsonAs::Text, nullptr, CsvAs::Text, "row_name", 10},
    {"status", "TEXT NOT NULL", "TEXT NOT NULL", 1, JsonAs::Text, nullptr, CsvAs::Text, "status", 11},
    {"label", "TEXT NOT NULL", "TEXT NOT NULL", 1, JsonAs::Text, nullptr, CsvAs::Text, "label", 12},
    {"fail_label", "TEXT", "TEXT", 1, JsonAs::Text, nullptr, CsvAs::Text, "fail_label", 13},
    {"memo", "TEXT NOT NULL", "TEXT NOT NULL", 1, JsonAs::TextArray, nullptr, CsvAs::Lines, "memo", 14},
    {"started_utc", "TEXT NOT NULL", "TEXT NOT NULL", 1, JsonAs::Text, nullptr, CsvAs::Text, "row_started_utc", 15},
    {"ended_utc", "TEXT NOT NULL", "TEXT NOT NULL", 1, JsonAs::Text, nullptr, CsvAs::Text, "row_ended_utc", 16},
};

const Column PromptColumns[] = {
    {"id", "TEXT PRIMARY KEY", "TEXT PRIMARY KEY"},
    {"run_id", "TEXT REFERENCES runs(id)", "TEXT REFERENCES runs(id)"},
    {"session_id", "TEXT", "TEXT"},
    {"seq", "INTEGER NOT NULL", "BIGINT NOT NULL", 1, JsonAs::Number},
    {"kind", "TEXT NOT NULL", "TEXT NOT NULL", 1, JsonAs::Text},
    {"caption", "TEXT", "TEXT", 1, JsonAs::Text},
    {"text", "TEXT", "TEXT", 1, JsonAs::Text},
    {"answer", "TEXT", "TEXT", 1, JsonAs::Text},
    {"typed", "TEXT", "TEXT", 1, JsonAs::Text},
    {"shown_utc", "TEXT NOT NULL", "TEXT NOT NULL", 1, JsonAs::Text},
    {"answered_utc", "TEXT", "TEXT", 1, JsonAs::Text},
};

const Column EepromWriteColumns[] = {
    {"id", "TEXT PRIMARY KEY", "TEXT PRIMARY KEY"},
    {"run_id", "TEXT REFERENCES runs(id)", "TEXT REFERENCES runs(id)"},
    {"seq", "INTEGER NOT NULL", "BIGINT NOT NULL", 1, JsonAs::Number},
    {"address", "INTEGER NOT NULL", "BIGINT NOT NULL", 1, JsonAs::Number},
    {"bytes", "TEXT NOT NULL", "TEXT NOT NULL", 1, JsonAs::Text},
    {"status", "INTEGER NOT NULL", "BIGINT NOT NULL", 1, JsonAs::Number},
    {"at_utc", "TEXT NOT NULL", "TEXT NOT NULL", 1, JsonAs::Text},
};

// Every number a row judged, with the limits it was judged against (from version 3).
// NaN (a reading that could not be converted) is stored as NULL. Their CSV places follow
// the run keys (CsvRunKeys) in the measurements CSV.
const Column MeasurementColumns[] = {
    {"id", "TEXT PRIMARY KEY", "TEXT PRIMARY KEY", 3},
    {"run_id", "TEXT NOT NULL REFERENCES runs(id)", "TEXT NOT NULL REFERENCES runs(id)", 3},
    {"seq", "INTEGER NOT NULL", "BIGINT NOT NULL", 3, JsonAs::Number, nullptr, CsvAs::Text, "seq", 16},
    {"digit", "INTEGER NOT NULL", "BIGINT NOT NULL", 3, JsonAs::Number, nullptr, CsvAs::HexDigit, "row_digit", 6},
    {"name", "TEXT NOT NULL", "TEXT NOT NULL", 3, JsonAs::Text, nullptr, CsvAs::Text, "name", 7},
    {"value", "REAL", "DOUBLE PRECISION", 3, JsonAs::Real, nullptr, CsvAs::Real, "value", 8},
    {"kind", "TEXT NOT NULL", "TEXT NOT NULL", 3, JsonAs::Text},
    {"unit", "TEXT NOT NULL", "TEXT NOT NULL", 3, JsonAs::Text, nullptr, CsvAs::Text, "unit", 9},
    {"comparison", "TEXT NOT NULL", "TEXT NOT NULL", 3, JsonAs::Text, nullptr, CsvAs::Text, "comparison", 10},
    {"expected", "REAL", "DOUBLE PRECISION", 3, JsonAs::Real, nullptr, CsvAs::Real, "expected", 11},
    {"tolerance", "REAL", "DOUBLE PRECISION", 3, JsonAs::Real, nullptr, CsvAs::Real, "tolerance", 12},
    {"low", "REAL", "DOUBLE PRECISION", 3, JsonAs::Real, nullptr, CsvAs::Real, "low", 13},
    {"high", "REAL", "DOUBLE PRECISION", 3, JsonAs::Real, nullptr, CsvAs::Real, "high", 14},
    {"outcome", "TEXT NOT NULL", "TEXT NOT NULL", 3, JsonAs::Text, nullptr, CsvAs::Text, "outcome", 15},
};

// The reference instruments a run used, as the register held them when the run used
// them (from version 5), with what the station made of them: status "ok", "due-soon",
// "overdue", "retired" or "unknown"; note: the warning recorded when a row ran anyway.
const Column RunInstrumentColumns[] = {
    {"id", "TEXT PRIMARY KEY", "TEXT PRIMARY KEY", 5},
    {"run_id", "TEXT NOT NULL REFERENCES runs(id)", "TEXT NOT NULL REFERENCES runs(id)", 5},
    {"seq", "INTEGER NOT NULL", "BIGINT NOT NULL", 5, JsonAs::Number},
    {"role", "TEXT NOT NULL", "TEXT NOT NULL", 5, JsonAs::Text},
    {"asset_id", "TEXT NOT NULL", "TEXT NOT NULL", 5, JsonAs::Text},
    {"kind", "TEXT", "TEXT", 5, JsonAs::Text},
    {"make", "TEXT", "TEXT", 5, JsonAs::Text},
    {"model", "TEXT", "TEXT", 5, JsonAs::Text},
    {"serial", "TEXT", "TEXT", 5, JsonAs::Text},
    {"calibrated_on", "TEXT", "TEXT", 5, JsonAs::Text},
    {"due_on", "TEXT", "TEXT", 5, JsonAs::Text},
    {"certificate", "TEXT", "TEXT", 5, JsonAs::Text},
    {"status", "TEXT NOT NULL", "TEXT NOT NULL", 5, JsonAs::Text},
    {"note", "TEXT", "TEXT", 5, JsonAs::Text},
};

// The register of the line's reference instruments (from version 5). Never updated: an
// edit or a retirement is a new entry for the same asset id, the newest one standing.
// Dates are ISO days (2026-12-09).
const Column InstrumentColumns[] = {
    {"id", "TEXT PRIMARY KEY", "TEXT PRIMARY KEY", 5},
    {"asset_id", "TEXT NOT NULL", "TEXT NOT NULL", 5},
    {"kind", "TEXT NOT NULL", "TEXT NOT NULL", 5},
    {"make", "TEXT", "TEXT", 5},
    {"model", "TEXT", "TEXT", 5},
    {"serial", "TEXT", "TEXT", 5},
    {"calibrated_on", "TEXT", "TEXT", 5},
    {"due_on", "TEXT", "TEXT", 5},
    {"certificate", "TEXT", "TEXT", 5},
    {"retired", "INTEGER NOT NULL DEFAULT 0", "INTEGER NOT NULL DEFAULT 0", 5},
    {"changed_utc", "TEXT NOT NULL", "TEXT NOT NULL", 5},
    {"changed_by", "TEXT NOT NULL", "TEXT NOT NULL", 5},
};

// The line-database uploader's progress in a station's file (a run is uploaded once its
// id is in line_uploads; errors as they change).
const Column LineUploadColumns[] = {
    {"run_id", "TEXT PRIMARY KEY REFERENCES runs(id)", nullptr},
    {"uploaded_utc", "TEXT NOT NULL", nullptr},
};
const Column LineUploadErrorColumns[] = {
    {"at_utc", "TEXT NOT NULL", nullptr},
    {"message", "TEXT NOT NULL", nullptr},
};

// Parents before children. The record kinds first, in the order of enum Table.
const TableInfo Tables[] = {
    {"stations", 1, Backend::Both, StationColumns},
    {"sessions", 1, Backend::Both, SessionColumns},
    {"runs", 1, Backend::Both, RunColumns},
    {"run_ends", 1, Backend::Both, RunEndColumns},
    {"row_results", 1, Backend::Both, RowResultColumns},
    {"prompts", 1, Backend::Both, PromptColumns},
    {"eeprom_writes", 1, Backend::Both, EepromWriteColumns},
    {"measurements", 3, Backend::Both, MeasurementColumns},
    {"run_instruments", 5, Backend::Both, RunInstrumentColumns},
    {"instruments", 5, Backend::Both, InstrumentColumns},
    {"meta", 1, Backend::Both, MetaColumns},
    {"line_uploads", 2, Backend::File, LineUploadColumns},
    {"line_upload_errors", 2, Backend::File, LineUploadErrorColumns},
};

const IndexInfo Indexes[] = {
    {"runs_started", "runs", "started_utc", 1, Backend::Both},
    {"runs_serial", "runs", "serial", 1, Backend::Both},
    {"runs_product", "runs", "product_id, started_utc", 1, Backend::Both},
    {"runs_station", "runs", "station_id, seq", 1, Backend::Both},
    {"runs_uploaded_by", "runs", "uploaded_by, started_utc", 1, Backend::Line},
    {"runs_session", "runs", "session_id", 1, Backend::Line},
    {"row_results_run", "row_results", "run_id, seq", 1, Backend::Both},
    {"prompts_run", "prompts", "run_id, seq", 1, Backend::Both},
    {"eeprom_writes_run", "eeprom_writes", "run_id, seq", 1, Backend::Both},
    {"measurements_run", "measurements", "run_id, seq", 3, Backend::Both},
    {"measurements_name", "measurements", "name, run_id", 3, Backend::Both, 4},
    // Covering: a name's values over many runs are read from the index alone.
    {"measurements_by_name", "measurements",
     "name, run_id, seq, digit, value, kind, unit, comparison, expected, tolerance, low, high, outcome", 4,
     Backend::Both},
    {"run_instruments_run", "run_instruments", "run_id, seq", 5, Backend::Both},
    {"run_instruments_asset", "run_instruments", "asset_id, run_id", 5, Backend::Both},
    {"instruments_asset", "instruments", "asset_id, changed_utc", 5, Backend::Both},
};
// clang-format on

static_assert(std::size(Tables) >= RecordKinds);

bool has(Backend what, Backend backend)
{
    return what == Backend::Both || what == backend;
}

const char *declaration(const Column &column, Backend backend)
{
    return backend == Backend::Line ? column.postgres : column.sqlite;
}

} // namespace

std::span<const TableInfo> tables()
{
    return Tables;
}

const TableInfo &tableInfo(Table table)
{
    return Tables[std::size_t(table)];
}

const TableInfo *findTable(const QString &name)
{
    for (const TableInfo &t : Tables)
        if (name == QLatin1String(t.name))
            return &t;
    return nullptr;
}

std::span<const IndexInfo> indexes()
{
    return Indexes;
}

QList<const Column *> columnsAt(const TableInfo &table, Backend backend, int version)
{
    QList<const Column *> out;
    for (const Column &c : table.columns)
        if (c.since <= version && has(c.backend, backend) && declaration(c, backend))
            out << &c;
    return out;
}

QString columnList(const TableInfo &table, Backend backend, int version)
{
    QStringList names;
    for (const Column *c : columnsAt(table, backend, version))
        names << QLatin1String(c->name);
    return names.join(QStringLiteral(", "));
}

int neededVersion(Backend backend)
{
    int needed = 1;
    for (const TableInfo &t : Tables) {
        if (!has(t.backend, backend))
            continue;
        needed = std::max(needed, t.since);
        for (const Column &c : t.columns)
            if (has(c.backend, backend) && declaration(c, backend))
                needed = std::max(needed, c.since);
    }
    for (const IndexInfo &i : Indexes)
        if (has(i.backend, backend))
            needed = std::max({needed, i.since, i.until});
    return needed;
}

QString createTableSql(const TableInfo &table, Backend backend, int version)
{
    QStringList parts;
    for (const Column *c : columnsAt(table, backend, version))
        parts << QLatin1String(c->name) + QLatin1Char(' ') + QLatin1String(declaration(*c, backend));
    if (*table.constraints)
        parts << QLatin1String(table.constraints);
    return QStringLiteral("CREATE TABLE ") + QLatin1String(table.name) + QStringLiteral(" (")
           + parts.join(QStringLiteral(", ")) + QLatin1Char(')');
}

QStringList migrationSql(Backend backend, int from)
{
    const int to = from + 1;
    QStringList sql;
    for (const TableInfo &t : Tables)
        if (t.since == to && has(t.backend, backend))
            sql << createTableSql(t, backend, to);
    for (const TableInfo &t : Tables) {
        if (t.since >= to || !has(t.backend, backend))
            continue;
        for (const Column &c : t.columns)
            if (c.since == to && has(c.backend, backend) && declaration(c, backend))
                sql << QStringLiteral("ALTER TABLE %1 ADD COLUMN %2 %3")
                           .arg(QLatin1String(t.name), QLatin1String(c.name), QLatin1String(declaration(c, backend)));
    }
    for (const IndexInfo &i : Indexes) {
        if (!has(i.backend, backend))
            continue;
        if (i.until == to)
            sql << QStringLiteral("DROP INDEX IF EXISTS %1").arg(QLatin1String(i.name));
        else if (i.since == to && (i.until == 0 || i.until > to))
            sql << QStringLiteral("CREATE INDEX %1 ON %2(%3)")
                       .arg(QLatin1String(i.name), QLatin1String(i.table), QLatin1String(i.columns));
    }
    return sql;
}

QJsonValue jsonValue(const Column &column, const QVariant &value)
{
    switch (column.json) {
    case JsonAs::None: break;
    case JsonAs::Text: return value.isNull() ? QJsonValue() : QJsonValue(value.toString());
    case JsonAs::Number: return value.isNull() ? QJsonValue() : QJsonValue(value.toLongLong());
    case JsonAs::Real: {
        // JSON has no NaN or infinity: a value that is not a finite number reads as null.
        const double number = value.toDouble();
        return value.isNull() || !std::isfinite(number) ? QJsonValue() : QJsonValue(number);
    }
    case JsonAs::Bool: return value.toLongLong() != 0;
    case JsonAs::TextArray: return QJsonDocument::fromJson(value.toString().toUtf8()).array();
    }
    return {};
}

QString csvValue(const Column &column, const QVariant &value)
{
    switch (column.csv) {
    case CsvAs::None: break;
    case CsvAs::Text: return value.toString();
    case CsvAs::Real: {
        const double number = value.toDouble();
        return value.isNull() || !std::isfinite(number) ? QString()
                                                        : QString::number(number, 'g', QLocale::FloatingPointShortest);
    }
    case CsvAs::HexDigit: return value.isNull() ? QString() : QString::number(value.toLongLong(), 16).toUpper();
    case CsvAs::Lines: {
        QStringList lines;
        for (const auto &line : QJsonDocument::fromJson(value.toString().toUtf8()).array())
            lines << line.toString();
        return lines.join(QLatin1Char('\n'));
    }
    }
    return {};
}

} // namespace quillon::records
