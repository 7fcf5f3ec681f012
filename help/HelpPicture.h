#pragma once

// Pictures of help files: a container (SHG or MRB) holds one or more
// pictures, each a device-dependent or device-independent bitmap or a
// metafile, stored plain, run-length packed, LZ77 packed or both, with the
// hot spots (rectangles that jump or pop up) an author drew on it.
#include <QByteArray>
#include <QList>
#include <QString>

// A rectangle of a picture, in the picture's pixels, that acts as a link.
struct HelpHotspot {
    enum class Kind { Jump, Popup, Macro };
    Kind kind = Kind::Jump;
    int x = 0, y = 0, width = 0, height = 0;
    quint32 contextHash = 0; // of the context string a jump or pop-up leads to
    QString name;            // the hot spot's own name, as the author gave it
};

struct HelpImage {
    int width = 0;
    int height = 0;
    QList<quint32> pixels; // 0xAARRGGBB, rows top-down; empty for a metafile
    QByteArray metafile;   // a metafile's records (header first), drawn at width × height
    int mapMode = 0;       // the metafile's mapping mode as stored
    int metafileWidth = 0; // its stated extent, in the units of the mapping mode
    int metafileHeight = 0;
    QList<HelpHotspot> hotspots;
    QString codePage; // of the metafile's texts whose font names no character set

    bool isNull() const { return width <= 0 || height <= 0; }
    bool isMetafile() const { return !metafile.isEmpty(); }
};

// The first bitmap of the container, else its first metafile; a null image
// when the bytes hold neither.
HelpImage decodeHelpPicture(const QByteArray& container);
