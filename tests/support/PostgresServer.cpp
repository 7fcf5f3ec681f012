// Starting and stopping the tests' own PostgreSQL server.

#include "PostgresServer.h"

#include <QDir>
#include <QFile>
#include <QThread>

#include <algorithm>
#include <cstdlib>
#include <stdexcept>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

const QString kUser = QStringLiteral("zul");
const QString kDatabase = QStringLiteral("zultest");

QString findServerBin()
{
    const QDir root(QStringLiteral("/usr/lib/postgresql"));
    QStringList versions = root.entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name);
    std::reverse(versions.begin(), versions.end());
    for (const QString& version : versions) {
        const QString bin = root.filePath(version + QStringLiteral("/bin"));
        if (QFile::exists(bin + QStringLiteral("/initdb")) && QFile::exists(bin + QStringLiteral("/pg_ctl")))
            return bin;
    }
    return QString();
}

QString findDriver()
{
    for (const char* path : {"/usr/lib/x86_64-linux-gnu/odbc/psqlodbcw.so", "/usr/lib/aarch64-linux-gnu/odbc/psqlodbcw.so",
                             "/usr/lib/odbc/psqlodbcw.so", "/usr/lib64/psqlodbcw.so"})
        if (QFile::exists(QString::fromLatin1(path)))
            return QString::fromLatin1(path);
    return QString();
}

int freePort()
{
    // The port the system hands out for an ephemeral bind; the server takes it right after.
    const int probe = ::socket(AF_INET, SOCK_STREAM, 0);
    if (probe < 0)
        return 0;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    int port = 0;
    if (::bind(probe, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
        ::getsockname(probe, reinterpret_cast<sockaddr*>(&address), &length) == 0)
        port = ntohs(address.sin_port);
    ::close(probe);
    return port;
}

bool writeFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size();
}

std::unique_ptr<PostgresServer>& theServer()
{
    static std::unique_ptr<PostgresServer> server;
    return server;
}

} // namespace

PostgresServer* PostgresServer::instance(QString* whyNot)
{
    static bool tried = false;
    static QString reason;
    if (!tried) {
        tried = true;
        std::unique_ptr<PostgresServer> server(new PostgresServer);
        if (server->setUp(&reason))
            theServer() = std::move(server);
        // Stopped with the program; a server of a crashed run dies with its folder's removal at the next boot.
        std::atexit([] { theServer().reset(); });
    }
    if (whyNot)
        *whyNot = reason;
    return theServer().get();
}

PostgresServer::~PostgresServer()
{
    if (m_running)
        run({m_bin + QStringLiteral("/pg_ctl"), QStringLiteral("-D"), m_dir.filePath(QStringLiteral("data")),
             QStringLiteral("-m"), QStringLiteral("immediate"), QStringLiteral("-w"), QStringLiteral("stop")});
}

bool PostgresServer::run(const QStringList& command, QString* output, bool asServerUser) const
{
    // The server refuses to run as root; CI runs the tests as root.
    const ProcessResult result =
        runProcess(command.first(), command.mid(1),
                   {.folder = m_dir.path(),
                    .environment = {QStringLiteral("PGPASSWORD=") + password(), QStringLiteral("LC_ALL=C.UTF-8")},
                    .asNobody = asServerUser && ::geteuid() == 0});
    if (output)
        *output = result.err + result.out;
    return result.exitCode == 0;
}

bool PostgresServer::setUp(QString* whyNot)
{
    m_bin = findServerBin();
    if (m_bin.isEmpty()) {
        *whyNot = QStringLiteral("PostgreSQL server binaries (initdb, pg_ctl) are not installed");
        return false;
    }
    const QString driver = findDriver();
    if (driver.isEmpty()) {
        *whyNot = QStringLiteral("the PostgreSQL ODBC driver (odbc-postgresql) is not installed");
        return false;
    }
    if (!m_dir.isValid()) {
        *whyNot = QStringLiteral("no temporary folder");
        return false;
    }
    if (::geteuid() == 0 && !run({QStringLiteral("chown"), QStringLiteral("nobody:nogroup"), m_dir.path()}, nullptr, false)) {
        *whyNot = QStringLiteral("cannot give the temporary folder to nobody");
        return false;
    }
    QString output;
    const QString pwfile = m_dir.filePath(QStringLiteral("pw"));
    if (!run({QStringLiteral("sh"), QStringLiteral("-c"), QStringLiteral("umask 077; printf '%s' \"$PGPASSWORD\" > pw")},
             &output)) {
        *whyNot = QStringLiteral("cannot write the password file: ") + output;
        return false;
    }
    if (!run({m_bin + QStringLiteral("/initdb"), QStringLiteral("-D"), m_dir.filePath(QStringLiteral("data")),
              QStringLiteral("-U"), kUser, QStringLiteral("--pwfile=") + pwfile, QStringLiteral("-E"),
              QStringLiteral("UTF8"), QStringLiteral("--locale=C"), QStringLiteral("--auth-local=trust"),
              QStringLiteral("--auth-host=scram-sha-256"), QStringLiteral("--no-sync")},
             &output)) {
        *whyNot = QStringLiteral("initdb failed: ") + output;
        return false;
    }
    QFile::remove(pwfile);
    for (int attempt = 0; attempt < 3 && !m_running; ++attempt) {
        m_port = freePort();
        m_running = start();
    }
    if (!m_running) {
        *whyNot = QStringLiteral("the server did not start: ") +
                  QString::fromUtf8(fileBytes(m_dir.filePath(QStringLiteral("server.log"))));
        return false;
    }
    if (!run({m_bin + QStringLiteral("/psql"), QStringLiteral("-h"), m_dir.path(), QStringLiteral("-p"),
              QString::number(m_port), QStringLiteral("-U"), kUser, QStringLiteral("-d"), QStringLiteral("postgres"),
              QStringLiteral("-v"), QStringLiteral("ON_ERROR_STOP=1"), QStringLiteral("-c"),
              QStringLiteral("CREATE DATABASE %1 TEMPLATE template0 ENCODING 'UTF8'").arg(kDatabase)},
             &output)) {
        *whyNot = QStringLiteral("cannot create the test database: ") + output;
        return false;
    }
    // The driver and a data source of the tests' own, and a password file for children.
    const QByteArray odbcinst = "[PostgreSQL Unicode]\nDescription=PostgreSQL ODBC driver (Unicode)\nDriver=" +
                                driver.toUtf8() + "\n";
    const QByteArray odbc = "[zultest]\nDriver=PostgreSQL Unicode\nServername=127.0.0.1\nPort=" +
                            QByteArray::number(m_port) + "\nDatabase=" + kDatabase.toUtf8() +
                            "\nUsername=" + kUser.toUtf8() + "\n";
    const QString pgpass = passwordFile();
    if (!writeFile(m_dir.filePath(QStringLiteral("odbcinst.ini")), odbcinst) ||
        !writeFile(m_dir.filePath(QStringLiteral("odbc.ini")), odbc) ||
        !writeFile(pgpass, "127.0.0.1:" + QByteArray::number(m_port) + ":*:" + kUser.toUtf8() + ":" +
                               QString(password()).replace(QLatin1String(":"), QLatin1String("\\:")).toUtf8() + "\n") ||
        !QFile::setPermissions(pgpass, QFile::ReadOwner | QFile::WriteOwner)) {
        *whyNot = QStringLiteral("cannot write the ODBC configuration");
        return false;
    }
    qputenv("ODBCSYSINI", m_dir.path().toUtf8());
    qputenv("ODBCINI", m_dir.filePath(QStringLiteral("odbc.ini")).toUtf8());
    // Nothing of a real user's set-up may reach the tests.
    qputenv("PGPASSFILE", m_dir.filePath(QStringLiteral("no-such-pgpass")).toUtf8());
    return true;
}

QString PostgresServer::passwordFile() const
{
    return m_dir.filePath(QStringLiteral("pgpass"));
}

QString PostgresServer::connectString(bool withPassword) const
{
    QString connect = QStringLiteral("ODBC;DRIVER={PostgreSQL Unicode};SERVER=127.0.0.1;PORT=%1;DATABASE=%2;UID=%3")
                          .arg(m_port)
                          .arg(kDatabase, kUser);
    if (withPassword)
        connect += QStringLiteral(";PWD={") + QString(password()).replace(QLatin1String("}"), QLatin1String("}}")) +
                   QLatin1Char('}');
    return connect;
}

bool PostgresServer::start()
{
    const QString options = QStringLiteral("-p %1 -k %2 -c listen_addresses=127.0.0.1 -c fsync=off "
                                           "-c synchronous_commit=off -c full_page_writes=off")
                                .arg(m_port)
                                .arg(m_dir.path());
    m_running = run({m_bin + QStringLiteral("/pg_ctl"), QStringLiteral("-D"), m_dir.filePath(QStringLiteral("data")),
                     QStringLiteral("-o"), options, QStringLiteral("-l"), m_dir.filePath(QStringLiteral("server.log")),
                     QStringLiteral("-w"), QStringLiteral("start")});
    return m_running;
}

bool PostgresServer::stop()
{
    const bool stopped = run({m_bin + QStringLiteral("/pg_ctl"), QStringLiteral("-D"),
                              m_dir.filePath(QStringLiteral("data")), QStringLiteral("-m"), QStringLiteral("fast"),
                              QStringLiteral("-w"), QStringLiteral("stop")});
    if (stopped)
        m_running = false;
    return stopped;
}

QStringList PostgresServer::psqlArguments() const
{
    return {QStringLiteral("-h"), QStringLiteral("127.0.0.1"), QStringLiteral("-p"), QString::number(m_port),
            QStringLiteral("-U"), kUser, QStringLiteral("-d"), kDatabase, QStringLiteral("-X"),
            QStringLiteral("-A"), QStringLiteral("-t"), QStringLiteral("-q"), QStringLiteral("-v"),
            QStringLiteral("ON_ERROR_STOP=1")};
}

ProcessResult PostgresServer::runPsql(const QString& sql) const
{
    return runProcess(psqlPath(), psqlArguments() + QStringList{QStringLiteral("-c"), sql},
                      {.environment = {QStringLiteral("PGPASSWORD=") + password()}});
}

int PostgresServer::psqlStatus(const QString& sql, QString* error, QString* output) const
{
    const ProcessResult result = runPsql(sql);
    if (error)
        *error = result.err + result.out;
    if (output)
        *output = result.out;
    return result.exitCode;
}

QStringList PostgresServer::psql(const QString& sql) const
{
    const ProcessResult result = runPsql(sql);
    if (result.exitCode != 0)
        throw std::runtime_error(sql.toStdString() + ": " + result.err.toStdString());
    return result.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

std::pair<qint64, qint64> PostgresServer::scans(const QString& table, qint64 atLeastIndexScans) const
{
    std::pair<qint64, qint64> counts{-1, -1};
    for (int attempt = 0; attempt < 150; ++attempt) {
        const QStringList rows = psql(QStringLiteral("SELECT seq_scan || '|' || idx_scan FROM pg_stat_user_tables "
                                                     "WHERE relname = '%1'")
                                          .arg(table));
        if (rows.size() == 1)
            counts = {rows.front().section(QLatin1Char('|'), 0, 0).toLongLong(),
                      rows.front().section(QLatin1Char('|'), 1, 1).toLongLong()};
        if (counts.second >= atLeastIndexScans)
            break;
        QThread::msleep(100);
    }
    return counts;
}
