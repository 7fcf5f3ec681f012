// The relink run (the core, with a recording window and desktop) when the
// disk fills up, the program file is read-only, a file is locked by another
// connection, or the data file changes while the run walks it.

#include "Support.h"

#include "../relink/RecordingWindow.h"
#include "DBEngine.h"
#include "Globals.h"
#include "IniFile.h"
#include "ListFile.h"
#include "RelinkRun.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QScopeGuard>
#include <QStandardPaths>
#include <QStorageInfo>

#include <gtest/gtest.h>

#include <unistd.h>

namespace {

const QString kFailedBox = QStringLiteral("box !|Vindo-ZUL|V průběhu propojování databází se vyskytly chyby.");
const QString kCleanBox = QStringLiteral("box i|Vindo-ZUL|Propojení databází proběhlo v pořádku.");

class RelinkFaultTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_dir.isValid());
        resetGlobals();
        for (const char* folder : {"INI", "data", "prog"})
            ASSERT_TRUE(QDir(m_dir.path()).mkpath(QLatin1String(folder)));
        gIniPath = m_dir.filePath(QStringLiteral("INI/ZUL.ini"));
        gListDbPath = m_dir.filePath(QStringLiteral("ZUL_db.accdb"));
        CreateListFile(m_desktop);
        ASSERT_TRUE(m_desktop.events.isEmpty());
        IniFile::write(gIniPath, QStringLiteral("MAIN"), QStringLiteral("DIVadedadiExe"), QStringLiteral("OK"));
        gShowMessage = true;
        m_data = m_dir.filePath(QStringLiteral("data/ZUL_data.accdb"));
        setProgram(m_dir.filePath(QStringLiteral("prog/ZUL.accdr")));
        m_window.combo().preset(m_data);
    }
    void TearDown() override { resetGlobals(); }

    void setProgram(const QString& path)
    {
        m_program = path;
        m_window.text1 = path;
    }

    RelinkReport run()
    {
        m_desktop.clear();
        m_log.clear();
        m_window.combo().preset(m_data);
        return RunRelink(m_window, m_desktop);
    }

    QString outcome() const { return iniValue(gIniPath, QStringLiteral("MAIN"), QStringLiteral("DIVadedadiExe")); }
    QString linked(int fields = 2) const
    {
        return dao::dbConnectPrefix + m_data + (fields == 2 ? QStringLiteral("|ID,Jmeno") : QStringLiteral("|ID"));
    }

    QTemporaryDir m_dir;
    RecordingDesktop m_desktop;
    QStringList m_log;
    RecordingWindow m_window{m_log};
    QString m_program;
    QString m_data;
};

// The distinct descriptions of a run's failures.
QStringList descriptions(const RelinkReport& report)
{
    QStringList texts;
    for (const auto& failure : report.failures) {
        if (!texts.contains(failure.description))
            texts.append(failure.description);
    }
    return texts;
}

// Another process holding a transaction open on a file: the stock sqlite3
// shell, fed its statements through a pipe. Without the shell a second
// connection of this process stands in for it.
class OtherProcess {
public:
    OtherProcess(const QString& path, const QStringList& statements)
    {
        const QString shell = QStandardPaths::findExecutable(QStringLiteral("sqlite3"));
        if (shell.isEmpty()) {
            m_connection = DbEngine().OpenDatabase(path);
            for (const QString& statement : statements)
                m_connection->Execute(statement);
            return;
        }
        m_shell = startProcess(shell, {path});
        m_shell->write((statements.join(QStringLiteral(";\n")) + QStringLiteral(";\nselect 'ready';\n")).toUtf8());
        // The shell answers once every statement before has run.
        waitForOutput(*m_shell, "ready", std::chrono::seconds(10));
    }
    ~OtherProcess() { finish(); }
    // Rolls back and ends.
    void finish()
    {
        if (m_connection) {
            m_connection->Execute(QStringLiteral("rollback"));
            m_connection->Close();
            m_connection.reset();
        }
        if (m_shell && m_shell->state() != QProcess::NotRunning) {
            m_shell->write("rollback;\n.quit\n");
            m_shell->closeWriteChannel();
            finishProcess(*m_shell, std::chrono::seconds(10));
        }
    }

private:
    std::unique_ptr<QProcess> m_shell;
    std::unique_ptr<Database> m_connection;
};

// Runs statements in another process and waits for it to end.
void changeInAnotherProcess(const QString& path, const QStringList& statements)
{
    const QString shell = QStandardPaths::findExecutable(QStringLiteral("sqlite3"));
    if (shell.isEmpty()) {
        std::unique_ptr<Database> other = DbEngine().OpenDatabase(path);
        for (const QString& statement : statements)
            other->Execute(statement);
        other->Close();
        return;
    }
    runProcess(shell, QStringList{path} + statements, {.timeout = std::chrono::seconds(10)});
}

// The journal mode the stock sqlite3 shell reports after the pragma; empty without the shell.
QString journalMode(const QString& path, const QString& pragma)
{
    const QString shell = QStandardPaths::findExecutable(QStringLiteral("sqlite3"));
    if (shell.isEmpty())
        return QString();
    return runProcess(shell, {path, pragma}, {.timeout = std::chrono::seconds(10)}).out.trimmed();
}

// Puts a file into the write-ahead log, as an earlier version of the engine
// left its files; false without the shell.
bool toWriteAheadLog(const QString& path)
{
    return journalMode(path, QStringLiteral("pragma journal_mode=wal")) == QStringLiteral("wal");
}

// A small file system of the test's own (needs the right to mount).
class SmallFileSystem {
public:
    SmallFileSystem(const QString& folder, int kilobytes) : m_folder(folder)
    {
        QDir().mkpath(folder);
        m_mounted = mountTmpfs(folder, kilobytes);
    }
    ~SmallFileSystem()
    {
        if (m_mounted)
            unmount(m_folder);
    }
    bool mounted() const { return m_mounted; }
    bool resize(int kilobytes)
    {
        return runProcess(QStringLiteral("mount"),
                          {QStringLiteral("-o"), QStringLiteral("remount,size=%1k").arg(kilobytes), m_folder})
                   .exitCode == 0;
    }

private:
    QString m_folder;
    bool m_mounted = false;
};

} // namespace

// The run writes the program file once, at its commit: a full disk fails the
// commit, the run ends in ERROR with no table linked and the file as before.
TEST_F(RelinkFaultTest, fullDiskFailsTheOneCommitAndLeavesTheProgramFileAsBefore)
{
    const QString mountPoint = m_dir.filePath(QStringLiteral("small"));
    SmallFileSystem small(mountPoint, 160);
    if (!small.mounted())
        GTEST_SKIP() << "tmpfs cannot be mounted here (needs root)";
    createDataFile(m_data, 300);
    setProgram(mountPoint + QStringLiteral("/ZUL.accdr"));
    DbEngine().CreateDatabase(m_program, dao::dbLangCzech, dao::dbVersion120)->Close();
    // The settings file lies on the small file system as well.
    ASSERT_TRUE(QDir(mountPoint).mkdir(QStringLiteral("INI")));
    gIniPath = mountPoint + QStringLiteral("/INI/ZUL.ini");
    ASSERT_TRUE(
        IniFile::write(gIniPath, QStringLiteral("MAIN"), QStringLiteral("DIVadedadiExe"), QStringLiteral("OK")));
    // Room for the settings writes and for the journal, which holds at most the whole file as it
    // was; none for the links' new pages, written at the commit.
    {
        QFile filler(mountPoint + QStringLiteral("/filler"));
        ASSERT_TRUE(filler.open(QIODevice::WriteOnly));
        ASSERT_TRUE(filler.resize(QStorageInfo(mountPoint).bytesAvailable() - QFileInfo(m_program).size() - 20 * 1024));
        filler.write(QByteArray(int(filler.size()), 'x'));
    }
    const QByteArray before = fileBytes(m_program);

    const RelinkReport report = run();
    EXPECT_TRUE(report.failed);
    ASSERT_EQ(report.failures.size(), 1) << descriptions(report).join(QLatin1Char('\n')).toStdString();
    EXPECT_EQ(report.failures.first().step, 43);
    EXPECT_TRUE(report.failures.first().description ==
                    QStringLiteral("Disk je plný; soubor '%1' nelze změnit.").arg(m_program) ||
                report.failures.first().description ==
                    QStringLiteral("Chyba disku při práci se souborem '%1'.").arg(m_program))
        << report.failures.first().description.toStdString();
    EXPECT_EQ(std::count_if(report.tables.begin(), report.tables.end(),
                            [](const auto& table) { return table.outcome == RelinkReport::Outcome::Failed; }),
              300);
    EXPECT_EQ(m_desktop.boxes().size(), 2);
    EXPECT_EQ(m_desktop.boxes().last(), kFailedBox);
    EXPECT_EQ(outcome(), QStringLiteral("ERROR"));
    // No temporary file is left beside the settings (the relink log may have found room).
    QStringList iniFiles = QDir(mountPoint + QStringLiteral("/INI")).entryList(QDir::Files | QDir::Hidden);
    iniFiles.removeOne(QStringLiteral("DIVadedadi.log"));
    EXPECT_EQ(iniFiles, QStringList{QStringLiteral("ZUL.ini")});
    EXPECT_EQ(fileBytes(m_program), before);
    EXPECT_EQ(filesIn(mountPoint), (QStringList{QStringLiteral("ZUL.accdr"), QStringLiteral("filler")}));
    EXPECT_EQ(integrityCheck(m_program), QStringLiteral("ok"));

    // With room again a second run completes the work.
    ASSERT_TRUE(small.resize(8192));
    const RelinkReport second = run();
    EXPECT_FALSE(second.failed) << descriptions(second).join(QLatin1Char('\n')).toStdString();
    EXPECT_EQ(m_desktop.boxes(), QStringList{kCleanBox});
    EXPECT_EQ(outcome(), QStringLiteral("OK"));
    EXPECT_EQ(linkState(m_program).values().count(linked()), 300);
}

TEST_F(RelinkFaultTest, programFileOnReadOnlyMediumIsReportedAndLeftUnchanged)
{
    createDataFile(m_data, 3);
    createProgramFile(m_program, m_data);
    DbEngine().OpenDatabase(m_data)->Execute(QStringLiteral("create table Nova (ID long)"));
    const QMap<QString, QString> before = linkState(m_program);
    // A data file on the same medium, left in the write-ahead log by an earlier version.
    const QString archived = m_dir.filePath(QStringLiteral("prog/archiv.accdb"));
    createDataFile(archived, 4);
    const bool walMade = toWriteAheadLog(archived);
    const QByteArray programBytes = fileBytes(m_program);
    const QByteArray archivedBytes = fileBytes(archived);
    // One whose log was left unfinished: copied while another process has changes in the log.
    const QString unfinished = m_dir.filePath(QStringLiteral("prog/zbyly.accdb"));
    if (walMade) {
        const QString source = m_dir.filePath(QStringLiteral("data/zdroj.accdb"));
        ASSERT_TRUE(QFile::copy(archived, source));
        OtherProcess writer(source, {QStringLiteral("pragma wal_autocheckpoint=0"),
                                     QStringLiteral("insert into T0001 (ID) values (7)")});
        for (const char* suffix : {"", "-wal"})
            ASSERT_TRUE(QFile::copy(source + QLatin1String(suffix), unfinished + QLatin1String(suffix)));
    }
    // A read-only view of the program folder refuses writes even to root.
    const QString view = m_dir.filePath(QStringLiteral("view"));
    ASSERT_TRUE(QDir().mkpath(view));
    const QString folder = m_dir.filePath(QStringLiteral("prog"));
    if (runProcess(QStringLiteral("mount"), {QStringLiteral("--bind"), folder, view}).exitCode != 0)
        GTEST_SKIP() << "bind mounts are not available here (needs root)";
    const auto unmounted = qScopeGuard([&] { unmount(view); });
    ASSERT_EQ(
        runProcess(QStringLiteral("mount"), {QStringLiteral("-o"), QStringLiteral("remount,ro,bind"), view}).exitCode,
        0);
    setProgram(view + QStringLiteral("/ZUL.accdr"));

    const RelinkReport report = run();
    EXPECT_TRUE(report.failed);
    const QStringList texts = descriptions(report);
    ASSERT_FALSE(texts.isEmpty());
    for (const QString& text : texts)
        EXPECT_TRUE(text == QStringLiteral("Do souboru '%1' nelze zapisovat.").arg(m_program) ||
                    text == QStringLiteral("Soubor '%1' nelze otevřít.").arg(m_program) ||
                    text == QStringLiteral("Proměnná objektu nebo proměnná bloku With není nastavena."))
            << text.toStdString();
    EXPECT_EQ(m_desktop.boxes().last(), kFailedBox);
    EXPECT_EQ(outcome(), QStringLiteral("ERROR"));
    EXPECT_EQ(fileBytes(folder + QStringLiteral("/ZUL.accdr")), programBytes);
    EXPECT_EQ(linkState(folder + QStringLiteral("/ZUL.accdr")), before);
    EXPECT_EQ(integrityCheck(folder + QStringLiteral("/ZUL.accdr")), QStringLiteral("ok"));
    std::printf("[ figures  ] read-only medium: %s\n", qPrintable(texts.join(QStringLiteral(" / "))));

    // A data file there is read and linked, and stays as it was.
    setProgram(m_dir.filePath(QStringLiteral("data/ZUL.accdr")));
    DbEngine().CreateDatabase(m_program, dao::dbLangCzech, dao::dbVersion120)->Close();
    m_data = view + QStringLiteral("/archiv.accdb");
    const RelinkReport linked = run();
    EXPECT_FALSE(linked.failed) << descriptions(linked).join(QLatin1Char('\n')).toStdString();
    EXPECT_EQ(linkState(m_program).values().count(this->linked()), 4);
    EXPECT_EQ(fileBytes(archived), archivedBytes);
    EXPECT_TRUE(walMade) << "the sqlite3 shell is missing: the data file was in the rollback journal";
    if (walMade) {
        EXPECT_EQ(errorOf([&] { DbEngine().OpenDatabase(view + QStringLiteral("/zbyly.accdb")); }),
                  QStringLiteral("3051|Soubor '%1/zbyly.accdb' je v režimu zápisu s protokolem (WAL) a protokol vedle "
                                 "něj nelze v tomto umístění číst; otevřete jej nejprve tam, kde lze zapisovat.")
                      .arg(view));
    }
}

// Files an earlier version left in the write-ahead log: the data file is read
// as it is, the program file goes over to the rollback journal at its first write.
TEST_F(RelinkFaultTest, filesInTheWriteAheadLogAreLinkedAndTheProgramFileSwitchedToTheJournal)
{
    createDataFile(m_data, 3);
    createProgramFile(m_program, m_data);
    createDataFile(m_dir.filePath(QStringLiteral("data/novy.accdb")), 5);
    m_data = m_dir.filePath(QStringLiteral("data/novy.accdb"));
    if (!toWriteAheadLog(m_program) || !toWriteAheadLog(m_data))
        GTEST_SKIP() << "the sqlite3 shell is not installed";

    const RelinkReport report = run();
    EXPECT_FALSE(report.failed) << descriptions(report).join(QLatin1Char('\n')).toStdString();
    EXPECT_EQ(linkState(m_program).values().count(linked()), 5);
    EXPECT_EQ(journalMode(m_program, QStringLiteral("pragma journal_mode")), QStringLiteral("delete"));
    EXPECT_EQ(journalMode(m_data, QStringLiteral("pragma journal_mode")), QStringLiteral("wal"));
    EXPECT_EQ(filesIn(m_dir.filePath(QStringLiteral("prog"))), QStringList{QStringLiteral("ZUL.accdr")});
    EXPECT_EQ(integrityCheck(m_program), QStringLiteral("ok"));
}

// The walk goes over the tables as they were when it began: tables another
// program drops or creates meanwhile shift no position.
TEST_F(RelinkFaultTest, tablesDroppedAndCreatedDuringTheWalkAreNeitherSkippedNorHandledTwice)
{
    createDataFile(m_data, 1500);
    DbEngine().CreateDatabase(m_program, dao::dbLangCzech, dao::dbVersion120)->Close();
    int shown = 0;
    m_desktop.onEvent = [&](const QString& event) {
        if (event == QStringLiteral("doevents") && ++shown == 300)
            changeInAnotherProcess(m_data, {QStringLiteral("drop table T0327"), QStringLiteral("drop table T0100"),
                                            QStringLiteral("create table T0005a (ID integer)")});
    };
    const RelinkReport report = run();
    m_desktop.onEvent = nullptr;

    QMap<QString, int> handled;
    for (const auto& table : report.tables)
        ++handled[table.name];
    for (int i = 0; i < 1500; ++i) {
        const QString name = QStringLiteral("T%1").arg(i, 4, 10, QLatin1Char('0'));
        EXPECT_EQ(handled.value(name), 1) << name.toStdString();
    }
    EXPECT_FALSE(handled.contains(QStringLiteral("T0005a")));
    // The table dropped ahead of the walk fails at its own steps; the one behind it stays linked.
    QStringList failed;
    for (const auto& failure : report.failures)
        failed.append(failure.table);
    EXPECT_EQ(failed, QStringList{QStringLiteral("T0327")});
    EXPECT_EQ(outcome(), QStringLiteral("ERROR"));
    const QString max = m_log.filter(QStringLiteral("max ")).value(0);
    EXPECT_EQ(max, QStringLiteral("max %1").arg(report.tables.size()));
    EXPECT_TRUE(m_log.contains(QStringLiteral("value %1").arg(report.tables.size())));
    EXPECT_FALSE(m_log.contains(QStringLiteral("value %1").arg(report.tables.size() + 1)));
    EXPECT_EQ(linkState(m_program).size(), 1499);
}

// A program file without write permission is read-only for every user, the
// superuser included: the run cannot take it and says why at its opening step.
TEST_F(RelinkFaultTest, writeProtectedProgramFileIsReportedAndLeftUnchangedForEveryUser)
{
    createDataFile(m_data, 3);
    createProgramFile(m_program, m_data);
    DbEngine().OpenDatabase(m_data)->Execute(QStringLiteral("create table Nova (ID long)"));
    const QMap<QString, QString> before = linkState(m_program);
    QFile(m_program).setPermissions(QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther);
    const QByteArray bytes = fileBytes(m_program);

    const RelinkReport report = run();
    EXPECT_EQ(fileBytes(m_program), bytes);
    QFile(m_program).setPermissions(QFile::ReadOwner | QFile::WriteOwner);
    ASSERT_FALSE(report.failures.isEmpty());
    EXPECT_EQ(report.failures.first().step, 16);
    EXPECT_EQ(report.failures.first().description, QStringLiteral("Do souboru '%1' nelze zapisovat.").arg(m_program));
    EXPECT_EQ(outcome(), QStringLiteral("ERROR"));
    EXPECT_EQ(linkState(m_program), before);
    EXPECT_EQ(integrityCheck(m_program), QStringLiteral("ok"));
}

TEST_F(RelinkFaultTest, programFileLockedByAnotherProcessFailsWithinTheLockWait)
{
    createDataFile(m_data, 2);
    createProgramFile(m_program, m_data);
    const QMap<QString, QString> before = linkState(m_program);
    OtherProcess other(m_program, {QStringLiteral("begin immediate")});

    QElapsedTimer timer;
    timer.start();
    const RelinkReport report = run();
    const qint64 elapsed = timer.elapsed();
    other.finish();

    EXPECT_TRUE(report.failed);
    // The lock is waited for once, when the run opens the file; the file then counts as not opened.
    ASSERT_FALSE(report.failures.isEmpty());
    EXPECT_EQ(report.failures.first().step, 16);
    EXPECT_EQ(report.failures.first().description,
              QStringLiteral("Soubor '%1' je uzamčen jiným procesem a zámek se do 4 sekund neuvolnil.").arg(m_program));
    // That one cause stands for every table; nothing else fails.
    EXPECT_EQ(descriptions(report).size(), 1) << descriptions(report).join(QLatin1Char('\n')).toStdString();
    EXPECT_EQ(m_desktop.boxes().size(), 2);
    EXPECT_LT(elapsed, 4000 + 6000);
    EXPECT_EQ(outcome(), QStringLiteral("ERROR"));
    EXPECT_EQ(linkState(m_program), before);
    EXPECT_EQ(integrityCheck(m_program), QStringLiteral("ok"));
}

TEST_F(RelinkFaultTest, dataFileLockedForWritingByAnotherProcessIsStillRead)
{
    createDataFile(m_data, 3);
    DbEngine().CreateDatabase(m_program, dao::dbLangCzech, dao::dbVersion120)->Close();
    // A writer's open transaction holds the file's reserved lock; readers go on until it commits.
    OtherProcess other(m_data,
                       {QStringLiteral("begin immediate"), QStringLiteral("insert into T0001 (ID) values (99)")});

    const RelinkReport report = run();
    other.finish();
    EXPECT_FALSE(report.failed) << descriptions(report).join(QLatin1Char('\n')).toStdString();
    EXPECT_EQ(outcome(), QStringLiteral("OK"));
    EXPECT_EQ(linkState(m_program).values().count(linked()), 3);
}

TEST_F(RelinkFaultTest, dataFileChangedDuringTheWalkIsReportedWithoutCorruption)
{
    createDataFile(m_data, 6);
    createProgramFile(m_program, m_data);
    // While the run shows the second table, another process drops a table
    // ahead of the walk and changes the fields of another.
    int shown = 0;
    m_desktop.onEvent = [&](const QString& event) {
        if (event != QStringLiteral("doevents") || ++shown != 4)
            return;
        changeInAnotherProcess(
            m_data, {QStringLiteral("drop table T0004"), QStringLiteral("alter table T0005 add column Navic integer")});
    };

    const RelinkReport report = run();
    m_desktop.onEvent = nullptr;
    EXPECT_EQ(integrityCheck(m_program), QStringLiteral("ok"));
    const QMap<QString, QString> state = linkState(m_program);
    EXPECT_EQ(state.size(), 6);
    // T0005 was refreshed after the change and records the new field.
    EXPECT_EQ(state.value(QStringLiteral("T0005")), dao::dbConnectPrefix + m_data + QStringLiteral("|ID,Jmeno,Navic"));
    // A failure is reported as one; a clean run says so.
    EXPECT_EQ(report.failed, !report.failures.isEmpty());
    EXPECT_EQ(outcome(), report.failed ? QStringLiteral("ERROR") : QStringLiteral("OK"));
    EXPECT_EQ(m_desktop.boxes().last(), report.failed ? kFailedBox : kCleanBox);
    std::printf("[ figures  ] changed data file: %d failures: %s\n", int(report.failures.size()),
                qPrintable(descriptions(report).join(QStringLiteral(" / "))));
}
