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

    bool operator==(const HelpRun&) const = default;
};

struct HelpParagraph {
    enum class Alignment { Left, Right, Center };
    QList<HelpRun> runs;
    Alignment alignment = Alignment::Left;
    int table = -1; // the topic's table the paragraph is a cell of, else -1
    int row = 0;
    int column = 0;

    QString plainText() const;
};

struct HelpTopic {
    QString title;
    quint32 offset = 0; // topic offset of the topic's start
    int order = 0;      // 1-based, in file order
    QList<HelpParagraph> paragraphs;
    std::map<QString, QByteArray> embeddedPictures; // "e<N>" -> picture container bytes

    // Paragraphs joined by "\n", the way the command-line tool prints them.
    QString plainText() const;
};
