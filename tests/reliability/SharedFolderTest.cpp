// The real binary where data files really live: a folder the user cannot
// write, and a program file two processes relink at the same time.

#include "Support.h"

#include "DBEngine.h"

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

#include <grp.h>
#include <pwd.h>
#include <unistd.h>

namespace {

QString outcomeIn(const ProgramFolder& folder)
{
    return iniValue(folder.iniPath(), QStringLiteral("MAIN"), QStringLiteral("DIVadedadiExe"));
}

} // namespace

// An ordinary user's run over a data file and a list file in a folder of
// root's that the user may only read (tests run as root: the run drops to nobody).
TEST(SharedFolder, ordinaryUserLinksAndListsFromAFolderItCannotWrite)
{
    const passwd* nobody = ::getpwnam("nobody");
    const group* nogroup = ::getgrnam("nogroup");
    if (!canRunAsNobody() || !nobody || !nogroup)
        GTEST_SKIP() << "needs root and setpriv to run as nobody";
    ProgramFolder folder;
    ASSERT_TRUE(folder.isValid());
    ASSERT_TRUE(QFile::setPermissions(folder.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner |
                                                         QFile::ReadGroup | QFile::ExeGroup | QFile::ReadOther |
                                                         QFile::ExeOther));
    const QString data = folder.path(QStringLiteral("ZUL_data.accdb"));
    createDataFile(data, 20);
    // Root's run makes the list file and records the data file in it.
    const QString rootsProgram = folder.path(QStringLiteral("root.accdr"));
    DbEngine().CreateDatabase(rootsProgram, dao::dbLangCzech, dao::dbVersion120)->Close();
    ASSERT_EQ(runBinary(folder, relinkArguments(rootsProgram, data), kNoDisplay).err, kCleanReport);
    // The user's own program file, in a folder of the user's, and the settings folder.
    const QString own = folder.path(QStringLiteral("own"));
    ASSERT_TRUE(QDir().mkdir(own));
    const QString program = own + QStringLiteral("/ZUL.accdr");
    DbEngine().CreateDatabase(program, dao::dbLangCzech, dao::dbVersion120)->Close();
    for (const QString& path : {own, program, folder.path(QStringLiteral("INI")), folder.iniPath()})
        ASSERT_EQ(::chown(QFile::encodeName(path).constData(), nobody->pw_uid, nogroup->gr_gid), 0);
    const QStringList before = filesIn(folder.path());
    const QByteArray dataBytes = fileBytes(data);
    const QByteArray listBytes = fileBytes(folder.path(QStringLiteral("ZUL_db.accdb")));

    const ProcessResult run =
        runProcess(folder.exe(), relinkArguments(program, data), {.environment = kNoDisplay, .asNobody = true});
    ASSERT_TRUE(run.finished);
    // No report at all: the list was read for the fill, and nothing had to be written to it.
    EXPECT_EQ(run.err, kCleanReport);
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(outcomeIn(folder), QStringLiteral("OK"));
    const QMap<QString, QString> state = linkState(program);
    EXPECT_EQ(state.size(), 20);
    EXPECT_EQ(state.values().count(dao::dbConnectPrefix + data + QStringLiteral("|ID,Jmeno")), 20);
    EXPECT_EQ(fileBytes(data), dataBytes);
    EXPECT_EQ(fileBytes(folder.path(QStringLiteral("ZUL_db.accdb"))), listBytes);
    EXPECT_EQ(filesIn(folder.path()), before);
}

// Two processes relink one program file to two data files at once: the second
// waits for the first's lock, then relinks or reports the file in use. The
// links name one data file, never a mixture, and an "OK" belongs to a run
// whose links the file holds or that the other run's replaced.
TEST(SharedFolder, twoRunsAtOnceLeaveTheLinksOfOneDataFile)
{
    ProgramFolder first;
    ProgramFolder second;
    ASSERT_TRUE(first.isValid() && second.isValid());
    const QString program = first.path(QStringLiteral("ZUL.accdr"));
    const QString dataA = first.path(QStringLiteral("a.accdb"));
    const QString dataB = second.path(QStringLiteral("b.accdb"));
    createDataFile(dataA, 800);
    createDataFile(dataB, 800);
    DbEngine().CreateDatabase(program, dao::dbLangCzech, dao::dbVersion120)->Close();

    const std::unique_ptr<QProcess> startedOne =
        startProcess(first.exe(), relinkArguments(program, dataA), {.environment = kNoDisplay});
    const std::unique_ptr<QProcess> startedTwo =
        startProcess(second.exe(), relinkArguments(program, dataB), {.environment = kNoDisplay});
    const ProcessResult one = finishProcess(*startedOne);
    const ProcessResult two = finishProcess(*startedTwo);
    ASSERT_TRUE(one.finished && two.finished);

    EXPECT_EQ(integrityCheck(program), QStringLiteral("ok"));
    const QList<QString> links = linkState(program).values();
    ASSERT_EQ(links.size(), 800);
    const QString toA = dao::dbConnectPrefix + dataA + QStringLiteral("|ID,Jmeno");
    const QString toB = dao::dbConnectPrefix + dataB + QStringLiteral("|ID,Jmeno");
    EXPECT_TRUE(links.count(toA) == 800 || links.count(toB) == 800) << "a mixture of both data files";
    const QString outcomeA = outcomeIn(first);
    const QString outcomeB = outcomeIn(second);
    EXPECT_TRUE(outcomeA == QStringLiteral("OK") || outcomeB == QStringLiteral("OK"));
    for (const auto& [outcome, errors] : {std::pair{outcomeA, one.err}, std::pair{outcomeB, two.err}}) {
        if (outcome == QStringLiteral("OK")) {
            EXPECT_EQ(errors, kCleanReport);
        } else {
            EXPECT_TRUE(errors.contains(QStringLiteral("je uzamčen jiným procesem"))) << errors.toStdString();
        }
    }
    std::printf("[ figures  ] two runs at once: %s / %s, links to %s\n", qPrintable(outcomeA), qPrintable(outcomeB),
                links.count(toA) == 800 ? "a" : "b");
}
