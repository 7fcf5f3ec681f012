#include "OdbcBench.h"

#include "ChildProcess.h"
#include "DBEngine.h"
#include "OdbcConnection.h"
#include "PostgresServer.h"
#include "Timing.h"

#include <QDir>
#include <QProcess>

#include <sqlite3.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <stdexcept>

namespace {

constexpr int kRows = 200000;
constexpr int kLookups = 500;
constexpr int kUpsizeRows = 1000000;
constexpr int kRepeats = 3;

void check(bool condition, const QString& what)
{
    if (!condition)
        throw std::runtime_error(what.toStdString());
}

// A data file with one table of rows rows of every common type, for the upsize.
void makeUpsizeFile(const QString& path, int rows)
{
    DbEngine()
        .CreateDatabase(path, dao::dbLangCzech, dao::dbVersion120)
        ->Execute(QStringLiteral("create table Pohyby (ID long not null primary key, Popis text(60), Castka double, "
                                 "Datum datetime, Hotovo yesno)"));
    sqlite3* db = nullptr;
    check(sqlite3_open(path.toUtf8().constData(), &db) == SQLITE_OK, QStringLiteral("cannot open %1").arg(path));
    const char* fill = "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < ?1) "
                       "INSERT INTO Pohyby SELECT i, 'Pohyb číslo ' || i, i * 1.25, "
                       "datetime(1700000000 + i * 60, 'unixepoch'), -(i % 2) FROM n";
    sqlite3_stmt* insert = nullptr;
    sqlite3_prepare_v2(db, fill, -1, &insert, nullptr);
    sqlite3_bind_int(insert, 1, rows);
    const int rc = sqlite3_step(insert);
    sqlite3_finalize(insert);
    sqlite3_close(db);
    check(rc == SQLITE_DONE, QStringLiteral("cannot fill %1").arg(path));
}

} // namespace

OdbcFigures measureOdbc(const QString& work, const QString& zuldb)
{
    OdbcFigures figures;
    PostgresServer* server = PostgresServer::instance(&figures.skipped);
    if (!server)
        return figures;
    const QDir dir(work);
    figures.rows = kRows;
    server->psql(QStringLiteral("DROP TABLE IF EXISTS bench_keys, \"Pohyby\";"
                                "CREATE TABLE bench_keys (id integer PRIMARY KEY, jmeno varchar(40), castka double "
                                "precision, datum timestamp);"
                                "INSERT INTO bench_keys SELECT n, 'Osoba č. ' || n, n * 0.5, "
                                "timestamp '2020-01-01' + n * interval '1 minute' FROM generate_series(1, %1) n;"
                                "ANALYZE bench_keys")
                     .arg(kRows));

    const QString program = dir.filePath(QStringLiteral("odbc-prog.accdr"));
    auto prog = DbEngine().CreateDatabase(program, dao::dbLangCzech, dao::dbVersion120);
    auto def = prog->CreateTableDef(QStringLiteral("Klíče"));
    def->setConnect(server->connectString());
    def->setSourceTableName(QStringLiteral("bench_keys"));
    prog->TableDefs().Append(def);
    const auto lookup = [&](int key) {
        auto row = prog->OpenRecordset(QStringLiteral("select jmeno from Klíče where id = ?"), {key});
        check(!row->EOF() && row->value(QStringLiteral("jmeno")).toString() == QStringLiteral("Osoba č. %1").arg(key),
              QStringLiteral("the lookup of %1 found no row").arg(key));
    };
    // The first lookup connects. The server's counts are read before and after the lookups; its
    // backend is told to report them as soon as it is idle, not seconds later.
    lookup(1);
    const auto reportNow = [&] {
        OdbcConnection::shared(server->connectString())->exec(QStringLiteral("SELECT pg_stat_force_next_flush()"));
    };
    reportNow();
    const auto before = server->scans(QStringLiteral("bench_keys"), 1);
    figures.lookups = kLookups;
    figures.lookupMs = millisecondsOf([&] {
                           for (int i = 0; i < kLookups; ++i)
                               lookup(1 + (i * 7919) % kRows);
                       }) /
                       kLookups;
    reportNow();
    const auto after = server->scans(QStringLiteral("bench_keys"), before.second + kLookups);
    figures.seqScans = after.first - before.first;
    figures.indexScans = after.second - before.second;

    const auto readAll = [&] {
        auto records = prog->OpenRecordset(QStringLiteral("select * from Klíče"));
        int count = 0;
        for (; !records->EOF(); records->MoveNext())
            ++count;
        check(count == kRows, QStringLiteral("the link read %1 rows, not %2").arg(count).arg(kRows));
    };
    figures.linkReadMs = bestOf(kRepeats, readAll);
    figures.psqlReadMs = bestOf(kRepeats, [&] {
        QProcess psql;
        psql.setStandardOutputFile(QProcess::nullDevice());
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("PGPASSWORD"), PostgresServer::password());
        psql.setProcessEnvironment(environment);
        psql.start(server->psqlPath(),
                   server->psqlArguments() +
                       QStringList{QStringLiteral("-c"), QStringLiteral("SELECT * FROM bench_keys")});
        check(psql.waitForFinished(120000) && psql.exitCode() == 0, QStringLiteral("psql did not read the rows"));
    });
    prog->Close();

    const QString data = dir.filePath(QStringLiteral("odbc-upsize.accdb"));
    makeUpsizeFile(data, kUpsizeRows);
    figures.upsizeRows = kUpsizeRows;
    const QString log = dir.filePath(QStringLiteral("upsize.log"));
    const ChildResult run = runChild(
        zuldb, {QStringLiteral("upsize"), QStringLiteral("--quiet"), data, server->connectString()}, {}, 600, log);
    check(run.started && !run.timedOut && run.exitStatus == 0, QStringLiteral("zuldb upsize failed; see %1").arg(log));
    check(server->psql(QStringLiteral("SELECT count(*) FROM \"Pohyby\"")) == QStringList{QString::number(kUpsizeRows)},
          QStringLiteral("the server does not hold every row of the upsize"));
    figures.upsizeMs = run.milliseconds;
    figures.upsizePeakMb = double(run.peakKilobytes) / 1024.0;
    return figures;
}
