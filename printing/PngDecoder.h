#pragma once

#include <QByteArray>
#include <QImage>

// A fast decoder for the PNGs receipts usually carry: 8-bit grey, RGB or RGBA,
// not interlaced, no transparency key. Whole-buffer inflate (libdeflate) makes it
// about twice as fast as the general decoder. It gives exactly the pixels and
// format that QImageReader gives; anything outside that subset, or anything
// malformed, is left to QImageReader.
class PngDecoder
{
public:
    static bool available();
    // True with image set when the data was in the subset and decoded; false otherwise.
    static bool decode(const QByteArray& bytes, QImage* image);
    // Whether the data is a PNG whose chunks are all there and, with libdeflate,
    // carry their right checksums. Qt's reader lets libpng write its complaints
    // about any other to standard error.
    static bool whole(const QByteArray& bytes);
};
