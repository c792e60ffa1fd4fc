#include "records/Recorder.h"

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
          {"limits_id", orNull(limitSetId())}}});
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
    const QString shown = utcNow();
    const int answer = m_op ? m_op->messageBox(BoxStyle::Warning, caption, text) : IdOk;
    prompt(QStringLiteral("message"), caption, text, answer == IdOk ? QStringLiteral("OK") : QString::number(answer),
           std::nullopt, shown, utcNow());
    tap(Tap::Prompt);
    return true;
}

std::optional<QString> Recorder::askSerial(const QString &runId)
{
    struct Asked {
        QString text, answer, shown, answered;
        std::optional<QString> typed;
    };
    std::vector<Asked> asked;
    const QString caption = QStringLiteral("Unit serial");
    QString text = caption;
    std::optional<QString> serial;
    while (m_op) {
        QString value;
        Asked a;
        a.text = text;
        a.shown = utcNow();
        const bool ok = m_op->promptForText(caption, text, value);
        a.answered = utcNow();
        a.answer = ok ? QStringLiteral("OK") : QStringLiteral("Cancel");
        if (ok)
            a.typed = value;
        asked.push_back(a);
        tap(Tap::Prompt);
        if (!ok)
            break;
        const QString candidate = value.trimmed();
        if (m_serialPattern.match(candidate).hasMatch()) {
            serial = candidate;
            break;
        }
        text =
            (candidate.isEmpty()
                 ? QStringLiteral("No serial was entered.")
                 : QStringLiteral("\"%1\" does not match the serial pattern %2.").arg(candidate, m_serialPatternText))
            + QLatin1Char('\n') + caption;
    }
    // The prompts belong to the run they opened; when Test All did not start, to the session.
    if (serial)
        beginRun(QStringLiteral("test-all"), -1, *serial, runId);
    for (const Asked &a : asked)
        prompt(QStringLiteral("serial"), caption, a.text, a.answer, a.typed, a.shown, a.answered);
    return serial;
}

bool Recorder::testAllStarting()
{
    if (m_required && refuseUnwritable())
        return false;
    if (m_askSerial)
        return askSerial(newKey()).has_value();
    beginRun(QStringLiteral("test-all"), -1, QString());
    return true;
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
