#include "DBEngine.h"

#include "EngineTestSupport.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

const QString systemAttributes = QStringLiteral("0x80000002");

class Engine : public ::testing::Test {
protected:
    QString path(const QString& name) const { return m_dir.filePath(name); }

    std::unique_ptr<Database> create(const QString& name, const QString& locale = dao::dbLangCzech)
    {
        return DbEngine().CreateDatabase(path(name), locale, dao::dbVersion120);
    }

    // A data file with one table per (name, SQL columns) and the given rows.
    void makeDataFile(const QString& name, const QStringList& tables, const QStringList& inserts = {})
    {
        auto db = create(name);
        for (const QString& table : tables)
            db->Execute(QStringLiteral("create table ") + table);
        for (const QString& insert : inserts)
            db->Execute(insert);
        db->Close();
    }

    std::shared_ptr<TableDef> link(Database& db, const QString& name, const QString& dataPath,
                                   const QString& source = QString())
    {
        auto def = db.CreateTableDef();
        def->setConnect(dao::dbConnectPrefix + dataPath);
        def->setSourceTableName(source.isEmpty() ? name : source);
        def->setName(name);
        db.TableDefs().Append(def);
        return def;
    }

    QTemporaryDir m_dir;
};

QString hex(qint32 attributes)
{
    return QStringLiteral("0x") +
           QString::number(quint32(attributes), 16).toUpper().rightJustified(8, QLatin1Char('0'));
}

} // namespace

TEST_F(Engine, newFileReopensWithItsCatalogAsSystemTables)
{
    auto db = create(QStringLiteral("prog.accdr"));
    EXPECT_EQ(db->Name(), path(QStringLiteral("prog.accdr")));
    db->Close();

    auto reopened = DbEngine().OpenDatabase(path(QStringLiteral("prog.accdr")));
    auto& defs = reopened->TableDefs();
    ASSERT_EQ(defs.Count(), 3);
    EXPECT_EQ(tableNames(*reopened), (QStringList{"MSysFields", "MSysInfo", "MSysObjects"}));
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(hex(defs.Item(i)->Attributes()), systemAttributes);
    EXPECT_EQ(
        column(*reopened, QStringLiteral("select Value from MSysInfo where Name='Locale'"), QStringLiteral("Value")),
        QStringList{dao::dbLangCzech});
}

TEST_F(Engine, createRefusesAnExistingFileAndAMissingFolder)
{
    create(QStringLiteral("a.accdb"))->Close();
    const QByteArray before = fileBytes(path(QStringLiteral("a.accdb")));
    EXPECT_EQ(errorOf([&] { create(QStringLiteral("a.accdb")); }),
              QStringLiteral("3204|Databáze '%1' již existuje.").arg(path(QStringLiteral("a.accdb"))));
    EXPECT_EQ(fileBytes(path(QStringLiteral("a.accdb"))), before);
    EXPECT_EQ(errorOf([&] { create(QStringLiteral("no/b.accdb")); }),
              QStringLiteral("3044|Složka '%1' neexistuje.").arg(path(QStringLiteral("no"))));
    EXPECT_FALSE(QFileInfo::exists(path(QStringLiteral("no"))));
}

TEST_F(Engine, badFilesRaiseNumberedErrorsAndStayByteIdentical)
{
    QDir(m_dir.path()).mkdir(QStringLiteral("folder.accdb"));
    writeBytes(path(QStringLiteral("empty.accdb")), QByteArray());
    writeBytes(path(QStringLiteral("garbage.accdb")), QByteArray(3000, '\x5a'));
    // The header of a file of the original engine's format.
    writeBytes(path(QStringLiteral("jet.accdb")),
               QByteArray("\x00\x01\x00\x00Standard ACE DB", 19) + QByteArray(4077, 0));
    writeBytes(path(QStringLiteral("short.accdb")), QByteArray("SQLite format 3\0", 16) + QByteArray(100, 0));
    writeBytes(path(QStringLiteral("header.accdb")), QByteArray("SQLite format 3\0", 16) + QByteArray(4080, '\xff'));

    struct Case {
        QString name;
        QString expected;
    };
    const QList<Case> cases = {
        {QString(), QStringLiteral("3024|Soubor '' nebyl nalezen.")},
        {QStringLiteral("missing.accdb"), QStringLiteral("3024|Soubor '%1' nebyl nalezen.")},
        {QStringLiteral("folder.accdb"), QStringLiteral("3024|'%1' je složka, nikoli databázový soubor.")},
        {QStringLiteral("empty.accdb"), QStringLiteral("3343|Nerozpoznaný formát databáze '%1'.")},
        {QStringLiteral("garbage.accdb"), QStringLiteral("3343|Nerozpoznaný formát databáze '%1'.")},
        {QStringLiteral("jet.accdb"), QStringLiteral("3343|Nerozpoznaný formát databáze '%1'.")},
        {QStringLiteral("short.accdb"), QStringLiteral("3343|Nerozpoznaný formát databáze '%1'.")},
        {QStringLiteral("header.accdb"), QStringLiteral("3343|Nerozpoznaný formát databáze '%1'.")},
    };
    for (const Case& c : cases) {
        const QString file = c.name.isEmpty() ? QString() : path(c.name);
        const QByteArray before = file.isEmpty() ? QByteArray() : fileBytes(file);
        const QString expected = file.isEmpty() ? c.expected : c.expected.arg(file);
        EXPECT_EQ(errorOf([&] { DbEngine().OpenDatabase(file); }), expected) << c.name.toStdString();
        if (!file.isEmpty()) {
            EXPECT_EQ(fileBytes(file), before) << c.name.toStdString();
        }
    }
    EXPECT_EQ(
        QDir(m_dir.path()).entryList(QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot),
        (QStringList{"empty.accdb", "folder.accdb", "garbage.accdb", "header.accdb", "jet.accdb", "short.accdb"}));
}

// A name or a statement holding "%2" is shown as it is, not filled in with the error's next argument.
TEST_F(Engine, errorTextsShowPercentSignsOfNamesAndStatementsAsTheyAre)
{
    auto db = create(QStringLiteral("a.accdb"));
    db->Execute(QStringLiteral("create table T (\"a%2\" text(2))"));
    EXPECT_EQ(errorOf([&] { db->Execute(QStringLiteral("insert into T values ('abc')")); }),
              QStringLiteral("3163|Pole 'a%2' je příliš malé pro zadaná data (nejvýše 2 znaky)."));
    const QString error =
        errorOf([&] { db->Execute(QStringLiteral("delete from T where \"a%2\" like '%2%' and 1 = ?")); });
    EXPECT_TRUE(error.startsWith(QStringLiteral("3000|Příkaz SQL '"))) << error.toStdString();
    EXPECT_TRUE(error.contains(QStringLiteral("like '%2%'"))) << error.toStdString();
    EXPECT_TRUE(error.endsWith(QStringLiteral("' očekává 1 parametrů, zadáno bylo 0."))) << error.toStdString();
}

TEST_F(Engine, closedDatabaseAndItsObjectsRaiseAndCloseTwiceIsHarmless)
{
    auto db = create(QStringLiteral("a.accdb"));
    db->Execute(QStringLiteral("create table T (A text(10))"));
    auto def = db->TableDefs().Item(QStringLiteral("T"));
    auto records = db->OpenRecordset(QStringLiteral("select * from T"));
    db->Close();
    EXPECT_NO_THROW(db->Close());
    EXPECT_FALSE(db->isOpen());
    const QString invalid = QStringLiteral("3420|Objekt je neplatný nebo již není nastaven.");
    EXPECT_EQ(errorOf([&] { db->Execute(QStringLiteral("delete from T")); }), invalid);
    EXPECT_EQ(errorOf([&] { db->TableDefs(); }), invalid);
    EXPECT_EQ(errorOf([&] { db->Name(); }), invalid);
    EXPECT_EQ(errorOf([&] { def->Name(); }), invalid);
    EXPECT_EQ(errorOf([&] { records->EOF(); }), invalid);
}

TEST_F(Engine, tableMadeThroughSqlIsADefinitionWithSizedFieldsInCaseInsensitiveOrder)
{
    auto db = create(QStringLiteral("a.accdb"));
    db->Execute(QStringLiteral("create table beta (Name text(50), Flag yesno, Note memo, N long, [Plain Text] text)"));
    db->Execute(QStringLiteral("create table Alpha (X double)"));
    db->Execute(QStringLiteral("create table gamma (D datetime)"));
    EXPECT_EQ(tableNames(*db), (QStringList{"Alpha", "beta", "gamma", "MSysFields", "MSysInfo", "MSysObjects"}));

    auto def = db->TableDefs().Item(QStringLiteral("BETA"));
    EXPECT_EQ(def->Name(), QStringLiteral("beta"));
    EXPECT_EQ(def->Attributes(), 0);
    QStringList described;
    for (const auto& field : def->fields())
        described << QStringLiteral("%1:%2:%3").arg(field->Name).arg(field->Type).arg(field->Size);
    EXPECT_EQ(described, (QStringList{"Name:10:50", "Flag:1:0", "Note:12:0", "N:4:0", "Plain Text:10:255"}));
    EXPECT_EQ(errorOf([&] { db->TableDefs().Item(QStringLiteral("delta")); }),
              QStringLiteral("3265|Položka nebyla v této kolekci nalezena."));
    EXPECT_EQ(errorOf([&] { db->TableDefs().Item(6); }),
              QStringLiteral("3265|Položka nebyla v této kolekci nalezena."));
}

TEST_F(Engine, listFileSchemaFromDefinitionsSurvivesReopening)
{
    {
        auto db = create(QStringLiteral("ZUL_db.accdb"));
        auto def = db->CreateTableDef(QStringLiteral("Databaze"));
        def->appendField(def->CreateField(QStringLiteral("Jmeno"), dao::dbText, 50));
        def->appendField(def->CreateField(QStringLiteral("Cesta"), dao::dbText, 255));
        def->appendField(def->CreateField(QStringLiteral("NovaDB"), dao::dbBoolean));
        auto cesta = def->CreateIndex(QStringLiteral("Cesta"));
        cesta->Unique = true;
        cesta->Fields << QStringLiteral("Cesta");
        def->appendIndex(cesta);
        auto key = def->CreateIndex(QStringLiteral("Klic \"A\""));
        key->Primary = true;
        key->Fields << QStringLiteral("Jmeno");
        def->appendIndex(key);
        auto nova = def->CreateIndex(QStringLiteral("NovaDB"));
        nova->Fields << QStringLiteral("NovaDB");
        def->appendIndex(nova);
        def->refreshFields();
        def->field(QStringLiteral("Jmeno"))->AllowZeroLength = true;
        def->field(QStringLiteral("Cesta"))->AllowZeroLength = true;
        db->TableDefs().Append(def);
        db->TableDefs().Refresh();
        EXPECT_TRUE(def->isAttached());
        db->Close();
    }
    auto db = DbEngine().OpenDatabase(path(QStringLiteral("ZUL_db.accdb")));
    auto def = db->TableDefs().Item(QStringLiteral("databaze"));
    QStringList described;
    for (const auto& field : def->fields())
        described << QStringLiteral("%1:%2:%3:%4")
                         .arg(field->Name)
                         .arg(field->Type)
                         .arg(field->Size)
                         .arg(field->AllowZeroLength);
    EXPECT_EQ(described, (QStringList{"Jmeno:10:50:1", "Cesta:10:255:1", "NovaDB:1:0:0"}));
    QStringList indexes;
    for (const auto& index : def->indexes())
        indexes << QStringLiteral("%1:%2:%3:%4")
                       .arg(index->Name)
                       .arg(index->Unique)
                       .arg(index->Primary)
                       .arg(index->Fields.join(','));
    EXPECT_EQ(indexes, (QStringList{"Klic \"A\":1:1:Jmeno", "Cesta:1:0:Cesta", "NovaDB:0:0:NovaDB"}));
    EXPECT_EQ(column(*db, QStringLiteral("select count(*) as N from Databaze"), QStringLiteral("N")), QStringList{"0"});
}

TEST_F(Engine, foreignSqliteFileOpensListsAndReadsWithoutBeingWritten)
{
    const QString file = path(QStringLiteral("foreign.db"));
    rawQuery(file, QStringLiteral("create table Zbozi (Nazev text, Cena real)"));
    rawQuery(file, QStringLiteral("insert into Zbozi values ('Mléko', 21.5)"));
    const QByteArray before = fileBytes(file);
    {
        auto db = DbEngine().OpenDatabase(file);
        EXPECT_EQ(tableNames(*db), QStringList{"Zbozi"});
        EXPECT_EQ(db->TableDefs().Item(QStringLiteral("zbozi"))->Attributes(), 0);
        EXPECT_EQ(column(*db, QStringLiteral("select * from Zbozi"), QStringLiteral("Nazev")), QStringList{"Mléko"});
    }
    EXPECT_EQ(fileBytes(file), before);
    EXPECT_FALSE(QFileInfo::exists(file + QStringLiteral("-journal")));
}

TEST_F(Engine, czechTextOrderIsCaseInsensitiveAndAccentSensitive)
{
    auto db = create(QStringLiteral("a.accdb"));
    db->Execute(QStringLiteral("create table T (S text(20))"));
    for (const char* value : {"d", "i", "Ch", "č", "h", "C", "cz", "Čz", "e"})
        db->Execute(QStringLiteral("insert into T values (?)"), {QString::fromUtf8(value)});
    EXPECT_EQ(column(*db, QStringLiteral("select S from T order by S"), QStringLiteral("S")),
              (QStringList{"C", "cz", "č", "Čz", "d", "e", "h", "Ch", "i"}));
    EXPECT_EQ(column(*db, QStringLiteral("select S from T where S=? order by S"), QStringLiteral("S"), {"CZ"}),
              QStringList{"cz"});
    EXPECT_EQ(column(*db, QStringLiteral("select S from T where S=?"), QStringLiteral("S"), {"CH"}), QStringList{"Ch"});
}

TEST_F(Engine, generalLocaleKeepsChBetweenCAndD)
{
    auto db = create(QStringLiteral("a.accdb"), dao::dbLangGeneral);
    db->Execute(QStringLiteral("create table T (S text(20))"));
    for (const char* value : {"h", "ch", "i", "D"})
        db->Execute(QStringLiteral("insert into T values (?)"), {QString::fromUtf8(value)});
    EXPECT_EQ(column(*db, QStringLiteral("select S from T order by S"), QStringLiteral("S")),
              (QStringList{"ch", "D", "h", "i"}));
}

TEST_F(Engine, uniqueIndexSizeAndZeroLengthRulesRefuseRowsWithTheirNumbers)
{
    auto db = create(QStringLiteral("a.accdb"));
    auto def = db->CreateTableDef(QStringLiteral("Databaze"));
    def->appendField(def->CreateField(QStringLiteral("Cesta"), dao::dbText, 255));
    def->appendField(def->CreateField(QStringLiteral("Kod"), dao::dbText, 5)); // zero length not allowed
    auto index = def->CreateIndex(QStringLiteral("Cesta"));
    index->Unique = true;
    index->Fields << QStringLiteral("Cesta");
    def->appendIndex(index);
    def->field(QStringLiteral("Cesta"))->AllowZeroLength = true;
    db->TableDefs().Append(def);

    const QString insert = QStringLiteral("insert into Databaze (Cesta, Kod) values (?, ?)");
    db->Execute(insert, {QStringLiteral("/data/ABC.accdb"), QStringLiteral("x")});
    EXPECT_EQ(errorOf([&] {
                  db->Execute(insert, {QStringLiteral("/DATA/abc.accdb"), QStringLiteral("y")});
              }),
              QStringLiteral("3022|Změna nebyla provedena, protože by v tabulce 'Databaze' vytvořila duplicitní "
                             "hodnotu v jedinečném indexu."));
    db->Execute(insert, {QStringLiteral("/data/ábc.accdb"), QStringLiteral("y")}); // accents differ
    db->Execute(insert, {QString(255, QLatin1Char('p')), QStringLiteral("z")});
    EXPECT_EQ(errorOf([&] {
                  db->Execute(insert, {QString(256, QLatin1Char('q')), QStringLiteral("z")});
              }),
              QStringLiteral("3163|Pole 'Cesta' je příliš malé pro zadaná data (nejvýše 255 znaků)."));
    EXPECT_EQ(errorOf([&] {
                  db->Execute(insert, {QStringLiteral("/e"), QString()});
              }),
              QStringLiteral("3315|Pole 'Kod' nemůže obsahovat řetězec nulové délky."));
    db->Execute(insert, {QString(), QStringLiteral("w")});

    auto records = db->OpenRecordset(QStringLiteral("select * from Databaze"));
    records->AddNew();
    records->setValue(QStringLiteral("Cesta"), QString(300, QLatin1Char('r')));
    records->setValue(QStringLiteral("Kod"), QStringLiteral("v"));
    EXPECT_EQ(errorOf([&] { records->Update(); }),
              QStringLiteral("3163|Pole 'Cesta' je příliš malé pro zadaná data (nejvýše 255 znaků)."));
    EXPECT_EQ(column(*db, QStringLiteral("select count(*) as N from Databaze"), QStringLiteral("N")), QStringList{"4"});
}

TEST_F(Engine, recordSetAddsNavigatesAndSeesNewRowsAfterRequery)
{
    auto db = create(QStringLiteral("a.accdb"));
    db->Execute(QStringLiteral("create table Databaze (Jmeno text(50), Cesta text(255), NovaDB yesno)"));
    auto records = db->OpenRecordset(
        QStringLiteral("select * from Databaze where Databaze.Cesta Is Not Null order by Databaze.Cesta"));
    EXPECT_TRUE(records->BOF());
    EXPECT_TRUE(records->EOF());
    EXPECT_EQ(errorOf([&] { records->MoveLast(); }), QStringLiteral("3021|Neexistuje aktuální záznam."));
    EXPECT_EQ(errorOf([&] { records->value(QStringLiteral("Cesta")); }),
              QStringLiteral("3021|Neexistuje aktuální záznam."));
    EXPECT_EQ(errorOf([&] { records->Update(); }), QStringLiteral("3020|Update nebo CancelUpdate bez AddNew."));
    for (const char* cesta : {"/b/it's.accdb", "/a/x.accdb"}) {
        records->AddNew();
        records->setValue(QStringLiteral("Cesta"), QString::fromUtf8(cesta));
        records->setValue(QStringLiteral("NovaDB"), true);
        records->Update();
    }
    EXPECT_TRUE(records->EOF());
    records->Requery();
    records->MoveLast();
    records->MoveFirst();
    EXPECT_FALSE(records->BOF());
    EXPECT_EQ(records->value(QStringLiteral("Databaze.Cesta")).toString(), QStringLiteral("/a/x.accdb"));
    EXPECT_EQ(records->value(QStringLiteral("NovaDB")), QVariant(true));
    EXPECT_TRUE(records->value(QStringLiteral("Jmeno")).isNull());
    EXPECT_EQ(errorOf([&] { records->value(QStringLiteral("Nic")); }),
              QStringLiteral("3265|Položka nebyla v této kolekci nalezena."));
    records->MoveNext();
    EXPECT_EQ(records->value(QStringLiteral("cesta")).toString(), QStringLiteral("/b/it's.accdb"));
    records->MoveNext();
    EXPECT_TRUE(records->EOF());
    EXPECT_EQ(errorOf([&] { records->MoveNext(); }), QStringLiteral("3021|Neexistuje aktuální záznam."));
    records->Close();
    EXPECT_EQ(rawQuery(path(QStringLiteral("a.accdb")), QStringLiteral("select NovaDB from Databaze")),
              (QStringList{"-1", "-1"}));

    // A parameter matches a path with an apostrophe exactly, and only it.
    db->Execute(QStringLiteral("delete * from Databaze where Databaze.Cesta=?"), {QStringLiteral("/B/IT'S.accdb")});
    EXPECT_EQ(column(*db, QStringLiteral("select Cesta from Databaze"), QStringLiteral("Cesta")),
              QStringList{"/a/x.accdb"});
}

TEST_F(Engine, appendedLinkRecordsFieldsAndReadsTheDataFilesRows)
{
    makeDataFile(QStringLiteral("data.accdb"), {QStringLiteral("Zakaznici (Jmeno text(40), Vek long)")},
                 {QStringLiteral("insert into Zakaznici values ('Hana', 30)"),
                  QStringLiteral("insert into Zakaznici values ('Adam', 41)")});
    auto prog = create(QStringLiteral("prog.accdr"));
    const QString previous = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(m_dir.path()));
    const std::shared_ptr<void> restore(nullptr, [&previous](void*) { QDir::setCurrent(previous); });
    auto def = link(*prog, QStringLiteral("Zakaznici"), QStringLiteral("data.accdb")); // relative to the current folder
    EXPECT_EQ(hex(def->Attributes()), QStringLiteral("0x40000000"));

    auto found = prog->TableDefs().Item(QStringLiteral("zakaznici"));
    EXPECT_EQ(found->Connect(), QStringLiteral(";DATABASE=data.accdb"));
    EXPECT_EQ(found->SourceTableName(), QStringLiteral("Zakaznici"));
    QStringList fields;
    for (const auto& field : found->fields())
        fields << QStringLiteral("%1:%2:%3").arg(field->Name).arg(field->Type).arg(field->Size);
    EXPECT_EQ(fields, (QStringList{"Jmeno:10:40", "Vek:4:0"}));
    EXPECT_EQ(column(*prog, QStringLiteral("select * from Zakaznici order by Jmeno"), QStringLiteral("Jmeno")),
              (QStringList{"Adam", "Hana"}));
    EXPECT_EQ(column(*prog, QStringLiteral("select Zakaznici.Vek from Zakaznici where Jmeno=?"), QStringLiteral("Vek"),
                     {QStringLiteral("HANA")}),
              QStringList{"30"});
    prog->Close();
    // A program file holds no custom collation: stock SQLite checks it whole.
    EXPECT_EQ(rawQuery(path(QStringLiteral("prog.accdr")), QStringLiteral("pragma integrity_check")),
              QStringList{"ok"});
}

TEST_F(Engine, refreshLinkAppliesTheHeldConnectAndTheNewFieldsTogether)
{
    makeDataFile(QStringLiteral("old.accdb"), {QStringLiteral("T (A text(10))")},
                 {QStringLiteral("insert into T values ('old')")});
    makeDataFile(QStringLiteral("new.accdb"), {QStringLiteral("T (A text(10), B long)")},
                 {QStringLiteral("insert into T values ('new', 1)")});
    auto prog = create(QStringLiteral("prog.accdr"));
    link(*prog, QStringLiteral("T"), path(QStringLiteral("old.accdb")));
    EXPECT_EQ(column(*prog, QStringLiteral("select A from T"), QStringLiteral("A")), QStringList{"old"});

    auto def = prog->TableDefs().Item(QStringLiteral("T"));
    def->setConnect(dao::dbConnectPrefix + path(QStringLiteral("new.accdb")));
    EXPECT_EQ(def->Connect(), dao::dbConnectPrefix + path(QStringLiteral("new.accdb")));
    EXPECT_EQ(prog->TableDefs().Item(QStringLiteral("T"))->Connect(), dao::dbConnectPrefix + path("old.accdb"));
    def->RefreshLink();
    auto stored = prog->TableDefs().Item(QStringLiteral("T"));
    EXPECT_EQ(stored->Connect(), dao::dbConnectPrefix + path(QStringLiteral("new.accdb")));
    EXPECT_EQ(stored->fields().size(), 2u);
    EXPECT_EQ(column(*prog, QStringLiteral("select * from T"), QStringLiteral("A")), QStringList{"new"});
    EXPECT_EQ(errorOf([&] { stored->setSourceTableName(QStringLiteral("U")); }),
              QStringLiteral("3268|Vlastnost SourceTableName tabulky 'T' nelze po připojení změnit."));
}

TEST_F(Engine, linkFailuresNameTheFileOrTableAndLeaveTheOldDefinition)
{
    makeDataFile(QStringLiteral("data.accdb"), {QStringLiteral("T (A text(10))")});
    writeBytes(path(QStringLiteral("text.accdb")), QByteArray(4096, 'x'));
    auto prog = create(QStringLiteral("prog.accdr"));
    prog->Execute(QStringLiteral("create table Mistni (A text(10))"));
    link(*prog, QStringLiteral("T"), path(QStringLiteral("data.accdb")));

    const QString missing = path(QStringLiteral("missing.accdb"));
    const QString text = path(QStringLiteral("text.accdb"));
    const QString data = path(QStringLiteral("data.accdb"));
    EXPECT_EQ(errorOf([&] { link(*prog, QStringLiteral("U"), missing); }),
              QStringLiteral("3024|Soubor '%1' nebyl nalezen.").arg(missing));
    EXPECT_EQ(errorOf([&] { link(*prog, QStringLiteral("U"), text); }),
              QStringLiteral("3343|Nerozpoznaný formát databáze '%1'.").arg(text));
    EXPECT_EQ(errorOf([&] { link(*prog, QStringLiteral("U"), data); }),
              QStringLiteral("3011|Zdrojová tabulka 'U' nebyla v souboru '%1' nalezena.").arg(data));
    EXPECT_EQ(errorOf([&] { link(*prog, QStringLiteral("t"), data); }),
              QStringLiteral("3010|Tabulka 't' již existuje."));

    auto def = prog->TableDefs().Item(QStringLiteral("T"));
    for (const QString& target : {missing, text}) {
        def->setConnect(dao::dbConnectPrefix + target);
        EXPECT_NE(errorOf([&] { def->RefreshLink(); }), QStringLiteral("no error"));
    }
    EXPECT_EQ(prog->TableDefs().Item(QStringLiteral("T"))->Connect(), dao::dbConnectPrefix + data);
    EXPECT_EQ(prog->TableDefs().Item(QStringLiteral("T"))->fields().size(), 1u);

    auto local = prog->TableDefs().Item(QStringLiteral("Mistni"));
    EXPECT_EQ(errorOf([&] { local->setConnect(dao::dbConnectPrefix + data); }),
              QStringLiteral("3268|Vlastnost Connect nelze nastavit u místní tabulky 'Mistni'."));
    EXPECT_EQ(errorOf([&] { local->RefreshLink(); }),
              QStringLiteral("3219|Tabulka 'Mistni' není propojená; propojení nelze obnovit."));
    EXPECT_EQ(tableNames(*prog), (QStringList{"Mistni", "MSysFields", "MSysInfo", "MSysObjects", "T"}));
}

TEST_F(Engine, odbcLinkIsStoredUncheckedAndRefusedAtRefresh)
{
    auto prog = create(QStringLiteral("prog.accdr"));
    auto def = prog->CreateTableDef(QStringLiteral("Vzdalena"));
    def->setConnect(QStringLiteral("ODBC;DSN=Sklad;UID=x;PWD=tajne"));
    def->setSourceTableName(QStringLiteral("dbo.Sklad"));
    // A checked append needs the data source, which this machine does not define.
    EXPECT_EQ(errorOf([&] { prog->TableDefs().Append(def); }),
              QStringLiteral("3151|Zdroj dat ODBC 'Sklad' není definován (odbc.ini, ~/.odbc.ini)."));
    prog->TableDefs().AppendUnrefreshed(def);
    auto stored = prog->TableDefs().Item(QStringLiteral("Vzdalena"));
    EXPECT_EQ(hex(stored->Attributes()), QStringLiteral("0x20000000"));
    EXPECT_EQ(stored->Connect(), QStringLiteral("ODBC;DSN=Sklad;UID=x"));
    EXPECT_FALSE(fileBytes(path(QStringLiteral("prog.accdr"))).contains("tajne"));
    EXPECT_EQ(errorOf([&] { stored->RefreshLink(); }),
              QStringLiteral("3151|Zdroj dat ODBC 'Sklad' není definován (odbc.ini, ~/.odbc.ini)."));
}

TEST_F(Engine, hiddenFlagIsKeptOnLocalTablesAndLinks)
{
    makeDataFile(QStringLiteral("data.accdb"), {QStringLiteral("T (A text(10))"), QStringLiteral("Skryta (A long)")});
    {
        auto data = DbEngine().OpenDatabase(path(QStringLiteral("data.accdb")));
        auto def = data->TableDefs().Item(QStringLiteral("Skryta"));
        def->setAttributes(def->Attributes() | dao::dbHiddenObject);
    }
    auto data = DbEngine().OpenDatabase(path(QStringLiteral("data.accdb")));
    EXPECT_EQ(data->TableDefs().Item(QStringLiteral("skryta"))->Attributes(), dao::dbHiddenObject);
    auto prog = create(QStringLiteral("prog.accdr"));
    auto def = prog->CreateTableDef(QStringLiteral("T"));
    def->setConnect(dao::dbConnectPrefix + path(QStringLiteral("data.accdb")));
    def->setAttributes(dao::dbHiddenObject);
    prog->TableDefs().Append(def);
    EXPECT_EQ(hex(prog->TableDefs().Item(QStringLiteral("T"))->Attributes()), QStringLiteral("0x40000001"));
}

TEST_F(Engine, queriesReachMoreLinkedFilesThanCanBeAttachedAtOnce)
{
    auto prog = create(QStringLiteral("prog.accdr"));
    for (int i = 1; i <= 13; ++i) {
        const QString name = QStringLiteral("d%1.accdb").arg(i);
        makeDataFile(name, {QStringLiteral("T (N long)")}, {QStringLiteral("insert into T values (%1)").arg(i)});
        link(*prog, QStringLiteral("L%1").arg(i), path(name), QStringLiteral("T"));
    }
    for (int round = 0; round < 2; ++round)
        for (int i = 1; i <= 13; ++i)
            EXPECT_EQ(column(*prog, QStringLiteral("select N from L%1").arg(i), QStringLiteral("N")),
                      QStringList{QString::number(i)});
    EXPECT_EQ(column(*prog, QStringLiteral("select L1.N + L13.N as S from L1, L13"), QStringLiteral("S")),
              QStringList{"14"});
}

TEST_F(Engine, lockHeldByAnotherConnectionEndsInAnErrorNotAHang)
{
    auto db = create(QStringLiteral("a.accdb"));
    db->Execute(QStringLiteral("create table T (A long)"));
    sqlite3* other = nullptr;
    ASSERT_EQ(sqlite3_open(path(QStringLiteral("a.accdb")).toUtf8().constData(), &other), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(other, "BEGIN EXCLUSIVE; INSERT INTO T VALUES (1);", nullptr, nullptr, nullptr), SQLITE_OK);
    QElapsedTimer timer;
    timer.start();
    EXPECT_EQ(errorOf([&] { db->Execute(QStringLiteral("insert into T values (2)")); }),
              QStringLiteral("3045|Soubor '%1' je uzamčen jiným procesem a zámek se do 4 sekund neuvolnil.")
                  .arg(path(QStringLiteral("a.accdb"))));
    EXPECT_LT(timer.elapsed(), 30000);
    sqlite3_exec(other, "COMMIT", nullptr, nullptr, nullptr);
    sqlite3_close(other);
    db->Execute(QStringLiteral("insert into T values (2)"));
    EXPECT_EQ(column(*db, QStringLiteral("select A from T order by A"), QStringLiteral("A")), (QStringList{"1", "2"}));
}

TEST_F(Engine, linkedFileWithUriCharactersInItsNameIsReadWithItsYesNoValues)
{
    const QString name = QStringLiteral("data #1 ?%20ř.accdb");
    makeDataFile(
        name, {QStringLiteral("T (A text(10), Ok yesno)")},
        {QStringLiteral("insert into T values ('x', true)"), QStringLiteral("insert into T values ('y', false)")});
    auto prog = create(QStringLiteral("prog.accdr"));
    link(*prog, QStringLiteral("T"), path(name));
    auto records = prog->OpenRecordset(QStringLiteral("select * from T where Ok = True"));
    ASSERT_FALSE(records->EOF());
    EXPECT_EQ(records->value(QStringLiteral("A")), QVariant(QStringLiteral("x")));
    EXPECT_EQ(records->value(QStringLiteral("Ok")), QVariant(true));
    records->MoveNext();
    EXPECT_TRUE(records->EOF());
    prog->Close();
    // The write-ahead logs are folded back at close.
    EXPECT_EQ(QDir(m_dir.path()).entryList(QDir::Files), (QStringList{name, "prog.accdr"}));
}

TEST_F(Engine, droppingALinkOrATableForgetsItsDefinitionButSystemTablesStay)
{
    makeDataFile(QStringLiteral("data.accdb"), {QStringLiteral("T (A long)")});
    auto prog = create(QStringLiteral("prog.accdr"));
    link(*prog, QStringLiteral("T"), path(QStringLiteral("data.accdb")));
    EXPECT_EQ(column(*prog, QStringLiteral("select count(*) as N from T"), QStringLiteral("N")), QStringList{"0"});
    prog->Execute(QStringLiteral("create table Mistni (A long)"));
    prog->TableDefs().Item(QStringLiteral("Mistni"))->setAttributes(dao::dbHiddenObject);

    prog->Execute(QStringLiteral("drop table t"));
    prog->Execute(QStringLiteral("drop table Mistni"));
    prog->Execute(QStringLiteral("create table Mistni (B long)"));
    EXPECT_EQ(prog->TableDefs().Item(QStringLiteral("Mistni"))->Attributes(), 0);
    EXPECT_EQ(tableNames(*prog), (QStringList{"Mistni", "MSysFields", "MSysInfo", "MSysObjects"}));
    EXPECT_EQ(rawQuery(path(QStringLiteral("prog.accdr")), QStringLiteral("select count(*) from MSysFields")),
              QStringList{"0"});
    EXPECT_EQ(errorOf([&] { prog->Execute(QStringLiteral("select * from T")); }),
              QStringLiteral("3078|Databázový stroj nenašel vstupní tabulku nebo dotaz 'T'."));
    EXPECT_EQ(errorOf([&] { prog->Execute(QStringLiteral("drop table MSysObjects")); }),
              QStringLiteral("3219|Systémovou tabulku 'MSysObjects' nelze odstranit."));
    // A hidden table dropped by another tool leaves its row; a new definition of that name is whole.
    prog->Execute(QStringLiteral("create table Cizi (A long)"));
    prog->TableDefs().Item(QStringLiteral("Cizi"))->setAttributes(dao::dbHiddenObject);
    prog->Close();
    rawQuery(path(QStringLiteral("prog.accdr")), QStringLiteral("drop table Cizi"));
    auto reopened = DbEngine().OpenDatabase(path(QStringLiteral("prog.accdr")));
    link(*reopened, QStringLiteral("Cizi"), path(QStringLiteral("data.accdb")), QStringLiteral("T"));
    EXPECT_EQ(hex(reopened->TableDefs().Item(QStringLiteral("cizi"))->Attributes()), QStringLiteral("0x40000000"));
}

TEST_F(Engine, changesInsideACallersTransactionFollowItsCommitOrRollback)
{
    makeDataFile(QStringLiteral("data.accdb"), {QStringLiteral("T (A long)"), QStringLiteral("U (A long)")});
    auto prog = create(QStringLiteral("prog.accdr"));
    prog->Execute(QStringLiteral("begin"));
    link(*prog, QStringLiteral("T"), path(QStringLiteral("data.accdb")));
    EXPECT_EQ(errorOf([&] { link(*prog, QStringLiteral("T"), path(QStringLiteral("data.accdb"))); }),
              QStringLiteral("3010|Tabulka 'T' již existuje."));
    prog->Execute(QStringLiteral("rollback"));
    EXPECT_EQ(errorOf([&] { prog->TableDefs().Item(QStringLiteral("T")); }),
              QStringLiteral("3265|Položka nebyla v této kolekci nalezena."));
    prog->Execute(QStringLiteral("begin"));
    link(*prog, QStringLiteral("U"), path(QStringLiteral("data.accdb")));
    prog->Execute(QStringLiteral("commit"));
    EXPECT_EQ(tableNames(*prog), (QStringList{"MSysFields", "MSysInfo", "MSysObjects", "U"}));
}

TEST_F(Engine, dialectColumnsKeepTheirConstraintsAndAddedColumnsTheirSize)
{
    auto db = create(QStringLiteral("a.accdb"));
    db->Execute(QStringLiteral("create table [Dva Sloupce] ([Na me] text(5) not null, Id counter, primary key (Id))"));
    db->Execute(QStringLiteral("alter table [Dva Sloupce] add column Kod varchar(3)"));
    db->Execute(QStringLiteral("alter table [Dva Sloupce] add Platny yesno default True"));
    QStringList described;
    for (const auto& field : db->TableDefs().Item(QStringLiteral("dva sloupce"))->fields())
        described << QStringLiteral("%1:%2:%3").arg(field->Name).arg(field->Type).arg(field->Size);
    EXPECT_EQ(described, (QStringList{"Na me:10:5", "Id:4:0", "Kod:10:3", "Platny:1:0"}));
    const QString insert = QStringLiteral("insert into [Dva Sloupce] ([Na me], Kod) values (?, ?)");
    db->Execute(insert, {QStringLiteral("abcde"), QStringLiteral("xyz")});
    EXPECT_EQ(rawQuery(path(QStringLiteral("a.accdb")), QStringLiteral("select Platny from [Dva Sloupce]")),
              QStringList{"-1"});
    EXPECT_EQ(errorOf([&] {
                  db->Execute(insert, {QVariant(), QStringLiteral("x")});
              }),
              QStringLiteral("3314|Pole 'Dva Sloupce.Na me' musí obsahovat hodnotu."));
    EXPECT_EQ(errorOf([&] {
                  db->Execute(insert, {QStringLiteral("a"), QStringLiteral("wxyz")});
              }),
              QStringLiteral("3163|Pole 'Kod' je příliš malé pro zadaná data (nejvýše 3 znaky)."));
    db->Execute(QStringLiteral("create table Čas (\"Od:do\" text(1))"));
    EXPECT_EQ(errorOf([&] { db->Execute(QStringLiteral("insert into ČAS values ('ab')")); }),
              QStringLiteral("3163|Pole 'Od:do' je příliš malé pro zadaná data (nejvýše 1 znak)."));
    EXPECT_EQ(db->TableDefs().Item(QStringLiteral("čas"))->Name(), QStringLiteral("Čas"));
    EXPECT_EQ(errorOf([&] { db->Execute(QStringLiteral("delete from Čas; drop table Čas")); }),
              QStringLiteral("3000|Příkaz SQL 'delete from Čas; drop table Čas' obsahuje více než jeden příkaz."));
    db->Execute(QStringLiteral("delete from Čas; -- all rows\n"));
    EXPECT_EQ(errorOf([&] {
                  db->Execute(QStringLiteral("insert into [Dva Sloupce] values (?)"), {1, 2});
              }).left(5),
              QStringLiteral("3000|"));
}

TEST_F(Engine, refreshLinkSeesSourceTablesChangedByAnotherConnectionSinceTheLastRefresh)
{
    const QString data = path(QStringLiteral("data.accdb"));
    makeDataFile(QStringLiteral("data.accdb"), {QStringLiteral("T (A text(10))"), QStringLiteral("Čísla (N long)")});
    auto prog = create(QStringLiteral("prog.accdr"));
    link(*prog, QStringLiteral("T"), data);
    link(*prog, QStringLiteral("C"), data, QStringLiteral("čÍSLA"));
    const auto describe = [](const std::vector<std::shared_ptr<FieldDef>>& fields) {
        QStringList described;
        for (const auto& field : fields)
            described << QStringLiteral("%1:%2:%3:%4")
                             .arg(field->Name)
                             .arg(field->Type)
                             .arg(field->Size)
                             .arg(field->AllowZeroLength);
        return described;
    };
    const auto changeData = [&](const QStringList& statements) {
        auto other = DbEngine().OpenDatabase(data);
        for (const QString& statement : statements)
            other->Execute(statement);
    };

    auto def = prog->TableDefs().Item(QStringLiteral("T"));
    def->RefreshLink();
    EXPECT_EQ(describe(def->fields()), QStringList{"A:10:10:1"});
    EXPECT_EQ(describe(prog->TableDefs().Item(QStringLiteral("C"))->fields()), QStringList{"N:4:0:0"});

    changeData({QStringLiteral("alter table T add column B long")});
    def->RefreshLink();
    EXPECT_EQ(describe(def->fields()), (QStringList{"A:10:10:1", "B:4:0:0"}));
    EXPECT_EQ(describe(prog->TableDefs().Item(QStringLiteral("t"))->fields()), (QStringList{"A:10:10:1", "B:4:0:0"}));

    // Recreated under another case with other columns; one table added, one dropped.
    changeData({QStringLiteral("drop table T"), QStringLiteral("create table t (Z text(5))"),
                QStringLiteral("insert into t values ('nova')"), QStringLiteral("create table Nova (X long)"),
                QStringLiteral("drop table Čísla")});
    def->RefreshLink();
    EXPECT_EQ(describe(prog->TableDefs().Item(QStringLiteral("T"))->fields()), QStringList{"Z:10:5:1"});
    EXPECT_EQ(column(*prog, QStringLiteral("select Z from T"), QStringLiteral("Z")), QStringList{"nova"});
    link(*prog, QStringLiteral("Nova"), data);
    EXPECT_EQ(describe(prog->TableDefs().Item(QStringLiteral("Nova"))->fields()), QStringList{"X:4:0:0"});
    EXPECT_EQ(errorOf([&] { prog->TableDefs().Item(QStringLiteral("C"))->RefreshLink(); }),
              QStringLiteral("3011|Zdrojová tabulka 'čÍSLA' nebyla v souboru '%1' nalezena.").arg(data));
    EXPECT_EQ(describe(prog->TableDefs().Item(QStringLiteral("C"))->fields()), QStringList{"N:4:0:0"});
}

TEST_F(Engine, sourceNamesDifferingBeyondAsciiCaseFindTheSameTablesAsSqlite)
{
    const QString data = path(QStringLiteral("data.accdb"));
    makeDataFile(QStringLiteral("data.accdb"),
                 {QStringLiteral("Čísla (A long)"), QStringLiteral("\u212Aelvin (C long)")});
    // The engine refuses a name that folds to an existing one; another program made this one.
    ASSERT_EQ(rawQuery(data, QStringLiteral("create table čísla (B long)")), QStringList{});
    auto prog = create(QStringLiteral("prog.accdr"));
    const auto firstField = [&](const QString& name) { return prog->TableDefs().Item(name)->fields().at(0)->Name; };
    // A name SQLite itself matches wins; otherwise the first table of the same case-folded name.
    link(*prog, QStringLiteral("X"), data, QStringLiteral("ČÍSLA"));
    link(*prog, QStringLiteral("Y"), data, QStringLiteral("čísla"));
    link(*prog, QStringLiteral("Z"), data, QStringLiteral("ČíSLA"));
    EXPECT_EQ(firstField(QStringLiteral("X")), QStringLiteral("A"));
    EXPECT_EQ(firstField(QStringLiteral("Y")), QStringLiteral("B"));
    EXPECT_EQ(firstField(QStringLiteral("Z")), QStringLiteral("A"));
    EXPECT_EQ(column(*prog, QStringLiteral("select B from Y"), QStringLiteral("B")), QStringList{});
    // An ASCII name is matched as SQLite matches it: the Kelvin sign folds to k, but not for SQLite.
    EXPECT_EQ(errorOf([&] { link(*prog, QStringLiteral("K"), data, QStringLiteral("KELVIN")); }),
              QStringLiteral("3011|Zdrojová tabulka 'KELVIN' nebyla v souboru '%1' nalezena.").arg(data));
    link(*prog, QStringLiteral("K"), data, QStringLiteral("\u212AELVIN"));
    EXPECT_EQ(firstField(QStringLiteral("K")), QStringLiteral("C"));
}

// A linked table's definition is its data file's: redefining it through the
// program file is refused with the read-only error in Czech (its rows change
// through the link, see LinkWriteTest); text sizes and length() count 16-bit
// units, as the program does.
TEST_F(Engine, linkedTablesRefuseRedefinitionAndTextSizesCount16BitUnits)
{
    makeDataFile(QStringLiteral("data.accdb"), {QStringLiteral("Osoby (ID long, Jmeno text(5))")},
                 {QStringLiteral("insert into Osoby values (1, 'Hana')")});
    auto prog = create(QStringLiteral("prog.accdr"));
    link(*prog, QStringLiteral("Osoby"), path(QStringLiteral("data.accdb")));
    const QString refused = QStringLiteral("3027|Propojenou tabulku 'Osoby' nelze v tomto souboru měnit.");
    for (const char* sql : {"alter table osoby add column X long", "create unique index I on [Osoby] (ID)"})
        EXPECT_EQ(errorOf([&] { prog->Execute(QString::fromLatin1(sql)); }), refused) << sql;
    EXPECT_EQ(column(*prog, QStringLiteral("select Jmeno from Osoby"), QStringLiteral("Jmeno")), QStringList{"Hana"});
    prog->Close();

    auto data = DbEngine().OpenDatabase(path(QStringLiteral("data.accdb")));
    const QString insert = QStringLiteral("insert into Osoby (ID, Jmeno) values (?, ?)");
    EXPECT_EQ(errorOf([&] {
                  data->Execute(insert, {2, QStringLiteral("😀😀😀")});
              }),
              QStringLiteral("3163|Pole 'Jmeno' je příliš malé pro zadaná data (nejvýše 5 znaků)."));
    EXPECT_EQ(errorOf([&] { data->Execute(insert, {3, QStringLiteral("😀😀a")}); }), QStringLiteral("no error"));
    EXPECT_EQ(column(*data, QStringLiteral("select length(Jmeno) as L from Osoby where ID=3"), QStringLiteral("L")),
              QStringList{"5"});
    EXPECT_EQ(column(*data, QStringLiteral("select length(x'00ff') as B from Osoby where ID=3"), QStringLiteral("B")),
              QStringList{"2"});
    data->Close();
}

TEST_F(Engine, transactionChangesStayUnseenUntilTheOutermostCommitAndInnerOnesRollBackAlone)
{
    makeDataFile(QStringLiteral("data.accdb"), {QStringLiteral("T (A long)"), QStringLiteral("U (A long)")});
    auto prog = create(QStringLiteral("prog.accdr"));
    const QString notBegun = QStringLiteral("3034|Transakci nelze potvrdit ani vrátit, protože nebyla zahájena.");
    EXPECT_EQ(errorOf([&] { prog->CommitTrans(); }), notBegun);
    EXPECT_EQ(errorOf([&] { prog->Rollback(); }), notBegun);
    const auto seenByOthers = [&] {
        return rawQuery(path(QStringLiteral("prog.accdr")), QStringLiteral("select Name from MSysObjects order by 1"));
    };

    prog->BeginTrans();
    link(*prog, QStringLiteral("T"), path(QStringLiteral("data.accdb")));
    prog->BeginTrans();
    link(*prog, QStringLiteral("U"), path(QStringLiteral("data.accdb")));
    EXPECT_EQ(prog->transactionLevel(), 2);
    prog->Rollback();
    EXPECT_EQ(tableNames(*prog), (QStringList{"MSysFields", "MSysInfo", "MSysObjects", "T"}));
    EXPECT_EQ(seenByOthers(), QStringList());
    prog->CommitTrans();
    EXPECT_EQ(prog->transactionLevel(), 0);
    EXPECT_EQ(seenByOthers(), QStringList{"T"});

    // Closing with a transaction open keeps nothing of it.
    prog->BeginTrans();
    link(*prog, QStringLiteral("U"), path(QStringLiteral("data.accdb")));
    prog->Close();
    EXPECT_EQ(seenByOthers(), QStringList{"T"});
    EXPECT_EQ(QDir(m_dir.path()).entryList(QDir::Files), (QStringList{"data.accdb", "prog.accdr"}));
}
