// The metafile player of the help pictures: one pass over the records of a
// Windows metafile, keeping the device context (objects, colours, modes,
// window and viewport) as the platform's graphics layer would, and drawing
// each record with QPainter in logical coordinates.
#include "HelpMetafile.h"

#include "HelpData.h"
#include "HelpFile.h"
#include "HelpFonts.h"

#include <QFont>
#include <QFontMetricsF>
#include <QPainter>
#include <QPainterPath>
#include <QRegion>

#include <unicode/ucnv.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <memory>
#include <optional>
#include <variant>
#include <vector>

using HelpData::Damaged;
using HelpData::Reader;

namespace {

constexpr qsizetype HeaderBytes = 18;
constexpr int MaxObjects = 4096;      // handle table entries a metafile may ask for
constexpr int MaxSavedContexts = 256; // nested saves kept; deeper ones are ignored
constexpr qint64 MaxBitmapPixels = 8 * 1024 * 1024;
constexpr double MaxScale = 1000.0; // device pixels per logical unit, and its inverse

// Record function numbers.
enum Record : quint16 {
    Eof = 0x0000,
    SaveDC = 0x001E,
    RealizePalette = 0x0035,
    SetPalEntries = 0x0037,
    CreatePalette = 0x00F7,
    SetBkMode = 0x0102,
    SetMapMode = 0x0103,
    SetRop2 = 0x0104,
    SetPolyFillMode = 0x0106,
    SetTextCharExtra = 0x0108,
    RestoreDC = 0x0127,
    SelectClipRegion = 0x012C,
    SelectObject = 0x012D,
    SetTextAlign = 0x012E,
    DibCreatePatternBrush = 0x0142,
    DeleteObject = 0x01F0,
    CreatePatternBrush = 0x01F9,
    SetBkColor = 0x0201,
    SetTextColor = 0x0209,
    SetWindowOrg = 0x020B,
    SetWindowExt = 0x020C,
    SetViewportOrg = 0x020D,
    SetViewportExt = 0x020E,
    OffsetWindowOrg = 0x020F,
    OffsetViewportOrg = 0x0211,
    LineTo = 0x0213,
    MoveTo = 0x0214,
    OffsetClipRgn = 0x0220,
    SelectPalette = 0x0234,
    CreatePenIndirect = 0x02FA,
    CreateFontIndirect = 0x02FB,
    CreateBrushIndirect = 0x02FC,
    Polygon = 0x0324,
    Polyline = 0x0325,
    ScaleWindowExt = 0x0410,
    ScaleViewportExt = 0x0412,
    ExcludeClipRect = 0x0415,
    IntersectClipRect = 0x0416,
    Ellipse = 0x0418,
    Rectangle = 0x041B,
    SetPixel = 0x041F,
    TextOut = 0x0521,
    PolyPolygon = 0x0538,
    RoundRect = 0x061C,
    PatBlt = 0x061D,
    CreateRegion = 0x06FF,
    Arc = 0x0817,
    Pie = 0x081A,
    Chord = 0x0830,
    DibBitBlt = 0x0940,
    ExtTextOut = 0x0A32,
    DibStretchBlt = 0x0B41,
    SetDibitsToDevice = 0x0D33,
    StretchDib = 0x0F43,
};

struct Pen {
    int style = 0; // 0 solid .. 5 null, 6 inside the frame
    int width = 0; // logical units; 0 draws one device pixel
    QColor color = Qt::black;
};

struct Brush {
    int style = 0; // 0 solid, 1 null, 2 hatched, 3 and 5 patterns
    int hatch = 0;
    QColor color = Qt::white;
    QImage pattern;
};

struct Font {
    int height = 0;
    int escapement = 0; // tenths of a degree
    int weight = 400;
    bool italic = false, underline = false, strikeOut = false;
    quint8 charset = 0;
    QString face;
};

using Palette = std::vector<QColor>;
using Object = std::variant<std::monostate, Pen, Brush, Font, Palette>;

struct Context {
    Pen pen;
    Brush brush;
    Font font;
    Palette palette;
    QColor textColor = Qt::black;
    QColor bkColor = Qt::white;
    bool opaque = true;
    int textAlign = 0;
    int rop2 = 13; // copy the pen
    bool winding = false;
    int mapMode = 1;
    QPointF windowOrg, viewportOrg;
    QSizeF windowExt{1, 1}, viewportExt{1, 1};
    QPointF position;
    std::optional<QRegion> clip; // in device pixels
};

struct ConverterCloser {
    void operator()(UConverter* converter) const { ucnv_close(converter); }
};

class Player {
public:
    Player(QPainter& painter, const HelpImage& image, const QRectF& target, const QString& codePage)
        : m_painter(painter), m_image(image), m_target(target), m_codePage(codePage)
    {
    }

    HelpMetafileReport play();

private:
    void record(quint16 function, Reader& r, qsizetype words);
    bool apply();
    QTransform transform() const;
    QColor color(Reader& r) const;
    QPointF point(Reader& r)
    {
        const qint16 y = r.s16();
        return QPointF(r.s16(), y);
    }
    QRectF rect(Reader& r);
    QPolygonF points(Reader& r, int count);
    void create(const Object& object);
    void select(int index);
    void strokeAndFill(const QPainterPath& path, bool fill);
    void text(const QPointF& at, const QByteArray& bytes, const std::vector<int>& dx, int options, const QRectF& box);
    void bitmap(Reader& r, const QRectF& destination, const QRectF& source, quint32 rop);
    void fillDevice(const QRectF& logical, quint32 rop);
    QImage dib(Reader& r) const;
    QString decode(const QByteArray& bytes, quint8 charset);
    void setClip(const QRegion& region);

    QPainter& m_painter;
    const HelpImage& m_image;
    QRectF m_target;
    QString m_codePage;
    Context m_dc;
    std::vector<Context> m_saved;
    std::vector<Object> m_objects;
    std::map<QString, std::unique_ptr<UConverter, ConverterCloser>> m_converters;
    HelpMetafileReport m_report;
};

QColor Player::color(Reader& r) const
{
    const quint8 red = r.u8(), green = r.u8(), blue = r.u8(), flag = r.u8();
    if (flag == 1) { // an index into the selected palette
        const int index = red | (green << 8);
        return index < int(m_dc.palette.size()) ? m_dc.palette[index] : QColor(Qt::black);
    }
    return QColor(red, green, blue);
}

QRectF Player::rect(Reader& r)
{
    const qint16 bottom = r.s16(), right = r.s16(), top = r.s16(), left = r.s16();
    return QRectF(QPointF(left, top), QPointF(right, bottom)).normalized();
}

QPolygonF Player::points(Reader& r, int count)
{
    r.need(qsizetype(count) * 4);
    QPolygonF polygon;
    polygon.reserve(count);
    for (int i = 0; i < count; ++i) {
        const qint16 x = r.s16();
        polygon.append(QPointF(x, r.s16()));
    }
    return polygon;
}

QTransform Player::transform() const
{
    // Fixed mapping modes count physical units at 96 dots per inch, y upwards.
    double unit = 0;
    switch (m_dc.mapMode) {
    case 2:
        unit = 96 / 254.0;
        break; // 0.1 mm
    case 3:
        unit = 96 / 2540.0;
        break; // 0.01 mm
    case 4:
        unit = 96 / 100.0;
        break; // 0.01 inch
    case 5:
        unit = 96 / 1000.0;
        break; // 0.001 inch
    case 6:
        unit = 96 / 1440.0;
        break; // twips
    default:
        break;
    }
    double sx = 1, sy = 1;
    if (unit > 0) {
        sx = unit;
        sy = -unit;
    } else if (m_dc.mapMode == 7 || m_dc.mapMode == 8) {
        sx = m_dc.viewportExt.width() / m_dc.windowExt.width();
        sy = m_dc.viewportExt.height() / m_dc.windowExt.height();
        if (m_dc.mapMode == 7) { // isotropic: the smaller scale both ways
            const double s = std::min(std::abs(sx), std::abs(sy));
            sx = std::copysign(s, sx);
            sy = std::copysign(s, sy);
        }
    }
    // Logical to the picture's own device, then onto the target.
    QTransform t;
    t.translate(m_target.left(), m_target.top());
    t.scale(m_target.width() / m_image.width, m_target.height() / m_image.height);
    t.translate(m_dc.viewportOrg.x(), m_dc.viewportOrg.y());
    t.scale(sx, sy);
    t.translate(-m_dc.windowOrg.x(), -m_dc.windowOrg.y());
    return t;
}

// Sets the painter from the device context; false when the mapping is unusable.
bool Player::apply()
{
    const QTransform t = transform();
    const double sx = std::abs(t.m11()), sy = std::abs(t.m22());
    if (!(sx <= MaxScale && sy <= MaxScale && sx >= 1 / MaxScale && sy >= 1 / MaxScale))
        return false;
    m_painter.setWorldTransform(t);
    static const QPainter::CompositionMode modes[] = {
        QPainter::RasterOp_ClearDestination,           // 1 black (approximated)
        QPainter::RasterOp_NotSourceAndNotDestination, // 2 not merge pen
        QPainter::RasterOp_NotSourceAndDestination,    // 3 mask not pen
        QPainter::RasterOp_NotSource,                  // 4 not copy pen
        QPainter::RasterOp_SourceAndNotDestination,    // 5 mask pen not
        QPainter::RasterOp_NotDestination,             // 6 not
        QPainter::RasterOp_SourceXorDestination,       // 7 xor pen
        QPainter::RasterOp_NotSourceOrNotDestination,  // 8 not mask pen
        QPainter::RasterOp_SourceAndDestination,       // 9 mask pen
        QPainter::RasterOp_NotSourceXorDestination,    // 10 not xor pen
        QPainter::CompositionMode_Destination,         // 11 nothing
        QPainter::RasterOp_NotSourceOrDestination,     // 12 merge not pen
        QPainter::CompositionMode_SourceOver,          // 13 copy pen
        QPainter::RasterOp_SourceOrNotDestination,     // 14 merge pen not
        QPainter::RasterOp_SourceOrDestination,        // 15 merge pen
        QPainter::RasterOp_SetDestination,             // 16 white
    };
    m_painter.setCompositionMode(m_dc.rop2 >= 1 && m_dc.rop2 <= 16 ? modes[m_dc.rop2 - 1]
                                                                   : QPainter::CompositionMode_SourceOver);

    const Pen& pen = m_dc.pen;
    if ((pen.style & 0x0F) == 5) {
        m_painter.setPen(Qt::NoPen);
    } else {
        static const Qt::PenStyle styles[] = {Qt::SolidLine,      Qt::DashLine, Qt::DotLine,  Qt::DashDotLine,
                                              Qt::DashDotDotLine, Qt::NoPen,    Qt::SolidLine};
        QPen qpen(pen.color);
        qpen.setStyle(styles[std::min(pen.style & 0x0F, 6)]);
        // Width 0 (and any width under a pixel) draws one device pixel, as the platform does.
        const double width =
            std::min<double>(pen.width, 4 * std::max(m_image.width, m_image.height) / std::min(sx, sy));
        qpen.setWidthF(width * std::min(sx, sy) < 1.5 ? 0 : width);
        qpen.setCosmetic(qpen.widthF() == 0);
        qpen.setCapStyle(Qt::FlatCap);
        qpen.setJoinStyle(Qt::MiterJoin);
        m_painter.setPen(qpen);
    }
    const Brush& brush = m_dc.brush;
    static const Qt::BrushStyle hatches[] = {Qt::HorPattern,   Qt::VerPattern,   Qt::FDiagPattern,
                                             Qt::BDiagPattern, Qt::CrossPattern, Qt::DiagCrossPattern};
    switch (brush.style) {
    case 0:
        m_painter.setBrush(brush.color);
        break;
    case 2:
        m_painter.setBrush(QBrush(brush.color, hatches[std::clamp(brush.hatch, 0, 5)]));
        break;
    case 3:
    case 5:
        m_painter.setBrush(brush.pattern.isNull() ? QBrush(Qt::gray) : QBrush(brush.pattern));
        break;
    default:
        m_painter.setBrush(Qt::NoBrush);
        break;
    }
    m_painter.setBackgroundMode(m_dc.opaque ? Qt::OpaqueMode : Qt::TransparentMode);
    m_painter.setBackground(m_dc.bkColor);
    return true;
}

void Player::setClip(const QRegion& region)
{
    m_dc.clip = region;
    const QTransform t = m_painter.worldTransform();
    m_painter.setWorldTransform(QTransform());
    m_painter.setClipRegion(region);
    m_painter.setWorldTransform(t);
}

void Player::create(const Object& object)
{
    // The new object takes the lowest free handle.
    for (Object& slot : m_objects) {
        if (std::holds_alternative<std::monostate>(slot)) {
            slot = object;
            return;
        }
    }
}

void Player::select(int index)
{
    if (index < 0 || index >= int(m_objects.size()))
        return;
    const Object& object = m_objects[index];
    if (const auto* pen = std::get_if<Pen>(&object))
        m_dc.pen = *pen;
    else if (const auto* brush = std::get_if<Brush>(&object))
        m_dc.brush = *brush;
    else if (const auto* font = std::get_if<Font>(&object))
        m_dc.font = *font;
    else if (const auto* palette = std::get_if<Palette>(&object))
        m_dc.palette = *palette;
}

void Player::strokeAndFill(const QPainterPath& path, bool fill)
{
    if (!apply())
        return;
    if (!fill)
        m_painter.setBrush(Qt::NoBrush);
    m_painter.drawPath(path);
    ++m_report.drawn;
}

QString Player::decode(const QByteArray& bytes, quint8 charset)
{
    QString name = HelpFile::codePageOfCharset(charset);
    if (name.isEmpty())
        name = m_codePage;
    auto found = m_converters.find(name);
    if (found == m_converters.end()) {
        UErrorCode status = U_ZERO_ERROR;
        UConverter* converter = ucnv_open(name.toLatin1().constData(), &status);
        found = m_converters.emplace(name, U_FAILURE(status) ? nullptr : converter).first;
    }
    if (!found->second)
        return QString::fromLatin1(bytes);
    std::vector<UChar> out(size_t(bytes.size()) * 2 + 2);
    UErrorCode status = U_ZERO_ERROR;
    const int32_t length = ucnv_toUChars(found->second.get(), out.data(), int32_t(out.size()), bytes.constData(),
                                         int32_t(bytes.size()), &status);
    return U_FAILURE(status) ? QString::fromLatin1(bytes) : QString(reinterpret_cast<const QChar*>(out.data()), length);
}

void Player::text(const QPointF& at, const QByteArray& bytes, const std::vector<int>& dx, int options,
                  const QRectF& box)
{
    if (!apply())
        return;
    const QTransform t = m_painter.worldTransform();
    const Font& f = m_dc.font;
    // Text is drawn upright in device pixels, whatever the direction of the logical axes.
    const double scaleY = std::abs(t.m22()), scaleX = std::abs(t.m11());
    QFont font;
    font.setFamilies(helpFontFamilies(f.face));
    font.setStyleStrategy(QFont::PreferAntialias);
    double pixels = std::abs(f.height) * scaleY;
    if (f.height == 0)
        pixels = 16 * std::min(scaleY, 1.0) + 0.5;
    pixels = std::clamp(pixels, 1.0, 2000.0);
    font.setPixelSize(std::max(1, int(std::lround(pixels))));
    if (f.height > 0) {
        // A positive height is the character cell's: ascent and descent together.
        const QFontMetricsF metrics(font);
        const double cell = metrics.ascent() + metrics.descent();
        if (cell > 0)
            font.setPixelSize(std::max(1, int(std::lround(pixels * pixels / cell))));
    }
    font.setWeight(QFont::Weight(std::clamp(f.weight / 10 * 10, 100, 900)));
    font.setItalic(f.italic);
    font.setUnderline(f.underline);
    font.setStrikeOut(f.strikeOut);
    const QString string = decode(bytes, f.charset);
    const QFontMetricsF metrics(font);

    m_painter.setWorldTransform(QTransform());
    m_painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
    if (options & 0x0002) // opaque: the rectangle is filled with the background colour
        m_painter.fillRect(t.mapRect(box), m_dc.bkColor);
    m_painter.save();
    if (options & 0x0004) // clipped to the rectangle
        m_painter.setClipRect(t.mapRect(box), Qt::IntersectClip);
    const bool updatePosition = m_dc.textAlign & 0x0001;
    QPointF origin = t.map(updatePosition ? m_dc.position : at);
    double width = 0;
    std::vector<double> advances;
    for (qsizetype i = 0; i < string.size(); ++i) {
        const double advance =
            i < qsizetype(dx.size()) ? dx[size_t(i)] * scaleX : metrics.horizontalAdvance(string.at(i));
        advances.push_back(advance);
        width += advance;
    }
    m_painter.translate(origin);
    m_painter.rotate(-f.escapement / 10.0);
    double x = 0;
    switch (m_dc.textAlign & 0x0006) {
    case 0x0002:
        x = -width;
        break; // right
    case 0x0006:
        x = -width / 2;
        break; // centre
    default:
        break;
    }
    double y = metrics.ascent(); // top
    if ((m_dc.textAlign & 0x0018) == 0x0018)
        y = 0; // baseline
    else if (m_dc.textAlign & 0x0008)
        y = -metrics.descent(); // bottom
    if (m_dc.opaque && !(options & 0x0002))
        m_painter.fillRect(QRectF(x, y - metrics.ascent(), width, metrics.ascent() + metrics.descent()), m_dc.bkColor);
    m_painter.setFont(font);
    m_painter.setPen(m_dc.textColor);
    if (dx.empty()) {
        m_painter.drawText(QPointF(x, y), string);
    } else {
        double pen = x;
        for (qsizetype i = 0; i < string.size(); ++i) {
            m_painter.drawText(QPointF(pen, y), QString(string.at(i)));
            pen += advances[size_t(i)];
        }
    }
    m_painter.restore();
    if (updatePosition)
        m_dc.position = t.inverted().map(origin + QPointF(width, 0));
    ++m_report.drawn;
}

QImage Player::dib(Reader& r) const
{
    const qsizetype start = r.pos();
    const quint32 headerSize = r.u32();
    qint64 width = 0, height = 0;
    int bitCount = 0;
    quint32 compression = 0, colours = 0;
    if (headerSize == 12) {
        width = r.u16();
        height = r.s16();
        r.skip(2);
        bitCount = r.u16();
    } else if (headerSize >= 40) {
        width = r.s32();
        height = r.s32();
        r.skip(2);
        bitCount = r.u16();
        compression = r.u32();
        r.skip(12);
        colours = r.u32();
        r.skip(4);
        r.skip(headerSize - 40);
    } else {
        throw Damaged{};
    }
    const bool topDown = height < 0;
    height = std::abs(height);
    if (width <= 0 || height <= 0 || width * height > MaxBitmapPixels || compression != 0 ||
        (bitCount != 1 && bitCount != 4 && bitCount != 8 && bitCount != 16 && bitCount != 24 && bitCount != 32))
        throw Damaged{};
    if (colours == 0 && bitCount <= 8)
        colours = 1u << bitCount;
    if (colours > 256 && bitCount <= 8)
        throw Damaged{};
    std::vector<QRgb> palette;
    if (bitCount <= 8) {
        for (quint32 i = 0; i < colours; ++i) {
            const quint8 b = r.u8(), g = r.u8(), red = r.u8();
            if (headerSize != 12)
                r.skip(1);
            palette.push_back(qRgb(red, g, b));
        }
    }
    Q_UNUSED(start);
    const qsizetype stride = (width * bitCount + 31) / 32 * 4;
    QImage image(int(width), int(height), QImage::Format_RGB32);
    image.fill(Qt::white);
    for (qint64 row = 0; row < height && r.remaining() >= stride; ++row) {
        const QByteArray line = r.bytes(stride);
        const auto* p = reinterpret_cast<const uchar*>(line.constData());
        auto* out = reinterpret_cast<QRgb*>(image.scanLine(int(topDown ? row : height - 1 - row)));
        for (qint64 x = 0; x < width; ++x) {
            if (bitCount == 24 || bitCount == 32) {
                const uchar* px = p + x * (bitCount / 8);
                out[x] = qRgb(px[2], px[1], px[0]);
            } else if (bitCount == 16) {
                const int v = p[x * 2] | (p[x * 2 + 1] << 8);
                out[x] = qRgb(((v >> 10) & 31) * 255 / 31, ((v >> 5) & 31) * 255 / 31, (v & 31) * 255 / 31);
            } else {
                const int perByte = 8 / bitCount;
                const int shift = 8 - bitCount * int(x % perByte + 1);
                const size_t index = (p[x / perByte] >> shift) & ((1 << bitCount) - 1);
                out[x] = index < palette.size() ? palette[index] : qRgb(0, 0, 0);
            }
        }
    }
    return image;
}

void Player::fillDevice(const QRectF& logical, quint32 rop)
{
    if (!apply())
        return;
    QColor fill;
    QPainter::CompositionMode mode = QPainter::CompositionMode_SourceOver;
    switch (rop) {
    case 0x00000042:
        fill = Qt::black;
        break; // blackness
    case 0x00FF0062:
        fill = Qt::white;
        break; // whiteness
    case 0x00550009:
        fill = Qt::white;
        mode = QPainter::RasterOp_SourceXorDestination;
        break; // invert
    case 0x00AA0029:
        return; // nothing
    default:    // the brush
        if (m_dc.brush.style == 1)
            return;
        m_painter.setPen(Qt::NoPen);
        if (rop == 0x005A0049)
            m_painter.setCompositionMode(QPainter::RasterOp_SourceXorDestination);
        m_painter.drawRect(logical);
        ++m_report.drawn;
        return;
    }
    m_painter.setCompositionMode(mode);
    m_painter.fillRect(logical, fill);
    ++m_report.drawn;
}

void Player::bitmap(Reader& r, const QRectF& destination, const QRectF& source, quint32 rop)
{
    const QImage image = dib(r);
    if (!apply())
        return;
    switch (rop) {
    case 0x008800C6:
        m_painter.setCompositionMode(QPainter::RasterOp_SourceAndDestination);
        break; // and
    case 0x00EE0086:
        m_painter.setCompositionMode(QPainter::RasterOp_SourceOrDestination);
        break; // paint
    case 0x00660046:
        m_painter.setCompositionMode(QPainter::RasterOp_SourceXorDestination);
        break; // invert
    case 0x00330008:
        m_painter.setCompositionMode(QPainter::RasterOp_NotSource);
        break; // not copy
    default:
        m_painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
        break;
    }
    const QRectF from = source.isEmpty() ? QRectF(image.rect()) : source;
    m_painter.drawImage(destination, image, from);
    ++m_report.drawn;
}

void Player::record(quint16 function, Reader& r, qsizetype words)
{
    switch (function) {
    case SaveDC:
        if (m_saved.size() < MaxSavedContexts)
            m_saved.push_back(m_dc);
        break;
    case RestoreDC: {
        const int n = r.s16();
        // Negative counts back from the last save, positive names a save by its number.
        const qsizetype index = n < 0 ? qsizetype(m_saved.size()) + n : qsizetype(n) - 1;
        if (index < 0 || index >= qsizetype(m_saved.size()))
            break;
        m_dc = m_saved[size_t(index)];
        m_saved.resize(size_t(index));
        if (m_dc.clip)
            setClip(*m_dc.clip);
        else
            m_painter.setClipping(false);
        break;
    }
    case SetMapMode:
        m_dc.mapMode = r.u16();
        break;
    case SetWindowOrg: {
        const qint16 y = r.s16();
        m_dc.windowOrg = QPointF(r.s16(), y);
        break;
    }
    case SetViewportOrg: {
        const qint16 y = r.s16();
        m_dc.viewportOrg = QPointF(r.s16(), y);
        break;
    }
    case OffsetWindowOrg: {
        const qint16 y = r.s16();
        m_dc.windowOrg += QPointF(r.s16(), y);
        break;
    }
    case OffsetViewportOrg: {
        const qint16 y = r.s16();
        m_dc.viewportOrg += QPointF(r.s16(), y);
        break;
    }
    case SetWindowExt:
    case SetViewportExt: {
        const qint16 y = r.s16(), x = r.s16();
        if (x == 0 || y == 0)
            break; // a zero extent would divide by zero; the platform refuses it too
        (function == SetWindowExt ? m_dc.windowExt : m_dc.viewportExt) = QSizeF(x, y);
        break;
    }
    case ScaleWindowExt:
    case ScaleViewportExt: {
        const qint16 yDenom = r.s16(), yNum = r.s16(), xDenom = r.s16(), xNum = r.s16();
        QSizeF& ext = function == ScaleWindowExt ? m_dc.windowExt : m_dc.viewportExt;
        if (xDenom && yDenom && xNum && yNum)
            ext = QSizeF(ext.width() * xNum / xDenom, ext.height() * yNum / yDenom);
        break;
    }
    case SetBkColor:
        m_dc.bkColor = color(r);
        break;
    case SetTextColor:
        m_dc.textColor = color(r);
        break;
    case SetBkMode:
        m_dc.opaque = r.u16() == 2;
        break;
    case SetRop2:
        m_dc.rop2 = r.u16();
        break;
    case SetPolyFillMode:
        m_dc.winding = r.u16() == 2;
        break;
    case SetTextAlign:
        m_dc.textAlign = r.u16();
        break;
    case CreatePenIndirect: {
        Pen pen;
        pen.style = r.u16();
        pen.width = r.s16();
        r.skip(2);
        pen.color = color(r);
        create(pen);
        break;
    }
    case CreateBrushIndirect: {
        Brush brush;
        brush.style = r.u16();
        brush.color = color(r);
        brush.hatch = r.u16();
        create(brush);
        break;
    }
    case DibCreatePatternBrush: {
        Brush brush;
        brush.style = 5;
        r.skip(4); // style and colour usage
        try {
            brush.pattern = dib(r);
        } catch (const Damaged&) {
        }
        create(brush);
        break;
    }
    case CreatePatternBrush:
        create(Brush{3, 0, Qt::gray, {}});
        break;
    case CreateFontIndirect: {
        Font font;
        font.height = r.s16();
        r.skip(2); // width
        font.escapement = r.s16();
        r.skip(2); // orientation
        font.weight = r.s16();
        font.italic = r.u8();
        font.underline = r.u8();
        font.strikeOut = r.u8();
        font.charset = r.u8();
        r.skip(4); // precisions, quality, pitch and family
        const QByteArray face = r.bytes(std::min<qsizetype>(32, r.remaining()));
        const qsizetype end = face.indexOf('\0');
        font.face = QString::fromLatin1(end < 0 ? face : face.left(end));
        create(font);
        break;
    }
    case CreatePalette: {
        r.skip(2); // version
        const int count = r.u16();
        Palette palette;
        for (int i = 0; i < count; ++i) {
            const quint8 red = r.u8(), green = r.u8(), blue = r.u8();
            r.skip(1);
            palette.emplace_back(red, green, blue);
        }
        create(palette);
        break;
    }
    case SetPalEntries: {
        const int first = r.u16(), count = r.u16();
        for (int i = 0; i < count; ++i) {
            const quint8 red = r.u8(), green = r.u8(), blue = r.u8();
            r.skip(1);
            if (first + i < int(m_dc.palette.size()))
                m_dc.palette[size_t(first + i)] = QColor(red, green, blue);
        }
        break;
    }
    case CreateRegion:
        create(std::monostate{});
        break; // regions take a handle; they are not drawn
    case SelectObject:
    case SelectPalette:
        select(r.u16());
        break;
    case DeleteObject: {
        const int index = r.u16();
        if (index < int(m_objects.size()))
            m_objects[size_t(index)] = std::monostate{};
        break;
    }
    case MoveTo:
        m_dc.position = point(r);
        break;
    case LineTo: {
        const QPointF to = point(r);
        QPainterPath path(m_dc.position);
        path.lineTo(to);
        m_dc.position = to;
        strokeAndFill(path, false);
        break;
    }
    case Polyline:
    case Polygon: {
        const int count = r.s16();
        if (count < 0)
            throw Damaged{};
        QPainterPath path;
        path.addPolygon(points(r, count));
        if (function == Polygon)
            path.closeSubpath();
        path.setFillRule(m_dc.winding ? Qt::WindingFill : Qt::OddEvenFill);
        strokeAndFill(path, function == Polygon);
        break;
    }
    case PolyPolygon: {
        const int polygons = r.u16();
        r.need(qsizetype(polygons) * 2);
        std::vector<int> counts;
        for (int i = 0; i < polygons; ++i)
            counts.push_back(r.u16());
        QPainterPath path;
        path.setFillRule(m_dc.winding ? Qt::WindingFill : Qt::OddEvenFill);
        for (const int count : counts) {
            path.addPolygon(points(r, count));
            path.closeSubpath();
        }
        strokeAndFill(path, true);
        break;
    }
    case Rectangle:
    case Ellipse: {
        const QRectF box = rect(r);
        QPainterPath path;
        if (function == Rectangle)
            path.addRect(box);
        else
            path.addEllipse(box);
        strokeAndFill(path, true);
        break;
    }
    case RoundRect: {
        const qint16 height = r.s16(), width = r.s16();
        QPainterPath path;
        path.addRoundedRect(rect(r), width / 2.0, height / 2.0);
        strokeAndFill(path, true);
        break;
    }
    case Arc:
    case Pie:
    case Chord: {
        const QPointF end = point(r), start = point(r);
        const QRectF box = rect(r);
        if (box.isEmpty())
            break;
        // Angles of the radials through the start and end points; the arc runs counterclockwise
        // on the screen, which is clockwise in logical units when the y axis points down.
        const QPointF c = box.center();
        auto angle = [&](const QPointF& p) {
            return std::atan2(-(p.y() - c.y()) / box.height(), (p.x() - c.x()) / box.width()) * 180 / M_PI;
        };
        const QTransform t = transform();
        const bool flipped = (t.m11() < 0) != (t.m22() < 0);
        const double a0 = angle(start);
        double sweep = angle(end) - a0;
        if (flipped) {
            while (sweep >= 0)
                sweep -= 360;
        } else {
            while (sweep <= 0)
                sweep += 360;
        }
        QPainterPath path;
        if (function == Pie) {
            path.moveTo(c);
            path.arcTo(box, a0, sweep);
            path.closeSubpath();
        } else {
            path.arcMoveTo(box, a0);
            path.arcTo(box, a0, sweep);
            if (function == Chord)
                path.closeSubpath();
        }
        strokeAndFill(path, function != Arc);
        break;
    }
    case SetPixel: {
        const QColor c = color(r);
        const QPointF at = point(r);
        if (apply()) {
            m_painter.fillRect(QRectF(at, QSizeF(1, 1)), c);
            ++m_report.drawn;
        }
        break;
    }
    case TextOut: {
        const int count = r.s16();
        if (count < 0)
            throw Damaged{};
        const QByteArray bytes = r.bytes(count);
        r.skip(count & 1);
        const QPointF at = point(r);
        text(at, bytes, {}, 0, QRectF());
        break;
    }
    case ExtTextOut: {
        const QPointF at = point(r);
        const int count = r.s16();
        const int options = r.u16();
        QRectF box;
        if (options & 0x0006) {
            const qint16 left = r.s16(), top = r.s16(), right = r.s16(), bottom = r.s16();
            box = QRectF(QPointF(left, top), QPointF(right, bottom)).normalized();
        }
        if (count < 0)
            throw Damaged{};
        const QByteArray bytes = r.bytes(count);
        r.skip(std::min<qsizetype>(count & 1, r.remaining()));
        std::vector<int> dx;
        if (r.remaining() >= qsizetype(count) * 2) {
            for (int i = 0; i < count; ++i)
                dx.push_back(r.s16());
        }
        text(at, bytes, dx, options, box);
        break;
    }
    case PatBlt: {
        const quint32 rop = r.u32();
        const qint16 h = r.s16(), w = r.s16();
        const QPointF at = point(r);
        fillDevice(QRectF(at, QSizeF(w, h)), rop);
        break;
    }
    case DibBitBlt:
    case DibStretchBlt: {
        const bool stretch = function == DibStretchBlt;
        const quint32 rop = r.u32();
        // Without a bitmap the record holds one more word and works as a pattern fill.
        const bool noBitmap = words == (stretch ? 14 : 12);
        QSizeF sourceSize;
        if (stretch) {
            const qint16 sh = r.s16(), sw = r.s16();
            sourceSize = QSizeF(sw, sh);
        }
        const qint16 ySrc = r.s16(), xSrc = r.s16();
        if (noBitmap)
            r.skip(2);
        const qint16 h = r.s16(), w = r.s16();
        const QPointF at = point(r);
        const QRectF destination(at, QSizeF(w, h));
        if (noBitmap)
            fillDevice(destination, rop);
        else
            bitmap(r, destination, QRectF(QPointF(xSrc, ySrc), stretch ? sourceSize : QSizeF(w, h)), rop);
        break;
    }
    case StretchDib: {
        const quint32 rop = r.u32();
        r.skip(2); // colour usage
        const qint16 sh = r.s16(), sw = r.s16(), ySrc = r.s16(), xSrc = r.s16();
        const qint16 h = r.s16(), w = r.s16();
        const QPointF at = point(r);
        bitmap(r, QRectF(at, QSizeF(w, h)), QRectF(xSrc, ySrc, sw, sh), rop);
        break;
    }
    case SetDibitsToDevice: {
        r.skip(2 + 2 + 2); // colour usage, scan count, start scan
        const qint16 ySrc = r.s16(), xSrc = r.s16(), h = r.s16(), w = r.s16();
        const QPointF at = point(r);
        bitmap(r, QRectF(at, QSizeF(w, h)), QRectF(xSrc, ySrc, w, h), 0x00CC0020);
        break;
    }
    case IntersectClipRect:
    case ExcludeClipRect: {
        const QRectF box = rect(r);
        const QTransform t = transform();
        const QRegion device(t.mapRect(box).toAlignedRect());
        const QRegion current = m_dc.clip ? *m_dc.clip : QRegion(m_target.toAlignedRect());
        setClip(function == IntersectClipRect ? current.intersected(device) : current.subtracted(device));
        break;
    }
    case OffsetClipRgn: {
        const qint16 y = r.s16(), x = r.s16();
        if (m_dc.clip) {
            const QTransform t = transform();
            const QPointF shift = t.map(QPointF(x, y)) - t.map(QPointF(0, 0));
            setClip(m_dc.clip->translated(shift.toPoint()));
        }
        break;
    }
    case SelectClipRegion:
        // Selecting no region (or one this player does not keep) lifts the clipping.
        m_dc.clip.reset();
        m_painter.setClipping(false);
        break;
    case RealizePalette:
    case SetTextCharExtra:
        break;
    default:
        ++m_report.skipped;
        return;
    }
}

HelpMetafileReport Player::play()
{
    const QByteArray& data = m_image.metafile;
    try {
        Reader header(data);
        const quint16 type = header.u16();
        const quint16 headerWords = header.u16();
        header.skip(2 + 4); // version, size
        const int objects = header.u16();
        if ((type != 1 && type != 2) || headerWords * 2 < HeaderBytes)
            return m_report;
        m_objects.resize(size_t(std::min(objects, MaxObjects)));
        // Until the metafile sets its own, the window is the picture and the stated mapping mode holds.
        m_dc.mapMode = m_image.mapMode >= 1 && m_image.mapMode <= 8 ? m_image.mapMode : 8;
        m_dc.windowExt = QSizeF(m_image.width, m_image.height);
        m_dc.viewportExt = QSizeF(m_image.width, m_image.height);

        m_painter.save();
        m_painter.setRenderHint(QPainter::Antialiasing, false);
        m_painter.setRenderHint(QPainter::TextAntialiasing, true);
        m_painter.setRenderHint(QPainter::SmoothPixmapTransform, false);
        m_painter.setClipRect(m_target);
        // Every record is at least three words long and advances the walk, so it ends with the data.
        qsizetype pos = qsizetype(headerWords) * 2;
        while (pos + 6 <= data.size()) {
            Reader head(data, pos, 6);
            const quint32 words = head.u32();
            const quint16 function = head.u16();
            if (function == Eof || words < 3 || qint64(words) * 2 > data.size() - pos)
                break;
            ++m_report.records;
            Reader r(data, pos + 6, qsizetype(words) * 2 - 6);
            try {
                record(function, r, qsizetype(words));
            } catch (const Damaged&) {
                ++m_report.skipped; // a record shorter than its kind needs
            }
            pos += qsizetype(words) * 2;
        }
        m_painter.restore();
    } catch (const Damaged&) {
    }
    return m_report;
}

} // namespace

HelpMetafileReport drawHelpMetafile(QPainter& painter, const HelpImage& image, const QRectF& target,
                                    const QString& codePage)
{
    if (image.isNull() || !image.isMetafile() || target.isEmpty())
        return {};
    return Player(painter, image, target, codePage).play();
}

QImage helpPictureImage(const HelpImage& image, qreal scale)
{
    if (image.isNull())
        return {};
    if (image.isMetafile()) {
        const QSize size(std::max(1, int(std::lround(image.width * scale))),
                         std::max(1, int(std::lround(image.height * scale))));
        QImage out(size, QImage::Format_RGB32);
        out.fill(Qt::white);
        QPainter painter(&out);
        drawHelpMetafile(painter, image, QRectF(QPointF(0, 0), size),
                         image.codePage.isEmpty() ? QStringLiteral("windows-1252") : image.codePage);
        return out;
    }
    if (image.pixels.size() != qsizetype(image.width) * image.height)
        return {};
    QImage out(image.width, image.height, QImage::Format_ARGB32);
    for (int y = 0; y < image.height; ++y)
        std::copy_n(image.pixels.constData() + qsizetype(y) * image.width, image.width,
                    reinterpret_cast<quint32*>(out.scanLine(y)));
    if (scale != 1.0)
        return out.scaled(std::max(1, int(std::lround(image.width * scale))),
                          std::max(1, int(std::lround(image.height * scale))), Qt::IgnoreAspectRatio,
                          Qt::SmoothTransformation);
    return out;
}
