#include "HelpDecompress.h"

#include "HelpData.h"

#include <algorithm>

using HelpData::BitReader;
using HelpData::Damaged;
using HelpData::Reader;

namespace {
// Upper bound that keeps a damaged file from asking for huge amounts of memory.
constexpr qsizetype MaxPhraseData = 16 * 1024 * 1024;
} // namespace

std::optional<QByteArray> helpLz77Decompress(const char* data, qsizetype size, qsizetype maxOut)
{
    // A flag byte and eight references of two bytes give at most 8 * 18 bytes: the output fits in size * 9.
    QByteArray out(std::max<qsizetype>(0, std::min<qsizetype>(maxOut, size * 9)), Qt::Uninitialized);
    char* const begin = out.data();
    char* const end = begin + out.size();
    char* put = begin;
    const auto* in = reinterpret_cast<const uchar*>(data);
    qsizetype pos = 0;
    while (pos < size && put < end) {
        const uchar flags = in[pos++];
        for (int bit = 0; bit < 8 && pos < size && put < end; ++bit) {
            if ((flags & (1 << bit)) == 0) {
                *put++ = char(in[pos++]);
                continue;
            }
            if (pos + 1 >= size) {
                out.truncate(put - begin);
                return out; // a half reference at the very end carries nothing
            }
            const int word = in[pos] | (in[pos + 1] << 8);
            pos += 2;
            const qsizetype length = std::min<qsizetype>((word >> 12) + 3, end - put);
            const qsizetype distance = (word & 0x0FFF) + 1;
            if (distance > put - begin)
                return std::nullopt;
            // Byte by byte: a reference may overlap the bytes it produces.
            for (qsizetype i = 0; i < length; ++i, ++put)
                *put = *(put - distance);
        }
    }
    out.truncate(put - begin);
    return out;
}

QByteArray helpRunLenDecompress(const QByteArray& data, qsizetype maxOut)
{
    QByteArray out;
    out.reserve(std::min<qsizetype>(maxOut, data.size() * 4));
    qsizetype pos = 0;
    while (pos < data.size() && out.size() < maxOut) {
        const uchar count = uchar(data[pos++]);
        if (count & 0x80) {
            const qsizetype n = std::min<qsizetype>({count & 0x7F, data.size() - pos, maxOut - out.size()});
            out.append(data.constData() + pos, n);
            pos += count & 0x7F;
        } else if (pos < data.size()) {
            out.append(std::min<qsizetype>(count, maxOut - out.size()), data[pos++]);
        }
    }
    return out;
}

void HelpPhrases::readOld(const QByteArray& file)
{
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
}

void HelpPhrases::readHall(const QByteArray& index, const QByteArray& image)
{
    m_hall = true;
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

QByteArray HelpPhrases::expand(const QByteArray& stream, qsizetype at, qsizetype size, qsizetype expandedSize) const
{
    Reader reader(stream, at, size);
    if (expandedSize <= size)
        return reader.bytes(expandedSize);
    if (m_phrases.empty())
        throw Damaged{};
    QByteArray out;
    auto phrase = [&](qsizetype number) {
        if (number >= qsizetype(m_phrases.size()))
            throw Damaged{};
        out += m_phrases[number];
    };
    while (!reader.atEnd() && out.size() < expandedSize) {
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
    out.truncate(expandedSize);
    return out;
}
