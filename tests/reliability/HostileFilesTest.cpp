// Files that are not what the program expects: pipes given for any file, a
// program file whose catalogue index is damaged, and table names that differ
// only in the case of accented letters.

#include "Support.h"

#include "DBEngine.h"
#include "RunTimeError.h"

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

#include <sys/stat.h>

namespace {

// zuldb with the arguments, killed when it takes more than 15 s.
ProcessResult zuldb(const QStringList& arguments)
{
    return runProcess(QStringLiteral(ZULDB_EXE), arguments, {.timeout = std::chrono::seconds(15)});
}

const QString kNotRegular = QStringLiteral("není obyčejný soubor");

QString outcomeIn(const ProgramFolder& folder)
{
    return iniValue(folder.iniPath(), QStringLiteral("MAIN"), QStringLiteral("DIVadedadiExe"));
}

} // namespace

// A FIFO (or a link to one) in place of any file a command names is refused
// at once: no command blocks in its open.
TEST(HostileFiles, fifoForEveryFileArgumentIsRefusedWithoutHanging)
{
    ProgramFolder folder;
    ASSERT_TRUE(folder.isValid());
    const QString fifo = folder.path(QStringLiteral("pipe.accdb"));
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0666), 0);
    const QString linkToFifo = folder.path(QStringLiteral("link.accdb"));
    ASSERT_TRUE(QFile::link(fifo, linkToFifo));
    const QString data = folder.path(QStringLiteral("data.accdb"));
    const QString program = folder.path(QStringLiteral("ZUL.accdr"));
    createDataFile(data, 2);
    createProgramFile(program, data);
    const QString fresh = folder.path(QStringLiteral("new.accdb"));

    const QList<QStringList> zuldbCommands{
        {"tables", fifo},
        {"tables", linkToFifo},
        {"check", fifo},
        {"query", fifo, "select 1"},
        {"exec", fifo, "create table X (A long)"},
        {"hide", fifo, "T0000"},
        {"link", fifo, "X", data},
        {"link", program, "X", fifo},
        {"import", fifo, fresh},
        {"import", linkToFifo, fresh},
    };
    for (const QStringList& command : zuldbCommands) {
        SCOPED_TRACE(command.join(' ').toStdString());
        const ProcessResult result = zuldb(command);
        EXPECT_TRUE(result.finished) << "hung";
        EXPECT_EQ(result.exitCode, 1);
        EXPECT_TRUE(result.err.contains(kNotRegular)) << result.err.toStdString();
    }
    EXPECT_FALSE(QFileInfo::exists(fresh));

    // divadedadi: the program file, the data file (no files to link: the
    // start needs a window, which is not there), the list file and the
    // settings file.
    struct Run {
        const char* name;
        QString program;
        QString data;
        const char* listOrIni; // a FIFO put in the program folder under this name
        int exitCode;
        QString words;
    };
    const QString needsWindow = QStringLiteral("grafické prostředí");
    const Run runs[] = {
        {"program file", linkToFifo, data, nullptr, 1, needsWindow},
        {"data file", program, fifo, nullptr, 1, needsWindow},
        {"list file", program, data, "ZUL_db.accdb", 0, kNotRegular},
        {"settings file", program, data, "INI/ZUL.ini", 2, kNotRegular},
    };
    for (const Run& run : runs) {
        SCOPED_TRACE(run.name);
        ProgramFolder own;
        ASSERT_TRUE(own.isValid());
        if (run.listOrIni) {
            ASSERT_EQ(::mkfifo(QFile::encodeName(own.path(QString::fromUtf8(run.listOrIni))).constData(), 0666), 0);
        }
        const ProcessResult result =
            runBinary(own, relinkArguments(run.program, run.data), kNoDisplay, std::chrono::seconds(30));
        EXPECT_TRUE(result.finished) << "hung";
        EXPECT_EQ(result.exitCode, run.exitCode) << result.err.toStdString();
        EXPECT_TRUE(result.err.contains(run.words)) << result.err.toStdString();
        if (!run.listOrIni) {
            EXPECT_EQ(outcomeIn(own), QStringLiteral("ERROR"));
        }
    }
}

// One changed byte in the catalogue's key on names (the file otherwise
// readable): the run fails where it opens the program file, changes nothing
// and ends "ERROR"; zuldb check reports the damage.
TEST(HostileFiles, programFileWithDamagedCatalogIndexFailsTheRunAndCheck)
{
    ProgramFolder folder;
    ASSERT_TRUE(folder.isValid());
    const QString data = folder.path(QStringLiteral("data.accdb"));
    const QString program = folder.path(QStringLiteral("ZUL.accdr"));
    createDataFile(data, 10);
    createProgramFile(program, data);
    const QStringList root = rawQuery(
        program, QStringLiteral("select rootpage from sqlite_master where name='sqlite_autoindex_MSysObjects_1'"));
    ASSERT_EQ(root.size(), 1);
    QFile file(program);
    ASSERT_TRUE(file.open(QIODevice::ReadWrite));
    QByteArray bytes = file.readAll();
    const int pageSize = (uchar(bytes.at(16)) << 8 | uchar(bytes.at(17))) == 1
                             ? 65536
                             : (uchar(bytes.at(16)) << 8 | uchar(bytes.at(17)));
    const qsizetype page = (root.at(0).toInt() - 1) * qsizetype(pageSize);
    const qsizetype at = bytes.indexOf("t0005", page);
    ASSERT_TRUE(at > 0 && at < page + pageSize);
    bytes[at + 4] = '4';
    file.seek(0);
    file.write(bytes);
    file.close();
    ASSERT_NE(rawQuery(program, QStringLiteral("pragma integrity_check")), QStringList{"ok"});
    const QByteArray damaged = fileBytes(program);

    const ProcessResult run = runBinary(folder, relinkArguments(program, data), kNoDisplay);
    ASSERT_TRUE(run.finished);
    EXPECT_TRUE(run.err.contains(QStringLiteral("je poškozená"))) << run.err.toStdString();
    EXPECT_EQ(outcomeIn(folder), QStringLiteral("ERROR"));
    EXPECT_EQ(fileBytes(program), damaged);

    const ProcessResult check = zuldb({QStringLiteral("check"), program});
    EXPECT_EQ(check.exitCode, 1);
    EXPECT_TRUE(check.err.contains(QStringLiteral("je poškozená"))) << check.err.toStdString();
}

// Names compare without regard to case for every letter: the engine refuses
// a second name that folds to an existing one, and a data file another
// program made with two such tables has both listed and the second reported
// as a failure of its own in the run's log.
TEST(HostileFiles, namesDifferingOnlyInAccentedCaseAreOneName)
{
    ProgramFolder folder;
    ASSERT_TRUE(folder.isValid());
    const QString engineMade = folder.path(QStringLiteral("engine.accdb"));
    {
        std::unique_ptr<Database> db = DbEngine().CreateDatabase(engineMade, dao::dbLangCzech, dao::dbVersion120);
        db->Execute(QStringLiteral("create table Účty (A long)"));
        db->Execute(QStringLiteral("create table ÉRA (A long)"));
        db->Execute(QStringLiteral("create table Straße (A long)"));
        struct Case {
            const char* sql;
            int error; // 0: accepted
        };
        const Case cases[] = {
            {"create table účty (B long)", ErrorNumber::TableAlreadyExists},
            {"create table [ÚČTY] (B long)", ErrorNumber::TableAlreadyExists},
            {"create table éra (B long)", ErrorNumber::TableAlreadyExists},
            {"create table if not exists účty (B long)", 0},
            {"create table Pokus (B long)", 0},
            {"alter table Pokus rename to éRA", ErrorNumber::TableAlreadyExists},
            {"create table STRASSE (B long)", 0}, // ß folds to itself
        };
        for (const Case& c : cases) {
            // The error's number, 0 for none.
            EXPECT_EQ(errorOf([&] { db->Execute(QString::fromUtf8(c.sql)); }).section(QLatin1Char('|'), 0, 0).toInt(),
                      c.error)
                << c.sql;
        }
        QStringList names;
        for (int i = 0; i < db->TableDefs().Count(); ++i)
            if ((db->TableDefs().Item(i)->Attributes() & dao::dbSystemObject) == 0)
                names << db->TableDefs().Item(i)->Name();
        names.sort();
        EXPECT_EQ(names, (QStringList{"Pokus", "STRASSE", "Straße", "ÉRA", "Účty"}));
        db->Close();
    }

    const QString data = folder.path(QStringLiteral("data.accdb"));
    createDataFile(data, 1);
    ASSERT_EQ(rawQuery(data, QStringLiteral("create table Účty (A integer); create table účty (B integer)")),
              QStringList{});
    ASSERT_EQ(rawQuery(data, QStringLiteral("create table účty (B integer)")), QStringList{});
    const ProcessResult tables = zuldb({QStringLiteral("tables"), data});
    EXPECT_TRUE(tables.out.contains(QStringLiteral("\nÚčty\t")) && tables.out.contains(QStringLiteral("\núčty\t")))
        << tables.out.toStdString();

    const QString program = folder.path(QStringLiteral("ZUL.accdr"));
    DbEngine().CreateDatabase(program, dao::dbLangCzech, dao::dbVersion120)->Close();
    const ProcessResult run = runBinary(folder, relinkArguments(program, data), kNoDisplay);
    ASSERT_TRUE(run.finished);
    EXPECT_EQ(outcomeIn(folder), QStringLiteral("ERROR"));
    const QString log = QString::fromUtf8(fileBytes(folder.path(QStringLiteral("INI/DIVadedadi.log"))));
    EXPECT_TRUE(log.contains(QStringLiteral("\nÚčty\tvytvořena\n"))) << log.toStdString();
    EXPECT_TRUE(log.contains(QStringLiteral("\núčty\tchyba\tTabulka 'účty' má v datovém souboru stejný název")))
        << log.toStdString();
    EXPECT_EQ(linkState(program).keys(), (QStringList{"T0000", "Účty"}));
}
