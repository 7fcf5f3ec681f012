#include "BenchFiles.h"

#include "DBEngine.h"
#include "Globals.h"

#include <memory>

namespace {

std::unique_ptr<Database> createDatabase(const QString& path)
{
    return DbEngine().CreateDatabase(path, dao::dbLangCzech, dao::dbVersion120);
}

// Runs statements in one transaction: setting up thousands of tables with a
// durable commit each would take longer than the measurements themselves.
template <typename Body> void inOneTransaction(Database& db, Body&& body)
{
    db.Execute(QStringLiteral("begin"));
    try {
        body();
    } catch (...) {
        try {
            db.Execute(QStringLiteral("rollback"));
        } catch (...) {
        }
        throw;
    }
    db.Execute(QStringLiteral("commit"));
}

} // namespace

void createDataFile(const QString& path, int tables)
{
    std::unique_ptr<Database> db = createDatabase(path);
    inOneTransaction(*db, [&] {
        for (int i = 1; i <= tables; ++i)
            db->Execute(QStringLiteral("create table [Tabulka%1] (ID long, Nazev text(50), Castka double, "
                                       "Datum datetime, Poznamka memo)")
                            .arg(i, 5, 10, QLatin1Char('0')));
    });
    db->TableDefs().Refresh();
    db->Close();
}

void createEmptyDatabase(const QString& path)
{
    createDatabase(path)->Close();
}

void fillListFile(int paths)
{
    std::unique_ptr<Database> db = DbEngine().OpenDatabase(gListDbPath);
    inOneTransaction(*db, [&] {
        for (int i = 1; i <= paths; ++i)
            db->Execute(QStringLiteral("insert into Databaze (Cesta, NovaDB) values (?, True)"),
                        {QStringLiteral("/srv/data/klient%1/ZUL_data.accdb").arg(i, 5, 10, QLatin1Char('0'))});
    });
    db->Close();
}

int countLinksTo(const QString& path, const QString& connect)
{
    std::unique_ptr<Database> db = DbEngine().OpenDatabase(path);
    TableDefCollection& defs = db->TableDefs();
    int links = 0;
    for (int i = 0; i < defs.Count(); ++i) {
        const std::shared_ptr<TableDef> def = defs.Item(i);
        if ((def->Attributes() & dao::dbAttachedTable) != 0 && def->Connect() == connect)
            ++links;
    }
    db->Close();
    return links;
}
