#include "HelpFile.h"

#include "Errors.h"
#include "SharedFiles.h"

#include <QFile>
#include <QFileInfo>
#include <unistd.h>

#include <unicode/ucnv.h>

#include <algorithm>
#include <cctype>
#include <memory>

using HelpData::Damaged;
using HelpData::Reader;

namespace {

constexpr quint32 HelpMagic = 0x00035F3F;
constexpr qsizetype FileHeaderSize = 16;
constexpr qsizetype MaxFileSize = 32 * 1024 * 1024;

struct ConverterCloser {
    void operator()(UConverter* converter) const { ucnv_close(converter); }
};
using ConverterPtr = std::unique_ptr<UConverter, ConverterCloser>;

ConverterPtr openConverter(const QString& name)
{
    UErrorCode status = U_ZERO_ERROR;
    ConverterPtr converter(ucnv_open(name.toLatin1().constData(), &status));
    if (U_FAILURE(status))
        return nullptr;
    return converter;
}

} // namespace

// Windows character-set numbers of the system data to code pages.
QString HelpFile::codePageOfCharset(quint8 charset)
{
    switch (charset) {
    case 238:
        return QStringLiteral("windows-1250");
    case 204:
        return QStringLiteral("windows-1251");
    case 161:
        return QStringLiteral("windows-1253");
    case 162:
        return QStringLiteral("windows-1254");
    case 177:
        return QStringLiteral("windows-1255");
    case 178:
        return QStringLiteral("windows-1256");
    case 186:
        return QStringLiteral("windows-1257");
    case 163:
        return QStringLiteral("windows-1258");
    case 222:
        return QStringLiteral("windows-874");
    case 128:
        return QStringLiteral("windows-932");
    case 129:
        return QStringLiteral("windows-949");
    case 134:
        return QStringLiteral("windows-936");
    case 136:
        return QStringLiteral("windows-950");
    default:
        return {}; // ANSI (0) and default (1) say nothing about the author's code page
    }
}

namespace {

QString codePageOfLcid(quint16 lcid)
{
    switch (lcid & 0x3FF) {
    case 0x05:
    case 0x1B:
    case 0x15:
    case 0x0E:
    case 0x24:
    case 0x1A:
    case 0x18:
    case 0x1C:
        return QStringLiteral("windows-1250");
    case 0x19:
    case 0x22:
    case 0x23:
    case 0x02:
    case 0x2F:
        return QStringLiteral("windows-1251");
    case 0x08:
        return QStringLiteral("windows-1253");
    case 0x1F:
        return QStringLiteral("windows-1254");
    case 0x0D:
        return QStringLiteral("windows-1255");
    case 0x01:
    case 0x29:
    case 0x20:
        return QStringLiteral("windows-1256");
    case 0x25:
    case 0x26:
    case 0x27:
        return QStringLiteral("windows-1257");
    case 0x2A:
        return QStringLiteral("windows-1258");
    case 0x1E:
        return QStringLiteral("windows-874");
    case 0x11:
        return QStringLiteral("windows-932");
    case 0x12:
        return QStringLiteral("windows-949");
    case 0x04:
        return lcid == 0x0404 ? QStringLiteral("windows-950") : QStringLiteral("windows-936");
    case 0x09:
    case 0x07:
    case 0x0C:
    case 0x0A:
    case 0x10:
    case 0x13:
    case 0x16:
    case 0x1D:
    case 0x14:
    case 0x06:
    case 0x0B:
    case 0x0F:
    case 0x03:
        return QStringLiteral("windows-1252");
    default:
        return {};
    }
}

// The value each byte adds to a context hash: letters ignore case, digits
// count from 1 ('0' after '9'), punctuation shares a few small values and
// everything else is shifted into the negative range of a signed byte.
qint8 hashValue(uchar c)
{
    int value;
    if (c == 0)
        value = 0;
    else if (c < 0x20)
        value = c + 0xD0;
    else if (c == 0x21)
        value = 0x0B;
    else if (c == 0x2E)
        value = 0x0C;
    else if (c < 0x30)
        value = c + 0xD0;
    else if (c == 0x30)
        value = 0x0A;
    else if (c <= 0x5A)
        value = c - 0x30;
    else if (c == 0x5B)
        value = 0x0B;
    else if (c == 0x5C)
        value = 0x0C;
    else if (c == 0x5D || c == 0x5F)
        value = 0x0D;
    else if (c == 0x5E)
        value = 0x0E;
    else if (c < 0x80)
        value = c - 0x50;
    else if (c == 0xB4)
        value = 0x0B;
    else
        value = c - 0x30;
    return qint8(value & 0xFF);
}

} // namespace

HelpFile::HelpFile(const QString& path, const QString& defaultCodePage) : m_path(path), m_codePage(defaultCodePage)
{
    const QFileInfo info(path);
    if (!info.exists() || !info.isFile())
        throw Errors::helpNotFound(path);
    // Opened without blocking and only as a regular file: a pipe swapped in
    // after the check cannot hold the window.
    const int fd = SharedFiles::openForRead(QFile::encodeName(path));
    QFile file;
    if (fd < 0 || !file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        if (fd >= 0)
            ::close(fd);
        throw Errors::helpNotReadable(path);
    }
    const QByteArray data = file.read(MaxFileSize + 1);
    if (data.size() > MaxFileSize)
        throw Errors::notHelpFile(path);
    parse(data);
}

HelpFile::HelpFile(const QByteArray& data, const QString& path, const QString& defaultCodePage)
    : m_path(path), m_codePage(defaultCodePage)
{
    parse(data);
}

void HelpFile::damaged() const
{
    throw Errors::helpDamaged(m_path);
}

void HelpFile::parse(const QByteArray& data)
{
    if (data.size() < FileHeaderSize || Reader(data).u32() != HelpMagic)
        throw Errors::notHelpFile(m_path);
    try {
        m_container.open(data);
        if (!m_container.has("|SYSTEM") || !m_container.has("|TOPIC"))
            throw Damaged{};
        readSystem();
        readPhrases();
        readFonts();
        readTopicStream();
        readLinks();
        readContextTable();
        readContextMap();
    } catch (const Damaged&) {
        damaged();
    }
}

void HelpFile::readSystem()
{
    const QByteArray system = m_container.file("|SYSTEM");
    Reader reader(system);
    if (reader.u16() != 0x036C)
        throw Damaged{};
    m_minor = reader.u16();
    reader.skip(2 + 4); // major, generation date
    const quint16 flags = reader.u16();
    if (m_minor <= 16)
        throw Errors::helpVersion(m_path);
    m_compressed = flags == 4 || flags == 8;
    m_blockSize = flags == 8 ? 2048 : 4096;

    QByteArray title;
    QByteArray contentsFile;
    QString fromCharset;
    QString fromLcid;
    auto cut = [](QByteArray text) {
        const qsizetype end = text.indexOf('\0');
        return end < 0 ? text : text.left(end);
    };
    while (reader.remaining() >= 4) {
        const quint16 type = reader.u16();
        const quint16 size = reader.u16();
        Reader record(system, reader.pos(), std::min<qsizetype>(size, reader.remaining()));
        reader.skip(std::min<qsizetype>(size, reader.remaining()));
        if (type == 1) {
            title = cut(record.bytes(record.remaining()));
        } else if (type == 10) {
            contentsFile = cut(record.bytes(record.remaining()));
        } else if (type == 11 && record.remaining() >= 1) {
            // One charset byte; the bytes after it repeat it or are padding.
            fromCharset = HelpFile::codePageOfCharset(record.u8());
        } else if (type == 9) {
            // The first value that is a real locale number (the others are flags).
            while (fromLcid.isEmpty() && record.remaining() >= 2) {
                const quint16 value = record.u16();
                if (value >= 0x0400)
                    fromLcid = codePageOfLcid(value);
            }
        }
    }
    for (const QString& chosen : {fromCharset, fromLcid}) {
        if (!chosen.isEmpty() && openConverter(chosen)) {
            m_codePage = chosen;
            break;
        }
    }
    if (!openConverter(m_codePage))
        m_codePage = WesternCodePage;
    // One converter for all of the file's texts: opening one costs more than most conversions.
    m_converter = std::shared_ptr<UConverter>(openConverter(m_codePage).release(), ConverterCloser());
    m_title = decode(title);
    m_contentsFile = decode(contentsFile);
}

void HelpFile::readPhrases()
{
    if (m_container.has("|Phrases"))
        m_phrases.readOld(m_container.file("|Phrases"));
    else if (m_container.has("|PhrIndex") && m_container.has("|PhrImage"))
        m_phrases.readHall(m_container.file("|PhrIndex"), m_container.file("|PhrImage"));
}

void HelpFile::readFonts()
{
    if (!m_container.has("|FONT"))
        return;
    const QByteArray file = m_container.file("|FONT");
    // Fonts only add formatting; a damaged font table leaves plain text.
    try {
        Reader reader(file);
        const quint16 faceCount = reader.u16();
        const quint16 count = reader.u16();
        const quint16 facenamesOffset = reader.u16();
        const quint16 descriptorsOffset = reader.u16();
        // Face names stand in fixed slots between the header and the descriptors.
        QStringList faces;
        const qsizetype slot = faceCount > 0 ? (descriptorsOffset - facenamesOffset) / faceCount : 0;
        for (int i = 0; i < faceCount && slot > 0; ++i) {
            QByteArray name = Reader(file, facenamesOffset + i * slot, slot).bytes(slot);
            if (const qsizetype end = name.indexOf('\0'); end >= 0)
                name.truncate(end);
            // Some writers leave other data in a slot; only something shaped like a face name counts.
            const bool plausible =
                !name.isEmpty() && std::isalpha(uchar(name[0])) && std::all_of(name.begin(), name.end(), [](char c) {
                    return std::isalnum(uchar(c)) || c == ' ' || c == '-' || c == '_';
                });
            faces.append(plausible ? QString::fromLatin1(name) : QString());
        }
        Reader descriptors(file, descriptorsOffset);
        std::vector<FontStyle> fonts;
        for (int i = 0; i < count; ++i) {
            FontStyle style;
            if (facenamesOffset >= 12) {
                // Descriptors with a weight, a height and a separate italic byte.
                const qsizetype weightAt = facenamesOffset >= 16 ? 28 : 30;
                const qsizetype italicAt = weightAt + 4;
                Reader at(file, descriptors.pos(), 42);
                at.skip(1);
                style.face = faces.value(at.u16());
                at.skip(weightAt - 3);
                style.bold = at.s16() >= 600;
                at.skip(italicAt - weightAt - 2);
                style.italic = at.u8() != 0;
                style.underline = at.u8() != 0;
                descriptors.skip(42);
            } else {
                const quint8 attributes = descriptors.u8();
                const quint8 halfPoints = descriptors.u8();
                descriptors.skip(1); // family
                style.face = faces.value(descriptors.u16());
                descriptors.skip(6); // colours
                style.bold = attributes & 0x01;
                style.italic = attributes & 0x02;
                style.underline = attributes & (0x04 | 0x10); // single or double
                style.points = (halfPoints + 1) / 2;
            }
            fonts.push_back(style);
        }
        m_fonts = std::move(fonts);
    } catch (const Damaged&) {
        m_fonts.clear();
    }
}

QString HelpFile::decode(const QByteArray& bytes) const
{
    if (bytes.isEmpty())
        return {};
    UConverter* converter = m_converter.get();
    if (!converter)
        return QString::fromLatin1(bytes);
    ucnv_reset(converter);
    std::vector<UChar> out(size_t(bytes.size()) * 2 + 2);
    UErrorCode status = U_ZERO_ERROR;
    const int32_t length =
        ucnv_toUChars(converter, out.data(), int32_t(out.size()), bytes.constData(), int32_t(bytes.size()), &status);
    if (U_FAILURE(status))
        return QString::fromLatin1(bytes);
    return QString(reinterpret_cast<const QChar*>(out.data()), length);
}

void HelpFile::readContextMap()
{
    if (!m_container.has("|CTXOMAP"))
        return;
    const QByteArray file = m_container.file("|CTXOMAP");
    Reader reader(file);
    const quint16 count = reader.u16();
    reader.need(qsizetype(count) * 8);
    for (int i = 0; i < count; ++i) {
        HelpContextEntry entry;
        entry.context = reader.s32();
        entry.topicOffset = reader.u32();
        if (const auto topic = topicIndexAt(entry.topicOffset))
            entry.title = m_topics[*topic].title;
        m_contextMap.append(entry);
    }
}

void HelpFile::readContextTable()
{
    if (!m_container.has("|CONTEXT"))
        return;
    walkHelpBtree(m_container.file("|CONTEXT"), [this](Reader& entry) {
        const quint32 hash = entry.u32();
        m_contextTable.emplace(hash, entry.u32());
    });
}

std::optional<qsizetype> HelpFile::topicIndexAt(quint32 offset) const
{
    // The last topic that starts at or before the offset.
    const auto after = std::upper_bound(m_topicsByOffset.begin(), m_topicsByOffset.end(), offset,
                                        [](quint32 value, const auto& entry) { return value < entry.first; });
    if (after == m_topicsByOffset.begin())
        return std::nullopt;
    return std::prev(after)->second;
}

QList<HelpContextEntry> HelpFile::contextMap() const
{
    return m_contextMap;
}

QStringList HelpFile::topicTitles() const
{
    QStringList titles;
    for (const Topic& topic : m_topics)
        titles.append(topic.title);
    return titles;
}

QList<HelpContentsEntry> HelpFile::contents() const
{
    QList<HelpContentsEntry> entries;
    for (qsizetype i = 0; i < qsizetype(m_topics.size()); ++i)
        entries.append(HelpContentsEntry{int(i + 1), m_topics[i].title, m_topics[i].offset});
    return entries;
}

HelpTopic HelpFile::topicByContext(qint32 context, HelpDecoding decoding) const
{
    for (const HelpContextEntry& entry : m_contextMap) {
        if (entry.context != context)
            continue;
        if (const auto index = topicIndexAt(entry.topicOffset))
            return buildTopic(*index, decoding);
        break;
    }
    throw Errors::helpTopicNotFound(context);
}

HelpTopic HelpFile::topicByOrder(int order, HelpDecoding decoding) const
{
    if (order < 1 || order > topicCount())
        throw Errors::helpTopicOrder(order, topicCount());
    return buildTopic(order - 1, decoding);
}

std::optional<HelpTopic> HelpFile::topicAtOffset(quint32 offset) const
{
    const auto index = topicIndexAt(offset);
    if (!index)
        return std::nullopt;
    return buildTopic(*index, HelpDecoding::Lenient);
}

std::optional<int> HelpFile::orderAtOffset(quint32 offset) const
{
    const auto index = topicIndexAt(offset);
    if (!index)
        return std::nullopt;
    return int(*index + 1);
}

std::optional<quint32> HelpFile::jumpTarget(const HelpJump& jump) const
{
    switch (jump.kind) {
    case HelpJump::Kind::TopicOffset:
        return jump.value;
    case HelpJump::Kind::ContextHash: {
        const auto found = m_contextTable.find(jump.value);
        if (found == m_contextTable.end())
            return std::nullopt;
        return found->second;
    }
    case HelpJump::Kind::None:
        break;
    }
    return std::nullopt;
}

QList<HelpKeyword> HelpFile::keywords() const
{
    QList<HelpKeyword> result;
    if (!m_container.has("|KWBTREE") || !m_container.has("|KWDATA"))
        return result;
    try {
        const QByteArray data = m_container.file("|KWDATA");
        walkHelpBtree(m_container.file("|KWBTREE"), [&](Reader& entry) {
            HelpKeyword keyword;
            keyword.keyword = decode(entry.stringz());
            const qint16 count = entry.s16();
            const quint32 at = entry.u32();
            if (count < 0)
                throw Damaged{};
            Reader offsets(data, at, qsizetype(count) * 4);
            for (int i = 0; i < count; ++i) {
                if (const auto order = orderAtOffset(offsets.u32()); order && !keyword.orders.contains(*order))
                    keyword.orders.append(*order);
            }
            result.append(keyword);
        });
    } catch (const Damaged&) {
        damaged();
    }
    return result;
}

QList<std::pair<quint32, QString>> HelpFile::titleTable() const
{
    QList<std::pair<quint32, QString>> result;
    if (!m_container.has("|TTLBTREE"))
        return result;
    try {
        walkHelpBtree(m_container.file("|TTLBTREE"), [&](Reader& entry) {
            const quint32 offset = entry.u32();
            result.append({offset, decode(entry.stringz())});
        });
    } catch (const Damaged&) {
        damaged();
    }
    return result;
}

HelpImage HelpFile::picture(const QString& id, const HelpTopic& topic) const
{
    HelpImage image;
    if (const auto embedded = topic.embeddedPictures.find(id); embedded != topic.embeddedPictures.end()) {
        image = decodeHelpPicture(embedded->second);
    } else if (const auto kept = m_pictures.find(id); kept != m_pictures.end()) {
        return kept->second;
    } else if (id.startsWith(QLatin1String("bm"))) {
        try {
            image = decodeHelpPicture(m_container.file("|" + id.toLatin1()));
        } catch (const Damaged&) {
            image = {};
        }
        image.codePage = m_codePage;
        return m_pictures[id] = image;
    }
    image.codePage = m_codePage;
    return image;
}

quint32 HelpFile::contextHash(const QByteArray& contextId)
{
    if (contextId.isEmpty())
        return 1;
    quint32 hash = 0;
    for (const char ch : contextId)
        hash = hash * 43 + quint32(qint32(hashValue(uchar(ch))));
    return hash;
}
