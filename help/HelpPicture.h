#pragma once

// Pictures of help files: a container (SHG or MRB) holds one or more
// pictures, each a device-dependent or device-independent bitmap or a
// metafile, stored plain, run-length packed, LZ77 packed or both.
#include <QByteArray>
#include <QList>

struct HelpImage {
    int width = 0;
    int height = 0;
    QList<quint32> pixels;    // 0xAARRGGBB, rows top-down; empty for a placeholder
    bool placeholder = false; // a metafile: only its size is known

    bool isNull() const { return width <= 0 || height <= 0; }
};

// The first bitmap of the container, else a placeholder of the first
// metafile's size; a null image when the bytes hold neither.
HelpImage decodeHelpPicture(const QByteArray& container);
