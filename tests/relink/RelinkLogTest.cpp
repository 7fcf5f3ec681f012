// The relink log as a caller reads it: records and fields that any line
// splitter keeps apart, and a previous log that a failed write leaves whole.

#include "RelinkLog.h"
#include "LineEscape.h"
#include "RunTimeError.h"
#include "TestSupport.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <functional>
#include <sys/stat.h>
#include <unistd.h>

namespace {

} // namespace

// Names with every character a splitter may take for a line or field end,
// and the backslash of the escape itself, come back from the log unchanged:
// one record per table, its name the first field.
TEST(RelinkLog, controlAndSeparatorCharactersRoundTrip)
{
    const QStringList names{
        QStringLiteral("a\tb"),
        QStringLiteral("a b"),
        QStringLiteral("a\\tb"),
        QStringLiteral("řádek\nzlom"),
        QStringLiteral("cr\rlf"),
        QStringLiteral("v\vf\f"),
        QStringLiteral("next\u0085line"),
        QStringLiteral("ls\u2028ps\u2029"),
        QStringLiteral("nul") + QChar(0) + QStringLiteral("x\u001b\u007f"),
        QStringLiteral("\\u0085"),
        QStringLiteral("konec\\"),
        QStringLiteral("Účty"),
    };
    RelinkReport report;
    for (const QString& name : names)
        report.tables.append({name, RelinkReport::Outcome::Failed});
    report.failures.append({38, names.at(0), QStringLiteral("popis\ts\nzlomem"), 0});
    const QString text =
        relinkLogText(report, QDateTime::currentDateTime(), QStringLiteral("/p\nq"), QStringLiteral("/d"));

    // Every line separator Unicode knows splits here; none may fall inside a record.
    static const QRegularExpression anyLineEnd(QStringLiteral("\r\n|[\n\r\v\f\u0085\u2028\u2029]"));
    QStringList lines = text.split(anyLineEnd);
    ASSERT_EQ(lines.takeLast(), QString());
    ASSERT_EQ(lines.size(), names.size() + 1) << text.toStdString();
    EXPECT_EQ(unescapeLine(lines.at(0).split(QLatin1Char('\t')).value(1)), QStringLiteral("/p\nq"));
    for (qsizetype i = 0; i < names.size(); ++i) {
        const QStringList fields = lines.at(i + 1).split(QLatin1Char('\t'));
        ASSERT_GE(fields.size(), 2) << i;
        EXPECT_EQ(unescapeLine(fields.at(0)), names.at(i)) << lines.at(i + 1).toStdString();
        EXPECT_EQ(fields.at(1), QStringLiteral("chyba"));
    }
    const QStringList first = lines.at(1).split(QLatin1Char('\t'));
    ASSERT_EQ(first.size(), 3);
    EXPECT_EQ(unescapeLine(first.at(2)), QStringLiteral("popis\ts\nzlomem"));
}

// A log write that cannot be completed leaves the previous log as it was; one
// that must not be made (a pipe, another user's link in a shared folder) is
// refused with an error naming the file, and the file the link names stays.
TEST(RelinkLog, failedOrRefusedWriteLeavesThePreviousLogWhole)
{
    const QByteArray previous = QByteArrayLiteral("2026-01-01T00:00:00+01:00\t/p\t/d\tOK\nT\tpřepojena\n");
    struct Case {
        const char* name;
        bool needsRoot;
        // Prepares folder (the INI folder) and returns the file whose bytes must stay.
        std::function<QString(const QString& folder)> plant;
        const char* refusal; // words of the error, or nullptr when the write just fails
    };
    const Case cases[] = {
        {"full disk", true,
         [&](const QString& folder) {
             if (!mountTmpfs(folder, 64))
                 return QString();
             const QString log = folder + QStringLiteral("/DIVadedadi.log");
             EXPECT_TRUE(writeBytes(log, previous));
             fillUp(folder);
             return log;
         },
         nullptr},
        {"FIFO", false,
         [](const QString& folder) {
             const QString log = folder + QStringLiteral("/DIVadedadi.log");
             return ::mkfifo(QFile::encodeName(log).constData(), 0666) == 0 ? log : QString();
         },
         "není obyčejný soubor"},
        {"link of nobody in a sticky folder", true,
         [&](const QString& folder) {
             const QString secret = folder + QStringLiteral("/../secret");
             EXPECT_TRUE(writeBytes(secret, previous));
             const QByteArray link = QFile::encodeName(folder + QStringLiteral("/DIVadedadi.log"));
             if (::symlink("../secret", link.constData()) != 0 || ::lchown(link.constData(), 65534, 65534) != 0 ||
                 ::chmod(QFile::encodeName(folder).constData(), 01777) != 0)
                 return QString();
             return secret;
         },
         "symbolický odkaz"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.needsRoot && ::geteuid() != 0) {
            std::printf("[ skipped  ] %s: needs root\n", c.name);
            continue;
        }
        QTemporaryDir dir;
        const QString folder = dir.filePath(QStringLiteral("INI"));
        ASSERT_TRUE(QDir().mkdir(folder));
        const auto unmounted = qScopeGuard([&] { unmount(folder); });
        const QString kept = c.plant(folder);
        if (kept.isEmpty()) {
            std::printf("[ skipped  ] %s: not possible here\n", c.name);
            continue;
        }
        const QByteArray before = QFileInfo(kept).isFile() ? fileBytes(kept) : QByteArray();
        RelinkReport report;
        for (int i = 0; i < 2000; ++i)
            report.tables.append({QStringLiteral("Tabulka%1").arg(i), RelinkReport::Outcome::Created});
        bool written = false;
        const QString error = errorOf([&] {
            written =
                WriteRelinkLog(folder + QStringLiteral("/ZUL.ini"), report, QStringLiteral("/p"), QStringLiteral("/d"));
        });
        EXPECT_FALSE(written);
        if (c.refusal) {
            EXPECT_TRUE(error.contains(QString::fromUtf8(c.refusal)) &&
                        error.contains(QStringLiteral("DIVadedadi.log")))
                << error.toStdString();
        } else {
            EXPECT_EQ(error, QStringLiteral("no error"));
        }
        if (QFileInfo(kept).isFile()) {
            EXPECT_EQ(fileBytes(kept), before);
        }
        const QStringList left = QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::System);
        EXPECT_TRUE(left.filter(QStringLiteral(".DIVadedadi.log.")).isEmpty()) << left.join(' ').toStdString();
    }
}
