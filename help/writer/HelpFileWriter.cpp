#include "HelpFileWriter.h"

#include "HelpFile.h"

#include <unicode/ucnv.h>

#include <algorithm>
#include <map>
#include <memory>
#include <stdexcept>
#include <vector>

namespace HelpWriter {
namespace {

void put8(QByteArray& b, quint8 v)
{
    b.append(char(v));
}
void put16(QByteArray& b, quint16 v)
{
    b.append(char(v & 0xFF));
    b.append(char(v >> 8));
}
void put32(QByteArray& b, quint32 v)
{
    put16(b, quint16(v & 0xFFFF));
    put16(b, quint16(v >> 16));
}
void set32(QByteArray& b, qsizetype at, quint32 v)
{
    for (int i = 0; i < 4; ++i)
        b[at + i] = char((v >> (8 * i)) & 0xFF);
}
void putCompressedUShort(QByteArray& b, quint16 v)
{
    if (v < 128) {
        put8(b, quint8(v * 2));
    } else {
        put8(b, quint8((v & 0x7F) * 2 + 1));
        put8(b, quint8(v >> 7));
    }
}
void putCompressedShort(QByteArray& b, qint16 v)
{
    if (v >= -64 && v < 64) {
        put8(b, quint8((v + 64) * 2));
    } else {
        const int u = v + 16384;
        put8(b, quint8((u & 0x7F) * 2 + 1));
        put8(b, quint8(u >> 7));
    }
}
void putCompressedULong(QByteArray& b, quint32 v)
{
    if (v < 32768) {
        put16(b, quint16(v * 2));
    } else {
        put16(b, quint16((v & 0x7FFF) * 2 + 1));
        put16(b, quint16(v >> 15));
    }
}
void putCompressedLong(QByteArray& b, qint32 v)
{
    if (v >= -16384 && v < 16384) {
        put16(b, quint16((v + 16384) * 2));
    } else {
        const quint32 u = quint32(v + 0x40000000);
        put16(b, quint16((u & 0x7FFF) * 2 + 1));
        put16(b, quint16(u >> 15));
    }
}

// Runs of three or more equal bytes as a count and the byte, the rest as
// literal stretches (count with the high bit set).
QByteArray runLength(const QByteArray& data)
{
    QByteArray out;
    qsizetype i = 0;
    QByteArray literal;
    auto flush = [&] {
        for (qsizetype k = 0; k < literal.size(); k += 127) {
            const QByteArray part = literal.mid(k, 127);
            put8(out, quint8(0x80 | part.size()));
            out += part;
        }
        literal.clear();
    };
    while (i < data.size()) {
        qsizetype n = 1;
        while (i + n < data.size() && data[i + n] == data[i] && n < 127)
            ++n;
        if (n >= 3) {
            flush();
            put8(out, quint8(n));
            out.append(data[i]);
        } else {
            literal += data.mid(i, n);
        }
        i += n;
    }
    flush();
    return out;
}

struct Link {
    QByteArray bytes;
    quint8 type = 0;
    int topic = -1;
    quint16 characters = 0;
};

// Phrase numbers by greedy longest match.
int longestPhrase(const QByteArray& text, qsizetype at, const std::vector<QByteArray>& phrases)
{
    int best = -1;
    for (int i = 0; i < int(phrases.size()); ++i) {
        const QByteArray& p = phrases[i];
        if (!p.isEmpty() && text.mid(at, p.size()) == p && (best < 0 || p.size() > phrases[best].size()))
            best = i;
    }
    return best;
}

QByteArray compressOld(const QByteArray& text, const std::vector<QByteArray>& phrases)
{
    QByteArray out;
    for (qsizetype i = 0; i < text.size();) {
        const int phrase = longestPhrase(text, i, phrases);
        if (phrase < 0) {
            out.append(text[i++]);
            continue;
        }
        i += phrases[phrase].size();
        int code = phrase * 2;
        if (i < text.size() && text[i] == ' ') {
            ++code;
            ++i;
        }
        put8(out, quint8(code / 256 + 1));
        put8(out, quint8(code % 256));
    }
    return out;
}

QByteArray compressHall(const QByteArray& text, const std::vector<QByteArray>& phrases)
{
    QByteArray out;
    QByteArray literal;
    auto flush = [&] {
        while (!literal.isEmpty()) {
            const qsizetype n = std::min<qsizetype>(literal.size(), 32);
            put8(out, quint8(((n - 1) << 3) | 3));
            out += literal.left(n);
            literal.remove(0, n);
        }
    };
    for (qsizetype i = 0; i < text.size();) {
        const int phrase = longestPhrase(text, i, phrases);
        if (phrase >= 0) {
            flush();
            if (phrase < 128) {
                put8(out, quint8(phrase * 2));
            } else {
                const int j = phrase - 128;
                put8(out, quint8(((j >> 8) << 2) | 1));
                put8(out, quint8(j & 0xFF));
            }
            i += phrases[phrase].size();
            continue;
        }
        const char c = text[i];
        if (c == ' ' || c == '\0') {
            qsizetype n = 1;
            while (i + n < text.size() && text[i + n] == c && n < 16)
                ++n;
            flush();
            put8(out, quint8(((n - 1) << 4) | (c == ' ' ? 7 : 0x0F)));
            i += n;
            continue;
        }
        literal.append(c);
        ++i;
    }
    flush();
    return out;
}

QByteArray btree(std::vector<std::pair<QByteArray, QByteArray>> entries, int pageSize, const char* structure,
                 quint16 flags)
{
    // entries: (index key, whole leaf entry), sorted by the caller
    std::vector<QByteArray> leaves;
    std::vector<int> counts;
    std::vector<QByteArray> firstKeys;
    QByteArray current;
    int count = 0;
    for (const auto& [key, entry] : entries) {
        if (count > 0 && 8 + current.size() + entry.size() > pageSize) {
            leaves.push_back(current);
            counts.push_back(count);
            current.clear();
            count = 0;
        }
        if (count == 0)
            firstKeys.push_back(key);
        current += entry;
        ++count;
    }
    leaves.push_back(current);
    counts.push_back(count);
    if (firstKeys.empty())
        firstKeys.push_back(QByteArray());

    const int leafCount = int(leaves.size());
    QByteArray pages;
    for (int i = 0; i < leafCount; ++i) {
        QByteArray page;
        put16(page, quint16(pageSize - 8 - leaves[i].size()));
        put16(page, quint16(counts[i]));
        put16(page, quint16(i == 0 ? -1 : i - 1));
        put16(page, quint16(i + 1 == leafCount ? -1 : i + 1));
        page += leaves[i];
        page.append(pageSize - page.size(), '\0');
        pages += page;
    }
    if (leafCount > 1) {
        QByteArray page;
        QByteArray body;
        for (int i = 1; i < leafCount; ++i) {
            body += firstKeys[i];
            put16(body, quint16(i));
        }
        put16(page, quint16(pageSize - 6 - body.size()));
        put16(page, quint16(leafCount - 1));
        put16(page, 0);
        page += body;
        if (page.size() > pageSize)
            throw std::runtime_error("index page overflow");
        page.append(pageSize - page.size(), '\0');
        pages += page;
    }
    QByteArray out;
    put16(out, 0x293B);
    put16(out, flags);
    put16(out, quint16(pageSize));
    QByteArray name(structure);
    name.append(16 - name.size(), '\0');
    out += name;
    put16(out, 0);
    put16(out, 0);
    put16(out, quint16(leafCount > 1 ? leafCount : 0));
    put16(out, 0xFFFF);
    put16(out, quint16(leafCount + (leafCount > 1 ? 1 : 0)));
    put16(out, quint16(leafCount > 1 ? 2 : 1));
    put32(out, quint32(entries.size()));
    return out + pages;
}

// Character formatting of one paragraph: each string of the text is
// followed by one command, the last one ends the formatting (0xFF).
QByteArray paragraphCommands(const Paragraph& paragraph, const HelpContent& content, QByteArray& text)
{
    QByteArray commands;
    QByteArray pending;
    auto command = [&](const QByteArray& bytes) {
        text += pending;
        text.append('\0');
        pending.clear();
        commands += bytes;
    };
    for (const Span& span : paragraph.spans) {
        QByteArray font;
        put8(font, 0x80);
        put16(font, quint16(span.font));
        command(font);
        if (!span.command.isEmpty())
            command(span.command);
        if (span.jumpCommand != 0) {
            QByteArray jump;
            put8(jump, span.jumpCommand);
            put32(jump, span.jumpValue);
            command(jump);
        }
        QString piece;
        for (const QChar c : span.text) {
            if (c == QLatin1Char('\n') || c == QLatin1Char('\t')) {
                pending += encode(piece, content.codePage);
                piece.clear();
                command(QByteArray(1, c == QLatin1Char('\n') ? char(0x81) : char(0x83)));
            } else {
                piece += c;
            }
        }
        pending += encode(piece, content.codePage);
        if (span.jumpCommand != 0)
            command(QByteArray(1, char(0x89)));
    }
    command(QByteArray(1, char(0x82)));
    command(QByteArray(1, char(0xFF)));
    return commands;
}

QByteArray paragraphInfo(const Paragraph& paragraph)
{
    QByteArray info;
    put8(info, 0);
    put8(info, 0x80);
    put16(info, 0);
    // Spacing above, a left indent and two tab stops, so the reader has to skip them.
    put16(info, quint16(0x0002 | 0x0010 | 0x0200 | (paragraph.centered ? 0x0800 : 0)));
    putCompressedShort(info, 6);
    putCompressedShort(info, 200);
    putCompressedShort(info, 2);
    putCompressedUShort(info, 720);
    putCompressedUShort(info, 1440 | 0x4000);
    putCompressedUShort(info, 1);
    return info;
}

QByteArray textRecordData(const Paragraph& paragraph, const HelpContent& content, QByteArray& text)
{
    const QByteArray commands = paragraphCommands(paragraph, content, text);
    QByteArray data1;
    putCompressedULong(data1, quint32(text.size()));
    putCompressedUShort(data1, quint16(text.size()));
    return data1 + paragraphInfo(paragraph) + commands;
}

// A table record: one row, each cell with its own paragraph.
QByteArray tableRecordData(const QList<Paragraph>& cells, const HelpContent& content, QByteArray& text)
{
    QByteArray body;
    for (int column = 0; column < cells.size(); ++column) {
        put16(body, quint16(column));
        put16(body, 0);
        put8(body, 0);
        body += paragraphInfo(cells[column]);
        body += paragraphCommands(cells[column], content, text);
    }
    put16(body, 0xFFFF);
    QByteArray data1;
    putCompressedULong(data1, quint32(text.size()));
    putCompressedUShort(data1, quint16(text.size()));
    put8(data1, quint8(cells.size()));
    put8(data1, 0); // variable width: a minimal table width follows
    put16(data1, 0);
    for (int column = 0; column < cells.size(); ++column) {
        put16(data1, 100);
        put16(data1, quint16(32767 / cells.size() - 100));
    }
    return data1 + body;
}

Link makeLink(quint8 type, const QByteArray& data1, const QByteArray& text, const HelpContent& content,
              const std::vector<QByteArray>& phrases)
{
    QByteArray stored = text;
    if (content.phrases == Phrases::Old) {
        const QByteArray packed = compressOld(text, phrases);
        if (packed.size() < text.size())
            stored = packed;
    } else if (content.phrases == Phrases::Hall) {
        const QByteArray packed = compressHall(text, phrases);
        if (packed.size() < text.size())
            stored = packed;
    }
    Link link;
    link.type = type;
    put32(link.bytes, quint32(21 + data1.size() + stored.size()));
    put32(link.bytes, quint32(text.size()));
    put32(link.bytes, 0xFFFFFFFF); // previous, filled in later
    put32(link.bytes, 0xFFFFFFFF); // next, filled in later
    put32(link.bytes, quint32(21 + data1.size()));
    put8(link.bytes, type);
    link.bytes += data1;
    link.bytes += stored;
    return link;
}

QByteArray internalFileSystem(const std::map<QByteArray, QByteArray>& files, int directoryPageSize)
{
    QByteArray out(16, '\0');
    std::vector<std::pair<QByteArray, QByteArray>> entries;
    for (const auto& [name, content] : files) {
        QByteArray entry = name;
        entry.append('\0');
        put32(entry, quint32(out.size()));
        entries.emplace_back(name + QByteArray(1, '\0'), entry);
        put32(out, quint32(content.size() + 9));
        put32(out, quint32(content.size()));
        put8(out, 4);
        out += content;
    }
    const QByteArray directory = btree(entries, directoryPageSize, "z4", 0x0402);
    const qsizetype directoryStart = out.size();
    put32(out, quint32(directory.size() + 9));
    put32(out, quint32(directory.size()));
    put8(out, 4);
    out += directory;
    set32(out, 0, 0x00035F3F);
    set32(out, 4, quint32(directoryStart));
    set32(out, 8, 0xFFFFFFFF);
    set32(out, 12, quint32(out.size()));
    return out;
}

} // namespace

QByteArray encode(const QString& text, const QString& codePage)
{
    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<UConverter, void (*)(UConverter*)> converter(ucnv_open(codePage.toLatin1().constData(), &status),
                                                                 ucnv_close);
    if (U_FAILURE(status))
        throw std::runtime_error("no converter");
    QByteArray out(text.size() * 4 + 4, '\0');
    const int32_t length = ucnv_fromUChars(converter.get(), out.data(), int32_t(out.size()),
                                           reinterpret_cast<const UChar*>(text.utf16()), int32_t(text.size()), &status);
    if (U_FAILURE(status))
        throw std::runtime_error("conversion failed");
    out.truncate(length);
    return out;
}

QByteArray lz77Compress(const QByteArray& data, qsizetype start, qsizetype maxIn, qsizetype maxOut, qsizetype* consumed)
{
    const qsizetype end = std::min(data.size(), start + maxIn);
    const auto* d = reinterpret_cast<const uchar*>(data.constData());
    std::vector<qsizetype> head(1 << 16, -1);
    std::vector<qsizetype> previous(size_t(std::max<qsizetype>(end - start, 1)), -1);
    auto key = [&](qsizetype i) { return (d[i] << 8 ^ d[i + 1] << 4 ^ d[i + 2]) & 0xFFFF; };
    auto insert = [&](qsizetype i) {
        if (i + 3 > end)
            return;
        const int k = key(i);
        previous[i - start] = head[k];
        head[k] = i;
    };

    QByteArray out;
    qsizetype flagAt = -1;
    int bit = 8;
    qsizetype i = start;
    while (i < end) {
        qsizetype bestLength = 0;
        qsizetype bestDistance = 0;
        if (i + 3 <= end) {
            int tries = 0;
            for (qsizetype j = head[key(i)]; j >= 0 && i - j <= 4096 && tries < 256; j = previous[j - start], ++tries) {
                qsizetype length = 0;
                const qsizetype limit = std::min<qsizetype>(18, end - i);
                while (length < limit && d[j + length] == d[i + length])
                    ++length;
                if (length > bestLength) {
                    bestLength = length;
                    bestDistance = i - j;
                }
            }
        }
        const qsizetype flagByte = bit == 8 ? 1 : 0;
        bool reference = bestLength >= 3;
        if (reference && out.size() + flagByte + 2 > maxOut)
            reference = false;
        if (!reference && out.size() + flagByte + 1 > maxOut)
            break;
        if (bit == 8) {
            flagAt = out.size();
            out.append('\0');
            bit = 0;
        }
        if (reference) {
            out[flagAt] = char(uchar(out[flagAt]) | (1 << bit));
            put16(out, quint16(((bestLength - 3) << 12) | (bestDistance - 1)));
            for (qsizetype k = 0; k < bestLength; ++k)
                insert(i + k);
            i += bestLength;
        } else {
            out.append(char(d[i]));
            insert(i);
            ++i;
        }
        ++bit;
    }
    *consumed = i - start;
    return out;
}

Span jump(const QString& text, const QByteArray& contextId, int font, bool popup)
{
    return Span{text, font, quint8(popup ? 0xE2 : 0xE3), HelpFile::contextHash(contextId)};
}

QByteArray pictureCommand(quint16 number, quint8 placement)
{
    // Type 3: a picture of the file's own |bm files; the size is a signed number.
    QByteArray out;
    put8(out, placement);
    put8(out, 3);
    putCompressedLong(out, 4);
    put16(out, 0);
    put16(out, number);
    return out;
}

QByteArray embeddedPictureCommand(const QByteArray& pictureFile, quint8 placement)
{
    QByteArray out;
    put8(out, placement);
    put8(out, 3);
    putCompressedLong(out, qint32(2 + pictureFile.size()));
    put16(out, 1);
    return out + pictureFile;
}

QByteArray macroCommand(const QByteArray& macro, quint8 command)
{
    // The length counts the macro's terminating NUL.
    QByteArray out;
    put8(out, command);
    put16(out, quint16(macro.size() + 1));
    out += macro;
    out.append('\0');
    return out;
}

QByteArray bitmapFile(int width, int height, int bitsPerPixel, const QList<quint32>& palette,
                      const QList<QList<quint32>>& pixels, int packing, const QList<Hotspot>& hotspots)
{
    // Rows bottom-up, each padded to four bytes.
    const qsizetype stride = ((qsizetype(width) * bitsPerPixel + 31) / 32) * 4;
    QByteArray bits;
    for (int y = height - 1; y >= 0; --y) {
        QByteArray row(stride, '\0');
        for (int x = 0; x < width; ++x) {
            const quint32 value = pixels[y][x];
            if (bitsPerPixel == 24) {
                row[x * 3] = char(value & 0xFF);
                row[x * 3 + 1] = char((value >> 8) & 0xFF);
                row[x * 3 + 2] = char((value >> 16) & 0xFF);
            } else {
                const int perByte = 8 / bitsPerPixel;
                const int shift = 8 - bitsPerPixel * (x % perByte + 1);
                row[x / perByte] = char(uchar(row[x / perByte]) | (value << shift));
            }
        }
        bits += row;
    }
    QByteArray packed = bits;
    if (packing == 1 || packing == 3)
        packed = runLength(packed);
    if (packing == 2 || packing == 3) {
        qsizetype consumed = 0;
        packed = lz77Compress(packed, 0, packed.size(), 1 << 30, &consumed);
    }

    // Hot spots: a version byte, the count, the size of the macro data, a fixed entry per spot, then
    // each spot's name and its context string (or macro).
    QByteArray spots;
    if (!hotspots.isEmpty()) {
        put8(spots, 1);
        put16(spots, quint16(hotspots.size()));
        put32(spots, 0);
        for (const Hotspot& spot : hotspots) {
            put8(spots, spot.type);
            put16(spots, 0);
            for (const int value : {spot.x, spot.y, spot.width, spot.height})
                put16(spots, quint16(value));
            put32(spots, HelpFile::contextHash(spot.context));
        }
        for (const Hotspot& spot : hotspots)
            spots += spot.name + '\0' + spot.context + '\0';
    }

    QByteArray picture;
    put8(picture, 6); // a device-independent bitmap
    put8(picture, quint8(packing));
    putCompressedULong(picture, 96);
    putCompressedULong(picture, 96);
    putCompressedUShort(picture, 1);
    putCompressedUShort(picture, quint16(bitsPerPixel));
    putCompressedULong(picture, quint32(width));
    putCompressedULong(picture, quint32(height));
    putCompressedULong(picture, quint32(palette.size()));
    putCompressedULong(picture, 0);
    putCompressedULong(picture, quint32(packed.size()));
    putCompressedULong(picture, quint32(spots.size()));
    const qsizetype offsetsAt = picture.size();
    put32(picture, 0);
    put32(picture, 0);
    for (const quint32 colour : palette) {
        put8(picture, quint8(colour & 0xFF));
        put8(picture, quint8((colour >> 8) & 0xFF));
        put8(picture, quint8((colour >> 16) & 0xFF));
        put8(picture, 0);
    }
    set32(picture, offsetsAt, quint32(picture.size()));
    picture += packed;
    if (!spots.isEmpty()) {
        set32(picture, offsetsAt + 4, quint32(picture.size()));
        picture += spots;
    }

    QByteArray file;
    put16(file, 0x506C);
    put16(file, 1);
    put32(file, 8);
    return file + picture;
}

QByteArray build(const HelpContent& content)
{
    std::vector<QByteArray> phrases;
    for (const QString& phrase : content.phraseList)
        phrases.push_back(encode(phrase, content.codePage));

    // The links in file order: each topic's header, its paragraphs, and a closing link.
    std::vector<Link> links;
    std::vector<qsizetype> headerLink;
    for (int t = 0; t < content.topics.size(); ++t) {
        const Topic& topic = content.topics[t];
        QByteArray data1;
        put32(data1, 0);
        put32(data1, 0xFFFFFFFF);
        put32(data1, 0xFFFFFFFF);
        put32(data1, quint32(t));
        put32(data1, 0xFFFFFFFF);
        put32(data1, 0xFFFFFFFF); // scrolling region, filled in later
        put32(data1, 0xFFFFFFFF); // next topic, filled in later
        QByteArray title = encode(topic.title, content.codePage);
        title.append('\0');
        headerLink.push_back(qsizetype(links.size()));
        links.push_back(makeLink(2, data1, title, content, phrases));
        links.back().topic = t;
        for (const Paragraph& paragraph : topic.paragraphs) {
            QByteArray text;
            const QByteArray data1 = textRecordData(paragraph, content, text);
            links.push_back(makeLink(0x20, data1, text, content, phrases));
            links.back().topic = t;
            links.back().characters = quint16(text.size());
        }
        if (!topic.tableCells.isEmpty()) {
            QByteArray text;
            const QByteArray data1 = tableRecordData(topic.tableCells, content, text);
            links.push_back(makeLink(0x23, data1, text, content, phrases));
            links.back().topic = t;
            links.back().characters = quint16(text.size());
        }
    }
    links.push_back(makeLink(2, QByteArray(28, '\0'), QByteArray(), content, phrases));

    // Topic positions count 0x4000 per block whether the blocks are compressed
    // or not; a position includes the block's 12-byte header.
    constexpr qsizetype PositionUnit = 0x4000;
    const qsizetype blockCapacity = content.lz77 ? PositionUnit - 12 : 4096 - 12;
    std::vector<qsizetype> linkStart;
    std::vector<qsizetype> blockStart;
    std::vector<QByteArray> blockData;
    QByteArray stream;
    auto blockOf = [&](qsizetype x) {
        return qsizetype(std::upper_bound(blockStart.begin(), blockStart.end(), x) - blockStart.begin()) - 1;
    };
    auto topicPos = [&](qsizetype x) {
        const qsizetype b = blockOf(x);
        return quint32(12 + b * PositionUnit + (x - blockStart[b]));
    };
    // Block boundaries depend on how well the data compresses, and the data
    // holds positions that depend on the boundaries: repeat until they agree.
    bool settled = false;
    for (int round = 0; round < 10 && !settled; ++round) {
        stream.clear();
        linkStart.clear();
        for (const Link& link : links) {
            linkStart.push_back(stream.size());
            stream += link.bytes;
        }
        std::vector<qsizetype> starts;
        std::vector<QByteArray> data;
        for (qsizetype s = 0; s < stream.size();) {
            starts.push_back(s);
            if (content.lz77) {
                qsizetype consumed = 0;
                data.push_back(lz77Compress(stream, s, blockCapacity, 4084, &consumed));
                s += consumed;
            } else {
                data.push_back(stream.mid(s, blockCapacity));
                s += blockCapacity;
            }
        }
        const bool stable = starts == blockStart;
        blockStart = starts;
        blockData = data;
        settled = stable && round > 0;
        if (settled)
            break;
        for (size_t i = 0; i < links.size(); ++i) {
            set32(links[i].bytes, 8, i == 0 ? 0xFFFFFFFF : topicPos(linkStart[i - 1]));
            set32(links[i].bytes, 12, i + 1 == links.size() ? 0xFFFFFFFF : topicPos(linkStart[i + 1]));
        }
        for (size_t h = 0; h < headerLink.size(); ++h) {
            const qsizetype at = headerLink[h];
            const qsizetype nextHeader = h + 1 < headerLink.size() ? headerLink[h + 1] : qsizetype(links.size()) - 1;
            set32(links[at].bytes, 21 + 20, topicPos(linkStart[at + 1 < nextHeader ? at + 1 : at]));
            set32(links[at].bytes, 21 + 24, topicPos(linkStart[nextHeader]));
        }
    }

    if (!settled)
        throw std::runtime_error("block layout did not settle");
    QByteArray topicFile;
    for (size_t b = 0; b < blockStart.size(); ++b) {
        const qsizetype begin = blockStart[b];
        const qsizetype end = b + 1 < blockStart.size() ? blockStart[b + 1] : stream.size();
        quint32 lastLink = 0xFFFFFFFF, firstLink = 0xFFFFFFFF, lastHeader = 0xFFFFFFFF;
        for (size_t i = 0; i < links.size(); ++i) {
            if (linkStart[i] < begin) {
                lastLink = topicPos(linkStart[i]);
                if (links[i].type == 2)
                    lastHeader = lastLink;
            } else if (linkStart[i] < end && firstLink == 0xFFFFFFFF) {
                firstLink = topicPos(linkStart[i]);
            }
        }
        QByteArray block;
        put32(block, lastLink);
        put32(block, firstLink);
        put32(block, lastHeader);
        block += blockData[b];
        if (b + 1 < blockStart.size())
            block.append(4096 - block.size(), '\0');
        topicFile += block;
    }

    // Topic offsets: block of the link's start, characters before it in that block.
    std::vector<quint32> linkOffset(links.size());
    qsizetype currentBlock = -1;
    quint32 characters = 0;
    for (size_t i = 0; i < links.size(); ++i) {
        const qsizetype b = blockOf(linkStart[i]);
        if (b != currentBlock) {
            currentBlock = b;
            characters = 0;
        }
        linkOffset[i] = quint32(b) * 0x8000 + characters;
        characters += links[i].characters;
    }

    std::map<QByteArray, QByteArray> files;
    QByteArray system;
    put16(system, 0x036C);
    put16(system, quint16(content.minor));
    put16(system, 1);
    put32(system, 0);
    put16(system, content.lz77 ? 4 : 0);
    QByteArray title = encode(content.title, content.codePage);
    title.append('\0');
    put16(system, 1);
    put16(system, quint16(title.size()));
    system += title;
    if (content.lcid) {
        put16(system, 9);
        put16(system, 10);
        put16(system, 0);
        put16(system, 0);
        put16(system, 0);
        put16(system, 0);
        put16(system, *content.lcid);
    }
    if (content.charset) {
        put16(system, 11);
        put16(system, 2);
        put16(system, *content.charset);
    }
    files["|SYSTEM"] = system;
    files["|TOPIC"] = topicFile;

    QByteArray fonts;
    put16(fonts, 1);
    put16(fonts, quint16(content.fonts.size()));
    put16(fonts, 8);
    put16(fonts, 8 + 20);
    QByteArray face("Arial");
    face.append(20 - face.size(), '\0');
    fonts += face;
    for (const Font& font : content.fonts) {
        put8(fonts, quint8((font.bold ? 1 : 0) | (font.italic ? 2 : 0) | (font.underline ? 4 : 0)));
        put8(fonts, quint8(font.halfPoints));
        put8(fonts, 3);
        put16(fonts, 0);
        fonts.append(6, '\0');
    }
    files["|FONT"] = fonts;

    if (content.phrases == Phrases::Old) {
        QByteArray table;
        put16(table, quint16(phrases.size()));
        put16(table, 0x0100);
        QByteArray chars;
        for (const QByteArray& p : phrases)
            chars += p;
        put32(table, quint32(chars.size()));
        quint16 offset = quint16(2 * (phrases.size() + 1));
        put16(table, offset);
        for (const QByteArray& p : phrases) {
            offset = quint16(offset + p.size());
            put16(table, offset);
        }
        qsizetype consumed = 0;
        table += lz77Compress(chars, 0, chars.size(), 1 << 30, &consumed);
        files["|Phrases"] = table;
    } else if (content.phrases == Phrases::Hall) {
        QByteArray chars;
        for (const QByteArray& p : phrases)
            chars += p;
        qsizetype consumed = 0;
        const QByteArray packed = lz77Compress(chars, 0, chars.size(), 1 << 30, &consumed);
        const int bitCount = 2;
        QByteArray index;
        put32(index, 1);
        put32(index, quint32(phrases.size()));
        put32(index, 0);
        put32(index, quint32(chars.size()));
        put32(index, quint32(packed.size()));
        put32(index, 0);
        put16(index, quint16(bitCount));
        put16(index, 0x4A00);
        std::vector<bool> bits;
        for (const QByteArray& p : phrases) {
            const qsizetype rest = p.size() - 1;
            for (qsizetype k = 0; k < rest >> bitCount; ++k)
                bits.push_back(true);
            bits.push_back(false);
            for (int b = 0; b < bitCount; ++b)
                bits.push_back((rest >> b) & 1);
        }
        for (size_t w = 0; w < bits.size(); w += 32) {
            quint32 word = 0;
            for (size_t b = 0; b < 32 && w + b < bits.size(); ++b)
                word |= quint32(bits[w + b]) << b;
            put32(index, word);
        }
        files["|PhrIndex"] = index;
        files["|PhrImage"] = packed;
    }

    if (!content.contextMap.isEmpty()) {
        QByteArray map;
        put16(map, quint16(content.contextMap.size()));
        for (const auto& [number, topic] : content.contextMap) {
            put32(map, quint32(number));
            put32(map, topic >= 0 && topic < int(headerLink.size()) ? linkOffset[headerLink[topic]] : 0x7FFFFFF0u);
        }
        files["|CTXOMAP"] = map;
    }
    if (!content.contextIds.isEmpty()) {
        std::vector<std::pair<qint32, quint32>> sorted;
        for (const auto& [id, topic] : content.contextIds) {
            sorted.emplace_back(qint32(HelpFile::contextHash(id)), linkOffset[headerLink[topic]]);
        }
        std::sort(sorted.begin(), sorted.end());
        std::vector<std::pair<QByteArray, QByteArray>> entries;
        for (const auto& [hash, offset] : sorted) {
            QByteArray key;
            put32(key, quint32(hash));
            QByteArray entry = key;
            put32(entry, offset);
            entries.emplace_back(key, entry);
        }
        files["|CONTEXT"] = btree(entries, 64, "L4", 0x0002);
    }
    for (const auto& [name, data] : content.files)
        files[name] = data;
    return internalFileSystem(files, content.directoryPageSize);
}

} // namespace HelpWriter
