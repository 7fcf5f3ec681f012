#include "Startup.h"

#include "Globals.h"
#include "Paths.h"
#include "RuntimeFolder.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <vector>

#include <sys/stat.h>
#include <unistd.h>

namespace {

class StartupTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_dir.isValid());
        resetGlobals();
        setProgramDirOverride(m_dir.path());
        m_programDir = m_dir.path() + QLatin1Char('/');
    }
    void TearDown() override
    {
        setProgramDirOverride(QString());
        resetGlobals();
    }

    QString inDir(const QString& name) const { return m_programDir + name; }

    void touch(const QString& name)
    {
        QFile file(inDir(name));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly)) << name.toStdString();
    }

    void storeDataPath(const QString& path)
    {
        ASSERT_TRUE(QDir(m_programDir).mkpath(QStringLiteral("INI")));
        QFile file(inDir(QStringLiteral("INI/ZUL.ini")));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("[MAIN]\r\nZULdata=" + path.toUtf8() + "\r\n");
    }

    // Runs the start and counts the list-file creations.
    StartCourse start(const QString& argumentText)
    {
        m_plan = PrepareStart(argumentText, [this] {
            ++m_listCreations;
            // The creation works on the final list path.
            EXPECT_EQ(gListDbPath, inDir(QStringLiteral("ZUL_db.accdb")));
        });
        return ChooseStartCourse(m_plan);
    }

    QTemporaryDir m_dir;
    QString m_programDir;
    StartPlan m_plan;
    int m_listCreations = 0;
};

} // namespace

TEST_F(StartupTest, emptyArgumentTextStartsInteractivelyEvenWithBothFiles)
{
    touch(QStringLiteral("ZUL.accdr"));
    touch(QStringLiteral("ZUL_data.accdb"));
    EXPECT_EQ(start(QString()), StartCourse::Interactive);
    EXPECT_FALSE(m_plan.commandLineStart);
    EXPECT_EQ(gIniPath, inDir(QStringLiteral("INI/ZUL.ini")));
    EXPECT_EQ(gListDbPath, inDir(QStringLiteral("ZUL_db.accdb")));
    EXPECT_EQ(gProgramPath, inDir(QStringLiteral("ZUL.accdr")));
    EXPECT_EQ(gDataPath, inDir(QStringLiteral("ZUL_data.accdb")));
    EXPECT_FALSE(gShowMessage);
    EXPECT_FALSE(gAutoBrowse);
}

TEST_F(StartupTest, anyOtherTextIsACommandLineStart)
{
    touch(QStringLiteral("ZUL.accdr"));
    touch(QStringLiteral("ZUL_data.accdb"));
    EXPECT_EQ(start(QStringLiteral("whatever")), StartCourse::UnattendedRelink);
    EXPECT_TRUE(m_plan.commandLineStart);
    EXPECT_EQ(gProgramPath, inDir(QStringLiteral("ZUL.accdr")));
    EXPECT_EQ(gDataPath, inDir(QStringLiteral("ZUL_data.accdb")));
    EXPECT_FALSE(gShowMessage);

    // The switch must match letter for letter.
    resetGlobals();
    EXPECT_EQ(start(QStringLiteral("zobrazZpravu=true")), StartCourse::UnattendedRelink);
    EXPECT_FALSE(gShowMessage);
    resetGlobals();
    EXPECT_EQ(start(QStringLiteral("x zobrazZpravu=TRUE")), StartCourse::UnattendedRelink);
    EXPECT_TRUE(gShowMessage);
}

TEST_F(StartupTest, commandLinePathsReplaceTheDefaults)
{
    touch(QStringLiteral("ZUL.accdr"));
    touch(QStringLiteral("ZUL_data.accdb"));
    touch(QStringLiteral("my prog.accdr"));
    touch(QStringLiteral("jiná data.accdb"));
    const QString text = QStringLiteral("ZULprog=\"%1\" ZULdata=\"%2\" zobrazZpravu=TRUE")
                             .arg(inDir(QStringLiteral("my prog.accdr")), inDir(QStringLiteral("jiná data.accdb")));
    EXPECT_EQ(start(text), StartCourse::UnattendedRelink);
    EXPECT_EQ(gProgramPath, inDir(QStringLiteral("my prog.accdr")));
    EXPECT_EQ(gDataPath, inDir(QStringLiteral("jiná data.accdb")));
    EXPECT_TRUE(gShowMessage);
}

TEST_F(StartupTest, noDataPathWinsOverEveryOtherKey)
{
    touch(QStringLiteral("ZUL.accdr"));
    touch(QStringLiteral("ZUL_data.accdb"));
    touch(QStringLiteral("other.accdr"));
    storeDataPath(inDir(QStringLiteral("ZUL_data.accdb")));
    const QString text = QStringLiteral("ZULprog=\"%1\" ZULdata=\"%2\" zobrazZpravu=TRUE NoDataPath")
                             .arg(inDir(QStringLiteral("other.accdr")), inDir(QStringLiteral("ZUL_data.accdb")));
    EXPECT_EQ(start(text), StartCourse::Interactive);
    EXPECT_FALSE(m_plan.commandLineStart);
    EXPECT_EQ(gProgramPath, inDir(QStringLiteral("ZUL.accdr")));
    EXPECT_EQ(gDataPath, QString());
    EXPECT_FALSE(gShowMessage);
}

TEST_F(StartupTest, storedDataPathCountsOnlyWhenItsFileExists)
{
    touch(QStringLiteral("ZUL.accdr"));
    touch(QStringLiteral("stored.accdb"));
    storeDataPath(inDir(QStringLiteral("stored.accdb")));
    EXPECT_EQ(start(QString()), StartCourse::Interactive);
    EXPECT_EQ(gDataPath, inDir(QStringLiteral("stored.accdb")));

    // A stored path naming no file falls back to the default, whether or not
    // the default exists; the command line then opens the browse.
    resetGlobals();
    storeDataPath(inDir(QStringLiteral("gone.accdb")));
    EXPECT_EQ(start(QStringLiteral("zobrazZpravu=TRUE")), StartCourse::AutomaticBrowse);
    EXPECT_EQ(gDataPath, inDir(QStringLiteral("ZUL_data.accdb")));
    EXPECT_TRUE(gShowMessage);
}

TEST_F(StartupTest, commandLineDataPathIsKeptEvenWhenMissing)
{
    touch(QStringLiteral("ZUL.accdr"));
    touch(QStringLiteral("ZUL_data.accdb"));
    const QString missing = inDir(QStringLiteral("missing.accdb"));
    EXPECT_EQ(start(QStringLiteral("ZULdata=\"%1\"").arg(missing)), StartCourse::AutomaticBrowse);
    EXPECT_EQ(gDataPath, missing);

    // Empty quotes give an empty path, which no file answers to.
    resetGlobals();
    EXPECT_EQ(start(QStringLiteral("ZULdata=\"\"")), StartCourse::AutomaticBrowse);
    EXPECT_EQ(gDataPath, QString());
}

TEST_F(StartupTest, missingOrEmptyProgramPathGivesAPlainWindow)
{
    touch(QStringLiteral("ZUL_data.accdb"));
    EXPECT_EQ(start(QStringLiteral("zobrazZpravu=TRUE")), StartCourse::PlainWindow);
    EXPECT_EQ(gProgramPath, inDir(QStringLiteral("ZUL.accdr")));

    touch(QStringLiteral("ZUL.accdr"));
    resetGlobals();
    // Without a closing quote the value is empty.
    EXPECT_EQ(start(QStringLiteral("ZULprog=\"%1").arg(inDir(QStringLiteral("ZUL.accdr")))), StartCourse::PlainWindow);
    EXPECT_EQ(gProgramPath, QString());
    EXPECT_EQ(gDataPath, inDir(QStringLiteral("ZUL_data.accdb")));
}

TEST_F(StartupTest, listFileIsCreatedOnlyWhenMissing)
{
    start(QString());
    EXPECT_EQ(m_listCreations, 1);
    touch(QStringLiteral("ZUL_db.accdb"));
    start(QStringLiteral("NoDataPath"));
    start(QStringLiteral("x"));
    EXPECT_EQ(m_listCreations, 1);
}

// Qt sees only the program name and a chosen platform; every other argument,
// Qt's own options included, stays the caller's.
TEST(StartArguments, argumentsReachTheArgumentTextBeforeQtCanTakeThem)
{
    struct Row {
        QByteArrayList argv;
        QStringList program;
        QByteArrayList forQt;
    };
    const QList<Row> rows{
        {{"d", "-reverse", "ZULprog=/a b", "-style", "fusion"},
         {"-reverse", "ZULprog=/a b", "-style", "fusion"},
         {"d"}},
        {{"d", "-platform", "offscreen", "NoDataPath"}, {"NoDataPath"}, {"d", "-platform", "offscreen"}},
        {{"d", "ZULdata=/x", "--platform", "xcb"}, {"ZULdata=/x"}, {"d", "--platform", "xcb"}},
        {{"d", "-session", "s1", "-platform"}, {"-session", "s1", "-platform"}, {"d"}},
        {{"d", "Žluťoučký"}, {"Žluťoučký"}, {"d"}},
    };
    for (const Row& row : rows) {
        QByteArrayList copy = row.argv;
        std::vector<char*> argv;
        for (QByteArray& argument : copy)
            argv.push_back(argument.data());
        const ProcessArguments arguments = SplitProcessArguments(int(argv.size()), argv.data());
        EXPECT_EQ(arguments.program, row.program) << row.argv.join(' ').toStdString();
        EXPECT_EQ(arguments.forQt, row.forQt) << row.argv.join(' ').toStdString();
    }
}

// The private runtime folder is made, or an own one too open is closed, where
// nothing else stands; a link there is left alone and the variable stays unset.
TEST(StartRuntimeFolder, providedOnlyWhereAFolderOfTheUsersOwnCanBe)
{
    const struct {
        const char* name;
        const char* before; // what stands at base/runtime-<uid>
        bool provided;
    } rows[] = {{"nothing", "", true}, {"own folder, too open", "folder", true}, {"a link to a folder", "link", false}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        QTemporaryDir dir;
        ASSERT_TRUE(dir.isValid());
        const QByteArray saved = qgetenv("XDG_RUNTIME_DIR");
        const QByteArray folder = QFile::encodeName(dir.filePath(QStringLiteral("runtime-%1").arg(getuid())));
        if (qstrcmp(row.before, "folder") == 0) {
            ASSERT_EQ(mkdir(folder.constData(), 0755), 0);
        }
        if (qstrcmp(row.before, "link") == 0) {
            ASSERT_EQ(symlink(QFile::encodeName(dir.path()).constData(), folder.constData()), 0);
        }
        qunsetenv("XDG_RUNTIME_DIR");
        providePrivateRuntimeFolder(dir.path());
        const QByteArray result = qgetenv("XDG_RUNTIME_DIR");
        saved.isNull() ? qunsetenv("XDG_RUNTIME_DIR") : qputenv("XDG_RUNTIME_DIR", saved);
        EXPECT_EQ(result, row.provided ? folder : QByteArray()) << result.toStdString();
        struct stat info {};
        ASSERT_EQ(lstat(folder.constData(), &info), 0);
        EXPECT_EQ(info.st_mode & 07777, row.provided ? 0700u : 0777u);
    }
}
