// A relink run into a program file made of arbitrary bytes: the run never
// crashes, every failure is reported, and a run that reports no failure has
// linked every table of the data file.

#include "DBEngine.h"
#include "FuzzSupport.h"
#include "Globals.h"
#include "ListFile.h"
#include "RelinkRun.h"
#include "WindowlessView.h"

#include <QFile>

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
    return 0;
}
