// The help reader on arbitrary files: opening, every topic in both decoding
// modes, the topic model, keywords, titles, pictures and the HTML writer.
// Reading never crashes or reads outside the input; failures are the format
// error 321 (or a missing topic, 5); a topic the strict mode reads whole reads
// the same leniently; a decoded picture has all its pixels.
//
// Input: a help file, or a picture container (SHG/MRB) on its own.

#include "FuzzSupport.h"
#include "HelpFile.h"
#include "HelpHtml.h"

namespace {

constexpr int MaxTopics = 64;

void checkImage(const HelpImage& image)
{
    if (image.isNull() || image.isMetafile())
        return;
    FUZZ_CHECK(image.pixels.size() == qsizetype(image.width) * image.height,
               QStringLiteral("%1x%2").arg(image.width).arg(image.height));
}

void checkError(const RunTimeError& error)
{
    FUZZ_CHECK(error.number() == HelpError::InvalidFormat || error.number() == HelpError::TopicNotFound,
               error.description());
}

void readTopic(const HelpFile& help, int order)
{
    QString strictText;
    bool strictRead = false;
    try {
        strictText = help.topicByOrder(order, HelpDecoding::Strict).plainText();
        strictRead = true;
    } catch (const RunTimeError& error) {
        checkError(error);
    }
    try {
        const HelpTopic topic = help.topicByOrder(order);
        if (strictRead)
            FUZZ_CHECK(topic.plainText() == strictText, topic.title);
        // The HTML writer follows every run's jump and decodes every picture.
        const HelpHtmlLinks links{[](int target, bool) { return QString::number(target); },
                                  [](const QString& picture, const HelpImage& image) {
                                      checkImage(image);
                                      return picture;
                                  }};
        helpTopicHtml(help, topic, links, true);
    } catch (const RunTimeError& error) {
        checkError(error);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    checkImage(decodeHelpPicture(bytes));
    try {
        const HelpFile help(bytes, QStringLiteral("fuzz.hlp"));
        for (const HelpContextEntry& entry : help.contextMap()) {
            try {
                help.topicByContext(entry.context);
            } catch (const RunTimeError& error) {
                checkError(error);
            }
        }
        for (const auto& keyword : help.keywords()) {
            for (const int order : keyword.orders)
                FUZZ_CHECK(order >= 1 && order <= help.topicCount(), keyword.keyword);
        }
        help.titleTable();
        FUZZ_CHECK(help.contents().size() == help.topicCount(), help.path());
        for (int order = 1; order <= std::min(help.topicCount(), MaxTopics); ++order)
            readTopic(help, order);
    } catch (const RunTimeError& error) {
        checkError(error);
    }
    return 0;
}
