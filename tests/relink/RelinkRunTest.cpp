#include "RelinkRun.h"

#include "DBEngine.h"
#include "Errors.h"
#include "Globals.h"
#include "IniFile.h"
#include "ListFile.h"
#include "RecordingWindow.h"
#include "TestSupport.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <functional>

namespace {

const QString kNotSet = QStringLiteral("Proměnná objektu nebo proměnná bloku With není nastavena.");
const QString kFailedBox = QStringLiteral("box !|Vindo-ZUL|V průběhu propojování databází se vyskytly chyby.");
const QString kCleanBox = QStringLiteral("box i|Vindo-ZUL|Propojení databází proběhlo v pořádku.");

std::unique_ptr<Database> createDb(const QString& path)
{
    return DbEngine().CreateDatabase(path, dao::dbLangCzech, dao::dbVersion120);
}

// A local table with text fields and one row per value of the first field.
void addTable(Database& db, const QString& name, const QStringList& fields, const QStringList& firstValues = {})
{
    std::shared_ptr<TableDef> def = db.CreateTableDef(name);
    for (const QString& field : fields)
        def->appendField(def->CreateField(field, dao::dbText, 50));
    db.TableDefs().Append(def);
    for (const QString& value : firstValues)
        db.Execute(QStringLiteral("insert into [%1] ([%2]) values (?)").arg(name, fields.first()), {value});
}

void addLink(Database& db, const QString& name, const QString& file, const QString& source)
{
    std::shared_ptr<TableDef> def = db.CreateTableDef();
    def->setConnect(dao::dbConnectPrefix + file);
    def->setSourceTableName(source);
    def->setName(name);
    db.TableDefs().Append(def);
}

// The non-system tables of a file: "name|attributes|connect|source|fields".
QStringList describe(const QString& path)
{
    QStringList result;
    std::unique_ptr<Database> db = DbEngine().OpenDatabase(path);
    TableDefCollection& defs = db->TableDefs();
    for (int i = 0; i < defs.Count(); ++i) {
        std::shared_ptr<TableDef> def = defs.Item(i);
        if ((def->Attributes() & dao::dbSystemObject) != 0)
            continue;
        QStringList fields;
        for (const auto& field : def->fields())
            fields.append(field->Name);
        result.append(QStringLiteral("%1|%2|%3|%4|%5")
                          .arg(def->Name(), QString::number(quint32(def->Attributes()), 16), def->Connect(),
                               def->SourceTableName(), fields.join(QLatin1Char(','))));
    }
    db->Close();
    return result;
}

// The first field's values of a table, read through the given file.
QStringList firstColumn(const QString& path, const QString& table, const QString& field)
{
    QStringList result;
    std::unique_ptr<Database> db = DbEngine().OpenDatabase(path);
    std::unique_ptr<Recordset> records =
        db->OpenRecordset(QStringLiteral("select * from [%1] order by [%2]").arg(table, field));
    while (!records->EOF()) {
        result.append(records->value(field).toString());
        records->MoveNext();
    }
    records->Close();
    db->Close();
    return result;
}

struct DataTable {
    QString name;
    bool skipped;
};

// The data file's table definitions in the engine's order, as the run sees them.
QList<DataTable> enumerate(const QString& path)
{
    QList<DataTable> result;
    std::unique_ptr<Database> db = DbEngine().OpenDatabase(path);
    TableDefCollection& defs = db->TableDefs();
    for (int i = 0; i < defs.Count(); ++i) {
        std::shared_ptr<TableDef> def = defs.Item(i);
        result.append({def->Name(), (def->Attributes() & dao::dbSkipMask) != 0});
    }
    db->Close();
    return result;
}

QString stepsOf(const RelinkReport& report)
{
    QStringList steps;
    for (const auto& failure : report.failures)
        steps.append(QStringLiteral("%1 %2").arg(failure.step).arg(failure.table));
    return steps.join(QStringLiteral(", "));
}

QString outcomeOf(const RelinkReport& report, const QString& table)
{
    static const char* const names[] = {"skipped", "repointed", "created", "failed"};
    for (const auto& t : report.tables)
        if (t.name == table)
            return QLatin1String(names[int(t.outcome)]);
    return QStringLiteral("absent");
}

class RelinkRunTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_dir.isValid());
        resetGlobals();
        for (const char* folder : {"INI", "prog", "data", "old"})
            ASSERT_TRUE(QDir(m_dir.path()).mkpath(QLatin1String(folder)));
        gIniPath = m_dir.filePath(QStringLiteral("INI/ZUL.ini"));
        gListDbPath = m_dir.filePath(QStringLiteral("ZUL_db.accdb"));
        CreateListFile(m_desktop);
        ASSERT_TRUE(m_desktop.events.isEmpty());

        m_program = m_dir.filePath(QStringLiteral("prog/ZUL.accdr"));
        m_data = m_dir.filePath(QStringLiteral("data/ZUL_data.accdb"));
        m_old = m_dir.filePath(QStringLiteral("old/Stare.accdb"));
        m_window.text1 = m_program;
        m_window.combo().preset(m_data);
        m_desktop.onEvent = [this](const QString& event) {
            m_log.append(event);
            if (m_hook)
                m_hook(event);
        };
    }
    void TearDown() override { resetGlobals(); }

    // A program file with a local table and a link to another file, and a data
    // file with two tables, both with rows.
    void makeUsualFiles()
    {
        auto old = createDb(m_old);
        addTable(*old, QStringLiteral("Ciselnik"), {QStringLiteral("Kod")}, {QStringLiteral("A")});
        addTable(*old, QStringLiteral("Klienti"), {QStringLiteral("Stary")}, {QStringLiteral("stary")});
        old->Close();

        auto data = createDb(m_data);
        addTable(*data, QStringLiteral("Klienti"), {QStringLiteral("Jmeno"), QStringLiteral("Mesto")},
                 {QStringLiteral("Novák"), QStringLiteral("Čermák")});
        addTable(*data, QStringLiteral("Zakazky"), {QStringLiteral("Cislo")}, {QStringLiteral("1")});
        data->Close();

        auto program = createDb(m_program);
        addTable(*program, QStringLiteral("Nastaveni"), {QStringLiteral("Klic")});
        addLink(*program, QStringLiteral("Ciselnik"), m_old, QStringLiteral("Ciselnik"));
        program->Close();
    }

    QString ini(const QString& section, const QString& key) const { return IniFile::read(gIniPath, section, key); }
    QByteArray iniBytes() const
    {
        QFile file(gIniPath);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }
    void writeIni(const QByteArray& content) { ASSERT_TRUE(writeBytes(gIniPath, content)); }

    RelinkReport run() { return RunRelink(m_window, m_desktop); }

    // The whole sequence of a run that meets no failure: window calls and
    // desktop events in order, the list holding listed paths before the run.
    QStringList cleanRunLog(const QStringList& listed, bool showMessage) const
    {
        const QList<DataTable> tables = enumerate(m_data);
        QStringList log = {
            QStringLiteral("running 1"), QStringLiteral("ontop 1"),     QStringLiteral("pointer hourglass"),
            QStringLiteral("propoj 0"),  QStringLiteral("storno 0"),    QStringLiteral("focus Picture1"),
            QStringLiteral("lblDB "),    QStringLiteral("lblTabulka "), QStringLiteral("cbo clear")};
        for (const QString& item : listed)
            log << QStringLiteral("cbo add ") + item << QStringLiteral("doevents");
        log << QStringLiteral("cbo text ") + m_data << QStringLiteral("lblDB %1/prog/ -> %1/data/").arg(m_dir.path())
            << QStringLiteral("value 0") << QStringLiteral("bar 1") << QStringLiteral("Picture2 1")
            << QStringLiteral("doevents") << QStringLiteral("max %1").arg(tables.size());
        int counter = 0;
        for (const DataTable& table : tables) {
            if (!table.skipped)
                log << QStringLiteral("lblTabulka ") + table.name << QStringLiteral("doevents");
            log << QStringLiteral("value %1").arg(++counter) << QStringLiteral("doevents");
        }
        log << QStringLiteral("pointer default") << QStringLiteral("doevents") << QStringLiteral("beep");
        if (showMessage)
            log << kCleanBox;
        log << QStringLiteral("running 0") << QStringLiteral("propoj 1") << QStringLiteral("storno 1")
            << QStringLiteral("focus btnStorno") << QStringLiteral("Picture2 0") << QStringLiteral("bar 0")
            << QStringLiteral("doevents") << QStringLiteral("ontop 0");
        return log;
    }

    QTemporaryDir m_dir;
    QStringList m_log;
    RecordingDesktop m_desktop;
    RecordingWindow m_window{m_log};
    std::function<void(const QString&)> m_hook;
    QString m_program;
    QString m_data;
    QString m_old;
};

} // namespace

TEST_F(RelinkRunTest, cleanRunCreatesLinksAndLeavesOtherTablesAlone)
{
    makeUsualFiles();
    writeIni("; volající program\r\n[MAIN]\r\nDIVadedadiExe=ERROR\r\n");
    const QStringList programBefore = describe(m_program);

    const RelinkReport report = run();

    EXPECT_EQ(m_log, cleanRunLog({m_data}, false));
    EXPECT_FALSE(report.failed);
    EXPECT_FALSE(gLinkFailed);
    EXPECT_TRUE(report.failures.isEmpty());
    EXPECT_EQ(outcomeOf(report, QStringLiteral("Klienti")), QStringLiteral("created"));
    EXPECT_EQ(outcomeOf(report, QStringLiteral("Zakazky")), QStringLiteral("created"));
    EXPECT_EQ(report.tables.size(), enumerate(m_data).size());
    EXPECT_EQ(gProgramPath, m_program);
    EXPECT_EQ(gDataPath, m_data);

    const QString connect = dao::dbConnectPrefix + m_data;
    EXPECT_EQ(describe(m_program),
              QStringList({programBefore.at(0), QStringLiteral("Klienti|40000000|%1|Klienti|Jmeno,Mesto").arg(connect),
                           programBefore.at(1), QStringLiteral("Zakazky|40000000|%1|Zakazky|Cislo").arg(connect)}));
    // The new links read the data file's rows.
    EXPECT_EQ(firstColumn(m_program, QStringLiteral("Klienti"), QStringLiteral("Jmeno")),
              QStringList({QStringLiteral("Čermák"), QStringLiteral("Novák")}));

    // No "zobrazZpravu": the outcome key keeps the earlier value.
    EXPECT_EQ(iniBytes(), QByteArray("; volající program\r\n[MAIN]\r\nDIVadedadiExe=ERROR\r\nZULdata=") +
                              m_data.toUtf8() + QByteArray("\r\n[DIVadedadi]\r\nLastDB=") + m_data.toUtf8() +
                              QByteArray("\r\n"));
    EXPECT_EQ(ini(QStringLiteral("DIVadedadi"), QStringLiteral("LastDB")), m_data);
}

TEST_F(RelinkRunTest, cleanRunWithShowMessageReportsOkAfterTheBox)
{
    makeUsualFiles();
    gShowMessage = true;
    writeIni("[MAIN]\r\nDIVadedadiExe=OK\r\n");
    QStringList seen;
    bool firstCatchUpAfterOpening = true;
    m_hook = [&](const QString& event) {
        // The step that lets the window catch up after both files are opened.
        if (event == QStringLiteral("doevents") && m_log.size() >= 2 &&
            m_log.at(m_log.size() - 2) == QStringLiteral("Picture2 1") && firstCatchUpAfterOpening) {
            firstCatchUpAfterOpening = false;
            seen << QStringLiteral("opened: ") + ini(QStringLiteral("MAIN"), QStringLiteral("DIVadedadiExe"));
        }
        if (event.startsWith(QStringLiteral("box ")))
            seen << QStringLiteral("box: ") + ini(QStringLiteral("MAIN"), QStringLiteral("DIVadedadiExe")) + " " +
                        ini(QStringLiteral("MAIN"), QStringLiteral("ZULdata"));
    };

    const RelinkReport report = run();

    EXPECT_FALSE(report.failed);
    EXPECT_EQ(m_log, cleanRunLog({m_data}, true));
    // An earlier "OK" is gone before the files are opened; "OK" comes back
    // only after the box was closed.
    EXPECT_EQ(seen, QStringList({QStringLiteral("opened: ERROR"), QStringLiteral("box: ERROR ") + m_data}));
    EXPECT_EQ(iniBytes(), QByteArray("[MAIN]\r\nDIVadedadiExe=OK\r\nZULdata=") + m_data.toUtf8() +
                              QByteArray("\r\n[DIVadedadi]\r\nLastDB=") + m_data.toUtf8() + QByteArray("\r\n"));
}

TEST_F(RelinkRunTest, existingLinkIsRepointedAndRefreshedKeepingItsSource)
{
    makeUsualFiles();
    {
        auto program = DbEngine().OpenDatabase(m_program);
        addLink(*program, QStringLiteral("Klienti"), m_old, QStringLiteral("Klienti"));
        program->Close();
    }
    ASSERT_EQ(firstColumn(m_program, QStringLiteral("Klienti"), QStringLiteral("Stary")),
              QStringList({QStringLiteral("stary")}));

    const RelinkReport report = run();

    EXPECT_FALSE(report.failed) << stepsOf(report).toStdString();
    EXPECT_EQ(outcomeOf(report, QStringLiteral("Klienti")), QStringLiteral("repointed"));
    EXPECT_EQ(outcomeOf(report, QStringLiteral("Zakazky")), QStringLiteral("created"));
    EXPECT_TRUE(
        describe(m_program).contains(QStringLiteral("Klienti|40000000|;DATABASE=%1|Klienti|Jmeno,Mesto").arg(m_data)));
    EXPECT_EQ(firstColumn(m_program, QStringLiteral("Klienti"), QStringLiteral("Jmeno")),
              QStringList({QStringLiteral("Čermák"), QStringLiteral("Novák")}));
    // The link to another file without a namesake in the data file is untouched.
    EXPECT_TRUE(describe(m_program).contains(QStringLiteral("Ciselnik|40000000|;DATABASE=%1|Ciselnik|Kod").arg(m_old)));
}

TEST_F(RelinkRunTest, repointedLinkWhoseSourceIsMissingInTheDataFileFails)
{
    makeUsualFiles();
    {
        auto old = DbEngine().OpenDatabase(m_old);
        addTable(*old, QStringLiteral("KlientiStari"), {QStringLiteral("Stary")});
        old->Close();
        auto program = DbEngine().OpenDatabase(m_program);
        addLink(*program, QStringLiteral("Klienti"), m_old, QStringLiteral("KlientiStari"));
        program->Close();
    }

    const RelinkReport report = run();

    EXPECT_TRUE(report.failed);
    EXPECT_EQ(stepsOf(report), QStringLiteral("33 Klienti"));
    EXPECT_EQ(outcomeOf(report, QStringLiteral("Klienti")), QStringLiteral("failed"));
    EXPECT_EQ(outcomeOf(report, QStringLiteral("Zakazky")), QStringLiteral("created"));
    // Its source table name was never touched.
    bool found = false;
    for (const QString& line : describe(m_program))
        if (line.startsWith(QStringLiteral("Klienti|"))) {
            found = true;
            EXPECT_EQ(line.section(QLatin1Char('|'), 3, 3), QStringLiteral("KlientiStari"));
        }
    EXPECT_TRUE(found);
    ASSERT_EQ(m_desktop.boxes().size(), 2);
    EXPECT_EQ(m_desktop.boxes().at(0), QStringLiteral("box !|DIVadedadi|") + report.failures.at(0).description);
    EXPECT_EQ(m_desktop.boxes().at(1), kFailedBox);
    EXPECT_EQ(ini(QStringLiteral("MAIN"), QStringLiteral("DIVadedadiExe")), QStringLiteral("ERROR"));
}

TEST_F(RelinkRunTest, localTableOfTheSameNameFailsTwiceAndTheWalkGoesOn)
{
    makeUsualFiles();
    {
        auto program = DbEngine().OpenDatabase(m_program);
        addTable(*program, QStringLiteral("Klienti"), {QStringLiteral("Vlastni")});
        program->Close();
    }

    const RelinkReport report = run();

    EXPECT_TRUE(report.failed);
    EXPECT_TRUE(gLinkFailed);
    EXPECT_EQ(stepsOf(report), QStringLiteral("32 Klienti, 33 Klienti"));
    EXPECT_EQ(outcomeOf(report, QStringLiteral("Zakazky")), QStringLiteral("created"));
    EXPECT_TRUE(describe(m_program).contains(QStringLiteral("Klienti|0|||Vlastni")));

    // Each failure: pointer back, beep, its own box; then the outcome box.
    QStringList expected;
    for (const auto& failure : report.failures)
        expected << QStringLiteral("pointer default") << QStringLiteral("beep")
                 << QStringLiteral("box !|DIVadedadi|") + failure.description;
    const qsizetype first = m_log.indexOf(QStringLiteral("box !|DIVadedadi|") + report.failures.at(0).description);
    ASSERT_GE(first, 2);
    EXPECT_EQ(m_log.mid(first - 2, 6), expected);
    EXPECT_EQ(m_desktop.boxes().last(), kFailedBox);
    // The hourglass is never set again after the first failure.
    EXPECT_EQ(m_desktop.events.count(QStringLiteral("pointer hourglass")), 1);
    EXPECT_EQ(ini(QStringLiteral("MAIN"), QStringLiteral("DIVadedadiExe")), QStringLiteral("ERROR"));
    EXPECT_EQ(m_log.last(), QStringLiteral("ontop 0"));
}

TEST_F(RelinkRunTest, systemAndLinkedDataTablesAreSkippedButCountedAndHiddenOnesLinked)
{
    makeUsualFiles();
    {
        auto data = DbEngine().OpenDatabase(m_data);
        addLink(*data, QStringLiteral("Cizi"), m_old, QStringLiteral("Ciselnik"));
        addTable(*data, QStringLiteral("Skryta"), {QStringLiteral("X")});
        data->TableDefs().Item(QStringLiteral("Skryta"))->setAttributes(dao::dbHiddenObject);
        data->Close();
    }
    const QList<DataTable> tables = enumerate(m_data);
    int systemTables = 0;
    for (const DataTable& t : tables)
        systemTables += t.skipped && t.name != QStringLiteral("Cizi");
    ASSERT_GT(systemTables, 0);

    const RelinkReport report = run();

    EXPECT_FALSE(report.failed) << stepsOf(report).toStdString();
    EXPECT_EQ(m_log, cleanRunLog({m_data}, false));
    EXPECT_EQ(m_log.count(QStringLiteral("max %1").arg(tables.size())), 1);
    EXPECT_EQ(m_log.count(QStringLiteral("value %1").arg(tables.size())), 1);
    EXPECT_EQ(outcomeOf(report, QStringLiteral("Cizi")), QStringLiteral("skipped"));
    EXPECT_EQ(outcomeOf(report, QStringLiteral("Skryta")), QStringLiteral("created"));
    int skipped = 0;
    for (const auto& t : report.tables)
        skipped += t.outcome == RelinkReport::Outcome::Skipped;
    EXPECT_EQ(skipped, systemTables + 1);

    QStringList names;
    for (const QString& line : describe(m_program))
        names.append(line.section(QLatin1Char('|'), 0, 0));
    EXPECT_EQ(names, QStringList({QStringLiteral("Ciselnik"), QStringLiteral("Klienti"), QStringLiteral("Nastaveni"),
                                  QStringLiteral("Skryta"), QStringLiteral("Zakazky")}));
}

// A program file the run cannot open or write is one cause: one box for it and
// the closing box, every table the walk would link failed with it in the log.
TEST_F(RelinkRunTest, programFileThatCannotBeUsedIsReportedOnceAndFailsEveryTable)
{
    struct Row {
        const char* name;
        std::function<void(const QString& program)> spoil;
        QString cause; // %1: the program path
    };
    const QList<Row> rows{
        {"missing", [](const QString& program) { ASSERT_TRUE(QFile::remove(program)); },
         QStringLiteral("Soubor '%1' nebyl nalezen.")},
        {"write-protected",
         [](const QString& program) {
             ASSERT_TRUE(QFile(program).setPermissions(QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther));
         },
         QStringLiteral("Do souboru '%1' nelze zapisovat.")},
        {"not a database", [](const QString& program) { ASSERT_TRUE(writeBytes(program, QByteArray(4096, 'x'))); },
         QStringLiteral("Nerozpoznaný formát databáze '%1'.")},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        resetGlobals();
        gIniPath = m_dir.filePath(QStringLiteral("INI/ZUL.ini"));
        gListDbPath = m_dir.filePath(QStringLiteral("ZUL_db.accdb"));
        for (const QString& file : {m_program, m_data, m_old}) {
            QFile(file).setPermissions(QFile::ReadOwner | QFile::WriteOwner);
            QFile::remove(file);
        }
        makeUsualFiles();
        {
            // Many tables: each would otherwise have had its own boxes.
            auto data = DbEngine().OpenDatabase(m_data);
            for (int i = 0; i < 30; ++i)
                addTable(*data, QStringLiteral("T%1").arg(i, 2, 10, QLatin1Char('0')), {QStringLiteral("X")});
            data->Close();
        }
        row.spoil(m_program);
        const QString cause = row.cause.arg(m_program);
        const QList<DataTable> tables = enumerate(m_data);
        m_desktop.clear();
        m_log.clear();

        const RelinkReport report = run();

        EXPECT_TRUE(report.failed);
        EXPECT_EQ(m_desktop.boxes(), QStringList({QStringLiteral("box !|DIVadedadi|") + cause, kFailedBox}));
        EXPECT_EQ(ini(QStringLiteral("MAIN"), QStringLiteral("DIVadedadiExe")), QStringLiteral("ERROR"));
        EXPECT_EQ(ini(QStringLiteral("MAIN"), QStringLiteral("ZULdata")), m_data);
        // The walk still shows each table and moves the bar to its end.
        EXPECT_TRUE(m_log.contains(QStringLiteral("lblTabulka T29")));
        EXPECT_TRUE(m_log.contains(QStringLiteral("value %1").arg(tables.size())));

        // The log: each table the walk would link failed with the cause, the
        // skipped ones skipped, the cause once more as the run's own line.
        QFile logFile(m_dir.filePath(QStringLiteral("INI/DIVadedadi.log")));
        ASSERT_TRUE(logFile.open(QIODevice::ReadOnly));
        QStringList lines = QString::fromUtf8(logFile.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        ASSERT_EQ(lines.size(), tables.size() + 2);
        EXPECT_TRUE(lines.takeFirst().endsWith(QStringLiteral("\tERROR")));
        EXPECT_EQ(lines.takeLast(), QStringLiteral("\tchyba\t") + cause);
        int failed = 0;
        for (qsizetype i = 0; i < tables.size(); ++i) {
            const QString expected = tables.at(i).skipped ? tables.at(i).name + QStringLiteral("\tpřeskočena")
                                                          : tables.at(i).name + QStringLiteral("\tchyba\t") + cause;
            EXPECT_EQ(lines.at(i), expected);
            failed += !tables.at(i).skipped;
        }
        EXPECT_EQ(failed, 32);
        QFile(m_program).setPermissions(QFile::ReadOwner | QFile::WriteOwner);
    }
}

TEST_F(RelinkRunTest, missingDataFileIsReportedAtEveryStepThatNeedsIt)
{
    makeUsualFiles();
    ASSERT_TRUE(QFile::remove(m_data));
    const QStringList programBefore = describe(m_program);

    const RelinkReport report = run();

    EXPECT_TRUE(report.failed);
    EXPECT_EQ(stepsOf(report), QStringLiteral("17 , 23 , 25 , 26 , 42 "));
    for (qsizetype i = 1; i < report.failures.size(); ++i)
        EXPECT_EQ(report.failures.at(i).description, kNotSet);
    EXPECT_EQ(describe(m_program), programBefore);
    EXPECT_FALSE(QFile::exists(m_data));
    // The walk ran once without a table: counted, shown, caught up.
    EXPECT_TRUE(m_log.contains(QStringLiteral("max 0")));
    EXPECT_TRUE(m_log.contains(QStringLiteral("value 1")));
    EXPECT_FALSE(m_log.contains(QStringLiteral("value 2")));
    EXPECT_EQ(m_desktop.boxes().last(), kFailedBox);
    EXPECT_EQ(ini(QStringLiteral("MAIN"), QStringLiteral("DIVadedadiExe")), QStringLiteral("ERROR"));
    EXPECT_EQ(ini(QStringLiteral("MAIN"), QStringLiteral("ZULdata")), m_data);
}

TEST_F(RelinkRunTest, bareRelativeFileNameFailsTheCaptionOnly)
{
    makeUsualFiles();
    const QString previous = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(m_dir.filePath(QStringLiteral("prog"))));
    m_window.text1 = QStringLiteral("ZUL.accdr");

    const RelinkReport report = run();
    QDir::setCurrent(previous);

    EXPECT_TRUE(report.failed);
    ASSERT_EQ(report.failures.size(), 1);
    EXPECT_EQ(report.failures.at(0).step, 18);
    EXPECT_EQ(report.failures.at(0).description, QStringLiteral("Neplatné volání procedury nebo argument"));
    EXPECT_FALSE(m_log.contains(QStringLiteral("lblDB ZUL.accdr")));
    EXPECT_EQ(outcomeOf(report, QStringLiteral("Klienti")), QStringLiteral("created"));
    EXPECT_TRUE(
        describe(m_program).contains(QStringLiteral("Zakazky|40000000|;DATABASE=%1|Zakazky|Cislo").arg(m_data)));
}

TEST_F(RelinkRunTest, autoBrowseEndsTheProcessAfterTheOutcome)
{
    makeUsualFiles();
    gAutoBrowse = true;

    RelinkReport report = run();
    EXPECT_TRUE(report.endedProcess);
    EXPECT_FALSE(report.failed);
    EXPECT_EQ(m_log.mid(m_log.size() - 3),
              QStringList({QStringLiteral("bar 0"), QStringLiteral("doevents"), QStringLiteral("unload")}));

    // A failed run ends the process as well, after its outcome box.
    m_log.clear();
    ASSERT_TRUE(QFile::remove(m_data));
    report = run();
    EXPECT_TRUE(report.endedProcess);
    EXPECT_TRUE(report.failed);
    EXPECT_EQ(m_log.last(), QStringLiteral("unload"));
    EXPECT_FALSE(m_log.contains(QStringLiteral("ontop 0")));
    EXPECT_TRUE(m_log.contains(kFailedBox));
}

TEST_F(RelinkRunTest, secondRunStartsClean)
{
    makeUsualFiles();
    const QString data = m_data;
    m_window.combo().preset(m_dir.filePath(QStringLiteral("data/missing.accdb")));
    RelinkReport report = run();
    EXPECT_TRUE(report.failed);
    ASSERT_TRUE(gLinkFailed);

    m_log.clear();
    m_desktop.clear();
    m_window.combo().preset(data);
    report = run();
    EXPECT_FALSE(report.failed);
    EXPECT_FALSE(gLinkFailed);
    EXPECT_TRUE(report.failures.isEmpty());
    EXPECT_TRUE(m_desktop.boxes().isEmpty());
    EXPECT_EQ(m_log, cleanRunLog({m_dir.filePath(QStringLiteral("data/missing.accdb")), m_data}, false));
}

TEST_F(RelinkRunTest, windowCatchesUpAtFiveKindsOfPlaces)
{
    makeUsualFiles();
    const QList<DataTable> tables = enumerate(m_data);
    int linked = 0;
    for (const DataTable& t : tables)
        linked += !t.skipped;
    ASSERT_EQ(linked, 2);

    run();
    // One per listed item of the refill, then steps 22, 29 per linked table,
    // 41 per table, 47 and 50.
    EXPECT_EQ(m_desktop.events.count(QStringLiteral("doevents")), 1 + 1 + linked + int(tables.size()) + 1 + 1);
}

TEST_F(RelinkRunTest, failedPreparationStepStillEndsInError)
{
    makeUsualFiles();
    gShowMessage = true;
    m_window.onCall = [](const QString& line) {
        if (line == QStringLiteral("focus Picture1"))
            throw Errors::invalidArgument();
    };

    const RelinkReport report = run();

    EXPECT_TRUE(report.failed);
    EXPECT_EQ(stepsOf(report), QStringLiteral("5 "));
    EXPECT_EQ(m_desktop.boxes(),
              QStringList({QStringLiteral("box !|DIVadedadi|Neplatné volání procedury nebo argument"), kFailedBox}));
    EXPECT_EQ(ini(QStringLiteral("MAIN"), QStringLiteral("DIVadedadiExe")), QStringLiteral("ERROR"));
}

TEST_F(RelinkRunTest, hiddenExitButtonFailsSilentlyAtTheEnd)
{
    makeUsualFiles();
    gShowMessage = true;
    m_window.onCall = [](const QString& line) {
        if (line == QStringLiteral("focus btnStorno"))
            throw Errors::invalidArgument();
    };

    const RelinkReport report = run();

    EXPECT_FALSE(report.failed);
    EXPECT_EQ(m_desktop.boxes(), QStringList({kCleanBox}));
    EXPECT_EQ(ini(QStringLiteral("MAIN"), QStringLiteral("DIVadedadiExe")), QStringLiteral("OK"));
    EXPECT_EQ(m_log.mid(m_log.size() - 4), QStringList({QStringLiteral("Picture2 0"), QStringLiteral("bar 0"),
                                                        QStringLiteral("doevents"), QStringLiteral("ontop 0")}));
}

TEST(TableExists, answersFalseForEveryFailure)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("t.accdb"));
    auto db = createDb(path);
    addTable(*db, QStringLiteral("Klienti"), {QStringLiteral("Jmeno")});
    EXPECT_TRUE(TableExists(db.get(), QStringLiteral("Klienti")));
    EXPECT_TRUE(TableExists(db.get(), QStringLiteral("KLIENTI")));
    EXPECT_FALSE(TableExists(db.get(), QStringLiteral("Zakazky")));
    EXPECT_FALSE(TableExists(db.get(), QString()));
    EXPECT_FALSE(TableExists(nullptr, QStringLiteral("Klienti")));
    db->Close();
    EXPECT_FALSE(TableExists(db.get(), QStringLiteral("Klienti")));
}

TEST_F(RelinkRunTest, runStartedWhileTheWindowCatchesUpDoesNothing)
{
    makeUsualFiles();
    int nested = 0;
    RelinkReport inner;
    m_hook = [&](const QString& event) {
        if (event == QStringLiteral("doevents") && nested++ == 0)
            inner = run();
    };
    const qsizetype before = describe(m_program).size();

    const RelinkReport report = run();

    EXPECT_FALSE(report.failed);
    EXPECT_TRUE(inner.tables.isEmpty());
    EXPECT_TRUE(inner.failures.isEmpty());
    EXPECT_EQ(m_log, cleanRunLog({m_data}, false));
    EXPECT_EQ(describe(m_program).size(), before + 2);

    // Once the run is over the next one starts normally.
    m_hook = nullptr;
    m_log.clear();
    EXPECT_EQ(run().tables.size(), report.tables.size());
}

TEST_F(RelinkRunTest, lastDbIsTheBoxTextReadAfterTheRefill)
{
    makeUsualFiles();
    writeIni(QByteArray("[DIVadedadi]\r\nLastDB=") + m_data.toUtf8() + QByteArray("\r\n"));
    m_window.combo().preset(QString());

    const RelinkReport report = run();

    // The data path was taken before the refill put LastDB into the box.
    EXPECT_EQ(gDataPath, QString());
    EXPECT_TRUE(m_log.contains(QStringLiteral("cbo text ") + m_data));
    // The empty path is never stored in the list.
    EXPECT_TRUE(m_window.combo().items.isEmpty());
    EXPECT_EQ(ini(QStringLiteral("DIVadedadi"), QStringLiteral("LastDB")), m_data);
    EXPECT_EQ(ini(QStringLiteral("MAIN"), QStringLiteral("ZULdata")), QString());
    EXPECT_TRUE(m_log.contains(QStringLiteral("lblDB %1/prog/ -> ").arg(m_dir.path())));
    EXPECT_EQ(stepsOf(report), QStringLiteral("17 , 23 , 25 , 26 , 42 "));
    // A walk that could not start has no table; its failures are the run's.
    EXPECT_TRUE(report.tables.isEmpty());
    for (const auto& failure : report.failures)
        EXPECT_EQ(failure.tableIndex, -1);
}

// Failures of the progress steps belong to the table they happened on: it is
// recorded once, as failed, and the record still holds every table in order.
TEST_F(RelinkRunTest, progressFailureMarksItsOwnTableFailed)
{
    makeUsualFiles();
    const QList<DataTable> tables = enumerate(m_data);
    qsizetype linked = 0;
    while (linked < tables.size() && tables.at(linked).skipped)
        ++linked;
    ASSERT_LT(linked, tables.size());
    const QString failing = QStringLiteral("value %1").arg(linked + 1);
    m_window.onCall = [&](const QString& event) {
        if (event == failing)
            throw RunTimeError(ErrorNumber::InvalidArgument, QStringLiteral("Ukazatel průběhu selhal."));
    };

    const RelinkReport report = run();

    ASSERT_EQ(report.failures.size(), 1);
    EXPECT_EQ(report.failures.at(0).step, 40);
    EXPECT_EQ(report.failures.at(0).tableIndex, linked);
    const auto namesOf = [](const auto& list) {
        QStringList names;
        for (const auto& t : list)
            names.append(t.name);
        return names;
    };
    EXPECT_EQ(namesOf(report.tables), namesOf(tables));
    EXPECT_EQ(outcomeOf(report, tables.at(linked).name), QStringLiteral("failed"));
    EXPECT_EQ(report.failures.at(0).table, tables.at(linked).name);
}
