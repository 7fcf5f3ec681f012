#pragma once

// The format's three ways of packing bytes: LZ77 (topic blocks, phrases,
// pictures), run lengths (pictures) and phrase tables (topic text, in the
// old form of |Phrases or Hall's form of |PhrIndex and |PhrImage).
#include <QByteArray>

#include <optional>
#include <vector>

// Stops after maxOut bytes; empty for a reference before the start of the output.
std::optional<QByteArray> helpLz77Decompress(const char* data, qsizetype size, qsizetype maxOut);

// A count with the high bit set copies that many following bytes, any other
// count repeats the next byte; stops after maxOut bytes.
QByteArray helpRunLenDecompress(const QByteArray& data, qsizetype maxOut);

class HelpPhrases {
public:
    // Both throw HelpData::Damaged for a table that does not fit.
    void readOld(const QByteArray& phrases);
    void readHall(const QByteArray& index, const QByteArray& image);
    bool isEmpty() const { return m_phrases.empty(); }
    // Text stored in size bytes at data, expanded to expandedSize bytes.
    QByteArray expand(const QByteArray& stream, qsizetype at, qsizetype size, qsizetype expandedSize) const;

private:
    std::vector<QByteArray> m_phrases;
    bool m_hall = false;
};
