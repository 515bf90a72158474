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
    m_skippedImages.clear();
    for (m_operation = 0; m_operation < m_job.size(); ++m_operation) {
        m_stopped = QThread::currentThread()->isInterruptionRequested();
        if (m_refused || m_stopped)
            break;
        const QJsonObject operation = m_job.at(m_operation).toObject();
        if (!operation.isEmpty())
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

bool PrintJob::printsImages() const
{
    return m_settings.imagePrintMode == 0 || m_settings.imagePrintMode == 1;
}

void PrintJob::fetchImages()
{
    m_downloading = false;
    m_downloads.clear();
    JobSettings settings;
    std::swap(settings, m_settings); // the settings in force at each image, as render() meets them
    for (int i = 0; i < m_job.size() && !QThread::currentThread()->isInterruptionRequested(); ++i) {
        const QJsonObject operation = m_job.at(i).toObject();
        const QString op = operation.value(QLatin1String("op")).toString();
        const QJsonValue data = operation.value(QLatin1String("data"));
        if (op == QLatin1String("settings") && data.isObject())
            m_settings = JobSettings::fromJson(data.toObject());
        else if (op == QLatin1String("image") && printsImages() && data.toString().startsWith(QLatin1String("http")))
            m_downloads.insert(i, download(data.toString()));
    }
    std::swap(settings, m_settings);
}

PrintJob::Download PrintJob::download(const QString& address)
{
    Download result;
    if (!m_downloading) {
        m_downloading = true;
        m_imageDeadline.setRemainingTime(m_imageTimeMs);
    }
    if (m_imageDeadline.hasExpired()) {
        qDebug("PrintJob: the job's %d ms for image downloads are used up, image skipped", m_imageTimeMs);
        result.problem = QStringLiteral("the job's %1 ms for image downloads were used up").arg(m_imageTimeMs);
    } else {
        ImageLoader::download(address, int(qMax<qint64>(1, m_imageDeadline.remainingTime())), &result.body,
                              &result.problem);
    }
    return result;
}

void PrintJob::printImage(const QString& source)
{
    // Other print modes print nothing: the image is neither fetched nor decoded.
    if (!printsImages())
        return;
    QImage image;
    QString problem;
    if (!source.startsWith(QLatin1String("http"))) {
        image = ImageLoader::fromBase64(source, &problem);
        // Another kind of address reads as Base64 that is no PNG; say what it is.
        const int scheme = source.indexOf(QLatin1String("://"));
        if (image.isNull() && scheme > 0 && scheme < 16 && !source.leftRef(scheme).contains(QLatin1Char(',')))
            problem = QStringLiteral("not an http(s) address");
    } else {
        const Download fetched = m_downloads.contains(m_operation) ? m_downloads.take(m_operation) : download(source);
        if (fetched.problem.isEmpty())
            image = ImageLoader::decode(fetched.body, nullptr, &problem);
        else
            problem = fetched.problem;
    }
    if (image.isNull())
        m_skippedImages << QStringLiteral("Operation %1 (image) is not printed: %2.")
                               .arg(m_operation)
                               .arg(problem.isEmpty() ? QStringLiteral("no image") : problem);
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

// Lines longer than width are cut where the text's own line end is, or else at
// the last space or hyphen in the window, or hard when it has neither. A line
// end anywhere in the window [pos, pos + width] is always the cut (the first
// one, dropped): a line of exactly width characters before it gets no extra
// break, and a hard cut never runs through it. Spaces and hyphens only count
// in a window without a line end. Leading spaces are dropped on continuation
// lines only; a line after the text's own line end keeps its indentation.
// Every index used moves only forward over the text: linear, however long the
// text and however few its spaces.
QString PrintJob::wrapText(const QString& s, int width)
{
    // A zero or negative width (a settings value, halved by double width) would never advance.
    const int w = qMax(1, width);
    const int len = s.size();
    QString o;
    o.reserve(len + len / w + 1);
    int lastSpace = -1, lastHyphen = -1, nextNewline = 0, ink = 0;
    int swept = 0, sweptHyphens = 0; // characters looked at so far, from the start
    int pos = 0;
    bool continuation = false; // pos follows a cut made here, not a line end of the text
    while (true) {
        if (len - pos <= w) {
            o.append(s.midRef(pos));
            return o;
        }
        if (continuation && s.at(pos) == QLatin1Char(' ')) {
            ++pos; // a continuation line does not start with a space
            continue;
        }
        while (nextNewline < len && (nextNewline < pos || s.at(nextNewline) != QLatin1Char('\n')))
            ++nextNewline;
        if (nextNewline <= pos + w) {
            o.append(s.midRef(pos, nextNewline - pos));
            o.append(QLatin1Char('\n'));
            pos = nextNewline + 1;
            continuation = false;
            continue;
        }
        continuation = true;
        // Spaces that indent the line are no place to cut it.
        for (ink = qMax(ink, pos); ink < len && s.at(ink) == QLatin1Char(' ');)
            ++ink;
        for (; swept <= pos + w; ++swept) {
            if (s.at(swept) == QLatin1Char(' '))
                lastSpace = swept;
        }
        // A hyphen counts one place less far: it stays on its line.
        for (; sweptHyphens <= pos + w - 1; ++sweptHyphens) {
            if (s.at(sweptHyphens) == QLatin1Char('-'))
                lastHyphen = sweptHyphens;
        }
        const int hy = lastHyphen + 1;
        const int cut = qMax(lastSpace > ink ? lastSpace : -1, hy);
        if (cut <= pos) {
            o.append(s.midRef(pos, w));
            o.append(QLatin1Char('\n'));
            pos += w;
            continue;
        }
        o.append(s.midRef(pos, cut - pos));
        o.append(QLatin1Char('\n'));
        // A hyphen stays at the end of its line; the space at the cut is dropped.
        pos = cut == hy ? cut : cut + 1;
    }
}
