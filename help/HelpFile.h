#pragma once

#include "HelpContainer.h"
#include "HelpDecompress.h"
#include "HelpPicture.h"
#include "HelpTopic.h"
#include "RunTimeError.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <map>
#include <memory>
#include <optional>
#include <vector>

struct UConverter;

// Reads a compiled help file of the classic desktop help format (version 3.1
// and 4.0, magic number 0x00035F3F): every topic in file order with its title,
// paragraphs, formatting, tables, jumps and pictures, the context-number map,
// the keyword index and the titles table. The file's structure is checked when
// it is opened, each topic's records when the topic is read; a damaged file
// raises a RunTimeError and never reads outside the data it was given.
namespace HelpError {
constexpr int FileNotFound = ErrorNumber::FileNotFound;       // no such file
constexpr int FileAccess = ErrorNumber::PathFileAccess;       // the file exists but cannot be read
constexpr int InvalidFormat = ErrorNumber::InvalidFileFormat; // not a help file, unsupported version or damaged
constexpr int TopicNotFound = ErrorNumber::InvalidArgument;   // no topic for the context number
} // namespace HelpError

// Lenient decoding shows what it can read; strict decoding raises
// InvalidFormat at an unknown command, a string that does not end where the
// record says or text left over at the end of a record.
enum class HelpDecoding { Lenient, Strict };

struct HelpContextEntry {
    qint32 context = 0;
    quint32 topicOffset = 0;
    QString title; // empty when the offset lies in no topic
};

struct HelpContentsEntry {
    int order = 0; // 1-based, file order
    QString title;
    quint32 offset = 0;
};

struct HelpKeyword {
    QString keyword;
    QList<int> orders; // topics in file order, 1-based
};

class HelpFile {
public:
    // Code page of files that declare none, unless the caller knows better
    // (the program's own help file is Czech: code page 1250).
    static inline const QString WesternCodePage = QStringLiteral("windows-1252");
    static inline const QString CzechCodePage = QStringLiteral("windows-1250");

    // Reads and checks the file; throws RunTimeError (HelpError numbers) with
    // a Czech description naming the path.
    explicit HelpFile(const QString& path, const QString& defaultCodePage = WesternCodePage);
    // The same from bytes already in memory; path is used in messages only.
    HelpFile(const QByteArray& data, const QString& path, const QString& defaultCodePage = WesternCodePage);

    const QString& path() const { return m_path; }
    // The help file's own title from its system data; may be empty.
    const QString& title() const { return m_title; }
    // ICU name of the code page the texts are converted from: the charset the
    // file declares, else the one of its locale, else the caller's default.
    const QString& codePage() const { return m_codePage; }
    // The contents file (.cnt) the file names, empty when none.
    const QString& contentsFileName() const { return m_contentsFile; }

    // The mapped context numbers in the order the file stores them.
    QList<HelpContextEntry> contextMap() const;
    // Throws TopicNotFound when the number is not mapped to a topic.
    HelpTopic topicByContext(qint32 context, HelpDecoding decoding = HelpDecoding::Lenient) const;
    // Every topic in file order.
    QList<HelpContentsEntry> contents() const;
    int topicCount() const { return int(m_topics.size()); }
    // Throws TopicNotFound for an order outside 1..topicCount().
    HelpTopic topicByOrder(int order, HelpDecoding decoding = HelpDecoding::Lenient) const;
    // The topic that holds the given topic offset.
    std::optional<HelpTopic> topicAtOffset(quint32 offset) const;
    std::optional<int> orderAtOffset(quint32 offset) const;
    // Where a jump leads inside this file; empty for a dangling jump.
    std::optional<quint32> jumpTarget(const HelpJump& jump) const;
    // Topic titles in file order.
    QStringList topicTitles() const;
    // The keyword index, sorted as the file stores it.
    QList<HelpKeyword> keywords() const;
    // The titles table as stored: (topic offset, title).
    QList<std::pair<quint32, QString>> titleTable() const;
    // A run's picture ("bm<N>" or one embedded in the topic); null when missing or unreadable. The
    // file's own pictures are decoded once and kept: topics share them (not for concurrent callers).
    HelpImage picture(const QString& id, const HelpTopic& topic) const;

    // Text of the file (or of its contents file) in the file's code page.
    QString decodeText(const QByteArray& bytes) const { return decode(bytes); }

    // ICU name of the code page of a font's character set; empty for the ANSI and default sets.
    static QString codePageOfCharset(quint8 charset);

    // The hash the format uses for context strings.
    static quint32 contextHash(const QByteArray& contextId);

private:
    struct Link {
        qsizetype pos = 0;    // start of the link in the decompressed topic stream
        quint32 topicPos = 0; // the link's position as the file's pointers give it
        quint8 type = 0;
        quint32 offset = 0;  // topic offset of the link's first character
        qsizetype data1 = 0; // LinkData1 position and size in the stream
        qsizetype size1 = 0;
        qsizetype data2 = 0; // LinkData2 (possibly phrase-compressed)
        qsizetype size2 = 0;
        qsizetype expanded2 = 0;
    };
    struct Topic {
        QString title;
        quint32 offset = 0;
        qsizetype firstLink = 0; // index into m_links of the header
        qsizetype endLink = 0;
        quint32 scroll = 0xFFFFFFFF; // position of the first record that scrolls; those before it stand still
    };
    struct FontStyle {
        bool bold = false;
        bool italic = false;
        bool underline = false;
        int points = 0;
        QString face; // as the file names it
    };
    struct RecordState; // what carries on from record to record while a topic is built

    void parse(const QByteArray& data);
    [[noreturn]] void damaged() const;
    void readSystem();
    void readPhrases();
    void readFonts();
    void readTopicStream();
    void readLinks();
    void readContextMap();
    void readContextTable();
    QByteArray expandLinkData2(const Link& link) const;
    QString decode(const QByteArray& bytes) const;
    HelpTopic buildTopic(qsizetype index, HelpDecoding decoding) const;
    void appendDisplayRecord(const Link& link, RecordState& state, HelpTopic& topic) const;
    std::optional<qsizetype> topicIndexAt(quint32 offset) const;

    QString m_path;
    HelpContainer m_container;
    QString m_title;
    QString m_codePage;
    std::shared_ptr<UConverter> m_converter; // of m_codePage; shared by copies of the reader
    QString m_contentsFile;
    int m_minor = 0;
    bool m_compressed = false;
    qsizetype m_blockSize = 4096;
    HelpPhrases m_phrases;
    std::vector<FontStyle> m_fonts;
    QByteArray m_topic;                  // decompressed topic blocks, headers removed
    std::vector<qsizetype> m_blockStart; // start of each block's data in m_topic
    std::vector<Link> m_links;
    std::vector<Topic> m_topics;
    std::vector<std::pair<quint32, qsizetype>> m_topicsByOffset; // (offset, index into m_topics), sorted
    QList<HelpContextEntry> m_contextMap;
    std::map<quint32, quint32> m_contextTable;       // hash -> topic offset
    mutable std::map<QString, HelpImage> m_pictures; // the file's own pictures decoded so far, by id
};
