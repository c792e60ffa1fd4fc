#include "support/PgServer.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <pwd.h>
#include <sys/socket.h>
#include <unistd.h>

namespace quillon::testing {

namespace {

constexpr int kCommandTimeoutMs = 60000;

bool isRoot()
{
    return ::geteuid() == 0;
}

// A port nobody listens on right now (the kernel's pick for a bound socket).
int freePort()
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0)
        return 0;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    int port = 0;
    if (::bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0
        && ::getsockname(fd, reinterpret_cast<sockaddr *>(&address), &length) == 0)
        port = ntohs(address.sin_port);
    ::close(fd);
    return port;
}

// Hands a path to the postgres account (the server refuses to run as root).
bool giveToPostgres(const QString &path)
{
    const passwd *account = ::getpwnam("postgres");
    return account && ::chown(QFile::encodeName(path).constData(), account->pw_uid, account->pw_gid) == 0;
}

// The environment of the server programs: none of the caller's libpq settings.
QProcessEnvironment cleanEnvironment()
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const QString &key : environment.keys()) {
        if (key.startsWith(QLatin1String("PG")))
            environment.remove(key);
    }
    environment.insert(QStringLiteral("LC_ALL"), QStringLiteral("C"));
    return environment;
}

} // namespace

PgServer::PgServer() = default;

PgServer::~PgServer()
{
    if (m_running)
        stop(false);
    // QTemporaryDir removes the folder; the watchdog sees it gone and ends.
}

QString PgServer::binDir()
{
    const QString overridden = qEnvironmentVariable("QUILLON_PG_BINDIR");
    return overridden.isEmpty() ? QStringLiteral("/usr/lib/postgresql/15/bin") : overridden;
}

QString PgServer::missingReason()
{
    for (const char *program : {"initdb", "pg_ctl", "postgres", "psql"}) {
        const QString path = binDir() + QLatin1Char('/') + QLatin1String(program);
        if (!QFileInfo(path).isExecutable())
            return QStringLiteral("PostgreSQL server programs not installed (%1 missing; Debian package postgresql)")
                .arg(path);
    }
    return {};
}

QString PgServer::socketDir() const
{
    return m_dir ? m_dir->path() + QStringLiteral("/sock") : QString();
}

QString PgServer::logText() const
{
    QFile log(m_dir ? m_dir->path() + QStringLiteral("/server.log") : QString());
    return log.open(QIODevice::ReadOnly) ? QString::fromUtf8(log.readAll()) : QString();
}

bool PgServer::run(const QString &program, const QStringList &arguments, QString *output, int timeoutMs)
{
    QProcess process;
    process.setProcessEnvironment(cleanEnvironment());
    process.setProcessChannelMode(QProcess::MergedChannels);
    const QString path = binDir() + QLatin1Char('/') + program;
    // Server programs refuse root; the client (psql) does not care.
    if (isRoot() && program != QLatin1String("psql"))
        process.start(QStringLiteral("runuser"),
                      QStringList{QStringLiteral("-u"), QStringLiteral("postgres"), QStringLiteral("--"), path}
                          + arguments);
    else
        process.start(path, arguments);
    if (!process.waitForStarted(timeoutMs)) {
        m_error = QStringLiteral("%1 did not start: %2").arg(program, process.errorString());
        return false;
    }
    process.closeWriteChannel();
    if (!process.waitForFinished(timeoutMs)) {
        process.kill();
        process.waitForFinished(5000);
        m_error = QStringLiteral("%1 timed out").arg(program);
        return false;
    }
    const QString text = QString::fromUtf8(process.readAll());
    if (output)
        *output = text;
    if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0) {
        m_error = QStringLiteral("%1 failed (%2): %3").arg(program).arg(process.exitCode()).arg(text.trimmed());
        return false;
    }
    return true;
}

bool PgServer::initialise()
{
    m_dir = std::make_unique<QTemporaryDir>(QDir::tempPath() + QStringLiteral("/quillon-pg-XXXXXX"));
    if (!m_dir->isValid()) {
        m_error = QStringLiteral("no temporary folder: %1").arg(m_dir->errorString());
        return false;
    }
    const QString root = m_dir->path();
    QDir().mkpath(socketDir());
    QFile passwordFile(root + QStringLiteral("/pw"));
    if (!passwordFile.open(QIODevice::WriteOnly) || passwordFile.write(superuserPassword().toUtf8()) < 0) {
        m_error = QStringLiteral("cannot write %1").arg(passwordFile.fileName());
        return false;
    }
    passwordFile.close();
    if (isRoot()) {
        for (const QString &path : {root, socketDir(), passwordFile.fileName()}) {
            if (!giveToPostgres(path)) {
                m_error = QStringLiteral("cannot hand %1 to the postgres account (does it exist?)").arg(path);
                return false;
            }
        }
    }
    startWatchdog();

    const QString data = root + QStringLiteral("/data");
    if (!run(QStringLiteral("initdb"),
             {QStringLiteral("-D"), data, QStringLiteral("-U"), superuser(), QStringLiteral("--pwfile"),
              passwordFile.fileName(), QStringLiteral("--auth-local=trust"),
              QStringLiteral("--auth-host=scram-sha-256"), QStringLiteral("-E"), QStringLiteral("UTF8"),
              QStringLiteral("--locale=C"), QStringLiteral("-N")},
             nullptr, kCommandTimeoutMs))
        return false;

    m_port = freePort();
    // fsync off makes the tests quick; commits still reach the kernel before they are
    // acknowledged (synchronous_commit stays on), so an immediate stop loses nothing
    // that a client was told is committed.
    QFile conf(data + QStringLiteral("/postgresql.conf"));
    if (!conf.open(QIODevice::Append | QIODevice::Text)) {
        m_error = QStringLiteral("cannot append to %1").arg(conf.fileName());
        return false;
    }
    conf.write(QStringLiteral("\nport = %1\nlisten_addresses = '127.0.0.1'\nunix_socket_directories = '%2'\n"
                              "fsync = off\nfull_page_writes = off\nmax_connections = 60\nshared_buffers = 128MB\n")
                   .arg(m_port)
                   .arg(socketDir())
                   .toUtf8());
    conf.close();
    m_initialised = true;
    return true;
}

void PgServer::startWatchdog()
{
    // Outlives this process: when it is gone (crash, timeout kill) the server gets the
    // immediate-shutdown signal and the folder goes. It ends by itself once the folder
    // is removed normally.
    const QString script = QStringLiteral(
        "while kill -0 \"$1\" 2>/dev/null && [ -d \"$2\" ]; do sleep 1; done; "
        "[ -f \"$2/data/postmaster.pid\" ] && kill -QUIT \"$(head -n1 \"$2/data/postmaster.pid\")\" 2>/dev/null; "
        "sleep 1; rm -rf \"$2\"");
    QProcess::startDetached(QStringLiteral("/bin/sh"),
                            {QStringLiteral("-c"), script, QStringLiteral("pg-watchdog"),
                             QString::number(QCoreApplication::applicationPid()), m_dir->path()});
}

bool PgServer::start()
{
    if (m_running)
        return true;
    if (!m_initialised && !initialise())
        return false;
    const QString root = m_dir->path();
    if (!run(QStringLiteral("pg_ctl"),
             {QStringLiteral("start"), QStringLiteral("-w"), QStringLiteral("-t"), QStringLiteral("60"),
              QStringLiteral("-D"), root + QStringLiteral("/data"), QStringLiteral("-l"),
              root + QStringLiteral("/server.log")},
             nullptr, kCommandTimeoutMs)) {
        m_error += QStringLiteral("\n") + logText().right(2000);
        return false;
    }
    m_running = true;
    return true;
}

bool PgServer::stop(bool immediate)
{
    if (!m_running)
        return true;
    const bool ok = run(QStringLiteral("pg_ctl"),
                        {QStringLiteral("stop"), QStringLiteral("-w"), QStringLiteral("-m"),
                         immediate ? QStringLiteral("immediate") : QStringLiteral("fast"), QStringLiteral("-D"),
                         m_dir->path() + QStringLiteral("/data")},
                        nullptr, kCommandTimeoutMs);
    m_running = !ok;
    return ok;
}

bool PgServer::psql(const QString &sql, QString *output, const QString &database)
{
    QString text;
    const bool ok = run(QStringLiteral("psql"),
                        {QStringLiteral("-X"), QStringLiteral("-q"), QStringLiteral("-A"), QStringLiteral("-t"),
                         QStringLiteral("-v"), QStringLiteral("ON_ERROR_STOP=1"), QStringLiteral("-h"), socketDir(),
                         QStringLiteral("-p"), QString::number(m_port), QStringLiteral("-U"), superuser(),
                         QStringLiteral("-d"), database, QStringLiteral("-c"), sql},
                        &text, kCommandTimeoutMs);
    if (output)
        *output = text.trimmed();
    return ok;
}

bool PgServer::createDatabase(const QString &name)
{
    return psql(QStringLiteral("CREATE DATABASE \"%1\" TEMPLATE template0").arg(name));
}

bool PgServer::createRole(const QString &name, const QString &password)
{
    QString quoted = password;
    quoted.replace(QLatin1Char('\''), QStringLiteral("''"));
    return psql(QStringLiteral("CREATE ROLE \"%1\" LOGIN PASSWORD '%2'").arg(name, quoted));
}

QString PgServer::tcpUrl(const QString &user, const QString &database) const
{
    return QStringLiteral("postgresql://%1@127.0.0.1:%2/%3?sslmode=disable").arg(user).arg(m_port).arg(database);
}

QString PgServer::socketUrl(const QString &database) const
{
    return QStringLiteral("postgresql://%1@/%2?host=%3&port=%4").arg(superuser(), database, socketDir()).arg(m_port);
}

namespace {
PgServer *g_server = nullptr;
void dropSharedServer()
{
    delete g_server; // stops the server and removes its folder while Qt is still up
    g_server = nullptr;
}
} // namespace

PgServer *sharedPgServer(QString *why)
{
    static QString failure;
    static bool tried = false;
    if (!tried) {
        tried = true;
        g_server = new PgServer;
        qAddPostRoutine(dropSharedServer);
    }
    // A test that stopped the server and failed before starting it again leaves it
    // down; the next one gets it back up.
    if (g_server && !g_server->start())
        failure = QStringLiteral("PostgreSQL test server did not start: ") + g_server->error();
    if (g_server && g_server->isRunning())
        return g_server;
    if (why)
        *why = failure;
    return nullptr;
}

} // namespace quillon::testing
