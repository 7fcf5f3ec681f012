#include "Settings.h"

#include "Globals.h"
#include "TestSupport.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

class SettingsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_dir.isValid());
        resetGlobals();
        gIniPath = m_dir.filePath(QStringLiteral("INI/ZUL.ini"));
    }
    void TearDown() override { resetGlobals(); }

    QByteArray iniBytes() const { return fileBytes(gIniPath); }

    QTemporaryDir m_dir;
};

} // namespace

TEST_F(SettingsTest, withoutTheIniFolderWritesAreLostAndReadsEmpty)
{
    gDataPath = QStringLiteral("/d/a.accdb");
    SaveDataPath();
    WriteSetting(QStringLiteral("MAIN"), QStringLiteral("DIVadedadiExe"), QStringLiteral("OK"));
    EXPECT_EQ(ReadSetting(QStringLiteral("MAIN"), QStringLiteral("ZULdata")), QString());
    EXPECT_FALSE(QDir(m_dir.filePath(QStringLiteral("INI"))).exists());
}

TEST_F(SettingsTest, valuesOfTheProgramRoundTrip)
{
    ASSERT_TRUE(QDir(m_dir.path()).mkdir(QStringLiteral("INI")));
    gDataPath = QStringLiteral("/data/Účetnictví 2024/ZUL_data.accdb");
    SaveDataPath();
    WriteSetting(QStringLiteral("DIVadedadi"), QStringLiteral("LastDB"), QStringLiteral("/data/x.accdb"));
    WriteSetting(QStringLiteral("MAIN"), QStringLiteral("DIVadedadiExe"), QStringLiteral("ERROR"));
    EXPECT_EQ(iniBytes(), QByteArray("[MAIN]\r\nZULdata=/data/\xDA\xE8"
                                     "etnictv\xED 2024/ZUL_data.accdb\r\n"
                                     "DIVadedadiExe=ERROR\r\n[DIVadedadi]\r\nLastDB=/data/x.accdb\r\n"));
    EXPECT_EQ(ReadSetting(QStringLiteral("MAIN"), QStringLiteral("ZULdata")), gDataPath);
    EXPECT_EQ(ReadSetting(QStringLiteral("DIVadedadi"), QStringLiteral("LastDB")), QStringLiteral("/data/x.accdb"));

    // A stored path of 300 characters reads back as its first 254.
    gDataPath = QStringLiteral("/") + QString(299, QLatin1Char('p'));
    SaveDataPath();
    EXPECT_EQ(ReadSetting(QStringLiteral("MAIN"), QStringLiteral("ZULdata")), gDataPath.left(254));
}
