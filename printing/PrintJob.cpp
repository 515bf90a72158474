#include "printing/PrintJob.h"

#include "printing/CodeOperation.h"
#include "printing/CodePages.h"
#include "printing/ESCImageManager.h"
#include "printing/JobCheck.h"
#include "printing/NativeESCFakeSocket.h"

#include <QDebug>
#include <QIODevice>
#include <QJsonObject>
#include <QJsonValue>
#include <QThread>

PrintJob::PrintJob(const QJsonArray& job, const QString& printerName, bool compatibilityMode, QObject* parent)
    : QObject(parent)
    , m_job(job)
    , m_printerName(printerName)
    , m_compatibilityMode(compatibilityMode)
    , m_device(new NativeESCFakeSocket(this))
{}

bool PrintJob::print()
{
    // Callers answer the reason first; a job they did not check still never prints half.
    if (!JobCheck::problem(m_job, m_compatibilityMode).isEmpty())
        return false;
    if (!m_device->setPrinter(m_printerName))
        return false;
    if (!m_device->startDocument())
        return false;
    const bool walked = render(m_device);
    if (m_stopped) {
        qCritical("PrintJob: the server is being switched off; the job is cancelled");
        m_device->discardDocument();
        return false;
    }
    m_device->endDocument();
    return walked && !m_device->failed();
}

bool PrintJob::render(QIODevice* sink)
{
    m_sink = sink;
    m_refused = false;
    m_stopped = false;
    m_downloading = false;
    resetState();
    if (!m_compatibilityMode)
        initialize();
    for (const QJsonValue& element : qAsConst(m_job)) {
        m_stopped = QThread::currentThread()->isInterruptionRequested();
        if (m_refused || m_stopped)
            break;
        if (!element.isObject())
            continue;
        const QJsonObject operation = element.toObject();
        dispatch(operation.value(QLatin1String("op")).toString(), operation.value(QLatin1String("data")));
    }
    m_sink = nullptr;
    return !m_refused;
}

void PrintJob::resetState()
{
    m_settings = JobSettings();
    m_doubleWidth = m_doubleHeight = m_condensed = m_emphasized = m_underlined = false;
    m_alignment = -1;
}

void PrintJob::initialize()
{
    m_doubleWidth = m_doubleHeight = m_condensed = m_emphasized = m_underlined = false;
    m_alignment = -1;
    send(QByteArrayLiteral("\x1B\x40")); // ESC @: initialise printer
}

void PrintJob::dispatch(const QString& op, const QJsonValue& data)
{
    if (op == QLatin1String("settings")) {
        if (data.isObject())
            m_settings = JobSettings::fromJson(data.toObject());
    } else if (op == QLatin1String("double")) {
        if (!data.isObject())
            return;
        const QJsonObject o = data.toObject();
        const bool height = o.value(QLatin1String("height")).toBool(false);
        const bool width = o.value(QLatin1String("width")).toBool(false);
        if (height == m_doubleHeight && width == m_doubleWidth)
            return;
        m_doubleHeight = height;
        m_doubleWidth = width;
        sendPrintMode();
    } else if (op == QLatin1String("condensed")) {
        const bool condensed = data.toBool(false);
        if (condensed == m_condensed)
            return;
        m_condensed = condensed;
        sendPrintMode();
    } else if (op == QLatin1String("style")) {
        if (!data.isObject())
            return;
        const QJsonObject o = data.toObject();
        const bool emphasized = o.value(QLatin1String("emphasized")).toBool(false);
        const bool underlined = o.value(QLatin1String("underlined")).toBool(false);
        if (emphasized == m_emphasized && underlined == m_underlined)
            return;
        m_emphasized = emphasized;
        m_underlined = underlined;
        sendPrintMode();
    } else if (op == QLatin1String("alignment")) {
        int alignment = data.toInt(0);
        if (alignment < 0 || alignment > 2)
            alignment = 0;
        if (alignment == m_alignment)
            return;
        m_alignment = alignment;
        const char bytes[] = {'\x1B', '\x61', char(alignment)}; // ESC a n: justification
        send(QByteArray(bytes, sizeof bytes));
    } else if (op == QLatin1String("cut")) {
        if (!data.isString() || !m_settings.hasCutter)
            return;
        if (data.toString() == QLatin1String("no_feed"))
            send(QByteArrayLiteral("\x1D\x56\x31")); // GS V 49: partial cut
        else
            send(QByteArrayLiteral("\x1D\x56\x42\x0A")); // GS V 66 10: feed 10 units, partial cut
    } else if (op == QLatin1String("pulse")) {
        if (!data.isObject() || !m_settings.hasDrawer)
            return;
        const QJsonObject o = data.toObject();
        int drawer = o.value(QLatin1String("drawer")).toInt(0);
        int pulse = o.value(QLatin1String("pulse")).toInt(50);
        if (drawer != 0 && drawer != 1)
            drawer = 0;
        if (pulse < 50 || pulse > 250)
            pulse = 50;
        // ESC p m t1 t2: drawer pin 2 (m 0) or 5 (m 1), on t1 x 2 ms, off 250 x 2 ms
        const char bytes[] = {'\x1B', '\x70', char(drawer), char(pulse), '\xFA'};
        send(QByteArray(bytes, sizeof bytes));
    } else if (op == QLatin1String("text")) {
        if (data.isString())
            printText(data.toString());
    } else if (op == QLatin1String("image")) {
        if (!data.isString())
            return;
        printImage(data.toString());
        // An image leaves the printer in an unknown mode; start afresh.
        if (!m_compatibilityMode)
            initialize();
    } else if (CodeOperation::handles(op)) {
        printCode(CodeOperation(op, data));
    }
}

void PrintJob::printCode(const CodeOperation& code)
{
    if (!code.error().isEmpty())
        return; // only in a job that was not checked
    // Printers in compatibility mode lack the code commands: an image, as for the others.
    if (code.native() && !m_compatibilityMode) {
        send(code.commands());
        return;
    }
    send(ESCImageManager::bitImage(code.picture(), m_compatibilityMode));
    if (!m_compatibilityMode)
        initialize(); // as after any image: line spacing and modes back to normal
}

void PrintJob::sendPrintMode()
{
    char n = 0;
    if (m_condensed)
        n |= 0x01; // font B
    if (m_emphasized)
        n |= 0x08;
    if (m_doubleHeight)
        n |= 0x10;
    if (m_doubleWidth)
        n |= 0x20;
    if (m_underlined)
        n |= char(0x80);
    const char bytes[] = {'\x1B', '\x21', n}; // ESC ! n: select print mode
    send(QByteArray(bytes, sizeof bytes));
}

void PrintJob::printText(const QString& text)
{
    int width = m_condensed ? m_settings.condensedLineWidth : m_settings.normalLineWidth;
    if (m_doubleWidth)
        width /= 2;
    const QString folded = m_settings.replaceAccentedChars ? CodePages::foldToAscii(text) : text;
    send(CodePages::encodeText(wrapText(folded, width), m_settings.alternativeCharset));
}

void PrintJob::printImage(const QString& source)
{
    QImage image;
    if (!source.startsWith(QLatin1String("http"))) {
        image = ImageLoader::fromBase64(source);
    } else {
        if (!m_downloading) {
            m_downloading = true;
            m_imageDeadline.setRemainingTime(m_imageTimeMs);
        }
        if (m_imageDeadline.hasExpired())
            qDebug("PrintJob: the job's %d ms for image downloads are used up, image skipped", m_imageTimeMs);
        else
            image = ImageLoader::fetch(source, int(qMax<qint64>(1, m_imageDeadline.remainingTime())));
    }
    qDebug() << image.width() << image.height();
    const bool low = m_settings.lowDensity;
    // Single density prints wider dots and 8-dot stripes: halve the width, third the height.
    const float horizontal = low ? 0.5f : 1.0f;
    const float vertical = low ? 0.33333334f : 1.0f;
    ESCImageManager manager;
    manager.setImage(image, int(image.width() * horizontal), int(image.height() * vertical), !low,
                     m_settings.imagePrintMode, m_compatibilityMode);
    send(manager.render());
}

void PrintJob::send(const QByteArray& bytes)
{
    if (bytes.isEmpty() || m_refused || !m_sink)
        return;
    if (m_sink->write(bytes) != bytes.size()) {
        m_refused = true;
        qCritical() << "PrintJob: the printer refused" << bytes.size() << "bytes; the rest of the job is dropped";
    }
}

// Lines longer than width are cut at the last space or hyphen in the window, or
// at a line end that comes before them; a window with neither is cut hard. A
// line end after the window's last space or hyphen is met again in the next pass.
// The last space, line end and hyphen at or before the window's end are found by
// one sweep over the text that only moves forward: linear, however long the
// text and however few its spaces.
QString PrintJob::wrapText(const QString& s, int width)
{
    // A zero or negative width (a settings value, halved by double width) would never advance.
    const int w = qMax(1, width);
    const int len = s.size();
    QString o;
    o.reserve(len + len / w + 1);
    int lastSpace = -1, lastNewline = -1, lastHyphen = -1;
    int swept = 0, sweptHyphens = 0; // characters looked at so far, from the start
    int pos = 0;
    while (true) {
        if (len - pos <= w) {
            o.append(s.midRef(pos));
            return o;
        }
        if (s.at(pos) == QLatin1Char(' ')) {
            ++pos; // a continuation line does not start with a space
            continue;
        }
        for (; swept <= pos + w; ++swept) {
            if (s.at(swept) == QLatin1Char(' '))
                lastSpace = swept;
            else if (s.at(swept) == QLatin1Char('\n'))
                lastNewline = swept;
        }
        // A hyphen counts one place less far: it stays on its line.
        for (; sweptHyphens <= pos + w - 1; ++sweptHyphens) {
            if (s.at(sweptHyphens) == QLatin1Char('-'))
                lastHyphen = sweptHyphens;
        }
        const int sp = lastSpace;
        const int nl = lastNewline;
        const int hy = lastHyphen + 1;
        const int brk = qMax(sp, hy);
        int cut;
        if (pos < nl && nl < brk) {
            cut = nl;
        } else if (brk <= pos) {
            o.append(s.midRef(pos, w));
            o.append(QLatin1Char('\n'));
            pos += w;
            continue;
        } else {
            cut = brk;
        }
        o.append(s.midRef(pos, cut - pos));
        o.append(QLatin1Char('\n'));
        // A hyphen stays at the end of its line; the space or line end at the cut
        // is dropped, also a line end right after a hyphen (no blank line).
        pos = (cut == hy && s.at(cut) != QLatin1Char('\n')) ? cut : cut + 1;
    }
}
