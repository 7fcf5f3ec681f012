#include "HelpFile.h"
#include "HelpFileWriter.h"
#include "TestSupport.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <random>

using namespace HelpWriter;

namespace {

Span text(const QString& t, int font = 0)
{
    return Span{t, font, 0, 0};
}

// A small help file like ZUL.hlp: a contents topic, topic 805 with Czech
// text, bold and italic runs, a line break and a jump, and a third topic.
HelpContent zulContent()
{
    HelpContent content;
    content.title = QStringLiteral("Nápověda DIVadedadi");
    content.charset = 238; // code page 1250
    Topic contents{QStringLiteral("Obsah"), {Paragraph{{text(QStringLiteral("Seznam témat."))}}}};
    Topic relink{
        QStringLiteral("Propojení databází"),
        {Paragraph{{text(QStringLiteral("Program ")), text(QStringLiteral("DIVadedadi"), 1),
                    text(QStringLiteral(" propojí tabulky ")), text(QStringLiteral("datového souboru"), 2),
                    text(QStringLiteral(" s programem."))}},
         Paragraph{{text(QStringLiteral("Příliš žluťoučký kůň úpěl ďábelské ódy.\nDruhý řádek\tpo tabulátoru"), 3)}},
         Paragraph{{text(QStringLiteral("Viz též ")),
                    Span{QStringLiteral("Seznam souborů"), 0, 0xE3, HelpFile::contextHash("SEZNAM_SOUBORU")},
                    text(QStringLiteral("."))}}}};
    Topic files{QStringLiteral("Seznam souborů"), {Paragraph{{text(QStringLiteral("Soubor ZUL_db.accdb."))}}}};
    content.topics = {contents, relink, files};
    content.contextMap = {{1, 0}, {805, 1}, {806, 2}};
    content.contextIds = {{"OBSAH", 0}, {"PROPOJENI", 1}, {"SEZNAM_SOUBORU", 2}};
    content.phraseList = {QStringLiteral("databází"), QStringLiteral("soubor"), QStringLiteral("Program"),
                          QStringLiteral("tabulky"), QStringLiteral("ódy")};
    return content;
}

void expectZulTopic(const HelpTopic& topic)
{
    EXPECT_EQ(topic.title, QStringLiteral("Propojení databází"));
    ASSERT_EQ(topic.paragraphs.size(), 3);
    const QList<HelpRun> first = topic.paragraphs[0].runs;
    ASSERT_EQ(first.size(), 5);
    EXPECT_EQ(first[0],
              (HelpRun{QStringLiteral("Program "), false, false, {}, false, 10, {}, {}, QStringLiteral("Arial")}));
    EXPECT_EQ(first[1],
              (HelpRun{QStringLiteral("DIVadedadi"), true, false, {}, false, 10, {}, {}, QStringLiteral("Arial")}));
    EXPECT_EQ(
        first[2],
        (HelpRun{QStringLiteral(" propojí tabulky "), false, false, {}, false, 10, {}, {}, QStringLiteral("Arial")}));
    EXPECT_EQ(
        first[3],
        (HelpRun{QStringLiteral("datového souboru"), false, true, {}, false, 10, {}, {}, QStringLiteral("Arial")}));
    EXPECT_EQ(first[4],
              (HelpRun{QStringLiteral(" s programem."), false, false, {}, false, 10, {}, {}, QStringLiteral("Arial")}));
    ASSERT_EQ(topic.paragraphs[1].runs.size(), 1);
    EXPECT_EQ(topic.paragraphs[1].runs[0],
              (HelpRun{QStringLiteral("Příliš žluťoučký kůň úpěl ďábelské ódy.\nDruhý řádek\tpo tabulátoru"),
                       true,
                       true,
                       {},
                       false,
                       10,
                       {},
                       {},
                       QStringLiteral("Arial")}));
    const QList<HelpRun> third = topic.paragraphs[2].runs;
    ASSERT_EQ(third.size(), 3);
    EXPECT_EQ(third[1].text, QStringLiteral("Seznam souborů"));
    EXPECT_EQ(third[1].jump.kind, HelpJump::Kind::ContextHash);
    EXPECT_FALSE(third[1].jump.popup);
    EXPECT_EQ(topic.plainText(), QStringLiteral("Program DIVadedadi propojí tabulky datového souboru s programem.\n"
                                                "Příliš žluťoučký kůň úpěl ďábelské ódy.\nDruhý řádek\tpo tabulátoru\n"
                                                "Viz též Seznam souborů."));
}

struct Variant {
    const char* name;
    bool lz77;
    Phrases phrases;
};

class HelpFileVariants : public testing::TestWithParam<Variant> {};

QList<Paragraph> longText(int count)
{
    QList<Paragraph> paragraphs;
    for (int i = 0; i < count; ++i) {
        paragraphs.append(Paragraph{{text(QStringLiteral("Odstavec %1: ").arg(i), 1),
                                     text(QStringLiteral("propojené tabulky datového souboru číslo %1 a "
                                                         "ještě něco textu, aby téma bylo dlouhé.")
                                              .arg(i * 7919 % 1000))}});
    }
    return paragraphs;
}

} // namespace

TEST_P(HelpFileVariants, readsTopic805WithFormattingAndJump)
{
    HelpContent content = zulContent();
    content.lz77 = GetParam().lz77;
    content.phrases = GetParam().phrases;
    const HelpFile help(build(content), QStringLiteral("/x/ZUL.hlp"));

    EXPECT_EQ(help.title(), QStringLiteral("Nápověda DIVadedadi"));
    const QList<HelpContextEntry> map = help.contextMap();
    ASSERT_EQ(map.size(), 3);
    EXPECT_EQ(map[0].context, 1);
    EXPECT_EQ(map[0].title, QStringLiteral("Obsah"));
    EXPECT_EQ(map[1].context, 805);
    EXPECT_EQ(map[1].title, QStringLiteral("Propojení databází"));
    EXPECT_EQ(map[2].title, QStringLiteral("Seznam souborů"));

    const HelpTopic topic = help.topicByContext(805);
    expectZulTopic(topic);

    // The jump leads to the topic mapped to 806.
    const auto target = help.jumpTarget(topic.paragraphs[2].runs[1].jump);
    ASSERT_TRUE(target.has_value());
    EXPECT_EQ(*target, map[2].topicOffset);
    EXPECT_EQ(help.topicAtOffset(*target)->title, QStringLiteral("Seznam souborů"));
    EXPECT_EQ(help.topicByContext(806).plainText(), QStringLiteral("Soubor ZUL_db.accdb."));
}

TEST_P(HelpFileVariants, topicLongerThanOneBlockAndTheTopicAfterIt)
{
    HelpContent content;
    content.title = QStringLiteral("Dlouhá");
    content.charset = 238;
    content.lz77 = GetParam().lz77;
    content.phrases = GetParam().phrases;
    content.phraseList = {QStringLiteral("tabulky"), QStringLiteral("datového"), QStringLiteral("souboru")};
    content.topics = {Topic{QStringLiteral("První"), {Paragraph{{text(QStringLiteral("Krátké."))}}}},
                      Topic{QStringLiteral("Dlouhé téma"), longText(400)},
                      Topic{QStringLiteral("Poslední"), {Paragraph{{text(QStringLiteral("Konec."), 2)}}}}};
    content.contextMap = {{805, 1}, {900, 2}};
    const QByteArray data = build(content);
    ASSERT_GT(data.size(), 3 * 4096); // several topic blocks even when compressed
    const HelpFile help(data, QStringLiteral("dlouha.hlp"));

    const HelpTopic topic = help.topicByContext(805);
    EXPECT_EQ(topic.title, QStringLiteral("Dlouhé téma"));
    ASSERT_EQ(topic.paragraphs.size(), 400);
    for (int i : {0, 1, 57, 223, 399}) {
        EXPECT_EQ(topic.paragraphs[i].plainText(),
                  QStringLiteral("Odstavec %1: propojené tabulky datového souboru číslo %2 a ještě něco textu, aby "
                                 "téma bylo dlouhé.")
                      .arg(i)
                      .arg(i * 7919 % 1000));
        EXPECT_TRUE(topic.paragraphs[i].runs[0].bold);
    }
    const HelpTopic last = help.topicByContext(900);
    EXPECT_EQ(last.title, QStringLiteral("Poslední"));
    ASSERT_EQ(last.paragraphs.size(), 1);
    EXPECT_EQ(last.paragraphs[0].runs[0],
              (HelpRun{QStringLiteral("Konec."), false, true, {}, false, 10, {}, {}, QStringLiteral("Arial")}));
    EXPECT_EQ(help.topicTitles(),
              (QStringList{QStringLiteral("První"), QStringLiteral("Dlouhé téma"), QStringLiteral("Poslední")}));
}

INSTANTIATE_TEST_SUITE_P(Storage, HelpFileVariants,
                         testing::Values(Variant{"stored", false, Phrases::None}, Variant{"lz77", true, Phrases::None},
                                         Variant{"phrases", false, Phrases::Old},
                                         Variant{"lz77AndPhrases", true, Phrases::Old},
                                         Variant{"hall", false, Phrases::Hall},
                                         Variant{"lz77AndHall", true, Phrases::Hall}),
                         [](const testing::TestParamInfo<Variant>& info) { return std::string(info.param.name); });

TEST(HelpFile, unmappedContextNumberIsReported)
{
    const HelpFile help(build(zulContent()), QStringLiteral("/x/ZUL.hlp"));
    EXPECT_EQ(errorOf([&] { help.topicByContext(804); }),
              errorText(HelpError::TopicNotFound, QStringLiteral("Téma 804 v souboru nápovědy nebylo nalezeno.")));

    HelpContent noMap = zulContent();
    noMap.contextMap.clear();
    const HelpFile withoutMap(build(noMap), QStringLiteral("/x/ZUL.hlp"));
    EXPECT_TRUE(withoutMap.contextMap().isEmpty());
    EXPECT_EQ(errorOf([&] { withoutMap.topicByContext(805); }),
              errorText(HelpError::TopicNotFound, QStringLiteral("Téma 805 v souboru nápovědy nebylo nalezeno.")));
}

TEST(HelpFile, missingFileOtherFormatAndFolder)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString missing = dir.filePath(QStringLiteral("ZUL.hlp"));
    EXPECT_EQ(errorOf([&] { HelpFile{missing}; }),
              errorText(HelpError::FileNotFound, QStringLiteral("Soubor nápovědy '%1' nebyl nalezen.").arg(missing)));
    EXPECT_EQ(
        errorOf([&] { HelpFile{dir.path()}; }),
        errorText(HelpError::FileNotFound, QStringLiteral("Soubor nápovědy '%1' nebyl nalezen.").arg(dir.path())));

    const QString other = dir.filePath(QStringLiteral("jiny.hlp"));
    for (const QByteArray& content : {QByteArray(), QByteArray("[MAIN]\r\nZULdata=x\r\n"), QByteArray("?_\x03")}) {
        QFile file(other);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(content);
        file.close();
        EXPECT_EQ(errorOf([&] { HelpFile{other}; }),
                  errorText(HelpError::InvalidFormat, QStringLiteral("Soubor '%1' není soubor nápovědy.").arg(other)));
    }

    // A real file on disk reads like the bytes in memory, and nothing is written.
    const QString good = dir.filePath(QStringLiteral("ZUL.hlp"));
    QFile file(good);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(build(zulContent()));
    file.close();
    expectZulTopic(HelpFile(good).topicByContext(805));
    QStringList left = QDir(dir.path()).entryList(QDir::Files);
    left.sort();
    EXPECT_EQ(left, (QStringList{QStringLiteral("ZUL.hlp"), QStringLiteral("jiny.hlp")}));
}

TEST(HelpFile, versionThreeZeroIsNotSupported)
{
    HelpContent content = zulContent();
    content.minor = 15;
    EXPECT_EQ(errorOf([&] { HelpFile(build(content), QStringLiteral("/x/stary.hlp")); }),
              errorText(HelpError::InvalidFormat,
                        QStringLiteral("Soubor nápovědy '/x/stary.hlp' má nepodporovanou verzi formátu.")));
}

TEST(HelpFile, codePageFromCharsetOrLocale)
{
    HelpContent content;
    content.title = QStringLiteral("Справка");
    content.topics = {Topic{QStringLiteral("Связь"), {Paragraph{{text(QStringLiteral("Таблицы базы данных."))}}}}};
    content.contextMap = {{805, 0}};
    content.codePage = QStringLiteral("windows-1251");

    content.charset = 204;
    const HelpFile byCharset(build(content), QStringLiteral("ru.hlp"));
    EXPECT_EQ(byCharset.codePage(), QStringLiteral("windows-1251"));
    EXPECT_EQ(byCharset.title(), QStringLiteral("Справка"));
    EXPECT_EQ(byCharset.topicByContext(805).plainText(), QStringLiteral("Таблицы базы данных."));

    content.charset.reset();
    content.lcid = 0x0419;
    const HelpFile byLocale(build(content), QStringLiteral("ru.hlp"));
    EXPECT_EQ(byLocale.codePage(), QStringLiteral("windows-1251"));
    EXPECT_EQ(byLocale.topicByContext(805).title, QStringLiteral("Связь"));

    // Real charset records hold one byte, often repeated (raw B2 B2 for Arabic script), and a Persian locale.
    content.codePage = QStringLiteral("windows-1256");
    content.title = QStringLiteral("راهنما");
    content.lcid.reset();
    content.charset = 0xB2B2;
    EXPECT_EQ(HelpFile(build(content), QStringLiteral("fa.hlp")).codePage(), QStringLiteral("windows-1256"));
    content.charset = 0;
    content.lcid = 0x0429;
    const HelpFile persian(build(content), QStringLiteral("fa.hlp"));
    EXPECT_EQ(persian.codePage(), QStringLiteral("windows-1256"));
    EXPECT_EQ(persian.title(), QStringLiteral("راهنما"));

    // "ANSI" says nothing about the author's code page: the caller's Czech default stays.
    HelpContent czech = zulContent();
    czech.charset = 0;
    const HelpFile ansi(build(czech), QStringLiteral("cz.hlp"), HelpFile::CzechCodePage);
    EXPECT_EQ(ansi.codePage(), QStringLiteral("windows-1250"));
    EXPECT_EQ(ansi.topicByContext(805).title, QStringLiteral("Propojení databází"));
}

TEST(HelpFile, tableCellsAfterParagraphs)
{
    HelpContent content = zulContent();
    content.lz77 = true;
    Topic& topic = content.topics[2];
    topic.tableCells = {Paragraph{{text(QStringLiteral("ZUL.accdr"), 1)}},
                        Paragraph{{text(QStringLiteral("programový soubor"))}, true},
                        Paragraph{{text(QStringLiteral("ZUL_data.accdb"), 1), text(QStringLiteral("\tdata"), 2)}}};
    const HelpFile help(build(content), QStringLiteral("/x/ZUL.hlp"));
    const HelpTopic read = help.topicByContext(806);
    EXPECT_EQ(read.plainText(),
              QStringLiteral("Soubor ZUL_db.accdb.\nZUL.accdr\nprogramový soubor\nZUL_data.accdb\tdata"));
    ASSERT_EQ(read.paragraphs.size(), 4);
    EXPECT_EQ(read.paragraphs[1].runs[0],
              (HelpRun{QStringLiteral("ZUL.accdr"), true, false, {}, false, 10, {}, {}, QStringLiteral("Arial")}));
    EXPECT_EQ(read.paragraphs[2].alignment, HelpParagraph::Alignment::Center);
    EXPECT_EQ(read.paragraphs[3].runs[1],
              (HelpRun{QStringLiteral("\tdata"), false, true, {}, false, 10, {}, {}, QStringLiteral("Arial")}));
    // The topic after a table still starts where the map says.
    EXPECT_EQ(help.topicByContext(805).title, QStringLiteral("Propojení databází"));
}

TEST(HelpFile, picturesMacrosAndOtherJumpsAreSkippedOrKept)
{
    // As real files hold it: type 0x22, a signed size of 4, one hot spot, picture |bm1.
    const QByteArray picture("\x86\x22\x08\x80\x02\x00\x00\x01\x00", 9);
    const QByteArray macro = macroCommand("Contents()");
    QByteArray external("\xEF\x0E\x00\x04\x11\x00\x00\x00", 8); // type 4: another file
    external += QByteArray("jiny.hlp\0", 9);
    QByteArray window("\xEE\x06\x00\x01\x0A\x00\x00\x00\x02", 9); // type 1: a secondary window
    QByteArray offset("\xE1\x00\x80\x00\x00", 5);

    HelpContent content = zulContent();
    content.topics[2].paragraphs = {
        Paragraph{{Span{QStringLiteral("Obrázek"), 0, 0, 0, picture}, Span{QStringLiteral(" a "), 0, 0, 0},
                   Span{QStringLiteral("makro"), 1, 0, 0, macro}}},
        Paragraph{{Span{QStringLiteral("cizí"), 0, 0, 0, external}, Span{QStringLiteral(" okno"), 0, 0, 0, window},
                   Span{QStringLiteral(" pozice"), 2, 0, 0, offset}}}};
    const HelpFile help(build(content), QStringLiteral("/x/ZUL.hlp"));
    const HelpTopic topic = help.topicByContext(806);
    EXPECT_EQ(topic.plainText(), QStringLiteral("Obrázek a makro\ncizí okno pozice"));
    ASSERT_EQ(topic.paragraphs[1].runs.size(), 3);
    // The outside file is not followed; the secondary window is the same file.
    EXPECT_FALSE(topic.paragraphs[1].runs[0].jump.isValid());
    // 0xEE is the pop-up form (like 0xEA); 0xEB and 0xEF jump.
    EXPECT_EQ(topic.paragraphs[1].runs[1].jump, (HelpJump{HelpJump::Kind::ContextHash, 10, true}));
    EXPECT_EQ(topic.paragraphs[1].runs[2].jump, (HelpJump{HelpJump::Kind::TopicOffset, 0x8000, false}));
    EXPECT_EQ(help.jumpTarget(topic.paragraphs[1].runs[2].jump), std::optional<quint32>(0x8000));
    EXPECT_EQ(help.jumpTarget(topic.paragraphs[1].runs[1].jump), std::nullopt);
}

TEST(HelpFile, directoryOverSeveralPages)
{
    HelpContent content = zulContent();
    content.directoryPageSize = 48; // a leaf holds two or three names: an index page above them
    const HelpFile help(build(content), QStringLiteral("/x/ZUL.hlp"));
    expectZulTopic(help.topicByContext(805));
}

TEST(HelpFile, contextHashOfContextStrings)
{
    EXPECT_EQ(HelpFile::contextHash(""), 1u);
    EXPECT_EQ(HelpFile::contextHash("a"), 0x11u);
    EXPECT_EQ(HelpFile::contextHash("A"), 0x11u);
    EXPECT_EQ(HelpFile::contextHash("a1"), 0x11u * 43 + 1);
    EXPECT_EQ(HelpFile::contextHash("0._"), (0x0Au * 43 + 0x0C) * 43 + 0x0D);
    // Bytes outside the usual set count as negative values.
    EXPECT_EQ(HelpFile::contextHash("\x01"), quint32(qint32(qint8(0xD1))));
}

TEST(HelpLz77, referencesRepeatEarlierOutput)
{
    // Flags 0b0000'1000: three literals, then a reference 3 back, 9 long.
    const QByteArray packed("\x08"
                            "abc"
                            "\x02\x60",
                            6);
    EXPECT_EQ(helpLz77Decompress(packed.constData(), packed.size(), 100), QByteArray("abcabcabcabc"));
    EXPECT_EQ(helpLz77Decompress(packed.constData(), packed.size(), 5), QByteArray("abcab"));
    // A reference before the start of the output is damage.
    const QByteArray before("\x02"
                            "a"
                            "\x05\x00",
                            4);
    EXPECT_FALSE(helpLz77Decompress(before.constData(), before.size(), 100).has_value());

    // Round trip through the writer's compressor, with the output budget of a topic block.
    QByteArray data;
    for (int i = 0; i < 3000; ++i)
        data += QByteArray::number(i % 97) + (i % 5 ? " " : "tabulka ");
    qsizetype consumed = 0;
    const QByteArray compressed = lz77Compress(data, 0, 16384, 4084, &consumed);
    EXPECT_LE(compressed.size(), 4084);
    EXPECT_EQ(helpLz77Decompress(compressed.constData(), compressed.size(), 16384), data.left(consumed));
}

TEST(HelpFile, truncatedFileIsDamaged)
{
    const QByteArray data = build(zulContent());
    EXPECT_EQ(errorOf([&] { HelpFile(data.left(data.size() / 2), QStringLiteral("/x/ZUL.hlp")); }),
              errorText(HelpError::InvalidFormat, QStringLiteral("Soubor nápovědy '/x/ZUL.hlp' je poškozen.")));
}

// Every damaged variant either reads or fails with the format error: never a
// crash, a hang or a different kind of failure.
TEST(HelpFile, damagedFilesFailCleanly)
{
    for (const bool lz77 : {false, true}) {
        HelpContent content = zulContent();
        content.lz77 = lz77;
        content.phrases = lz77 ? Phrases::Hall : Phrases::Old;
        content.topics[2].paragraphs += longText(60);
        const QByteArray data = build(content);

        const QString damaged = QString::number(HelpError::InvalidFormat) + QLatin1Char('|');
        const QString notFound = QString::number(HelpError::TopicNotFound) + QLatin1Char('|');
        // Reads every topic and jump; false when the file itself is refused.
        auto exercise = [&](const QByteArray& bytes) {
            const QString opened = errorOf([&] {
                const HelpFile help(bytes, QStringLiteral("/x/ZUL.hlp"));
                for (const HelpContextEntry& entry : help.contextMap()) {
                    const QString error = errorOf([&] {
                        const HelpTopic topic = help.topicByContext(entry.context);
                        for (const HelpParagraph& paragraph : topic.paragraphs) {
                            for (const HelpRun& run : paragraph.runs)
                                help.jumpTarget(run.jump);
                        }
                    });
                    EXPECT_TRUE(error == QLatin1String("no error") || error.startsWith(damaged) ||
                                error.startsWith(notFound))
                        << error.toStdString();
                }
            });
            EXPECT_TRUE(opened == QLatin1String("no error") || opened.startsWith(damaged)) << opened.toStdString();
            return opened == QLatin1String("no error");
        };

        int failures = 0;
        for (qsizetype size = 0; size < data.size(); size += 7)
            failures += exercise(data.left(size)) ? 0 : 1;
        EXPECT_GT(failures, 0);

        std::mt19937 random(805 + lz77);
        std::uniform_int_distribution<qsizetype> where(0, data.size() - 1);
        std::uniform_int_distribution<int> value(0, 255);
        int read = 0;
        for (int round = 0; round < 1500; ++round) {
            QByteArray bytes = data;
            const int flips = 1 + round % 4;
            for (int i = 0; i < flips; ++i)
                bytes[where(random)] = char(value(random));
            read += exercise(bytes) ? 1 : 0;
        }
        EXPECT_GT(read, 0); // most single flips land in text and still read
    }
}

// Pictures of every depth and packing, on their own and shown by a topic.
TEST(HelpPicture, bitmapsOfEveryDepthAndPacking)
{
    for (const int bits : {1, 4, 8, 24}) {
        QList<quint32> palette;
        for (int i = 0; bits <= 8 && i < (1 << bits); ++i)
            palette.append(quint32(i * 0x0F0501) & 0xFFFFFF);
        QList<QList<quint32>> rows;
        for (int y = 0; y < 5; ++y) {
            QList<quint32> row;
            for (int x = 0; x < 13; ++x) // an odd width: rows are padded
                row.append(bits == 24 ? quint32(x * 0x130000 + y * 0x2100 + 7) : quint32((x * 3 + y) % (1 << bits)));
            rows.append(row);
        }
        for (const int packing : {0, 1, 2, 3}) {
            SCOPED_TRACE(testing::Message() << bits << " bits, packing " << packing);
            const QByteArray file = bitmapFile(13, 5, bits, palette, rows, packing);
            HelpContent content = zulContent();
            content.topics[2].paragraphs = {Paragraph{{Span{QStringLiteral("Obrázek:"), 0, 0, 0, pictureCommand(0)}}}};
            content.files = {{"|bm0", file}};
            const HelpFile help(build(content), QStringLiteral("/x/ZUL.hlp"));
            const HelpTopic topic = help.topicByContext(806, HelpDecoding::Strict);
            ASSERT_EQ(topic.paragraphs.size(), 1);
            ASSERT_EQ(topic.paragraphs[0].runs.size(), 2);
            EXPECT_EQ(topic.paragraphs[0].runs[0].picture, QStringLiteral("bm0")); // the command comes before its text
            const HelpImage image = help.picture(QStringLiteral("bm0"), topic);
            ASSERT_EQ(image.width, 13);
            ASSERT_EQ(image.height, 5);
            for (int y = 0; y < 5; ++y) {
                for (int x = 0; x < 13; ++x) {
                    const quint32 expected = bits == 24 ? rows[y][x] : palette[rows[y][x]];
                    ASSERT_EQ(image.pixels[y * 13 + x], 0xFF000000u | expected) << x << "," << y;
                }
            }
        }
    }
    EXPECT_TRUE(decodeHelpPicture(QByteArray("lP\x01\x00\x08\x00\x00\x00\x06", 9)).isNull());

    // A picture embedded in the topic, at the right margin.
    const QByteArray file = bitmapFile(2, 1, 24, {}, {{0x102030, 0x405060}}, 3);
    HelpContent content = zulContent();
    content.topics[2].paragraphs = {
        Paragraph{{Span{QStringLiteral("x"), 0, 0, 0, embeddedPictureCommand(file, 0x88)}}}};
    const HelpFile help(build(content), QStringLiteral("/x/ZUL.hlp"));
    const HelpTopic topic = help.topicByContext(806, HelpDecoding::Strict);
    const HelpRun& run = topic.paragraphs[0].runs[0];
    EXPECT_EQ(run.placement, HelpRun::Placement::Right);
    EXPECT_EQ(help.picture(run.picture, topic).pixels, (QList<quint32>{0xFF102030u, 0xFF405060u}));
}

// An unknown command: the strict mode refuses the topic, the lenient one
// still shows all of the record's text.
TEST(HelpFile, strictModeRefusesWhatTheLenientModeShowsWhole)
{
    HelpContent content = zulContent();
    content.topics[2].paragraphs = {
        Paragraph{{text(QStringLiteral("Před")), Span{QStringLiteral(" neznámým"), 0, 0, 0, QByteArray("\x99", 1)},
                   text(QStringLiteral(" a po něm."), 1)}}};
    const HelpFile help(build(content), QStringLiteral("/x/ZUL.hlp"));
    EXPECT_EQ(errorOf([&] { help.topicByContext(806, HelpDecoding::Strict); }),
              errorText(HelpError::InvalidFormat,
                        QStringLiteral("Téma 3 souboru nápovědy '/x/ZUL.hlp' nelze přečíst celé.")));
    EXPECT_EQ(help.topicByContext(806).plainText(), QStringLiteral("Před neznámým a po něm."));
    EXPECT_EQ(help.topicByOrder(1, HelpDecoding::Strict).plainText(), QStringLiteral("Seznam témat."));
    EXPECT_EQ(
        errorOf([&] { help.topicByOrder(4); }),
        errorText(HelpError::TopicNotFound, QStringLiteral("Soubor nápovědy nemá téma s pořadím 4 (témat je 3).")));
}
