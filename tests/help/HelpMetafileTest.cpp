// The metafile player: records written here drawn where the platform draws
// them, every metafile picture of the shared corpus drawn and compared with
// libwmf's independent renderer, and damaged metafiles drawn without harm.
#include "HelpMetafile.h"
#include "HelpFile.h"
#include "HelpFonts.h"
#include "TestSupport.h"

#include <QDir>
#include <QFileInfo>
#include <QFont>
#include <QFontInfo>
#include <QGuiApplication>
#include <QPainter>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtEndian>

#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <map>
#include <random>
#include <set>

namespace {

const QString CorpusDir = QStringLiteral(DIVADEDADI_CORPUS);

class HelpMetafile : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        if (!QGuiApplication::instance()) {
            static int argc = 1;
            static char name[] = "test_helpmetafile";
            static char* argv[] = {name, nullptr};
            new QGuiApplication(argc, argv); // kept to the end of the process, never destroyed at exit
        }
    }
};

// A metafile of records written here: the header, the records, the end record.
struct Metafile {
    QByteArray records;

    Metafile& add(quint16 function, std::initializer_list<int> words, const QByteArray& raw = {})
    {
        QByteArray body;
        for (const int w : words) {
            body.append(char(w & 0xFF));
            body.append(char((w >> 8) & 0xFF));
        }
        body += raw;
        if (body.size() % 2)
            body.append('\0');
        const quint32 size = quint32(3 + body.size() / 2);
        QByteArray head(6, '\0');
        qToLittleEndian(size, head.data());
        qToLittleEndian(function, head.data() + 4);
        records += head + body;
        return *this;
    }
    HelpImage image(int width = 100, int height = 100) const
    {
        QByteArray header(18, '\0');
        qToLittleEndian<quint16>(1, header.data());
        qToLittleEndian<quint16>(9, header.data() + 2);
        qToLittleEndian<quint16>(0x300, header.data() + 4);
        qToLittleEndian<quint16>(16, header.data() + 10); // objects
        HelpImage result;
        result.width = width;
        result.height = height;
        result.mapMode = 8;
        result.metafile = header + records + QByteArray("\x03\0\0\0\0\0", 6);
        return result;
    }
};

// Colours as the records take them: two words, red and green, then blue and the flag.
int rg(int r, int g)
{
    return r | (g << 8);
}
int bf(int b, int flag = 0)
{
    return b | (flag << 8);
}

// A window of 100 × 100 logical units from the origin, a pen of nothing and a brush of the colour.
Metafile canvas(int r = 255, int g = 0, int b = 0)
{
    Metafile m;
    m.add(0x020B, {0, 0}).add(0x020C, {100, 100});
    m.add(0x02FA, {5, 0, 0, rg(0, 0), bf(0)}).add(0x012D, {0});
    m.add(0x02FC, {0, rg(r, g), bf(b), 0}).add(0x012D, {1});
    return m;
}

struct Probe {
    int x, y;
    QRgb colour;
};

struct Case {
    const char* name;
    std::function<Metafile()> records;
    QList<Probe> probes;
    int skipped = 0;
};

const QRgb Red = qRgb(255, 0, 0), White = qRgb(255, 255, 255), Green = qRgb(0, 255, 0), Blue = qRgb(0, 0, 255);

QImage draw(const HelpImage& image, HelpMetafileReport* report = nullptr)
{
    QImage out(image.width, image.height, QImage::Format_RGB32);
    out.fill(Qt::white);
    QPainter painter(&out);
    const HelpMetafileReport r = drawHelpMetafile(painter, image, QRectF(0, 0, image.width, image.height));
    if (report)
        *report = r;
    return out;
}

int inkPixels(const QImage& image, QRect area = {})
{
    if (area.isNull())
        area = image.rect();
    int ink = 0;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x)
            ink += qGray(image.pixel(x, y)) < 160 ? 1 : 0;
    return ink;
}

// The window and origin a metafile sets, for the placeable header the reference renderer reads.
QRect windowOf(const QByteArray& metafile)
{
    QRect window(0, 0, 0, 0);
    for (qsizetype pos = 18; pos + 10 <= metafile.size();) {
        const quint32 words = qFromLittleEndian<quint32>(metafile.constData() + pos);
        const quint16 function = qFromLittleEndian<quint16>(metafile.constData() + pos + 4);
        const qint16 y = qFromLittleEndian<qint16>(metafile.constData() + pos + 6);
        const qint16 x = qFromLittleEndian<qint16>(metafile.constData() + pos + 8);
        if (function == 0x020B)
            window.moveTo(x, y);
        if (function == 0x020C)
            window.setSize(QSize(x, y));
        if (words < 3)
            break;
        pos += qsizetype(words) * 2;
    }
    return window;
}

QByteArray placeable(const HelpImage& image)
{
    const QRect window = windowOf(image.metafile);
    QByteArray header(22, '\0');
    qToLittleEndian<quint32>(0x9AC6CDD7u, header.data());
    qToLittleEndian<qint16>(qint16(window.left()), header.data() + 6);
    qToLittleEndian<qint16>(qint16(window.top()), header.data() + 8);
    qToLittleEndian<qint16>(qint16(window.left() + window.width()), header.data() + 10);
    qToLittleEndian<qint16>(qint16(window.top() + window.height()), header.data() + 12);
    qToLittleEndian<quint16>(1440, header.data() + 14);
    quint16 checksum = 0;
    for (int i = 0; i < 20; i += 2)
        checksum ^= qFromLittleEndian<quint16>(header.constData() + i);
    qToLittleEndian(checksum, header.data() + 20);
    return header + image.metafile;
}

// Grey levels smoothed over 5 × 5 pixels, so that a line one pixel off or a glyph of another
// font of the same size still meets the reference.
std::vector<double> smoothed(const QImage& image)
{
    const int w = image.width(), h = image.height();
    std::vector<double> grey(size_t(w) * h), out(size_t(w) * h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            grey[size_t(y) * w + x] = qGray(image.pixel(x, y));
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            double sum = 0;
            int n = 0;
            for (int dy = -2; dy <= 2; ++dy)
                for (int dx = -2; dx <= 2; ++dx)
                    if (x + dx >= 0 && x + dx < w && y + dy >= 0 && y + dy < h)
                        sum += grey[size_t(y + dy) * w + x + dx], ++n;
            out[size_t(y) * w + x] = sum / n;
        }
    }
    return out;
}

// 1 for equal pictures: one minus the mean difference of smoothed grey levels over the pixels
// where either picture has something drawn (white on white would flatter any pair).
double similarity(const QImage& ours, const QImage& reference)
{
    const std::vector<double> a = smoothed(ours), b = smoothed(reference);
    double difference = 0;
    int counted = 0;
    for (size_t i = 0; i < a.size(); ++i) {
        if (a[i] > 250 && b[i] > 250)
            continue;
        difference += std::abs(a[i] - b[i]) / 255;
        ++counted;
    }
    return counted == 0 ? 1.0 : 1.0 - difference / counted;
}

struct CorpusPicture {
    QString file;
    QString id;
    HelpImage image;
};

QList<CorpusPicture> corpusMetafiles()
{
    QList<CorpusPicture> pictures;
    for (const QFileInfo& info : QDir(CorpusDir).entryInfoList({QStringLiteral("*.hlp")}, QDir::Files, QDir::Name)) {
        const HelpFile help(info.filePath());
        std::set<QString> seen;
        for (int order = 1; order <= help.topicCount(); ++order) {
            const HelpTopic topic = help.topicByOrder(order);
            for (const HelpParagraph& paragraph : topic.paragraphs) {
                for (const HelpRun& run : paragraph.runs) {
                    const QString key = run.picture.startsWith(QLatin1String("bm"))
                                            ? run.picture
                                            : QStringLiteral("%1-%2").arg(order).arg(run.picture);
                    if (run.picture.isEmpty() || !seen.insert(key).second)
                        continue;
                    HelpImage image = help.picture(run.picture, topic);
                    if (image.isMetafile())
                        pictures.append({info.fileName(), key, image});
                }
            }
        }
    }
    return pictures;
}

} // namespace

// Records of each kind the help pictures use, each drawn into 100 × 100 pixels and probed where
// the platform would have drawn it (and where it would not).
TEST_F(HelpMetafile, recordsDrawWhereThePlatformDrawsThem)
{
    const QByteArray arial = QByteArray("Arial").leftJustified(32, '\0');
    const QList<Case> cases = {
        {"rectangle filled with the brush",
         [] {
             return canvas().add(0x041B, {60, 60, 20, 20});
         },
         {{40, 40, Red}, {10, 10, White}, {70, 70, White}}},
        {"window origin and extent map onto the picture",
         [] {
             return canvas().add(0x020B, {100, 100}).add(0x020C, {200, 200}).add(0x041B, {300, 300, 150, 150});
         },
         {{75, 75, Red}, {20, 20, White}}},
        {"negative extent turns the y axis up",
         [] {
             return canvas().add(0x020B, {100, 0}).add(0x020C, {-100, 100}).add(0x041B, {50, 50, 0, 0});
         },
         {{25, 75, Red}, {25, 25, White}}},
        {"fixed mapping mode counts hundredths of a millimetre upwards",
         [] {
             return canvas().add(0x0103, {3}).add(0x041B, {-1323 & 0xFFFF, 1323, 0, 0});
         },
         {{25, 25, Red}, {75, 75, White}}},
        {"null brush leaves the inside",
         [] {
             return canvas().add(0x02FC, {1, 0, 0, 0}).add(0x012D, {2}).add(0x041B, {60, 60, 20, 20});
         },
         {{40, 40, White}}},
        {"pen draws the outline in its colour",
         [] {
             return canvas().add(0x02FA, {0, 3, 0, rg(0, 0), bf(255)}).add(0x012D, {2}).add(0x041B, {80, 80, 20, 20});
         },
         {{20, 50, Blue}, {50, 50, Red}}},
        {"ellipse spares its bounding box's corners",
         [] {
             return canvas().add(0x0418, {90, 90, 10, 10});
         },
         {{50, 50, Red}, {13, 13, White}}},
        {"polygon closes and fills",
         [] {
             return canvas().add(0x0324, {3, 0, 0, 99, 0, 0, 99});
         },
         {{20, 20, Red}, {80, 80, White}}},
        {"poly-polygon leaves the inner ring's hole in alternate mode",
         [] {
             return canvas().add(0x0538, {2, 4, 4, 0, 0, 99, 0, 99, 99, 0, 99, 30, 30, 70, 30, 70, 70, 30, 70});
         },
         {{10, 10, Red}, {50, 50, White}}},
        {"pie fills the quarter between its radials",
         [] {
             return canvas().add(0x081A, {0, 50, 50, 99, 99, 99, 0, 0});
         },
         {{70, 30, Red}, {30, 70, White}}},
        {"palette index takes the selected palette's colour",
         [] {
             return canvas()
                 .add(0x00F7, {0x300, 2, rg(0, 0), bf(255), rg(0, 255), bf(0)})
                 .add(0x0234, {2})
                 .add(0x02FC, {0, rg(1, 0), bf(0, 1), 0})
                 .add(0x012D, {3})
                 .add(0x041B, {60, 60, 20, 20});
         },
         {{40, 40, Green}}},
        {"intersected clipping rectangle cuts what is drawn after it",
         [] {
             return canvas().add(0x0416, {50, 50, 0, 0}).add(0x041B, {100, 100, 0, 0});
         },
         {{25, 25, Red}, {75, 75, White}}},
        {"restoring the context lifts the clipping saved before it",
         [] {
             return canvas()
                 .add(0x001E, {})
                 .add(0x0416, {50, 50, 0, 0})
                 .add(0x0127, {-1 & 0xFFFF})
                 .add(0x041B, {100, 100, 0, 0});
         },
         {{75, 75, Red}}},
        {"restoring the context brings back the brush",
         [] {
             return canvas()
                 .add(0x001E, {})
                 .add(0x02FC, {0, rg(0, 255), bf(0), 0})
                 .add(0x012D, {2})
                 .add(0x0127, {-1 & 0xFFFF})
                 .add(0x041B, {100, 100, 0, 0});
         },
         {{50, 50, Red}}},
        {"excluded rectangle stays as it was",
         [] {
             return canvas().add(0x0415, {60, 60, 40, 40}).add(0x041B, {100, 100, 0, 0});
         },
         {{50, 50, White}, {20, 20, Red}}},
        {"xor pen drawn twice leaves the background",
         [] {
             return canvas().add(0x0104, {7}).add(0x041B, {100, 100, 0, 0}).add(0x041B, {100, 100, 0, 0});
         },
         {{50, 50, White}}},
        {"stretched bitmap fills its rectangle, rows bottom-up",
         [] {
             // Two by two pixels, one bit each: black and white below, white and black above.
             QByteArray dib;
             const int header[] = {40, 2, 2};
             for (const int v : header) {
                 QByteArray word(4, '\0');
                 qToLittleEndian<qint32>(v, word.data());
                 dib += word;
             }
             dib += QByteArray("\x01\x00\x01\x00", 4) + QByteArray(24, '\0');
             dib += QByteArray("\x00\x00\x00\x00\xff\xff\xff\x00", 8);
             dib += QByteArray("\x40\0\0\0\x80\0\0\0", 8);
             return canvas().add(0x0F43, {0x0020, 0x00CC, 0, 2, 2, 0, 0, 100, 100, 0, 0}, dib);
         },
         {{25, 75, qRgb(0, 0, 0)}, {75, 75, White}, {25, 25, White}, {75, 25, qRgb(0, 0, 0)}}},
        {"pattern fill of the brush",
         [] {
             return canvas(0, 0, 255).add(0x061D, {0x0021, 0x00F0, 50, 50, 0, 0});
         },
         {{25, 25, Blue}, {75, 75, White}}},
        {"unknown record skipped, the next one drawn",
         [] {
             return canvas().add(0x0999, {1, 2, 3}).add(0x041B, {60, 60, 20, 20});
         },
         {{40, 40, Red}},
         1},
        {"record shorter than its kind skipped, the next one drawn",
         [] {
             return canvas().add(0x0324, {40, 0, 0}).add(0x041B, {60, 60, 20, 20});
         },
         {{40, 40, Red}},
         1},
        {"zero window extent refused, the one before kept",
         [] {
             return canvas().add(0x020C, {0, 0}).add(0x041B, {60, 60, 20, 20});
         },
         {{40, 40, Red}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        HelpMetafileReport report;
        const QImage image = draw(c.records().image(), &report);
        for (const Probe& probe : c.probes)
            EXPECT_EQ(QColor(image.pixel(probe.x, probe.y)).name().toStdString(),
                      QColor(probe.colour).name().toStdString())
                << probe.x << "," << probe.y;
        EXPECT_EQ(report.skipped, c.skipped);
    }

    // Text: a baseline-aligned word sits above its reference point, a right-aligned one ends at it.
    Metafile text = canvas();
    text.add(0x02FB, {-20 & 0xFFFF, 0, 0, 0, 700, 0, 0, 0, 0}, arial).add(0x012D, {2}).add(0x012E, {24});
    text.add(0x0521, {4}, QByteArray("Text") + QByteArray("\x32\0\x0a\0", 4));                  // y 50, x 10
    text.add(0x012E, {2}).add(0x0521, {4}, QByteArray("Text") + QByteArray("\x5a\0\x5a\0", 4)); // top, ends at x 90
    const QImage drawn = draw(text.image());
    EXPECT_GT(inkPixels(drawn, QRect(10, 34, 45, 16)), 40);
    EXPECT_EQ(inkPixels(drawn, QRect(0, 52, 100, 36)), 0);
    EXPECT_EQ(inkPixels(drawn, QRect(0, 0, 100, 34)), 0);
    EXPECT_GT(inkPixels(drawn, QRect(45, 90, 45, 10)), 20);
    EXPECT_EQ(inkPixels(drawn, QRect(91, 88, 9, 12)), 0);
}

// Every metafile picture of the shared corpus is drawn (none blank) and looks like what libwmf's
// wmf2gd draws of it at the same size: smoothed grey levels agree to 85 % on average over the
// pixels either draws, and to 60 % for the worst picture (fonts and antialiasing differ).
TEST_F(HelpMetafile, corpusPicturesLookLikeTheReferenceRenderer)
{
    if (!QFileInfo::exists(CorpusDir))
        GTEST_SKIP() << "skipped: corpus not present";
    const QList<CorpusPicture> pictures = corpusMetafiles();
    EXPECT_EQ(std::count_if(pictures.begin(), pictures.end(),
                            [](const CorpusPicture& p) { return p.file == QLatin1String("de_calc31u.hlp"); }),
              148);
    for (const CorpusPicture& picture : pictures) {
        const QImage image = helpPictureImage(picture.image);
        ASSERT_FALSE(image.isNull()) << picture.id.toStdString();
        EXPECT_GT(inkPixels(image.convertToFormat(QImage::Format_RGB32)), 0)
            << picture.file.toStdString() << " " << picture.id.toStdString();
    }

    const QString wmf2gd = QStandardPaths::findExecutable(QStringLiteral("wmf2gd"));
    if (wmf2gd.isEmpty())
        GTEST_SKIP() << "skipped: wmf2gd (Debian package libwmf-bin) is not installed";
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    double total = 0, worst = 1, blankTotal = 0;
    QString worstId;
    for (const CorpusPicture& picture : pictures) {
        const QImage ours = helpPictureImage(picture.image).convertToFormat(QImage::Format_RGB32);
        const QString input = dir.filePath(QStringLiteral("picture.wmf")),
                      output = dir.filePath(QStringLiteral("picture.png"));
        QFile file(input);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(placeable(picture.image));
        file.close();
        QFile::remove(output);
        ASSERT_TRUE(runProcess(wmf2gd,
                               {QStringLiteral("--maxwidth=%1").arg(ours.width()),
                                QStringLiteral("--maxheight=%1").arg(ours.height()), QStringLiteral("--maxsize"),
                                QStringLiteral("-o"), output, input},
                               {.timeout = std::chrono::seconds(30)})
                        .finished);
        QImage reference(output);
        ASSERT_FALSE(reference.isNull()) << picture.id.toStdString();
        QImage flat(ours.size(), QImage::Format_RGB32);
        flat.fill(Qt::white);
        QPainter(&flat).drawImage(QRect(QPoint(0, 0), ours.size()), reference);
        const double score = similarity(ours, flat);
        QImage blank(ours.size(), QImage::Format_RGB32);
        blank.fill(Qt::white);
        blankTotal += similarity(blank, flat);
        total += score;
        if (score < worst)
            worst = score, worstId = picture.file + QLatin1Char(' ') + picture.id;
    }
    const double mean = total / pictures.size(), blankMean = blankTotal / pictures.size();
    std::printf("%d metafile pictures: similarity to wmf2gd mean %.3f, worst %.3f (%s); empty pictures %.3f\n",
                int(pictures.size()), mean, worst, qPrintable(worstId), blankMean);
    EXPECT_GE(mean, 0.85);
    // The measure tells a drawing from nothing: empty pictures score well below the bar.
    EXPECT_LT(blankMean, 0.75);
    EXPECT_GE(worst, 0.60) << worstId.toStdString();
}

// Real metafiles cut short and with bytes changed (a fixed sequence of changes) draw what they can
// and end; the records counted never exceed what the bytes can hold.
TEST_F(HelpMetafile, damagedCorpusMetafilesDrawWithoutHarm)
{
    if (!QFileInfo::exists(CorpusDir))
        GTEST_SKIP() << "skipped: corpus not present";
    std::mt19937 random(24);
    int played = 0;
    for (const CorpusPicture& picture : corpusMetafiles()) {
        for (int variant = 0; variant < 6; ++variant) {
            HelpImage image = picture.image;
            if (variant == 0) {
                image.metafile.truncate(image.metafile.size() * int(random() % 100) / 100);
            } else {
                for (int i = 0; i < variant * 4; ++i)
                    image.metafile[qsizetype(random() % image.metafile.size())] = char(random());
            }
            HelpMetafileReport report;
            draw(image, &report);
            EXPECT_LE(report.records, image.metafile.size() / 6);
            ++played;
        }
    }
    EXPECT_GT(played, 0);
}

// The faces the corpus's help files name resolve to installed fonts: the common Windows faces to
// the metric-compatible Liberation faces, any other to a font that exists.
TEST_F(HelpMetafile, corpusFontFacesResolveToInstalledFonts)
{
    if (!QFileInfo::exists(CorpusDir))
        GTEST_SKIP() << "skipped: corpus not present";
    std::set<QString> faces;
    for (const QFileInfo& info : QDir(CorpusDir).entryInfoList({QStringLiteral("*.hlp")}, QDir::Files, QDir::Name)) {
        const HelpFile help(info.filePath());
        for (int order = 1; order <= std::min(help.topicCount(), 60); ++order) {
            for (const HelpParagraph& paragraph : help.topicByOrder(order).paragraphs) {
                for (const HelpRun& run : paragraph.runs)
                    faces.insert(run.face);
            }
        }
    }
    for (const char* expected : {"Arial", "Courier New", "MS Sans Serif", "Helv", "Arial Cyr", "Symbol"})
        EXPECT_TRUE(faces.count(QLatin1String(expected))) << expected;
    const std::map<QString, QString> metricCompatible = {
        {QStringLiteral("Arial"), QStringLiteral("Liberation Sans")},
        {QStringLiteral("Arial Cyr"), QStringLiteral("Liberation Sans")},
        {QStringLiteral("Helv"), QStringLiteral("Liberation Sans")},
        {QStringLiteral("Courier New"), QStringLiteral("Liberation Mono")},
        {QStringLiteral("Times New Roman"), QStringLiteral("Liberation Serif")}};
    faces.insert(QStringLiteral("Times New Roman"));
    faces.insert(QStringLiteral("A Face Nobody Installed"));
    for (const QString& face : faces) {
        QFont font;
        font.setFamilies(helpFontFamilies(face));
        const QString resolved = QFontInfo(font).family();
        EXPECT_FALSE(resolved.isEmpty()) << face.toStdString();
        if (const auto found = metricCompatible.find(face); found != metricCompatible.end()) {
            EXPECT_EQ(resolved, found->second) << face.toStdString();
        }
    }
}
