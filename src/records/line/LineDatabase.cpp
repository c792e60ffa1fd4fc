#include "records/line/LineDatabase.h"

#include "records/Columns.h"
#include "records/line/LineUploader.h"

#include <QSqlDriver>
#include <QSqlError>
#include <QSqlQuery>
#include <QUrl>
#include <QUrlQuery>

#include <libpq-fe.h>

#include <algorithm>

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

// Row policies for the station group: a station's role is named as the station and
// sees (and may add) only what it uploaded; its stations and sessions are those its
// runs name. Rows a run hangs on must come after the run in the upload, which the
// uploader does. The reader group sees everything. No UPDATE or DELETE is granted.
// A record table not named here hangs on its run through run_id.
const struct {
    const char *table;
    const char *sql;
} kPolicies[] = {
    {"runs", "CREATE POLICY own_runs ON runs TO quillon_station USING (uploaded_by = current_user)"
             " WITH CHECK (uploaded_by = current_user)"},
    {"stations", "CREATE POLICY own_stations ON stations TO quillon_station"
                 " USING (EXISTS (SELECT 1 FROM runs r WHERE r.station_id = stations.id)) WITH CHECK (true)"},
    {"sessions", "CREATE POLICY own_sessions ON sessions TO quillon_station"
                 " USING (EXISTS (SELECT 1 FROM runs r WHERE r.session_id = sessions.id)) WITH CHECK (true)"},
    {"prompts", "CREATE POLICY own_prompts ON prompts TO quillon_station"
                " USING (EXISTS (SELECT 1 FROM runs r WHERE r.id = prompts.run_id) OR (prompts.run_id IS NULL"
                " AND EXISTS (SELECT 1 FROM runs r WHERE r.session_id = prompts.session_id)))"},
    // The instrument register: every station reads it, only the administrator writes it.
    {"instruments", "CREATE POLICY read_instruments ON instruments FOR SELECT TO quillon_station USING (true)"},
    {"meta", "CREATE POLICY all_meta ON meta TO quillon_station, quillon_reader USING (true)"},
};

// The grants on the record tables `created` (all but meta), or on the database and meta
// as well when `database` is not empty (a new schema).
QString grantStatements(const QString &database, const QStringList &created)
{
    QStringList records = created;
    records.removeAll(QStringLiteral("meta"));
    const QString list = records.join(QStringLiteral(", "));
    QString grants;
    if (!database.isEmpty())
        grants = QStringLiteral("GRANT CONNECT ON DATABASE %1 TO quillon_station, quillon_reader;\n"
                                "GRANT USAGE ON SCHEMA public TO quillon_station, quillon_reader;\n"
                                "GRANT SELECT ON meta TO quillon_station, quillon_reader;\n")
                     .arg(quoteIdentifier(database));
    if (!records.isEmpty())
        grants += QStringLiteral("GRANT SELECT, INSERT ON %1 TO quillon_station;\n"
                                 "GRANT SELECT ON %1 TO quillon_reader;\n")
                      .arg(list);
    return grants;
}

// The row policies of a table new in a schema step: the station group sees (and may add)
// the rows of its own runs; the reader group sees everything.
QStringList policyStatements(const QString &table)
{
    QStringList sql{QStringLiteral("ALTER TABLE %1 ENABLE ROW LEVEL SECURITY").arg(table)};
    const auto named = std::find_if(std::begin(kPolicies), std::end(kPolicies),
                                    [&](const auto &p) { return table == QLatin1String(p.table); });
    if (named != std::end(kPolicies))
        sql << QLatin1String(named->sql);
    else
        sql << QStringLiteral("CREATE POLICY own_%1 ON %1 TO quillon_station"
                              " USING (EXISTS (SELECT 1 FROM runs r WHERE r.id = %1.run_id))")
                   .arg(table);
    if (table != QLatin1String("meta"))
        sql << QStringLiteral("CREATE POLICY read_all ON %1 FOR SELECT TO quillon_reader USING (true)").arg(table);
    return sql;
}

// The server's schema version and major version (0 when it does not say: a server made
// before majors were written down); version 0 when there is no schema, -1 on an error.
int schemaVersion(QSqlDatabase &db, int *major, QString *error)
{
    *major = 0;
    QSqlQuery query(db);
    if (!query.exec(QStringLiteral("SELECT to_regclass('meta') IS NOT NULL"))) {
        *error = lineErrorText(QStringLiteral("cannot read the line database"), query.lastError().databaseText());
        return -1;
    }
    if (!query.next() || !query.value(0).toBool())
        return 0;
    if (!query.exec(QStringLiteral("SELECT key, value FROM meta WHERE key IN ('schema_version', 'schema_major')"))) {
        *error = lineErrorText(QStringLiteral("cannot read the line database's schema version"),
                               query.lastError().databaseText());
        return -1;
    }
    bool ok = false;
    int version = 0;
    while (query.next()) {
        if (query.value(0).toString() == QLatin1String("schema_version"))
            version = query.value(1).toString().toInt(&ok);
        else
            *major = query.value(1).toString().toInt();
    }
    if (!ok) {
        *error = QStringLiteral("the line database has a meta table without a schema version: it is not a "
                                "Quillon line database");
        return -1;
    }
    return version;
}

// One schema step on the line database (from `from` to `from + 1`): the step's tables,
// columns and indexes from the column table, the row policies and grants of its new
// tables, and the version in meta. `created` gets the tables it made.
bool migrateStep(QSqlDatabase &db, int from, QStringList *created, QString *error)
{
    const int to = from + 1;
    QStringList made;
    for (const TableInfo &t : tables())
        if (t.since == to && t.backend != Backend::File)
            made << QLatin1String(t.name);
    QStringList sql = migrationSql(Backend::Line, from);
    for (const QString &table : std::as_const(made))
        sql << policyStatements(table);
    const QString grants = grantStatements(from == 0 ? db.databaseName() : QString(), made);
    sql << grants.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    if (from == 0)
        sql << QStringLiteral("INSERT INTO meta (key, value) VALUES ('schema_version', '%1'), ('schema_major', '%2'),"
                              " ('kind', 'quillon-records'), ('store', 'line-database')")
                   .arg(to)
                   .arg(kLineSchemaMajor);
    else
        sql << QStringLiteral("UPDATE meta SET value = '%1' WHERE key = 'schema_version'").arg(to)
            << QStringLiteral("INSERT INTO meta (key, value) VALUES ('schema_major', '%1') ON CONFLICT DO NOTHING")
                   .arg(kLineSchemaMajor);
    for (const QString &statement : std::as_const(sql))
        if (!exec(db, statement, error))
            return false;
    *created << made;
    return true;
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

namespace {
int testVersion = 0;
}

int lineSchemaVersion()
{
    return testVersion > 0 ? testVersion : neededVersion(Backend::Line);
}

void setLineSchemaVersionForTests(int version)
{
    testVersion = version;
}

LineSchemaCheck checkLineSchemaVersion(QSqlDatabase &db)
{
    LineSchemaCheck check;
    int major = 0;
    const int version = schemaVersion(db, &major, &check.message);
    check.version = version;
    const int ours = lineSchemaVersion();
    if (version < 0) {
        check.state = LineSchemaCheck::Unreadable;
    } else if (version == 0) {
        check.state = LineSchemaCheck::Missing;
        check.message = QStringLiteral("the line database has no Quillon schema yet: its administrator runs "
                                       "quillon-records db init --db URL");
    } else if (version < ours) {
        check.state = LineSchemaCheck::Older;
        check.message = QStringLiteral("the line database's schema is version %1, older than this station's %2: its "
                                       "administrator runs quillon-records db init --db URL; the runs wait in the "
                                       "local store")
                            .arg(version)
                            .arg(ours);
    } else if (major > kLineSchemaMajor) {
        check.state = LineSchemaCheck::Newer;
        check.message = QStringLiteral("the line database's schema is version %1 of major version %2, newer than this "
                                       "station's %3: update Quillon on this station; the runs wait in the local "
                                       "store")
                            .arg(version)
                            .arg(major)
                            .arg(kLineSchemaMajor);
    } else if (version > ours && major == 0) {
        // A server that does not name its major version is taken only at versions this
        // program knows.
        check.state = LineSchemaCheck::Newer;
        check.message = QStringLiteral("the line database's schema is version %1, newer than this station's %2: update "
                                       "Quillon on this station; the runs wait in the local store")
                            .arg(version)
                            .arg(ours);
    }
    return check;
}

QString checkLineSchema(QSqlDatabase &db)
{
    return checkLineSchemaVersion(db).message;
}

bool initLineSchema(QSqlDatabase &db, QString *report, QString *error)
{
    const LineSchemaCheck check = checkLineSchemaVersion(db);
    const int ours = lineSchemaVersion();
    if (check.state == LineSchemaCheck::Unreadable) {
        *error = check.message;
        return false;
    }
    if (check.state == LineSchemaCheck::Newer) {
        *error = QStringLiteral("the line database's schema is version %1, newer than this program's %2: use a newer "
                                "quillon-records")
                     .arg(check.version)
                     .arg(ours);
        return false;
    }
    if (check.version > ours) {
        *report = QStringLiteral("The line database %1 is at schema version %2, newer than this program's %3; nothing "
                                 "to do.\n")
                      .arg(db.databaseName())
                      .arg(check.version)
                      .arg(ours);
        return true;
    }
    if (check.version == ours) {
        *report = QStringLiteral("The line database %1 is at schema version %2; nothing to do.\n")
                      .arg(db.databaseName())
                      .arg(ours);
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
    QStringList created;
    for (int v = check.version; ok && v < ours; ++v)
        ok = migrateStep(db, v, &created, error);
    if (!ok || !db.commit()) {
        if (ok)
            *error = lineErrorText(QStringLiteral("cannot commit the schema"), db.lastError().databaseText());
        db.rollback();
        return false;
    }
    if (check.version > 0) {
        *report = QStringLiteral("Migrated the Quillon line database %1 from schema version %2 to %3 in place.\n")
                      .arg(db.databaseName())
                      .arg(check.version)
                      .arg(ours);
        if (!created.isEmpty())
            *report += QStringLiteral("Granted:\n") + grantStatements(QString(), created);
        return true;
    }
    *report = QStringLiteral("Created the Quillon line database schema version %1 in %2, with the group roles "
                             "%3 (stations: insert and read their own rows) and %4 (read everything).\n"
                             "Granted:\n%5")
                  .arg(ours)
                  .arg(db.databaseName(), QLatin1String(kStationGroupRole), QLatin1String(kReaderGroupRole),
                       grantStatements(db.databaseName(), created));
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
    // Readers take an older schema too: what it lacks reads as empty.
    const LineSchemaCheck check = checkLineSchemaVersion(store.db);
    if (check.state != LineSchemaCheck::Fits && check.state != LineSchemaCheck::Older)
        store.error = check.message;
    return store;
}

ReadOnlyStore openRecordsStore(const QString &source, const QString &connectionName)
{
    return isLineDatabaseUrl(source) ? openLineStore(source, connectionName)
                                     : openReadOnlyStore(source, connectionName);
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
