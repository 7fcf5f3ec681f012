// ODBC links against a real PostgreSQL server that the tests start: connect
// strings, the engine's view of the server, relinks by the utility, zuldb check.

#include "../reliability/Support.h"
#include "OdbcConnectString.h"
#include "OdbcConnection.h"
#include "PostgresServer.h"

#include <QDirIterator>
#include <QProcess>
#include <QRegularExpression>

#include <gtest/gtest.h>

namespace {

struct ConnectCase {
    const char* name;
    const char* connect;
    const char* expected; // the stored form, or "number|description" of the error
};

TEST(OdbcConnectString, parsesThePlatformsShapesAndNeverStoresAPassword)
{
    const ConnectCase cases[] = {
        {"dsn", "ODBC;DSN=Sklad;UID=jan;PWD=tajne", "ODBC;DSN=Sklad;UID=jan"},
        {"prefixInAnyCase", "odbc;dsn=Sklad", "ODBC;dsn=Sklad"},
        {"bracedDriverWithBlanks", "ODBC;DRIVER={PostgreSQL Unicode};SERVER=db;PORT=5432;DATABASE=zul;UID=a",
         "ODBC;DRIVER={PostgreSQL Unicode};SERVER=db;PORT=5432;DATABASE=zul;UID=a"},
        {"passwordWithSeparatorAndBrace", "ODBC;DSN=S;PWD={a;b}}c};UID=x", "ODBC;DSN=S;UID=x"},
        {"passwordKeyInAnyCase", "ODBC;DSN=S;Password=x;pwd=y", "ODBC;DSN=S"},
        {"emptyPairsSkipped", "ODBC;;DSN=S;;", "ODBC;DSN=S"},
        {"bracedValueKeptBraced", "ODBC;DSN=S;OPT={a;b}", "ODBC;DSN=S;OPT={a;b}"},
        {"noDriver", "ODBC;SERVER=db;UID=a",
         "3151|Připojovací řetězec ODBC neuvádí ovladač (DRIVER=) ani zdroj dat (DSN=)."},
        {"unclosedBrace", "ODBC;DRIVER={PostgreSQL Unicode;SERVER=db",
         "3151|Neplatný připojovací řetězec ODBC: u klíče DRIVER chybí uzavírací složená závorka."},
        {"strayClosingBrace", "ODBC;DRIVER=PostgreSQL}", 
         "3151|Neplatný připojovací řetězec ODBC: nevyvážené složené závorky u klíče DRIVER."},
        {"textAfterBraces", "ODBC;DRIVER={x}y;DSN=a",
         "3151|Neplatný připojovací řetězec ODBC: za hodnotou klíče DRIVER ve složených závorkách chybí \";\"."},
        {"pairWithoutEquals", "ODBC;DSN=S;garbage",
         "3151|Neplatný připojovací řetězec ODBC: část \"garbage\" nemá tvar KLÍČ=hodnota."},
        {"notOdbc", ";DATABASE=/data/x.accdb", "3151|Neplatný připojovací řetězec ODBC: nezačíná \"ODBC;\"."},
    };
    for (const ConnectCase& c : cases) {
        SCOPED_TRACE(c.name);
        QString stored;
        const QString error = errorOf([&] { stored = OdbcConnectString::parse(QString::fromUtf8(c.connect)).storedForm(); });
        EXPECT_EQ(error == QLatin1String("no error") ? stored : error, QString::fromUtf8(c.expected));
    }
    // The password of a parsed string serves later connections of this process by its stored form.
    const QString stored = withoutPassword(QStringLiteral("ODBC;DSN=Pamet;UID=x;PWD={p;w}"));
    EXPECT_EQ(stored, QStringLiteral("ODBC;DSN=Pamet;UID=x"));
    EXPECT_EQ(OdbcConnectString::parse(stored).driverString(), QStringLiteral("DSN=Pamet;UID=x;PWD={p;w}"));
    // One that cannot be parsed loses everything from its password on.
    EXPECT_EQ(withoutPassword(QStringLiteral("ODBC;DSN=S;PWD=tajne;X={")), QStringLiteral("ODBC;DSN=S"));
}

// One server for the whole program; each test makes the tables it needs.
class OdbcServer : public ::testing::Test {
protected:
    void SetUp() override
    {
        QString why;
        server = PostgresServer::instance(&why);
        if (!server)
            GTEST_SKIP() << "no PostgreSQL server for the tests: " << why.toStdString();
    }

    // Every file below folder that holds the password.
    static QStringList filesWithPassword(const QString& folder)
    {
        QStringList found;
        QDirIterator files(folder, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
        while (files.hasNext()) {
            const QString file = files.next();
            if (fileBytes(file).contains(PostgresServer::password().toUtf8()))
                found << file;
        }
        return found;
    }

    QStringList childEnvironment(bool withPasswordFile) const
    {
        return withPasswordFile ? kNoDisplay + QStringList{QStringLiteral("PGPASSFILE=") + server->passwordFile()}
                                : kNoDisplay;
    }

    ProcessResult zuldb(const QStringList& arguments, bool withPasswordFile = true) const
    {
        return runProcess(QStringLiteral(ZULDB_PATH), arguments, {.environment = childEnvironment(withPasswordFile)});
    }

    PostgresServer* server = nullptr;
};

TEST_F(OdbcServer, connectFailuresAreCzechErrorsWithTheServersTextAndNoPassword)
{
    QString wrongPassword = server->connectString(false) + QStringLiteral(";PWD=spatne-heslo-123");
    QString unknownUser = server->connectString(false).replace(QLatin1String("UID=zul"), QLatin1String("UID=nikdo")) +
                          QStringLiteral(";PWD=spatne-heslo-123");
    const struct {
        const char* name;
        QString connect;
        QString expectedStart;
    } cases[] = {
        {"wrongPassword", wrongPassword,
         QStringLiteral("3151|Připojení ODBC k 'PostgreSQL Unicode' selhalo. Server: ")},
        {"unknownUser", unknownUser, QStringLiteral("3151|Připojení ODBC k 'PostgreSQL Unicode' selhalo. Server: ")},
        {"closedPort", QStringLiteral("ODBC;DRIVER={PostgreSQL Unicode};SERVER=127.0.0.1;PORT=1;DATABASE=x;UID=zul"),
         QStringLiteral("3151|Připojení ODBC k 'PostgreSQL Unicode' selhalo. Server: ")},
        {"unknownDriver", QStringLiteral("ODBC;DRIVER={Nikde Neni};SERVER=127.0.0.1"),
         QStringLiteral("3151|Ovladač ODBC 'Nikde Neni' není nainstalován (odbcinst.ini).")},
        {"unknownDataSource", QStringLiteral("ODBC;DSN=nikde;UID=zul"),
         QStringLiteral("3151|Zdroj dat ODBC 'nikde' není definován (odbc.ini, ~/.odbc.ini).")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const QString error = errorOf([&] { DbEngine().OpenDatabase(c.connect); });
        EXPECT_TRUE(error.startsWith(c.expectedStart)) << error.toStdString();
        EXPECT_FALSE(error.contains(QLatin1String("spatne-heslo"))) << error.toStdString();
    }
    EXPECT_TRUE(errorOf([&] { DbEngine().OpenDatabase(wrongPassword); }).contains(QLatin1String("password")));
}

TEST_F(OdbcServer, serverTablesAreListedAndLinkedWithTheirFields)
{
    server->psql(QStringLiteral(
        "DROP SCHEMA IF EXISTS sklad CASCADE; DROP TABLE IF EXISTS \"Osoby\", bezklice;"
        "CREATE TABLE \"Osoby\" (\"ID\" integer PRIMARY KEY, \"Jméno\" varchar(40), \"Poznámka\" text, "
        "\"Narozen\" date, \"Plat\" double precision, \"Aktivní\" boolean);"
        "CREATE TABLE bezklice (a integer); CREATE SCHEMA sklad; CREATE TABLE sklad.\"Zboží\" (kod varchar(10) UNIQUE);"));
    QTemporaryDir dir;
    auto server = DbEngine().OpenDatabase(this->server->connectString());
    EXPECT_EQ(server->Name(), this->server->connectString(false));
    QStringList names;
    for (int i = 0; i < server->TableDefs().Count(); ++i)
        names << server->TableDefs().Item(i)->Name() + QLatin1Char('=') +
                     QString::number(server->TableDefs().Item(i)->Attributes());
    EXPECT_EQ(names, (QStringList{"bezklice=0", "Osoby=0"})); // the default schema only
    QStringList fields;
    for (const auto& field : server->TableDefs().Item(QStringLiteral("Osoby"))->fields())
        fields << QStringLiteral("%1:%2:%3").arg(field->Name).arg(field->Type).arg(field->Size);
    EXPECT_EQ(fields, (QStringList{"ID:4:0", "Jméno:10:40", "Poznámka:12:0", "Narozen:8:0", "Plat:7:0", "Aktivní:1:0"}));
    EXPECT_EQ(errorOf([&] { server->OpenRecordset(QStringLiteral("select * from Osoby")); }).left(5),
              QStringLiteral("3151|"));

    // Links: a name in another case, a schema-qualified table, a missing one.
    auto prog = DbEngine().CreateDatabase(dir.filePath(QStringLiteral("prog.accdr")), dao::dbLangCzech);
    auto link = [&](const QString& name, const QString& source) {
        auto def = prog->CreateTableDef(name);
        def->setConnect(this->server->connectString());
        def->setSourceTableName(source);
        prog->TableDefs().Append(def);
    };
    link(QStringLiteral("osoby"), QStringLiteral("osoby"));
    link(QStringLiteral("Zbozi"), QStringLiteral("sklad.Zboží"));
    EXPECT_EQ(errorOf([&] { link(QStringLiteral("Nic"), QStringLiteral("nic")); }),
              QStringLiteral("3011|Tabulka 'nic' na serveru 'PostgreSQL Unicode' neexistuje."));
    for (const char* name : {"osoby", "Zbozi"}) {
        auto def = prog->TableDefs().Item(QString::fromUtf8(name));
        EXPECT_EQ(def->Attributes(), dao::dbAttachedODBC);
        EXPECT_EQ(def->Connect(), this->server->connectString(false));
    }
    EXPECT_EQ(prog->TableDefs().Item(QStringLiteral("osoby"))->SourceTableName(), QStringLiteral("Osoby"));
    EXPECT_EQ(prog->TableDefs().Item(QStringLiteral("Zbozi"))->SourceTableName(), QStringLiteral("sklad.Zboží"));
    EXPECT_EQ(prog->TableDefs().Item(QStringLiteral("Zbozi"))->fields().size(), 1u);

    // A file link re-pointed to the server and back.
    auto data = DbEngine().CreateDatabase(dir.filePath(QStringLiteral("data.accdb")), dao::dbLangCzech);
    data->Execute(QStringLiteral("create table bezklice (a long, b text(5))"));
    auto file = prog->CreateTableDef(QStringLiteral("bezklice"));
    file->setConnect(dao::dbConnectPrefix + dir.filePath(QStringLiteral("data.accdb")));
    prog->TableDefs().Append(file);
    auto repoint = [&](const QString& connect) {
        auto def = prog->TableDefs().Item(QStringLiteral("bezklice"));
        def->setConnect(connect);
        def->RefreshLink();
        def = prog->TableDefs().Item(QStringLiteral("bezklice"));
        return QStringLiteral("%1 %2 %3").arg(def->Attributes(), 0, 16).arg(def->Connect()).arg(def->fields().size());
    };
    EXPECT_EQ(repoint(this->server->connectString()), QStringLiteral("20000000 %1 1").arg(this->server->connectString(false)));
    EXPECT_EQ(repoint(dao::dbConnectPrefix + dir.filePath(QStringLiteral("data.accdb"))),
              QStringLiteral("40000000 ;DATABASE=%1 2").arg(dir.filePath(QStringLiteral("data.accdb"))));
    prog->Close();
    EXPECT_EQ(filesWithPassword(dir.path()), QStringList());
}

TEST_F(OdbcServer, dataSourceNameAndPasswordFileReachTheServer)
{
    server->psql(QStringLiteral("DROP TABLE IF EXISTS zdroj; CREATE TABLE zdroj (a integer)"));
    // No password anywhere but the password file the child is given.
    QTemporaryDir dir;
    const QString prog = dir.filePath(QStringLiteral("prog.accdr"));
    EXPECT_EQ(zuldb({QStringLiteral("create"), prog}).exitCode, 0);
    EXPECT_EQ(zuldb({QStringLiteral("link"), prog, QStringLiteral("zdroj"), server->dsnConnect()}).exitCode, 0);
    EXPECT_EQ(zuldb({QStringLiteral("link"), prog, QStringLiteral("pryc"), server->dsnConnect()}).exitCode, 0);
    const ProcessResult check = zuldb({QStringLiteral("check"), prog});
    EXPECT_EQ(check.out, QStringLiteral("pryc\tODBC;DSN=zultest\tpryc\ttable missing\n"
                                        "zdroj\tODBC;DSN=zultest\tzdroj\tok\n"));
    EXPECT_EQ(check.exitCode, 1);
    EXPECT_EQ(zuldb({QStringLiteral("exec"), prog, QStringLiteral("drop table pryc")}).exitCode, 0);
    EXPECT_EQ(zuldb({QStringLiteral("check"), prog}).exitCode, 0);
    // Without the password file the server refuses the login.
    const ProcessResult refused = zuldb({QStringLiteral("check"), prog}, false);
    EXPECT_EQ(refused.out, QStringLiteral("zdroj\tODBC;DSN=zultest\tzdroj\tserver unreachable\n"));
    EXPECT_EQ(refused.exitCode, 1);
}

TEST_F(OdbcServer, relinkToTheServerAndBackAndAServerThatStopped)
{
    ProgramFolder folder;
    ASSERT_TRUE(folder.isValid());
    const QString data = folder.path(QStringLiteral("data.accdb"));
    const QString prog = folder.path(QStringLiteral("prog.accdr"));
    createDataFile(data, 3);
    createProgramFile(prog, data);
    // The server has two of the three tables and one of its own.
    server->psql(QStringLiteral("DROP TABLE IF EXISTS \"T0000\", \"T0001\", \"Nova\";"
                                "CREATE TABLE \"T0000\" (\"ID\" integer PRIMARY KEY, \"Jmeno\" varchar(50));"
                                "CREATE TABLE \"T0001\" (\"ID\" integer PRIMARY KEY, \"Jmeno\" varchar(50));"
                                "CREATE TABLE \"Nova\" (\"ID\" integer PRIMARY KEY)"));
    const QString connect = server->connectString();
    const QString stored = server->connectString(false);
    ProcessResult run = runBinary(folder, relinkArguments(prog, connect), childEnvironment(false));
    EXPECT_EQ(run.err, kCleanReport);
    EXPECT_EQ(iniValue(folder.iniPath(), QStringLiteral("MAIN"), QStringLiteral("DIVadedadiExe")), QStringLiteral("OK"));
    QMap<QString, QString> links = linkState(prog);
    EXPECT_EQ(links.value(QStringLiteral("T0000")), stored + QStringLiteral("|ID,Jmeno"));
    EXPECT_EQ(links.value(QStringLiteral("T0001")), stored + QStringLiteral("|ID,Jmeno"));
    EXPECT_EQ(links.value(QStringLiteral("Nova")), stored + QStringLiteral("|ID"));
    EXPECT_EQ(links.value(QStringLiteral("T0002")), QStringLiteral(";DATABASE=") + data + QStringLiteral("|ID,Jmeno"));
    EXPECT_EQ(iniValue(folder.iniPath(), QStringLiteral("DIVadedadi"), QStringLiteral("LastDB")), stored);
    EXPECT_EQ(filesWithPassword(folder.path()), QStringList());

    // Back to the file: the server's links become file links again.
    run = runBinary(folder, relinkArguments(prog, data), childEnvironment(false));
    EXPECT_EQ(run.err, kCleanReport);
    links = linkState(prog);
    EXPECT_EQ(links.value(QStringLiteral("T0000")), QStringLiteral(";DATABASE=") + data + QStringLiteral("|ID,Jmeno"));
    EXPECT_EQ(links.value(QStringLiteral("Nova")), stored + QStringLiteral("|ID"));

    // The server stops: the relink ends in ERROR and leaves the program file as it was.
    const QByteArray before = fileBytes(prog);
    ASSERT_TRUE(server->stop());
    run = runBinary(folder, relinkArguments(prog, connect), childEnvironment(false));
    const QByteArray after = fileBytes(prog);
    const ProcessResult check = zuldb({QStringLiteral("check"), prog});
    ASSERT_TRUE(server->start());
    EXPECT_TRUE(run.finished);
    EXPECT_TRUE(run.err.contains(QStringLiteral("Připojení ODBC k 'PostgreSQL Unicode' selhalo.")))
        << run.err.toStdString();
    EXPECT_FALSE(run.err.contains(QLatin1String("grafické prostředí")));
    EXPECT_EQ(iniValue(folder.iniPath(), QStringLiteral("MAIN"), QStringLiteral("DIVadedadiExe")), QStringLiteral("ERROR"));
    EXPECT_TRUE(before == after);
    EXPECT_EQ(check.exitCode, 1);
    EXPECT_TRUE(check.out.contains(QStringLiteral("Nova\t") + stored + QStringLiteral("\tNova\tserver unreachable\n")))
        << check.out.toStdString();
    EXPECT_EQ(filesWithPassword(folder.path()), QStringList());
}

TEST_F(OdbcServer, upsizeMovesTablesKeysAndRowsAndRefusesAnExistingTable)
{
    server->psql(QStringLiteral("DROP TABLE IF EXISTS \"Zboží\", \"Sklady\", \"Prázdná\", \"Nová\""));
    QTemporaryDir dir;
    const QString dataPath = dir.filePath(QStringLiteral("data.accdb"));
    {
        auto data = DbEngine().CreateDatabase(dataPath, dao::dbLangCzech);
        auto table = data->CreateTableDef(QStringLiteral("Zboží"));
        const struct {
            const char* name;
            int type;
            int size;
        } fields[] = {{"Kód", dao::dbText, 10},    {"Popis", dao::dbMemo, 0},   {"Počet", dao::dbLong, 0},
                      {"Cena", dao::dbDouble, 0}, {"Dodáno", dao::dbDate, 0}, {"Skladem", dao::dbBoolean, 0}};
        for (const auto& field : fields)
            table->appendField(table->CreateField(QString::fromUtf8(field.name), field.type, field.size));
        auto primary = table->CreateIndex(QStringLiteral("PK"));
        primary->Primary = primary->Unique = true;
        primary->Fields << QStringLiteral("Kód");
        table->appendIndex(primary);
        auto unique = table->CreateIndex(QStringLiteral("Jedinečný"));
        unique->Unique = true;
        unique->Fields << QStringLiteral("Počet");
        table->appendIndex(unique);
        data->TableDefs().Append(table);
        data->Execute(QStringLiteral("create table Sklady (Nazev text(20))"));
        data->Execute(QStringLiteral("create table Prázdná (A long)"));
        const QVariantList rows[] = {
            {"Ž-1", "Šťastné čísílko", 7, 2.5, QDateTime(QDate(2024, 2, 29), QTime(13, 5, 9)), true},
            {"ch", QVariant(), QVariant(), QVariant(), QVariant(), false},
            {"ď", QString(5000, QChar(0x10D)), -2147483647, -1e300, QDateTime(QDate(1900, 1, 1), QTime(0, 0)), true},
        };
        for (const QVariantList& row : rows)
            data->Execute(QStringLiteral("insert into Zboží values (?, ?, ?, ?, ?, ?)"), row);
        data->BeginTrans();
        for (int i = 0; i < 1200; ++i)
            data->Execute(QStringLiteral("insert into Sklady values (?)"), {QStringLiteral("Sklad %1").arg(i)});
        data->CommitTrans();
    }
    const ProcessResult moved = zuldb({QStringLiteral("upsize"), dataPath, server->connectString()}, false);
    EXPECT_EQ(moved.err, QString());
    const QLocale czech(QLocale::Czech, QLocale::CzechRepublic);
    EXPECT_EQ(moved.out, QStringLiteral("tabulka Prázdná: 0 řádků\ntabulka Sklady: %1 řádků\n"
                                        "tabulka Zboží: 3 řádky\nPřesunuto na server: 3 tabulky (%2 řádků)\n")
                             .arg(czech.toString(1200), czech.toString(1203)));
    EXPECT_EQ(moved.exitCode, 0);
    EXPECT_EQ(server->psql(QStringLiteral("SELECT \"Kód\", left(\"Popis\", 20), length(\"Popis\"), \"Počet\", \"Cena\", "
                                          "\"Dodáno\", \"Skladem\" FROM \"Zboží\" ORDER BY \"Kód\" COLLATE \"C\"")),
              (QStringList{"ch||||||f",
                           "ď|" + QString(20, QChar(0x10D)) + "|5000|-2147483647|-1e+300|1900-01-01 00:00:00|t",
                           "Ž-1|Šťastné čísílko|15|7|2.5|2024-02-29 13:05:09|t"}));
    EXPECT_EQ(server->psql(QStringLiteral("SELECT count(*), count(DISTINCT \"Nazev\") FROM \"Sklady\"")),
              QStringList{"1200|1200"});
    // Types, the primary key and the unique index as the server has them.
    EXPECT_EQ(server->psql(QStringLiteral("SELECT column_name, data_type, coalesce(character_maximum_length, 0) FROM "
                                          "information_schema.columns WHERE table_schema='public' AND table_name='Zboží' ORDER BY ordinal_position")),
              (QStringList{"Kód|character varying|10", "Popis|text|0", "Počet|integer|0", "Cena|double precision|0",
                           "Dodáno|timestamp without time zone|0", "Skladem|boolean|0"}));
    QString error;
    EXPECT_NE(server->psqlStatus(QStringLiteral("INSERT INTO \"Zboží\" (\"Kód\") VALUES ('ch')"), &error), 0);
    EXPECT_NE(server->psqlStatus(QStringLiteral("INSERT INTO \"Zboží\" (\"Kód\", \"Počet\") VALUES ('x', 7)"),
                                 &error), 0);

    // A second data file with one new table and one the server has: nothing is moved.
    const QString second = dir.filePath(QStringLiteral("second.accdb"));
    {
        auto data = DbEngine().CreateDatabase(second, dao::dbLangCzech);
        data->Execute(QStringLiteral("create table Nová (A long)"));
        data->Execute(QStringLiteral("create table Sklady (Nazev text(20))"));
    }
    const ProcessResult refused = zuldb({QStringLiteral("upsize"), second, server->connectString()}, false);
    EXPECT_EQ(refused.exitCode, 1);
    EXPECT_EQ(refused.err, QStringLiteral("3010  Tabulka 'Sklady' na serveru již existuje; nic se nepřepíše.\n"));
    EXPECT_EQ(server->psql(QStringLiteral("SELECT count(*) FROM information_schema.tables WHERE table_name='Nová'")),
              QStringList{"0"});
    EXPECT_EQ(server->psql(QStringLiteral("SELECT count(*) FROM \"Sklady\"")), QStringList{"1200"});
    EXPECT_FALSE((moved.out + moved.err + refused.out + refused.err).contains(PostgresServer::password()));
}

TEST_F(OdbcServer, linksAreReadAndChangedThroughTheServerByKey)
{
    server->psql(QStringLiteral(
        "DROP TABLE IF EXISTS lide, bezklice, klice;"
        "CREATE TABLE klice (id integer PRIMARY KEY, t varchar(20));"
        "INSERT INTO klice SELECT n, 'k' || n FROM generate_series(1, 20000) n; ANALYZE klice;"
        "CREATE TABLE lide (id integer PRIMARY KEY, jmeno varchar(40), narozen timestamp, aktivni boolean);"
        "INSERT INTO lide SELECT n, 'Osoba ' || n, NULL, NULL FROM generate_series(10, 2000) n;"
        "INSERT INTO lide VALUES (1, 'Hora', '1950-03-01 08:30:00', true), (2, 'Chalupa', NULL, false), "
        "(3, 'Čapek', '1890-01-09 00:00:00', true);"
        "CREATE TABLE bezklice (a integer, b varchar(5)); INSERT INTO bezklice VALUES (1, 'x')"));
    QTemporaryDir dir;
    const QString progPath = dir.filePath(QStringLiteral("prog.accdr"));
    auto prog = DbEngine().CreateDatabase(progPath, dao::dbLangCzech);
    for (const auto& [name, source] :
         {std::pair{"Lidé", "lide"}, std::pair{"Bez", "bezklice"}, std::pair{"Klíče", "klice"}}) {
        auto def = prog->CreateTableDef(QString::fromUtf8(name));
        def->setConnect(server->connectString());
        def->setSourceTableName(QString::fromUtf8(source));
        prog->TableDefs().Append(def);
    }
    // Czech order and text, dates and yes/no as the engine gives them.
    EXPECT_EQ(column(*prog, QStringLiteral("select jmeno from Lidé where id < 5 order by jmeno"), QStringLiteral("jmeno")),
              (QStringList{"Čapek", "Hora", "Chalupa"}));
    auto row = prog->OpenRecordset(QStringLiteral("select * from Lidé where id = ?"), {1});
    EXPECT_EQ(row->value(QStringLiteral("narozen")).toString(), QStringLiteral("1950-03-01 08:30:00"));
    EXPECT_EQ(row->value(QStringLiteral("aktivni")), QVariant(true));
    row->Close();

    // A lookup by key is one index scan of the server and no sequential one (the table's creation
    // built its key's index by a sequential scan, so counts are compared before and after).
    const auto before = server->scans(QStringLiteral("klice"));
    EXPECT_EQ(column(*prog, QStringLiteral("select t from Klíče where id = 15000"), QStringLiteral("t")),
              QStringList{"k15000"});
    OdbcConnection::shared(server->connectString())->exec(QStringLiteral("SELECT pg_stat_force_next_flush()"));
    const auto after = server->scans(QStringLiteral("klice"), before.second + 1);
    EXPECT_EQ(after.first - before.first, 0); // sequential scans
    EXPECT_EQ(after.second - before.second, 1); // index scans

    // Changes by key, and transactions that end on the server as they end here.
    prog->Execute(QStringLiteral("insert into Lidé (id, jmeno, narozen, aktivni) values (?, ?, ?, ?)"),
                  {4, QStringLiteral("Šťastný"), QDateTime(QDate(2000, 2, 29), QTime(12, 0)), true});
    prog->Execute(QStringLiteral("update Lidé set jmeno = 'Hora Jan' where id = 1"));
    prog->Execute(QStringLiteral("delete from Lidé where id = 2"));
    prog->BeginTrans();
    prog->Execute(QStringLiteral("insert into Lidé (id, jmeno) values (5, 'Zpět')"));
    prog->Rollback();
    prog->BeginTrans();
    prog->Execute(QStringLiteral("insert into Lidé (id, jmeno) values (6, 'Potvrzen')"));
    prog->CommitTrans();
    EXPECT_EQ(server->psql(QStringLiteral("SELECT id, jmeno, narozen, aktivni FROM lide WHERE id < 10 ORDER BY id")),
              (QStringList{"1|Hora Jan|1950-03-01 08:30:00|t", "3|Čapek|1890-01-09 00:00:00|t",
                           "4|Šťastný|2000-02-29 12:00:00|t", "6|Potvrzen||"}));
    EXPECT_EQ(errorOf([&] { prog->Execute(QStringLiteral("insert into Lidé (id, jmeno) values (1, 'Dvakrát')")); })
                  .left(5),
              QStringLiteral("3022|"));

    // A table without a key is read, never changed.
    EXPECT_EQ(column(*prog, QStringLiteral("select b from Bez"), QStringLiteral("b")), QStringList{"x"});
    for (const char* change : {"insert into Bez (a, b) values (2, 'y')", "update Bez set b = 'z'", "delete from Bez"})
        EXPECT_EQ(errorOf([&] { prog->Execute(QString::fromUtf8(change)); }),
                  QStringLiteral("3027|Tabulku 'bezklice' nelze měnit: na serveru nemá primární klíč ani jedinečný index."))
            << change;
    EXPECT_EQ(server->psql(QStringLiteral("SELECT a, b FROM bezklice")), QStringList{"1|x"});
    prog->Close();

    // Eight processes write through the program file's link at once: every row arrives.
    std::vector<std::unique_ptr<QProcess>> writers;
    for (int writer = 0; writer < 8; ++writer) {
        QStringList script;
        for (int i = 0; i < 10; ++i)
            script << QStringLiteral("'%1' exec '%2' \"insert into Lidé (id, jmeno) values (%3, 'p%4')\" || exit 1")
                          .arg(QStringLiteral(ZULDB_PATH), progPath)
                          .arg(100000 + writer * 100 + i)
                          .arg(writer);
        writers.push_back(startProcess(QStringLiteral("sh"), {QStringLiteral("-c"), script.join(QLatin1Char('\n'))},
                                       {.environment = childEnvironment(true)}));
    }
    for (auto& process : writers) {
        const ProcessResult result = finishProcess(*process, std::chrono::minutes(2));
        EXPECT_TRUE(result.finished);
        EXPECT_EQ(result.exitCode, 0) << result.err.toStdString();
    }
    EXPECT_EQ(server->psql(QStringLiteral("SELECT count(*), count(DISTINCT jmeno) FROM lide WHERE id >= 100000")),
              QStringList{"80|8"});
}

// Values of every kind as the engine keeps them, row after row: a text longer than one piece of
// the driver's reads, with a character of two UTF-16 units across the pieces' border, a date
// without a time, nulls after values; and a change that finds its row by a date key.
TEST_F(OdbcServer, everyKindOfValueAndLongTextReadWholeAndADateKeyFindsItsRow)
{
    const QString longText = QString(2046, QChar(u'ž')) + QStringLiteral("😀 konec");
    server->psql(QStringLiteral("DROP TABLE IF EXISTS hodnoty;"
                                "CREATE TABLE hodnoty (kdy timestamp PRIMARY KEY, den date, cislo bigint, "
                                "realne double precision, ano boolean, kratky varchar(10), dlouhy text);"
                                "INSERT INTO hodnoty VALUES ('2024-02-29 23:59:58', '0999-01-02', -9007199254740993, "
                                "-0.5, false, '', '%1'), ('1900-01-01 00:00:00', NULL, NULL, NULL, NULL, NULL, NULL)")
                     .arg(longText));
    QTemporaryDir dir;
    auto prog = DbEngine().CreateDatabase(dir.filePath(QStringLiteral("prog.accdr")), dao::dbLangCzech);
    auto def = prog->CreateTableDef(QStringLiteral("Hodnoty"));
    def->setConnect(server->connectString());
    def->setSourceTableName(QStringLiteral("hodnoty"));
    prog->TableDefs().Append(def);
    const QStringList names{"kdy", "den", "cislo", "realne", "ano", "kratky", "dlouhy"};
    const QStringList first{"2024-02-29 23:59:58", "0999-01-02 00:00:00", "-9007199254740993", "-0.5", "false", "",
                            longText};
    auto rows = prog->OpenRecordset(QStringLiteral("select * from Hodnoty order by kdy desc"));
    for (int i = 0; i < names.size(); ++i) {
        EXPECT_EQ(rows->value(names[i]).toString(), first[i]) << names[i].toStdString();
        EXPECT_FALSE(rows->value(names[i]).isNull()) << names[i].toStdString();
    }
    rows->MoveNext();
    EXPECT_EQ(rows->value(QStringLiteral("kdy")).toString(), QStringLiteral("1900-01-01 00:00:00"));
    for (int i = 1; i < names.size(); ++i)
        EXPECT_TRUE(rows->value(names[i]).isNull()) << names[i].toStdString();
    rows->Close();

    prog->Execute(QStringLiteral("update Hodnoty set kratky = 'změna' where kdy = '2024-02-29 23:59:58'"));
    EXPECT_EQ(server->psql(QStringLiteral("SELECT kdy, kratky FROM hodnoty ORDER BY kdy")),
              (QStringList{"1900-01-01 00:00:00|", "2024-02-29 23:59:58|změna"}));
}

} // namespace

// The same statements through the engine and through the loadable extension in Python: a key of
// two columns (one numeric, one text) finds the row changed, a keyless table refuses changes, a
// change whose row the server no longer has is refused, and the server holds exactly what was asked.
TEST_F(OdbcServer, keysOfSeveralColumnsChangeTheRightRowsInTheEngineAndTheExtension)
{
    const auto makeTables = [&] {
        server->psql(QStringLiteral(
            "DROP TABLE IF EXISTS sklad2, bez2;"
            "CREATE TABLE sklad2 (oddil integer, kod varchar(10), nazev varchar(40), mnozstvi integer, "
            "PRIMARY KEY (oddil, kod));"
            "INSERT INTO sklad2 VALUES (1, 'a', 'Hrách', 1), (1, 'b', 'Cukr', 2), (2, 'a', 'Čaj', 3), (2, 'b', 'Rýže', 4);"
            "CREATE TABLE bez2 (a integer, b varchar(5)); INSERT INTO bez2 VALUES (1, 'x');"
            // A row that another user's change removes between the read and the write: the server skips it.
            "DROP TABLE IF EXISTS pryc2; CREATE TABLE pryc2 (a integer PRIMARY KEY, b varchar(5));"
            "INSERT INTO pryc2 VALUES (1, 'x');"
            "CREATE OR REPLACE FUNCTION preskoc() RETURNS trigger AS $$ BEGIN RETURN NULL; END $$ LANGUAGE plpgsql;"
            "CREATE TRIGGER preskoc BEFORE UPDATE OR DELETE ON pryc2 FOR EACH ROW EXECUTE FUNCTION preskoc()"));
    };
    makeTables();
    QTemporaryDir dir;
    const QString progPath = dir.filePath(QStringLiteral("prog.accdr"));
    {
        auto prog = DbEngine().CreateDatabase(progPath, dao::dbLangCzech);
        for (const auto& [name, source] : {std::pair{"Sklad", "sklad2"}, std::pair{"Bez", "bez2"}, std::pair{"Pryč", "pryc2"}}) {
            auto def = prog->CreateTableDef(QString::fromUtf8(name));
            def->setConnect(server->connectString());
            def->setSourceTableName(QString::fromUtf8(source));
            prog->TableDefs().Append(def);
        }
    }
    const QStringList statements = {
        "update Sklad set mnozstvi = 10 where oddil = 1 and kod = 'a'",
        "delete from Sklad where oddil = 2 and kod = 'a'",
        "insert into Sklad (oddil, kod, nazev, mnozstvi) values (2, 'c', 'Chmel', 5)",
        "select nazev || ':' || mnozstvi as x from Sklad where oddil < 3 order by nazev",
        "update Bez set b = 'z'",
        "select b as x from Bez",
        "update Pryč set b = 'z'",
        "delete from Pryč",
    };
    // Each client gives a line per statement: the rows joined by ",", "ok", or "error: " and the text.
    const auto engine = [&] {
        auto prog = DbEngine().OpenDatabase(progPath);
        QStringList lines;
        for (const QString& sql : statements) {
            QString line = QStringLiteral("ok");
            const QString error = errorOf([&] {
                if (sql.startsWith(QLatin1String("select")))
                    line = column(*prog, sql, QStringLiteral("x")).join(QLatin1Char(','));
                else
                    prog->Execute(sql);
            });
            lines << (error == QLatin1String("no error") ? line : QStringLiteral("error: ") + error.section('|', 1));
        }
        return lines;
    };
    const auto python = [&] {
        static const char* script = R"(
import sqlite3, sys
db = sqlite3.connect(sys.argv[2])
db.enable_load_extension(True)
db.load_extension(sys.argv[1])
for sql in sys.argv[3:]:
    try:
        rows = db.execute(sql).fetchall()
        db.commit()
        print(",".join(str(r[0]) for r in rows) if sql.startswith("select") else "ok")
    except sqlite3.Error as e:
        db.rollback()
        print("error:", e)
)";
        const ProcessResult result = runProcess(
            QStringLiteral("/usr/bin/python3"),
            QStringList{QStringLiteral("-c"), QString::fromUtf8(script), QStringLiteral(ZULSQLITE_PATH), progPath} +
                statements,
            {.environment = childEnvironment(true)});
        EXPECT_EQ(result.err, QString());
        return result.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    };
    const QString keyless = QStringLiteral("error: Tabulku 'bez2' nelze měnit: na serveru nemá primární klíč ani "
                                           "jedinečný index.");
    const QString gone = QStringLiteral("error: Řádek tabulky 'pryc2' na serveru již není: mezitím jej smazal nebo "
                                        "změnil jeho klíč jiný uživatel.");
    for (const auto& [name, client] :
         {std::pair<const char*, std::function<QStringList()>>{"engine", engine}, {"extension in Python", python}}) {
        SCOPED_TRACE(name);
        makeTables();
        // Czech order: "ch" after "h".
        EXPECT_EQ(client(), (QStringList{"ok", "ok", "ok", "Cukr:2,Hrách:10,Chmel:5,Rýže:4", keyless, "x", gone, gone}));
        EXPECT_EQ(server->psql(QStringLiteral("SELECT oddil, kod, nazev, mnozstvi FROM sklad2 ORDER BY oddil, kod")),
                  (QStringList{"1|a|Hrách|10", "1|b|Cukr|2", "2|b|Rýže|4", "2|c|Chmel|5"}));
        EXPECT_EQ(server->psql(QStringLiteral("SELECT a, b FROM bez2 UNION ALL SELECT a, b FROM pryc2")),
                  (QStringList{"1|x", "1|x"}));
    }
}

// zuldb upsize and its live line: on a terminal the line shows tables, rows, rate and time left and is
// erased before the report; with --quiet, and when the output is not a terminal, no such line.
TEST_F(OdbcServer, upsizeShowsItsProgressOnlyOnATerminal)
{
    QTemporaryDir dir;
    const QString dataPath = dir.filePath(QStringLiteral("data.accdb"));
    {
        auto data = DbEngine().CreateDatabase(dataPath, dao::dbLangCzech);
        data->Execute(QStringLiteral("create table Průběh (A long)"));
        data->BeginTrans();
        for (int i = 0; i < 1500; ++i)
            data->Execute(QStringLiteral("insert into Průběh values (?)"), {i});
        data->CommitTrans();
    }
    const QLocale czech(QLocale::Czech, QLocale::CzechRepublic);
    const QString report = QStringLiteral("tabulka Průběh: %1 řádků\nPřesunuto na server: 1 tabulka (%1 řádků)\n")
                               .arg(czech.toString(1500));
    const struct {
        const char* name;
        bool terminal;
        QStringList options;
        QString expectedReport; // the output without the live line
        bool live;
    } cases[] = {
        {"terminal", true, {}, report, true},
        {"terminalQuiet", true, {QStringLiteral("--quiet")}, QString(), false},
        {"pipe", false, {}, report, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        server->psql(QStringLiteral("DROP TABLE IF EXISTS \"Průběh\""));
        const QStringList arguments =
            QStringList{QStringLiteral("upsize"), dataPath, server->connectString(false)} + c.options;
        ProcessResult result = c.terminal ? runOnATerminal(QStringLiteral(ZULDB_PATH), arguments,
                                                           {.environment = childEnvironment(true)})
                                          : zuldb(arguments);
        EXPECT_EQ(result.exitCode, 0);
        QString& out = result.out;
        // The line is drawn from a carriage return and erased by one: what it leaves is the report.
        EXPECT_EQ(out.contains(QStringLiteral("\r1/1 tabulek, %1/%1 řádků, ").arg(czech.toString(1500))), c.live)
            << out.toStdString();
        EXPECT_EQ(out.contains(QStringLiteral("\r\033[K")), c.live);
        EXPECT_EQ(out.remove(QRegularExpression(QStringLiteral("\r[^\r\n]*?\033\\[K"))), c.expectedReport);
        EXPECT_EQ(server->psql(QStringLiteral("SELECT count(*) FROM \"Průběh\"")), QStringList{"1500"});
    }
}
