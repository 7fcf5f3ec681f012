#pragma once

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>

#include <optional>

// Builds small help files for the reader's tests: the file header, the
// internal directory as a B+ tree, system data, fonts, phrase tables, topic
// blocks (stored or LZ77-compressed), the context-number map and the context
// table.
namespace HelpWriter {

struct Span {
    QString text;         // "\n" becomes a line break, "\t" a tab
    int font = 0;         // index into HelpContent::fonts
    quint8 jumpCommand = 0; // 0 = no hotspot, else 0xE0..0xE7
    quint32 jumpValue = 0;
    QByteArray command = {}; // written as is after the font change, before the text
};

struct Paragraph {
    QList<Span> spans;
    bool centered = false;
};

struct Topic {
    QString title;
    QList<Paragraph> paragraphs;
    QList<Paragraph> tableCells = {}; // written after the paragraphs as a one-row table
};

struct Font {
    bool bold = false;
    bool italic = false;
};

enum class Phrases { None, Old, Hall };

struct HelpContent {
    QString title;
    QString codePage = QStringLiteral("windows-1250"); // how texts are written
    std::optional<quint16> charset;                    // system record 11
    std::optional<quint16> lcid;                       // system record 9
    int minor = 33;
    bool lz77 = false;
    Phrases phrases = Phrases::None;
    QStringList phraseList;
    QList<Font> fonts = {Font{}, Font{true, false}, Font{false, true}, Font{true, true}};
    QList<Topic> topics;
    QList<QPair<qint32, int>> contextMap;      // context number -> topic index
    QList<QPair<QByteArray, int>> contextIds;  // context string -> topic index
    int directoryPageSize = 1024;
};

QByteArray build(const HelpContent& content);

// Compresses from data[start] on, at most maxIn input bytes into at most
// maxOut output bytes; consumed tells how much input was taken.
QByteArray lz77Compress(const QByteArray& data, qsizetype start, qsizetype maxIn, qsizetype maxOut,
                        qsizetype* consumed);

QByteArray encode(const QString& text, const QString& codePage = QStringLiteral("windows-1250"));

} // namespace HelpWriter
