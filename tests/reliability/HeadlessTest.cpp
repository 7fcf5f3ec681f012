// The real binary started by a caller that has no window system: no DISPLAY,
// no WAYLAND_DISPLAY, no QT_QPA_PLATFORM.

#include "Support.h"

#include "DBEngine.h"

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

namespace {

const QString kNeedsDisplay = QStringLiteral("DIVadedadi potřebuje grafické prostředí (DISPLAY).\n");

class HeadlessStart : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_folder.isValid());
        m_program = m_folder.path(QStringLiteral("ZUL.accdr"));
        m_data = m_folder.path(QStringLiteral("ZUL_data.accdb"));
        createDataFile(m_data, 3);
        DbEngine().CreateDatabase(m_program, dao::dbLangCzech, dao::dbVersion120)->Close();
        m_folder.writeIni("; volajici program\r\n[MAIN]\r\nDIVadedadiExe=OK\r\n");
    }
    QString outcome() const
    {
        return iniValue(m_folder.iniPath(), QStringLiteral("MAIN"), QStringLiteral("DIVadedadiExe"));
    }

    ProgramFolder m_folder;
    QString m_program;
    QString m_data;
};

} // namespace

// Without any window system, and with a display that cannot be reached, which counts as none.
TEST_F(HeadlessStart, unattendedRelinkRunsWithoutWindowsAndEnds)
{
    const QStringList unreachable = kNoDisplay + QStringList{QStringLiteral("DISPLAY=:87"),
                                                             QStringLiteral("WAYLAND_DISPLAY=/nonexistent/wayland-87")};
    for (const QStringList& environment : {kNoDisplay, unreachable}) {
        SCOPED_TRACE(environment.join(QLatin1Char(' ')).toStdString());
        const ProcessResult result = runBinary(m_folder, relinkArguments(m_program, m_data), environment);
        ASSERT_TRUE(result.finished);
        EXPECT_EQ(result.exitCode, 0);
        EXPECT_EQ(result.err, kCleanReport);
        EXPECT_EQ(outcome(), QStringLiteral("OK"));
        EXPECT_EQ(linkState(m_program).size(), 3);
        EXPECT_EQ(linkState(m_program).value(QStringLiteral("T0002")),
                  dao::dbConnectPrefix + m_data + QStringLiteral("|ID,Jmeno"));
        // The settings exactly as a windowed run writes them; the comment stays.
        EXPECT_EQ(m_folder.iniBytes(), QByteArray("; volajici program\r\n[MAIN]\r\nDIVadedadiExe=OK\r\nZULdata=") +
                                           m_data.toUtf8() + "\r\n[DIVadedadi]\r\nLastDB=" + m_data.toUtf8() + "\r\n");
        EXPECT_TRUE(QFile::exists(m_folder.path(QStringLiteral("ZUL_db.accdb"))));
    }
}

TEST_F(HeadlessStart, failedRunPrintsEveryReportAndRecordsError)
{
    // The program file has a local table of a data table's name: two reports.
    DbEngine().OpenDatabase(m_program)->Execute(QStringLiteral("create table T0001 (X long)"));
    const ProcessResult result =
        runBinary(m_folder, relinkArguments(m_program, m_data), kNoDisplay, std::chrono::seconds(60));
    ASSERT_TRUE(result.finished);
    EXPECT_EQ(result.exitCode, 0);
    const QStringList lines = result.err.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    ASSERT_GE(lines.size(), 2);
    for (qsizetype i = 0; i + 1 < lines.size(); ++i)
        EXPECT_TRUE(lines[i].startsWith(QStringLiteral("DIVadedadi: "))) << lines[i].toStdString();
    EXPECT_EQ(lines.last(), QStringLiteral("Vindo-ZUL: V průběhu propojování databází se vyskytly chyby."));
    EXPECT_EQ(outcome(), QStringLiteral("ERROR"));
    EXPECT_EQ(linkState(m_program).value(QStringLiteral("T0002")),
              dao::dbConnectPrefix + m_data + QStringLiteral("|ID,Jmeno"));
}

TEST_F(HeadlessStart, startsThatNeedAWindowSaySoAndFail)
{
    struct Case {
        const char* name;
        QStringList arguments;
        QString outcome; // DIVadedadiExe afterwards
    };
    const QString missing = m_folder.path(QStringLiteral("chybi.accdb"));
    const QList<Case> cases{
        {"no command line", {}, QStringLiteral("OK")},
        {"NoDataPath", {QStringLiteral("NoDataPath"), kShowMessage}, QStringLiteral("OK")},
        // The automatic browse: a caller that asked for the outcome reads ERROR, not an old OK.
        {"data file missing", relinkArguments(m_program, missing), QStringLiteral("ERROR")},
        {"program file missing without zobrazZpravu",
         {QStringLiteral("ZULprog=") + missing, QStringLiteral("ZULdata=") + m_data},
         QStringLiteral("OK")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        m_folder.writeIni("[MAIN]\r\nDIVadedadiExe=OK\r\n");
        const ProcessResult result = runBinary(m_folder, c.arguments, kNoDisplay, std::chrono::seconds(30));
        ASSERT_TRUE(result.finished);
        EXPECT_EQ(result.exitCode, 1);
        EXPECT_EQ(result.err, kNeedsDisplay);
        EXPECT_EQ(outcome(), c.outcome);
        EXPECT_TRUE(linkState(m_program).isEmpty());
    }
}

TEST_F(HeadlessStart, writesTheSameSettingsAsAWindowedRun)
{
    const QStringList arguments{QStringLiteral("ZULprog=") + m_program, QStringLiteral("ZULdata=") + m_data};
    const auto runAndCollect = [&](const QStringList& environment) {
        m_folder.writeIni("[MAIN]\r\nDIVadedadiExe=ERROR\r\n");
        QFile::remove(m_folder.path(QStringLiteral("ZUL_db.accdb")));
        QFile::remove(m_program);
        DbEngine().CreateDatabase(m_program, dao::dbLangCzech, dao::dbVersion120)->Close();
        const ProcessResult result = runBinary(m_folder, arguments, environment, std::chrono::seconds(60));
        EXPECT_TRUE(result.finished);
        EXPECT_EQ(result.exitCode, 0);
        return std::make_pair(m_folder.iniBytes(), linkState(m_program));
    };
    const auto windowed = runAndCollect(kOffscreen);
    const auto headless = runAndCollect(kNoDisplay);
    EXPECT_EQ(headless.first, windowed.first);
    EXPECT_EQ(headless.second, windowed.second);
    // A clean run without zobrazZpravu leaves the outcome key as it was.
    EXPECT_EQ(outcome(), QStringLiteral("ERROR"));
    EXPECT_EQ(headless.second.size(), 3);
}
