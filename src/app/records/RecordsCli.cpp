#include "app/records/RecordsCli.h"

#include "app/records/Certificate.h"
#include "app/records/LineCommands.h"
#include "records/ReadOnlyStore.h"
#include "records/RecordsExport.h"
#include "records/RecordsQuery.h"
#include "records/RunDigest.h"
#include "records/StoredCalibration.h"
#include "records/line/LineDatabase.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QIODevice>
#include <QSaveFile>
#include <QStandardPaths>
#include <QTextStream>

namespace quillon::records {

namespace {

enum Exit { Done = 0, Failed = 1, Usage = 2 };

const QString ConnectionName = QStringLiteral("quillon-records-cli");

QString productText(const std::optional<int> &product)
{
    return product ? QStringLiteral("0x%1").arg(*product, 4, 16, QLatin1Char('0')).toUpper().replace(0, 2, "0x")
                   : QStringLiteral("-");
}

QString kindText(const RunSummary &run)
{
    if (run.kind == QLatin1String("row") && run.rowDigit)
        return QStringLiteral("row %1").arg(QString::number(*run.rowDigit, 16).toUpper());
    if (run.kind == QLatin1String("test-all"))
        return QStringLiteral("Test All");
    return run.kind;
}

QString endText(const RunSummary &run)
{
    return run.endState.isEmpty() ? QStringLiteral("open") : run.endState;
}

// A stored time as a person reads it: "2026-12-08 14:45:31Z".
QString shortTime(const QString &utc)
{
    return utc.isEmpty() ? QStringLiteral("-") : utc.left(10) + QLatin1Char(' ') + utc.mid(11, 8) + QLatin1Char('Z');
}

QString orDash(const QString &text)
{
    return text.isEmpty() ? QStringLiteral("-") : text;
}

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

void printShow(QTextStream &out, const RunDetail &d)
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

    out << "\nRows\n";
    for (const RowRecord &row : d.rows) {
        out << "  " << QString::number(row.digit, 16).toUpper() << ' ' << row.name << ": " << row.label;
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
            out << ", typed " << quoted(p.typed);
        out << "  [" << p.shownUtc << "]\n";
        for (const QString &line : p.text.split(QLatin1Char('\n')))
            if (!line.isEmpty())
                out << "      " << line << '\n';
    }
    out << "\nEEPROM writes\n";
    for (const EepromWrite &w : d.eepromWrites)
        out << "  " << w.seq << ' ' << w.address << " (0x" << QString::number(w.address, 16).toUpper() << ") "
            << w.bytes.toHex() << "  status " << w.status << '\n';
    const StoredCalibration stored = decodeStoredCalibration(d.eepromWrites);
    if (stored.arefWord || stored.arefFailedStatus || stored.dacs) {
        out << "\nStored constants\n";
        if (stored.arefWord)
            out << "  ARef word " << *stored.arefWord << " (0x"
                << QStringLiteral("%1").arg(*stored.arefWord, 4, 16, QLatin1Char('0')).toUpper() << ")\n";
        if (stored.arefFailedStatus)
            out << "  ARef word not stored: status " << *stored.arefFailedStatus << '\n';
        if (stored.dacs) {
            out << "  DAC range " << (stored.dacRange ? dacRangeText(*stored.dacRange) : QStringLiteral("-")) << ", "
                << (stored.dacCount ? QString::number(*stored.dacCount) : QStringLiteral("-")) << " DACs calibrated, "
                << (stored.dacsMarkedValid ? "marked valid" : "NOT marked valid") << '\n';
            for (int i = 0; i < 4; ++i)
                out << "  DAC " << i << " gain " << QString::number(double((*stored.dacs)[i].gain), 'g', 9)
                    << " offset " << QString::number(double((*stored.dacs)[i].offset), 'g', 9) << '\n';
        }
    }
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
                   .arg(QString::number(row.digit, 16).toUpper() + QLatin1Char(' ') + row.name, -30)
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
    return QDir(QStandardPaths::writableLocation(QStandardPaths::AppDataLocation))
        .filePath(QStringLiteral("records.sqlite"));
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

int runRecordsCommand(const QStringList &arguments, QIODevice &outDevice, QTextStream &err)
{
    QTextStream out(&outDevice);
    if (isLineCommand(arguments))
        return runLineCommand(arguments, out, err);
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
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
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption db(
        QStringLiteral("db"),
        QStringLiteral("The records store, a file or postgresql://... (default: %1).").arg(defaultRecordsPath()),
        QStringLiteral("FILE|URL"));
    const QCommandLineOption since(QStringLiteral("since"), QStringLiteral("Runs started at or after DATE (UTC)."),
                                   QStringLiteral("DATE"));
    const QCommandLineOption until(QStringLiteral("until"),
                                   QStringLiteral("Runs started before DATE's end (a day) or before a time (UTC)."),
                                   QStringLiteral("DATE"));
    const QCommandLineOption serial(QStringLiteral("serial"), QStringLiteral("Runs of this unit serial."),
                                    QStringLiteral("SERIAL"));
    const QCommandLineOption product(QStringLiteral("product"), QStringLiteral("Runs of this product id (0x8140)."),
                                     QStringLiteral("ID"));
    const QCommandLineOption station(QStringLiteral("station"), QStringLiteral("Runs of this station."),
                                     QStringLiteral("NAME"));
    const QCommandLineOption verdict(QStringLiteral("verdict"),
                                     QStringLiteral("pass, fail, aborted, interrupted or open."),
                                     QStringLiteral("VERDICT"));
    const QCommandLineOption limit(QStringLiteral("limit"), QStringLiteral("At most N runs, newest first."),
                                   QStringLiteral("N"));
    const QCommandLineOption format(QStringLiteral("format"), QStringLiteral("Export format: csv, json or junit."),
                                    QStringLiteral("FORMAT"));
    const QCommandLineOption output(QStringLiteral("output"),
                                    QStringLiteral("Write to FILE (export: default standard output)."),
                                    QStringLiteral("FILE"));
    parser.addOptions({db, since, until, serial, product, station, verdict, limit, format, output});
    parser.addPositionalArgument(QStringLiteral("command"),
                                 QStringLiteral("list, show, export, yield, certificate, view"));
    parser.addPositionalArgument(QStringLiteral("RUN"), QStringLiteral("A run id or a unique prefix of one."),
                                 QStringLiteral("[RUN]"));

    const QString program = QStringLiteral("quillon-records");
    auto usage = [&](const QString &message) {
        err << program << ": " << message << '\n';
        err.flush();
        return Usage;
    };
    if (!parser.parse(arguments))
        return usage(parser.errorText());
    if (parser.isSet(QStringLiteral("help"))) {
        out << parser.helpText();
        return Done;
    }
    if (parser.isSet(QStringLiteral("version"))) {
        out << program << ' ' << QCoreApplication::applicationVersion() << '\n';
        return Done;
    }
    const QStringList positional = parser.positionalArguments();
    const QString command = positional.value(0, QStringLiteral("view"));
    if (!Commands.contains(command))
        return usage(QStringLiteral("unknown command \"%1\" (see --help)").arg(command));
    const bool takesRun = command == QLatin1String("show") || command == QLatin1String("certificate");
    if (takesRun && positional.size() != 2)
        return usage(QStringLiteral("%1 needs one run id or prefix").arg(command));
    if (!takesRun && positional.size() > 1)
        return usage(QStringLiteral("unexpected argument \"%1\"").arg(positional.at(1)));
    if (command == QLatin1String("view"))
        return usage(QStringLiteral("the records window needs a display"));

    RunFilter filter;
    if (parser.isSet(since)) {
        const auto bound = parseTimeBound(parser.value(since), false);
        if (!bound)
            return usage(QStringLiteral("malformed date \"%1\" (use 2026-12-08 or 2026-12-08T14:45:31)")
                             .arg(parser.value(since)));
        filter.since = *bound;
    }
    if (parser.isSet(until)) {
        const auto bound = parseTimeBound(parser.value(until), true);
        if (!bound)
            return usage(QStringLiteral("malformed date \"%1\" (use 2026-12-08 or 2026-12-08T14:45:31)")
                             .arg(parser.value(until)));
        filter.until = *bound;
    }
    filter.serial = parser.value(serial);
    filter.station = parser.value(station);
    if (parser.isSet(product)) {
        bool ok = false;
        const QString text = parser.value(product);
        const int id = text.startsWith(QLatin1String("0x"), Qt::CaseInsensitive) ? text.mid(2).toInt(&ok, 16)
                                                                                 : text.toInt(&ok, 10);
        if (!ok || id < 0)
            return usage(QStringLiteral("malformed product id \"%1\"").arg(text));
        filter.product = id;
    }
    if (parser.isSet(verdict)) {
        filter.verdict = parser.value(verdict).toLower();
        static const QStringList verdicts = {QStringLiteral("pass"), QStringLiteral("fail"), QStringLiteral("aborted"),
                                             QStringLiteral("interrupted"), QStringLiteral("open")};
        if (!verdicts.contains(filter.verdict))
            return usage(QStringLiteral("unknown verdict \"%1\" (pass, fail, aborted, interrupted, open)")
                             .arg(parser.value(verdict)));
    }
    if (parser.isSet(limit)) {
        bool ok = false;
        filter.limit = parser.value(limit).toInt(&ok);
        if (!ok || filter.limit < 0)
            return usage(QStringLiteral("malformed limit \"%1\"").arg(parser.value(limit)));
    }
    std::optional<ExportFormat> exportFormat;
    if (command == QLatin1String("export")) {
        exportFormat = exportFormatFromName(parser.value(format));
        if (!exportFormat)
            return usage(
                parser.isSet(format)
                    ? QStringLiteral("unknown export format \"%1\" (csv, json, junit)").arg(parser.value(format))
                    : QStringLiteral("export needs --format csv|json|junit"));
    }
    if (command == QLatin1String("certificate") && !parser.isSet(output))
        return usage(QStringLiteral("certificate needs --output FILE.pdf"));

    const QString path = parser.isSet(db) ? parser.value(db) : defaultRecordsPath();
    StoreCloser closer;
    const ReadOnlyStore store =
        isLineDatabaseUrl(path) ? openLineStore(path, ConnectionName) : openReadOnlyStore(path, ConnectionName);
    auto fail = [&](const QString &message) {
        err << program << ": " << message << '\n';
        err.flush();
        return Failed;
    };
    if (!store.isOpen())
        return fail(store.error);
    const RecordsQuery query(store.db);
    QueryError error;

    if (command == QLatin1String("list")) {
        const auto runs = query.list(filter, &error);
        if (!error.message.isEmpty())
            return fail(error.message);
        printList(out, runs);
        return Done;
    }
    if (command == QLatin1String("yield")) {
        YieldReport report;
        if (store.db.driverName() == QLatin1String("QSQLITE")) {
            // Only what was added since the last yield is read from the store.
            RunDigest digest;
            QString reason;
            if (!digest.update(store.db, RunDigest::cacheFileFor(path), &reason))
                return fail(reason);
            report = yieldFromDigest(digest, query.rowids(filter, &error));
        } else {
            report = query.yield(filter, &error);
        }
        if (!error.message.isEmpty())
            return fail(error.message);
        printYield(out, report);
        return Done;
    }
    if (command == QLatin1String("export")) {
        if (!parser.isSet(output)) {
            out.flush();
            if (!exportRuns(query, filter, *exportFormat, *out.device(), &error))
                return fail(error.message);
            return Done;
        }
        QSaveFile file(parser.value(output));
        if (!file.open(QIODevice::WriteOnly))
            return fail(QStringLiteral("%1: %2").arg(parser.value(output), file.errorString()));
        if (!exportRuns(query, filter, *exportFormat, file, &error))
            return fail(error.message);
        if (!file.commit())
            return fail(QStringLiteral("%1: %2").arg(parser.value(output), file.errorString()));
        return Done;
    }

    const auto id = query.resolveRun(positional.at(1), &error);
    if (!id)
        return fail(error.message);
    const auto detail = query.run(*id, &error);
    if (!detail)
        return fail(error.message);
    if (command == QLatin1String("show")) {
        printShow(out, *detail);
        return Done;
    }
    QString reason;
    if (!writeCertificate(*detail, parser.value(output), &reason))
        return fail(reason);
    return Done;
}

} // namespace quillon::records
