// Processes killed with SIGKILL in the middle of their work: a relink run of
// the real binary, and a loop of settings writes.

#include "Support.h"

#include "DBEngine.h"
#include "IniFile.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

namespace {

const QString kMain = QStringLiteral("MAIN");
const QString kOutcome = QStringLiteral("DIVadedadiExe");

// Polls the settings file until the key holds the value; false after bound ms.
bool waitForSetting(const QString& iniPath, const QString& key, const QString& value, QProcess& process, int bound)
{
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < bound) {
        if (iniValue(iniPath, kMain, key) == value)
            return true;
        if (process.state() == QProcess::NotRunning)
            return iniValue(iniPath, kMain, key) == value;
        QThread::msleep(5);
    }
    return false;
}

int tableCount()
{
    const int fromEnvironment = qEnvironmentVariableIntValue("DIVADEDADI_KILL_TABLES");
    // 1,000 tables: a walk of about 0.4 s, long enough to land most kills in it.
    return fromEnvironment > 0 ? fromEnvironment : 1000;
}

} // namespace

TEST(KilledRelinkRun, leavesEveryTableWholeAndNeverReportsOk)
{
    ProgramFolder folder;
    ASSERT_TRUE(folder.isValid());
    const int tables = tableCount();
    const QString oldData = folder.path(QStringLiteral("old.accdb"));
    ASSERT_TRUE(QDir(folder.path()).mkdir(QStringLiteral("data")));
    const QString newData = folder.path(QStringLiteral("data/ZUL_data.accdb"));
    const QString program = folder.path(QStringLiteral("ZUL.accdr"));
    const QString pristine = folder.path(QStringLiteral("pristine.accdr"));

    QElapsedTimer setup;
    setup.start();
    createDataFile(oldData, tables);
    createDataFile(newData, tables, true);
    createProgramFile(pristine, oldData);
    std::printf("[ figures  ] %d tables: files made in %lld ms\n", tables, qint64(setup.elapsed()));

    const QString oldState = (dao::dbConnectPrefix + oldData) + QStringLiteral("|ID,Jmeno");
    const QString newState = (dao::dbConnectPrefix + newData) + QStringLiteral("|ID,Jmeno,Novy");
    const QStringList arguments = relinkArguments(program, newData);

    // One complete walk, to learn how long it takes from the early "ERROR" to
    // the end of the walk ([MAIN] ZULdata is written right after it).
    qint64 walkMs = 0;
    {
        ASSERT_TRUE(QFile::copy(pristine, program));
        folder.writeIni("[MAIN]\r\nDIVadedadiExe=OK\r\n");
        const std::unique_ptr<QProcess> process = startProcess(folder.exe(), arguments, {.environment = kOffscreen});
        ASSERT_TRUE(waitForSetting(folder.iniPath(), kOutcome, QStringLiteral("ERROR"), *process, 30000));
        QElapsedTimer walk;
        walk.start();
        ASSERT_TRUE(waitForSetting(folder.iniPath(), QStringLiteral("ZULdata"), newData, *process, 240000));
        walkMs = walk.elapsed();
        process->kill();
        process->waitForFinished();
        ASSERT_EQ(iniValue(folder.iniPath(), kMain, kOutcome), QStringLiteral("ERROR"));
        const QMap<QString, QString> state = linkState(program);
        ASSERT_EQ(state.size(), tables);
        EXPECT_EQ(state.values().count(newState), tables);
        std::printf("[ figures  ] walk over %d tables: %lld ms\n", tables, walkMs);
    }

    QRandomGenerator random(20261208);
    int midWalk = 0;
    for (int kill = 0; kill < 20; ++kill) {
        SCOPED_TRACE(kill);
        QFile::remove(program);
        ASSERT_TRUE(QFile::copy(pristine, program));
        folder.writeIni("[MAIN]\r\nDIVadedadiExe=OK\r\n");
        const std::unique_ptr<QProcess> process = startProcess(folder.exe(), arguments, {.environment = kOffscreen});
        ASSERT_TRUE(waitForSetting(folder.iniPath(), kOutcome, QStringLiteral("ERROR"), *process, 30000));
        QThread::msleep(random.bounded(int(walkMs * 11 / 10) + 1));
        process->kill();
        ASSERT_TRUE(process->waitForFinished(10000));
        // The run's one transaction had begun changing the file: its journal is left behind.
        const bool inTransaction = QFile::exists(program + QStringLiteral("-journal"));

        EXPECT_EQ(integrityCheck(program), QStringLiteral("ok"));
        const QMap<QString, QString> state = linkState(program);
        ASSERT_EQ(state.size(), tables);
        const int relinked = int(state.values().count(newState));
        EXPECT_EQ(relinked + state.values().count(oldState), tables) << "a table is neither the old nor the new link";
        // All links old, or all new once the commit was through; never a mixture.
        EXPECT_TRUE(relinked == 0 || relinked == tables) << relinked;
        if (inTransaction) {
            EXPECT_EQ(relinked, 0);
            ++midWalk;
        }
        EXPECT_EQ(iniValue(folder.iniPath(), kMain, kOutcome), QStringLiteral("ERROR"));

        // Twice a second run finishes the work (without a window, so it ends by itself).
        if (kill % 10 == 9) {
            const ProcessResult second = runBinary(folder, arguments, kNoDisplay, std::chrono::minutes(4));
            ASSERT_TRUE(second.finished);
            EXPECT_EQ(second.exitCode, 0);
            EXPECT_EQ(iniValue(folder.iniPath(), kMain, kOutcome), QStringLiteral("OK")) << second.err.toStdString();
            EXPECT_EQ(linkState(program).values().count(newState), tables);
            EXPECT_EQ(integrityCheck(program), QStringLiteral("ok"));
        }
    }
    std::printf("[ figures  ] %d of 20 kills landed in the middle of the walk\n", midWalk);
    EXPECT_GE(midWalk, 5);
}

TEST(KilledSettingsWrite, leavesTheOldOrTheNewFileAndNoTemporaryFiles)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString ini = dir.filePath(QStringLiteral("ZUL.ini"));
    const QByteArray original("[MAIN]\r\nZULdata=C:\\ZUL\\data.accdb\r\n; poznámka\r\n\r\n[Other]\r\nk=v\r\n");
    // The file after the write of Counter=n, whatever came before: a write replaces the value in place.
    const auto expectedAfter = [&](const QString& n) {
        const QString scratch = dir.filePath(QStringLiteral("expected/ZUL.ini"));
        QDir(dir.path()).mkpath(QStringLiteral("expected"));
        writeBytes(scratch, original);
        IniFile::write(scratch, kMain, QStringLiteral("Counter"), n);
        return fileBytes(scratch);
    };
    ASSERT_TRUE(writeBytes(ini, original));

    QRandomGenerator random(42);
    qint64 last = 0;
    int written = 0;
    for (int kill = 0; kill < 30; ++kill) {
        SCOPED_TRACE(kill);
        const std::unique_ptr<QProcess> child = startProcess(QStringLiteral(INI_WRITER_EXE), {ini});
        ASSERT_EQ(child->state(), QProcess::Running);
        QThread::msleep(5 + random.bounded(60));
        child->kill();
        ASSERT_TRUE(child->waitForFinished(10000));
        ASSERT_EQ(child->exitStatus(), QProcess::CrashExit) << child->readAllStandardError().toStdString();

        QFile file(ini);
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        const QByteArray bytes = file.readAll();
        const QString counter = IniFile::read(ini, kMain, QStringLiteral("Counter"));
        if (counter.isEmpty()) {
            EXPECT_EQ(bytes, original);
        } else {
            EXPECT_EQ(bytes, expectedAfter(counter));
            ++written;
        }
        // Each child counts from 1 again; the value is one it wrote in full.
        last = counter.toLongLong();
        EXPECT_GE(last, 0);
        EXPECT_EQ(IniFile::read(ini, kMain, QStringLiteral("ZULdata")), QStringLiteral("C:\\ZUL\\data.accdb"));
        EXPECT_EQ(IniFile::read(ini, QStringLiteral("Other"), QStringLiteral("k")), QStringLiteral("v"));
        // A killed writer may leave its one temporary file; the next write clears it.
        EXPECT_LE(filesIn(dir.path()).size(), 2) << filesIn(dir.path()).join(QLatin1Char(' ')).toStdString();
    }
    EXPECT_GT(written, 0);
    // A write by a process that lives on leaves the settings file alone.
    ASSERT_TRUE(IniFile::write(ini, kMain, QStringLiteral("Counter"), QStringLiteral("end")));
    EXPECT_EQ(filesIn(dir.path()), QStringList{QStringLiteral("ZUL.ini")});
}
