#include "printing/ESCImageManager.h"

#include <QPainter>
#include <algorithm>
#include <array>
#include <vector>

namespace {

// Luminance of every RGB565 value, widened back to 8 bits by repeating the top
// bits in the low ones, so that black stays 0 and white 255: an offset (+4, +2)
// made black L = 2 and left every few dots of a solid black area white.
// A table keeps the per-pixel work to one load.
const std::array<quint8, 0x10000>& lumaTable()
{
    static const std::array<quint8, 0x10000> table = [] {
        std::array<quint8, 0x10000> t{};
        for (int p = 0; p < 0x10000; ++p) {
            const int r = (p >> 11) & 0x1F, g = (p >> 5) & 0x3F, b = p & 0x1F;
            const int red = (r << 3) | (r >> 2);
            const int green = (g << 2) | (g >> 4);
            const int blue = (b << 3) | (b >> 2);
            t[p] = quint8(int(0.2125 * red + 0.7154 * green + 0.0721 * blue));
        }
        return t;
    }();
    return table;
}

// One row as RGB565, the way Qt converts 32-bit pixels to 16 bits (by truncation),
// without converting the whole image first.
const quint16* rgb565Row(const QImage& pixels, int y, quint16* buffer)
{
    if (pixels.format() == QImage::Format_RGB16)
        return reinterpret_cast<const quint16*>(pixels.constScanLine(y));
    const auto* source = reinterpret_cast<const QRgb*>(pixels.constScanLine(y));
    for (int x = 0, w = pixels.width(); x < w; ++x) {
        const QRgb p = source[x];
        buffer[x] = quint16(((p >> 8) & 0xF800) | ((p >> 5) & 0x07E0) | ((p >> 3) & 0x001F));
    }
    return buffer;
}

bool painterCanDrawOn(QImage::Format format)
{
    return format != QImage::Format_Invalid && format != QImage::Format_Mono && format != QImage::Format_MonoLSB &&
           format != QImage::Format_Indexed8;
}

} // namespace

void ESCImageManager::setImage(const QImage& image, int targetWidth, int targetHeight, bool highDensity,
                               int imagePrintMode, bool compatibilityMode)
{
    m_image = image;
    m_targetWidth = targetWidth;
    m_targetHeight = targetHeight;
    m_highDensity = highDensity;
    m_imagePrintMode = imagePrintMode;
    m_compatibilityMode = compatibilityMode;
}

// The scaled image on a white canvas: opaque 32-bit RGB, or RGB565 for other formats.
QImage ESCImageManager::flattened() const
{
    if (m_image.isNull() || m_targetWidth <= 0 || m_targetHeight <= 0)
        return QImage();
    const QImage scaled =
        m_image.scaled(m_targetWidth, m_targetHeight, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    if (!scaled.hasAlphaChannel()) // opaque: drawing it on white changes nothing
        return scaled.format() == QImage::Format_RGB32 ? scaled : scaled.convertToFormat(QImage::Format_RGB16);
    // Palette and 1-bit images cannot be painted on; their pixels go onto a 32-bit canvas instead.
    const QImage::Format format = painterCanDrawOn(scaled.format()) ? scaled.format() : QImage::Format_ARGB32;
    QImage canvas(scaled.size(), format);
    canvas.fill(Qt::white);
    {
        QPainter painter(&canvas);
        painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
        painter.drawImage(0, 0, scaled);
    }
    if (canvas.format() == QImage::Format_ARGB32 || canvas.format() == QImage::Format_ARGB32_Premultiplied)
        return canvas; // opaque now: read as 32-bit RGB
    return canvas.convertToFormat(QImage::Format_RGB16);
}

// Serpentine error diffusion (the error counts darkness and never goes negative),
// setting the bit of every pixel that turns black straight in the blank stripes.
// Only two rows of error are alive at a time; each has a spare cell at both ends
// so that diffusion past the edges needs no test.
void ESCImageManager::dither(const QImage& pixels, char* stripes, int stripeSize, int bytesPerColumn, int stripeHeight)
{
    const std::array<quint8, 0x10000>& luma = lumaTable();
    const int w = pixels.width();
    const int h = pixels.height();
    std::vector<int> errors(2 * size_t(w + 2), 0);
    int* current = errors.data() + 1;
    int* next = errors.data() + w + 3;
    std::vector<quint16> converted(pixels.format() == QImage::Format_RGB16 ? 0 : w);
    for (int y = 0; y < h; ++y) {
        const quint16* row = rgb565Row(pixels, y, converted.data());
        std::fill(next - 1, next + w + 1, 0);
        char* column = stripes + (y / stripeHeight) * stripeSize + 5 + ((y % stripeHeight) >> 3);
        const char bit = char(0x80 >> (y & 7));
        if (y % 2 == 0) {
            for (int x = 0; x < w; ++x) {
                int e = current[x] + 255 - luma[row[x]];
                if (e >= 255) {
                    e -= 255;
                    column[x * bytesPerColumn] |= bit;
                }
                const int q = e >> 4; // e / 16: the error is never negative
                current[x + 1] += 7 * q;
                next[x] += 5 * q;
                next[x - 1] += 3 * q;
                next[x + 1] += q;
            }
        } else {
            for (int x = w - 1; x >= 0; --x) {
                int e = current[x] + 255 - luma[row[x]];
                if (e >= 255) {
                    e -= 255;
                    column[x * bytesPerColumn] |= bit;
                }
                const int q = e >> 4; // e / 16: the error is never negative
                current[x - 1] += 7 * q;
                next[x] += 5 * q;
                next[x + 1] += 3 * q;
                next[x - 1] += q;
            }
        }
        std::swap(current, next);
    }
}

QByteArray ESCImageManager::render() const
{
    if (m_imagePrintMode != 0 && m_imagePrintMode != 1)
        return QByteArray();

    const QImage pixels = flattened();
    const int w = pixels.isNull() ? 0 : pixels.width();
    const int h = pixels.isNull() ? 0 : pixels.height();
    const int stripeHeight = m_highDensity ? 24 : 8;
    const int bytesPerColumn = stripeHeight / 8;
    const int stripes = (h + stripeHeight - 1) / stripeHeight;
    const int stripeSize = 5 + w * bytesPerColumn + 3;

    QByteArray out;
    out.reserve(16 + 8 + stripes * stripeSize);
    if (m_imagePrintMode == 1) {
        out.append("\x1B\x4C", 2); // ESC L: select page mode
        // ESC W xL xH yL yH dxL dxH dyL dyH: print area at 0,0 covering the image in
        // dots; a single-density dot is 2 dots wide and 3 tall.
        const int dx = m_highDensity ? w : 2 * w, dy = m_highDensity ? h : 3 * h;
        const char area[] = {'\x1B', '\x57', 0, 0, 0, 0, char(dx), char(dx >> 8), char(dy), char(dy >> 8)};
        out.append(area, sizeof area);
    }
    const int first = appendStripes(out, w, h, m_highDensity, m_compatibilityMode);
    if (h > 0)
        dither(pixels, out.data() + first, stripeSize, bytesPerColumn, stripeHeight);

    if (m_imagePrintMode == 1)
        out.append('\x0C'); // FF: print and return to standard mode
    return out;
}

int ESCImageManager::appendStripes(QByteArray& out, int w, int h, bool highDensity, bool compatibilityMode)
{
    const int stripeHeight = highDensity ? 24 : 8;
    const int bytesPerColumn = stripeHeight / 8;
    const int stripes = (h + stripeHeight - 1) / stripeHeight;
    if (compatibilityMode) {
        out.append("\x1D\x50\xCB\xCB", 4); // GS P x y: motion units 1/203 inch
    } else {
        out.append("\x1D\x50\x00\x00", 4); // GS P 0 0: default motion units
        out.append("\x1B\x33\x00", 3);     // ESC 3 0: line spacing 0
    }
    // Stripe frames, all columns blank; the caller sets the bits of black dots in place.
    const int first = out.size();
    for (int s = 0; s < stripes; ++s) {
        // ESC * m nL nH: bit image, 24-dot double density (33) or 8-dot single density (0)
        const char head[] = {'\x1B', '\x2A', char(highDensity ? 33 : 0), char(w & 0xFF), char((w >> 8) & 0xFF)};
        out.append(head, sizeof head);
        out.append(w * bytesPerColumn, '\0');
        if (compatibilityMode)
            out.append("\x1B\x4A\x18", 3); // ESC J 24: print and feed 24 units
        else
            out.append("\x1B\x64\x00", 3); // ESC d 0: print, feed no lines
    }
    return first;
}

QByteArray ESCImageManager::bitImage(const QImage& picture, bool compatibilityMode)
{
    const QImage mono =
        picture.format() == QImage::Format_Mono ? picture : picture.convertToFormat(QImage::Format_Mono);
    const int w = mono.width();
    const int h = mono.height();
    const int stripeSize = 5 + w * 3 + 3;
    QByteArray out;
    out.reserve(7 + (h + 23) / 24 * stripeSize);
    const int first = appendStripes(out, w, h, true, compatibilityMode);
    char* stripes = out.data() + first;
    const bool blackIsOne = qGray(mono.color(1)) < qGray(mono.color(0));
    for (int y = 0; y < h; ++y) {
        const uchar* row = mono.constScanLine(y);
        char* column = stripes + (y / 24) * stripeSize + 5 + (y % 24) / 8;
        const char bit = char(0x80 >> (y & 7));
        for (int x = 0; x < w; ++x) {
            if (bool((row[x >> 3] >> (7 - (x & 7))) & 1) == blackIsOne)
                column[x * 3] |= bit;
        }
    }
    return out;
}
