#include "app/records/RecordsCli.h"

#include "app/records/Certificate.h"
#include "app/records/LineCommands.h"
#include "records/ReadOnlyStore.h"
#include "records/RecordsExport.h"
#include "records/RecordsQuery.h"
#include "records/RecordsSettings.h"
#include "records/RunText.h"
#include "records/StoredCalibration.h"
#include "records/line/LineDatabase.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QIODevice>
#include <QSaveFile>
#include <QSettings>
#include <QTextStream>

namespace quillon::records {

namespace {

enum Exit { Done = 0, Failed = 1, Usage = 2 };

const QString ConnectionName = QStringLiteral("quillon-records-cli");

void printList(QTextStream &out, const std::vector<RunSummary> &runs)
{
    for (const RunSummary &run : runs)
        out << run.id << "  " << shortTime(run.startedUtc) << "  " << run.stationName << "  serial "
            << orDash(run.serial) << "  product " << productText(run.productId) << "  " << kindText(run) << "  "
            << endText(run) << "  " << orDash(run.verdict) << (run.simulated ? "  simulated" : "") << '\n';
}

QString quoted(const QString &text)
{
    return QLatin1Char('"') + text + QLatin1Char('"');
}

void printHeader(QTextStream &out, const RunDetail &d)
{
    const RunSummary &run = d.run;
    out << "Run       " << run.id << '\n';
    out << "Kind      " << kindText(run) << '\n';
    out << "Station   " << d.station.name << " (" << d.station.host << ", " << d.station.program << ' '
        << d.station.version << ", library " << orDash(d.station.library) << ')' << (run.simulated ? ", simulated" : "")
        << '\n';
    out << "Started   " << run.startedUtc << '\n';
    out << "Ended     " << orDash(run.endedUtc) << " (" << endText(run) << ")\n";
    out << "Overall   " << orDash(run.overall) << '\n';
    out << "Serial    " << orDash(run.serial) << '\n';
    if (const auto &s = d.session) {
        out << "Board     " << quoted(s->detectionLabel) << ", product " << productText(s->productId);
        if (!s->variant.isEmpty())
            out << ", " << s->variant;
        if (s->channelCount)
            out << ", " << *s->channelCount << " channels";
        if (s->dacCount)
            out << ", " << *s->dacCount << " DACs";
        out << ", revision " << orDash(s->revision) << ", firmware reply " << orDash(s->firmwareReply)
            << ", revision reply " << orDash(s->revisionReply) << '\n';
    } else {
        out << "Board     - (no detection before this run)\n";
    }
}

void printRowsAndPrompts(QTextStream &out, const RunDetail &d)
{
    out << "\nRows\n";
    for (const RowRecord &row : d.rows) {
        out << "  " << digitText(row.digit) << ' ' << row.name << ": " << row.label;
        if (!row.failLabel.isEmpty())
            out << " (" << row.failLabel << ')';
        out << "  [" << row.status << ", " << row.startedUtc << " - " << row.endedUtc << "]\n";
        // The memo lines exactly as shown, each after a fixed indent.
        for (const QString &line : row.memo)
            out << "      " << line << '\n';
    }
    out << "\nPrompts\n";
    for (const PromptRecord &p : d.prompts) {
        out << "  " << p.seq << ' ' << p.kind << ' ' << quoted(p.caption) << " -> " << orDash(p.answer);
        if (p.hasTyped)
            out << (isPick(p) ? ", picked " : ", typed ") << quoted(typedText(p));
        out << "  [" << p.shownUtc << "]\n";
        for (const QString &line : p.text.split(QLatin1Char('\n')))
            if (!line.isEmpty())
                out << "      " << line << '\n';
    }
}

void printWrites(QTextStream &out, const RunDetail &d)
{
    out << "\nEEPROM writes\n";
    for (const EepromWrite &w : d.eepromWrites)
        out << "  " << w.seq << ' ' << w.address << " (0x" << QString::number(w.address, 16).toUpper() << ") "
            << w.bytes.toHex() << "  status " << w.status << '\n';
    const StoredCalibration stored = decodeStoredCalibration(d.eepromWrites);
    if (wroteCalibration(stored)) {
        out << "\nStored constants\n";
        for (const ConstantLine &line : storedConstantLines(stored, Figures::Exact))
            out << "  " << line.label << ' ' << line.value << '\n';
    }
}

void printShow(QTextStream &out, const RunDetail &d)
{
    printHeader(out, d);
    printRowsAndPrompts(out, d);
    printWrites(out, d);
}

void printYield(QTextStream &out, const YieldReport &report)
{
    auto percent = [](qint64 part, qint64 whole) {
        return whole > 0 ? QString::number(100.0 * double(part) / double(whole), 'f', 1) + QLatin1Char('%')
                         : QStringLiteral("-");
    };
    out << QStringLiteral("%1  %2 %3 %4 %5\n")
               .arg(QStringLiteral("row"), -30)
               .arg(QStringLiteral("runs"), 8)
               .arg(QStringLiteral("passes"), 8)
               .arg(QStringLiteral("fails"), 8)
               .arg(QStringLiteral("yield"), 7);
    for (const RowYield &row : report.rows)
        out << QStringLiteral("%1  %2 %3 %4 %5\n")
                   .arg(digitText(row.digit) + QLatin1Char(' ') + row.name, -30)
                   .arg(row.runs, 8)
                   .arg(row.passes, 8)
                   .arg(row.fails, 8)
                   .arg(percent(row.passes, row.runs), 7);
    out << "\nTest All runs with a verdict: " << report.runs << ", " << report.passes << " PASS, " << report.fails
        << " FAIL, yield " << percent(report.passes, report.runs) << '\n';
    if (report.serials > 0)
        out << "First-pass yield: " << report.firstPassSerials << " of " << report.serials
            << " serials passed their first Test All (" << percent(report.firstPassSerials, report.serials) << ")\n";
    else
        out << "First-pass yield: no serials recorded\n";
}

const QStringList Commands = {QStringLiteral("list"),  QStringLiteral("show"),        QStringLiteral("export"),
                              QStringLiteral("yield"), QStringLiteral("certificate"), QStringLiteral("view")};

// Closes the store's connection when the command is done with it.
struct StoreCloser {
    ~StoreCloser() { closeReadOnlyStore(ConnectionName); }
};

} // namespace

QString defaultRecordsPath()
{
    // Where the station records: its settings' file, else its default file.
    QSettings settings(settingsFilePath(), QSettings::IniFormat);
    const QString file = RecordsSettings::read(settings).file;
    return file.isEmpty() ? defaultRecordsFile(false) : file;
}

bool wantsWindow(const QStringList &arguments)
{
    for (int i = 1; i < arguments.size(); ++i) {
        const QString &a = arguments.at(i);
        if (a == QLatin1String("--db")) {
            ++i;
            continue;
        }
        if (a.startsWith(QLatin1Char('-')))
            continue;
        return a == QLatin1String("view");
    }
    for (const QString &a : arguments.mid(1))
        if (a == QLatin1String("-h") || a == QLatin1String("--help") || a == QLatin1String("--version")
            || a == QLatin1String("-v"))
            return false;
    return true;
}

namespace {

const QString Program = QStringLiteral("quillon-records");
const QString DateHint = QStringLiteral("(use 2026-12-08 or 2026-12-08T14:45:31)");

// One command line: its options, its parsing into a filter, and each command's work.
class Command {
public:
    Command(QIODevice &out, QTextStream &err) : m_out(&out), m_err(err)
    {
        m_parser.setApplicationDescription(QStringLiteral(
            "Reads Quillon's run records.\n\n"
            "Commands:\n"
            "  list                     one line per run, newest first\n"
            "  show RUN                 everything recorded about a run (id or unique prefix)\n"
            "  export --format F        the runs as csv, json or junit\n"
            "  yield                    per row runs/passes/fails, overall and first-pass yield\n"
            "  certificate RUN --output FILE.pdf   the run's test and calibration certificate\n"
            "  view                     the records window (also with no command)\n"
            "  status                   uploads to the line database: pending runs, last upload, last error\n"
            "  db init --db URL         create or migrate the line database (postgresql://...)\n\n"
            "--db also takes the line database: postgresql://user@host:port/dbname?sslmode=..."));
        m_parser.addHelpOption();
        m_parser.addVersionOption();
        m_parser.addOptions(
            {m_db, m_since, m_until, m_serial, m_product, m_station, m_verdict, m_limit, m_format, m_output});
        m_parser.addPositionalArgument(QStringLiteral("command"),
                                       QStringLiteral("list, show, export, yield, certificate, view"));
        m_parser.addPositionalArgument(QStringLiteral("RUN"), QStringLiteral("A run id or a unique prefix of one."),
                                       QStringLiteral("[RUN]"));
    }

    int run(const QStringList &arguments)
    {
        if (!m_parser.parse(arguments))
            return usage(m_parser.errorText());
        if (m_parser.isSet(QStringLiteral("help"))) {
            m_out << m_parser.helpText();
            return Done;
        }
        if (m_parser.isSet(QStringLiteral("version"))) {
            m_out << Program << ' ' << QCoreApplication::applicationVersion() << '\n';
            return Done;
        }
        const QStringList positional = m_parser.positionalArguments();
        m_command = positional.value(0, QStringLiteral("view"));
        if (!Commands.contains(m_command))
            return usage(QStringLiteral("unknown command \"%1\" (see --help)").arg(m_command));
        const bool takesRun = m_command == QLatin1String("show") || m_command == QLatin1String("certificate");
        if (takesRun && positional.size() != 2)
            return usage(QStringLiteral("%1 needs one run id or prefix").arg(m_command));
        if (!takesRun && positional.size() > 1)
            return usage(QStringLiteral("unexpected argument \"%1\"").arg(positional.at(1)));
        if (m_command == QLatin1String("view"))
            return usage(QStringLiteral("the records window needs a display"));
        QString problem;
        if (!readFilter(&problem) || !readCommandOptions(&problem))
            return usage(problem);

        m_path = m_parser.isSet(m_db) ? m_parser.value(m_db) : defaultRecordsPath();
        const StoreCloser closer;
        const ReadOnlyStore store = isLineDatabaseUrl(m_path) ? openLineStore(m_path, ConnectionName)
                                                              : openReadOnlyStore(m_path, ConnectionName);
        if (!store.isOpen())
            return fail(store.error);
        const RecordsQuery query(store.db);
        if (m_command == QLatin1String("list"))
            return list(query);
        if (m_command == QLatin1String("yield"))
            return yield(query);
        if (m_command == QLatin1String("export"))
            return exportTo(query);
        return oneRun(query, positional.at(1));
    }

private:
    int usage(const QString &message)
    {
        m_err << Program << ": " << message << '\n';
        m_err.flush();
        return Usage;
    }

    int fail(const QString &message)
    {
        m_err << Program << ": " << message << '\n';
        m_err.flush();
        return Failed;
    }

    bool timeBound(const QCommandLineOption &option, bool endOfDay, QString &into, QString *problem)
    {
        if (!m_parser.isSet(option))
            return true;
        const auto bound = parseTimeBound(m_parser.value(option), endOfDay);
        if (!bound) {
            *problem = QStringLiteral("malformed date \"%1\" %2").arg(m_parser.value(option), DateHint);
            return false;
        }
        into = *bound;
        return true;
    }

    bool readFilter(QString *problem)
    {
        if (!timeBound(m_since, false, m_filter.since, problem) || !timeBound(m_until, true, m_filter.until, problem))
            return false;
        m_filter.serial = m_parser.value(m_serial);
        m_filter.station = m_parser.value(m_station);
        if (m_parser.isSet(m_product)) {
            bool ok = false;
            const QString text = m_parser.value(m_product);
            const int id = text.startsWith(QLatin1String("0x"), Qt::CaseInsensitive) ? text.mid(2).toInt(&ok, 16)
                                                                                     : text.toInt(&ok, 10);
            if (!ok || id < 0) {
                *problem = QStringLiteral("malformed product id \"%1\"").arg(text);
                return false;
            }
            m_filter.product = id;
        }
        static const QStringList verdicts = {QStringLiteral("pass"), QStringLiteral("fail"), QStringLiteral("aborted"),
                                             QStringLiteral("interrupted"), QStringLiteral("open")};
        m_filter.verdict = m_parser.value(m_verdict).toLower();
        if (m_parser.isSet(m_verdict) && !verdicts.contains(m_filter.verdict)) {
            *problem = QStringLiteral("unknown verdict \"%1\" (pass, fail, aborted, interrupted, open)")
                           .arg(m_parser.value(m_verdict));
            return false;
        }
        if (m_parser.isSet(m_limit)) {
            bool ok = false;
            m_filter.limit = m_parser.value(m_limit).toInt(&ok);
            if (!ok || m_filter.limit < 0) {
                *problem = QStringLiteral("malformed limit \"%1\"").arg(m_parser.value(m_limit));
                return false;
            }
        }
        return true;
    }

    bool readCommandOptions(QString *problem)
    {
        if (m_command == QLatin1String("export")) {
            m_exportFormat = exportFormatFromName(m_parser.value(m_format));
            if (!m_exportFormat) {
                *problem = m_parser.isSet(m_format) ? QStringLiteral("unknown export format \"%1\" (csv, json, junit)")
                                                          .arg(m_parser.value(m_format))
                                                    : QStringLiteral("export needs --format csv|json|junit");
                return false;
            }
        }
        if (m_command == QLatin1String("certificate") && !m_parser.isSet(m_output)) {
            *problem = QStringLiteral("certificate needs --output FILE.pdf");
            return false;
        }
        return true;
    }

    int list(const RecordsQuery &query)
    {
        QueryError error;
        const auto runs = query.list(m_filter, &error);
        if (!error.message.isEmpty())
            return fail(error.message);
        printList(m_out, runs);
        return Done;
    }

    int yield(const RecordsQuery &query)
    {
        QueryError error;
        const YieldReport report = query.yield(m_filter, &error);
        if (!error.message.isEmpty())
            return fail(error.message);
        printYield(m_out, report);
        return Done;
    }

    int exportTo(const RecordsQuery &query)
    {
        QueryError error;
        if (!m_parser.isSet(m_output)) {
            m_out.flush();
            if (!exportRuns(query, m_filter, *m_exportFormat, *m_out.device(), &error))
                return fail(error.message);
            return Done;
        }
        const QString path = m_parser.value(m_output);
        QSaveFile file(path);
        if (!file.open(QIODevice::WriteOnly))
            return fail(QStringLiteral("%1: %2").arg(path, file.errorString()));
        if (!exportRuns(query, m_filter, *m_exportFormat, file, &error))
            return fail(error.message);
        if (!file.commit())
            return fail(QStringLiteral("%1: %2").arg(path, file.errorString()));
        return Done;
    }

    int oneRun(const RecordsQuery &query, const QString &idOrPrefix)
    {
        QueryError error;
        const auto id = query.resolveRun(idOrPrefix, &error);
        if (!id)
            return fail(error.message);
        const auto detail = query.run(*id, &error);
        if (!detail)
            return fail(error.message);
        if (m_command == QLatin1String("show")) {
            printShow(m_out, *detail);
            return Done;
        }
        QString reason;
        if (!writeCertificate(*detail, m_parser.value(m_output), &reason))
            return fail(reason);
        return Done;
    }

    QTextStream m_out;
    QTextStream &m_err;
    QCommandLineParser m_parser;
    QString m_command;
    QString m_path;
    RunFilter m_filter;
    std::optional<ExportFormat> m_exportFormat;
    const QCommandLineOption m_db{
        QStringLiteral("db"),
        QStringLiteral("The records store, a file or postgresql://... (default: %1).").arg(defaultRecordsPath()),
        QStringLiteral("FILE|URL")};
    const QCommandLineOption m_since{QStringLiteral("since"), QStringLiteral("Runs started at or after DATE (UTC)."),
                                     QStringLiteral("DATE")};
    const QCommandLineOption m_until{QStringLiteral("until"),
                                     QStringLiteral("Runs started before DATE's end (a day) or before a time (UTC)."),
                                     QStringLiteral("DATE")};
    const QCommandLineOption m_serial{QStringLiteral("serial"), QStringLiteral("Runs of this unit serial."),
                                      QStringLiteral("SERIAL")};
    const QCommandLineOption m_product{QStringLiteral("product"), QStringLiteral("Runs of this product id (0x8140)."),
                                       QStringLiteral("ID")};
    const QCommandLineOption m_station{QStringLiteral("station"), QStringLiteral("Runs of this station."),
                                       QStringLiteral("NAME")};
    const QCommandLineOption m_verdict{QStringLiteral("verdict"),
                                       QStringLiteral("pass, fail, aborted, interrupted or open."),
                                       QStringLiteral("VERDICT")};
    const QCommandLineOption m_limit{QStringLiteral("limit"), QStringLiteral("At most N runs, newest first."),
                                     QStringLiteral("N")};
    const QCommandLineOption m_format{QStringLiteral("format"), QStringLiteral("Export format: csv, json or junit."),
                                      QStringLiteral("FORMAT")};
    const QCommandLineOption m_output{QStringLiteral("output"),
                                      QStringLiteral("Write to FILE (export: default standard output)."),
                                      QStringLiteral("FILE")};
};

} // namespace

int runRecordsCommand(const QStringList &arguments, QIODevice &out, QTextStream &err)
{
    if (isLineCommand(arguments)) {
        QTextStream text(&out);
        return runLineCommand(arguments, text, err);
    }
    Command command(out, err);
    return command.run(arguments);
}

} // namespace quillon::records
