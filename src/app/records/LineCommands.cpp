#include "app/records/LineCommands.h"

#include "app/records/RecordsCli.h"
#include "records/ReadOnlyStore.h"
#include "records/RecordsSettings.h"
#include "records/line/LineDatabase.h"
#include "records/line/LineJournal.h"

#include <QCommandLineParser>
#include <QSettings>
#include <QSqlDatabase>
#include <QTextStream>

namespace quillon::records {

namespace {

enum Exit { Done = 0, Failed = 1, Usage = 2 };

// Closes a named connection once every handle on it is gone.
struct ConnectionGuard {
    QString name;
    ~ConnectionGuard()
    {
        if (QSqlDatabase::contains(name)) {
            QSqlDatabase::database(name, false).close();
            QSqlDatabase::removeDatabase(name);
        }
    }
};

int dbInit(const QString &url, const QString &station, QTextStream &out, QTextStream &err)
{
    const LineDatabaseUrl parsed = LineDatabaseUrl::parse(url);
    ConnectionGuard guard{QStringLiteral("quillon-records-db-init")};
    QString error;
    if (!openLineDatabase(parsed, guard.name, &error)) {
        err << "quillon-records: " << error << '\n';
        return Failed;
    }
    QSqlDatabase db = QSqlDatabase::database(guard.name, false);
    QString report;
    const bool ok = initLineSchema(db, &report, &error);
    db = QSqlDatabase();
    if (!ok) {
        err << "quillon-records: " << error << '\n';
        return Failed;
    }
    out << report << '\n' << stationRoleInstructions(station);
    return Done;
}

// The state of the uploader as the station's store has it, and a fresh look at the server.
int status(const QString &path, const QString &url, QTextStream &out, QTextStream &err)
{
    const QString storeName = QStringLiteral("quillon-records-status");
    LineUploadStatus state;
    QString error;
    {
        ReadOnlyStore store = openReadOnlyStore(path, storeName);
        if (!store.isOpen()) {
            err << "quillon-records: " << path << ": " << store.error << '\n';
            store.db = QSqlDatabase();
            closeReadOnlyStore(storeName);
            return Failed;
        }
        const bool ok = readLineUploadStatus(store.db, &state, &error);
        store.db = QSqlDatabase();
        closeReadOnlyStore(storeName);
        if (!ok) {
            err << "quillon-records: " << path << ": " << error << '\n';
            return Failed;
        }
    }
    const LineDatabaseUrl parsed = LineDatabaseUrl::parse(url);
    out << "Local store    " << path << '\n';
    out << "Line database  " << (url.isEmpty() ? QStringLiteral("not configured") : parsed.display) << '\n';
    out << "Pending runs   " << state.pendingRuns << '\n';
    out << "Uploaded runs  " << state.uploadedRuns << '\n';
    out << "Last upload    " << (state.lastUploadUtc.isEmpty() ? QStringLiteral("never") : state.lastUploadUtc) << '\n';
    if (state.lastError.isEmpty())
        out << "Last error     none\n";
    else
        out << "Last error     " << state.lastErrorUtc << "  " << state.lastError
            << (state.lastUploadUtc > state.lastErrorUtc ? "  (uploads went on after it)" : "") << '\n';
    if (url.isEmpty())
        return Done;
    // Now: what a connection from here meets (credentials as the station has them).
    ConnectionGuard guard{QStringLiteral("quillon-records-status-line")};
    QString now;
    if (openLineDatabase(parsed, guard.name, &error)) {
        QSqlDatabase db = QSqlDatabase::database(guard.name, false);
        const LineSchemaCheck check = checkLineSchemaVersion(db);
        now =
            check.message.isEmpty() ? QStringLiteral("reachable, schema version %1").arg(check.version) : check.message;
    } else {
        now = error;
    }
    out << "Server now     " << now << '\n';
    return Done;
}

} // namespace

int runLineCommand(const QStringList &arguments, QTextStream &out, QTextStream &err)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "The line database.\n"
        "  db init --db URL [--station NAME]   create or migrate the line database's schema, print the grants\n"
        "  status [--db FILE] [--line-db URL]  uploads of a station's store: pending runs, last upload, last "
        "error"));
    parser.addHelpOption();
    const QCommandLineOption db(QStringLiteral("db"),
                                QStringLiteral("db init: the line database (postgresql://user@host:port/dbname?...). "
                                               "status: the station's records file (default: the station's own)."),
                                QStringLiteral("URL|FILE"));
    const QCommandLineOption lineDb(QStringLiteral("line-db"),
                                    QStringLiteral("status: the line database (default: records/lineDatabase)."),
                                    QStringLiteral("URL"));
    const QCommandLineOption station(QStringLiteral("station"),
                                     QStringLiteral("db init: the station whose role to show the grants for."),
                                     QStringLiteral("NAME"));
    parser.addOptions({db, lineDb, station});
    parser.addPositionalArgument(QStringLiteral("command"), QStringLiteral("db init | status"));
    if (!parser.parse(arguments)) {
        err << "quillon-records: " << parser.errorText() << '\n';
        return Usage;
    }
    const QStringList positional = parser.positionalArguments();
    const QString command = positional.value(0);
    if (command == QLatin1String("db")) {
        if (positional.value(1) != QLatin1String("init") || positional.size() != 2) {
            err << "quillon-records: db knows one subcommand: db init --db URL\n";
            return Usage;
        }
        if (parser.isSet(QStringLiteral("help"))) {
            out << parser.helpText();
            return Done;
        }
        if (!isLineDatabaseUrl(parser.value(db))) {
            err << "quillon-records: db init needs --db postgresql://user@host:port/dbname\n";
            return Usage;
        }
        return dbInit(parser.value(db), parser.value(station), out, err);
    }
    if (command == QLatin1String("status")) {
        if (parser.isSet(QStringLiteral("help"))) {
            out << parser.helpText();
            return Done;
        }
        if (positional.size() != 1) {
            err << "quillon-records: status takes no arguments besides its options\n";
            return Usage;
        }
        QSettings settings(settingsFilePath(), QSettings::IniFormat);
        const RecordsSettings configured = RecordsSettings::read(settings);
        QString path = configured.file.isEmpty() ? defaultRecordsPath() : configured.file;
        if (parser.isSet(db))
            path = parser.value(db);
        if (isLineDatabaseUrl(path)) {
            err << "quillon-records: status reads a station's records file (--db FILE); the line database goes in "
                   "--line-db\n";
            return Usage;
        }
        return status(path, parser.isSet(lineDb) ? parser.value(lineDb) : configured.lineDatabase, out, err);
    }
    err << "quillon-records: not a line database command\n";
    return Usage;
}

bool isLineCommand(const QStringList &arguments)
{
    // The first argument that is neither an option nor an option's value.
    static const QStringList valued = {
        QStringLiteral("--db"),      QStringLiteral("--line-db"), QStringLiteral("--station"),
        QStringLiteral("--since"),   QStringLiteral("--until"),   QStringLiteral("--serial"),
        QStringLiteral("--product"), QStringLiteral("--verdict"), QStringLiteral("--limit"),
        QStringLiteral("--format"),  QStringLiteral("--output")};
    for (int i = 1; i < arguments.size(); ++i) {
        const QString &a = arguments.at(i);
        if (valued.contains(a)) {
            ++i;
            continue;
        }
        if (a.startsWith(QLatin1Char('-')))
            continue;
        return a == QLatin1String("db") || a == QLatin1String("status");
    }
    return false;
}

} // namespace quillon::records
