#include "printing/ReceiptPaper.h"

#include <algorithm>
#include <cstring>

ReceiptPaper::ReceiptPaper(int width)
    : m_width(qMax(1, width))
    , m_stride((m_width + 7) / 8)
{}

void ReceiptPaper::extend(int rows)
{
    if (rows <= m_height)
        return;
    m_work += qint64(rows - m_height) * m_width;
    m_bits.resize(size_t(rows) * size_t(m_stride), 0);
    m_height = rows;
}

void ReceiptPaper::cutBack(int y)
{
    m_height = qBound(0, y, m_height);
    m_bits.resize(size_t(m_height) * size_t(m_stride));
}

void ReceiptPaper::setClip(const QRect& clip)
{
    m_clip = clip;
}

void ReceiptPaper::fill(int x, int y, int width, int height)
{
    int x0 = qMax(0, x);
    int x1 = qMin(m_width, x + width);
    int y0 = qMax(0, y);
    int y1 = y + height;
    if (!m_clip.isNull() && x0 < x1 && y0 < y1) {
        const QRect wanted(x0, y0, x1 - x0, y1 - y0);
        x0 = qMax(x0, m_clip.left());
        x1 = qMin(x1, m_clip.left() + m_clip.width());
        y0 = qMax(y0, m_clip.top());
        y1 = qMin(y1, m_clip.top() + m_clip.height());
        m_clipped = m_clipped || wanted != QRect(x0, y0, x1 - x0, y1 - y0);
    }
    if (x0 >= x1 || y0 >= y1)
        return;
    extend(y1);
    m_work += qint64(x1 - x0) * (y1 - y0);
    const int first = x0 >> 3;
    const int last = (x1 - 1) >> 3;
    const uchar head = uchar(0xFF >> (x0 & 7));             // dots x0.. of the first byte
    const uchar tail = uchar(0xFF << (7 - ((x1 - 1) & 7))); // dots ..x1-1 of the last byte
    for (int row = y0; row < y1; ++row) {
        uchar* bits = m_bits.data() + size_t(row) * size_t(m_stride);
        if (first == last) {
            bits[first] |= head & tail;
            continue;
        }
        bits[first] |= head;
        std::memset(bits + first + 1, 0xFF, size_t(last - first - 1));
        bits[last] |= tail;
    }
}

bool ReceiptPaper::takeClipped()
{
    const bool clipped = m_clipped;
    m_clipped = false;
    return clipped;
}

bool ReceiptPaper::dot(int x, int y) const
{
    if (x < 0 || x >= m_width || y < 0 || y >= m_height)
        return false;
    return m_bits[size_t(y) * size_t(m_stride) + size_t(x >> 3)] & (0x80 >> (x & 7));
}

QImage ReceiptPaper::image() const
{
    QImage image(m_width, qMax(1, m_height), QImage::Format_Mono);
    image.setColorTable({qRgb(255, 255, 255), qRgb(0, 0, 0)});
    if (image.isNull())
        return image;
    image.fill(0);
    for (int row = 0; row < m_height; ++row)
        std::memcpy(image.scanLine(row), m_bits.data() + size_t(row) * size_t(m_stride), size_t(m_stride));
    return image;
}
