// The topic stream of a help file: its blocks, the chain of links (topic
// headers and display records) and the commands of a display record.
#include "HelpFile.h"

#include "Errors.h"

#include <algorithm>

using HelpData::Damaged;
using HelpData::Reader;

namespace {

constexpr qsizetype BlockHeaderSize = 12;
constexpr qsizetype LinkHeaderSize = 21;
// Topic positions count 0x4000 per topic block, compressed or not.
constexpr qsizetype PositionUnit = 0x4000;
// Upper bound that keeps a damaged file from asking for huge amounts of memory.
constexpr qsizetype MaxLinkText = 4 * 1024 * 1024;

} // namespace

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

struct HelpFile::RecordState {
    HelpDecoding decoding = HelpDecoding::Lenient;
    FontStyle style;
    int table = -1; // the table being filled, while records of tables follow each other
    int tables = 0;
    int row = 0;
    int embedded = 0; // pictures embedded in the topic so far
    bool inTable = false;
    quint32 scroll = 0xFFFFFFFF; // records before this position are in the non-scrolling region
};

void HelpFile::readTopicStream()
{
    const QByteArray topic = m_container.file("|TOPIC");
    for (qsizetype start = 0; start + BlockHeaderSize <= topic.size(); start += m_blockSize) {
        const qsizetype size = std::min(m_blockSize, topic.size() - start) - BlockHeaderSize;
        const char* data = topic.constData() + start + BlockHeaderSize;
        m_blockStart.push_back(m_topic.size());
        if (m_compressed) {
            // A block's position range holds its header too; the rest of the
            // stored bytes may be padding that decompresses into nothing useful.
            const auto block = helpLz77Decompress(data, size, PositionUnit - BlockHeaderSize);
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
        block = qsizetype(topicPos - BlockHeaderSize) / PositionUnit;
        const qsizetype inBlock = qsizetype(topicPos - BlockHeaderSize) % PositionUnit;
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
        Link link;
        link.pos = pos;
        link.topicPos = topicPos;
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
        if (next == 0 || next == 0xFFFFFFFF)
            break;
        previous = pos;
        topicPos = next;
    }
    m_links = std::move(links);

    for (qsizetype i = 0; i < qsizetype(m_links.size()); ++i) {
        const Link& link = m_links[i];
        if (link.type != 2)
            continue;
        const QByteArray text = expandLinkData2(link);
        // The file ends with an empty header that closes the last topic.
        if (i + 1 == qsizetype(m_links.size()) && text.isEmpty())
            break;
        if (!m_topics.empty())
            m_topics.back().endLink = i;
        Topic topic;
        const qsizetype end = text.indexOf('\0');
        topic.title = decode(end < 0 ? text : text.left(end));
        topic.offset = link.offset;
        topic.firstLink = i;
        try {
            // The header's non-scrolling and scrolling starts (after its size, the browse sequence
            // and the topic number); no non-scrolling region when the first is -1.
            Reader header(m_topic, link.data1, link.size1);
            header.skip(16);
            const quint32 nonScroll = header.u32();
            const quint32 scroll = header.u32();
            if (nonScroll != 0xFFFFFFFF)
                topic.scroll = scroll;
        } catch (const Damaged&) {
        }
        topic.endLink = qsizetype(m_links.size());
        m_topics.push_back(topic);
    }
    for (qsizetype i = 0; i < qsizetype(m_topics.size()); ++i)
        m_topicsByOffset.emplace_back(m_topics[i].offset, i);
    std::stable_sort(m_topicsByOffset.begin(), m_topicsByOffset.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
}

QByteArray HelpFile::expandLinkData2(const Link& link) const
{
    return m_phrases.expand(m_topic, link.data2, link.size2, link.expanded2);
}

HelpTopic HelpFile::buildTopic(qsizetype index, HelpDecoding decoding) const
{
    const Topic& topic = m_topics[index];
    HelpTopic result;
    result.title = topic.title;
    result.offset = topic.offset;
    result.order = int(index + 1);
    RecordState state;
    state.decoding = decoding;
    state.scroll = topic.scroll;
    try {
        for (qsizetype i = topic.firstLink + 1; i < topic.endLink; ++i) {
            const Link& link = m_links[i];
            if (link.type == 0x20 || link.type == 0x23) {
                appendDisplayRecord(link, state, result);
            } else if (decoding == HelpDecoding::Strict && link.type != 0x01 && link.type != 0x02) {
                throw Damaged{};
            }
        }
    } catch (const Damaged&) {
        if (decoding == HelpDecoding::Strict)
            throw Errors::helpTopicUnreadable(index + 1, m_path);
        damaged();
    }
    return result;
}

void HelpFile::appendDisplayRecord(const Link& link, RecordState& state, HelpTopic& topic) const
{
    const bool strict = state.decoding == HelpDecoding::Strict;
    Reader format(m_topic, link.data1, link.size1);
    const QByteArray text = expandLinkData2(link);
    qsizetype textPos = 0;
    auto nextString = [&]() {
        if (textPos >= text.size())
            return QByteArray();
        qsizetype end = text.indexOf('\0', textPos);
        if (end < 0) {
            if (strict)
                throw Damaged{}; // the record's text ends inside a string
            end = text.size();
        }
        const QByteArray piece = text.mid(textPos, end - textPos);
        textPos = end + 1;
        return piece;
    };

    // The hotspot and the paragraph being built; the font carries on from record to record.
    FontStyle& style = state.style;
    HelpJump jump;
    HelpParagraph paragraph;
    HelpParagraph shape; // the layout the record's paragraph format gives; copied into each paragraph
    auto put = [&](const QString& piece, const QString& picture = QString(),
                   HelpRun::Placement placement = HelpRun::Placement::InText) {
        if (piece.isEmpty() && picture.isEmpty())
            return;
        if (!paragraph.runs.isEmpty() && picture.isEmpty()) {
            HelpRun& last = paragraph.runs.last();
            if (last.picture.isEmpty() && last.bold == style.bold && last.italic == style.italic &&
                last.underline == style.underline && last.points == style.points && last.jump == jump &&
                last.face == style.face) {
                last.text += piece;
                return;
            }
        }
        paragraph.runs.append(HelpRun{piece, style.bold, style.italic, jump, style.underline, style.points, picture,
                                      placement, style.face});
    };
    int column = 0;
    const bool nonScrolling = state.scroll != 0xFFFFFFFF && link.topicPos < state.scroll;
    auto endParagraph = [&](HelpParagraph::Alignment alignment) {
        paragraph.alignment = alignment;
        paragraph.leftIndent = shape.leftIndent;
        paragraph.rightIndent = shape.rightIndent;
        paragraph.firstLineIndent = shape.firstLineIndent;
        paragraph.spaceAbove = shape.spaceAbove;
        paragraph.spaceBelow = shape.spaceBelow;
        paragraph.tabStops = shape.tabStops;
        paragraph.border = shape.border;
        paragraph.nonScrolling = nonScrolling;
        if (link.type == 0x23) {
            paragraph.table = state.table;
            paragraph.row = state.row;
            paragraph.column = column;
        }
        topic.paragraphs.append(paragraph);
        paragraph = HelpParagraph();
    };

    format.compressedULong();  // topic size
    format.compressedUShort(); // characters in this record
    const bool table = link.type == 0x23;
    if (table) {
        if (!state.inTable) {
            state.table = state.tables++;
            state.row = 0;
        } else {
            ++state.row;
        }
        const quint8 columns = format.u8();
        const quint8 tableType = format.u8();
        if (tableType == 0 || tableType == 2)
            format.skip(2); // the least width of the table
        HelpTable layout;
        layout.relative = tableType == 0 || tableType == 2;
        for (int i = 0; i < columns; ++i) {
            layout.columnWidths.append(format.s16());
            layout.columnGaps.append(format.s16());
        }
        // The first row's columns size the table (rows of one table repeat them).
        if (state.row == 0) {
            while (topic.tables.size() <= state.table)
                topic.tables.append(HelpTable());
            topic.tables[state.table] = layout;
        }
    }
    state.inTable = table;
    bool more = true;
    while (more) {
        if (table) {
            column = format.s16();
            if (column == -1)
                break;
            format.skip(2 + 1);
        }
        format.skip(1 + 1 + 2);
        const quint16 bits = format.u16();
        if (bits & 0x0001)
            format.compressedULong();
        shape = HelpParagraph();
        int* const distances[] = {&shape.spaceAbove, &shape.spaceBelow,  nullptr,
                                  &shape.leftIndent, &shape.rightIndent, &shape.firstLineIndent};
        for (int i = 0; i < 6; ++i) {
            if (!(bits & (0x0002 << i)))
                continue;
            const int value = format.compressedShort();
            if (distances[i])
                *distances[i] = value;
        }
        if (bits & 0x0100) {
            const quint8 sides = format.u8();
            format.skip(2); // the border's width
            shape.border = sides & 0x1F;
        }
        if (bits & 0x0200) {
            const qint16 stops = format.compressedShort();
            for (int i = 0; i < stops; ++i) {
                const quint16 position = format.compressedUShort();
                HelpTabStop stop{position & 0x3FFF, HelpTabStop::Kind::Left};
                if (position & 0x4000) {
                    const quint16 kind = format.compressedUShort();
                    stop.kind = kind == 1   ? HelpTabStop::Kind::Right
                                : kind == 2 ? HelpTabStop::Kind::Center
                                            : HelpTabStop::Kind::Left;
                }
                shape.tabStops.append(stop);
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
            case 0x20:
                format.skip(4);
                break;
            case 0x21:
                format.skip(2);
                break;
            case 0x80: {
                const quint16 font = format.u16();
                if (font < m_fonts.size())
                    style = m_fonts[font];
                break;
            }
            case 0x81:
                put(QStringLiteral("\n"));
                break;
            case 0x82:
                endParagraph(alignment);
                break;
            case 0x83:
                put(QStringLiteral("\t"));
                break;
            case 0x86:
            case 0x87:
            case 0x88: {
                const quint8 type = format.u8();
                const qint32 size = format.compressedLong();
                if (type == 0x22)
                    format.compressedUShort(); // hot spots
                Reader data(m_topic, format.pos(), size);
                format.skip(size);
                if (type != 0x03 && type != 0x22)
                    break; // a window of another program: nothing to draw
                const auto placement = command == 0x87   ? HelpRun::Placement::Left
                                       : command == 0x88 ? HelpRun::Placement::Right
                                                         : HelpRun::Placement::InText;
                if (data.u16() == 0) {
                    put(QString(), QStringLiteral("bm%1").arg(data.u16()), placement);
                } else {
                    // An embedded picture container follows, in some files after a picture number.
                    QByteArray picture = data.bytes(data.remaining());
                    auto container = [](const QByteArray& bytes) {
                        return bytes.startsWith("lP") || bytes.startsWith("lp");
                    };
                    if (!container(picture) && container(picture.mid(2)))
                        picture.remove(0, 2);
                    const QString id = QStringLiteral("e%1").arg(++state.embedded);
                    topic.embeddedPictures[id] = picture;
                    put(QString(), id, placement);
                }
                break;
            }
            case 0x89:
                jump = HelpJump();
                break;
            case 0x8B:
                put(QString(QChar(0x00A0)));
                break;
            case 0x8C:
                put(QString(QChar(0x2011)));
                break;
            case 0xC8:
            case 0xCC:
                // The length counts the macro string with its terminating NUL.
                format.skip(format.s16());
                jump = HelpJump();
                break;
            case 0xE0:
            case 0xE1:
                jump = HelpJump{HelpJump::Kind::TopicOffset, format.u32(), command == 0xE0};
                break;
            case 0xE2:
            case 0xE3:
            case 0xE6:
            case 0xE7:
                jump = HelpJump{HelpJump::Kind::ContextHash, format.u32(), command == 0xE2 || command == 0xE6};
                break;
            case 0xEA:
            case 0xEB:
            case 0xEE:
            case 0xEF: {
                const qint16 size = format.s16();
                if (size < 0)
                    throw Damaged{};
                Reader target(m_topic, format.pos(), size);
                format.skip(size);
                const quint8 type = target.u8();
                const quint32 value = target.u32();
                // Types 4 and 6 name another file, which this reader does not follow.
                jump = (type == 0 || type == 1)
                           ? HelpJump{HelpJump::Kind::ContextHash, value, command == 0xEA || command == 0xEE}
                           : HelpJump();
                break;
            }
            default:
                if (strict)
                    throw Damaged{};
                // The rest of the record's commands cannot be read safely: its text still shows, unformatted.
                jump = HelpJump();
                while (textPos < text.size())
                    put(decode(nextString()));
                cellDone = true;
                more = false;
                break;
            }
        }
        if (!paragraph.runs.isEmpty())
            endParagraph(alignment);
    }
    if (textPos < text.size()) {
        // Text the commands did not account for is shown, never dropped, except in the strict mode.
        const QByteArray rest = text.mid(textPos);
        if (strict && rest.count('\0') != rest.size())
            throw Damaged{};
        while (textPos < text.size())
            put(decode(nextString()));
        if (!paragraph.runs.isEmpty())
            endParagraph(HelpParagraph::Alignment::Left);
    }
}
