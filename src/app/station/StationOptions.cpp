#include "app/station/StationOptions.h"

#include <QCommandLineParser>
#include <QRegularExpression>
#include <QSettings>
#include <QTextStream>

namespace quillon {

namespace {

// The serial and operator patterns must be valid expressions; false (with the reason on
// err) when one is not.
bool validPatterns(const records::RecordsSettings &r, const QString &program, QTextStream &err)
{
    for (const auto &[what, pattern] : {std::pair{"serial", r.serialPattern}, {"operator", r.trace.operatorPattern}}) {
        const QRegularExpression re(pattern);
        if (!pattern.isEmpty() && !re.isValid()) {
            err << program << ": the " << what << " pattern \"" << pattern
                << "\" is not a valid expression: " << re.errorString() << Qt::endl;
            return false;
        }
    }
    return true;
}

} // namespace

int parseStationOptions(const QStringList &arguments, bool simulator, StationOptions &options, QTextStream &out,
                        QTextStream &err)
{
    const QString program = simulator ? QStringLiteral("quillon-sim") : QStringLiteral("quillon");
    QSettings settings(records::settingsFilePath(), QSettings::IniFormat);
    options.records = records::RecordsSettings::read(settings);

    QCommandLineParser parser;
    parser.setApplicationDescription(
        simulator ? QStringLiteral("The Quillon test station on a simulated board, jig, meter and scope.")
                  : QStringLiteral("The Quillon production-test station."));
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")},
                                  QStringLiteral("Show this help and exit."));
    const QCommandLineOption version(QStringLiteral("version"), QStringLiteral("Show the version and exit."));
    const QCommandLineOption recordsFile(QStringLiteral("records"),
                                         QStringLiteral("Record into FILE instead of the default records file."),
                                         QStringLiteral("FILE"));
    const QCommandLineOption noRecords(QStringLiteral("no-records"), QStringLiteral("Keep no records."));
    const QCommandLineOption station(QStringLiteral("station"),
                                     QStringLiteral("The station's name in the records (default: the host name)."),
                                     QStringLiteral("NAME"));
    const QCommandLineOption askSerial(QStringLiteral("ask-serial"),
                                       QStringLiteral("Ask for the unit serial before each Test All."));
    const QCommandLineOption serialPattern(QStringLiteral("serial-pattern"),
                                           QStringLiteral("A unit serial must match REGEX (whole)."),
                                           QStringLiteral("REGEX"));
    const QCommandLineOption askOperator(QStringLiteral("ask-operator"),
                                         QStringLiteral("Ask for the operator's id before the first Test All."));
    const QCommandLineOption operatorId(QStringLiteral("operator"),
                                        QStringLiteral("Record ID as the operator of every run (asks no one)."),
                                        QStringLiteral("ID"));
    const QCommandLineOption lineDb(QStringLiteral("line-db"),
                                    QStringLiteral("The line database the records are uploaded to."),
                                    QStringLiteral("URL"));
    const QCommandLineOption scenario(QStringLiteral("scenario"),
                                      QStringLiteral("Run the scenario FILE headless and print its report."),
                                      QStringLiteral("FILE"));
    const QCommandLineOption report(
        QStringLiteral("report"), QStringLiteral("With --scenario: write the report to FILE."), QStringLiteral("FILE"));
    parser.addOptions(
        {help, version, recordsFile, noRecords, station, askSerial, serialPattern, askOperator, operatorId, lineDb});
    if (simulator)
        parser.addOptions({scenario, report});

    const QString usage = simulator ? QStringLiteral("usage: quillon-sim [--scenario FILE [--report FILE]] [options]")
                                    : QStringLiteral("usage: quillon [options]");
    if (!parser.parse(arguments)) {
        QString error = parser.errorText();
        if (error.endsWith(QLatin1Char('.')))
            error.chop(1);
        err << program << ": " << error << "; " << usage << Qt::endl;
        return 2;
    }
    if (!parser.positionalArguments().isEmpty()) {
        err << program << ": unexpected argument \"" << parser.positionalArguments().constFirst() << "\"; " << usage
            << Qt::endl;
        return 2;
    }
    if (parser.isSet(help)) {
        out << usage << "\n\n" << parser.helpText().section(QLatin1Char('\n'), 1) << Qt::flush;
        return 0;
    }
    if (parser.isSet(version)) {
        out << program << ' ' << QStringLiteral(QUILLON_VERSION) << Qt::endl;
        return 0;
    }
    if (simulator) {
        options.scenario = parser.value(scenario);
        options.report = parser.value(report);
        if (parser.isSet(report) && !parser.isSet(scenario)) {
            err << program << ": --report needs --scenario; " << usage << Qt::endl;
            return 2;
        }
    }
    records::RecordsSettings &r = options.records;
    if (parser.isSet(recordsFile)) {
        r.file = parser.value(recordsFile);
        r.enabled = true;
    }
    if (parser.isSet(noRecords))
        r.enabled = false;
    if (parser.isSet(station))
        r.station = parser.value(station);
    if (parser.isSet(askSerial))
        r.askSerial = true;
    if (parser.isSet(serialPattern))
        r.serialPattern = parser.value(serialPattern);
    if (parser.isSet(lineDb))
        r.lineDatabase = parser.value(lineDb);
    if (parser.isSet(askOperator))
        r.trace.askOperator = true;
    if (parser.isSet(operatorId))
        r.trace.operatorId = parser.value(operatorId).trimmed();
    if (!validPatterns(r, program, err))
        return 2;
    return -1;
}

bool asksHelpOrVersion(int argc, char **argv)
{
    for (int i = 1; i < argc; ++i) {
        const QByteArray arg(argv[i]);
        if (arg == "--help" || arg == "-h" || arg == "--version")
            return true;
    }
    return false;
}

QStringList rawArguments(int argc, char **argv)
{
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    return arguments;
}

} // namespace quillon
