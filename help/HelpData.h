#pragma once

// Internal to the help reader: bounded little-endian reads over the bytes of
// a help file. Every read past the end throws Damaged, which the public entry
// points turn into a RunTimeError that names the file.
#include <QByteArray>

namespace HelpData {

struct Damaged {};

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
    // units follow; the value is the rest divided by two (signed ones biased).
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

// The bits of the phrase index: 32-bit little-endian words, lowest bit first.
class BitReader {
public:
    explicit BitReader(Reader& reader) : m_reader(reader) {}
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

} // namespace HelpData
