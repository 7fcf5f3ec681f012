#include "HelpFile.h"

#include <QFile>
#include <QFileInfo>

#include <unicode/ucnv.h>

#include <algorithm>
#include <functional>
#include <memory>

namespace {

// Thrown inside the reader wherever the data does not fit; the public entry
// points turn it into a RunTimeError that names the file.
struct Damaged {};

constexpr quint32 HelpMagic = 0x00035F3F;
constexpr qsizetype FileHeaderSize = 16;
constexpr qsizetype InternalHeaderSize = 9;
constexpr qsizetype BlockHeaderSize = 12;
constexpr qsizetype LinkHeaderSize = 21;
constexpr qsizetype MaxFileSize = 32 * 1024 * 1024;
// Upper bounds that keep a damaged file from asking for huge amounts of memory.
constexpr qsizetype MaxLinkText = 4 * 1024 * 1024;
constexpr qsizetype MaxPhraseData = 16 * 1024 * 1024;
// Topic positions count 0x4000 per topic block, compressed or not.
constexpr qsizetype PositionUnit = 0x4000;

// Little-endian reads inside [begin, end) of a byte array; every read past
// the end throws Damaged.
class Reader {
public:
    Reader(const QByteArray& data, qsizetype begin = 0, qsizetype size = -1)
        : m_data(reinterpret_cast<const uchar*>(data.constData())), m_pos(begin),
          m_end(size < 0 ? data.size() : begin + size)
    {
        if (begin < 0 || m_end > data.size() || m_end < begin)
            throw Damaged{};
    }

    qsizetype pos() const { return m_pos; }
    qsizetype remaining() const { return m_end - m_pos; }
    bool atEnd() const { return m_pos >= m_end; }

    void need(qsizetype n) const
    {
        if (n < 0 || n > m_end - m_pos)
            throw Damaged{};
    }
    void skip(qsizetype n)
    {
        need(n);
        m_pos += n;
    }
    quint8 u8()
    {
        need(1);
        return m_data[m_pos++];
    }
    quint16 u16()
    {
        need(2);
        const quint16 v = quint16(m_data[m_pos] | (m_data[m_pos + 1] << 8));
        m_pos += 2;
        return v;
    }
    qint16 s16() { return qint16(u16()); }
    quint32 u32()
    {
        need(4);
        const quint32 v = quint32(m_data[m_pos]) | (quint32(m_data[m_pos + 1]) << 8) |
                          (quint32(m_data[m_pos + 2]) << 16) | (quint32(m_data[m_pos + 3]) << 24);
        m_pos += 4;
        return v;
    }
    qint32 s32() { return qint32(u32()); }
    QByteArray bytes(qsizetype n)
    {
        need(n);
        QByteArray out(reinterpret_cast<const char*>(m_data + m_pos), n);
        m_pos += n;
        return out;
    }
    // A NUL-terminated string; a missing terminator is damage.
    QByteArray stringz()
    {
        for (qsizetype i = m_pos; i < m_end; ++i) {
            if (m_data[i] == 0) {
                QByteArray out(reinterpret_cast<const char*>(m_data + m_pos), i - m_pos);
                m_pos = i + 1;
                return out;
            }
        }
        throw Damaged{};
    }
    // The format's compressed numbers: the lowest bit tells whether one or two
    // units follow; the value is the rest divided by two.
    quint16 compressedUShort()
    {
        const quint8 b = u8();
        if ((b & 1) == 0)
            return b / 2;
        return quint16(b / 2 + 128 * u8());
    }
    qint16 compressedShort()
    {
        const quint8 b = u8();
        if ((b & 1) == 0)
            return qint16(b / 2 - 64);
        return qint16(b / 2 + 128 * u8() - 16384);
    }
    quint32 compressedULong()
    {
        const quint16 w = u16();
        if ((w & 1) == 0)
            return w / 2;
        return quint32(w / 2) + 32768u * u16();
    }
    qint32 compressedLong()
    {
        const quint16 w = u16();
        if ((w & 1) == 0)
            return qint32(w / 2) - 0x4000;
        return qint32(quint32(w / 2) + 32768u * u16()) - 0x40000000;
    }

private:
    const uchar* m_data;
    qsizetype m_pos;
    qsizetype m_end;
};

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

// Windows character-set numbers of the system data to code pages.
QString codePageOfCharset(quint16 charset)
{
    switch (charset) {
    case 238: return QStringLiteral("windows-1250");
    case 204: return QStringLiteral("windows-1251");
    case 161: return QStringLiteral("windows-1253");
    case 162: return QStringLiteral("windows-1254");
    case 177: return QStringLiteral("windows-1255");
    case 178: return QStringLiteral("windows-1256");
    case 186: return QStringLiteral("windows-1257");
    case 163: return QStringLiteral("windows-1258");
    case 222: return QStringLiteral("windows-874");
    case 128: return QStringLiteral("windows-932");
    case 129: return QStringLiteral("windows-949");
    case 134: return QStringLiteral("windows-936");
    case 136: return QStringLiteral("windows-950");
    default: return {}; // ANSI (0) and default (1) say nothing about the author's code page
    }
}

QString codePageOfLcid(quint16 lcid)
{
    switch (lcid & 0x3FF) {
    case 0x05: case 0x1B: case 0x15: case 0x0E: case 0x24: case 0x1A: case 0x18: case 0x1C:
        return QStringLiteral("windows-1250");
    case 0x19: case 0x22: case 0x23: case 0x02: case 0x2F:
        return QStringLiteral("windows-1251");
    case 0x08: return QStringLiteral("windows-1253");
    case 0x1F: return QStringLiteral("windows-1254");
    case 0x0D: return QStringLiteral("windows-1255");
    case 0x01: return QStringLiteral("windows-1256");
    case 0x25: case 0x26: case 0x27: return QStringLiteral("windows-1257");
    case 0x2A: return QStringLiteral("windows-1258");
    case 0x1E: return QStringLiteral("windows-874");
    case 0x11: return QStringLiteral("windows-932");
    case 0x12: return QStringLiteral("windows-949");
    case 0x04: return lcid == 0x0404 ? QStringLiteral("windows-950") : QStringLiteral("windows-936");
    case 0x09: case 0x07: case 0x0C: case 0x0A: case 0x10: case 0x13: case 0x16: case 0x1D: case 0x14:
    case 0x06: case 0x0B: case 0x0F: case 0x03:
        return QStringLiteral("windows-1252");
    default: return {};
    }
}

// Walks the leaf pages of one of the format's B+ trees in key order and
// hands each entry's reader to readEntry, which consumes exactly one entry.
void walkBtree(const QByteArray& file, const std::function<void(Reader&)>& readEntry)
{
    Reader header(file);
    if (header.u16() != 0x293B)
        throw Damaged{};
    header.skip(2); // flags
    const qsizetype pageSize = header.u16();
    header.skip(16 + 2 + 2); // structure, must-be-zero, page splits
    const qint16 rootPage = header.s16();
    header.skip(2);
    const qint16 totalPages = header.s16();
    const qint16 levels = header.s16();
    header.skip(4);
    if (totalPages <= 0 || levels <= 0)
        return; // an empty tree
    if (pageSize < 8 || levels > 32)
        throw Damaged{};
    const qsizetype firstPage = header.pos();
    auto page = [&](qint16 number) {
        if (number < 0 || number >= totalPages)
            throw Damaged{};
        return Reader(file, firstPage + number * pageSize, pageSize);
    };

    qint16 current = rootPage;
    for (int level = 1; level < levels; ++level) {
        Reader index = page(current);
        index.skip(4);
        current = index.s16(); // the child for keys below the first key leads to the first leaf
    }
    for (int visited = 0; current != -1; ++visited) {
        if (visited >= totalPages)
            throw Damaged{}; // a loop in the leaf chain
        Reader leaf = page(current);
        leaf.skip(2);
        const qint16 entries = leaf.s16();
        leaf.skip(2);
        const qint16 next = leaf.s16();
        if (entries < 0)
            throw Damaged{};
        for (int i = 0; i < entries; ++i)
            readEntry(leaf);
        current = next;
    }
}

// The bits of the phrase index: 32-bit little-endian words, lowest bit first.
class BitReader {
public:
    BitReader(Reader& reader) : m_reader(reader) {}
    bool bit()
    {
        if (m_mask == 0) {
            m_word = m_reader.u32();
            m_mask = 1;
        }
        const bool set = (m_word & m_mask) != 0;
        m_mask <<= 1;
        return set;
    }

private:
    Reader& m_reader;
    quint32 m_word = 0;
    quint32 m_mask = 0;
};

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

QString damagedText(const QString& path)
{
    return QStringLiteral("Soubor nápovědy '%1' je poškozen.").arg(path);
}

} // namespace

std::optional<QByteArray> helpLz77Decompress(const char* data, qsizetype size, qsizetype maxOut)
{
    QByteArray out;
    out.reserve(std::min<qsizetype>(maxOut, size * 9));
    const auto* in = reinterpret_cast<const uchar*>(data);
    qsizetype pos = 0;
    while (pos < size && out.size() < maxOut) {
        const uchar flags = in[pos++];
        for (int bit = 0; bit < 8 && pos < size && out.size() < maxOut; ++bit) {
            if ((flags & (1 << bit)) == 0) {
                out.append(char(in[pos++]));
                continue;
            }
            if (pos + 1 >= size)
                return out; // a half reference at the very end carries nothing
            const int word = in[pos] | (in[pos + 1] << 8);
            pos += 2;
            const qsizetype length = (word >> 12) + 3;
            const qsizetype distance = (word & 0x0FFF) + 1;
            if (distance > out.size())
                return std::nullopt;
            // Byte by byte: a reference may overlap the bytes it produces.
            for (qsizetype i = 0; i < length && out.size() < maxOut; ++i)
                out.append(out.at(out.size() - distance));
        }
    }
    return out;
}

QString HelpParagraph::plainText() const
{
    QString text;
    for (const HelpRun& run : runs)
        text += run.text;
    return text;
}

QString HelpTopic::plainText() const
{
    QStringList lines;
    for (const HelpParagraph& paragraph : paragraphs)
        lines.append(paragraph.plainText());
    return lines.join(QLatin1Char('\n'));
}

HelpFile::HelpFile(const QString& path) : m_path(path)
{
    const QFileInfo info(path);
    if (!info.exists() || !info.isFile())
        throw RunTimeError(HelpError::FileNotFound, QStringLiteral("Soubor nápovědy '%1' nebyl nalezen.").arg(path));
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw RunTimeError(HelpError::FileAccess, QStringLiteral("Soubor nápovědy '%1' nelze přečíst.").arg(path));
    const QByteArray data = file.read(MaxFileSize + 1);
    if (data.size() > MaxFileSize)
        throw RunTimeError(HelpError::InvalidFormat, QStringLiteral("Soubor '%1' není soubor nápovědy.").arg(path));
    parse(data);
}

HelpFile::HelpFile(const QByteArray& data, const QString& path) : m_path(path)
{
    parse(data);
}

void HelpFile::damaged() const
{
    throw RunTimeError(HelpError::InvalidFormat, damagedText(m_path));
}

void HelpFile::parse(const QByteArray& data)
{
    m_data = data;
    if (data.size() < FileHeaderSize || Reader(data).u32() != HelpMagic)
        throw RunTimeError(HelpError::InvalidFormat, QStringLiteral("Soubor '%1' není soubor nápovědy.").arg(m_path));
    try {
        Reader header(data, 4);
        const quint32 directoryStart = header.u32();
        header.skip(4);
        const quint32 declaredSize = header.u32();
        if (declaredSize > quint32(data.size()))
            throw Damaged{}; // cut short
        Reader directoryHeader(data, directoryStart, InternalHeaderSize);
        directoryHeader.skip(4);
        const quint32 used = directoryHeader.u32();
        const QByteArray directory = Reader(data, directoryStart + InternalHeaderSize, used).bytes(used);
        walkBtree(directory, [this](Reader& entry) {
            const QByteArray name = entry.stringz();
            m_directory.emplace(name, qsizetype(entry.u32()));
        });
        if (!hasInternalFile("|SYSTEM") || !hasInternalFile("|TOPIC"))
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
    m_data.clear(); // everything needed later lives in the decoded parts
}

bool HelpFile::hasInternalFile(const char* name) const
{
    return m_directory.count(QByteArray(name)) != 0;
}

QByteArray HelpFile::internalFile(const char* name) const
{
    const auto found = m_directory.find(QByteArray(name));
    if (found == m_directory.end())
        return {};
    Reader header(m_data, found->second, InternalHeaderSize);
    header.skip(4);
    const quint32 used = header.u32();
    return Reader(m_data, found->second + InternalHeaderSize, used).bytes(used);
}

void HelpFile::readSystem()
{
    const QByteArray system = internalFile("|SYSTEM");
    Reader reader(system);
    if (reader.u16() != 0x036C)
        throw Damaged{};
    m_minor = reader.u16();
    reader.skip(2 + 4); // major, generation date
    const quint16 flags = reader.u16();
    if (m_minor <= 16)
        throw RunTimeError(HelpError::InvalidFormat,
                           QStringLiteral("Soubor nápovědy '%1' má nepodporovanou verzi formátu.").arg(m_path));
    m_compressed = flags == 4 || flags == 8;
    m_blockSize = flags == 8 ? 2048 : 4096;
    m_decompressSize = PositionUnit;

    QByteArray title;
    QString fromCharset;
    QString fromLcid;
    while (reader.remaining() >= 4) {
        const quint16 type = reader.u16();
        const quint16 size = reader.u16();
        Reader record(system, reader.pos(), std::min<qsizetype>(size, reader.remaining()));
        reader.skip(std::min<qsizetype>(size, reader.remaining()));
        if (type == 1) {
            title = record.bytes(record.remaining());
            title.truncate(title.indexOf('\0') < 0 ? title.size() : title.indexOf('\0'));
        } else if (type == 11 && record.remaining() >= 2) {
            fromCharset = codePageOfCharset(record.u16());
        } else if (type == 9) {
            // The first value that is a real locale number (the others are flags).
            while (fromLcid.isEmpty() && record.remaining() >= 2) {
                const quint16 value = record.u16();
                if (value >= 0x0400)
                    fromLcid = codePageOfLcid(value);
            }
        }
    }
    const QString chosen = !fromCharset.isEmpty() ? fromCharset : fromLcid;
    if (!chosen.isEmpty() && openConverter(chosen))
        m_codePage = chosen;
    m_title = decode(title);
}

void HelpFile::readPhrases()
{
    if (hasInternalFile("|Phrases")) {
        const QByteArray file = internalFile("|Phrases");
        Reader reader(file);
        const quint16 count = reader.u16();
        reader.skip(2);
        const qint32 size = reader.s32();
        if (size < 0 || size > MaxPhraseData)
            throw Damaged{};
        std::vector<quint16> offsets(count + 1);
        for (quint16& offset : offsets)
            offset = reader.u16();
        const auto text = helpLz77Decompress(file.constData() + reader.pos(), reader.remaining(), size);
        if (!text)
            throw Damaged{};
        // Offsets count from the start of the offset table, which the text follows.
        const qsizetype base = offsets[0];
        for (int i = 0; i < count; ++i) {
            const qsizetype begin = offsets[i] - base;
            const qsizetype end = offsets[i + 1] - base;
            if (begin < 0 || end < begin || end > text->size())
                throw Damaged{};
            m_phrases.push_back(text->mid(begin, end - begin));
        }
    } else if (hasInternalFile("|PhrIndex") && hasInternalFile("|PhrImage")) {
        m_hall = true;
        const QByteArray index = internalFile("|PhrIndex");
        const QByteArray image = internalFile("|PhrImage");
        Reader reader(index);
        reader.skip(4);
        const quint32 count = reader.u32();
        reader.skip(4);
        const quint32 imageSize = reader.u32();
        const quint32 imageCompressed = reader.u32();
        reader.skip(4);
        const int bitCount = reader.u16() & 0x0F;
        reader.skip(2);
        if (imageSize > quint32(MaxPhraseData) || count > quint32(index.size()) * 8)
            throw Damaged{};
        QByteArray text;
        if (imageSize != imageCompressed) {
            const auto unpacked = helpLz77Decompress(image.constData(), image.size(), imageSize);
            if (!unpacked)
                throw Damaged{};
            text = *unpacked;
        } else {
            text = image.left(imageSize);
        }
        BitReader bits(reader);
        qsizetype offset = 0;
        for (quint32 i = 0; i < count; ++i) {
            qsizetype length = 1;
            while (bits.bit()) {
                length += qsizetype(1) << bitCount;
                if (length > text.size())
                    throw Damaged{};
            }
            for (int b = 0; b < bitCount; ++b) {
                if (bits.bit())
                    length += qsizetype(1) << b;
            }
            if (offset + length > text.size())
                throw Damaged{};
            m_phrases.push_back(text.mid(offset, length));
            offset += length;
        }
    }
}

void HelpFile::readFonts()
{
    if (!hasInternalFile("|FONT"))
        return;
    const QByteArray file = internalFile("|FONT");
    // Fonts only add bold and italic; a damaged font table leaves plain text.
    try {
        Reader reader(file);
        reader.skip(2);
        const quint16 count = reader.u16();
        const quint16 facenamesOffset = reader.u16();
        const quint16 descriptorsOffset = reader.u16();
        Reader descriptors(file, descriptorsOffset);
        std::vector<FontStyle> fonts;
        for (int i = 0; i < count; ++i) {
            FontStyle style;
            if (facenamesOffset >= 12) {
                // Descriptors with a weight and a separate italic byte.
                const qsizetype weightAt = facenamesOffset >= 16 ? 28 : 30;
                const qsizetype italicAt = weightAt + 4;
                Reader at(file, descriptors.pos(), 42);
                at.skip(weightAt);
                style.bold = at.s16() >= 600;
                at.skip(italicAt - weightAt - 2);
                style.italic = at.u8() != 0;
                descriptors.skip(42);
            } else {
                const quint8 attributes = descriptors.u8();
                descriptors.skip(10);
                style.bold = attributes & 0x01;
                style.italic = attributes & 0x02;
            }
            fonts.push_back(style);
        }
        m_fonts = std::move(fonts);
    } catch (const Damaged&) {
        m_fonts.clear();
    }
}

void HelpFile::readTopicStream()
{
    const QByteArray topic = internalFile("|TOPIC");
    for (qsizetype start = 0; start + BlockHeaderSize <= topic.size(); start += m_blockSize) {
        const qsizetype size = std::min(m_blockSize, topic.size() - start) - BlockHeaderSize;
        const char* data = topic.constData() + start + BlockHeaderSize;
        m_blockStart.push_back(m_topic.size());
        if (m_compressed) {
            // A block's position range holds its header too; the rest of the
            // stored bytes may be padding that decompresses into nothing useful.
            const auto block = helpLz77Decompress(data, size, m_decompressSize - BlockHeaderSize);
            if (!block)
                throw Damaged{};
            m_topic += *block;
        } else {
            m_topic.append(data, size);
        }
    }
    m_blockStart.push_back(m_topic.size());
}

void HelpFile::readLinks()
{
    const qsizetype blocks = qsizetype(m_blockStart.size()) - 1;
    auto streamPos = [&](quint32 topicPos, qsizetype& block) -> qsizetype {
        if (topicPos < BlockHeaderSize)
            throw Damaged{};
        block = qsizetype(topicPos - BlockHeaderSize) / m_decompressSize;
        const qsizetype inBlock = qsizetype(topicPos - BlockHeaderSize) % m_decompressSize;
        if (block >= blocks || m_blockStart[block] + inBlock >= m_blockStart[block + 1])
            throw Damaged{};
        return m_blockStart[block] + inBlock;
    };
    if (m_topic.isEmpty())
        return;

    quint32 topicPos = BlockHeaderSize;
    qsizetype previous = -1;
    qsizetype currentBlock = -1;
    quint32 characters = 0;
    std::vector<Link> links;
    // Each link starts after the one before, so the walk ends within the stream.
    while (true) {
        qsizetype block = 0;
        const qsizetype pos = streamPos(topicPos, block);
        if (pos <= previous)
            throw Damaged{};
        Reader header(m_topic, pos);
        const qint32 blockSize = header.s32();
        const qint32 dataLen2 = header.s32();
        header.skip(4);
        const quint32 next = header.u32();
        const qint32 dataLen1 = header.s32();
        if (next == 0 || next == 0xFFFFFFFF)
            break; // the closing link carries no data
        Link link;
        link.pos = pos;
        link.type = header.u8();
        if (dataLen1 < LinkHeaderSize || blockSize < dataLen1 || blockSize > m_topic.size() - pos || dataLen2 < 0 ||
            dataLen2 > MaxLinkText)
            throw Damaged{};
        link.data1 = pos + LinkHeaderSize;
        link.size1 = dataLen1 - LinkHeaderSize;
        link.data2 = pos + dataLen1;
        link.size2 = blockSize - dataLen1;
        link.expanded2 = dataLen2;
        if (block != currentBlock) {
            currentBlock = block;
            characters = 0;
        }
        // Topic offsets count characters from the first link that starts in the block.
        link.offset = quint32(block) * 0x8000u + characters;
        if (link.type == 0x20 || link.type == 0x23) {
            Reader data1(m_topic, link.data1, link.size1);
            data1.compressedULong();
            characters += data1.compressedUShort();
        }
        links.push_back(link);
        previous = pos;
        topicPos = next;
    }
    m_links = std::move(links);

    for (qsizetype i = 0; i < qsizetype(m_links.size()); ++i) {
        const Link& link = m_links[i];
        if (link.type == 2) {
            if (!m_topics.empty())
                m_topics.back().endLink = i;
            Topic topic;
            const QByteArray text = expandLinkData2(link);
            const qsizetype end = text.indexOf('\0');
            topic.title = decode(end < 0 ? text : text.left(end));
            topic.offset = link.offset;
            topic.firstLink = i;
            topic.endLink = qsizetype(m_links.size());
            m_topics.push_back(topic);
        }
    }
    for (qsizetype i = 0; i < qsizetype(m_topics.size()); ++i)
        m_topicsByOffset.emplace_back(m_topics[i].offset, i);
    std::stable_sort(m_topicsByOffset.begin(), m_topicsByOffset.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
}

QByteArray HelpFile::expandLinkData2(const Link& link) const
{
    Reader reader(m_topic, link.data2, link.size2);
    if (link.expanded2 <= link.size2)
        return reader.bytes(link.expanded2);
    if (m_phrases.empty())
        throw Damaged{};
    QByteArray out;
    auto phrase = [&](qsizetype number) {
        if (number >= qsizetype(m_phrases.size()))
            throw Damaged{};
        out += m_phrases[number];
    };
    while (!reader.atEnd() && out.size() < link.expanded2) {
        const quint8 c = reader.u8();
        if (!m_hall) {
            if (c == 0 || c >= 0x10) {
                out.append(char(c));
            } else {
                const int number = (c - 1) * 256 + reader.u8();
                phrase(number / 2);
                if (number & 1)
                    out.append(' ');
            }
        } else if ((c & 1) == 0) {
            phrase(c / 2);
        } else if ((c & 3) == 1) {
            phrase(128 + (c >> 2) * 256 + reader.u8());
        } else if ((c & 7) == 3) {
            out += reader.bytes(c / 8 + 1);
        } else if ((c & 15) == 7) {
            out.append(c / 16 + 1, ' ');
        } else {
            out.append(c / 16 + 1, '\0');
        }
    }
    out.truncate(link.expanded2);
    return out;
}

QString HelpFile::decode(const QByteArray& bytes) const
{
    if (bytes.isEmpty())
        return {};
    const ConverterPtr converter = openConverter(m_codePage);
    if (!converter)
        return QString::fromLatin1(bytes);
    std::vector<UChar> out(size_t(bytes.size()) * 2 + 2);
    UErrorCode status = U_ZERO_ERROR;
    const int32_t length = ucnv_toUChars(converter.get(), out.data(), int32_t(out.size()), bytes.constData(),
                                         int32_t(bytes.size()), &status);
    if (U_FAILURE(status))
        return QString::fromLatin1(bytes);
    return QString(reinterpret_cast<const QChar*>(out.data()), length);
}

void HelpFile::readContextMap()
{
    if (!hasInternalFile("|CTXOMAP"))
        return;
    const QByteArray file = internalFile("|CTXOMAP");
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
    if (!hasInternalFile("|CONTEXT"))
        return;
    walkBtree(internalFile("|CONTEXT"), [this](Reader& entry) {
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

HelpTopic HelpFile::topicByContext(qint32 context) const
{
    for (const HelpContextEntry& entry : m_contextMap) {
        if (entry.context != context)
            continue;
        if (const auto topic = topicAtOffset(entry.topicOffset))
            return *topic;
        break;
    }
    throw RunTimeError(HelpError::TopicNotFound,
                       QStringLiteral("Téma %1 v souboru nápovědy nebylo nalezeno.").arg(context));
}

std::optional<HelpTopic> HelpFile::topicAtOffset(quint32 offset) const
{
    const auto index = topicIndexAt(offset);
    if (!index)
        return std::nullopt;
    try {
        return buildTopic(m_topics[*index]);
    } catch (const Damaged&) {
        damaged();
    }
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

quint32 HelpFile::contextHash(const QByteArray& contextId)
{
    if (contextId.isEmpty())
        return 1;
    quint32 hash = 0;
    for (const char ch : contextId)
        hash = hash * 43 + quint32(qint32(hashValue(uchar(ch))));
    return hash;
}

HelpTopic HelpFile::buildTopic(const Topic& topic) const
{
    HelpTopic result;
    result.title = topic.title;
    result.offset = topic.offset;
    FontStyle style;
    for (qsizetype i = topic.firstLink + 1; i < topic.endLink; ++i) {
        const Link& link = m_links[i];
        if (link.type == 0x20 || link.type == 0x23)
            appendDisplayRecord(link, style, result);
    }
    return result;
}

void HelpFile::appendDisplayRecord(const Link& link, FontStyle& style, HelpTopic& topic) const
{
    Reader format(m_topic, link.data1, link.size1);
    const QByteArray text = expandLinkData2(link);
    qsizetype textPos = 0;
    auto nextString = [&]() {
        if (textPos >= text.size())
            return QByteArray();
        qsizetype end = text.indexOf('\0', textPos);
        if (end < 0)
            end = text.size();
        const QByteArray piece = text.mid(textPos, end - textPos);
        textPos = end + 1;
        return piece;
    };

    // The hotspot and the paragraph being built; the font carries on from record to record.
    HelpJump jump;
    HelpParagraph paragraph;
    auto put = [&](const QString& piece) {
        if (piece.isEmpty())
            return;
        if (!paragraph.runs.isEmpty()) {
            HelpRun& last = paragraph.runs.last();
            if (last.bold == style.bold && last.italic == style.italic && last.jump == jump) {
                last.text += piece;
                return;
            }
        }
        paragraph.runs.append(HelpRun{piece, style.bold, style.italic, jump});
    };
    auto endParagraph = [&](HelpParagraph::Alignment alignment) {
        paragraph.alignment = alignment;
        topic.paragraphs.append(paragraph);
        paragraph = HelpParagraph();
    };

    format.compressedULong(); // topic size
    format.compressedUShort(); // characters in this record
    const bool table = link.type == 0x23;
    if (table) {
        const quint8 columns = format.u8();
        const quint8 tableType = format.u8();
        if (tableType == 0 || tableType == 2)
            format.skip(2);
        format.skip(qsizetype(columns) * 4);
    }
    bool more = true;
    while (more) {
        if (table) {
            if (format.s16() == -1)
                break;
            format.skip(2 + 1);
        }
        format.skip(1 + 1 + 2);
        const quint16 bits = format.u16();
        if (bits & 0x0001)
            format.compressedULong();
        for (quint16 flag = 0x0002; flag <= 0x0040; flag <<= 1) {
            if (bits & flag)
                format.compressedShort();
        }
        if (bits & 0x0100)
            format.skip(1 + 2);
        if (bits & 0x0200) {
            const qint16 stops = format.compressedShort();
            for (int i = 0; i < stops; ++i) {
                if (format.compressedUShort() & 0x4000)
                    format.compressedUShort();
            }
        }
        const auto alignment = (bits & 0x0800)   ? HelpParagraph::Alignment::Center
                               : (bits & 0x0400) ? HelpParagraph::Alignment::Right
                                                 : HelpParagraph::Alignment::Left;

        bool cellDone = false;
        while (!cellDone) {
            put(decode(nextString()));
            if (format.atEnd()) {
                more = false;
                break;
            }
            const quint8 command = format.u8();
            switch (command) {
            case 0xFF:
                cellDone = true;
                more = table;
                break;
            case 0x20: format.skip(4); break;
            case 0x21: format.skip(2); break;
            case 0x80: {
                const quint16 font = format.u16();
                if (font < m_fonts.size())
                    style = m_fonts[font];
                break;
            }
            case 0x81: put(QStringLiteral("\n")); break;
            case 0x82: endParagraph(alignment); break;
            case 0x83: put(QStringLiteral("\t")); break;
            case 0x86: case 0x87: case 0x88: {
                const quint8 type = format.u8();
                const qint32 size = format.compressedLong();
                if (type == 0x22)
                    format.compressedUShort();
                format.skip(size);
                break;
            }
            case 0x89: jump = HelpJump(); break;
            case 0x8B: put(QString(QChar(0x00A0))); break;
            case 0x8C: break;
            case 0xC8: case 0xCC: {
                // The length counts the macro string with its terminating NUL.
                format.skip(format.s16());
                jump = HelpJump();
                break;
            }
            case 0xE0: case 0xE1:
                jump = HelpJump{HelpJump::Kind::TopicOffset, format.u32(), command == 0xE0};
                break;
            case 0xE2: case 0xE3: case 0xE6: case 0xE7:
                jump = HelpJump{HelpJump::Kind::ContextHash, format.u32(), command == 0xE2 || command == 0xE6};
                break;
            case 0xEA: case 0xEB: case 0xEE: case 0xEF: {
                const qint16 size = format.s16();
                if (size < 0)
                    throw Damaged{};
                Reader target(m_topic, format.pos(), size);
                format.skip(size);
                const quint8 type = target.u8();
                const quint32 value = target.u32();
                // Types 4 and 6 name another file, which this reader does not follow.
                jump = (type == 0 || type == 1)
                           ? HelpJump{HelpJump::Kind::ContextHash, value, command == 0xEA || command == 0xEB}
                           : HelpJump();
                break;
            }
            default:
                // An unknown command: the rest of the record cannot be read safely.
                cellDone = true;
                more = false;
                break;
            }
        }
        if (!paragraph.runs.isEmpty())
            endParagraph(alignment);
    }
}
