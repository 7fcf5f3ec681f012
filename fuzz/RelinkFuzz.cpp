// A relink run into a program file made of arbitrary bytes: the run never
// crashes, every failure is reported, and a run that reports no failure has
// linked every table of the data file: the engine finds each link, and so
// does SQLite itself, once through the catalogue's key and once by reading
// every row, with one row per table and nothing else in it.

#include "DBEngine.h"
#include "FuzzSupport.h"
#include "Globals.h"
#include "ListFile.h"
#include "RelinkRun.h"
#include "WindowlessView.h"

#include <QFile>

#include <sqlite3.h>

namespace {

const QStringList kTables{QStringLiteral("Obce"), QStringLiteral("Osoby")};

// The data file, made once per process.
const QString& dataFile()
{
    static const QString path = [] {
        const QString file = fuzz::scratchPath(QStringLiteral("data.accdb"));
        std::unique_ptr<Database> db = DbEngine().CreateDatabase(file, dao::dbLangCzech, dao::dbVersion120);
        db->Execute(QStringLiteral("create table Osoby (ID long, Jmeno text(50))"));
        db->Execute(QStringLiteral("create table Obce (Nazev text(40))"));
        db->Close();
        return file;
    }();
    return path;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QString program = fuzz::scratchPath(QStringLiteral("ZUL.accdr"));
    for (const char* suffix : {"-wal", "-shm", "-journal"})
        QFile::remove(program + QLatin1String(suffix));
    fuzz::writeBytes(program, QByteArray(reinterpret_cast<const char*>(data), qsizetype(size)));

    resetGlobals();
    gIniPath = fuzz::scratchPath(QStringLiteral("ZUL.ini"));
    gListDbPath = fuzz::scratchPath(QStringLiteral("ZUL_db.accdb"));
    RecordingDesktop desktop;
    if (!QFile::exists(gListDbPath))
        CreateListFile(desktop);
    WindowlessView window;
    window.setProgramPathText(program);
    window.setText(dataFile());

    const RelinkReport report = RunRelink(window, desktop);
    FUZZ_CHECK(report.failed == !report.failures.isEmpty(), QString::number(report.failures.size()));
    for (const auto& failure : report.failures)
        FUZZ_CHECK(!failure.description.isEmpty(), QString::number(failure.step));
    if (report.failed)
        return 0;
    std::unique_ptr<Database> db = DbEngine().OpenDatabase(program);
    for (const QString& table : kTables) {
        std::shared_ptr<TableDef> def = db->TableDefs().Item(table);
        FUZZ_CHECK(def->Connect() == dao::dbConnectPrefix + dataFile(), table + QLatin1Char(' ') + def->Connect());
    }
    db->Close();

    sqlite3* raw = nullptr;
    FUZZ_CHECK(sqlite3_open_v2(program.toUtf8().constData(), &raw, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK,
               QStringLiteral("reopen"));
    const auto rows = [&](const char* sql, const QString& table) {
        QStringList found;
        sqlite3_stmt* statement = nullptr;
        if (sqlite3_prepare_v2(raw, sql, -1, &statement, nullptr) != SQLITE_OK)
            return QStringList{QStringLiteral("<error> ") + QString::fromUtf8(sqlite3_errmsg(raw))};
        const QByteArray name = table.toUtf8();
        sqlite3_bind_text(statement, 1, name.constData(), int(name.size()), SQLITE_TRANSIENT);
        while (sqlite3_step(statement) == SQLITE_ROW)
            found << QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(statement, 0)));
        sqlite3_finalize(statement);
        return found;
    };
    for (const QString& table : kTables) {
        // The source table is left as it was (a re-pointed link keeps it).
        const QStringList expected{dao::dbConnectPrefix + dataFile()};
        const QStringList scanned =
            rows("SELECT Connect FROM MSysObjects NOT INDEXED WHERE lower(Name)=lower(?1)", table);
        const QStringList keyed = rows("SELECT Connect FROM MSysObjects WHERE NameKey=lower(?1)", table);
        FUZZ_CHECK(scanned == expected, table + QLatin1Char(' ') + scanned.join(QLatin1Char(';')));
        FUZZ_CHECK(keyed == expected, table + QLatin1Char(' ') + keyed.join(QLatin1Char(';')));
    }
    sqlite3_close(raw);
    return 0;
}
