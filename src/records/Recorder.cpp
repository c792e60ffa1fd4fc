#include "records/Recorder.h"

#include "records/ReadOnlyStore.h"
#include "records/Schema.h"
#include "station/Operator.h"
#include "station/RowRegistry.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QUuid>

#include <cmath>

namespace quillon::records {

namespace {

constexpr quint8 FirmwareRequest = 0xB3;
constexpr quint8 RevisionRequest = 0xA3;
// A run's records are committed before its verdict is shown; a store that does not
// answer within this time is treated as failing rather than holding up the test.
constexpr int DurableWaitMs = 2000;

QString statusWord(TestStatus status)
{
    switch (status) {
    case TestStatus::Pass: return QStringLiteral("pass");
    case TestStatus::Fail: return QStringLiteral("fail");
    case TestStatus::Testing: return QStringLiteral("testing");
    case TestStatus::Untested: break;
    }
    return QStringLiteral("untested");
}

QVariant orNull(const QString &text)
{
    return text.isNull() ? QVariant() : QVariant(text);
}

// An optional text: empty is NULL.
QVariant orEmpty(const QString &text)
{
    return text.isEmpty() ? QVariant() : QVariant(text);
}

// A text for a NOT NULL column: Qt SQL binds a null QString as NULL.
QString notNull(const QString &text)
{
    return text.isNull() ? QStringLiteral("") : text;
}

QString hex(const QByteArray &bytes)
{
    return QString::fromLatin1(bytes.toHex());
}

// A station's key follows from what it is, so every file and the line database agree
// on it without asking each other. It is its name, host and program: the library's
// description names the product on the board, so each product would make a new station.
// (Files written before keep one station row per combination they saw; readers take the
// rows of one name, host and program for one station.)
QString stationKey(const StationIdentity &s)
{
    static const QUuid ns(QStringLiteral("{5d3e1f0a-7c39-4f4e-9a51-3b8f0c6e2d17}"));
    const QStringList parts{s.name, s.host, s.program};
    return QUuid::createUuidV5(ns, parts.join(QChar(0x1f))).toString(QUuid::WithoutBraces);
}

} // namespace

Recorder::Recorder(const RecordWriter::Options &options, StationIdentity station)
    : m_station(std::move(station)), m_stationId(stationKey(m_station))
{
    RecordWriter::Options o = options;
    o.station = m_station.name;
    o.host = m_station.host;
    o.program = m_station.program;
    m_writer = std::make_unique<RecordWriter>(o);
    m_writer->start();
    put({Table::Stations,
         {{"id", m_stationId},
          {"name", notNull(m_station.name)},
          {"host", notNull(m_station.host)},
          {"program", notNull(m_station.program)},
          {"version", notNull(m_station.version)},
          {"library", notNull(m_station.library)},
          {"simulated", int(m_station.simulated)},
          {"created_utc", utcNow()}}});
}

Recorder::~Recorder()
{
    finish();
    if (!m_registerConnection.isEmpty())
        closeReadOnlyStore(m_registerConnection);
}

int Recorder::finish()
{
    // Runs still open here ended with the program (their handlers never returned).
    while (!m_runs.empty())
        endRun(QStringLiteral("aborted"), QString());
    return m_writer->finish();
}

void Recorder::setSerialPrompt(bool ask, const QString &pattern)
{
    m_askSerial = ask;
    m_serialPatternText = pattern;
    m_serialPattern =
        QRegularExpression(QRegularExpression::anchoredPattern(pattern.isEmpty() ? QStringLiteral(".+") : pattern));
}

void Recorder::setTrace(const TraceSettings &trace)
{
    m_trace = trace;
    m_operatorId = trace.operatorId.trimmed();
    m_operatorPattern = QRegularExpression(QRegularExpression::anchoredPattern(
        trace.operatorPattern.isEmpty() ? QStringLiteral(".+") : trace.operatorPattern));
}

std::uint64_t Recorder::put(Record record)
{
    return m_writer->enqueue(std::move(record));
}

void Recorder::waitDurable(std::uint64_t ticket)
{
    m_writer->waitWritten(ticket, DurableWaitMs);
}

void Recorder::detectionStarting()
{
    m_detecting = true;
    m_sessionId = newKey();
    m_sessionPrompts = 0;
    m_detectStarted = utcNow();
    m_queried = false;
    m_queriedProduct = 0;
    m_boardName.clear();
    m_firmwareReply.clear();
    m_revisionReply.clear();
}

void Recorder::detectionEnded(bool found, const QString &label, const BoardConfig &board)
{
    m_detecting = false;
    m_productId = found && m_queried ? QVariant(qint64(m_queriedProduct)) : QVariant();
    const auto ifFound = [found](const QVariant &v) { return found ? v : QVariant(); };
    put({Table::Sessions,
         {{"id", m_sessionId},
          {"station_id", m_stationId},
          {"started_utc", m_detectStarted},
          {"detection_label", notNull(label)},
          {"product_id", m_productId},
          {"variant", ifFound(m_boardName.isEmpty() ? QVariant() : QVariant(QString::fromLatin1(m_boardName)))},
          {"channel_count", ifFound(board.ChannelCount)},
          {"dac_count", ifFound(board.HasDacs ? 4 : 0)},
          {"revision", ifFound(board.NewRevision ? QStringLiteral("new") : QStringLiteral("D or earlier"))},
          {"firmware_reply", m_firmwareReply.isNull() ? QVariant() : QVariant(hex(m_firmwareReply))},
          {"revision_reply", m_revisionReply.isNull() ? QVariant() : QVariant(hex(m_revisionReply))},
          {"simulated", int(m_station.simulated)}}});
}

void Recorder::beginRun(const QString &kind, int digit, const QString &serial, const QString &id)
{
    OpenRun run;
    run.id = id.isEmpty() ? newKey() : id;
    run.rowDigit = digit;
    run.rowDepth = m_rows.size();
    m_runIds << run.id;
    put({Table::Runs,
         {{"id", run.id},
          {"station_id", m_stationId},
          {"session_id", m_sessionId.isEmpty() ? QVariant() : QVariant(m_sessionId)},
          {"kind", kind},
          {"row_digit", digit >= 0 ? QVariant(digit) : QVariant()},
          {"product_id", m_productId},
          {"serial", orNull(serial)},
          {"started_utc", utcNow()},
          {"simulated", int(m_station.simulated)},
          {"limits_id", orNull(limitSetId())},
          {"operator", orNull(m_operatorId)},
          {"temperature", orNull(m_temperature.isEmpty() ? m_trace.temperature : m_temperature)},
          {"humidity", orNull(m_humidity.isEmpty() ? m_trace.humidity : m_humidity)},
          {"marginal_percent", m_marginPercent}}});
    m_runs.push_back(run);
}

void Recorder::endRun(const QString &state, const QString &overall)
{
    if (m_runs.empty())
        return;
    const std::uint64_t ticket = put({Table::RunEnds,
                                      {{"run_id", m_runs.back().id},
                                       {"ended_utc", utcNow()},
                                       {"end_state", state},
                                       {"overall", overall.isEmpty() ? QVariant() : QVariant(overall)}}});
    m_runs.pop_back();
    m_lastRunEnd = std::chrono::steady_clock::now();
    waitDurable(ticket);
}

bool Recorder::refuseUnwritable()
{
    // The first attempt to open the file decides whether a first Test All may start; a
    // file that has not opened by then is not known to be writable, so it does not.
    const bool opened = m_writer->waitOpened(DurableWaitMs);
    if (opened && !m_writer->failing())
        return false;
    const QString caption = QStringLiteral("Records required");
    const QString text =
        QStringLiteral("Test All does not start: this station must keep records, but the "
                       "records file %1 cannot be written (%2).")
            .arg(m_writer->path(), m_writer->failureReason().isEmpty()
                                       ? QStringLiteral("it did not open within %1 s").arg(DurableWaitMs / 1000)
                                       : m_writer->failureReason());
    tell(BoxStyle::Warning, caption, text);
    return true;
}

std::optional<QString> Recorder::askText(const QString &kind, const QString &caption, const QRegularExpression &pattern,
                                         const QString &patternText, const QString &noun, std::vector<Asked> &asked)
{
    QString text = caption;
    while (m_op) {
        QString value;
        Asked a{kind, caption, text, {}, utcNow(), {}, std::nullopt};
        const bool ok = m_op->promptForText(caption, text, value);
        a.answered = utcNow();
        a.answer = ok ? QStringLiteral("OK") : QStringLiteral("Cancel");
        if (ok)
            a.typed = value;
        asked.push_back(a);
        tap(Tap::Prompt);
        if (!ok)
            return std::nullopt;
        const QString candidate = value.trimmed();
        if (pattern.match(candidate).hasMatch())
            return candidate;
        text = (candidate.isEmpty()
                    ? QStringLiteral("No %1 was entered.").arg(noun)
                    : QStringLiteral("\"%1\" does not match the %2 pattern %3.").arg(candidate, noun, patternText))
               + QLatin1Char('\n') + caption;
    }
    return std::nullopt;
}

void Recorder::recordAsked(const std::vector<Asked> &asked)
{
    for (const Asked &a : asked)
        prompt(a.kind, a.caption, a.text, a.answer, a.typed, a.shown, a.answered);
}

bool Recorder::operatorDue() const
{
    if (!m_trace.askOperator || !m_trace.operatorId.trimmed().isEmpty())
        return false;
    if (m_operatorId.isEmpty())
        return true;
    if (m_trace.operatorIdleMinutes <= 0 || !m_lastRunEnd)
        return false;
    return std::chrono::steady_clock::now() - *m_lastRunEnd > std::chrono::minutes(m_trace.operatorIdleMinutes);
}

bool Recorder::askWhoAndWhere(std::vector<Asked> &asked)
{
    const bool who = operatorDue();
    if (who) {
        const auto id = askText(QStringLiteral("operator"), QStringLiteral("Operator"), m_operatorPattern,
                                m_trace.operatorPattern, QStringLiteral("operator id"), asked);
        if (!id)
            return false;
        m_operatorId = *id;
    }
    if (!m_trace.askEnvironment || (m_environmentAsked && !who))
        return true;
    static const QRegularExpression number(QStringLiteral("-?\\d+([.,]\\d+)?"));
    const QString pattern = QStringLiteral("a number");
    const auto temperature = askText(QStringLiteral("environment"), QStringLiteral("Temperature (\u00b0C)"), number,
                                     pattern, QStringLiteral("temperature"), asked);
    if (!temperature)
        return false;
    const auto humidity = askText(QStringLiteral("environment"), QStringLiteral("Relative humidity (%)"), number,
                                  pattern, QStringLiteral("humidity"), asked);
    if (!humidity)
        return false;
    m_temperature = *temperature;
    m_humidity = *humidity;
    m_environmentAsked = true;
    return true;
}

bool Recorder::testAllStarting()
{
    if (m_required && refuseUnwritable())
        return false;
    std::vector<Asked> asked;
    bool start = askWhoAndWhere(asked);
    std::optional<QString> serial;
    if (start && m_askSerial) {
        serial = askText(QStringLiteral("serial"), QStringLiteral("Unit serial"), m_serialPattern, m_serialPatternText,
                         QStringLiteral("serial"), asked);
        start = serial.has_value();
    }
    // The prompts belong to the run they opened; when Test All did not start, to the session.
    if (start)
        beginRun(QStringLiteral("test-all"), -1, serial.value_or(QString()));
    recordAsked(asked);
    return start;
}

int Recorder::tell(BoxStyle style, const QString &caption, const QString &text)
{
    const QString shown = utcNow();
    const int answer = m_op ? m_op->messageBox(style, caption, text) : IdOk;
    prompt(QStringLiteral("message"), caption, text, answer == IdOk ? QStringLiteral("OK") : QString::number(answer),
           std::nullopt, shown, utcNow());
    tap(Tap::Prompt);
    return answer;
}

std::optional<Instrument> Recorder::lookUpInstrument(const QString &assetId)
{
    if (m_registerConnection.isEmpty()) {
        m_writer->waitOpened(DurableWaitMs);
        const QString name = QStringLiteral("quillon-register-") + newKey();
        const ReadOnlyStore store = openReadOnlyStore(m_writer->path(), name);
        if (!store.isOpen()) {
            closeReadOnlyStore(name);
            return std::nullopt;
        }
        m_registerConnection = name;
    }
    return currentInstrument(QSqlDatabase::database(m_registerConnection, false), assetId, nullptr);
}

void Recorder::recordInstrument(OpenRun &run, const QString &assetId, const std::optional<Instrument> &entry,
                                InstrumentStatus status, const QString &note)
{
    run.assets << assetId;
    const Instrument i = entry.value_or(Instrument{});
    put({Table::RunInstruments,
         {{"id", newOrderedKey()},
          {"run_id", run.id},
          {"seq", ++run.instruments},
          {"role", QStringLiteral("meter")},
          {"asset_id", assetId},
          {"kind", orEmpty(i.kind)},
          {"make", orEmpty(i.make)},
          {"model", orEmpty(i.model)},
          {"serial", orEmpty(i.serial)},
          {"calibrated_on", orEmpty(i.calibratedOn)},
          {"due_on", orEmpty(i.dueOn)},
          {"certificate", orEmpty(i.certificate)},
          {"status", instrumentStatusName(status)},
          {"note", orNull(note)}}});
}

std::optional<QString> Recorder::rowRefused(int digit)
{
    if (!m_trace.checksInstruments() || !readsMeter(digit) || m_runs.empty())
        return std::nullopt;
    QString asset = m_trace.meter.trimmed();
    if (m_trace.askMeter) {
        if (m_askedMeter.isEmpty()) {
            std::vector<Asked> asked;
            static const QRegularExpression any(QStringLiteral("\\S+"));
            const auto id = askText(QStringLiteral("meter"), QStringLiteral("Meter"), any, QString(),
                                    QStringLiteral("meter asset id"), asked);
            recordAsked(asked);
            if (!id)
                return QStringLiteral("Not run: no meter was given.");
            m_askedMeter = *id;
        }
        asset = m_askedMeter;
    }
    OpenRun &run = m_runs.back();
    const std::optional<Instrument> entry = lookUpInstrument(asset);
    const InstrumentStatus status = instrumentStatus(entry, QDate::currentDate(), m_trace.graceDays);
    const bool unusable = instrumentUnusable(status);
    const QString problem = meterProblem(asset, entry, status);
    if (unusable && !run.meterWarned) {
        run.meterWarned = true;
        if (m_trace.enforce)
            tell(BoxStyle::Warning, QStringLiteral("Meter not usable"),
                 problem + QStringLiteral(" The rows that take meter readings do not start."));
        else
            tell(BoxStyle::Warning, QStringLiteral("Meter warning"),
                 problem + QStringLiteral(" The readings are taken all the same; the run records this warning."));
    }
    if (status == InstrumentStatus::DueSoon && !m_reminded) {
        m_reminded = true;
        tell(BoxStyle::JigInfo, QStringLiteral("Meter calibration due"), meterReminder(asset, *entry));
    }
    if (!run.assets.contains(asset))
        recordInstrument(run, asset, entry, status, unusable && !m_trace.enforce ? problem : QString());
    if (unusable && m_trace.enforce)
        return meterRefusalLine(asset, entry, status);
    return std::nullopt;
}

void Recorder::testAllEnded(bool completed, const QString &overall)
{
    endRun(completed ? QStringLiteral("completed") : QStringLiteral("aborted"), overall);
}

void Recorder::rowStarting(int digit)
{
    // A row's Test button on its own is a run; inside a run the row belongs to it.
    if (m_runs.empty())
        beginRun(QStringLiteral("row"), digit, QString());
    m_rows.push_back({digit, utcNow()});
}

void Recorder::rowEnded(const RowOutcome &outcome, bool closing)
{
    QString started = utcNow();
    for (auto it = m_rows.rbegin(); it != m_rows.rend(); ++it)
        if (it->digit == outcome.digit) {
            started = it->started;
            m_rows.erase(std::next(it).base());
            break;
        }
    if (m_runs.empty())
        return;
    OpenRun &run = m_runs.back();
    const QString memo =
        QString::fromUtf8(QJsonDocument(QJsonArray::fromStringList(outcome.memo)).toJson(QJsonDocument::Compact));
    put({Table::RowResults,
         {{"id", newOrderedKey()},
          {"run_id", run.id},
          {"seq", ++run.rows},
          {"digit", outcome.digit},
          {"name", notNull(outcome.name)},
          {"status", statusWord(outcome.status)},
          {"label", notNull(outcome.label)},
          {"fail_label", outcome.failLabel ? QVariant(notNull(*outcome.failLabel)) : QVariant()},
          {"memo", memo},
          {"started_utc", started},
          {"ended_utc", utcNow()}}});
    if (run.rowDigit >= 0 && m_rows.size() == run.rowDepth) {
        // A single row's run: its verdict is the row's.
        const bool verdict = outcome.status == TestStatus::Pass || outcome.status == TestStatus::Fail;
        endRun(closing ? QStringLiteral("aborted") : QStringLiteral("completed"), verdict ? outcome.label : QString());
        return;
    }
    // Inside a Test All the row's records are committed beside the next rows (a group
    // commit, milliseconds behind): the run's end waits for all of them before the
    // overall verdict is shown.
}

namespace {

QVariant storedNumber(double value)
{
    return std::isfinite(value) ? QVariant(value) : QVariant();
}

const char *valueKind(const MeasuredValue &value)
{
    if (std::holds_alternative<qint64>(value))
        return "integer";
    if (std::holds_alternative<bool>(value))
        return "bool";
    return "number";
}

Record measurementRecord(const Measurement &m, const QString &runId)
{
    const bool within = m.comparison == Comparison::Within;
    const bool banded = within || m.comparison == Comparison::Range;
    const bool expects = within || m.comparison == Comparison::Equals;
    return {Table::Measurements,
            {{"id", newOrderedKey()},
             {"run_id", runId},
             {"seq", m.order},
             {"digit", m.digit},
             {"name", notNull(m.name)},
             {"value", storedNumber(measuredNumber(m.value))},
             {"kind", QLatin1String(valueKind(m.value))},
             {"unit", QLatin1String(m.unit)},
             {"comparison", QLatin1String(comparisonName(m.comparison))},
             {"expected", expects ? storedNumber(measuredNumber(m.expected)) : QVariant()},
             {"tolerance", within ? storedNumber(m.tolerance) : QVariant()},
             {"low", banded || m.comparison == Comparison::AtLeast ? storedNumber(m.low) : QVariant()},
             {"high", banded ? storedNumber(m.high) : QVariant()},
             {"outcome", QLatin1String(outcomeName(m.outcome))}}};
}

} // namespace

void Recorder::measured(const Measurement &m)
{
    if (m_runs.empty())
        return;
    // Built on the writer thread: a row may judge hundreds of numbers in a millisecond.
    put(Record::later(Table::Measurements, [m, runId = m_runs.back().id] { return measurementRecord(m, runId); }));
}

void Recorder::prompt(const QString &kind, const QString &caption, const QString &text, const QString &answer,
                      const std::optional<QString> &typed, const QString &shown, const QString &answered)
{
    OpenRun *run = m_runs.empty() || m_detecting ? nullptr : &m_runs.back();
    const int seq = run ? ++run->prompts : ++m_sessionPrompts;
    put({Table::Prompts,
         {{"id", newOrderedKey()},
          {"run_id", run ? QVariant(run->id) : QVariant()},
          {"session_id", m_sessionId.isEmpty() ? QVariant() : QVariant(m_sessionId)},
          {"seq", seq},
          {"kind", kind},
          {"caption", orNull(caption)},
          {"text", orNull(text)},
          {"answer", orNull(answer)},
          {"typed", typed ? QVariant(*typed) : QVariant()},
          {"shown_utc", shown},
          {"answered_utc", answered.isEmpty() ? QVariant() : QVariant(answered)}}});
}

void Recorder::eepromWrite(quint16 address, const QByteArray &bytes, quint32 status)
{
    OpenRun *run = m_runs.empty() ? nullptr : &m_runs.back();
    const int seq = run ? ++run->writes : ++m_looseWrites;
    put({Table::EepromWrites,
         {{"id", newOrderedKey()},
          {"run_id", run ? QVariant(run->id) : QVariant()},
          {"seq", seq},
          {"address", int(address)},
          {"bytes", notNull(hex(bytes))},
          {"status", qint64(status)},
          {"at_utc", utcNow()}}});
}

void Recorder::deviceQueried(quint32 status, quint32 productId, const QByteArray &name)
{
    if (!m_detecting)
        return;
    if (!name.isNull())
        m_boardName = name;
    else if (status == 0) {
        m_queried = true;
        m_queriedProduct = productId;
    }
}

void Recorder::vendorRead(quint8 request, const QByteArray &reply)
{
    if (!m_detecting)
        return;
    if (request == FirmwareRequest)
        m_firmwareReply = reply;
    else if (request == RevisionRequest)
        m_revisionReply = reply;
}

} // namespace quillon::records
