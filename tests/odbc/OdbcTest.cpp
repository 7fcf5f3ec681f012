// ODBC links against a real PostgreSQL server that the tests start: connect
// strings, the engine's view of the server, relinks by the utility, zuldb check.

#include "../reliability/Support.h"
#include "OdbcConnectString.h"
#include "OdbcConnection.h"
#include "PostgresServer.h"

#include <QDirIterator>
#include <QThread>

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

    // A lookup by key is the server's index scan, not a read of the table (a table nothing else reads;
    // a server reports its counts within seconds).
    EXPECT_EQ(column(*prog, QStringLiteral("select t from Klíče where id = 15000"), QStringLiteral("t")),
              QStringList{"k15000"});
    QStringList scans;
    for (int attempt = 0; attempt < 150 && (scans.size() != 1 || scans.front().section('|', 1, 1).toInt() < 1);
         ++attempt) {
        QThread::msleep(100);
        scans = server->psql(QStringLiteral("SELECT pg_stat_clear_snapshot(); SELECT seq_scan, idx_scan FROM "
                                            "pg_stat_user_tables WHERE relname='klice'"));
        scans.removeAll(QString());
        if (!scans.isEmpty() && scans.front().isEmpty())
            scans.removeFirst();
    }
    ASSERT_EQ(scans.size(), 1);
    EXPECT_EQ(scans.front().section('|', 1, 1), QStringLiteral("1")); // index scans

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

} // namespace
