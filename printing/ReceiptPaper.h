#pragma once

#include <QImage>
#include <QRect>

#include <vector>

// A strip of thermal paper, one bit per printer dot, that grows downwards as a
// receipt is drawn on it. Drawing outside the paper or the clip is dropped.
class ReceiptPaper
{
public:
    explicit ReceiptPaper(int width);

    int width() const { return m_width; }
    int height() const { return m_height; }
    // Lengthens the strip with blank paper to at least rows.
    void extend(int rows);
    // Throws away everything from row y down; the strip ends there.
    void cutBack(int y);

    // Limits drawing to a rectangle of the paper (page mode's print area); a null
    // rectangle is the whole paper.
    void setClip(const QRect& clip);
    // Blackens the dots of a rectangle, lengthening the strip as needed.
    void fill(int x, int y, int width, int height);
    // Whether the clip has cut away dots of a fill since the last call.
    bool takeClipped();
    // Dots blackened or added to the strip so far: the drawing's work.
    qint64 work() const { return m_work; }
    bool dot(int x, int y) const;

    // Black on white, one bit per dot (an empty strip gives one blank row).
    QImage image() const;

private:
    int m_width;
    int m_stride; // bytes per row
    int m_height = 0;
    QRect m_clip;
    bool m_clipped = false;
    qint64 m_work = 0;
    std::vector<uchar> m_bits;
};
