// The import of Access-format files: the shared corpus of real files against
// values taken from them with mdbtools' own programs (mdb-tables, mdb-schema,
// mdb-export), bad input, and the move from the original platform end to end.

#include "../db/EngineTestSupport.h"
#include "AccessImport.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <map>

namespace {

const QString corpus = QStringLiteral(DIVADEDADI_CORPUS);

#define NEED_CORPUS()                                                                                                  \
    if (!QDir(corpus).exists())                                                                                        \
    GTEST_SKIP() << "skipped: corpus not present"

struct TableCase {
    QString name;
    int rows;
    bool hidden = false;
};
struct FieldCase {
    QString table, field;
    int type, size;
};
struct ValueCase {
    QString sql, expected; // the first column of the first row, as text
};
struct FileCase {
    QString file;
    int exitCode;
    std::vector<TableCase> tables;
    std::vector<FieldCase> fields;
    std::vector<ValueCase> values;
    std::vector<QStringList> links; // name, source table, stored path
};

const QString agendaDir = QStringLiteral(R"(C:\Users\carlo\Desktop\Agenda Cardio v2.0.3\)");
const QString transportBe =
    QStringLiteral(R"(C:\Users\user\Documents\MS Access Projects\Transport-ERP\code\test_transport_erp_be.accdb)");

std::vector<FileCase> corpusCases()
{
    using namespace dao;
    std::vector<QStringList> agendaLinks;
    for (const auto& [name, file] :
         std::vector<std::pair<QString, QString>>{{"agenda", R"(tabelas\agenda.mdb)"},
                                                  {"BDUTENTES", R"(bdutentes\BDUTENTES.mdb)"},
                                                  {"controlo_horario", R"(tabelas\exames.mdb)"},
                                                  {"duracao_exames", R"(tabelas\exames.mdb)"},
                                                  {"feriados", R"(tabelas\feriados.mdb)"},
                                                  {"ferias", R"(tabelas\utilizadores.mdb)"},
                                                  {"log", R"(tabelas\log.mdb)"},
                                                  {"utentes", R"(tabelas\utentes.mdb)"},
                                                  {"utilizadores", R"(tabelas\utilizadores.mdb)"},
                                                  {"f_fixos", R"(tabelas\feriados.mdb)"},
                                                  {"marcacoes", R"(marcacoes\marcacoes.mdb)"},
                                                  {"recomendacoes", R"(tabelas\exames.mdb)"}})
        agendaLinks.push_back({name, name, agendaDir + file});
    std::vector<QStringList> transportLinks;
    for (const char* name : {"AuditLog", "Clients", "CompanyInfo", "ErrorLog", "InvoiceLines", "Services",
                             "ServiceTypes", "Suppliers", "SystemSettings", "Invoices", "Users"})
        transportLinks.push_back({name, name, transportBe});
    return {
        {"jet3_dbwords.mdb",
         0,
         {{"dbWords", 24}},
         {{"dbWords", "dbWord", dbText, 50}, {"dbWords", "dbDesc", dbMemo, 0}},
         {{"select dbDesc from dbWords where dbWord = 'Atom'",
           "An integer used to identify a string or integer stored in an atom table. Atoms can be stored in either an "
           "application's private atom table or the public atom table defined by the operating system."}},
         {}},
        {"jet3_login_pwd.mdb",
         0,
         {{"T_Log", 18}, {"T_User", 3}},
         {{"T_Log", "Date", dbDate, 0}, {"T_User", "Occupation", dbText, 30}},
         // A time without a date lies on 1899-12-30.
         {{"select [Time] from T_Log where Activity = 'Exit from Program.' and [Time] like '%08:52:08'",
           "1899-12-30 08:52:08"},
          {"select [Date] from T_Log where [Time] like '%08:52:08'", "2003-06-18 00:00:00"},
          {"select Address from T_User where User_ID = 'Operator'", "Jalan Perintis Kemerdekaan 13 Medan 20112"}},
         {}},
        {"jet4_be_agenda_pwd.mdb",
         0,
         {{"agenda", 0}},
         {{"agenda", "data", dbDate, 0}, {"agenda", "tipo_exame", dbText, 50}, {"agenda", "estado", dbBoolean, 0}},
         {},
         {}},
        {"jet4_fe_agenda.mdb",
         0,
         {{"button_control", 8, true}, {"ferias_temp", 0, true}, {"horas_temp", 0, true}, {"powerusers", 1, true}},
         {{"powerusers", "user", dbText, 50}},
         {{"select pass from powerusers where [user] = 'Eduardo'", "pitoide"}},
         agendaLinks},
        {"jet4_ru_cash.mdb",
         0,
         {{"sprav_pokup", 7}, {"real_pokup", 1}, {"virtual_pokup", 0}, {"itog", 0}},
         {{"real_pokup", "Sum_d", dbDouble, 0}, {"sprav_pokup", "d_r", dbBoolean, 0}},
         {{"select name_kat from sprav_pokup where id = 2", "З/п Саши"},
          {"select month_v from real_pokup where id = 1", "06 июнь 2016"},
          {"select Date_v from real_pokup where id = 1", "2016-06-15 00:00:00"},
          {"select Sum_d from real_pokup where id = 1", "500"},
          {"select d_r from sprav_pokup where id = 2", "true"}},
         {}},
        {"jet4_zh_dailyreport.mdb",
         0,
         {{"BasicInformation", 1}, {"Person", 1}, {"Submit", 1}},
         {{"BasicInformation", "Cough", dbText, 1}},
         {{"select Name from BasicInformation", "测试"},
          {"select NowTime from Submit", "2020/09/04 20:39:41.890 星期5"}},
         {}},
        {"ace_be_transport.accdb",
         0,
         {{"ServiceTypes", 5},
          {"~TMPCLP163051", 5},
          {"Users", 3},
          {"Clients", 5},
          {"Suppliers", 11},
          {"Services", 0},
          {"Invoices", 0},
          {"InvoiceLines", 0},
          {"AuditLog", 15},
          {"SystemSettings", 7},
          {"CompanyInfo", 1},
          {"ErrorLog", 3},
          {"~TMPCLP148681", 0},
          {"~TMPCLP157431", 0},
          {"~TMPCLP163052", 0},
          {"~TMPCLP40712", 1},
          {"~TMPCLP40711", 0}},
         {{"Suppliers", "IRPFPercentage", dbDouble, 0}, {"Clients", "AddressLine", dbText, 255}},
         {{"select ContactName from Clients where ClientID = 2", "Hans Müller"},
          {"select AddressLine from Clients where ClientID = 2", "Hauptstraße 123"},
          {"select ModifiedDate from Clients where ClientID = 1", "2025-11-19 23:19:05"},
          {"select IRPFPercentage from Suppliers where SupplierID = 1", "0.15"}},
         {}},
        // The attachment column cannot be held: exit 2 with notes.
        {"ace_cdc_contacts.accdb",
         2,
         {{"Contacts", 0}, {"Settings", 1}},
         {{"Contacts", "ZIP/Postal Code", dbText, 15}, {"Contacts", "Notes", dbMemo, 0}},
         {{"select ShowWelcome from Settings where ID = 1", "true"}},
         {}},
        {"ace_fe_transport.accdb", 0, {}, {}, {}, transportLinks},
    };
}

QString firstValue(Database& db, const QString& sql)
{
    auto records = db.OpenRecordset(sql);
    if (records->EOF())
        return QStringLiteral("<no row>");
    return records->value(records->fieldNames().at(0)).toString();
}

} // namespace

TEST(ImportCorpus, eachFileComesOverAsMdbtoolsReadsIt)
{
    NEED_CORPUS();
    QTemporaryDir dir;
    for (const FileCase& c : corpusCases()) {
        SCOPED_TRACE(c.file.toStdString());
        const QString source = corpus + QLatin1Char('/') + c.file;
        const QString target = dir.filePath(c.file + QStringLiteral(".accdb"));
        const QByteArray before = fileBytes(source);
        QStringList output;
        const auto result = accessdb::importFile(source, target, [&](const QString& line) { output << line; });
        EXPECT_EQ(result.exitCode(), c.exitCode) << output.join('\n').toStdString();
        EXPECT_EQ(fileBytes(source), before);

        auto db = DbEngine().OpenDatabase(target);
        std::map<QString, TableCase> tables;
        std::map<QString, QStringList> links;
        for (int i = 0; i < db->TableDefs().Count(); ++i) {
            const auto def = db->TableDefs().Item(i);
            const qint32 attributes = def->Attributes();
            if ((attributes & dao::dbSystemObject) == dao::dbSystemObject)
                continue;
            if (attributes & dao::dbAttachedTable) {
                links[def->Name()] = {def->Name(), def->SourceTableName(), def->Connect()};
                continue;
            }
            const int rows = firstValue(*db, QStringLiteral("select count(*) from [%1]").arg(def->Name())).toInt();
            tables[def->Name()] = {def->Name(), rows, (attributes & dao::dbHiddenObject) != 0};
        }
        ASSERT_EQ(tables.size(), c.tables.size());
        for (const TableCase& t : c.tables) {
            EXPECT_EQ(tables[t.name].rows, t.rows) << t.name.toStdString();
            EXPECT_EQ(tables[t.name].hidden, t.hidden) << t.name.toStdString();
        }
        for (const FieldCase& f : c.fields) {
            const auto field = db->TableDefs().Item(f.table)->field(f.field);
            EXPECT_EQ(field->Type, f.type) << f.field.toStdString();
            EXPECT_EQ(field->Size, f.size) << f.field.toStdString();
        }
        for (const ValueCase& v : c.values)
            EXPECT_EQ(firstValue(*db, v.sql), v.expected) << v.sql.toStdString();
        ASSERT_EQ(links.size(), c.links.size());
        for (const QStringList& link : c.links)
            EXPECT_EQ(links[link.at(0)], QStringList({link.at(0), link.at(1), dao::dbConnectPrefix + link.at(2)}));
    }
}

TEST(ImportCorpus, primaryKeysAndUniqueIndexesHoldInTheNewFile)
{
    NEED_CORPUS();
    QTemporaryDir dir;
    const QString target = dir.filePath(QStringLiteral("t.accdb"));
    accessdb::importFile(corpus + QStringLiteral("/ace_be_transport.accdb"), target, [](const QString&) {});
    auto db = DbEngine().OpenDatabase(target);
    // ServiceTypeName is unique, ServiceTypeID the primary key (both from mdb-schema).
    for (const char* sql : {"insert into ServiceTypes (ServiceTypeID, ServiceTypeName) values (1, 'Nový')",
                            "insert into ServiceTypes (ServiceTypeID, ServiceTypeName) values (99, 'National "
                            "Transport')"}) {
        const QString error = errorOf([&] { db->Execute(QString::fromUtf8(sql)); });
        EXPECT_TRUE(error.startsWith(QString::number(ErrorNumber::DuplicateValue) + QLatin1Char('|'))) << sql;
    }
}

namespace {

struct BadCase {
    QString name;
    std::function<QString(const QString& dir)> makeSource; // returns the source path
    int number;
    QString cause; // a part of the description
};

QString writeFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(bytes);
    return path;
}

QByteArray corpusBytes(const QString& name)
{
    return fileBytes(corpus + QLatin1Char('/') + name);
}

} // namespace

TEST(ImportBadInput, refusedWithACzechErrorNamingTheFileAndNothingLeftBehind)
{
    NEED_CORPUS();
    QRandomGenerator random(14);
    QByteArray noise(8192, '\0');
    for (char& byte : noise)
        byte = char(random.bounded(256));
    QByteArray accessHeaderNoise = corpusBytes(QStringLiteral("jet4_ru_cash.mdb")).left(4096) + noise;
    QByteArray newer = corpusBytes(QStringLiteral("ace_cdc_contacts.accdb"));
    newer[0x14] = char(0x20);
    const std::vector<BadCase> cases = {
        {"missing file", [](const QString& d) { return d + "/nic.mdb"; }, ErrorNumber::FileNotFoundDb, "nebyl nalezen"},
        {"random bytes", [&](const QString& d) { return writeFile(d + "/random.mdb", noise); },
         ErrorNumber::UnrecognizedFormat, "není databází formátu Access"},
        {"truncated inside a page",
         [](const QString& d) {
             return writeFile(d + "/cut.accdb", corpusBytes("ace_be_transport.accdb").left(100000));
         },
         ErrorNumber::DatabaseCorrupt, "poškozený nebo zkrácený"},
        {"truncated at a page boundary",
         [](const QString& d) {
             return writeFile(d + "/cut2.accdb", corpusBytes("ace_be_transport.accdb").left(65536));
         },
         ErrorNumber::DatabaseCorrupt, "poškozený"},
        {"an Access header over random pages",
         [&](const QString& d) { return writeFile(d + "/noise.mdb", accessHeaderNoise); }, ErrorNumber::DatabaseCorrupt,
         "poškozený"},
        {"a newer format", [&](const QString& d) { return writeFile(d + "/new.accdb", newer); },
         ErrorNumber::UnrecognizedFormat, "novějším formátu"},
        {"an engine file instead of an Access file",
         [](const QString& d) {
             DbEngine().CreateDatabase(d + "/our.accdb", dao::dbLangCzech)->Close();
             return d + "/our.accdb";
         },
         ErrorNumber::UnrecognizedFormat, "není databází formátu Access"},
    };
    for (const BadCase& c : cases) {
        SCOPED_TRACE(c.name.toStdString());
        QTemporaryDir dir;
        const QString source = c.makeSource(dir.path());
        const QByteArray before = fileBytes(source);
        const QStringList filesBefore = QDir(dir.path()).entryList(QDir::Files | QDir::Hidden);
        const QString error = errorOf(
            [&] { accessdb::importFile(source, dir.filePath(QStringLiteral("cil.accdb")), [](const QString&) {}); });
        EXPECT_TRUE(error.startsWith(QString::number(c.number) + QLatin1Char('|'))) << error.toStdString();
        EXPECT_TRUE(error.contains(source)) << error.toStdString();
        EXPECT_TRUE(error.contains(c.cause)) << error.toStdString();
        EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), filesBefore);
        EXPECT_EQ(fileBytes(source), before);
    }
}

// What the library does on a damaged file, done by readers of our own: the
// caller gets what came before and then a numbered error naming the file.
TEST(ImportBadInput, aReaderThatCrashesOrFailsInTheChildBecomesAnError)
{
    struct Collect : accessdb::Sink {
        QStringList tables;
        void table(const accessdb::Table& table) override { tables << table.name; }
    };
    const std::vector<std::pair<std::function<void(accessdb::Sink&)>, QString>> cases = {
        {[](accessdb::Sink&) { std::raise(SIGSEGV); },
         "3049|Čtení souboru 'x.mdb' selhalo (čtecí proces skončil signálem 11); soubor je zřejmě poškozený."},
        {[](accessdb::Sink&) { std::_Exit(4); },
         "3049|Čtení souboru 'x.mdb' selhalo (čtecí proces skončil kódem 4); soubor je zřejmě poškozený."},
        {[](accessdb::Sink&) { throw RunTimeError(3343, QStringLiteral("Nerozpoznaný formát.")); },
         "3343|Nerozpoznaný formát."},
    };
    for (const auto& [reader, expected] : cases) {
        Collect sink;
        EXPECT_EQ(errorOf([&] {
                      accessdb::readInChild(QStringLiteral("x.mdb"), sink, [&](accessdb::Sink& out) {
                          out.table(accessdb::Table{QStringLiteral("Před"), false, {}, {}});
                          reader(out);
                      });
                  }),
                  expected);
        EXPECT_EQ(sink.tables, QStringList({QStringLiteral("Před")}));
    }
}

TEST(ImportBadInput, anExistingTargetIsRefusedAndKept)
{
    NEED_CORPUS();
    QTemporaryDir dir;
    const QString target = writeFile(dir.filePath(QStringLiteral("ZUL_data.accdb")), "earlier work");
    EXPECT_EQ(errorOf([&] {
                  accessdb::importFile(corpus + QStringLiteral("/jet3_dbwords.mdb"), target, [](const QString&) {});
              }),
              QStringLiteral("%1|Soubor '%2' již existuje; import jej nepřepíše.")
                  .arg(ErrorNumber::FileAlreadyExists)
                  .arg(target));
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList({"ZUL_data.accdb"}));
    EXPECT_EQ(fileBytes(target), QByteArray("earlier work"));
}

namespace {

ProcessResult zuldb(const QStringList& args, bool asNobody = false)
{
    return runProcess(QStringLiteral(ZULDB_EXE), args, {.asNobody = asNobody});
}

} // namespace

TEST(ImportZuldb, reportsEachTableQuietlyOrWithFiguresAndListsAccessFiles)
{
    NEED_CORPUS();
    QTemporaryDir dir;
    const QString ru = corpus + QStringLiteral("/jet4_ru_cash.mdb");
    ProcessResult r = zuldb({"import", ru, dir.filePath("a.accdb")});
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    const QString report = QStringLiteral("tabulka sprav_pokup: 7 řádků\ntabulka real_pokup: 1 řádek\n"
                                          "tabulka virtual_pokup: 0 řádků\ntabulka itog: 0 řádků\n"
                                          "Importováno: 4 tabulky (8 řádků), 0 propojených tabulek.\n");
    EXPECT_EQ(r.out, report);
    // On a terminal a live line (tables and rows of the file's own counts, the rate) is drawn and erased
    // before each line of the report; --quiet keeps the terminal empty.
    r = runOnATerminal(QStringLiteral(ZULDB_EXE), {"import", ru, dir.filePath("t.accdb")});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_TRUE(r.out.contains(QStringLiteral("\r4/4 tabulek, 8/8 řádků, "))) << r.out.toStdString();
    EXPECT_EQ(r.out.remove(QRegularExpression(QStringLiteral("\r[^\r\n]*?\033\\[K"))), report);
    r = runOnATerminal(QStringLiteral(ZULDB_EXE), {"import", "--quiet", ru, dir.filePath("q.accdb")});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.out, QString());
    r = zuldb({"import", "--quiet", corpus + QStringLiteral("/ace_cdc_contacts.accdb"), dir.filePath("b.accdb")});
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_EQ(r.out, QString());
    r = zuldb({"import", "--stats", ru, dir.filePath("c.accdb")});
    EXPECT_TRUE(r.out.contains(QStringLiteral("\nDoba: "))) << r.out.toStdString();
    r = zuldb({"import", ru, dir.filePath("c.accdb")});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.err,
              QStringLiteral("3204  Soubor '%1' již existuje; import jej nepřepíše.\n").arg(dir.filePath("c.accdb")));

    // The program file as it will be imported, read-only.
    r = zuldb({"tables", corpus + QStringLiteral("/jet4_fe_agenda.mdb")});
    const QStringList lines = r.out.split('\n', Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 16);
    EXPECT_EQ(lines.at(0), QStringLiteral("button_control\t0x00000001\t\t"));
    // The backslashes of the original platform's path, escaped as in every field zuldb prints.
    EXPECT_EQ(lines.at(4), QStringLiteral("agenda\t0x40000000\t;DATABASE=") + QString(agendaDir).replace('\\', "\\\\") +
                               QStringLiteral("tabelas\\\\agenda.mdb\tagenda"));
}

TEST(ImportZuldb, anUnwritableFolderIsReportedToAnOrdinaryUser)
{
    NEED_CORPUS();
    QTemporaryDir dir;
    QDir(dir.path()).mkdir(QStringLiteral("ro"));
    QFile::setPermissions(dir.path(), QFileDevice::Permissions(0x7777));
    QFile::setPermissions(dir.filePath("ro"), QFileDevice::ReadOwner | QFileDevice::ExeOwner | QFileDevice::ReadOther |
                                                  QFileDevice::ExeOther);
    const QString target = dir.filePath(QStringLiteral("ro/x.accdb"));
    if (!canRunAsNobody())
        GTEST_SKIP() << "cannot run as nobody here";
    const ProcessResult r = zuldb({"import", corpus + "/jet3_dbwords.mdb", target}, true);
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.err, QStringLiteral("3051  Do složky '%1' nelze zapisovat; soubor '%2' nelze vytvořit.\n")
                         .arg(dir.filePath("ro"), target));
    EXPECT_TRUE(QDir(dir.filePath("ro")).isEmpty());
}

// The move as a user makes it: both files imported, the relink run by the real
// binary, its links checked with zuldb.
TEST(ImportEndToEnd, theImportedProgramFileIsRelinkedToTheImportedDataFile)
{
    NEED_CORPUS();
    QTemporaryDir dir;
    const QDir root(dir.path());
    ASSERT_TRUE(root.mkpath(QStringLiteral("app/INI")));
    const QString exe = root.filePath(QStringLiteral("app/divadedadi"));
    ASSERT_TRUE(QFile::copy(QStringLiteral(DIVADEDADI_EXE), exe));
    const QString program = root.filePath(QStringLiteral("app/ZUL.accdr"));
    const QString data = root.filePath(QStringLiteral("app/ZUL_data.accdb"));
    ASSERT_EQ(zuldb({"import", corpus + "/jet4_fe_agenda.mdb", program}).exitCode, 0);
    ASSERT_EQ(zuldb({"import", corpus + "/jet4_be_agenda_pwd.mdb", data}).exitCode, 0);
    // A row in the data file that only a link to it can show.
    DbEngine().OpenDatabase(data)->Execute(
        QStringLiteral("insert into agenda (id, data, hora, tipo_exame, utente, utilizador, estado) values "
                       "(7, '2024-05-02 00:00:00', '1899-12-30 09:30:00', 'Eco', 1, 2, true)"));

    const ProcessResult relink =
        runProcess(exe, {"ZULprog=" + program, "ZULdata=" + data}, {.environment = kOffscreen});
    ASSERT_EQ(relink.exitCode, 0) << relink.err.toStdString();

    auto db = DbEngine().OpenDatabase(program);
    const auto agenda = db->TableDefs().Item(QStringLiteral("agenda"));
    EXPECT_EQ(agenda->Connect(), dao::dbConnectPrefix + data);
    EXPECT_EQ(firstValue(*db, QStringLiteral("select tipo_exame from agenda where hora = '1899-12-30 09:30:00'")),
              QStringLiteral("Eco"));
    // Links to the other data files keep their Windows paths; check reports them missing.
    EXPECT_EQ(db->TableDefs().Item(QStringLiteral("log"))->Connect(),
              dao::dbConnectPrefix + agendaDir + QStringLiteral("tabelas\\log.mdb"));
    db->Close();
    const ProcessResult check = zuldb({"check", program});
    EXPECT_EQ(check.exitCode, 1);
    const QStringList lines = check.out.split('\n', Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 12) << check.out.toStdString();
    for (const QString& line : lines) {
        if (line.startsWith(QLatin1String("agenda\t")))
            EXPECT_EQ(line, QStringLiteral("agenda\t") + data + QStringLiteral("\tagenda\tok"));
        else
            // Backslashes printed escaped, as every field zuldb prints.
            EXPECT_TRUE(line.contains(QStringLiteral("\tC:\\\\Users\\\\carlo\\\\")) &&
                        line.endsWith(QLatin1String("\tfile missing")))
                << line.toStdString();
    }
}

// An import killed at any moment leaves its hidden reservation, its
// unfinished file and that file's journal; the next import into the folder
// removes them (and never a file of a running import or of anyone else).
TEST(ImportZuldb, temporariesOfAKilledImportAreGoneAfterTheNextImport)
{
    NEED_CORPUS();
    const QString source = corpus + QStringLiteral("/ace_be_transport.accdb");
    for (const int delay : {50, 150, 400, 800}) {
        SCOPED_TRACE(delay);
        QTemporaryDir dir;
        QFile other(dir.filePath(QStringLiteral(".someone-abcdef")));
        ASSERT_TRUE(other.open(QIODevice::WriteOnly));
        other.write("not an import\n");
        other.close();
        const std::unique_ptr<QProcess> killed =
            startProcess(QStringLiteral(ZULDB_EXE), {QStringLiteral("import"), source, dir.filePath("a.accdb")});
        ASSERT_EQ(killed->state(), QProcess::Running);
        QThread::msleep(delay);
        ::kill(pid_t(killed->processId()), SIGKILL);
        killed->waitForFinished();

        const ProcessResult next =
            zuldb({"import", "--quiet", corpus + QStringLiteral("/jet4_ru_cash.mdb"), dir.filePath("b.accdb")});
        EXPECT_EQ(next.exitCode, 0) << next.err.toStdString();
        QStringList left = QDir(dir.path()).entryList(QDir::Files | QDir::Hidden | QDir::System, QDir::Name);
        left.removeOne(QStringLiteral("a.accdb")); // the killed import may have finished
        EXPECT_EQ(left, (QStringList{QStringLiteral(".someone-abcdef"), QStringLiteral("b.accdb")}));
    }
}
