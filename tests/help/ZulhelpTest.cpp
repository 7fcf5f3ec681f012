#include "HelpFile.h"
#include "HelpFileWriter.h"
#include "TestSupport.h"

#include <QDir>
#include <QFile>
#include <QImage>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace HelpWriter;

namespace {

ProcessResult zulhelp(const QStringList& arguments, const QString& folder = {})
{
    return runProcess(QStringLiteral(ZULHELP_PATH), arguments, {.folder = folder, .timeout = std::chrono::seconds(30)});
}

class Zulhelp : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_dir.isValid());
        HelpContent content;
        content.title = QStringLiteral("Nápověda");
        content.lz77 = true; // no code page declared: ZUL.hlp is read as Czech
        content.phrases = Phrases::Old;
        content.phraseList = {QStringLiteral("databáz")};
        content.topics = {
            Topic{QStringLiteral("Obsah"), {Paragraph{{Span{QStringLiteral("Témata."), 0, 0, 0}}}}},
            Topic{QStringLiteral("Propojení databází"),
                  {Paragraph{{Span{QStringLiteral("Propojí "), 0, 0, 0}, Span{QStringLiteral("všechny"), 1, 0, 0},
                              Span{QStringLiteral(" tabulky."), 0, 0, 0}}},
                   Paragraph{{Span{QStringLiteral("Řádek\nDalší"), 2, 0, 0}}}}}};
        content.contextMap = {{1, 0}, {805, 1}};
        m_path = m_dir.filePath(QStringLiteral("ZUL.hlp"));
        QFile file(m_path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(build(content));
    }

    QTemporaryDir m_dir;
    QString m_path;
};

} // namespace

TEST_F(Zulhelp, printsTopicAndList)
{
    const ProcessResult topic = zulhelp({m_path, QStringLiteral("805")});
    EXPECT_EQ(topic.exitCode, 0);
    EXPECT_EQ(topic.out, QStringLiteral("Propojení databází\n\nPropojí všechny tabulky.\nŘádek\nDalší\n"));
    EXPECT_EQ(topic.err, QString());

    const ProcessResult list = zulhelp({QStringLiteral("--list"), m_path});
    EXPECT_EQ(list.exitCode, 0);
    EXPECT_EQ(list.out, QStringLiteral("1\tObsah\n805\tPropojení databází\n"));

    const ProcessResult help = zulhelp({QStringLiteral("--help")});
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_TRUE(help.out.startsWith(QStringLiteral("Použití:\n")));
}

TEST_F(Zulhelp, errorsGoToStandardErrorWithTheirNumber)
{
    const QString missing = m_dir.filePath(QStringLiteral("chybi.hlp"));
    const ProcessResult notFound = zulhelp({missing, QStringLiteral("805")});
    EXPECT_EQ(notFound.exitCode, 1);
    EXPECT_EQ(notFound.out, QString());
    EXPECT_EQ(notFound.err, QStringLiteral("53  Soubor nápovědy '%1' nebyl nalezen.\n").arg(missing));

    const ProcessResult unmapped = zulhelp({m_path, QStringLiteral("804")});
    EXPECT_EQ(unmapped.exitCode, 1);
    EXPECT_EQ(unmapped.err, QStringLiteral("5  Téma 804 v souboru nápovědy nebylo nalezeno.\n"));

    const ProcessResult notNumber = zulhelp({m_path, QStringLiteral("osm")});
    EXPECT_EQ(notNumber.exitCode, 1);
    EXPECT_EQ(notNumber.err, QStringLiteral("5  'osm' není kontextové číslo.\n"));

    const ProcessResult usage = zulhelp({m_path});
    EXPECT_EQ(usage.exitCode, 1);
    EXPECT_TRUE(usage.err.startsWith(QStringLiteral("Použití:\n")));
}

// The commands over a real file of the shared corpus.
TEST(ZulhelpCorpus, contentsTopicKeywordsAndHtml)
{
    const QString file = QStringLiteral(DIVADEDADI_CORPUS "/fr_xgui40.hlp");
    if (!QFile::exists(file))
        GTEST_SKIP() << "skipped: corpus not present";
    const ProcessResult contents = zulhelp({QStringLiteral("--contents"), file});
    EXPECT_EQ(contents.exitCode, 0);
    EXPECT_EQ(contents.out.count(QLatin1Char('\n')), 19);
    EXPECT_TRUE(contents.out.startsWith(QStringLiteral("1\tx-GUI DLL v0.2 Beta\n2\tHow to use the DLL\n")));
    const ProcessResult topic =
        zulhelp({QStringLiteral("--strict"), QStringLiteral("--topic"), file, QStringLiteral("18")});
    EXPECT_EQ(topic.exitCode, 0);
    EXPECT_TRUE(topic.out.startsWith(QStringLiteral("Version\n\n")));
    EXPECT_TRUE(topic.out.contains(QStringLiteral("//echo -a $dll(x-GUI.dll,Version,.)")));
    const ProcessResult keywords = zulhelp({QStringLiteral("--keywords"), file});
    EXPECT_TRUE(keywords.out.contains(QStringLiteral("\nCreate\t13\n")));
    const ProcessResult outside = zulhelp({QStringLiteral("--topic"), file, QStringLiteral("20")});
    EXPECT_EQ(outside.exitCode, 1);
    EXPECT_EQ(outside.err, QStringLiteral("5  Soubor nápovědy nemá téma s pořadím 20 (témat je 19).\n"));

    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const ProcessResult html = zulhelp({QStringLiteral("--html-dir"), file, dir.path()});
    EXPECT_EQ(html.exitCode, 0);
    QStringList written = QDir(dir.path()).entryList(QDir::Files);
    EXPECT_EQ(written.filter(QStringLiteral(".html")).size(), 19 + 1); // the topics and index.html
    EXPECT_TRUE(written.contains(QStringLiteral("bm0.png")));
    QFile first(dir.filePath(QStringLiteral("1.html")));
    ASSERT_TRUE(first.open(QIODevice::ReadOnly));
    const QString page = QString::fromUtf8(first.readAll());
    EXPECT_TRUE(
        page.contains(QStringLiteral("<a href=\"3.html\" style=\"color: #008000; text-decoration: underline\">")));
    EXPECT_TRUE(page.contains(QStringLiteral("<img src=\"bm0.png\" width=\"88\" height=\"31\"")));
    EXPECT_EQ(QImage(dir.filePath(QStringLiteral("bm0.png"))).size(), QSize(88, 31));
}

// index.html of the HTML export reaches every keyword's every topic, in the index's order, and
// every page it links was written; a keyword of several topics lists them under "Nalezená témata".
TEST(ZulhelpCorpus, htmlIndexLinksEveryTopicOfEveryKeyword)
{
    for (const char* name : {"de_calc31u.hlp", "en_winfile31.hlp", "ru_rxlib40h.hlp"}) {
        SCOPED_TRACE(name);
        const QString file = QStringLiteral(DIVADEDADI_CORPUS "/") + QLatin1String(name);
        if (!QFile::exists(file))
            GTEST_SKIP() << "skipped: corpus not present";
        QTemporaryDir dir;
        ASSERT_TRUE(dir.isValid());
        ASSERT_EQ(zulhelp({QStringLiteral("--html-dir"), file, dir.path()}).exitCode, 0);
        QFile indexFile(dir.filePath(QStringLiteral("index.html")));
        ASSERT_TRUE(indexFile.open(QIODevice::ReadOnly));
        const QString index = QString::fromUtf8(indexFile.readAll());
        const QStringList lines =
            index.mid(index.indexOf(QStringLiteral("<h2>Rejstřík</h2>"))).split(QLatin1Char('\n'));

        // One line a keyword: its text before the first tag or dash, its links in order.
        QStringList fromPage;
        const QRegularExpression href(QStringLiteral("href=\"(\\d+)\\.html\""));
        for (const QString& line : lines) {
            if (!line.startsWith(QLatin1String("<li>")))
                continue;
            QString text = line.mid(4);
            text.remove(QRegularExpression(QStringLiteral("^<a [^>]*>")));
            text = text.left(text.indexOf(QRegularExpression(QStringLiteral("</a>| &ndash; "))));
            QStringList orders;
            for (const QRegularExpressionMatch& match : href.globalMatch(line)) {
                orders.append(match.captured(1));
                EXPECT_TRUE(QFile::exists(dir.filePath(match.captured(1) + QStringLiteral(".html"))));
            }
            if (orders.size() > 1) {
                EXPECT_TRUE(line.contains(QStringLiteral("Nalezená témata"))) << line.toStdString();
            }
            text.replace(QStringLiteral("&amp;"), QStringLiteral("&"))
                .replace(QStringLiteral("&lt;"), QStringLiteral("<"));
            text.replace(QStringLiteral("&gt;"), QStringLiteral(">"))
                .replace(QStringLiteral("&quot;"), QStringLiteral("\""));
            fromPage.append(text + QLatin1Char('\t') + orders.join(QLatin1Char(',')));
        }
        QStringList fromIndex = zulhelp({QStringLiteral("--keywords"), file}).out.split(QLatin1Char('\n'));
        fromIndex.removeAll(QString());
        EXPECT_EQ(fromPage, fromIndex);
    }
}

// Pages of real topics keep the layout their records give: indents, the first tab reaching its
// stop, tables without borders at the file's widths, the region that does not scroll set apart.
TEST(ZulhelpCorpus, htmlPagesKeepTheParagraphLayout)
{
    struct Row {
        const char* file;
        int order;
        QStringList present;
        QStringList absent;
    };
    const QList<Row> rows = {
        {"en_winfile31.hlp",
         11,
         {QStringLiteral(
              "margin-left: 26px; margin-right: 12px; text-indent: -18px; margin-top: 0px; margin-bottom: 4px"),
          QStringLiteral(
              "<span style=\"display: inline-block; min-width: 18px\"><span style=\"font-family: 'Liberation Sans', "
              "'Helv', sans-serif; font-size: 10pt\"></span></span><span style=\"font-family: 'Liberation Sans', "
              "'Helv', sans-serif; font-size: 10pt\">Or select the directory")},
         {QStringLiteral("class=\"nonscrolling\""), QStringLiteral("<table")}},
        {"ru_rxlib40h.hlp",
         10,
         {QStringLiteral("<table border=\"0\""), QStringLiteral("<td valign=\"top\" width=\"197\"")},
         {QStringLiteral("<table border=\"1\"")}},
        {"ru_rxlib40h.hlp",
         7,
         {QStringLiteral("<div class=\"nonscrolling\" style=\"position: sticky; top: 0; background: #ffffe8")},
         {}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string(row.file) + " " + std::to_string(row.order));
        const QString file = QStringLiteral(DIVADEDADI_CORPUS "/") + QLatin1String(row.file);
        if (!QFile::exists(file))
            GTEST_SKIP() << "skipped: corpus not present";
        QTemporaryDir dir;
        ASSERT_TRUE(dir.isValid());
        const ProcessResult run = zulhelp({QStringLiteral("--html"), file, QString::number(row.order)}, dir.path());
        ASSERT_TRUE(run.finished);
        const QString page = run.out;
        for (const QString& text : row.present)
            EXPECT_TRUE(page.contains(text)) << text.toStdString();
        for (const QString& text : row.absent)
            EXPECT_FALSE(page.contains(text)) << text.toStdString();
    }
}
