#include "records/RecordsExport.h"

#include "station/RowRegistry.h"

#include <QDateTime>
#include <QIODevice>
#include <QJsonArray>
#include <QJsonDocument>
#include <QXmlStreamWriter>

#include <algorithm>
#include <memory>

namespace quillon::records {

namespace {

QJsonValue orNull(const QString &text)
{
    return text.isNull() ? QJsonValue() : QJsonValue(text);
}

QJsonValue orNull(const std::optional<int> &value)
{
    return value ? QJsonValue(*value) : QJsonValue();
}

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

const QStringList CsvColumns = {
    QStringLiteral("run_id"),       QStringLiteral("started_utc"), QStringLiteral("station"),
    QStringLiteral("serial"),       QStringLiteral("product_id"),  QStringLiteral("kind"),
    QStringLiteral("end_state"),    QStringLiteral("overall"),     QStringLiteral("row_digit"),
    QStringLiteral("row_name"),     QStringLiteral("status"),      QStringLiteral("label"),
    QStringLiteral("fail_label"),   QStringLiteral("memo"),        QStringLiteral("row_started_utc"),
    QStringLiteral("row_ended_utc")};

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

QJsonObject runToJson(const RunDetail &detail)
{
    const RunSummary &run = detail.run;
    QJsonObject station{{QStringLiteral("id"), detail.station.id},
                        {QStringLiteral("name"), detail.station.name},
                        {QStringLiteral("host"), detail.station.host},
                        {QStringLiteral("program"), detail.station.program},
                        {QStringLiteral("version"), detail.station.version},
                        {QStringLiteral("library"), detail.station.library},
                        {QStringLiteral("simulated"), detail.station.simulated}};
    QJsonValue session;
    if (const auto &s = detail.session)
        session = QJsonObject{{QStringLiteral("id"), s->id},
                              {QStringLiteral("started_utc"), s->startedUtc},
                              {QStringLiteral("detection_label"), s->detectionLabel},
                              {QStringLiteral("product_id"), orNull(s->productId)},
                              {QStringLiteral("variant"), orNull(s->variant)},
                              {QStringLiteral("channel_count"), orNull(s->channelCount)},
                              {QStringLiteral("dac_count"), orNull(s->dacCount)},
                              {QStringLiteral("revision"), orNull(s->revision)},
                              {QStringLiteral("firmware_reply"), orNull(s->firmwareReply)},
                              {QStringLiteral("revision_reply"), orNull(s->revisionReply)}};
    QJsonArray rows;
    for (const RowRecord &row : detail.rows)
        rows.append(QJsonObject{{QStringLiteral("seq"), row.seq},
                                {QStringLiteral("digit"), row.digit},
                                {QStringLiteral("name"), row.name},
                                {QStringLiteral("status"), row.status},
                                {QStringLiteral("label"), row.label},
                                {QStringLiteral("fail_label"), orNull(row.failLabel)},
                                {QStringLiteral("memo"), QJsonArray::fromStringList(row.memo)},
                                {QStringLiteral("started_utc"), row.startedUtc},
                                {QStringLiteral("ended_utc"), row.endedUtc}});
    QJsonArray prompts;
    for (const PromptRecord &p : detail.prompts)
        prompts.append(QJsonObject{{QStringLiteral("seq"), p.seq},
                                   {QStringLiteral("kind"), p.kind},
                                   {QStringLiteral("caption"), orNull(p.caption)},
                                   {QStringLiteral("text"), orNull(p.text)},
                                   {QStringLiteral("answer"), orNull(p.answer)},
                                   {QStringLiteral("typed"), p.hasTyped ? QJsonValue(p.typed) : QJsonValue()},
                                   {QStringLiteral("shown_utc"), p.shownUtc},
                                   {QStringLiteral("answered_utc"), orNull(p.answeredUtc)}});
    QJsonArray writes;
    for (const EepromWrite &w : detail.eepromWrites)
        writes.append(QJsonObject{{QStringLiteral("seq"), w.seq},
                                  {QStringLiteral("address"), w.address},
                                  {QStringLiteral("bytes"), QString::fromLatin1(w.bytes.toHex())},
                                  {QStringLiteral("status"), qint64(w.status)},
                                  {QStringLiteral("at_utc"), w.atUtc}});
    return QJsonObject{{QStringLiteral("id"), run.id},
                       {QStringLiteral("seq"), run.seq},
                       {QStringLiteral("station"), station},
                       {QStringLiteral("session"), session},
                       {QStringLiteral("kind"), run.kind},
                       {QStringLiteral("row_digit"), orNull(run.rowDigit)},
                       {QStringLiteral("product_id"), orNull(run.productId)},
                       {QStringLiteral("serial"), orNull(run.serial)},
                       {QStringLiteral("started_utc"), run.startedUtc},
                       {QStringLiteral("ended_utc"), orNull(run.endedUtc)},
                       {QStringLiteral("end_state"), orNull(run.endState)},
                       {QStringLiteral("overall"), orNull(run.overall)},
                       {QStringLiteral("simulated"), run.simulated},
                       {QStringLiteral("rows"), rows},
                       {QStringLiteral("prompts"), prompts},
                       {QStringLiteral("eeprom_writes"), writes}};
}

struct RunExporter::Private {
    ExportFormat format;
    QIODevice &out;
    std::unique_ptr<QXmlStreamWriter> xml;
    bool first = true;
    bool ok = true;

    void write(const QByteArray &bytes) { ok = out.write(bytes) == bytes.size() && ok; }
};

RunExporter::RunExporter(ExportFormat format, QIODevice &out) : d(new Private{format, out, nullptr})
{
    switch (format) {
    case ExportFormat::Csv: d->write(CsvColumns.join(QLatin1Char(',')).toUtf8() + "\r\n"); break;
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

// The CSV lines of a run: one per row result, one with empty row fields if it has none.
QByteArray csvLines(const RunDetail &detail)
{
    const RunSummary &run = detail.run;
    const QStringList runFields = {run.id,   run.startedUtc, run.stationName, run.serial, optionalText(run.productId),
                                   run.kind, run.endState,   run.overall};
    QByteArray out;
    auto line = [&](const QStringList &rowFields) {
        QStringList fields;
        for (const QString &f : runFields + rowFields)
            fields << csvField(f);
        out += fields.join(QLatin1Char(',')).toUtf8() + "\r\n";
    };
    if (detail.rows.empty())
        line(QStringList(8, QString()));
    for (const RowRecord &row : detail.rows)
        line({QString::number(row.digit, 16).toUpper(), row.name, row.status, row.label, row.failLabel,
              row.memo.join(QLatin1Char('\n')), row.startedUtc, row.endedUtc});
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

// A row as a testcase: a failing row's failure (or a row left "testing..." as an
// error) carries the memo lines; others keep them as their output.
void junitTestcase(QXmlStreamWriter &x, const RowRecord &row)
{
    x.writeStartElement(QStringLiteral("testcase"));
    x.writeAttribute(QStringLiteral("name"), row.name);
    x.writeAttribute(QStringLiteral("classname"),
                     QStringLiteral("quillon.row%1").arg(QString::number(row.digit, 16).toUpper()));
    x.writeAttribute(QStringLiteral("time"), seconds(row.startedUtc, row.endedUtc));
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
        junitTestcase(x, row);
    x.writeEndElement();
}

} // namespace

void RunExporter::add(const RunDetail &detail)
{
    switch (d->format) {
    case ExportFormat::Csv: d->write(csvLines(detail)); break;
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
                QueryError *error)
{
    QueryError failure;
    const std::vector<RunSummary> runs = query.list(filter, &failure);
    if (!failure.message.isEmpty()) {
        if (error)
            *error = failure;
        return false;
    }
    RunExporter exporter(format, out);
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
