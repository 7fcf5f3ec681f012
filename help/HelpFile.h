#pragma once

#include "RunTimeError.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <map>
#include <optional>
#include <vector>

// Reads a compiled help file of the classic desktop help format (version 3.1
// and 4.0, magic number 0x00035F3F): the context-number map, the topics with
// their titles and paragraph text, bold and italic runs and jumps. The whole
// file is checked while it is read; a damaged file raises a RunTimeError and
// never reads outside the data it was given.
namespace HelpError {
constexpr int FileNotFound = 53;       // "Soubor nápovědy '...' nebyl nalezen."
constexpr int FileAccess = 75;         // the file exists but cannot be read
constexpr int InvalidFormat = 321;     // not a help file, unsupported version or damaged
constexpr int TopicNotFound = 5;       // no topic for the context number
} // namespace HelpError

// Where a hotspot leads: a position in the topic text (old style jumps) or
// the hash of a context string looked up in the file's context table.
struct HelpJump {
    enum class Kind { None, TopicOffset, ContextHash };
    Kind kind = Kind::None;
    quint32 value = 0;
    bool popup = false;

    bool isValid() const { return kind != Kind::None; }
    bool operator==(const HelpJump&) const = default;
};

// A piece of paragraph text with one formatting. Line breaks inside a
// paragraph are "\n", tab stops "\t".
struct HelpRun {
    QString text;
    bool bold = false;
    bool italic = false;
    HelpJump jump;

    bool operator==(const HelpRun&) const = default;
};

struct HelpParagraph {
    enum class Alignment { Left, Right, Center };
    QList<HelpRun> runs;
    Alignment alignment = Alignment::Left;

    QString plainText() const;
};

struct HelpTopic {
    QString title;
    quint32 offset = 0; // topic offset of the topic's start
    QList<HelpParagraph> paragraphs;

    // Paragraphs joined by "\n", the way the command-line tool prints them.
    QString plainText() const;
};

struct HelpContextEntry {
    qint32 context = 0;
    quint32 topicOffset = 0;
    QString title; // empty when the offset lies in no topic
};

class HelpFile {
public:
    // Reads and checks the file; throws RunTimeError (HelpError numbers) with
    // a Czech description naming the path.
    explicit HelpFile(const QString& path);
    // The same from bytes already in memory; path is used in messages only.
    HelpFile(const QByteArray& data, const QString& path);

    const QString& path() const { return m_path; }
    // The help file's own title from its system data; may be empty.
    const QString& title() const { return m_title; }
    // ICU name of the code page the texts are converted from.
    const QString& codePage() const { return m_codePage; }

    // The mapped context numbers in the order the file stores them.
    QList<HelpContextEntry> contextMap() const;
    // Throws TopicNotFound when the number is not mapped to a topic.
    HelpTopic topicByContext(qint32 context) const;
    // The topic that holds the given topic offset.
    std::optional<HelpTopic> topicAtOffset(quint32 offset) const;
    // Where a jump leads inside this file; empty for a dangling jump.
    std::optional<quint32> jumpTarget(const HelpJump& jump) const;
    // Topic titles in file order.
    QStringList topicTitles() const;

    // The hash the format uses for context strings.
    static quint32 contextHash(const QByteArray& contextId);

private:
    struct Link {
        qsizetype pos = 0;     // start of the link in the decompressed topic stream
        quint8 type = 0;
        quint32 offset = 0;    // topic offset of the link's first character
        qsizetype data1 = 0;   // LinkData1 position and size in the stream
        qsizetype size1 = 0;
        qsizetype data2 = 0;   // LinkData2 (possibly phrase-compressed)
        qsizetype size2 = 0;
        qsizetype expanded2 = 0;
    };
    struct Topic {
        QString title;
        quint32 offset = 0;
        qsizetype firstLink = 0; // index into m_links of the header
        qsizetype endLink = 0;
    };

    struct FontStyle {
        bool bold = false;
        bool italic = false;
    };

    void parse(const QByteArray& data);
    [[noreturn]] void damaged() const;
    QByteArray internalFile(const char* name) const;
    bool hasInternalFile(const char* name) const;
    void readSystem();
    void readPhrases();
    void readFonts();
    void readTopicStream();
    void readLinks();
    void readContextMap();
    void readContextTable();
    QByteArray expandLinkData2(const Link& link) const;
    QString decode(const QByteArray& bytes) const;
    HelpTopic buildTopic(const Topic& topic) const;
    void appendDisplayRecord(const Link& link, FontStyle& style, HelpTopic& topic) const;
    std::optional<qsizetype> topicIndexAt(quint32 offset) const;

    QString m_path;
    QByteArray m_data;
    std::map<QByteArray, qsizetype> m_directory; // internal file name -> offset of its header
    QString m_title;
    QString m_codePage = QStringLiteral("windows-1250");
    int m_minor = 0;
    bool m_compressed = false;
    qsizetype m_blockSize = 4096;
    qsizetype m_decompressSize = 4084;
    bool m_hall = false;
    std::vector<QByteArray> m_phrases;
    std::vector<FontStyle> m_fonts;
    QByteArray m_topic;               // decompressed topic blocks, headers removed
    std::vector<qsizetype> m_blockStart; // start of each block's data in m_topic
    std::vector<Link> m_links;
    std::vector<Topic> m_topics;
    std::vector<std::pair<quint32, qsizetype>> m_topicsByOffset; // (offset, index into m_topics), sorted
    QList<HelpContextEntry> m_contextMap;
    std::map<quint32, quint32> m_contextTable; // hash -> topic offset
};

// The format's LZ77 decompression, exposed for tests. Stops after maxOut
// bytes; empty for a reference before the start of the output.
std::optional<QByteArray> helpLz77Decompress(const char* data, qsizetype size, qsizetype maxOut);
