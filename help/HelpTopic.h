#pragma once

// The topic model the help window and the HTML writer draw from: paragraphs
// of formatted runs, table cells, jumps and pictures.
#include <QByteArray>
#include <QList>
#include <QString>

#include <map>

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

// A piece of paragraph text with one formatting, or a picture (text empty).
// Line breaks inside a paragraph are "\n", tab stops "\t".
struct HelpRun {
    QString text;
    bool bold = false;
    bool italic = false;
    HelpJump jump;
    bool underline = false;
    int points = 0;       // font size; 0 where the file names none
    QString picture = {}; // "bm<N>" for the file's picture N, "e<N>" for one embedded in the topic
    enum class Placement { InText, Left, Right };
    Placement placement = Placement::InText; // a picture in the text, or at the left or right margin
    QString face = {};                       // the font's face as the file names it; empty where it names none

    bool operator==(const HelpRun&) const = default;
};

struct HelpTabStop {
    enum class Kind { Left, Right, Center };
    int position = 0; // from the paragraph's left edge, in the unit of HelpParagraph's distances
    Kind kind = Kind::Left;

    bool operator==(const HelpTabStop&) const = default;
};

struct HelpParagraph {
    enum class Alignment { Left, Right, Center };
    // Border sides a paragraph (or a table cell) asks for.
    enum Border { BorderBox = 0x01, BorderTop = 0x02, BorderLeft = 0x04, BorderBottom = 0x08, BorderRight = 0x10 };
    QList<HelpRun> runs;
    Alignment alignment = Alignment::Left;
    int table = -1; // the topic's table the paragraph is a cell of, else -1
    int row = 0;
    int column = 0;
    // Distances as the file stores them, in half points (10 twips): indents of the left and right
    // edges and of the first line (negative hangs out to the left), space above and below.
    int leftIndent = 0;
    int rightIndent = 0;
    int firstLineIndent = 0;
    int spaceAbove = 0;
    int spaceBelow = 0;
    QList<HelpTabStop> tabStops;
    int border = 0;            // Border flags; 0 draws none
    bool nonScrolling = false; // in the region at the top of the topic that does not scroll

    QString plainText() const;
};

// A table's columns as the file sizes them, in half points like a paragraph's distances.
struct HelpTable {
    QList<int> columnWidths;
    QList<int> columnGaps;
    bool relative = false; // widths share the window's width instead of standing fixed
};

struct HelpTopic {
    QString title;
    quint32 offset = 0; // topic offset of the topic's start
    int order = 0;      // 1-based, in file order
    QList<HelpParagraph> paragraphs;
    QList<HelpTable> tables;                        // indexed by HelpParagraph::table
    std::map<QString, QByteArray> embeddedPictures; // "e<N>" -> picture container bytes

    // Paragraphs joined by "\n", the way the command-line tool prints them.
    QString plainText() const;
};
