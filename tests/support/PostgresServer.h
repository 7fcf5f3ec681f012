#pragma once

// A real PostgreSQL server for the tests and the benchmark of ODBC links:
// started once per program in a temporary folder, as `nobody` when the tests run as root, on a
// free port of 127.0.0.1, with one database and a user that logs in with a
// password; stopped when the program ends. The driver "PostgreSQL Unicode"
// and a data source "zultest" are registered in the folder (ODBCSYSINI,
// ODBCINI), and the password is in a password file (PGPASSFILE) that the
// server tests' children may be given.

#include "TestSupport.h"

#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <memory>
#include <utility>

class PostgresServer {
public:
    // The server of this program, started at its first use; null when it
    // cannot be, with the reason in *whyNot (missing binaries or driver).
    static PostgresServer* instance(QString* whyNot);
    ~PostgresServer();

    int port() const { return m_port; }
    static QString password() { return QStringLiteral("Heslo-7;x}"); }
    // DSN-less, with the password when withPassword is set.
    QString connectString(bool withPassword = true) const;
    // The same without "ODBC;" as psql's and psqlODBC's users write it.
    QString dsnConnect() const { return QStringLiteral("ODBC;DSN=zultest"); }
    // The password file for children that connect without a password.
    QString passwordFile() const;
    QString folder() const { return m_dir.path(); }

    // Runs SQL through psql in the test database; the output rows, fields by "|".
    // Raises std::runtime_error with psql's message when it fails (a test that meets it fails).
    QStringList psql(const QString& sql) const;
    // Runs SQL and returns psql's exit code and standard error (for statements expected to fail).
    int psqlStatus(const QString& sql, QString* error = nullptr, QString* output = nullptr) const;
    // psql's arguments that reach the test database (-c and the statement follow), and its path.
    QStringList psqlArguments() const;
    QString psqlPath() const { return m_bin + QStringLiteral("/psql"); }

    // The server's sequential and index scans of a table so far, read once the index scans reach
    // atLeastIndexScans or after 15 s: a backend reports its counts when idle, up to seconds later.
    std::pair<qint64, qint64> scans(const QString& table, qint64 atLeastIndexScans = 0) const;

    // Stops and starts the server again (the same data).
    bool stop();
    bool start();

private:
    PostgresServer() = default;
    bool setUp(QString* whyNot);
    bool run(const QStringList& command, QString* output = nullptr, bool asServerUser = true) const;
    ProcessResult runPsql(const QString& sql) const;

    QTemporaryDir m_dir;
    QString m_bin;
    int m_port = 0;
    bool m_running = false;
};
