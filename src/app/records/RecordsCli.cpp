#include "app/records/RecordsCli.h"

#include "app/records/Certificate.h"
#include "app/records/InstrumentCommands.h"
#include "app/records/LineCommands.h"
#include "records/ReadOnlyStore.h"
#include "records/RecordsExport.h"
#include "records/RecordsQuery.h"
#include "records/RecordsSettings.h"
#include "records/RunText.h"
#include "records/StoredCalibration.h"
#include "records/line/LineDatabase.h"

#include "records/RunFilterText.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QIODevice>
#include <QRegularExpression>
#include <QSaveFile>
#include <QSettings>
#include <QStringBuilder>
#include <QTextStream>

#include <algorithm>

namespace quillon::records {

namespace {

enum Exit { Done = 0, Failed = 1, Usage = 2 };

const QString ConnectionName = QStringLiteral("quillon-records-cli");

void printList(QTextStream &out, const std::vector<RunSummary> &runs)
{
    for (const RunSummary &run : runs)
        out << run.id << "  " << shortTime(run.startedUtc) << "  " << run.stationName << "  serial "
            << orDash(run.serial)
            << (run.operatorId.isEmpty() ? QString() : QStringLiteral("  operator ") + run.operatorId) << "  product "
            << productText(run.productId) << "  " << kindText(run) << "  " << endText(run) << "  "
            << orDash(run.verdict) << (run.simulated ? "  simulated" : "") << '\n';
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
    // Who and where, when the station recorded them.
    if (!run.operatorId.isEmpty())
        out << "Operator  " << run.operatorId << '\n';
    const QString temperature = run.fields.value(QStringLiteral("temperature")).toString();
    const QString humidity = run.fields.value(QStringLiteral("humidity")).toString();
    if (!temperature.isEmpty() || !humidity.isEmpty())
        out << "Ambient   " << orDash(temperature) << " \u00b0C, " << orDash(humidity) << " % RH\n";
    for (const InstrumentUse &u : d.instruments)
        out << "Meter     " << u.assetId << " ("
            << orDash(QStringList{u.make, u.model}.join(QLatin1Char(' ')).trimmed()) << ", serial " << orDash(u.serial)
            << ", calibrated " << orDash(u.calibratedOn) << ", due " << orDash(u.dueOn) << ", certificate "
            << orDash(u.certificate) << "): " << u.status
            << (u.note.isEmpty() ? QString() : QStringLiteral(", ") + u.note) << '\n';
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

// Closes the store's connection when the command is done with it.
struct StoreCloser {
    ~StoreCloser() { closeReadOnlyStore(ConnectionName); }
};

const QString Program = QStringLiteral("quillon-records");
// The longest argument an error text quotes whole.
constexpr qsizetype MaxQuoted = 60;

// A command, the options it takes and what its help says.
struct CommandInfo {
    QString name;
    QString summary;
    QStringList options;
    QString operand; // "RUN", "init" or empty
};

const QStringList FilterOptions = {QStringLiteral("since"),    QStringLiteral("until"),      QStringLiteral("serial"),
                                   QStringLiteral("product"),  QStringLiteral("station"),    QStringLiteral("verdict"),
                                   QStringLiteral("operator"), QStringLiteral("instrument"), QStringLiteral("limit")};
// The fields of an instrument register entry.
const QStringList EntryOptions = {QStringLiteral("kind"),        QStringLiteral("make"),       QStringLiteral("model"),
                                  QStringLiteral("serial"),      QStringLiteral("calibrated"), QStringLiteral("due"),
                                  QStringLiteral("certificate"), QStringLiteral("by")};

const std::vector<CommandInfo> &commandInfos()
{
    static const std::vector<CommandInfo> commandInfos = {
        {QString(), QString(), {QStringLiteral("db")}, QString()},
        {QStringLiteral("list"), QStringLiteral("One line per run, newest first."),
         QStringList{QStringLiteral("db")} + FilterOptions, QString()},
        {QStringLiteral("show"),
         QStringLiteral("Everything recorded about a run (id or unique prefix)."),
         {QStringLiteral("db")},
         QStringLiteral("RUN")},
        {QStringLiteral("export"), QStringLiteral("The runs as csv, json or junit."),
         QStringList{QStringLiteral("db"), QStringLiteral("format"), QStringLiteral("what"), QStringLiteral("output")}
             + FilterOptions,
         QString()},
        {QStringLiteral("yield"), QStringLiteral("Per row runs/passes/fails, overall and first-pass yield."),
         QStringList{QStringLiteral("db")} + FilterOptions, QString()},
        {QStringLiteral("measurements"),
         QStringLiteral("One line per measurement of the runs, newest run first, with its limits and outcome."),
         QStringList{QStringLiteral("db"), QStringLiteral("name")} + FilterOptions, QString()},
        {QStringLiteral("certificate"),
         QStringLiteral("The run's test and calibration certificate (PDF)."),
         {QStringLiteral("db"), QStringLiteral("output")},
         QStringLiteral("RUN")},
        {QStringLiteral("instruments"),
         QStringLiteral("The reference-instrument register: list, history ASSET, add ASSET, edit ASSET, retire ASSET "
                        "(every change a new entry; the old ones kept)."),
         QStringList{QStringLiteral("db"), QStringLiteral("all")} + EntryOptions, QStringLiteral("ACTION")},
        {QStringLiteral("view"), QStringLiteral("The records window."), {QStringLiteral("db")}, QString()},
        {QStringLiteral("status"),
         QStringLiteral("Uploads of a station's store to the line database: pending runs, last upload, last error."),
         {QStringLiteral("db"), QStringLiteral("line-db")},
         QString()},
        {QStringLiteral("db"),
         QStringLiteral("Creates or migrates the line database's schema and prints the grants."),
         {QStringLiteral("db"), QStringLiteral("station")},
         QStringLiteral("init")},
    };
    return commandInfos;
}

const CommandInfo *findSpec(const QString &name)
{
    for (const CommandInfo &info : commandInfos())
        if (info.name == name)
            return &info;
    return nullptr;
}

// The options of `instruments` that describe a register entry.
std::optional<QCommandLineOption> entryOption(const QString &name)
{
    auto valued = [&](const QString &description, const QString &value) {
        return QCommandLineOption(name, description, value);
    };
    if (name == QLatin1String("all"))
        return QCommandLineOption(name, QStringLiteral("list: the retired instruments too."));
    if (name == QLatin1String("calibrated"))
        return valued(QStringLiteral("The day it was last calibrated (2026-12-09)."), QStringLiteral("DAY"));
    if (name == QLatin1String("due"))
        return valued(QStringLiteral("The day its next calibration is due (2026-12-09)."), QStringLiteral("DAY"));
    if (name == QLatin1String("by"))
        return valued(QStringLiteral("Who makes the change (default: your login name)."), QStringLiteral("NAME"));
    if (EntryOptions.contains(name))
        return valued(
            QStringLiteral("The instrument's %1.")
                .arg(name == QLatin1String("certificate") ? QStringLiteral("calibration certificate number") : name),
            name.toUpper());
    return std::nullopt;
}

// The option of this name as the command's help describes it.
QCommandLineOption option(const QString &name, const QString &command)
{
    auto valued = [&](const QString &description, const QString &value) {
        return QCommandLineOption(name, description, value);
    };
    const bool dbInit = command == QLatin1String("db");
    if (name == QLatin1String("db")) {
        if (dbInit)
            return valued(QStringLiteral("The line database (postgresql://user@host:port/dbname?...)."),
                          QStringLiteral("URL"));
        if (command == QLatin1String("status"))
            return valued(QStringLiteral("The station's records file (default: the station's own)."),
                          QStringLiteral("FILE"));
        return valued(
            QStringLiteral("The records store, a file or postgresql://... (default: %1).").arg(defaultRecordsPath()),
            QStringLiteral("FILE|URL"));
    }
    if (name == QLatin1String("line-db"))
        return valued(QStringLiteral("status: the line database (default: records/lineDatabase)."),
                      QStringLiteral("URL"));
    if (name == QLatin1String("station"))
        return dbInit ? valued(QStringLiteral("The station whose role to show the grants for."), QStringLiteral("NAME"))
                      : valued(QStringLiteral("Runs of this station."), QStringLiteral("NAME"));
    if (name == QLatin1String("since"))
        return valued(QStringLiteral("Runs started at or after DATE (UTC)."), QStringLiteral("DATE"));
    if (name == QLatin1String("until"))
        return valued(QStringLiteral("Runs started before DATE's end (a day) or before a time (UTC)."),
                      QStringLiteral("DATE"));
    if (auto entry = command == QLatin1String("instruments") ? entryOption(name) : std::nullopt)
        return *entry;
    if (name == QLatin1String("serial"))
        return valued(QStringLiteral("Runs of this unit serial."), QStringLiteral("SERIAL"));
    if (name == QLatin1String("operator"))
        return valued(QStringLiteral("Runs of this operator id."), QStringLiteral("ID"));
    if (name == QLatin1String("instrument"))
        return valued(QStringLiteral("Runs made with this reference instrument (asset id)."), QStringLiteral("ASSET"));
    if (auto entry = entryOption(name))
        return *entry;
    if (name == QLatin1String("product"))
        return valued(QStringLiteral("Runs of this product id (0x8140)."), QStringLiteral("ID"));
    if (name == QLatin1String("verdict"))
        return valued(QStringLiteral("pass, fail, aborted, interrupted or open."), QStringLiteral("VERDICT"));
    if (name == QLatin1String("limit"))
        return valued(QStringLiteral("At most N runs, newest first."), QStringLiteral("N"));
    if (name == QLatin1String("name"))
        return valued(QStringLiteral("Measurements whose whole name matches GLOB (*, ?, [...])."),
                      QStringLiteral("GLOB"));
    if (name == QLatin1String("format"))
        return valued(QStringLiteral("Export format: csv, json or junit."), QStringLiteral("FORMAT"));
    if (name == QLatin1String("what"))
        return valued(QStringLiteral("csv: one line per row result (runs, the default) or per measurement "
                                     "(measurements)."),
                      QStringLiteral("WHAT"));
    return valued(QStringLiteral("Write to FILE (export: default standard output)."), QStringLiteral("FILE"));
}

const QStringList &allOptionNames()
{
    static const QStringList names = {
        QStringLiteral("db"),         QStringLiteral("line-db"),  QStringLiteral("since"),
        QStringLiteral("until"),      QStringLiteral("serial"),   QStringLiteral("product"),
        QStringLiteral("station"),    QStringLiteral("verdict"),  QStringLiteral("limit"),
        QStringLiteral("format"),     QStringLiteral("output"),   QStringLiteral("what"),
        QStringLiteral("name"),       QStringLiteral("operator"), QStringLiteral("instrument"),
        QStringLiteral("kind"),       QStringLiteral("make"),     QStringLiteral("model"),
        QStringLiteral("calibrated"), QStringLiteral("due"),      QStringLiteral("certificate"),
        QStringLiteral("by"),         QStringLiteral("all")};
    return names;
}

const QString GeneralDescription =
    QStringLiteral("Reads Quillon's run records.\n\n"
                   "Commands:\n"
                   "  list                     one line per run, newest first\n"
                   "  show RUN                 everything recorded about a run (id or unique prefix)\n"
                   "  export --format F        the runs as csv, json or junit (--what measurements: csv\n"
                   "                           with one line per measurement)\n"
                   "  yield                    per row runs/passes/fails, overall and first-pass yield\n"
                   "  measurements [--name G]  one line per measurement, with its limits and outcome\n"
                   "  certificate RUN --output FILE.pdf   the run's test and calibration certificate\n"
                   "  instruments ACTION       the reference-instrument register: list, history ASSET,\n"
                   "                           add ASSET --kind K [...], edit ASSET [...], retire ASSET\n"
                   "  view                     the records window (also with no command)\n"
                   "  status                   uploads to the line database: pending runs, last upload, last error\n"
                   "  db init --db URL         create or migrate the line database (postgresql://...)\n\n"
                   "--db also takes the line database: postgresql://user@host:port/dbname?sslmode=...\n"
                   "quillon-records COMMAND --help lists the options of one command.");

bool isGlobalName(const QString &name)
{
    static const QStringList names = {QStringLiteral("h"),        QStringLiteral("?"), QStringLiteral("help"),
                                      QStringLiteral("help-all"), QStringLiteral("v"), QStringLiteral("version")};
    return names.contains(name);
}

// Text with its control characters as \xNN, so it stays on one line and sends the
// terminal nothing.
QString visible(const QString &text)
{
    QString shown;
    shown.reserve(text.size());
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        if (u < 0x20 || (u >= 0x7f && u < 0xa0))
            shown += QStringLiteral("\\x%1").arg(int(u), 2, 16, QLatin1Char('0'));
        else
            shown += c;
    }
    return shown;
}

// An error text with every argument it quotes shortened (see shortArgument), and no
// control character left to break the line or reach the terminal.
QString cleaned(QString message, const QStringList &arguments)
{
    QStringList pieces;
    for (const QString &a : arguments.mid(1)) {
        pieces << a;
        if (!a.startsWith(QLatin1Char('-')))
            continue;
        // "--name=value": the value, and the name as the parser quotes it.
        const qsizetype eq = a.indexOf(QLatin1Char('='));
        qsizetype dashes = 0;
        while (dashes < a.size() && a.at(dashes) == QLatin1Char('-'))
            ++dashes;
        pieces << a.mid(dashes) << (eq > 0 ? a.mid(eq + 1) : QString()) << a.mid(dashes, eq > 0 ? eq - dashes : -1);
    }
    std::sort(pieces.begin(), pieces.end(), [](const QString &a, const QString &b) { return a.size() > b.size(); });
    for (const QString &piece : pieces)
        if (piece.size() > MaxQuoted)
            message.replace(piece, shortArgument(piece));
    return visible(message);
}

} // namespace

QString shortArgument(const QString &argument)
{
    return argument.size() > MaxQuoted ? visible(argument.left(MaxQuoted)) + QStringLiteral("...") : visible(argument);
}

QString noWindowMessage()
{
    return Program
           + QStringLiteral(": the records window needs a display (DISPLAY and WAYLAND_DISPLAY are unset); "
                            "the commands are list, show, export, yield, measurements, certificate, status and db init "
                            "(see --help)");
}

QString defaultRecordsPath()
{
    // Where the station records: its settings' file, else its default file.
    QSettings settings(settingsFilePath(), QSettings::IniFormat);
    const QString file = RecordsSettings::read(settings).file;
    return file.isEmpty() ? defaultRecordsFile(false) : file;
}

struct RecordsCommandLine::Private {
    QStringList arguments;
    QString problem; // bad usage, found while reading
    bool help = false;
    bool version = false;
    const CommandInfo *info = nullptr;
    QStringList operands; // the positional arguments after the command
    QCommandLineParser parser;

    // An option of the command: set, and its value (empty when not set or not the command's).
    bool isSet(const QString &name) const { return info && info->options.contains(name) && parser.isSet(name); }
    QString value(const QString &name) const { return isSet(name) ? parser.value(name) : QString(); }

    // The command's own parser: its options and operand, for its values and its help.
    void setUpParser()
    {
        parser.addHelpOption();
        if (info->name.isEmpty()) {
            parser.setApplicationDescription(GeneralDescription);
            parser.addVersionOption();
            for (const QString &name : allOptionNames())
                parser.addOption(option(name, QString()));
            parser.addPositionalArgument(
                QStringLiteral("command"),
                QStringLiteral("list, show, export, yield, measurements, certificate, instruments, view, status, db"));
            parser.addPositionalArgument(QStringLiteral("RUN"), QStringLiteral("A run id or a unique prefix of one."),
                                         QStringLiteral("[RUN]"));
            return;
        }
        parser.setApplicationDescription(info->summary);
        for (const QString &name : info->options)
            parser.addOption(option(name, info->name));
        parser.addPositionalArgument(info->name, QStringLiteral("The command."), info->name);
        if (info->operand == QLatin1String("RUN"))
            parser.addPositionalArgument(QStringLiteral("RUN"), QStringLiteral("A run id or a unique prefix of one."));
        else if (!info->operand.isEmpty())
            parser.addPositionalArgument(info->operand, QStringLiteral("The subcommand."));
    }

    // First pass: every option the program knows, so an option's value is never taken
    // for the command ("--station view list" lists station "view").
    bool readCommand(QString *command)
    {
        QCommandLineParser first;
        first.addHelpOption();
        first.addVersionOption();
        for (const QString &name : allOptionNames())
            first.addOption(option(name, QString()));
        if (!first.parse(arguments)) {
            problem = first.errorText();
            return false;
        }
        const QStringList positional = first.positionalArguments();
        *command = positional.value(0);
        operands = positional.mid(1);
        info = findSpec(*command);
        if (!info) {
            problem = QStringLiteral("unknown command \"%1\" (see --help)").arg(*command);
            return false;
        }
        for (const QString &name : first.optionNames()) {
            if (isGlobalName(name) || info->options.contains(name))
                continue;
            problem = command->isEmpty() ? QStringLiteral("--%1 goes with a command (see --help)").arg(name)
                                         : QStringLiteral("%1 takes no --%2 (see %1 --help)").arg(*command, name);
            return false;
        }
        return true;
    }

    bool checkOperands(const QString &command)
    {
        const QString &operand = info->operand;
        if (command == QLatin1String("db") && (operands.size() != 1 || operands.at(0) != QLatin1String("init"))) {
            problem = QStringLiteral("db knows one subcommand: db init --db URL");
            return false;
        }
        if (operand == QLatin1String("RUN") && operands.size() != 1) {
            problem = QStringLiteral("%1 needs one run id or prefix").arg(command);
            return false;
        }
        if (operand.isEmpty() && !operands.isEmpty()) {
            problem = command == QLatin1String("status")
                          ? QStringLiteral("status takes no arguments besides its options")
                          : QStringLiteral("unexpected argument \"%1\"").arg(operands.at(0));
            return false;
        }
        return true;
    }

    void read()
    {
        QString command;
        if (!readCommand(&command))
            return;
        setUpParser();
        // Second pass: the command's options only.
        if (!parser.parse(arguments)) {
            problem = parser.errorText();
            return;
        }
        help = parser.isSet(QStringLiteral("help"));
        version = command.isEmpty() && parser.isSet(QStringLiteral("version"));
        if (!help && !version)
            checkOperands(command);
    }
};

namespace {

// One command's work on the arguments read.
class Command {
public:
    Command(const RecordsCommandLine::Private &line, QIODevice &out, QTextStream &err)
        : m_line(line), m_out(&out), m_err(err)
    {
    }

    int run()
    {
        const QString &command = m_line.info->name;
        if (command == QLatin1String("status") || command == QLatin1String("db"))
            return lineCommand(command);
        if (command == QLatin1String("instruments"))
            return instruments();
        QString problem;
        if (!readFilter(&problem) || !readCommandOptions(&problem))
            return usage(problem);
        m_path = m_line.isSet(QStringLiteral("db")) ? m_line.value(QStringLiteral("db")) : defaultRecordsPath();
        const StoreCloser closer;
        const ReadOnlyStore store = openRecordsStore(m_path, ConnectionName);
        if (!store.isOpen())
            return fail(store.error);
        const RecordsQuery query(store.db);
        if (command == QLatin1String("list"))
            return list(query);
        if (command == QLatin1String("yield"))
            return yield(query);
        if (command == QLatin1String("export"))
            return exportTo(query);
        if (command == QLatin1String("measurements"))
            return measurements(query);
        return oneRun(query, m_line.operands.at(0));
    }

    int usage(const QString &message)
    {
        m_err << cleaned(Program + QStringLiteral(": ") + message, m_line.arguments) << '\n';
        m_err.flush();
        return Usage;
    }

private:
    int fail(const QString &message)
    {
        usage(message);
        return Failed;
    }

    int lineCommand(const QString &command)
    {
        QString text;
        QTextStream out(&text);
        QString errors;
        QTextStream err(&errors);
        int exit = Done;
        if (command == QLatin1String("db")) {
            if (!isLineDatabaseUrl(m_line.value(QStringLiteral("db"))))
                return usage(QStringLiteral("db init needs --db postgresql://user@host:port/dbname"));
            exit = lineDbInit(m_line.value(QStringLiteral("db")), m_line.value(QStringLiteral("station")), out, err);
        } else {
            QSettings settings(settingsFilePath(), QSettings::IniFormat);
            const RecordsSettings configured = RecordsSettings::read(settings);
            const QString path =
                m_line.isSet(QStringLiteral("db")) ? m_line.value(QStringLiteral("db")) : defaultRecordsPath();
            if (isLineDatabaseUrl(path))
                return usage(QStringLiteral("status reads a station's records file (--db FILE); the line database "
                                            "goes in --line-db"));
            const QString url = m_line.isSet(QStringLiteral("line-db")) ? m_line.value(QStringLiteral("line-db"))
                                                                        : configured.lineDatabase;
            exit = lineStatus(path, url, out, err);
        }
        out.flush();
        err.flush();
        m_out << text;
        m_out.flush();
        if (!errors.isEmpty())
            m_err << cleaned(errors.trimmed(), m_line.arguments) << '\n';
        m_err.flush();
        return exit;
    }

    int instruments()
    {
        InstrumentArguments a;
        a.action = m_line.operands.value(0);
        a.asset = m_line.operands.value(1).trimmed();
        const auto given = [&](const char *name) {
            const QString n = QLatin1String(name);
            return m_line.isSet(n) ? m_line.value(n) : QString();
        };
        a.kind = given("kind");
        a.make = given("make");
        a.model = given("model");
        a.serial = given("serial");
        a.calibrated = given("calibrated");
        a.due = given("due");
        a.certificate = given("certificate");
        a.by = given("by");
        for (const char *variable : {"USER", "LOGNAME"})
            if (a.by.trimmed().isEmpty())
                a.by = QString::fromLocal8Bit(qgetenv(variable));
        if (a.by.trimmed().isEmpty())
            a.by = QStringLiteral("unknown");
        a.all = m_line.isSet(QStringLiteral("all"));
        QString text;
        QTextStream out(&text);
        QString errors;
        QTextStream err(&errors);
        const int exit = instrumentsCommand(m_line.isSet(QStringLiteral("db")) ? m_line.value(QStringLiteral("db"))
                                                                               : defaultRecordsPath(),
                                            a, out, err);
        out.flush();
        err.flush();
        m_out << text;
        m_out.flush();
        if (!errors.isEmpty())
            m_err << cleaned(errors.trimmed(), m_line.arguments) << '\n';
        m_err.flush();
        return exit;
    }

    bool readFilter(QString *problem)
    {
        RunFilterText text;
        text.since = m_line.value(QStringLiteral("since"));
        text.until = m_line.value(QStringLiteral("until"));
        text.serial = m_line.value(QStringLiteral("serial"));
        text.product = m_line.value(QStringLiteral("product"));
        text.station = m_line.value(QStringLiteral("station"));
        text.verdict = m_line.value(QStringLiteral("verdict"));
        text.operatorId = m_line.value(QStringLiteral("operator"));
        text.instrument = m_line.value(QStringLiteral("instrument"));
        text.limit = m_line.value(QStringLiteral("limit"));
        const std::vector<RunFilterProblem> problems = readRunFilter(text, m_filter);
        if (problems.empty())
            return true;
        *problem = problems.front().describe();
        return false;
    }

    bool readCommandOptions(QString *problem)
    {
        const QString &command = m_line.info->name;
        if (command == QLatin1String("export")) {
            const QString format = m_line.value(QStringLiteral("format"));
            m_exportFormat = exportFormatFromName(format);
            if (!m_exportFormat) {
                *problem = m_line.isSet(QStringLiteral("format"))
                               ? QStringLiteral("unknown export format \"%1\" (csv, json, junit)").arg(format)
                               : QStringLiteral("export needs --format csv|json|junit");
                return false;
            }
            const QString what = m_line.value(QStringLiteral("what"));
            const auto exportWhat =
                m_line.isSet(QStringLiteral("what")) ? exportWhatFromName(what) : std::optional(ExportWhat::Runs);
            if (!exportWhat) {
                *problem = QStringLiteral("unknown --what \"%1\" (runs, measurements)").arg(what);
                return false;
            }
            if (!canExport(*m_exportFormat, *exportWhat)) {
                *problem = QStringLiteral("--what measurements needs --format csv (json and junit carry the "
                                          "measurements under each row)");
                return false;
            }
            m_exportWhat = *exportWhat;
        }
        if (command == QLatin1String("certificate") && !m_line.isSet(QStringLiteral("output"))) {
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

    // The measurements of the filter's runs, each line written as it is read.
    int measurements(const RecordsQuery &query)
    {
        QueryError error;
        std::optional<QStringList> names;
        if (m_line.isSet(QStringLiteral("name"))) {
            // Anchored: the glob matches the whole name.
            const QRegularExpression glob(
                QRegularExpression::wildcardToRegularExpression(m_line.value(QStringLiteral("name"))));
            names = query.measurementNames(&error);
            if (!error.message.isEmpty())
                return fail(error.message);
            names->removeIf([&glob](const QString &name) { return !glob.match(name).hasMatch(); });
        }
        // A run's lines share their first fields: made once a run.
        QString runId, runFields;
        const bool ok = query.measurements(
            m_filter, names,
            [&](const MeasurementLine &line) {
                if (runFields.isEmpty() || line.runId != runId) {
                    runId = line.runId;
                    runFields = line.runId + QStringLiteral("  ") + shortTime(line.startedUtc) + QStringLiteral("  ")
                                + line.stationName + QStringLiteral("  serial ") + orDash(line.serial)
                                + QStringLiteral("  ");
                }
                const MeasurementRecord &m = line.measurement;
                // One string built at once (QStringBuilder): a line is written per measurement.
                m_out << QString(runFields % digitText(m.digit) % QLatin1String("  ") % m.name % QLatin1String("  ")
                                 % measurementText(m) % QLatin1String("  ") % outcomeText(m.outcome)
                                 % QLatin1Char('\n'));
            },
            &error);
        if (!ok) {
            m_out.flush();
            return fail(error.message);
        }
        return Done;
    }

    int exportTo(const RecordsQuery &query)
    {
        QueryError error;
        if (!m_line.isSet(QStringLiteral("output"))) {
            m_out.flush();
            if (!exportRuns(query, m_filter, *m_exportFormat, *m_out.device(), &error, m_exportWhat))
                return fail(error.message);
            return Done;
        }
        const QString path = m_line.value(QStringLiteral("output"));
        QSaveFile file(path);
        if (!file.open(QIODevice::WriteOnly))
            return fail(QStringLiteral("%1: %2").arg(path, file.errorString()));
        if (!exportRuns(query, m_filter, *m_exportFormat, file, &error, m_exportWhat))
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
        if (m_line.info->name == QLatin1String("show")) {
            printShow(m_out, *detail);
            return Done;
        }
        QString reason;
        const auto inputs = certificateInputs(query, *detail, &reason);
        if (!inputs || !writeCertificate(*detail, *inputs, m_line.value(QStringLiteral("output")), &reason))
            return fail(reason);
        return Done;
    }

    const RecordsCommandLine::Private &m_line;
    QTextStream m_out;
    QTextStream &m_err;
    QString m_path;
    RunFilter m_filter;
    std::optional<ExportFormat> m_exportFormat;
    ExportWhat m_exportWhat = ExportWhat::Runs;
};

} // namespace

RecordsCommandLine::RecordsCommandLine(const QStringList &arguments) : d(std::make_unique<Private>())
{
    d->arguments = arguments;
    d->read();
}

RecordsCommandLine::~RecordsCommandLine() = default;

RecordsCommandLine::Needs RecordsCommandLine::needs() const
{
    if (!d->problem.isEmpty() || d->help || d->version || !d->info)
        return Needs::Core;
    if (d->info->name.isEmpty() || d->info->name == QLatin1String("view"))
        return Needs::Window;
    return d->info->name == QLatin1String("certificate") ? Needs::Gui : Needs::Core;
}

QString RecordsCommandLine::source() const
{
    return d->isSet(QStringLiteral("db")) ? d->value(QStringLiteral("db")) : defaultRecordsPath();
}

int RecordsCommandLine::run(QIODevice &out, QTextStream &err)
{
    Command command(*d, out, err);
    if (!d->problem.isEmpty())
        return command.usage(d->problem);
    if (d->help || d->version) {
        QTextStream text(&out);
        if (d->help)
            text << d->parser.helpText();
        else
            text << Program << ' ' << QCoreApplication::applicationVersion() << '\n';
        return Done;
    }
    if (needs() == Needs::Window) {
        err << noWindowMessage() << '\n';
        err.flush();
        return Usage;
    }
    return command.run();
}

int runRecordsCommand(const QStringList &arguments, QIODevice &out, QTextStream &err)
{
    RecordsCommandLine line(arguments);
    return line.run(out, err);
}

} // namespace quillon::records
