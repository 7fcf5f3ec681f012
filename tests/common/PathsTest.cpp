#include "Paths.h"
#include "TestSupport.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

TEST(ProgramDir, windowsRootGetsNoSecondBackslash)
{
    EXPECT_EQ(ProgramDirOf(QStringLiteral("C:\\"), PathStyle::Windows), QStringLiteral("C:\\"));
    EXPECT_EQ(ProgramDirOf(QStringLiteral("C:\\ZUL"), PathStyle::Windows), QStringLiteral("C:\\ZUL\\"));
}

TEST(ProgramDir, nativeFolderGetsExactlyOneSeparator)
{
    EXPECT_EQ(ProgramDirOf(QStringLiteral("/")), QStringLiteral("/"));
    EXPECT_EQ(ProgramDirOf(QStringLiteral("/ab")), QStringLiteral("/ab/"));
    EXPECT_EQ(ProgramDirOf(QStringLiteral("/opt/zul")), QStringLiteral("/opt/zul/"));
}

TEST(ProgramDir, folderOfTheStartPathWithLinksNotFollowed)
{
    QTemporaryDir root;
    ASSERT_TRUE(root.isValid());
    const QString t = root.path();
    const auto at = [&t](const char* relative) { return t + QLatin1Char('/') + QString::fromUtf8(relative); };
    for (const char* folder : {"real", "app", "chain", "empty", "noexec", "other", "Účetní program"})
        ASSERT_TRUE(QDir(t).mkpath(QString::fromUtf8(folder)));
    const QString real = at("real/divadedadi");
    for (const QString& file : {real, at("noexec/divadedadi"), at("other/divadedadi")})
        EXPECT_TRUE(writeBytes(file, {}));
    const auto exec = QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner | QFileDevice::ExeOther;
    QFile::setPermissions(real, exec);
    QFile::setPermissions(at("other/divadedadi"), exec);
    ASSERT_TRUE(QFile::link(real, at("app/divadedadi")));
    ASSERT_TRUE(QFile::link(QStringLiteral("../app/divadedadi"), at("chain/divadedadi")));
    ASSERT_TRUE(QFile::link(real, at("Účetní program/spouštěč zul")));

    const QString name = QStringLiteral("divadedadi");
    const struct {
        const char* name;
        QString start, current, searchPath, folder;
    } cases[] = {
        {"real file", real, t, QString(), at("real")},
        {"link in another folder", at("app/divadedadi"), t, QString(), at("app")},
        {"chain of two links", at("chain/divadedadi"), t, QString(), at("chain")},
        {"relative start", QStringLiteral("./divadedadi"), at("app"), QString(), at("app")},
        {"relative start upwards", QStringLiteral("../chain/./divadedadi"), at("app"), QString(), at("chain")},
        {"through PATH", name, t, at("empty") + QLatin1Char(':') + at("chain"), at("chain")},
        {"PATH skips a file that is not executable", name, t, at("noexec") + QStringLiteral(":app"), at("app")},
        {"empty PATH entry is the current folder", name, at("app"), QStringLiteral("/nonexistent::"), at("app")},
        {"blanks and Czech letters", at("Účetní program/spouštěč zul"), t, QString(), at("Účetní program")},
        {"blanks and Czech letters through PATH", QStringLiteral("spouštěč zul"), t, at("Účetní program"),
         at("Účetní program")},
        // Not the running program: the caller passed some other name.
        {"another program's file", at("other/divadedadi"), t, QString(), QString()},
        {"first PATH match is another program", name, t, at("other") + QLatin1Char(':') + at("app"), QString()},
        {"name not on PATH", name, t, at("empty"), QString()},
        {"missing file", at("empty/divadedadi"), t, QString(), QString()},
        {"empty start path", QString(), t, QString(), QString()},
    };
    for (const auto& c : cases)
        EXPECT_EQ(startFolderOf(c.start, c.current, c.searchPath, real), c.folder) << c.name;
}

TEST(FolderOfPath, windowsRules)
{
    const auto w = PathStyle::Windows;
    EXPECT_EQ(FolderOfPath(QStringLiteral("C:\\ZUL\\ZUL.accdr"), w), QStringLiteral("C:\\ZUL\\"));
    EXPECT_EQ(FolderOfPath(QStringLiteral("C:\\Data\\"), w), QStringLiteral("C:\\"));
    EXPECT_EQ(FolderOfPath(QStringLiteral("C:\\"), w), QStringLiteral("C:\\"));
    EXPECT_EQ(FolderOfPath(QStringLiteral("abc"), w), QStringLiteral("abc"));
    EXPECT_EQ(FolderOfPath(QString(), w), QString());
    // The last character is never examined.
    EXPECT_EQ(errorOf([&] { FolderOfPath(QStringLiteral("abc\\"), w); }),
              QStringLiteral("5|Neplatné volání procedury nebo argument"));
    EXPECT_EQ(errorOf([&] { FolderOfPath(QStringLiteral("ZUL_data.accdb"), w); }),
              QStringLiteral("5|Neplatné volání procedury nebo argument"));
}

TEST(FolderOfPath, nativeRules)
{
    EXPECT_EQ(FolderOfPath(QStringLiteral("/opt/zul/ZUL.accdr")), QStringLiteral("/opt/zul/"));
    EXPECT_EQ(FolderOfPath(QStringLiteral("/data/")), QStringLiteral("/"));
    EXPECT_EQ(FolderOfPath(QStringLiteral("/ZUL.accdr")), QStringLiteral("/"));
    EXPECT_EQ(FolderOfPath(QStringLiteral("/")), QStringLiteral("/"));
    EXPECT_EQ(FolderOfPath(QString()), QString());
    EXPECT_EQ(FolderOfPath(QStringLiteral("data/x.accdb")), QStringLiteral("data/"));
    EXPECT_EQ(errorOf([&] { FolderOfPath(QStringLiteral("ZUL_data.accdb"), PathStyle::Native); }).left(2),
              QStringLiteral("5|"));
    EXPECT_EQ(errorOf([&] { FolderOfPath(QStringLiteral("ab/"), PathStyle::Native); }).left(2), QStringLiteral("5|"));
}

TEST(JoinFolderAndName, rootGetsOneSeparator)
{
    EXPECT_EQ(JoinFolderAndName(QStringLiteral("/"), QStringLiteral("ZUL.accdr")), QStringLiteral("/ZUL.accdr"));
    EXPECT_EQ(JoinFolderAndName(QStringLiteral("/data"), QStringLiteral("ZUL.accdr")), QStringLiteral("/data/ZUL.accdr"));
    EXPECT_EQ(JoinFolderAndName(QStringLiteral("D:\\"), QStringLiteral("ZUL_data.accdb"), PathStyle::Windows),
              QStringLiteral("D:\\ZUL_data.accdb"));
    EXPECT_EQ(JoinFolderAndName(QStringLiteral("C:\\Data"), QStringLiteral("ZUL.accdr"), PathStyle::Windows),
              QStringLiteral("C:\\Data\\ZUL.accdr"));
}

TEST(FileExists, onlyOrdinaryVisibleFilesCount)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString file = dir.filePath(QStringLiteral("ZUL.accdr"));
    EXPECT_TRUE(writeBytes(file, {}));
    EXPECT_TRUE(writeBytes(dir.filePath(QStringLiteral(".hidden.accdb")), {}));
    QDir(dir.path()).mkdir(QStringLiteral("folder.accdb"));
    QFile::link(file, dir.filePath(QStringLiteral("link.accdr")));
    QFile::link(dir.filePath(QStringLiteral("loop2")), dir.filePath(QStringLiteral("loop1")));
    QFile::link(dir.filePath(QStringLiteral("loop1")), dir.filePath(QStringLiteral("loop2")));

    EXPECT_TRUE(FileExists(file));
    EXPECT_TRUE(FileExists(dir.filePath(QStringLiteral("link.accdr"))));
    EXPECT_FALSE(FileExists(QString()));
    EXPECT_FALSE(FileExists(dir.path()));
    EXPECT_FALSE(FileExists(dir.filePath(QStringLiteral("folder.accdb"))));
    EXPECT_FALSE(FileExists(dir.filePath(QStringLiteral(".hidden.accdb"))));
    EXPECT_FALSE(FileExists(dir.filePath(QStringLiteral("missing/ZUL.accdr"))));
    EXPECT_FALSE(FileExists(dir.filePath(QStringLiteral("loop1"))));
    EXPECT_FALSE(FileExists(file + QLatin1Char('/')));
    EXPECT_FALSE(FileExists(QStringLiteral("/no/such/drive/x")));
}

TEST(FileExists, wildcardsMatchAsPatterns)
{
    QTemporaryDir dir;
    EXPECT_TRUE(writeBytes(dir.filePath(QStringLiteral("ZUL_data.accdb")), {}));
    EXPECT_TRUE(writeBytes(dir.filePath(QStringLiteral(".secret.accdr")), {}));
    EXPECT_TRUE(FileExists(dir.filePath(QStringLiteral("*.accdb"))));
    EXPECT_TRUE(FileExists(dir.filePath(QStringLiteral("ZUL_dat?.accdb"))));
    EXPECT_FALSE(FileExists(dir.filePath(QStringLiteral("*.accdr"))));       // only a hidden one
    EXPECT_FALSE(FileExists(dir.filePath(QStringLiteral("ZUL_dat?.accd"))));  // "?" is exactly one character
    EXPECT_FALSE(FileExists(dir.filePath(QStringLiteral("nope/*.accdb"))));
}

// The original platform's directory search, name by name.
TEST(FileExists, patternsMatchAsOnTheOriginalPlatform)
{
    struct Row {
        const char* pattern;
        const char* name;
        bool matches;
    };
    const Row rows[] = {
        {"*", "ZUL", true},           {"*", "a.b.c", true},           {"*.*", "ZUL", true},
        {"*.*", "ZUL.accdb", true},   {"*.*", ".x", true},            {"*.", "ZUL", true},
        {"*.", "ZUL.accdb", false},   {"ZUL.*", "ZUL", true},         {"ZUL.*", "ZUL.hlp", true},
        {"ZUL.*", "ZUL2", false},     {"ZUL.*", "ZUL.a.b", true},     {"ZUL.", "ZUL", true},
        {"ZUL?", "ZUL", true},        {"ZUL?", "ZUL1", true},         {"ZUL?", "ZUL12", false},
        {"ZUL?", "ZUL.x", false},     {"ZUL??", "ZUL1", true},        {"?", "ab", false},
        {"ZUL_dat?.accdb", "ZUL_data.accdb", true},                   {"ZUL_dat?.accdb", "ZUL_dat.accdb", true},
        {"ZUL_dat?.accd", "ZUL_data.accdb", false},                   {"a?b", "a.b", false},
        {"a?b", "axb", true},         {"*.accdb", "ZUL_data.accdb", true},
        {"*.accdb", "a.b.accdb", true},                               {"*.accdb", "x.accdb.bak", false},
        {"*.?", "ZUL", true},         {"*.?", "ZUL.a", true},         {"*.?", "ZUL.ab", false},
        {"*b", "a.b", true},          {"Z*L", "Z.L", true},           {"*.accdb", "ZUL.ACCDB", false},
        {"[ab]*", "[ab]x", true},     {"[ab]*", "ax", false},         {"a+b?", "a+bc", true},
        {"*", "a\nb", true},
    };
    for (const Row& row : rows) {
        const QString name = QString::fromUtf8(row.name);
        EXPECT_EQ(wildcardExpression(QString::fromUtf8(row.pattern)).match(name).hasMatch(), row.matches)
            << row.pattern << " ~ " << row.name;
    }
    // Through the file system: "*.*" and "name.*" find a file without a dot.
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    writeBytes(dir.filePath(QStringLiteral("ZUL")), {});
    EXPECT_TRUE(FileExists(dir.filePath(QStringLiteral("*.*"))));
    EXPECT_TRUE(FileExists(dir.filePath(QStringLiteral("ZUL.*"))));
    EXPECT_TRUE(FileExists(dir.filePath(QStringLiteral("ZU??"))));
    EXPECT_FALSE(FileExists(dir.filePath(QStringLiteral("ZUL?.x"))));
}

TEST(FileExists, relativePathsResolveAgainstTheCurrentFolder)
{
    QTemporaryDir dir;
    EXPECT_TRUE(writeBytes(dir.filePath(QStringLiteral("here.accdb")), {}));
    const QString before = QDir::currentPath();
    QDir::setCurrent(dir.path());
    EXPECT_TRUE(FileExists(QStringLiteral("here.accdb")));
    EXPECT_FALSE(FileExists(QStringLiteral("there.accdb")));
    QDir::setCurrent(before);
}

TEST(ShowError, resetsPointerBeepsAndShowsNumberTwoBlanksDescription)
{
    RecordingDesktop desktop;
    desktop.setPointer(DesktopServices::Pointer::Hourglass);
    desktop.clear();
    ShowError(desktop, RunTimeError(3024, QStringLiteral("Soubor nebyl nalezen.")));
    EXPECT_EQ(desktop.events, QStringList({QStringLiteral("pointer default"), QStringLiteral("beep"),
                                           QStringLiteral("box !|Vindo-ZUL|3024  Soubor nebyl nalezen.")}));
}

TEST(ShowError, negativeNumbersAndContext)
{
    EXPECT_EQ(errorMessageText(RunTimeError(-2147467259, QStringLiteral("Chyba"))),
              QStringLiteral("-2147467259  Chyba"));
    EXPECT_EQ(errorMessageText(RunTimeError(5, QStringLiteral("x")), QStringLiteral("kontext")),
              QStringLiteral("5  x\r\n\r\nkontext"));
}
