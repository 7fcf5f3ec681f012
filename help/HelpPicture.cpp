#include "HelpPicture.h"

#include "HelpData.h"
#include "HelpDecompress.h"

#include <algorithm>

using HelpData::Damaged;
using HelpData::Reader;

namespace {

constexpr qsizetype MaxPixels = 16 * 1024 * 1024;
constexpr qsizetype MaxMetafileBytes = 16 * 1024 * 1024;

QByteArray unpack(const QByteArray& stored, int packing, qsizetype expected)
{
    QByteArray data = stored;
    if (packing == 2 || packing == 3) {
        const auto unpacked = helpLz77Decompress(data.constData(), data.size(), packing == 2 ? expected : MaxPixels);
        if (!unpacked)
            throw Damaged{};
        data = *unpacked;
    }
    if (packing == 1 || packing == 3)
        data = helpRunLenDecompress(data, expected);
    return data;
}

// The hot spots after a picture: a version byte, the count, the size of the
// macro data, one fixed entry per hot spot, the macro data and two strings
// per hot spot (its name and the context string or macro it runs).
QList<HelpHotspot> hotspots(const QByteArray& container, qsizetype at, qsizetype size)
{
    QList<HelpHotspot> result;
    if (size <= 0)
        return result;
    try {
        Reader reader(container, at, size);
        if (reader.u8() != 1)
            return result;
        const quint16 count = reader.u16();
        const quint32 macroSize = reader.u32();
        reader.need(qsizetype(count) * 15);
        for (int i = 0; i < count; ++i) {
            HelpHotspot spot;
            const quint8 type = reader.u8();
            reader.skip(2);
            spot.x = reader.u16();
            spot.y = reader.u16();
            spot.width = reader.u16();
            spot.height = reader.u16();
            spot.contextHash = reader.u32();
            switch (type) {
            case 0xE2:
            case 0xE6:
            case 0xEA:
            case 0xEE:
                spot.kind = HelpHotspot::Kind::Popup;
                break;
            case 0xE3:
            case 0xE7:
            case 0xEB:
            case 0xEF:
                spot.kind = HelpHotspot::Kind::Jump;
                break;
            default:
                spot.kind = HelpHotspot::Kind::Macro;
                break;
            }
            result.append(spot);
        }
        reader.skip(macroSize);
        for (HelpHotspot& spot : result) {
            spot.name = QString::fromLatin1(reader.stringz());
            reader.stringz(); // the context string; its hash is what the file's context table holds
        }
    } catch (const Damaged&) {
        // Hot spots read so far keep their rectangles; names are only for show.
    }
    return result;
}

HelpImage bitmap(const QByteArray& container, qsizetype start, quint8 type, int packing)
{
    Reader reader(container, start + 2);
    reader.compressedULong(); // resolution
    reader.compressedULong();
    reader.compressedUShort(); // planes
    const int bitCount = reader.compressedUShort();
    const qint64 width = reader.compressedULong();
    const qint64 height = reader.compressedULong();
    quint32 colours = reader.compressedULong();
    reader.compressedULong(); // important colours
    const quint32 storedSize = reader.compressedULong();
    const quint32 hotspotSize = reader.compressedULong();
    const quint32 dataOffset = reader.u32();
    const quint32 hotspotOffset = reader.u32();
    if (width <= 0 || height <= 0 || width * height > MaxPixels ||
        (bitCount != 1 && bitCount != 4 && bitCount != 8 && bitCount != 24 && bitCount != 32))
        throw Damaged{};
    QList<quint32> palette;
    if (type == 6) {
        if (colours == 0 && bitCount <= 8)
            colours = 1u << bitCount;
        if (colours > 256)
            throw Damaged{};
        for (quint32 i = 0; i < colours; ++i) {
            const quint8 b = reader.u8(), g = reader.u8(), r = reader.u8();
            reader.skip(1);
            palette.append(0xFF000000u | (quint32(r) << 16) | (quint32(g) << 8) | b);
        }
    } else {
        palette = {0xFF000000u, 0xFFFFFFFFu}; // a device-dependent bitmap is black and white
        for (int i = 2; i < (1 << std::min(bitCount, 8)); ++i)
            palette.append(0xFF000000u | quint32(i * 0x010101 * 255 / ((1 << std::min(bitCount, 8)) - 1)));
    }
    // Device-independent rows run bottom-up padded to four bytes, device-dependent ones top-down padded to two.
    const qsizetype align = type == 6 ? 32 : 16;
    const qsizetype stride = (width * bitCount + align - 1) / align * (align / 8);
    const QByteArray bits =
        unpack(Reader(container, start + dataOffset, storedSize).bytes(storedSize), packing, stride * height);
    HelpImage image;
    image.width = int(width);
    image.height = int(height);
    image.pixels.resize(width * height, 0xFFFFFFFFu);
    image.hotspots = hotspots(container, start + hotspotOffset, hotspotSize);
    const auto* data = reinterpret_cast<const uchar*>(bits.constData());
    for (qint64 y = 0; y < height; ++y) {
        const qint64 row = type == 6 ? height - 1 - y : y;
        if ((row + 1) * stride > bits.size())
            continue; // short data leaves white rows
        const uchar* line = data + row * stride;
        quint32* out = image.pixels.data() + y * width;
        for (qint64 x = 0; x < width; ++x) {
            if (bitCount >= 24) {
                const uchar* p = line + x * (bitCount / 8);
                out[x] = 0xFF000000u | (quint32(p[2]) << 16) | (quint32(p[1]) << 8) | p[0];
            } else {
                const int perByte = 8 / bitCount;
                const int shift = 8 - bitCount * int(x % perByte + 1);
                const int index = (line[x / perByte] >> shift) & ((1 << bitCount) - 1);
                out[x] = index < palette.size() ? palette[index] : 0xFF000000u;
            }
        }
    }
    return image;
}

HelpImage metafile(const QByteArray& container, qsizetype start, int packing)
{
    Reader reader(container, start + 2);
    const int mapMode = reader.compressedUShort();
    const int width = reader.u16();
    const int height = reader.u16();
    const quint32 unpackedSize = reader.compressedULong();
    const quint32 storedSize = reader.compressedULong();
    const quint32 hotspotSize = reader.compressedULong();
    const quint32 dataOffset = reader.u32();
    const quint32 hotspotOffset = reader.u32();
    HelpImage image;
    image.metafile = unpack(Reader(container, start + dataOffset, storedSize).bytes(storedSize), packing,
                            std::min<qsizetype>(unpackedSize, MaxMetafileBytes));
    if (image.metafile.size() < 18)
        throw Damaged{};
    image.mapMode = mapMode;
    image.metafileWidth = width;
    image.metafileHeight = height;
    // The extent counts hundredths of a millimetre; the picture is drawn at 96 dots per inch.
    image.width = std::clamp((width * 96 + 1270) / 2540, 1, 1600);
    image.height = std::clamp((height * 96 + 1270) / 2540, 1, 1600);
    image.hotspots = hotspots(container, start + hotspotOffset, hotspotSize);
    return image;
}

} // namespace

HelpImage decodeHelpPicture(const QByteArray& container)
{
    HelpImage fallback;
    try {
        Reader reader(container);
        const quint16 magic = reader.u16();
        if (magic != 0x506C && magic != 0x706C)
            return {};
        const quint16 count = reader.u16();
        for (int i = 0; i < count; ++i) {
            const quint32 start = reader.u32();
            Reader picture(container, start, 2);
            const quint8 type = picture.u8();
            const quint8 packing = picture.u8();
            if (packing > 3)
                continue;
            try {
                if (type == 5 || type == 6)
                    return bitmap(container, start, type, packing);
                if (type == 8 && fallback.isNull())
                    fallback = metafile(container, start, packing);
            } catch (const Damaged&) {
                // try the container's next picture
            }
        }
    } catch (const Damaged&) {
    }
    return fallback;
}
