#include "printing/PngDecoder.h"

#ifdef QLK_HAVE_LIBDEFLATE
#include <libdeflate.h>
#endif

#include <cstdlib>
#include <cstring>
#include <memory>

#ifdef QLK_HAVE_LIBDEFLATE
namespace {

quint32 bigEndian(const uchar* p)
{
    return quint32(p[0]) << 24 | quint32(p[1]) << 16 | quint32(p[2]) << 8 | quint32(p[3]);
}

bool isCritical(const uchar* type)
{
    return (type[0] & 0x20) == 0;
}

int paeth(int a, int b, int c)
{
    const int pa = std::abs(b - c);
    const int pb = std::abs(a - c);
    const int pc = std::abs(a + b - 2 * c);
    return (pa <= pb && pa <= pc) ? a : (pb <= pc ? b : c);
}

// Undoes one row's filter in place; prior is the previous unfiltered row (zeros for
// the first). The channels of a pixel are independent chains; with the pixel size
// known at compile time they run side by side.
template <int bpp>
bool unfilterRow(uchar filter, uchar* row, const uchar* prior, int length)
{
    switch (filter) {
    case 0: // None
        return true;
    case 1: // Sub
        for (int i = bpp; i < length; i += bpp)
            for (int c = 0; c < bpp; ++c)
                row[i + c] = uchar(row[i + c] + row[i + c - bpp]);
        return true;
    case 2: // Up
        for (int i = 0; i < length; ++i)
            row[i] = uchar(row[i] + prior[i]);
        return true;
    case 3: // Average
        for (int c = 0; c < bpp; ++c)
            row[c] = uchar(row[c] + (prior[c] >> 1));
        for (int i = bpp; i < length; i += bpp)
            for (int c = 0; c < bpp; ++c)
                row[i + c] = uchar(row[i + c] + ((row[i + c - bpp] + prior[i + c]) >> 1));
        return true;
    case 4: // Paeth
        for (int c = 0; c < bpp; ++c)
            row[c] = uchar(row[c] + prior[c]);
        for (int i = bpp; i < length; i += bpp)
            for (int c = 0; c < bpp; ++c)
                row[i + c] = uchar(row[i + c] + paeth(row[i + c - bpp], prior[i + c], prior[i + c - bpp]));
        return true;
    default:
        return false;
    }
}

bool unfilter(uchar filter, uchar* row, const uchar* prior, int length, int bpp)
{
    return bpp == 1   ? unfilterRow<1>(filter, row, prior, length)
           : bpp == 3 ? unfilterRow<3>(filter, row, prior, length)
                      : unfilterRow<4>(filter, row, prior, length);
}

} // namespace
#endif

bool PngDecoder::available()
{
#ifdef QLK_HAVE_LIBDEFLATE
    return true;
#else
    return false;
#endif
}

bool PngDecoder::whole(const QByteArray& bytes)
{
    static const char signature[8] = {'\x89', 'P', 'N', 'G', '\x0D', '\x0A', '\x1A', '\x0A'};
    const auto* data = reinterpret_cast<const uchar*>(bytes.constData());
    const qint64 size = bytes.size();
    if (size < 8 || std::memcmp(data, signature, 8) != 0)
        return false;
    bool sawData = false;
    for (qint64 pos = 8; pos + 12 <= size;) {
        const quint32 length = quint32(data[pos]) << 24 | quint32(data[pos + 1]) << 16 | quint32(data[pos + 2]) << 8 |
                               quint32(data[pos + 3]);
        if (length > quint64(size - pos - 12))
            return false;
        const uchar* type = data + pos + 4;
        if ((pos == 8) != (std::memcmp(type, "IHDR", 4) == 0))
            return false;
#ifdef QLK_HAVE_LIBDEFLATE
        if (libdeflate_crc32(0, type, length + 4) != bigEndian(type + 4 + length))
            return false;
#endif
        sawData = sawData || std::memcmp(type, "IDAT", 4) == 0;
        if (std::memcmp(type, "IEND", 4) == 0)
            return sawData;
        pos += 12 + qint64(length);
    }
    return false;
}

bool PngDecoder::decode(const QByteArray& bytes, QImage* image)
{
#ifndef QLK_HAVE_LIBDEFLATE
    Q_UNUSED(bytes);
    Q_UNUSED(image);
    return false;
#else
    static const uchar signature[8] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
    const auto* data = reinterpret_cast<const uchar*>(bytes.constData());
    const qint64 size = bytes.size();
    if (size < 8 + 25 || std::memcmp(data, signature, 8) != 0)
        return false;

    quint32 width = 0;
    quint32 height = 0;
    int channels = 0;
    QByteArray idat;
    bool sawHeader = false;
    bool sawEnd = false;
    for (qint64 pos = 8; pos + 12 <= size && !sawEnd;) {
        const quint32 length = bigEndian(data + pos);
        if (length > quint64(size - pos - 12))
            return false;
        const uchar* type = data + pos + 4;
        const uchar* body = type + 4;
        if (libdeflate_crc32(0, type, length + 4) != bigEndian(body + length))
            return false;
        if (!sawHeader) {
            if (std::memcmp(type, "IHDR", 4) != 0 || length != 13)
                return false;
            width = bigEndian(body);
            height = bigEndian(body + 4);
            const uchar depth = body[8], color = body[9], compression = body[10], filter = body[11],
                        interlace = body[12];
            channels = color == 0 ? 1 : color == 2 ? 3 : color == 6 ? 4 : 0;
            if (depth != 8 || channels == 0 || compression != 0 || filter != 0 || interlace != 0 || width == 0 ||
                height == 0 || width > 0xFFFF || height > 0xFFFF)
                return false;
            sawHeader = true;
        } else if (std::memcmp(type, "IDAT", 4) == 0) {
            idat.append(reinterpret_cast<const char*>(body), int(length));
        } else if (std::memcmp(type, "IEND", 4) == 0) {
            sawEnd = true;
        } else if (std::memcmp(type, "tRNS", 4) == 0 || (isCritical(type) && std::memcmp(type, "PLTE", 4) != 0) ||
                   (std::memcmp(type, "PLTE", 4) == 0 && channels == 1)) {
            return false; // transparency keys, palettes where none belongs, unknown critical chunks
        }
        pos += 12 + qint64(length);
    }
    if (!sawHeader || !sawEnd || idat.isEmpty())
        return false;

    const qint64 stride = qint64(width) * channels;
    const qint64 rawSize = qint64(height) * (stride + 1);
    if (rawSize > qint64(512) * 1024 * 1024)
        return false;
    std::unique_ptr<uchar[]> raw(new (std::nothrow) uchar[size_t(rawSize)]);
    if (!raw)
        return false;
    std::unique_ptr<libdeflate_decompressor, void (*)(libdeflate_decompressor*)> inflater(
        libdeflate_alloc_decompressor(), libdeflate_free_decompressor);
    if (!inflater || libdeflate_zlib_decompress(inflater.get(), idat.constData(), size_t(idat.size()), raw.get(),
                                                size_t(rawSize), nullptr) != LIBDEFLATE_SUCCESS)
        return false;

    QImage out(int(width), int(height),
               channels == 1   ? QImage::Format_Grayscale8
               : channels == 3 ? QImage::Format_RGB32
                               : QImage::Format_ARGB32);
    if (out.isNull())
        return false;
    const std::unique_ptr<uchar[]> zeros(new uchar[size_t(stride)]());
    const uchar* prior = zeros.get();
    for (quint32 y = 0; y < height; ++y) {
        uchar* line = raw.get() + qint64(y) * (stride + 1);
        uchar* row = line + 1;
        if (!unfilter(line[0], row, prior, int(stride), channels))
            return false;
        prior = row;
        if (channels == 1) {
            std::memcpy(out.scanLine(int(y)), row, size_t(width));
        } else if (channels == 3) {
            auto* target = reinterpret_cast<QRgb*>(out.scanLine(int(y)));
            for (quint32 x = 0; x < width; ++x)
                target[x] = qRgb(row[3 * x], row[3 * x + 1], row[3 * x + 2]);
        } else {
            auto* target = reinterpret_cast<QRgb*>(out.scanLine(int(y)));
            for (quint32 x = 0; x < width; ++x)
                target[x] = qRgba(row[4 * x], row[4 * x + 1], row[4 * x + 2], row[4 * x + 3]);
        }
    }
    *image = out;
    return true;
#endif
}
