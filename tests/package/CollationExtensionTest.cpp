// The collation extension in the stock sqlite3 shell, over a list file the
// engine made: the shell checks, sorts and refuses duplicates as the engine does.

#include "DBEngine.h"
#include "DesktopServices.h"
#include "Globals.h"
#include "ListFile.h"
#include "RunTimeError.h"
#include "TestSupport.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

ProcessResult sqliteShell(const QString& file, const QString& sql, bool withExtension = true)
{
    QStringList args = {QStringLiteral("-bail")};
    if (withExtension)
        args << QStringLiteral("-cmd") << QStringLiteral(".load " ZULSQLITE_PATH);
    return runProcess(QStringLiteral("sqlite3"), args << file << sql, {.timeout = std::chrono::seconds(30)});
}

// The number of the error the engine raises for the new path, 0 for none.
int engineError(const QString& file, const QString& path)
{
    return errorOf([&] {
               DbEngine().OpenDatabase(file)->Execute(QStringLiteral("insert into Databaze (Cesta) values (?)"),
                                                      {path});
           })
        .section(QLatin1Char('|'), 0, 0)
        .toInt();
}

} // namespace

TEST(CollationExtension, stockShellChecksSortsAndRefusesDuplicatesWhereTheEngineDoes)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString list = dir.filePath(QStringLiteral("ZUL_db.accdb"));
    gListDbPath = list;
    RecordingDesktop desktop;
    CreateListFile(desktop);
    for (const char* path : {"/data/hrad.accdb", "/data/Chléb.accdb", "/data/cukr.accdb", "/data/čáp.accdb",
                             "/data/Ivan.accdb", "/data/cz.accdb"})
        AddListPath(desktop, QString::fromUtf8(path));
    ASSERT_TRUE(desktop.events.isEmpty()) << desktop.events.join(QLatin1Char('\n')).toStdString();

    EXPECT_EQ(sqliteShell(list, QStringLiteral("PRAGMA integrity_check"), false).err.trimmed(),
              QStringLiteral("Error: in prepare, no such collation sequence: ZUL_CZ"));
    EXPECT_EQ(sqliteShell(list, QStringLiteral("PRAGMA integrity_check")).out, QStringLiteral("ok\n"));
    // Czech order: "č" after "c", "ch" after "h"; letter case ignored.
    EXPECT_EQ(sqliteShell(list, QStringLiteral("SELECT Cesta FROM Databaze ORDER BY Cesta")).out,
              QStringLiteral("/data/cukr.accdb\n/data/cz.accdb\n/data/čáp.accdb\n/data/hrad.accdb\n"
                             "/data/Chléb.accdb\n/data/Ivan.accdb\n"));

    const struct {
        const char* name;
        const char* path;
        bool duplicate;
    } cases[] = {
        {"other letter case", "/DATA/HRAD.accdb", true},
        {"Czech letters in other case", "/data/ČÁP.accdb", true},
        {"ch in other case", "/data/CHLÉB.accdb", true},
        {"accent differs", "/data/cap.accdb", false},
        {"accent differs on ch", "/data/Chleb.accdb", false},
        {"trailing blank", "/data/hrad.accdb ", false},
        {"new path", "/data/nový.accdb", false},
    };
    for (const auto& c : cases) {
        const QString path = QString::fromUtf8(c.path);
        const QString engineCopy = dir.filePath(QStringLiteral("engine-%1.accdb").arg(c.name));
        const QString shellCopy = dir.filePath(QStringLiteral("shell-%1.accdb").arg(c.name));
        ASSERT_TRUE(QFile::copy(list, engineCopy) && QFile::copy(list, shellCopy));
        EXPECT_EQ(engineError(engineCopy, path), c.duplicate ? ErrorNumber::DuplicateValue : 0) << c.name;
        const ProcessResult shell =
            sqliteShell(shellCopy, QStringLiteral("INSERT INTO Databaze (Cesta) VALUES ('%1')").arg(path));
        EXPECT_EQ(shell.exitCode != 0, c.duplicate) << c.name << ": " << shell.err.toStdString();
        if (c.duplicate) {
            EXPECT_TRUE(shell.err.contains(QStringLiteral("UNIQUE constraint failed: Databaze.Cesta"))) << c.name;
        }
        EXPECT_EQ(sqliteShell(shellCopy, QStringLiteral("PRAGMA integrity_check")).out, QStringLiteral("ok\n"))
            << c.name;
    }
    // Sizes count 16-bit units in the shell too: 128 emoji are 256 units, one more than Cesta holds.
    QString emoji;
    for (int i = 0; i < 128; ++i)
        emoji += QString::fromUtf8("\xF0\x9F\x98\x80");
    const ProcessResult tooLong =
        sqliteShell(list, QStringLiteral("INSERT INTO Databaze (Cesta) VALUES ('%1')").arg(emoji));
    EXPECT_NE(tooLong.exitCode, 0) << tooLong.out.toStdString();
    EXPECT_TRUE(tooLong.err.contains(QStringLiteral("constraint failed"))) << tooLong.err.toStdString();
}
