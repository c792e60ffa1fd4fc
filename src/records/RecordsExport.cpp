#include "records/RecordsExport.h"

#include "records/Columns.h"
#include "station/RowRegistry.h"

#include <QDateTime>
#include <QIODevice>
#include <QJsonArray>
#include <QJsonDocument>
#include <QLocale>
#include <QXmlStreamWriter>

#include <algorithm>
#include <memory>
#include <vector>

namespace quillon::records {

namespace {

QString csvField(const QString &text)
{
    if (!text.contains(QLatin1Char(',')) && !text.contains(QLatin1Char('"')) && !text.contains(QLatin1Char('\n'))
        && !text.contains(QLatin1Char('\r')) && !text.contains(QLatin1Char('\t')))
        return text;
    QString quoted = text;
    quoted.replace(QLatin1Char('"'), QLatin1String("\"\""));
    return QLatin1Char('"') + quoted + QLatin1Char('"');
}

QString optionalText(const std::optional<int> &value)
{
    return value ? QString::number(*value) : QString();
}

// Seconds between two stored times, "0.000" when either is missing.
QString seconds(const QString &fromUtc, const QString &toUtc)
{
    const QDateTime from = QDateTime::fromString(fromUtc, Qt::ISODateWithMs);
    const QDateTime to = QDateTime::fromString(toUtc, Qt::ISODateWithMs);
    if (!from.isValid() || !to.isValid() || to < from)
        return QStringLiteral("0.000");
    return QString::number(double(from.msecsTo(to)) / 1000.0, 'f', 3);
}

QString suiteName(const RunSummary &run)
{
    QString name = run.kind == QLatin1String("row") && run.rowDigit
                       ? QStringLiteral("row %1 Test").arg(QString::number(*run.rowDigit, 16).toUpper())
                       : QStringLiteral("Test All");
    name += QStringLiteral(" on ") + run.stationName;
    if (!run.serial.isEmpty())
        name += QStringLiteral(", serial ") + run.serial;
    return name;
}

// A record's exported columns into a JSON object (the column table's keys and forms).
QJsonObject exported(Table table, const QVariantHash &fields, QJsonObject object = {})
{
    for (const Column &c : tableInfo(table).columns)
        if (c.json != JsonAs::None)
            object.insert(c.key(), jsonValue(c, fields.value(QLatin1String(c.name))));
    return object;
}

// The fields of a CSV line in their places: a run's (its station's, its own, its end's)
// and then its row's; for measurements, the run's keys and then the measurement's.
struct CsvField {
    Table table;
    const Column *column;
};

std::vector<CsvField> placedFields(std::initializer_list<Table> tables, int upToPlace = 0)
{
    std::vector<CsvField> out;
    for (const Table t : tables)
        for (const Column &c : tableInfo(t).columns)
            if (c.csv != CsvAs::None && (upToPlace == 0 || c.csvPlace <= upToPlace))
                out.push_back({t, &c});
    std::sort(out.begin(), out.end(),
              [](const CsvField &a, const CsvField &b) { return a.column->csvPlace < b.column->csvPlace; });
    return out;
}

const std::vector<CsvField> &csvFields(ExportWhat what)
{
    static const std::vector<CsvField> runs =
        placedFields({Table::Stations, Table::Runs, Table::RunEnds, Table::RowResults});
    static const std::vector<CsvField> measurements = [] {
        std::vector<CsvField> out = placedFields({Table::Stations, Table::Runs}, CsvRunKeys);
        const std::vector<CsvField> own = placedFields({Table::Measurements});
        out.insert(out.end(), own.begin(), own.end());
        return out;
    }();
    return what == ExportWhat::Measurements ? measurements : runs;
}

QString csvHeader(ExportWhat what)
{
    QStringList names;
    for (const CsvField &f : csvFields(what))
        names << QLatin1String(f.column->csvHeader);
    return names.join(QLatin1Char(','));
}

} // namespace

std::optional<ExportFormat> exportFormatFromName(const QString &name)
{
    if (name == QLatin1String("csv"))
        return ExportFormat::Csv;
    if (name == QLatin1String("json"))
        return ExportFormat::Json;
    if (name == QLatin1String("junit"))
        return ExportFormat::JUnit;
    return std::nullopt;
}

std::optional<ExportWhat> exportWhatFromName(const QString &name)
{
    if (name == QLatin1String("runs"))
        return ExportWhat::Runs;
    if (name == QLatin1String("measurements"))
        return ExportWhat::Measurements;
    return std::nullopt;
}

bool canExport(ExportFormat format, ExportWhat what)
{
    return what == ExportWhat::Runs || format == ExportFormat::Csv;
}

QJsonObject runToJson(const RunDetail &detail)
{
    QJsonObject run = exported(Table::RunEnds, detail.run.endFields, exported(Table::Runs, detail.run.fields));
    run.insert(QStringLiteral("station"), exported(Table::Stations, detail.station.fields));
    run.insert(QStringLiteral("session"),
               detail.session ? QJsonValue(exported(Table::Sessions, detail.session->fields)) : QJsonValue());
    QJsonArray rows, prompts, writes, instruments;
    for (const RowRecord &row : detail.rows) {
        QJsonObject object = exported(Table::RowResults, row.fields);
        // A row's measurements beside it, where the store keeps them.
        if (detail.keepsMeasurements) {
            QJsonArray measured;
            for (const MeasurementRecord &m : detail.measurements)
                if (m.digit == row.digit)
                    measured.append(exported(Table::Measurements, m.fields));
            object.insert(QStringLiteral("measurements"), measured);
        }
        rows.append(object);
    }
    for (const PromptRecord &p : detail.prompts)
        prompts.append(exported(Table::Prompts, p.fields));
    for (const EepromWrite &w : detail.eepromWrites)
        writes.append(exported(Table::EepromWrites, w.fields));
    run.insert(QStringLiteral("rows"), rows);
    run.insert(QStringLiteral("prompts"), prompts);
    run.insert(QStringLiteral("eeprom_writes"), writes);
    for (const InstrumentUse &u : detail.instruments)
        instruments.append(exported(Table::RunInstruments, u.fields));
    run.insert(QStringLiteral("instruments"), instruments);
    return run;
}

struct RunExporter::Private {
    ExportFormat format;
    QIODevice &out;
    ExportWhat what;
    std::unique_ptr<QXmlStreamWriter> xml;
    bool first = true;
    bool ok = true;

    void write(const QByteArray &bytes) { ok = out.write(bytes) == bytes.size() && ok; }
};

RunExporter::RunExporter(ExportFormat format, QIODevice &out, ExportWhat what)
    : d(new Private{format, out, canExport(format, what) ? what : ExportWhat::Runs, nullptr})
{
    switch (format) {
    case ExportFormat::Csv: d->write(csvHeader(d->what).toUtf8() + "\r\n"); break;
    case ExportFormat::Json: d->write("["); break;
    case ExportFormat::JUnit:
        d->xml = std::make_unique<QXmlStreamWriter>(&out);
        d->xml->setAutoFormatting(true);
        d->xml->writeStartDocument();
        d->xml->writeStartElement(QStringLiteral("testsuites"));
        d->xml->writeAttribute(QStringLiteral("name"), QStringLiteral("Quillon records"));
        break;
    }
}

RunExporter::~RunExporter()
{
    delete d;
}

namespace {

// The CSV lines of a run: one per row result, one with empty row fields if it has none;
// for measurements, one per measurement.
QByteArray csvLines(const RunDetail &detail, ExportWhat what)
{
    QByteArray out;
    auto line = [&](const QVariantHash *own) {
        QStringList fields;
        for (const CsvField &f : csvFields(what)) {
            const QVariantHash *values = nullptr;
            switch (f.table) {
            case Table::Stations: values = &detail.station.fields; break;
            case Table::RunEnds: values = &detail.run.endFields; break;
            case Table::RowResults:
            case Table::Measurements: values = own; break;
            default: values = &detail.run.fields; break;
            }
            fields << csvField(values ? csvValue(*f.column, values->value(QLatin1String(f.column->name))) : QString());
        }
        out += fields.join(QLatin1Char(',')).toUtf8() + "\r\n";
    };
    if (what == ExportWhat::Measurements) {
        for (const MeasurementRecord &m : detail.measurements)
            line(&m.fields);
        return out;
    }
    if (detail.rows.empty())
        line(nullptr);
    for (const RowRecord &row : detail.rows)
        line(&row.fields);
    return out;
}

void junitProperties(QXmlStreamWriter &x, const RunSummary &run)
{
    x.writeStartElement(QStringLiteral("properties"));
    auto property = [&x](const QString &name, const QString &value) {
        x.writeStartElement(QStringLiteral("property"));
        x.writeAttribute(QStringLiteral("name"), name);
        x.writeAttribute(QStringLiteral("value"), value);
        x.writeEndElement();
    };
    property(QStringLiteral("run_id"), run.id);
    property(QStringLiteral("station"), run.stationName);
    property(QStringLiteral("serial"), run.serial);
    property(QStringLiteral("product_id"), optionalText(run.productId));
    property(QStringLiteral("end_state"), run.endState.isEmpty() ? QStringLiteral("open") : run.endState);
    property(QStringLiteral("overall"), run.overall);
    property(QStringLiteral("simulated"), run.simulated ? QStringLiteral("true") : QStringLiteral("false"));
    x.writeEndElement();
}

QString number(const std::optional<double> &value)
{
    return value ? QString::number(*value, 'g', QLocale::FloatingPointShortest) : QStringLiteral("none");
}

QString withUnit(const QString &text, const QString &unit)
{
    return unit.isEmpty() ? text : text + QLatin1Char(' ') + unit;
}

// What a measurement was judged against, as one text ("4.99 to 5.01 V (5 ± 0.01)",
// "at least 2 counts"); empty for a value recorded but not judged.
QString limitsText(const MeasurementRecord &m)
{
    const QString &c = m.comparison;
    if (c == QLatin1String("within"))
        return withUnit(number(m.low) + QStringLiteral(" to ") + number(m.high), m.unit)
               + QStringLiteral(" (%1 \u00B1 %2)").arg(number(m.expected), number(m.tolerance));
    if (c == QLatin1String("range"))
        return withUnit(number(m.low) + QStringLiteral(" to ") + number(m.high), m.unit);
    if (c == QLatin1String("at-least"))
        return withUnit(QStringLiteral("at least ") + number(m.low), m.unit);
    if (c == QLatin1String("equals"))
        return withUnit(QStringLiteral("exactly ") + number(m.expected), m.unit);
    if (c == QLatin1String("finite"))
        return QStringLiteral("finite");
    return {};
}

// A row's measurements as testcase properties: NAME (the value with its unit),
// NAME.limits where it was judged, NAME.outcome. None where the row has none.
void junitMeasurements(QXmlStreamWriter &x, const RunDetail &detail, int digit)
{
    bool open = false;
    auto property = [&x](const QString &name, const QString &value) {
        x.writeStartElement(QStringLiteral("property"));
        x.writeAttribute(QStringLiteral("name"), name);
        x.writeAttribute(QStringLiteral("value"), value);
        x.writeEndElement();
    };
    for (const MeasurementRecord &m : detail.measurements) {
        if (m.digit != digit)
            continue;
        if (!open)
            x.writeStartElement(QStringLiteral("properties"));
        open = true;
        property(m.name, m.value ? withUnit(number(m.value), m.unit) : number(m.value));
        const QString limits = limitsText(m);
        if (!limits.isEmpty())
            property(m.name + QStringLiteral(".limits"), limits);
        property(m.name + QStringLiteral(".outcome"), m.outcome);
    }
    if (open)
        x.writeEndElement();
}

// A row as a testcase: a failing row's failure (or a row left "testing..." as an
// error) carries the memo lines; others keep them as their output.
void junitTestcase(QXmlStreamWriter &x, const RunDetail &detail, const RowRecord &row)
{
    x.writeStartElement(QStringLiteral("testcase"));
    x.writeAttribute(QStringLiteral("name"), row.name);
    x.writeAttribute(QStringLiteral("classname"),
                     QStringLiteral("quillon.row%1").arg(QString::number(row.digit, 16).toUpper()));
    x.writeAttribute(QStringLiteral("time"), seconds(row.startedUtc, row.endedUtc));
    junitMeasurements(x, detail, row.digit);
    const QString memo = row.memo.join(QLatin1Char('\n'));
    const bool failed = row.status == QLatin1String("fail");
    const bool unfinished = row.status == QLatin1String("testing");
    if (failed || unfinished) {
        x.writeStartElement(failed ? QStringLiteral("failure") : QStringLiteral("error"));
        if (failed)
            x.writeAttribute(QStringLiteral("message"),
                             row.failLabel.isEmpty() ? row.label : row.label + QStringLiteral(": ") + row.failLabel);
        else
            x.writeAttribute(QStringLiteral("message"), QStringLiteral("no verdict: ") + row.label);
        x.writeAttribute(QStringLiteral("type"), failed ? QStringLiteral("fail") : QStringLiteral("interrupted"));
        x.writeCharacters(memo);
        x.writeEndElement();
    } else {
        if (row.status == QLatin1String("untested"))
            x.writeEmptyElement(QStringLiteral("skipped"));
        if (!memo.isEmpty())
            x.writeTextElement(QStringLiteral("system-out"), memo);
    }
    x.writeEndElement();
}

// The testcases of a run: its rows; a Test All that stopped early also lists the rows it
// never reached, untested, so a dashboard counts every row of the board.
std::vector<RowRecord> junitRows(const RunDetail &detail)
{
    std::vector<RowRecord> rows = detail.rows;
    const bool stopped =
        detail.run.endState == QLatin1String("aborted") || detail.run.endState == QLatin1String("interrupted");
    if (detail.run.kind != QLatin1String("test-all") || !stopped)
        return rows;
    for (const RowEntry &entry : rowRegistry()) {
        const bool recorded = std::any_of(detail.rows.begin(), detail.rows.end(),
                                          [&](const RowRecord &r) { return r.digit == entry.digit; });
        if (recorded)
            continue;
        RowRecord untested;
        untested.digit = entry.digit;
        untested.name = entry.name;
        untested.status = QStringLiteral("untested");
        rows.push_back(untested);
    }
    std::stable_sort(rows.begin(), rows.end(),
                     [](const RowRecord &a, const RowRecord &b) { return a.digit < b.digit; });
    return rows;
}

void junitSuite(QXmlStreamWriter &x, const RunDetail &detail)
{
    const RunSummary &run = detail.run;
    const std::vector<RowRecord> rows = junitRows(detail);
    int failures = 0;
    int errors = 0;
    int skipped = 0;
    for (const RowRecord &row : rows) {
        failures += row.status == QLatin1String("fail");
        errors += row.status == QLatin1String("testing");
        skipped += row.status == QLatin1String("untested");
    }
    x.writeStartElement(QStringLiteral("testsuite"));
    x.writeAttribute(QStringLiteral("name"), suiteName(run));
    x.writeAttribute(QStringLiteral("id"), run.id);
    x.writeAttribute(QStringLiteral("tests"), QString::number(rows.size()));
    x.writeAttribute(QStringLiteral("failures"), QString::number(failures));
    x.writeAttribute(QStringLiteral("errors"), QString::number(errors));
    x.writeAttribute(QStringLiteral("skipped"), QString::number(skipped));
    x.writeAttribute(QStringLiteral("time"), seconds(run.startedUtc, run.endedUtc));
    // JUnit timestamps carry no zone; these are UTC.
    x.writeAttribute(QStringLiteral("timestamp"), run.startedUtc.left(19));
    x.writeAttribute(QStringLiteral("hostname"), detail.station.host);
    junitProperties(x, run);
    for (const RowRecord &row : rows)
        junitTestcase(x, detail, row);
    x.writeEndElement();
}

} // namespace

void RunExporter::add(const RunDetail &detail)
{
    switch (d->format) {
    case ExportFormat::Csv: d->write(csvLines(detail, d->what)); break;
    case ExportFormat::Json:
        d->write((d->first ? "\n" : ",\n") + QJsonDocument(runToJson(detail)).toJson(QJsonDocument::Compact));
        break;
    case ExportFormat::JUnit: junitSuite(*d->xml, detail); break;
    }
    d->first = false;
}

bool RunExporter::finish()
{
    switch (d->format) {
    case ExportFormat::Csv: break;
    case ExportFormat::Json: d->write(d->first ? "]\n" : "\n]\n"); break;
    case ExportFormat::JUnit:
        d->xml->writeEndElement();
        d->xml->writeEndDocument();
        d->ok = d->ok && !d->xml->hasError();
        break;
    }
    return d->ok;
}

bool exportRuns(const RecordsQuery &query, const RunFilter &filter, ExportFormat format, QIODevice &out,
                QueryError *error, ExportWhat what)
{
    if (!canExport(format, what)) {
        if (error)
            error->message =
                QStringLiteral("measurements export as csv only (json and junit carry them under each row)");
        return false;
    }
    QueryError failure;
    const std::vector<RunSummary> runs = query.list(filter, &failure);
    if (!failure.message.isEmpty()) {
        if (error)
            *error = failure;
        return false;
    }
    RunExporter exporter(format, out, what);
    for (const RunSummary &summary : runs) {
        const auto detail = query.run(summary.id, &failure);
        if (!detail) {
            if (error)
                *error = failure;
            return false;
        }
        exporter.add(*detail);
    }
    if (!exporter.finish()) {
        if (error)
            error->message = QStringLiteral("could not write the export: %1").arg(out.errorString());
        return false;
    }
    return true;
}

} // namespace quillon::records
