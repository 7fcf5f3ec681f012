// The reader over real help files of the shared corpus. The expected values
// were taken from the files' decompressed text by other means than this reader.
#include "HelpFile.h"
#include "HelpHtml.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>

#include <gtest/gtest.h>

#include <cstdio>

namespace {

struct Expected {
    int order;
    const char* title;
    const char* sentence; // UTF-8
};

struct CorpusFile {
    const char* name;
    const char* codePage;
    int topics;
    int mapped;
    QList<Expected> expected;
};

const QList<CorpusFile> Files = {
    {"de_calc31u.hlp",
     "windows-1252",
     33,
     4,
     {{1, "Inhaltsverzeichniss", "Der Taschenrechner ist die Windowsimplementation eines leistungsfähige"},
      {17, "Statistik & Regression", "Es wird die Regressionsgleichung bestimmt, die am besten zu den vorlie"},
      {33, "Korrleationskoeffizient der  Regressionsgleichung", "Korrleationskoeffizient der  Regressionsgleichung"}}},
    {"en_alarm40.hlp",
     "windows-1252",
     11,
     10,
     {{1, "The program wont run", "This Program was written in Visual Basic 6 and in order for it to run "},
      {6, "Where has the clock gone ?", "When you click on the button with a line through it, this minimise's t"},
      {11, "HelpScribble", "HelpScribble is a help authoring tool written by Jan Goyvaerts and ava"}}},
    {"en_heartbeat31u.hlp",
     "windows-1252",
     2,
     1,
     {{1, "Content", "Display time in Big Digits"}, {2, "BigDigit", "to make the Time display with Font Size 32"}}},
    {"en_sierrasetup31.hlp",
     "windows-1252",
     105,
     102,
     {{1, "Help Contents", "Standard Troubleshooting Techniques"},
      {53, "CD ROM", "Insert the CD Into Your CD ROM Drive"},
      {105, "Technical Support", "Support outside the U.S. and Canada via fax, mail and on-line services"}}},
    {"en_tpzip31u.hlp",
     "windows-1252",
     12,
     0,
     {{1, "Contents", "The TurboPower Zip demonstration program (TPZip) is a comprehensive co"},
      {7, "Introduction", "TPZip uses Abbrevia’s progress events to update the two gauges at the "},
      {12, "View Menu", "If \"+/-\" is checked, a + or - is displayed to the left of each item in"}}},
    {"en_winfile31.hlp",
     "windows-1252",
     169,
     78,
     {{1, "Contents for File Manager Help", "Note:  The Help messages in this file do not reflect all the features "},
      {85, "Partial Details", "Displays specific file and directory information in the active directo"},
      {169, "IDH_HELPPROCS_5033", "The message for this context-sensitive topic is not yet written."}}},
    {"fr_xgui40.hlp",
     "windows-1252",
     19,
     18,
     {{1, "x-GUI DLL v0.2 Beta", "Informations and help"},
      {10, "Events", " parameter is the number of incrementations. Its generally between 1 ("},
      {18, "Version", "//echo -a $dll(x-GUI.dll,Version,.) "}}},
    {"ru_rxlib40h.hlp",
     "windows-1251",
     2123,
     0,
     {{1, "RX LibraryComponentsList", "The following is a list of all components in the RX Library:"},
      {1062, "TDBDateEdit component", "Компонента TDBDateEdit может быть применена к тем полям наборов данных"},
      {2000, "ActivateWindow example", " ActivateWindow(Wnd);"}}},
};

const QString CorpusDir = QStringLiteral(DIVADEDADI_CORPUS);

} // namespace

// Per file: the topic count, titles and sentences, every topic in strict
// mode, titles equal to the titles table, every mapped context number, the
// keyword index and every picture a topic shows.
TEST(HelpCorpus, everyTopicOfRealFilesReadsWhole)
{
    if (!QFileInfo::exists(CorpusDir))
        GTEST_SKIP() << "skipped: corpus not present";
    for (const CorpusFile& row : Files) {
        SCOPED_TRACE(row.name);
        const QString path = QDir(CorpusDir).filePath(QString::fromLatin1(row.name));
        QElapsedTimer timer;
        timer.start();
        const HelpFile help(path);
        const qint64 openMs = timer.elapsed();
        EXPECT_EQ(help.codePage(), QLatin1String(row.codePage));
        ASSERT_EQ(help.topicCount(), row.topics);
        const QList<HelpContentsEntry> contents = help.contents();

        for (const Expected& expected : row.expected) {
            const HelpTopic topic = help.topicByOrder(expected.order, HelpDecoding::Strict);
            EXPECT_EQ(topic.title, QString::fromUtf8(expected.title));
            EXPECT_EQ(contents[expected.order - 1].title, QString::fromUtf8(expected.title));
            EXPECT_TRUE(topic.plainText().contains(QString::fromUtf8(expected.sentence))) << expected.order;
        }

        // The titles table lists every topic and the header that closes the file.
        const auto titles = help.titleTable();
        ASSERT_EQ(titles.size(), row.topics + 1);
        EXPECT_TRUE(titles.last().second.isEmpty());
        int pictures = 0, drawn = 0;
        qint64 slowestMs = 0;
        for (int order = 1; order <= row.topics; ++order) {
            EXPECT_EQ(contents[order - 1].title, titles[order - 1].second) << order;
            EXPECT_EQ(contents[order - 1].offset, titles[order - 1].first) << order;
            timer.restart();
            HelpTopic topic;
            EXPECT_NO_THROW(topic = help.topicByOrder(order, HelpDecoding::Strict)) << order;
            EXPECT_EQ(topic.plainText(), help.topicByOrder(order).plainText()) << order;
            slowestMs = std::max(slowestMs, timer.elapsed());
            for (const HelpParagraph& paragraph : topic.paragraphs) {
                for (const HelpRun& run : paragraph.runs) {
                    if (run.picture.isEmpty())
                        continue;
                    ++pictures;
                    drawn += help.picture(run.picture, topic).isNull() ? 0 : 1;
                }
            }
        }
        EXPECT_EQ(drawn, pictures);

        const QList<HelpContextEntry> map = help.contextMap();
        EXPECT_EQ(map.size(), row.mapped);
        for (const HelpContextEntry& entry : map) {
            EXPECT_TRUE(help.orderAtOffset(entry.topicOffset).has_value()) << entry.context;
            EXPECT_NO_THROW(help.topicByContext(entry.context, HelpDecoding::Strict)) << entry.context;
        }
        const QList<HelpKeyword> keywords = help.keywords();
        for (const HelpKeyword& keyword : keywords) {
            EXPECT_FALSE(keyword.orders.isEmpty()) << keyword.keyword.toStdString();
            for (const int order : keyword.orders)
                EXPECT_TRUE(order >= 1 && order <= row.topics);
        }
        std::printf(
            "%-22s %-12s topics %4d  mapped %3d  keywords %4d  pictures %3d  open %3lld ms  slowest topic %3lld ms\n",
            row.name, row.codePage, row.topics, int(map.size()), int(keywords.size()), pictures, openMs, slowestMs);
    }
}
