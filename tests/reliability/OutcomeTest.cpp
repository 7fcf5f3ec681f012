// What a calling program reads after a run that meets a hostile or broken
// settings folder: never an earlier "OK" taken for this run's. Either the
// run's outcome is in the settings file, or the run says on standard error
// that it could not store it and ends with a non-zero exit code.

#include "Support.h"

#include "Settings.h"

#include <QDir>
#include <QFile>
#include <QScopeGuard>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <functional>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

const QByteArray kOkIni = QByteArrayLiteral("[MAIN]\r\nDIVadedadiExe=OK\r\n");
const QByteArray kPreviousLog = QByteArrayLiteral("2026-01-01T00:00:00+01:00\t/p\t/d\tOK\n");

// What a case leaves behind for its checks, and the cleanup it needs.
struct Planted {
    QStringList untouched; // files whose bytes the run must not change
    std::function<void()> cleanUp = [] {};
    bool possible = true;
};

} // namespace

TEST(Outcome, runThatCannotStoreItsOutcomeSaysSoAndEndsNonZero)
{
    struct Case {
        const char* name;
        bool needsRoot;
        bool failingRun; // the program file holds a local table of a data table's name
        std::function<Planted(const ProgramFolder&)> plant;
        int exitCode;
        const char* stderrWords;
        const char* outcome; // DIVadedadiExe afterwards, read through the links; nullptr: not checked
    };
    const Case cases[] = {
        // Links another user put into a settings folder everybody may write,
        // to files of root's: a root run writes through neither.
        {"links of nobody in a shared INI folder", true, false,
         [](const ProgramFolder& folder) {
             Planted planted;
             const QString secret = folder.path(QStringLiteral("secret"));
             QDir().mkdir(secret);
             ::chmod(QFile::encodeName(secret).constData(), 0700);
             writeBytes(secret + QStringLiteral("/a"), kOkIni);
             writeBytes(secret + QStringLiteral("/b"), kPreviousLog);
             for (const char* name : {"a", "b"})
                 ::chmod(QFile::encodeName(secret + QLatin1Char('/') + QLatin1String(name)).constData(), 0600);
             const QByteArray ini = QFile::encodeName(folder.path(QStringLiteral("INI")));
             ::chmod(ini.constData(), 01777);
             for (const auto& [link, target] :
                  {std::pair{"ZUL.ini", "../secret/a"}, {"DIVadedadi.log", "../secret/b"}}) {
                 const QByteArray path = ini + '/' + link;
                 planted.possible &=
                     ::symlink(target, path.constData()) == 0 && ::lchown(path.constData(), 65534, 65534) == 0;
             }
             planted.untouched = {secret + QStringLiteral("/a"), secret + QStringLiteral("/b")};
             return planted;
         },
         kOutcomeUnrecordedExitCode, "symbolický odkaz", "OK"},
        // Another process keeps the settings file locked: the run waits a
        // bounded time for each write, then gives up.
        {"settings file locked by another process", false, false,
         [](const ProgramFolder& folder) {
             Planted planted;
             folder.writeIni(kOkIni);
             const QByteArray ini = QFile::encodeName(folder.iniPath());
             const pid_t holder = ::fork();
             if (holder == 0) {
                 const int fd = ::open(ini.constData(), O_RDONLY);
                 ::flock(fd, LOCK_EX);
                 ::pause();
                 ::_exit(0);
             }
             ::usleep(300000);
             planted.untouched = {folder.iniPath()};
             planted.cleanUp = [holder] {
                 ::kill(holder, SIGKILL);
                 ::waitpid(holder, nullptr, 0);
             };
             return planted;
         },
         kOutcomeUnrecordedExitCode, "zamčen jiným procesem", "OK"},
        // A full settings folder still takes the failed run's ERROR, and the
        // log stays the previous one or becomes this run's, whole.
        {"full disk under the INI folder", true, true,
         [](const ProgramFolder& folder) {
             Planted planted;
             const QString ini = folder.path(QStringLiteral("INI"));
             planted.possible = mountTmpfs(ini, 1024);
             if (!planted.possible)
                 return planted;
             planted.cleanUp = [ini] { unmount(ini); };
             folder.writeIni(kOkIni);
             writeBytes(ini + QStringLiteral("/DIVadedadi.log"), kPreviousLog);
             fillUp(ini);
             return planted;
         },
         0, "V průběhu propojování databází se vyskytly chyby.", "ERROR"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.needsRoot && ::geteuid() != 0) {
            std::printf("[ skipped  ] %s: needs root\n", c.name);
            continue;
        }
        ProgramFolder folder;
        ASSERT_TRUE(folder.isValid());
        const QString program = folder.path(QStringLiteral("ZUL.accdr"));
        const QString data = folder.path(QStringLiteral("data.accdb"));
        createDataFile(data, 3);
        if (c.failingRun)
            createDataFile(program, 1);
        else
            createProgramFile(program, data);
        Planted planted = c.plant(folder);
        const auto cleanUp = qScopeGuard([&] { planted.cleanUp(); });
        if (!planted.possible) {
            std::printf("[ skipped  ] %s: not possible here\n", c.name);
            continue;
        }
        QMap<QString, QByteArray> before;
        for (const QString& file : planted.untouched)
            before[file] = fileBytes(file);

        const ProcessResult result =
            runBinary(folder, relinkArguments(program, data), kNoDisplay, std::chrono::seconds(90));
        EXPECT_TRUE(result.finished) << "hung";
        EXPECT_EQ(result.exitCode, c.exitCode) << result.err.toStdString();
        EXPECT_TRUE(result.err.contains(QString::fromUtf8(c.stderrWords))) << result.err.toStdString();
        if (c.exitCode != 0) {
            EXPECT_TRUE(result.err.contains(QStringLiteral("nelze zapsat"))) << result.err.toStdString();
        }
        for (const QString& file : planted.untouched)
            EXPECT_EQ(fileBytes(file), before[file]) << file.toStdString();
        if (c.outcome) {
            EXPECT_EQ(iniValue(folder.iniPath(), QStringLiteral("MAIN"), QStringLiteral("DIVadedadiExe")),
                      QString::fromUtf8(c.outcome));
        }
        const QByteArray log = fileBytes(folder.path(QStringLiteral("INI/DIVadedadi.log")));
        if (c.failingRun) {
            EXPECT_TRUE(log == kPreviousLog ||
                        (log.endsWith('\n') && log.contains("\tERROR\n") && log.contains("T0000\tchyba")))
                << log.toStdString();
        }
    }
}
