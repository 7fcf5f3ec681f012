// The metafile player of the help pictures on arbitrary bytes: played into
// a small image it never crashes, never reads outside the records and ends;
// the image keeps its size. Metafiles reach it from three kinds of input.
//
// Input: a metafile's records (header first), a picture container (SHG/MRB)
// or a whole help file, whose metafile pictures are all played.

#include "FuzzSupport.h"
#include "HelpFile.h"
#include "HelpMetafile.h"

#include <QGuiApplication>
#include <QPainter>

#include <set>

namespace {

constexpr int MaxPictures = 64;

// Fonts need a GUI application; it runs without a display. It lives as long as the process:
// destroying it among the exit handlers would outlive the platform it was built on.
void ensureApplication()
{
    if (QGuiApplication::instance())
        return;
    qputenv("QT_QPA_PLATFORM", "offscreen");
    static int argc = 1;
    static char name[] = "fuzz_helpmetafile";
    static char* argv[] = {name, nullptr};
    new QGuiApplication(argc, argv);
}

void play(const HelpImage& image)
{
    if (image.isNull() || !image.isMetafile())
        return;
    QImage out(64, 48, QImage::Format_RGB32);
    out.fill(Qt::white);
    QPainter painter(&out);
    const HelpMetafileReport report = drawHelpMetafile(painter, image, QRectF(4, 4, 56, 40));
    painter.end();
    FUZZ_CHECK(report.records <= image.metafile.size() / 6, QString::number(report.records));
    FUZZ_CHECK(report.drawn + report.skipped <= report.records, QString::number(report.drawn));
    FUZZ_CHECK(out.width() == 64 && out.height() == 48, QStringLiteral("image size"));
    const QImage whole = helpPictureImage(image, 0.25);
    FUZZ_CHECK(!whole.isNull(), QStringLiteral("%1x%2").arg(image.width).arg(image.height));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    ensureApplication();
    const QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    if (bytes.startsWith("?_\x03")) {
        try {
            const HelpFile help(bytes, QStringLiteral("fuzz.hlp"));
            std::set<QString> seen;
            for (int order = 1; order <= help.topicCount() && int(seen.size()) < MaxPictures; ++order) {
                const HelpTopic topic = help.topicByOrder(order);
                for (const HelpParagraph& paragraph : topic.paragraphs) {
                    for (const HelpRun& run : paragraph.runs) {
                        if (!run.picture.isEmpty() && seen.insert(QString::number(order) + run.picture).second)
                            play(help.picture(run.picture, topic));
                    }
                }
            }
        } catch (const RunTimeError&) {
        }
        return 0;
    }
    if (bytes.startsWith("lP") || bytes.startsWith("lp")) {
        play(decodeHelpPicture(bytes));
        return 0;
    }
    HelpImage image;
    image.metafile = bytes;
    image.width = 120;
    image.height = 90;
    image.mapMode = 8;
    play(image);
    return 0;
}
