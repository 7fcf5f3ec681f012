#pragma once

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>

#include <optional>

// Builds small help files of format 3.1/4.0 as the real compiler lays them
// out: the file header, the internal directory as a B+ tree, system data,
// fonts, phrase tables, topic blocks (stored or LZ77-compressed, positions in
// units of 0x4000 either way), the context-number map, the context table and
// any further internal files (pictures |bmN). Used by the reader's tests and
// to write the demo's help file.
//
// A topic with a bold run and a jump to another topic:
//   content.topics = {Topic{"Propojení", {Paragraph{{Span{"Tučně", 1}, jump("Soubory", "SOUBORY")}}}},
//                     Topic{"Soubory", {...}}};
//   content.contextMap = {{805, 0}};          // F1 context number -> topic index
//   content.contextIds = {{"SOUBORY", 1}};    // the jump's target
//   content.charset = 238;                    // declares code page 1250
namespace HelpWriter {

struct Span {
    QString text;           // "\n" becomes a line break, "\t" a tab
    int font = 0;           // index into HelpContent::fonts
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
    bool underline = false;
    int halfPoints = 20;
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
    QList<QPair<qint32, int>> contextMap;     // context number -> topic index
    QList<QPair<QByteArray, int>> contextIds; // context string -> topic index
    int directoryPageSize = 1024;
    QList<QPair<QByteArray, QByteArray>> files = {}; // further internal files, e.g. "|bm0" -> picture
};

QByteArray build(const HelpContent& content);

// Compresses from data[start] on, at most maxIn input bytes into at most
// maxOut output bytes; consumed tells how much input was taken.
QByteArray lz77Compress(const QByteArray& data, qsizetype start, qsizetype maxIn, qsizetype maxOut,
                        qsizetype* consumed);

// A run that jumps to the topic given by its context string (see contextIds).
Span jump(const QString& text, const QByteArray& contextId, int font = 0, bool popup = false);

// The command that shows picture |bm<number> in the text: 0x86 as a
// character, 0x87 at the left margin, 0x88 at the right.
QByteArray pictureCommand(quint16 number, quint8 placement = 0x86);
// The same with the picture file's bytes embedded in the topic.
QByteArray embeddedPictureCommand(const QByteArray& pictureFile, quint8 placement = 0x86);

// A macro hot spot (0xC8; 0xCC without its underline).
QByteArray macroCommand(const QByteArray& macro, quint8 command = 0xC8);

// A rectangle of a segmented picture that jumps (0xE3) or pops up (0xE2) to the topic of its
// context string, or runs a macro (0xC8, the context string being the macro).
struct Hotspot {
    quint8 type = 0xE3;
    int x = 0, y = 0, width = 0, height = 0;
    QByteArray context;
    QByteArray name = {};
};

// A picture file (|bmN) with one device-independent bitmap of 1, 4, 8 or 24
// bits per pixel; pixels are rows of colour indexes (top row first) or, at
// 24 bits, 0xRRGGBB values. packing: 0 stored, 1 RunLen, 2 LZ77, 3 both.
// Hot spots make it a segmented picture.
QByteArray bitmapFile(int width, int height, int bitsPerPixel, const QList<quint32>& palette,
                      const QList<QList<quint32>>& pixels, int packing = 0, const QList<Hotspot>& hotspots = {});

QByteArray encode(const QString& text, const QString& codePage = QStringLiteral("windows-1250"));

} // namespace HelpWriter
