#include "printing/ReceiptFont.h"

#include <QDebug>
#include <QFont>
#include <QFontDatabase>
#include <QFontInfo>
#include <QFontMetricsF>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>

#include <mutex>
#include <unordered_map>

#ifdef Q_OS_WIN
// Windows has no fontconfig and no DejaVu: the font comes with the program.
static void loadEmbeddedFont()
{
    Q_INIT_RESOURCE(fonts);
    QFontDatabase::addApplicationFont(QStringLiteral(":/fonts/DejaVuSansMono.ttf"));
}
#endif

namespace {

// A font at the largest pixel size whose advance and height fit the cell, and
// where in the cell its characters start and sit.
struct FittedFace
{
    QFont font;
    qreal x = 0;
    qreal baseline = 0;
};

FittedFace fit(ReceiptFont::Face face)
{
    const int width = ReceiptFont::cellWidth(face);
    const int height = ReceiptFont::cellHeight(face);
    FittedFace fitted;
    fitted.font = QFont(ReceiptFont::preferredFamily());
    fitted.font.setStyleHint(QFont::Monospace);
    // Drawn smooth and then reduced to dots (see draw): even spacing and shapes,
    // where the font's own black-and-white rendering squeezes letters together.
    fitted.font.setStyleStrategy(QFont::PreferAntialias);
    fitted.font.setHintingPreference(QFont::PreferFullHinting);
    for (int pixels = height; pixels > 4; --pixels) {
        fitted.font.setPixelSize(pixels);
        const QFontMetricsF metrics(fitted.font);
        const qreal advance = metrics.horizontalAdvance(QLatin1Char('M'));
        if (advance <= width && metrics.ascent() + metrics.descent() <= height) {
            fitted.x = qRound((width - advance) / 2);
            fitted.baseline = qRound((height - metrics.ascent() - metrics.descent()) / 2 + metrics.ascent());
            break;
        }
    }
    return fitted;
}

class GlyphCache
{
public:
    const ReceiptFont::Glyph& glyph(char16_t character, ReceiptFont::Face face)
    {
        static const ReceiptFont::Glyph none;
        // Fonts need the platform's font database, which a QGuiApplication brings.
        if (!qobject_cast<QGuiApplication*>(QCoreApplication::instance()))
            return none;
        std::lock_guard<std::mutex> lock(m_mutex);
        const quint32 key = quint32(face) << 16 | character;
        auto found = m_glyphs.find(key);
        if (found == m_glyphs.end())
            found = m_glyphs.emplace(key, draw(character, face)).first;
        return found->second;
    }

    QString family()
    {
        if (!qobject_cast<QGuiApplication*>(QCoreApplication::instance()))
            return QString();
        std::lock_guard<std::mutex> lock(m_mutex);
        return QFontInfo(face(ReceiptFont::FontA).font).family();
    }

private:
    const FittedFace& face(ReceiptFont::Face face)
    {
        if (!m_fitted) {
#ifdef Q_OS_WIN
            loadEmbeddedFont();
#endif
            m_faces[ReceiptFont::FontA] = fit(ReceiptFont::FontA);
            m_faces[ReceiptFont::FontB] = fit(ReceiptFont::FontB);
            m_fitted = true;
            const QString used = QFontInfo(m_faces[0].font).family();
            if (used != ReceiptFont::preferredFamily())
                qWarning().noquote() << "ReceiptFont:" << ReceiptFont::preferredFamily()
                                     << "is not installed; previews use" << used;
        }
        return m_faces[face];
    }

    ReceiptFont::Glyph draw(char16_t character, ReceiptFont::Face which)
    {
        const FittedFace& fitted = face(which);
        const int width = ReceiptFont::cellWidth(which);
        const int height = ReceiptFont::cellHeight(which);
        // Half a surrogate pair is no character of its own.
        const QChar unit = QChar(character).isSurrogate() ? QChar(QChar::ReplacementCharacter) : QChar(character);
        QImage cell(width, height, QImage::Format_RGB32);
        cell.fill(Qt::white);
        {
            QPainter painter(&cell);
            painter.setFont(fitted.font);
            painter.setPen(Qt::black);
            painter.drawText(QPointF(fitted.x, fitted.baseline), QString(unit));
        }
        // A dot prints where the ink covers at least half of it.
        ReceiptFont::Glyph glyph;
        for (int y = 0; y < height; ++y) {
            const auto* row = reinterpret_cast<const QRgb*>(cell.constScanLine(y));
            for (int x = 0; x < width;) {
                if (qGray(row[x]) >= 128) {
                    ++x;
                    continue;
                }
                const int start = x;
                while (x < width && qGray(row[x]) < 128)
                    ++x;
                glyph.append({quint8(y), quint8(start), quint8(x)});
            }
        }
        return glyph;
    }

    std::mutex m_mutex;
    std::unordered_map<quint32, ReceiptFont::Glyph> m_glyphs; // references stay valid as it grows
    FittedFace m_faces[2];
    bool m_fitted = false;
};

GlyphCache& cache()
{
    // Never destroyed: fonts must not outlive the application object's font database.
    static GlyphCache* const instance = new GlyphCache;
    return *instance;
}

} // namespace

const ReceiptFont::Glyph& ReceiptFont::glyph(char16_t character, Face face)
{
    return cache().glyph(character, face);
}

QString ReceiptFont::family()
{
    return cache().family();
}
