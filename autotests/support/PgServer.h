#pragma once

#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <memory>

namespace quillon::testing {

// A private PostgreSQL 15 server for one test executable: initdb in a temporary
// folder, a free TCP port on 127.0.0.1 and a socket folder of its own, run as an
// unprivileged user (as root: the `postgres` account through runuser).
//
// The server is stopped and its folder removed by the destructor; a watchdog process
// does the same if the test process dies first (a crash, a CTest timeout), so a
// failed test never leaves a server behind.
//
// Authentication: the superuser `postgres` is trusted on the socket; TCP connections
// need a password (scram-sha-256), so wrong-password paths are real.
class PgServer {
public:
    PgServer();
    ~PgServer();
    PgServer(const PgServer &) = delete;
    PgServer &operator=(const PgServer &) = delete;

    // The folder of the server programs (QUILLON_PG_BINDIR overrides the default).
    static QString binDir();
    // Empty when the server programs are there; else why not (the only reason to skip).
    static QString missingReason();

    // initdb on the first call, then start. False with error() on failure.
    bool start();
    // pg_ctl stop; immediate is `-m immediate` (a crash for the clients).
    bool stop(bool immediate = true);
    bool isRunning() const { return m_running; }

    int port() const { return m_port; }
    QString socketDir() const;
    QString superuser() const { return QStringLiteral("postgres"); }
    QString superuserPassword() const { return QStringLiteral("quillon-super"); }
    QString error() const { return m_error; }
    QString logText() const;

    // Runs SQL through psql as the superuser on the socket (ON_ERROR_STOP). Returns the
    // unaligned, tuples-only output; false with error() when psql fails.
    bool psql(const QString &sql, QString *output = nullptr, const QString &database = QStringLiteral("postgres"));
    // A fresh database owned by the superuser.
    bool createDatabase(const QString &name);
    // A login role with a password (connects over TCP).
    bool createRole(const QString &name, const QString &password);

    // postgresql://user@127.0.0.1:port/db (TCP, needs a password).
    QString tcpUrl(const QString &user, const QString &database) const;
    // postgresql://postgres@/db?host=<socket folder>&port=... (trusted, no password).
    QString socketUrl(const QString &database) const;

private:
    bool run(const QString &program, const QStringList &arguments, QString *output, int timeoutMs);
    bool initialise();
    void startWatchdog();

    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_error;
    int m_port = 0;
    bool m_initialised = false;
    bool m_running = false;
};

// The server shared by the tests of one executable, started on first use (nullptr when
// it cannot start; the reason is in `why`).
PgServer *sharedPgServer(QString *why);

} // namespace quillon::testing

// Skips the current test when the server programs are missing (saying so) and fails it
// when they are there but the server does not start. (var names a variable: it cannot
// be parenthesized.)
// NOLINTBEGIN(bugprone-macro-parentheses)
#define QUILLON_REQUIRE_PG(var)                                                                                        \
    if (const QString missing_ = ::quillon::testing::PgServer::missingReason(); !missing_.isEmpty())                   \
        GTEST_SKIP() << qPrintable(missing_);                                                                          \
    QString pgWhy_;                                                                                                    \
    ::quillon::testing::PgServer *var = ::quillon::testing::sharedPgServer(&pgWhy_);                                   \
    ASSERT_NE(var, nullptr) << qPrintable(pgWhy_)
// NOLINTEND(bugprone-macro-parentheses)
