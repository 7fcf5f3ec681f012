// Changes through links: each lands in the data file's source table, checked
// with plain SQLite on the data file; the data file's rules hold with the
// engine's errors; names from the files are names, never SQL.

#include "DBEngine.h"

#include "EngineTestSupport.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

class LinkWrites : public ::testing::Test {
protected:
    QString path(const QString& name) const { return m_dir.filePath(name); }

    // A data file with the table "source" (a key, a required text of five units) and two rows.
    QString makeData(const QString& file, const QString& source = QStringLiteral("Osoby"))
    {
        auto data = DbEngine().CreateDatabase(path(file), dao::dbLangCzech, dao::dbVersion120);
        const QString table = QLatin1Char('"') + QString(source).replace(QLatin1Char('"'), QStringLiteral("\"\"")) +
                              QLatin1Char('"');
        data->Execute(QStringLiteral("create table %1 (ID long not null primary key, Jmeno text(5) not null)")
                          .arg(table));
        data->Execute(QStringLiteral("insert into %1 values (1, 'Hana')").arg(table));
        data->Execute(QStringLiteral("insert into %1 values (2, 'Ivan')").arg(table));
        return path(file);
    }

    std::unique_ptr<Database> makeProgram(const QList<std::pair<QString, QString>>& links,
                                          const QString& file = QStringLiteral("prog.accdr"),
                                          const QString& source = QStringLiteral("Osoby"))
    {
        auto prog = DbEngine().CreateDatabase(path(file), dao::dbLangCzech, dao::dbVersion120);
        for (const auto& [name, data] : links) {
            auto def = prog->CreateTableDef(name);
            def->setConnect(dao::dbConnectPrefix + data);
            def->setSourceTableName(source);
            prog->TableDefs().Append(def);
        }
        return prog;
    }

    QTemporaryDir m_dir;
};

} // namespace

TEST_F(LinkWrites, changesThroughALinkLandInTheDataFilesSourceTable)
{
    struct Case {
        const char* name;
        std::vector<const char*> statements;
        QStringList expected; // ID|Jmeno in the data file, by ID
    };
    const std::vector<Case> cases = {
        {"insert", {"insert into Lide (ID, Jmeno) values (3, 'Eva')"}, {"1|Hana", "2|Ivan", "3|Eva"}},
        {"insert with a parameter list of the engine's dialect", {"insert into [Lide] values (4, 'Řehoř')"},
         {"1|Hana", "2|Ivan", "4|Řehoř"}},
        {"update naming the link in its condition", {"update Lide set Jmeno='Iva' where Lide.ID=2"},
         {"1|Hana", "2|Iva"}},
        {"update reading the link in a subquery",
         {"update lide set Jmeno='Max' where ID=(select max(ID) from Lide)"}, {"1|Hana", "2|Max"}},
        {"delete of the engine's dialect", {"delete * from Lide where Jmeno='hana'"}, {"2|Ivan"}},
        {"delete everything", {"delete from LIDE"}, {}},
    };
    for (const Case& c : cases) {
        const auto number = &c - cases.data();
        const QString data = makeData(QStringLiteral("%1.accdb").arg(number));
        const QString program = QStringLiteral("%1.accdr").arg(number);
        auto prog = makeProgram({{QStringLiteral("Lide"), data}}, program);
        for (const char* sql : c.statements)
            EXPECT_EQ(errorOf([&] { prog->Execute(QString::fromUtf8(sql)); }), QStringLiteral("no error")) << c.name;
        EXPECT_EQ(rawQuery(data, QStringLiteral("select ID, Jmeno from Osoby order by ID")), c.expected) << c.name;
        // The program file holds no copy.
        EXPECT_EQ(rawQuery(path(program), QStringLiteral("select count(*) from sqlite_master where name='Lide'")),
                  QStringList{"0"})
            << c.name;
        prog->Close();
    }
}

TEST_F(LinkWrites, aRecordsetAddsItsRowToTheDataFile)
{
    const QString data = makeData(QStringLiteral("data.accdb"));
    auto prog = makeProgram({{QStringLiteral("Lide"), data}});
    auto records = prog->OpenRecordset(QStringLiteral("select * from Lide"));
    records->AddNew();
    records->setValue(QStringLiteral("ID"), 7);
    records->setValue(QStringLiteral("Jmeno"), QStringLiteral("Cyril"));
    records->Update();
    EXPECT_EQ(rawQuery(data, QStringLiteral("select Jmeno from Osoby where ID=7")), QStringList{"Cyril"});
}

TEST_F(LinkWrites, theDataFilesRulesHoldWithTheEnginesErrors)
{
    const QString data = makeData(QStringLiteral("data.accdb"));
    auto prog = makeProgram({{QStringLiteral("Lide"), data}});
    const struct {
        const char* sql;
        QString expected;
    } cases[] = {
        {"insert into Lide values (1, 'Eva')",
         QStringLiteral("3022|Změna nebyla provedena, protože by v tabulce 'Osoby' vytvořila duplicitní hodnotu v "
                        "jedinečném indexu.")},
        {"update Lide set ID=2 where ID=1",
         QStringLiteral("3022|Změna nebyla provedena, protože by v tabulce 'Osoby' vytvořila duplicitní hodnotu v "
                        "jedinečném indexu.")},
        // Five 16-bit units: two emoji and two letters are six.
        {"insert into Lide values (3, '😀😀ab')",
         QStringLiteral("3163|Pole 'Jmeno' je příliš malé pro zadaná data (nejvýše 5 znaků).")},
        {"insert into Lide (ID) values (4)", QStringLiteral("3314|Pole 'Osoby.Jmeno' musí obsahovat hodnotu.")},
    };
    for (const auto& c : cases)
        EXPECT_EQ(errorOf([&] { prog->Execute(QString::fromUtf8(c.sql)); }), c.expected) << c.sql;
    EXPECT_EQ(rawQuery(data, QStringLiteral("select ID, Jmeno from Osoby order by ID")),
              (QStringList{"1|Hana", "2|Ivan"}));
}

TEST_F(LinkWrites, aReadOnlyDataFileIsRefusedWithItsName)
{
    const QString data = makeData(QStringLiteral("data.accdb"));
    auto prog = makeProgram({{QStringLiteral("Lide"), data}});
    // No write permission bit: read-only for every user, the superuser included.
    ASSERT_TRUE(QFile::setPermissions(data, QFileDevice::ReadOwner | QFileDevice::ReadGroup));
    const QString refused =
        QStringLiteral("3027|Propojenou tabulku 'Lide' nelze měnit: do datového souboru '%1' nelze zapisovat.").arg(data);
    EXPECT_EQ(errorOf([&] { prog->Execute(QStringLiteral("delete from Lide")); }), refused);
    EXPECT_EQ(errorOf([&] {
                  auto records = prog->OpenRecordset(QStringLiteral("select * from Lide"));
                  records->AddNew();
                  records->setValue(QStringLiteral("ID"), 9);
                  records->Update();
              }),
              refused);
    EXPECT_EQ(column(*prog, QStringLiteral("select Jmeno from Lide order by Jmeno"), QStringLiteral("Jmeno")),
              (QStringList{"Hana", "Ivan"}));
    // Redefining a link stays refused: its definition is the data file's.
    EXPECT_EQ(errorOf([&] { prog->Execute(QStringLiteral("alter table Lide add column X long")); }),
              QStringLiteral("3027|Propojenou tabulku 'Lide' nelze v tomto souboru měnit."));
}

TEST_F(LinkWrites, aTransactionOverSeveralDataFilesCommitsOrRollsBackThemAll)
{
    const QString a = makeData(QStringLiteral("a.accdb"));
    const QString b = makeData(QStringLiteral("b.accdb"));
    auto prog = makeProgram({{QStringLiteral("A"), a}, {QStringLiteral("B"), b}});
    prog->Execute(QStringLiteral("create table Log (N long)"));
    const auto counts = [&] {
        return rawQuery(path(QStringLiteral("prog.accdr")), QStringLiteral("select count(*) from Log")) +
               rawQuery(a, QStringLiteral("select count(*) from Osoby")) +
               rawQuery(b, QStringLiteral("select count(*) from Osoby"));
    };
    for (const bool commit : {false, true}) {
        prog->BeginTrans();
        prog->Execute(QStringLiteral("insert into Log values (1)"));
        prog->Execute(QStringLiteral("insert into A values (10, 'A')"));
        prog->Execute(QStringLiteral("insert into B values (10, 'B')"));
        // A failed change inside the transaction leaves the others to the caller's decision.
        EXPECT_NE(errorOf([&] { prog->Execute(QStringLiteral("insert into B values (10, 'B')")); }),
                  QStringLiteral("no error"));
        EXPECT_EQ(counts(), (QStringList{"0", "2", "2"})) << "others see nothing before the commit";
        if (commit)
            prog->CommitTrans();
        else
            prog->Rollback();
        EXPECT_EQ(counts(), commit ? (QStringList{"1", "3", "3"}) : (QStringList{"0", "2", "2"})) << commit;
    }
}

TEST_F(LinkWrites, namesFromTheFilesAreNamesNeverSql)
{
    const QStringList hostile = {QStringLiteral("]"), QStringLiteral("\""), QStringLiteral("'"), QStringLiteral(";"),
                                 QStringLiteral("x'); drop table MSysObjects; --"), QStringLiteral("a\"b] [c"),
                                 QStringLiteral("Osoby; select 1")};
    for (const QString& name : hostile) {
        QTemporaryDir dir;
        const QString folder = dir.filePath(QStringLiteral("d'a\"t;a ]"));
        ASSERT_TRUE(QDir().mkpath(folder));
        const QString data = QDir(folder).filePath(QStringLiteral("da'ta\".accdb"));
        {
            auto file = DbEngine().CreateDatabase(data, dao::dbLangCzech, dao::dbVersion120);
            auto def = file->CreateTableDef(name);
            def->appendField(def->CreateField(QStringLiteral("ID"), dao::dbLong));
            file->TableDefs().Append(def);
        }
        auto prog = DbEngine().CreateDatabase(QDir(folder).filePath(QStringLiteral("p'r\"og.accdr")), dao::dbLangCzech,
                                              dao::dbVersion120);
        auto def = prog->CreateTableDef(name);
        def->setConnect(dao::dbConnectPrefix + data);
        def->setSourceTableName(name);
        prog->TableDefs().Append(def);
        const QString quoted = QLatin1Char('"') + QString(name).replace(QLatin1Char('"'), QStringLiteral("\"\"")) +
                               QLatin1Char('"');
        EXPECT_EQ(errorOf([&] { prog->Execute(QStringLiteral("insert into %1 values (5)").arg(quoted)); }),
                  QStringLiteral("no error"))
            << name.toStdString();
        EXPECT_EQ(column(*prog, QStringLiteral("select ID from %1").arg(quoted), QStringLiteral("ID")),
                  QStringList{"5"})
            << name.toStdString();
        EXPECT_EQ(rawQuery(data, QStringLiteral("select ID from %1").arg(quoted)), QStringList{"5"}) << name.toStdString();
        EXPECT_EQ(tableNames(*prog).size(), 4) << name.toStdString();
    }
}

TEST_F(LinkWrites, aLinkIntoTheProgramFileItselfIsRefused)
{
    auto prog = makeProgram({});
    prog->Execute(QStringLiteral("create table Vlastni (A long)"));
    const QString self = path(QStringLiteral("prog.accdr"));
    auto def = prog->CreateTableDef(QStringLiteral("Kruh"));
    def->setConnect(dao::dbConnectPrefix + self);
    def->setSourceTableName(QStringLiteral("Vlastni"));
    const QString refused =
        QStringLiteral("3219|Propojená tabulka '%1' ukazuje na soubor '%2', což je tento soubor sám.");
    EXPECT_EQ(errorOf([&] { prog->TableDefs().Append(def); }), refused.arg(QStringLiteral("Vlastni"), self));
    // One stored around the check fails when used, never loops.
    prog->TableDefs().AppendUnrefreshed(def);
    EXPECT_EQ(errorOf([&] { prog->Execute(QStringLiteral("select * from Kruh")); }),
              refused.arg(QStringLiteral("Kruh"), self));
    // A circle through another file ends at the first link: a link is no table to read through.
    const QString other = path(QStringLiteral("other.accdb"));
    {
        auto file = DbEngine().CreateDatabase(other, dao::dbLangCzech, dao::dbVersion120);
        auto back = file->CreateTableDef(QStringLiteral("Zpet"));
        back->setConnect(dao::dbConnectPrefix + self);
        back->setSourceTableName(QStringLiteral("Tam"));
        file->TableDefs().AppendUnrefreshed(back);
    }
    auto there = prog->CreateTableDef(QStringLiteral("Tam"));
    there->setConnect(dao::dbConnectPrefix + other);
    there->setSourceTableName(QStringLiteral("Zpet"));
    prog->TableDefs().AppendUnrefreshed(there);
    EXPECT_EQ(errorOf([&] { prog->Execute(QStringLiteral("select * from Tam")); }),
              QStringLiteral("3011|Zdrojová tabulka 'Zpet' nebyla v souboru '%1' nalezena.").arg(other));
}

TEST_F(LinkWrites, linksIntoTwelveDataFilesAreReadAndChangedInTurn)
{
    QList<std::pair<QString, QString>> links;
    for (int i = 0; i < 12; ++i)
        links.append({QStringLiteral("T%1").arg(i), makeData(QStringLiteral("d%1.accdb").arg(i))});
    auto prog = makeProgram(links);
    for (const auto& [name, data] : links) {
        prog->Execute(QStringLiteral("update %1 set Jmeno=? where ID=1").arg(name), {name});
        EXPECT_EQ(rawQuery(data, QStringLiteral("select Jmeno from Osoby where ID=1")), QStringList{name});
    }
    for (const auto& [name, data] : links)
        EXPECT_EQ(column(*prog, QStringLiteral("select Jmeno from %1 where ID=1").arg(name), QStringLiteral("Jmeno")),
                  QStringList{name});
}
