#include "LinkBench.h"

#include "DBEngine.h"
#include "RunTimeError.h"
#include "Timing.h"

#include <QDir>
#include <QProcess>

#include <sqlite3.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <stdexcept>
#include <vector>

namespace {

constexpr int kRows = 200000;
constexpr int kLoadLinks = 500;
constexpr int kLoadFiles = 3;
constexpr int kChanges = 100;
constexpr int kRepeats = 5;

void check(bool condition, const char* what)
{
    if (!condition)
        throw std::runtime_error(what);
}

// A data file of the engine with one table Osoby of rows rows, filled through plain SQLite for speed.
QString makeDataFile(const QString& path, int rows)
{
    DbEngine()
        .CreateDatabase(path, dao::dbLangCzech, dao::dbVersion120)
        ->Execute(QStringLiteral("create table Osoby (ID long not null primary key, Jmeno text(50), Vek long)"));
    sqlite3* db = nullptr;
    check(sqlite3_open(path.toUtf8().constData(), &db) == SQLITE_OK, "cannot open the data file");
    sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr);
    sqlite3_stmt* insert = nullptr;
    sqlite3_prepare_v2(db, "INSERT INTO Osoby VALUES (?1, 'Jméno ' || ?1, ?1 % 90)", -1, &insert, nullptr);
    for (int i = 1; i <= rows; ++i) {
        sqlite3_bind_int(insert, 1, i);
        sqlite3_step(insert);
        sqlite3_reset(insert);
    }
    sqlite3_finalize(insert);
    check(sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr) == SQLITE_OK, "cannot fill the data file");
    sqlite3_close(db);
    return path;
}

void link(Database& prog, const QString& name, const QString& data)
{
    auto def = prog.CreateTableDef(name);
    def->setConnect(dao::dbConnectPrefix + data);
    def->setSourceTableName(QStringLiteral("Osoby"));
    prog.TableDefs().Append(def);
}

int readAll(Database& db, const QString& table)
{
    auto records = db.OpenRecordset(QStringLiteral("select * from ") + table);
    int count = 0;
    while (!records->EOF()) {
        ++count;
        records->MoveNext();
    }
    return count;
}

// The best of five full reads in Python through the extension: of the data file and through the link.
bool pythonReads(const QString& extension, const QString& data, const QString& program, LinkFigures& figures)
{
    static const char* script = R"(
import sqlite3, sys, time
extension, data, program = sys.argv[1:4]
def best(path):
    db = sqlite3.connect(path)
    db.enable_load_extension(True)
    db.load_extension(extension)
    db.enable_load_extension(False)
    least = None
    for _ in range(5):
        start = time.perf_counter()
        count = sum(1 for _ in db.execute("SELECT * FROM Osoby"))
        elapsed = (time.perf_counter() - start) * 1000
        least = elapsed if least is None else min(least, elapsed)
    assert count == int(sys.argv[4]), count
    return least
print(best(data), best(program))
)";
    QProcess python;
    python.start(QStringLiteral("/usr/bin/python3"),
                 {QStringLiteral("-c"), QString::fromLatin1(script), extension, data, program, QString::number(kRows)});
    if (!python.waitForFinished(300000) || python.exitCode() != 0)
        return false;
    const QStringList figuresText = QString::fromUtf8(python.readAllStandardOutput()).split(QLatin1Char(' '));
    if (figuresText.size() != 2)
        return false;
    figures.pythonDirectMs = figuresText.at(0).toDouble();
    figures.pythonLinkMs = figuresText.at(1).trimmed().toDouble();
    return true;
}

double medianLoadMs(const QString& extension, const QString& program)
{
    std::vector<double> loads;
    for (int i = 0; i < 7; ++i) {
        sqlite3* db = nullptr;
        check(sqlite3_open_v2(program.toUtf8().constData(), &db, SQLITE_OPEN_READWRITE, nullptr) == SQLITE_OK,
              "cannot open the program file");
        sqlite3_db_config(db, SQLITE_DBCONFIG_ENABLE_LOAD_EXTENSION, 1, nullptr);
        int rc = SQLITE_OK;
        loads.push_back(
            millisecondsOf([&] { rc = sqlite3_load_extension(db, extension.toUtf8().constData(), nullptr, nullptr); }));
        check(rc == SQLITE_OK, "cannot load the extension");
        sqlite3_stmt* count = nullptr;
        const QByteArray last = QStringLiteral("SELECT count(*) FROM Tabulka%1").arg(kLoadLinks - 1).toUtf8();
        sqlite3_prepare_v2(db, last.constData(), -1, &count, nullptr);
        check(sqlite3_step(count) == SQLITE_ROW && sqlite3_column_int(count, 0) == 10,
              "the extension did not make every link");
        sqlite3_finalize(count);
        sqlite3_close(db);
    }
    std::sort(loads.begin(), loads.end());
    return loads[loads.size() / 2];
}

} // namespace

LinkFigures measureLinks(const QString& work, const QString& extension)
{
    LinkFigures figures;
    figures.rows = kRows;
    const QDir dir(work);
    const QString data = makeDataFile(dir.filePath(QStringLiteral("links-data.accdb")), kRows);
    const QString program = dir.filePath(QStringLiteral("links-prog.accdr"));
    {
        auto prog = DbEngine().CreateDatabase(program, dao::dbLangCzech, dao::dbVersion120);
        link(*prog, QStringLiteral("Osoby"), data);
    }
    {
        auto direct = DbEngine().OpenDatabase(data);
        auto prog = DbEngine().OpenDatabase(program);
        check(readAll(*prog, QStringLiteral("Osoby")) == kRows, "the link did not read every row");
        figures.engineDirectMs = bestOf(kRepeats, [&] { readAll(*direct, QStringLiteral("Osoby")); });
        figures.engineLinkMs = bestOf(kRepeats, [&] { readAll(*prog, QStringLiteral("Osoby")); });

        const QString change = QStringLiteral("update Osoby set Vek=? where ID=?");
        figures.changes = kChanges;
        figures.changeDirectMs = millisecondsOf([&] {
                                     for (int i = 0; i < kChanges; ++i)
                                         direct->Execute(change, {i, i + 1});
                                 }) /
                                 kChanges;
        figures.changeLinkMs = millisecondsOf([&] {
                                   for (int i = 0; i < kChanges; ++i)
                                       prog->Execute(change, {i + 1, i + 1});
                               }) /
                               kChanges;
    }
    if (!pythonReads(extension, data, program, figures))
        figures.pythonDirectMs = figures.pythonLinkMs = -1;

    figures.loadLinks = kLoadLinks;
    figures.loadFiles = kLoadFiles;
    QStringList files;
    for (int i = 0; i < kLoadFiles; ++i)
        files << makeDataFile(dir.filePath(QStringLiteral("load-data%1.accdb").arg(i)), 10);
    const QString many = dir.filePath(QStringLiteral("load-prog.accdr"));
    {
        auto prog = DbEngine().CreateDatabase(many, dao::dbLangCzech, dao::dbVersion120);
        prog->BeginTrans();
        for (int i = 0; i < kLoadLinks; ++i)
            link(*prog, QStringLiteral("Tabulka%1").arg(i), files.at(i % kLoadFiles));
        prog->CommitTrans();
    }
    figures.loadMs = medianLoadMs(extension, many);
    return figures;
}
