// What a calling program and an operator read after a run, through the real
// binary: the settings written by an ordinary user where the platform would
// write them, the early "ERROR" of a run that never reaches its outcome.

#include "Support.h"

#include "DBEngine.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QStandardPaths>

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

namespace {

struct stat statOf(const QString& path)
{
    struct stat info {};
    ::stat(QFile::encodeName(path).constData(), &info);
    return info;
}

void setOwnerAndMode(const QString& path, gid_t group, mode_t mode)
{
    const QByteArray name = QFile::encodeName(path);
    ASSERT_EQ(::chown(name.constData(), 0, group), 0);
    ASSERT_EQ(::chmod(name.constData(), mode), 0);
}

} // namespace

// INI folder and settings file belong to root; an ordinary user runs a relink
// that fails (the program file is root's). The platform writes a file it may
// write whatever its folder allows: the outcome and both paths arrive, and the
// file keeps its owner, group and mode.
TEST(CallerReads, settingsOfAnOrdinaryUserArriveWhereThePlatformWritesThem)
{
    if (!canRunAsNobody())
        GTEST_SKIP() << "skipped: running as nobody needs root and setpriv";
    struct Row {
        const char* name;
        mode_t folderMode;
        mode_t fileMode;
        gid_t group; // of the INI folder and file; nobody is a member of 65534
    };
    const QList<Row> rows{
        {"root's folder 755, file 666", 0755, 0666, 0},
        {"group-shared folder 775, file 664", 0775, 0664, 65534},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        ProgramFolder folder;
        ASSERT_TRUE(folder.isValid());
        const QString program = folder.path(QStringLiteral("ZUL.accdr"));
        const QString data = folder.path(QStringLiteral("data.accdb"));
        createDataFile(data, 2);
        createProgramFile(program, data);
        folder.writeIni("[MAIN]\r\nDIVadedadiExe=OK\r\n");
        setOwnerAndMode(folder.path(), 0, 0755);
        setOwnerAndMode(folder.path(QStringLiteral("INI")), row.group, row.folderMode);
        setOwnerAndMode(folder.iniPath(), row.group, row.fileMode);
        for (const QString& file : {program, data})
            setOwnerAndMode(file, 0, 0644);

        const ProcessResult run = runProcess(folder.exe(), relinkArguments(program, data),
                                             {.folder = folder.path(), .environment = kNoDisplay, .asNobody = true});
        ASSERT_TRUE(run.finished);
        const QString output = run.err;
        // The run failed, as the program file could not be written.
        EXPECT_TRUE(output.contains(QStringLiteral("Vindo-ZUL: V průběhu propojování databází se vyskytly chyby.")))
            << output.toStdString();

        EXPECT_EQ(iniValue(folder.iniPath(), QStringLiteral("MAIN"), QStringLiteral("DIVadedadiExe")),
                  QStringLiteral("ERROR"));
        EXPECT_EQ(iniValue(folder.iniPath(), QStringLiteral("MAIN"), QStringLiteral("ZULdata")), data);
        EXPECT_EQ(iniValue(folder.iniPath(), QStringLiteral("DIVadedadi"), QStringLiteral("LastDB")), data);
        const struct stat after = statOf(folder.iniPath());
        EXPECT_EQ(after.st_uid, 0u);
        EXPECT_EQ(after.st_gid, row.group);
        EXPECT_EQ(after.st_mode & 07777, row.fileMode);
        EXPECT_EQ(filesIn(folder.path(QStringLiteral("INI"))).filter(QStringLiteral("ZUL.ini")),
                  QStringList{QStringLiteral("ZUL.ini")});
    }
}

// A run asked for its outcome that is stopped on its way (here on a list file
// another program holds locked, before any window) leaves "ERROR", never the
// "OK" of an earlier run.
TEST(CallerReads, runKilledBeforeItsOutcomeLeavesError)
{
    const QString shell = QStandardPaths::findExecutable(QStringLiteral("sqlite3"));
    if (shell.isEmpty())
        GTEST_SKIP() << "skipped: the sqlite3 shell is needed to hold the list file locked";
    ProgramFolder folder;
    ASSERT_TRUE(folder.isValid());
    const QString program = folder.path(QStringLiteral("ZUL.accdr"));
    const QString data = folder.path(QStringLiteral("data.accdb"));
    createDataFile(data, 2);
    createProgramFile(program, data);
    {
        std::unique_ptr<Database> list =
            DbEngine().CreateDatabase(folder.path(QStringLiteral("ZUL_db.accdb")), dao::dbLangCzech, dao::dbVersion120);
        list->Execute(QStringLiteral("create table Databaze (Jmeno text(50), Cesta text(255), NovaDB bit)"));
        list->Close();
    }
    folder.writeIni("[MAIN]\r\nDIVadedadiExe=OK\r\n");

    const std::unique_ptr<QProcess> locker = startProcess(shell, {folder.path(QStringLiteral("ZUL_db.accdb"))},
                                                          {.input = "begin exclusive;\nselect 'ready';\n"});
    ASSERT_EQ(locker->state(), QProcess::Running);
    waitForOutput(*locker, "ready", std::chrono::seconds(10));

    const std::unique_ptr<QProcess> process = startProcess(folder.exe(), relinkArguments(program, data),
                                                           {.folder = folder.path(), .environment = kOffscreen});
    ASSERT_EQ(process->state(), QProcess::Running);
    EXPECT_FALSE(finishProcess(*process, std::chrono::seconds(2)).finished);
    locker->write("rollback;\n.quit\n");
    finishProcess(*locker, std::chrono::seconds(10));

    EXPECT_EQ(iniValue(folder.iniPath(), QStringLiteral("MAIN"), QStringLiteral("DIVadedadiExe")),
              QStringLiteral("ERROR"));
}

// The relink log of a run that re-points, creates, skips and fails: one line
// per table of the data file in the engine's order, the failure's description
// as shown, the run's line first.
TEST(CallerReads, relinkLogRecordsEveryTableOfTheRun)
{
    ProgramFolder folder;
    ASSERT_TRUE(folder.isValid());
    const QString program = folder.path(QStringLiteral("ZUL.accdr"));
    const QString data = folder.path(QStringLiteral("data.accdb"));
    // The system tables of the data file are the skipped ones.
    {
        std::unique_ptr<Database> db = DbEngine().CreateDatabase(data, dao::dbLangCzech, dao::dbVersion120);
        for (const char* table : {"Obce", "Osoby", "Mistni"})
            db->Execute(QStringLiteral("create table %1 (ID long)").arg(QLatin1String(table)));
        db->Close();
    }
    // The program file links Osoby; Mistni is a local table of its own.
    createProgramFile(program, data);
    {
        std::unique_ptr<Database> db = DbEngine().OpenDatabase(program);
        db->Execute(QStringLiteral("drop table Obce"));
        db->Execute(QStringLiteral("drop table Mistni"));
        db->Execute(QStringLiteral("create table Mistni (ID long)"));
        db->Close();
    }
    const ProcessResult result =
        runBinary(folder, {QStringLiteral("ZULprog=") + program, QStringLiteral("ZULdata=") + data}, kNoDisplay);
    ASSERT_TRUE(result.finished);

    QStringList reports;
    for (const QString& line : result.err.split(QLatin1Char('\n'), Qt::SkipEmptyParts))
        if (line.startsWith(QStringLiteral("DIVadedadi: ")))
            reports.append(line.mid(12));
    ASSERT_FALSE(reports.isEmpty()) << result.err.toStdString();
    const QMap<QString, QString> outcomes{{QStringLiteral("Obce"), QStringLiteral("vytvořena")},
                                          {QStringLiteral("Osoby"), QStringLiteral("přepojena")},
                                          {QStringLiteral("Mistni"), QStringLiteral("chyba\t") + reports.join('\t')}};
    QStringList expected;
    std::unique_ptr<Database> db = DbEngine().OpenDatabase(data);
    for (int i = 0; i < db->TableDefs().Count(); ++i) {
        const QString name = db->TableDefs().Item(i)->Name();
        expected.append(name + QLatin1Char('\t') + outcomes.value(name, QStringLiteral("přeskočena")));
    }
    db->Close();

    QFile log(folder.path(QStringLiteral("INI/DIVadedadi.log")));
    ASSERT_TRUE(log.open(QIODevice::ReadOnly));
    QStringList lines = QString::fromUtf8(log.readAll()).split(QLatin1Char('\n'));
    ASSERT_EQ(lines.takeLast(), QString());
    ASSERT_FALSE(lines.isEmpty());
    const QStringList first = lines.takeFirst().split(QLatin1Char('\t'));
    EXPECT_EQ(first.mid(1), QStringList({program, data, QStringLiteral("ERROR")}));
    EXPECT_TRUE(QDateTime::fromString(first.value(0), Qt::ISODate).isValid()) << first.value(0).toStdString();
    EXPECT_EQ(lines, expected);
}
