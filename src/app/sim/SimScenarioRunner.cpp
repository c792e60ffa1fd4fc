#include "app/sim/SimScenarioRunner.h"

#include "app/station/MainForm.h"
#include "app/station/StationMain.h"
#include "app/station/StationOptions.h"
#include "app/station/StationRecords.h"

#include "ui/BlurbForm.h"
#include "device/TracingDevice.h"
#include "sim/BenchTimeDevice.h"
#include "sim/Scenario.h"
#include "sim/SimBoard.h"
#include "sim/VirtualTechnician.h"
#include "station/Measurement.h"
#include "station/RunListener.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QDeadlineTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QLabel>
#include <QLocale>
#include <QSaveFile>
#include <QTextStream>

#include <algorithm>
#include <cmath>
#include <clocale>
#include <cstdint>
#include <cstring>
#include <memory>
#include <optional>

namespace quillon {

namespace {

QString hexBytes(const QByteArray &bytes)
{
    return QString::fromLatin1(bytes.toHex(' ').toUpper());
}

QString rowDigit(int row)
{
    return QString::number(row, 16).toUpper();
}

template <typename T>
T *control(QWidget &window, const QString &name)
{
    return window.findChild<T *>(name);
}

// The label of a row that shows its name: the panel's first label that is neither the
// result label nor row 4's fail label.
QString rowName(const TestRecord &record)
{
    if (!record.Panel)
        return {};
    const auto labels = record.Panel->findChildren<QLabel *>(QString(), Qt::FindDirectChildrenOnly);
    for (QLabel *label : labels)
        if (label != record.ResultLabel && label->objectName() != QLatin1String("Test4FailLabel"))
            return label->text();
    return {};
}

QJsonObject promptJson(const sim::PromptRecord &p)
{
    QJsonObject o{{QStringLiteral("kind"), p.kind},
                  {QStringLiteral("caption"), p.caption},
                  {QStringLiteral("text"), p.text},
                  {QStringLiteral("answer"), p.answer}};
    if (p.typed)
        o.insert(QStringLiteral("typed"), *p.typed);
    if (p.kind == QLatin1String("DacReading"))
        o.insert(QStringLiteral("fields"), QJsonArray::fromStringList(p.fields));
    if (p.range)
        o.insert(QStringLiteral("range"), *p.range);
    if (p.kind == QLatin1String("DacScale")) {
        QJsonArray picks;
        for (int pick : p.picks)
            picks.append(pick);
        o.insert(QStringLiteral("picks"), picks);
    }
    if (p.kind == QLatin1String("ScopeQuestion"))
        o.insert(QStringLiteral("polls"), p.polls);
    if (p.overrideIndex >= 0)
        o.insert(QStringLiteral("override"), p.overrideIndex);
    return o;
}

QJsonObject callJson(const LibraryCall &c)
{
    QJsonObject o{{QStringLiteral("function"), c.function}, {QStringLiteral("arguments"), c.arguments}};
    if (!c.dataOut.isEmpty())
        o.insert(QStringLiteral("dataOut"), hexBytes(c.dataOut));
    if (!c.dataIn.isEmpty())
        o.insert(QStringLiteral("dataIn"), hexBytes(c.dataIn));
    if (c.hasStatus)
        o.insert(QStringLiteral("status"), double(c.status));
    else
        o.insert(QStringLiteral("result"), double(c.status));
    return o;
}

// Serves events until the window has no handler running and the detection label has
// left "detecting..." (bounded: a handler that never returns is reported, not waited on).
bool settle(MainForm &form)
{
    QDeadlineTimer deadline(60'000);
    while (!deadline.hasExpired()) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        const QString detect = form.detectLabelText();
        if (form.handlerDepth() == 0 && !detect.isEmpty() && detect != QLatin1String("detecting..."))
            return true;
    }
    return false;
}

QJsonValue jsonOf(const MeasuredValue &value)
{
    if (const bool *verdict = std::get_if<bool>(&value))
        return *verdict;
    const double number = measuredNumber(value);
    return std::isfinite(number) ? QJsonValue(number) : QJsonValue(QJsonValue::Null);
}

QJsonValue jsonOf(double number)
{
    return std::isfinite(number) ? QJsonValue(number) : QJsonValue(QJsonValue::Null);
}

// One measurement as the report lists it: the limits its comparison uses, no others.
QJsonObject measurementJson(const Measurement &m)
{
    QJsonObject o{{QStringLiteral("row"), rowDigit(m.digit)},
                  {QStringLiteral("name"), m.name},
                  {QStringLiteral("value"), jsonOf(m.value)},
                  {QStringLiteral("unit"), QLatin1String(m.unit)},
                  {QStringLiteral("comparison"), QLatin1String(comparisonName(m.comparison))},
                  {QStringLiteral("outcome"), QLatin1String(outcomeName(m.outcome))}};
    const bool within = m.comparison == Comparison::Within;
    if (within || m.comparison == Comparison::Equals)
        o.insert(QStringLiteral("expected"), jsonOf(m.expected));
    if (within)
        o.insert(QStringLiteral("tolerance"), jsonOf(m.tolerance));
    if (within || m.comparison == Comparison::Range || m.comparison == Comparison::AtLeast)
        o.insert(QStringLiteral("low"), jsonOf(m.low));
    if (within || m.comparison == Comparison::Range)
        o.insert(QStringLiteral("high"), jsonOf(m.high));
    return o;
}

// Hands everything on to the recorder and keeps each measurement for the report.
class MeasurementLog final : public RunListener {
public:
    explicit MeasurementLog(RunListener &next) : m_next(next) {}
    const QJsonArray &measurements() const { return m_measurements; }

    void detectionStarting() override { m_next.detectionStarting(); }
    void detectionEnded(bool found, const QString &label, const BoardConfig &board) override
    {
        m_next.detectionEnded(found, label, board);
    }
    bool testAllStarting() override { return m_next.testAllStarting(); }
    void testAllEnded(bool completed, const QString &overall) override { m_next.testAllEnded(completed, overall); }
    void rowStarting(int digit) override { m_next.rowStarting(digit); }
    void rowEnded(const RowOutcome &outcome, bool closing) override { m_next.rowEnded(outcome, closing); }
    std::optional<QString> rowRefused(int digit) override { return m_next.rowRefused(digit); }
    void measured(const Measurement &m) override
    {
        m_measurements.append(measurementJson(m));
        m_next.measured(m);
    }

private:
    RunListener &m_next;
    QJsonArray m_measurements;
};

class Run {
public:
    Run(const sim::Scenario &scenario, const records::RecordsSettings &recordsSettings)
        : m_scenario(scenario), m_board([this] { return m_stepping ? m_stepping->now() : 0; }, 1)
    {
        m_board.identity = scenario.board;
        m_board.faults = scenario.faults;
        m_board.jig = scenario.jig;
        for (const auto &[address, bytes] : scenario.eeprom)
            std::memcpy(m_board.eeprom().data() + address, bytes.constData(), size_t(bytes.size()));
        m_board.requestLatencyUs = scenario.latencyUs.value_or(0);
        m_board.scanLatencyUs = scenario.latencyUs.value_or(0);
        m_stepping.emplace(m_board);
        m_trace.emplace(*m_stepping);
        m_trace->setKeeping(true);
        m_tech.emplace(m_board);
        m_tech->setOverrides(scenario.technician);
        if (!scenario.records.isEmpty())
            startRecords(recordsSettings);
    }

    QJsonObject run()
    {
        MainForm form(m_records ? m_records->device() : *m_trace, m_records ? m_records->op() : *m_tech);
        if (m_records) {
            form.setRunListener(&*m_log);
            m_records->applyMargin(form);
        }
        BlurbForm blurb;
        form.setBlurbForm(&blurb);
        form.show();
        if (!settle(form))
            m_problems << QStringLiteral("the first detection did not finish");
        for (int i = 0; i < m_scenario.steps.size(); ++i)
            runStep(form, i, m_scenario.steps[i]);
        settle(form);
        QJsonObject report = reportOf(form, blurb);
        form.close();
        QCoreApplication::processEvents();
        if (m_records)
            addRecords(report);
        return report;
    }

private:
    // The run is recorded into the scenario's file as quillon-sim records it, and the
    // report gains the run ids and the timeline of prompts and library calls.
    void startRecords(records::RecordsSettings settings)
    {
        settings.enabled = true;
        settings.file = m_scenario.records;
        m_records = StationRecords::create(settings, *m_trace, *m_tech, QStringLiteral("quillon-sim"), true);
        records::Recorder &recorder = m_records->recorder();
        m_log.emplace(recorder);
        recorder.setTap([this](records::Recorder::Tap what) {
            const double ms = double(m_stepping->now()) / 1000.0;
            if (what == records::Recorder::Tap::Call) {
                const qsizetype call = m_trace->calls().size() - 1;
                m_timeline.append(QJsonObject{{QStringLiteral("ms"), ms},
                                              {QStringLiteral("call"), double(call)},
                                              {QStringLiteral("function"), m_trace->calls().at(call).function}});
                return;
            }
            // Only prompts the technician saw (and so listed) join the timeline.
            const qsizetype prompt = m_tech->prompts().size() - 1;
            if (prompt < m_listedPrompts)
                return;
            m_listedPrompts = prompt + 1;
            m_timeline.append(QJsonObject{{QStringLiteral("ms"), ms},
                                          {QStringLiteral("prompt"), double(prompt)},
                                          {QStringLiteral("caption"), m_tech->prompts().at(prompt).caption}});
        });
    }

    void addRecords(QJsonObject &report)
    {
        records::Recorder &recorder = m_records->recorder();
        const QStringList runs = recorder.runIds();
        recorder.finish(); // everything in the file (or saved beside it) before the report is read
        QJsonObject records{{QStringLiteral("file"), recorder.writer().path()},
                            {QStringLiteral("runs"), QJsonArray::fromStringList(runs)}};
        if (const auto failure = recorder.writer().firstFailure())
            records.insert(QStringLiteral("warning"),
                           StationRecords::warningText(recorder.writer().path(), failure->reason, failure->spillFile));
        report.insert(QStringLiteral("records"), records);
        report.insert(QStringLiteral("timeline"), m_timeline);
        report.insert(QStringLiteral("measurements"), m_log->measurements());
    }

    void click(MainForm &form, const QString &name, int step)
    {
        if (auto *button = control<QAbstractButton>(form, name))
            button->click();
        else
            m_problems << QStringLiteral("steps[%1]: the window has no %2").arg(step).arg(name);
    }

    void runStep(MainForm &form, int index, const sim::ScenarioStep &step)
    {
        using Kind = sim::ScenarioStep::Kind;
        switch (step.kind) {
        case Kind::Detect: click(form, QStringLiteral("DetectButton"), index); break;
        case Kind::TestAll: click(form, QStringLiteral("TestAllButton"), index); break;
        case Kind::Test: click(form, QStringLiteral("TagTest%1GoButton").arg(rowDigit(step.row)), index); break;
        case Kind::Details:
            click(form,
                  step.row < 0 ? QStringLiteral("CyclicDetailButton")
                               : QStringLiteral("TagTest%1DetailButton").arg(rowDigit(step.row)),
                  index);
            break;
        case Kind::Correction:
            if (auto *box = control<QCheckBox>(form, QStringLiteral("CorrectionCheck"))) {
                if (box->isChecked() != step.checked)
                    box->click();
            } else {
                m_problems << QStringLiteral("steps[%1]: the window has no CorrectionCheck").arg(index);
            }
            break;
        case Kind::Monitor: runMonitor(form, index, step.cycles); break;
        }
        settle(form);
    }

    // Go runs the monitor inside its handler; the technician presses Stop from its
    // event pass once the wanted number of listings is on the screen. An acquisition
    // that never completes gets Stop after 2 s of bench time, and the window is
    // closed if even that does not end the monitor: a scripted run never hangs.
    void runMonitor(MainForm &form, int index, int cycles)
    {
        auto *stop = control<QAbstractButton>(form, QStringLiteral("CyclicStopButton"));
        if (!stop) {
            m_problems << QStringLiteral("steps[%1]: the window has no CyclicStopButton").arg(index);
            return;
        }
        constexpr int pollsBeforeStop = int(2'000'000 / sim::BenchTimeDevice::PollUs);
        const int first = m_stepping->acquisitions();
        bool stalled = false;
        m_tech->onProcessEvents = [&, first, cycles] {
            const int done = m_stepping->acquisitions() - first;
            const bool listed = done == cycles && m_stepping->lastPollCompleted();
            const int polls = m_stepping->pollsSinceAcquire();
            if (polls > pollsBeforeStop && !stalled) {
                stalled = true;
                m_problems << QStringLiteral(
                                  "steps[%1]: the monitor's acquisition did not complete in 2 s of bench time; "
                                  "Stop pressed")
                                  .arg(index);
            }
            if ((listed || done > cycles || stalled) && stop->isEnabled())
                stop->click();
            if (polls > 10 * pollsBeforeStop && !form.closing()) {
                m_problems
                    << QStringLiteral("steps[%1]: Stop did not end the monitor; the window was closed").arg(index);
                form.close();
            }
        };
        click(form, QStringLiteral("CyclicGoButton"), index);
        m_tech->onProcessEvents = nullptr;
    }

    QJsonObject reportOf(MainForm &form, BlurbForm &blurb) const
    {
        QJsonObject report;
        report.insert(QStringLiteral("detection"), form.detectLabelText());
        report.insert(QStringLiteral("overall"), form.overallLabelText());

        QJsonArray rows;
        for (int i = 0; i < form.rowCount(); ++i) {
            const TestRecord &record = form.record(i);
            TestRow &row = form.row(i);
            QJsonObject r{{QStringLiteral("row"), rowDigit(i)},
                          {QStringLiteral("name"), rowName(record)},
                          {QStringLiteral("label"), record.ResultLabel ? record.ResultLabel->text() : QString()},
                          {QStringLiteral("memo"), QJsonArray::fromStringList(row.memoLines())},
                          {QStringLiteral("panelHeight"), record.Panel ? record.Panel->height() : 0}};
            if (auto *fail =
                    record.Panel ? record.Panel->findChild<QLabel *>(QStringLiteral("Test4FailLabel")) : nullptr)
                r.insert(QStringLiteral("failLabel"), fail->text());
            rows.append(r);
        }
        report.insert(QStringLiteral("rows"), rows);

        const StationState &state = form.state();
        report.insert(QStringLiteral("boardConfig"),
                      QJsonObject{{QStringLiteral("DioMask"), state.board.DioMask},
                                  {QStringLiteral("DioSpread"), state.board.DioSpread},
                                  {QStringLiteral("ChannelCount"), state.board.ChannelCount},
                                  {QStringLiteral("Mux32"), state.board.Mux32},
                                  {QStringLiteral("DiffApplies"), state.board.DiffApplies},
                                  {QStringLiteral("NewRevision"), state.board.NewRevision},
                                  {QStringLiteral("HasDacs"), state.board.HasDacs}});
        report.insert(
            QStringLiteral("adcConfigBlock"),
            hexBytes(QByteArray(reinterpret_cast<const char *>(state.adc.bytes.data()), AdcConfigBlock::Size)));
        report.insert(QStringLiteral("dacRangeState"),
                      QJsonObject{{QStringLiteral("DacRange"), state.dacRange.DacRange},
                                  {QStringLiteral("DacSpanVolts"), state.dacRange.DacSpanVolts},
                                  {QStringLiteral("DacBipolar"), state.dacRange.DacBipolar}});
        report.insert(QStringLiteral("abortAll"), state.AbortAll);

        constexpr int calFirst = 7520, calLast = 7667;
        const auto &eeprom = m_board.eeprom();
        report.insert(
            QStringLiteral("eepromCal"),
            hexBytes(QByteArray(reinterpret_cast<const char *>(eeprom.data()) + calFirst, calLast - calFirst + 1)));

        QJsonArray prompts;
        for (const auto &p : m_tech->prompts())
            prompts.append(promptJson(p));
        report.insert(QStringLiteral("prompts"), prompts);

        QJsonArray calls;
        for (const auto &c : m_trace->calls())
            calls.append(callJson(c));
        report.insert(QStringLiteral("calls"), calls);

        report.insert(QStringLiteral("monitor"),
                      QJsonObject{{QStringLiteral("lines"), QJsonArray::fromStringList(form.monitorLines())},
                                  {QStringLiteral("columns"), form.monitorColumns()}});
        report.insert(QStringLiteral("notesShown"), blurb.isVisible());
        report.insert(QStringLiteral("maximized"), form.wasMaximized());

        QJsonArray unused;
        for (int i : m_tech->unusedOverrides())
            unused.append(i);
        QStringList problems = m_problems;
        problems << m_tech->problems();
        report.insert(QStringLiteral("unusedOverrides"), unused);
        report.insert(QStringLiteral("problems"), QJsonArray::fromStringList(problems));
        return report;
    }

    const sim::Scenario &m_scenario;
    std::optional<sim::BenchTimeDevice> m_stepping;
    sim::SimBoard m_board;
    std::optional<TracingDevice> m_trace;
    std::optional<sim::VirtualTechnician> m_tech;
    QStringList m_problems;
    std::unique_ptr<StationRecords> m_records; // after the device and technician it decorates
    std::optional<MeasurementLog> m_log;       // in front of the recorder while recording
    QJsonArray m_timeline;
    qsizetype m_listedPrompts = 0;
};

} // namespace

QJsonObject runScenario(const sim::Scenario &scenario, const records::RecordsSettings &recordsSettings)
{
    const QLocale previous;
    if (!scenario.locale.isEmpty())
        QLocale::setDefault(QLocale(scenario.locale));
    QJsonObject report = Run(scenario, recordsSettings).run();
    QLocale::setDefault(previous);
    return report;
}

namespace {

int loadScenario(const QString &scenarioPath, sim::Scenario &scenario, QTextStream &err)
{
    QFile file(scenarioPath);
    if (!file.open(QIODevice::ReadOnly)) {
        err << "quillon-sim: cannot read " << scenarioPath << ": " << file.errorString() << Qt::endl;
        return 2;
    }
    if (const auto error = sim::readScenario(file.readAll(), scenario)) {
        err << "quillon-sim: " << scenarioPath << ": " << error->text() << Qt::endl;
        return 2;
    }
    return 0;
}

int runLoaded(const sim::Scenario &scenario, const QString &reportPath, QTextStream &out, QTextStream &err,
              const records::RecordsSettings &recordsSettings = {})
{
    const QJsonObject report = runScenario(scenario, recordsSettings);
    const QByteArray json = QJsonDocument(report).toJson(QJsonDocument::Indented);
    if (reportPath.isEmpty()) {
        out << QString::fromUtf8(json);
        out.flush();
        return 0;
    }
    QSaveFile target(reportPath);
    if (!target.open(QIODevice::WriteOnly) || target.write(json) != json.size() || !target.commit()) {
        err << "quillon-sim: cannot write " << reportPath << ": " << target.errorString() << Qt::endl;
        return 1;
    }
    for (const QJsonValue r : report.value(QStringLiteral("rows")).toArray()) {
        const QJsonObject row = r.toObject();
        out << row.value(QStringLiteral("row")).toString() << ' ' << row.value(QStringLiteral("name")).toString()
            << ": " << row.value(QStringLiteral("label")).toString() << '\n';
    }
    out << "Detection: " << report.value(QStringLiteral("detection")).toString() << '\n'
        << "Overall: " << report.value(QStringLiteral("overall")).toString() << '\n';
    for (const QJsonValue p : report.value(QStringLiteral("problems")).toArray())
        out << "Problem: " << p.toString() << '\n';
    out << "Report written to " << reportPath << Qt::endl;
    return 0;
}

} // namespace

int runScenarioFile(const QString &scenarioPath, const QString &reportPath, QTextStream &out, QTextStream &err)
{
    sim::Scenario scenario;
    if (const int code = loadScenario(scenarioPath, scenario, err))
        return code;
    return runLoaded(scenario, reportPath, out, err);
}

bool isScenarioCommandLine(int argc, char **argv)
{
    for (int i = 1; i < argc; ++i)
        if (std::strcmp(argv[i], "--scenario") == 0)
            return true;
    return false;
}

int simScenarioMain(int argc, char **argv)
{
    QTextStream out(stdout);
    QTextStream err(stderr);
    StationOptions options;
    if (const int code = parseStationOptions(rawArguments(argc, argv), true, options, out, err); code >= 0)
        return code;
    const QString scenarioPath = options.scenario, reportPath = options.report;
    if (scenarioPath.isEmpty()) {
        err << "usage: quillon-sim [--scenario FILE [--report FILE]] [options]" << Qt::endl;
        return 2;
    }
    // The file is judged before any window system starts, so a bad file gives one line.
    sim::Scenario scenario;
    if (const int code = loadScenario(scenarioPath, scenario, err))
        return code;

    // A scripted run needs no screen: render offscreen unless a display or platform is set.
    if (!hasDisplay())
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    std::setlocale(LC_NUMERIC, "C");
    QApplication::setApplicationName(QStringLiteral("Quillon"));
    QApplication::setQuitOnLastWindowClosed(false);
    return runLoaded(scenario, reportPath, out, err, options.records);
}

} // namespace quillon
