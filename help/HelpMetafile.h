#pragma once

// Draws the pictures of help files over QPainter: bitmaps as they are, and
// Windows metafiles (the 16-bit record format help authors drew with) by
// playing their records: lines, polygons, rectangles, ellipses, arcs, chords
// and pies, text with fonts and alignment, pens, brushes (hatched ones too),
// palettes, device-independent bitmaps, window and viewport origins and
// extents, mapping modes, saved device contexts and clipping rectangles.
//
// Records this player does not know are skipped. A damaged metafile draws
// what it can: every read is bounded by its record, the walk ends at the end
// of the data, and sizes that would cost unbounded time or memory (nested
// saves, bitmaps, scale factors) are refused record by record.
#include "HelpPicture.h"

#include <QImage>
#include <QRectF>

class QPainter;

// What a metafile's playing met, for tests and statistics.
struct HelpMetafileReport {
    int records = 0; // records read
    int drawn = 0;   // records that drew something
    int skipped = 0; // records of an unknown kind, or too damaged to use
};

// Plays the records into the rectangle (in the painter's coordinates); the
// picture's window is fitted to it. codePage names the ICU converter of texts
// whose font declares no character set.
HelpMetafileReport drawHelpMetafile(QPainter& painter, const HelpImage& image, const QRectF& target,
                                    const QString& codePage = QStringLiteral("windows-1252"));

// The picture as an image of its own size (scaled by scale): a bitmap's
// pixels, or a metafile drawn on white.
QImage helpPictureImage(const HelpImage& image, qreal scale = 1.0);
