#include "records/line/LineDatabase.h"

#include "records/line/LineUploader.h"

#include <QSqlDriver>
#include <QSqlError>
#include <QSqlQuery>
#include <QUrl>
#include <QUrlQuery>

#include <libpq-fe.h>

namespace quillon::records {

namespace {

// libpq's conninfo quoting: single quotes, backslash escapes.
QString libpqValue(const QString &value)
{
    if (!value.isEmpty() && !value.contains(QLatin1Char(' ')) && !value.contains(QLatin1Char('\''))
        && !value.contains(QLatin1Char('\\')))
        return value;
    QString quoted = value;
    quoted.replace(QLatin1Char('\\'), QStringLiteral("\\\\"));
    quoted.replace(QLatin1Char('\''), QStringLiteral("\\'"));
    return QLatin1Char('\'') + quoted + QLatin1Char('\'');
}

// What the client library says on its own (the server's warnings and notices, such as
// the server shutting down under a connection) goes to the line database's log category
// rather than raw to standard error.
void lineNotice(void * /*unused*/, const char *message)
{
    const QString text = QString::fromUtf8(message).trimmed();
    if (text.startsWith(QLatin1String("WARNING")))
        qCWarning(lcLineDatabase).noquote() << "line database:" << text;
    else
        qCInfo(lcLineDatabase).noquote() << "line database:" << text;
}

void routeNotices(const QSqlDatabase &db)
{
    const QVariant handle = db.driver()->handle();
    // The driver's handle is a PGconn* (named by its struct, pg_conn*).
    if (!handle.isValid()
        || (qstrcmp(handle.typeName(), "PGconn*") != 0 && qstrcmp(handle.typeName(), "pg_conn*") != 0))
        return;
    if (auto *connection = *static_cast<PGconn *const *>(handle.constData()))
        PQsetNoticeProcessor(connection, lineNotice, nullptr);
}

QString quoteIdentifier(const QString &name)
{
    QString quoted = name;
    quoted.replace(QLatin1Char('"'), QStringLiteral("\"\""));
    return QLatin1Char('"') + quoted + QLatin1Char('"');
}

bool exec(QSqlDatabase &db, const QString &sql, QString *error)
{
    QSqlQuery query(db);
    if (query.exec(sql))
        return true;
    *error = lineErrorText(QStringLiteral("the line database refused the schema"), query.lastError().databaseText());
    return false;
}

// Version 1: the records schema of a station's store, PostgreSQL types (every integer
// a BIGINT: library statuses are unsigned 32-bit), plus who uploaded each run and when.
const char *const kSchemaV1[] = {
    "CREATE TABLE meta (key TEXT PRIMARY KEY, value TEXT NOT NULL)",
    "CREATE TABLE stations (id TEXT PRIMARY KEY, name TEXT NOT NULL, host TEXT NOT NULL, program TEXT NOT NULL,"
    " version TEXT NOT NULL, library TEXT NOT NULL, simulated INTEGER NOT NULL, created_utc TEXT NOT NULL)",
    "CREATE TABLE sessions (id TEXT PRIMARY KEY, station_id TEXT NOT NULL REFERENCES stations(id),"
    " started_utc TEXT NOT NULL, detection_label TEXT NOT NULL, product_id BIGINT, variant TEXT,"
    " channel_count BIGINT, dac_count BIGINT, revision TEXT, firmware_reply TEXT, revision_reply TEXT,"
    " simulated INTEGER NOT NULL)",
    "CREATE TABLE runs (id TEXT PRIMARY KEY, station_id TEXT NOT NULL REFERENCES stations(id),"
    " session_id TEXT REFERENCES sessions(id), seq BIGINT NOT NULL, kind TEXT NOT NULL, row_digit BIGINT,"
    " product_id BIGINT, serial TEXT, started_utc TEXT NOT NULL, simulated INTEGER NOT NULL,"
    " uploaded_by TEXT NOT NULL,"
    " uploaded_utc TEXT NOT NULL DEFAULT to_char(clock_timestamp() AT TIME ZONE 'UTC',"
    " 'YYYY-MM-DD\"T\"HH24:MI:SS.MS\"Z\"'))",
    "CREATE TABLE run_ends (run_id TEXT PRIMARY KEY REFERENCES runs(id), ended_utc TEXT NOT NULL,"
    " end_state TEXT NOT NULL, overall TEXT)",
    "CREATE TABLE row_results (id TEXT PRIMARY KEY, run_id TEXT NOT NULL REFERENCES runs(id), seq BIGINT NOT NULL,"
    " digit BIGINT NOT NULL, name TEXT NOT NULL, status TEXT NOT NULL, label TEXT NOT NULL, fail_label TEXT,"
    " memo TEXT NOT NULL, started_utc TEXT NOT NULL, ended_utc TEXT NOT NULL)",
    "CREATE TABLE prompts (id TEXT PRIMARY KEY, run_id TEXT REFERENCES runs(id), session_id TEXT,"
    " seq BIGINT NOT NULL, kind TEXT NOT NULL, caption TEXT, text TEXT, answer TEXT, typed TEXT,"
    " shown_utc TEXT NOT NULL, answered_utc TEXT)",
    "CREATE TABLE eeprom_writes (id TEXT PRIMARY KEY, run_id TEXT REFERENCES runs(id), seq BIGINT NOT NULL,"
    " address BIGINT NOT NULL, bytes TEXT NOT NULL, status BIGINT NOT NULL, at_utc TEXT NOT NULL)",
    "CREATE INDEX runs_started ON runs(started_utc)",
    "CREATE INDEX runs_serial ON runs(serial)",
    "CREATE INDEX runs_product ON runs(product_id, started_utc)",
    "CREATE INDEX runs_station ON runs(station_id, seq)",
    "CREATE INDEX runs_uploaded_by ON runs(uploaded_by, started_utc)",
    "CREATE INDEX runs_session ON runs(session_id)",
    "CREATE INDEX row_results_run ON row_results(run_id, seq)",
    "CREATE INDEX prompts_run ON prompts(run_id, seq)",
    "CREATE INDEX eeprom_writes_run ON eeprom_writes(run_id, seq)",
    "INSERT INTO meta (key, value) VALUES ('schema_version', '1'), ('kind', 'quillon-records'),"
    " ('store', 'line-database')",
};

const char *const kTables[] = {"meta",     "stations",    "sessions", "runs",
                               "run_ends", "row_results", "prompts",  "eeprom_writes"};

// Row policies for the station group: a station's role is named as the station and
// sees (and may add) only what it uploaded; its stations and sessions are those its
// runs name. Rows a run hangs on must come after the run in the upload, which the
// uploader does. The reader group sees everything. No UPDATE or DELETE is granted.
const char *const kPolicies[] = {
    "CREATE POLICY own_runs ON runs TO quillon_station USING (uploaded_by = current_user)"
    " WITH CHECK (uploaded_by = current_user)",
    "CREATE POLICY own_stations ON stations TO quillon_station"
    " USING (EXISTS (SELECT 1 FROM runs r WHERE r.station_id = stations.id)) WITH CHECK (true)",
    "CREATE POLICY own_sessions ON sessions TO quillon_station"
    " USING (EXISTS (SELECT 1 FROM runs r WHERE r.session_id = sessions.id)) WITH CHECK (true)",
    "CREATE POLICY own_run_ends ON run_ends TO quillon_station"
    " USING (EXISTS (SELECT 1 FROM runs r WHERE r.id = run_ends.run_id))",
    "CREATE POLICY own_row_results ON row_results TO quillon_station"
    " USING (EXISTS (SELECT 1 FROM runs r WHERE r.id = row_results.run_id))",
    "CREATE POLICY own_eeprom_writes ON eeprom_writes TO quillon_station"
    " USING (EXISTS (SELECT 1 FROM runs r WHERE r.id = eeprom_writes.run_id))",
    "CREATE POLICY own_prompts ON prompts TO quillon_station"
    " USING (EXISTS (SELECT 1 FROM runs r WHERE r.id = prompts.run_id) OR (prompts.run_id IS NULL"
    " AND EXISTS (SELECT 1 FROM runs r WHERE r.session_id = prompts.session_id)))",
    "CREATE POLICY all_meta ON meta TO quillon_station, quillon_reader USING (true)",
};

QString grantStatements(const QString &database)
{
    QStringList records;
    for (const char *table : kTables) {
        if (QLatin1String(table) != QLatin1String("meta"))
            records.append(QLatin1String(table));
    }
    const QString list = records.join(QStringLiteral(", "));
    return QStringLiteral("GRANT CONNECT ON DATABASE %1 TO quillon_station, quillon_reader;\n"
                          "GRANT USAGE ON SCHEMA public TO quillon_station, quillon_reader;\n"
                          "GRANT SELECT ON meta TO quillon_station, quillon_reader;\n"
                          "GRANT SELECT, INSERT ON %2 TO quillon_station;\n"
                          "GRANT SELECT ON %2 TO quillon_reader;\n")
        .arg(quoteIdentifier(database), list);
}

int schemaVersion(QSqlDatabase &db, QString *error)
{
    QSqlQuery query(db);
    if (!query.exec(QStringLiteral("SELECT to_regclass('meta') IS NOT NULL"))) {
        *error = lineErrorText(QStringLiteral("cannot read the line database"), query.lastError().databaseText());
        return -1;
    }
    if (!query.next() || !query.value(0).toBool())
        return 0;
    if (!query.exec(QStringLiteral("SELECT value FROM meta WHERE key = 'schema_version'"))) {
        *error = lineErrorText(QStringLiteral("cannot read the line database's schema version"),
                               query.lastError().databaseText());
        return -1;
    }
    bool ok = false;
    const int version = query.next() ? query.value(0).toString().toInt(&ok) : 0;
    if (!ok) {
        *error = QStringLiteral("the line database has a meta table without a schema version: it is not a "
                                "Quillon line database");
        return -1;
    }
    return version;
}

} // namespace

LineDatabaseUrl LineDatabaseUrl::parse(const QString &text)
{
    LineDatabaseUrl result;
    const QUrl url(text);
    if (!isLineDatabaseUrl(text) || !url.isValid()) {
        result.error = QStringLiteral("not a line database URL (postgresql://user@host:port/dbname?sslmode=...): %1")
                           .arg(url.isValid() ? text : url.errorString());
        return result;
    }
    if (!url.password().isEmpty()) {
        result.error = QStringLiteral("the line database URL holds a password; remove it and give it through "
                                      "~/.pgpass, PGPASSFILE, PGPASSWORD or a service file");
        return result;
    }
    result.host = url.host();
    result.port = url.port(-1);
    result.user = url.userName();
    result.database = url.path().mid(1);
    const QUrlQuery query(url);
    for (const auto &[key, value] : query.queryItems(QUrl::FullyDecoded)) {
        if (key == QLatin1String("password")) {
            result.error = QStringLiteral("the line database URL holds a password; remove it and give it through "
                                          "~/.pgpass, PGPASSFILE, PGPASSWORD or a service file");
            return result;
        }
        if (value.contains(QLatin1Char(';')) || key.contains(QLatin1Char(';')) || key.contains(QLatin1Char(' '))) {
            result.error =
                QStringLiteral("line database URL: the option %1 has a character QPSQL cannot pass on").arg(key);
            return result;
        }
        if (key == QLatin1String("host"))
            result.host = value;
        else if (key == QLatin1String("port"))
            result.port = value.toInt();
        else if (key == QLatin1String("dbname"))
            result.database = value;
        else if (key == QLatin1String("user"))
            result.user = value;
        else
            result.options.append(key + QLatin1Char('=') + libpqValue(value));
    }
    // An unreachable server must not hang a connection attempt for minutes.
    if (!query.hasQueryItem(QStringLiteral("connect_timeout")))
        result.options.append(QStringLiteral("connect_timeout=5"));
    if (!query.hasQueryItem(QStringLiteral("application_name")))
        result.options.append(QStringLiteral("application_name=quillon"));
    QUrl shown = url;
    shown.setPassword(QString());
    result.display = shown.toString();
    return result;
}

bool openLineDatabase(const LineDatabaseUrl &url, const QString &connectionName, QString *error)
{
    if (!url.error.isEmpty()) {
        *error = url.error;
        return false;
    }
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), connectionName);
    if (!db.isValid()) {
        *error = QStringLiteral("the Qt PostgreSQL driver (QPSQL) is not installed (Debian: libqt6sql6-psql)");
        return false;
    }
    db.setHostName(url.host);
    db.setPort(url.port);
    db.setDatabaseName(url.database);
    db.setUserName(url.user);
    db.setConnectOptions(url.options.join(QLatin1Char(';')));
    if (!db.open()) {
        *error = lineErrorText(QStringLiteral("cannot connect to the line database %1").arg(url.display),
                               db.lastError().databaseText().isEmpty() ? db.lastError().driverText()
                                                                       : db.lastError().databaseText());
        return false;
    }
    routeNotices(db);
    return true;
}

QString checkLineSchema(QSqlDatabase &db)
{
    QString error;
    const int version = schemaVersion(db, &error);
    if (version < 0)
        return error;
    if (version == 0)
        return QStringLiteral("the line database has no Quillon schema yet: its administrator runs "
                              "quillon-records db init --db URL");
    if (version < kLineSchemaVersion)
        return QStringLiteral("the line database's schema is version %1, older than this station's %2: its "
                              "administrator runs quillon-records db init --db URL; the runs wait in the local store")
            .arg(version)
            .arg(kLineSchemaVersion);
    if (version > kLineSchemaVersion)
        return QStringLiteral("the line database's schema is version %1, newer than this station's %2: update "
                              "Quillon on this station; the runs wait in the local store")
            .arg(version)
            .arg(kLineSchemaVersion);
    return {};
}

bool initLineSchema(QSqlDatabase &db, QString *report, QString *error)
{
    const int version = schemaVersion(db, error);
    if (version < 0)
        return false;
    if (version > kLineSchemaVersion) {
        *error = QStringLiteral("the line database's schema is version %1, newer than this program's %2: use a newer "
                                "quillon-records")
                     .arg(version)
                     .arg(kLineSchemaVersion);
        return false;
    }
    if (version == kLineSchemaVersion) {
        *report = QStringLiteral("The line database %1 is at schema version %2; nothing to do.\n")
                      .arg(db.databaseName())
                      .arg(version);
        return true;
    }
    if (!db.transaction()) {
        *error = lineErrorText(QStringLiteral("cannot start a transaction"), db.lastError().databaseText());
        return false;
    }
    bool ok = true;
    // The group roles are cluster-wide: another line database may have made them.
    for (const char *role : {kStationGroupRole, kReaderGroupRole}) {
        ok = ok
             && exec(db,
                     QStringLiteral("DO $$BEGIN IF NOT EXISTS (SELECT FROM pg_roles WHERE rolname = '%1') THEN "
                                    "CREATE ROLE %1 NOLOGIN; END IF; END$$")
                         .arg(QLatin1String(role)),
                     error);
    }
    for (const char *statement : kSchemaV1)
        ok = ok && exec(db, QLatin1String(statement), error);
    for (const char *table : kTables)
        ok =
            ok && exec(db, QStringLiteral("ALTER TABLE %1 ENABLE ROW LEVEL SECURITY").arg(QLatin1String(table)), error);
    for (const char *statement : kPolicies)
        ok = ok && exec(db, QLatin1String(statement), error);
    for (const char *table : kTables) {
        if (QLatin1String(table) != QLatin1String("meta"))
            ok = ok
                 && exec(db,
                         QStringLiteral("CREATE POLICY read_all ON %1 FOR SELECT TO quillon_reader USING (true)")
                             .arg(QLatin1String(table)),
                         error);
    }
    const QString grants = grantStatements(db.databaseName());
    for (const QString &statement : grants.split(QLatin1Char('\n'), Qt::SkipEmptyParts))
        ok = ok && exec(db, statement, error);
    if (!ok || !db.commit()) {
        if (ok)
            *error = lineErrorText(QStringLiteral("cannot commit the schema"), db.lastError().databaseText());
        db.rollback();
        return false;
    }
    *report = QStringLiteral("Created the Quillon line database schema version %1 in %2, with the group roles "
                             "%3 (stations: insert and read their own rows) and %4 (read everything).\n"
                             "Granted:\n%5")
                  .arg(kLineSchemaVersion)
                  .arg(db.databaseName(), QLatin1String(kStationGroupRole), QLatin1String(kReaderGroupRole), grants);
    return true;
}

QString stationRoleInstructions(const QString &stationName)
{
    const QString role = quoteIdentifier(stationName.isEmpty() ? QStringLiteral("STATION NAME") : stationName);
    return QStringLiteral("For each station, a login role named exactly as the station (its station/name setting, else "
                          "the host name), "
                          "in the station group; it may INSERT and SELECT its own rows, never UPDATE or DELETE:\n"
                          "  CREATE ROLE %1 LOGIN;\n"
                          "  \\password %1\n"
                          "  GRANT quillon_station TO %1;\n"
                          "For people and programs that read every station's records:\n"
                          "  GRANT quillon_reader TO \"READER\";\n")
        .arg(role);
}

ReadOnlyStore openLineStore(const QString &url, const QString &connectionName)
{
    ReadOnlyStore store;
    const LineDatabaseUrl parsed = LineDatabaseUrl::parse(url);
    if (!openLineDatabase(parsed, connectionName, &store.error))
        return store;
    store.db = QSqlDatabase::database(connectionName, false);
    // Readers take any schema up to the one this program knows.
    const QString problem = checkLineSchema(store.db);
    if (!problem.isEmpty() && !problem.contains(QLatin1String("older")))
        store.error = problem;
    return store;
}

QString lineErrorText(const QString &what, const QString &serverText)
{
    QString text = serverText.simplified();
    if (text.startsWith(QLatin1String("ERROR: ")))
        text = text.mid(7);
    if (text.contains(QLatin1String("row-level security")))
        text += QStringLiteral(" (a station's role must be named as the station)");
    return text.isEmpty() ? what : what + QStringLiteral(": ") + text;
}

} // namespace quillon::records
