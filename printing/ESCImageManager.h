#pragma once

#include <QByteArray>
#include <QImage>
#include <QObject>

// Rasterises one image for a receipt printer: scales it to the target size,
// flattens it onto white, reduces it to black and white by serpentine error
// diffusion and encodes it as ESC * bit-image stripes, optionally inside a
// page-mode envelope. One instance per image.
class ESCImageManager : public QObject
{
    Q_OBJECT

public:
    ESCImageManager() = default;

    void setImage(const QImage& image, int targetWidth, int targetHeight, bool highDensity, int imagePrintMode,
                  bool compatibilityMode);
    // The bytes to send for the image; empty for a print mode other than 0 or 1.
    QByteArray render() const;

    // A black-and-white picture (a QR code or barcode) as it is, dot for dot:
    // high-density stripes in the standard or the compatible form, no dithering.
    static QByteArray bitImage(const QImage& picture, bool compatibilityMode);

private:
    QImage flattened() const;
    // The header and blank stripe frames for a w x h image; returns where the first frame starts.
    static int appendStripes(QByteArray& out, int w, int h, bool highDensity, bool compatibilityMode);
    static void dither(const QImage& pixels, char* stripes, int stripeSize, int bytesPerColumn, int stripeHeight);

    QImage m_image;
    int m_targetWidth = 0;
    int m_targetHeight = 0;
    int m_imagePrintMode = 0;
    bool m_highDensity = true;
    bool m_compatibilityMode = false;
};
