// A start in a program folder the user cannot write: the real binary, run as
// the ordinary user nobody, without a display so that its boxes arrive on
// standard error one line each.

#include "TestSupport.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

namespace {

const QString kNeedsDisplay = QStringLiteral("DIVadedadi potřebuje grafické prostředí (DISPLAY).");

ProcessResult startAsNobody(const QString& exe, const QStringList& arguments)
{
    return runProcess(exe, arguments,
                      {.folder = QStringLiteral("/"),
                       .environment = kNoDisplay + QStringList{QStringLiteral("XDG_RUNTIME_DIR")},
                       .asNobody = true});
}

bool chown(const QString& path, const char* user)
{
    const QByteArray name = QFile::encodeName(path);
    if (qstrcmp(user, "root") == 0)
        return ::chown(name.constData(), 0, 0) == 0;
    return ::chown(name.constData(), 65534, 65534) == 0;
}

} // namespace

// Without the list file the start would make it; in a folder the user cannot
// write it says so once, and reads no list that is not there. Where the user
// may write, the list file is made without a word.
TEST(StartFolder, unwritableProgramFolderIsReportedInOneBox)
{
    if (!canRunAsNobody())
        GTEST_SKIP() << "skipped: running as nobody needs root and setpriv";
    struct Row {
        const char* name;
        const char* owner; // of the program folder, mode 0755
        bool reported;
    };
    const QList<Row> rows{
        {"root's folder, nobody may only read it", "root", true},
        {"nobody's own folder", "nobody", false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        QTemporaryDir dir;
        ASSERT_TRUE(dir.isValid());
        ASSERT_TRUE(QFile::setPermissions(dir.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner |
                                                          QFile::ReadOther | QFile::ExeOther));
        const QString folder = dir.filePath(QStringLiteral("ZUL"));
        ASSERT_TRUE(QDir().mkdir(folder));
        const QString exe = folder + QStringLiteral("/divadedadi");
        ASSERT_TRUE(QFile::copy(QStringLiteral(DIVADEDADI_EXE), exe));
        ASSERT_TRUE(chown(folder, row.owner));
        ASSERT_EQ(::chmod(QFile::encodeName(folder).constData(), 0755), 0);
        // A command line naming a program file that is not there: the start
        // needs a window and ends at once, after whatever it had to report.
        const ProcessResult started =
            startAsNobody(exe, {QStringLiteral("ZULprog=") + folder + QStringLiteral("/ZUL.accdr"),
                                QStringLiteral("ZULdata=") + folder + QStringLiteral("/ZUL_data.accdb")});

        QStringList expected;
        if (row.reported)
            expected << QStringLiteral("Vindo-ZUL: 75  Do složky '%1/' nelze zapisovat, a proto v ní nelze založit "
                                       "seznam použitých databází ZUL_db.accdb. Spusťte program ze složky, do které "
                                       "můžete zapisovat, nebo požádejte správce o právo zápisu.")
                            .arg(folder);
        expected << kNeedsDisplay;
        EXPECT_EQ(started.err.split(QLatin1Char('\n'), Qt::SkipEmptyParts).join(QLatin1Char('\n')).toStdString(),
                  expected.join(QLatin1Char('\n')).toStdString());
        EXPECT_EQ(started.exitCode, 1);
        EXPECT_EQ(QFile::exists(folder + QStringLiteral("/ZUL_db.accdb")), !row.reported);
    }
}
