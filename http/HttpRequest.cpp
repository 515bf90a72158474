#include "http/HttpRequest.h"

#include "http/HttpCookie.h"

#include <QAbstractSocket>
#include <QSettings>
#include <QTemporaryFile>
#include <QtDebug>

#include <algorithm>
#include <memory>

namespace {

constexpr qint64 kMultiPartBlock = 65536;
// The request line and the headers together, and the number of header fields:
// enough for any browser, and no more entries or bytes than that per request.
constexpr qint64 kMaxHeaderBytes = 65536;
constexpr int kMaxHeaderFields = 100;

bool isHexDigit(char c)
{
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

int hexValue(char c)
{
    return c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10;
}

// The text after the marker and its opening double quote, up to the next double quote.
QByteArray quotedAttribute(const QByteArray& line, const QByteArray& marker)
{
    const int at = line.indexOf(marker);
    if (at < 0)
        return QByteArray();
    const int start = at + marker.size();
    const int end = line.indexOf('"', start);
    return end < 0 ? line.mid(start) : line.mid(start, end - start);
}

} // namespace

HttpRequest::HttpRequest(const QSettings* settings)
    : HttpRequest(limitsFrom(settings))
{}

HttpRequest::HttpRequest(const Limits& limits)
    : m_maxSize(limits.maxSize)
    , m_maxMultiPartSize(limits.maxMultiPartSize)
{}

HttpRequest::Limits HttpRequest::limitsFrom(const QSettings* settings)
{
    Limits limits;
    if (settings) {
        limits.maxSize = settings->value(QStringLiteral("maxRequestSize"), limits.maxSize).toLongLong();
        limits.maxMultiPartSize =
            settings->value(QStringLiteral("maxMultiPartSize"), limits.maxMultiPartSize).toLongLong();
    }
    return limits;
}

HttpRequest::~HttpRequest()
{
    for (QTemporaryFile* file : qAsConst(m_uploadedFiles)) {
        file->close();
        delete file;
    }
    if (m_tempFile) {
        m_tempFile->close();
        delete m_tempFile;
    }
}

void HttpRequest::readFromSocket(QIODevice* socket)
{
    if (m_skipLf && m_status != Complete && m_status != Aborted) {
        char next = 0;
        if (socket->peek(&next, 1) != 1)
            return;
        m_skipLf = false;
        if (next == '\n') {
            socket->getChar(&next);
            ++m_currentSize;
            return;
        }
    }

    const bool inHead = m_status == AwaitingRequestLine || m_status == AwaitingHeaders;
    switch (m_status) {
    case AwaitingRequestLine:
        readRequestLine(socket);
        break;
    case AwaitingHeaders:
        readHeader(socket);
        break;
    case AwaitingBody:
        readBody(socket);
        break;
    case Complete:
    case Aborted:
        return;
    }

    if (m_status == Aborted)
        return;
    if ((m_boundary.isEmpty() && m_currentSize > m_maxSize) ||
        (!m_boundary.isEmpty() && m_currentSize > m_maxMultiPartSize))
        return refuse("HttpRequest: received too many bytes");
    if (inHead && m_currentSize > kMaxHeaderBytes)
        return refuse("HttpRequest: header section too large");

    if (m_status == Complete) {
        decodeRequestParams();
        if (m_status == Complete)
            extractCookies();
    }
}

void HttpRequest::refuse(const char* warning, Refusal refusal)
{
    qWarning("%s", warning);
    m_status = Aborted;
    m_refusal = refusal;
}

bool HttpRequest::readLine(QIODevice* socket, QByteArray* line)
{
    // Never read past what the limits leave; at a limit one more byte is enough
    // to trip it, so an endless line cannot grow memory.
    const qint64 left = qMax<qint64>(1, qMin(m_maxSize, kMaxHeaderBytes) - m_currentSize);
    // Read in small pieces: QIODevice::readLine(maxSize) allocates maxSize bytes
    // up front, megabytes for every header line, and the mapping and unmapping
    // of that much memory was most of the server's time.
    const int start = m_lineBuffer.size();
    char piece[1024];
    qint64 wanted = left;
    while (wanted > 0) {
        const qint64 read = socket->readLine(piece, qMin<qint64>(sizeof piece, wanted + 1));
        if (read <= 0)
            break;
        m_lineBuffer.append(piece, int(read));
        wanted -= read;
        if (piece[read - 1] == '\n')
            break;
    }
    m_currentSize += m_lineBuffer.size() - start;
    // Only the new bytes can end the line: a line that trickles in is not searched again and again.
    const char* begin = m_lineBuffer.constData() + start;
    const char* end = m_lineBuffer.constData() + m_lineBuffer.size();
    if (std::find_if(begin, end, [](char c) { return c == '\r' || c == '\n'; }) == end)
        return false;
    m_skipLf = m_lineBuffer.endsWith('\r');
    *line = m_lineBuffer.trimmed();
    m_lineBuffer.clear();
    return true;
}

void HttpRequest::readRequestLine(QIODevice* socket)
{
    QByteArray line;
    if (!readLine(socket, &line) || line.isEmpty())
        return;

    const QList<QByteArray> parts = line.split(' ');
    if (parts.size() != 3 || !parts.at(2).contains("HTTP"))
        return refuse("HttpRequest: received broken HTTP request, invalid first line", BadRequest);
    m_method = parts.at(0).trimmed();
    m_path = parts.at(1);
    m_version = parts.at(2);
    if (const auto* abstractSocket = qobject_cast<const QAbstractSocket*>(socket))
        m_peerAddress = abstractSocket->peerAddress();
    m_status = AwaitingHeaders;
}

void HttpRequest::readHeader(QIODevice* socket)
{
    QByteArray line;
    if (!readLine(socket, &line))
        return;

    const int colon = line.indexOf(':');
    if (colon > 0) {
        if (++m_headerFields > kMaxHeaderFields)
            return refuse("HttpRequest: too many header fields");
        m_currentHeader = line.left(colon).toLower();
        m_headers.insert(m_currentHeader, line.mid(colon + 1).trimmed());
    } else if (!line.isEmpty()) {
        // A continuation line extends the value of the header read last, in
        // place: a copy per line would make memory grow with the square of the lines.
        const auto latest = m_headers.find(m_currentHeader);
        if (latest != m_headers.end())
            latest.value().append(' ').append(line);
    } else {
        finishHeaders();
    }
}

void HttpRequest::finishHeaders()
{
    // A body in chunks (or any other coding) is not read here: taken as no body,
    // its bytes would arrive as the next request.
    if (!header("transfer-encoding").isEmpty())
        return refuse("HttpRequest: a transfer coding is not supported", LengthRequired);

    const QByteArray contentType = header("content-type");
    if (contentType.startsWith("multipart/form-data")) {
        const int at = contentType.indexOf("boundary=");
        if (at >= 0) {
            m_boundary = contentType.mid(at + 9);
            if (m_boundary.size() >= 2 && m_boundary.startsWith('"') && m_boundary.endsWith('"'))
                m_boundary = m_boundary.mid(1, m_boundary.size() - 2);
        }
    }

    // Two lengths that differ leave where the request ends to a guess.
    const QList<QByteArray> lengths = headers("content-length");
    for (const QByteArray& length : lengths) {
        if (length.trimmed() != lengths.first().trimmed())
            return refuse("HttpRequest: conflicting Content-Length headers", BadRequest);
    }
    const QByteArray contentLength = header("content-length");
    if (!contentLength.isEmpty()) {
        bool ok = false;
        m_expectedBodySize = contentLength.toLongLong(&ok);
        // Not a length (a negative one included): no body, as for any text that is not a number.
        if (!ok || m_expectedBodySize < 0)
            m_expectedBodySize = 0;
    }

    if (m_expectedBodySize == 0)
        m_status = Complete;
    else if (m_boundary.isEmpty() && m_expectedBodySize > m_maxSize - m_currentSize)
        refuse("HttpRequest: expected body is too large");
    else if (!m_boundary.isEmpty() && m_expectedBodySize > m_maxMultiPartSize)
        refuse("HttpRequest: expected multipart body is too large");
    else
        m_status = AwaitingBody;
}

void HttpRequest::readBody(QIODevice* socket)
{
    if (m_boundary.isEmpty()) {
        // What has come, not what is declared: a read buffer is as large as its request.
        const QByteArray data = socket->read(qMin(m_expectedBodySize - m_body.size(), socket->bytesAvailable()));
        m_currentSize += data.size();
        m_body.append(data);
        if (m_body.size() >= m_expectedBodySize)
            m_status = Complete;
        return;
    }

    if (!m_tempFile)
        m_tempFile = new QTemporaryFile;
    if (!m_tempFile->isOpen())
        m_tempFile->open();

    qint64 fileSize = m_tempFile->size();
    const QByteArray data =
        socket->read(qMin(qMin(m_expectedBodySize - fileSize, kMultiPartBlock), socket->bytesAvailable()));
    const qint64 written = m_tempFile->write(data);
    if (written > 0)
        fileSize += written;
    if (fileSize >= m_maxMultiPartSize) {
        refuse("HttpRequest: received too many multipart bytes");
    } else if (fileSize >= m_expectedBodySize) {
        m_tempFile->flush();
        if (m_tempFile->error() != QFileDevice::NoError)
            qCritical("HttpRequest: Error writing temp file for multipart body");
        const bool parsed = parseMultiPartFile();
        m_tempFile->close();
        if (parsed)
            m_status = Complete;
    } else if (written < 0 || written < data.size()) {
        // The spool file refuses bytes: the body can never complete.
        qCritical("HttpRequest: Error writing temp file for multipart body");
        m_status = Aborted;
    }
}

void HttpRequest::decodeRequestParams()
{
    QByteArray rawParameters;
    const int question = m_path.indexOf('?');
    if (question >= 0) {
        rawParameters = m_path.mid(question + 1);
        m_path = m_path.left(question);
    }

    const QByteArray contentType = header("content-type");
    if (!m_body.isEmpty() && (contentType.isEmpty() || contentType.startsWith("application/x-www-form-urlencoded"))) {
        if (!rawParameters.isEmpty())
            rawParameters.append('&');
        rawParameters.append(m_body);
    }

    // Part by part, not split into a list first: "&&&..." costs no memory, and
    // the count of parameters is bounded (each one is an entry of its own).
    int count = 0;
    for (int from = 0; from < rawParameters.size();) {
        int end = rawParameters.indexOf('&', from);
        if (end < 0)
            end = rawParameters.size();
        if (end > from) {
            if (++count > maxParameters)
                return refuse("HttpRequest: too many parameters");
            const QByteArray part = rawParameters.mid(from, end - from);
            const int eq = part.indexOf('=');
            if (eq >= 0)
                m_parameters.insert(urlDecode(part.left(eq).trimmed()), urlDecode(part.mid(eq + 1).trimmed()));
            else
                m_parameters.insert(urlDecode(part), QByteArray());
        }
        from = end + 1;
    }
}

void HttpRequest::extractCookies()
{
    const QList<QByteArray> cookieHeaders = m_headers.values("cookie");
    // values() lists the most recent first; later cookies replace earlier ones.
    for (auto it = cookieHeaders.crbegin(); it != cookieHeaders.crend(); ++it) {
        const QList<QByteArray> parts = HttpCookie::splitCsv(*it);
        for (const QByteArray& part : parts) {
            const int eq = part.indexOf('=');
            if (eq >= 0)
                m_cookies.insert(part.left(eq).trimmed(), part.mid(eq + 1).trimmed());
            else
                m_cookies.insert(part.trimmed(), QByteArray());
        }
    }
    m_headers.remove("cookie");
}

bool HttpRequest::parseMultiPartFile()
{
    qDebug("HttpRequest: parsing multipart temp file");
    m_tempFile->seek(0);
    const QByteArray delimiter = "--" + m_boundary;
    // One buffer for every line: a body of short lines costs no allocation per line.
    QByteArray buffer(int(kMultiPartBlock) + 1, Qt::Uninitialized);
    const auto readLine = [&]() {
        const qint64 read = m_tempFile->readLine(buffer.data(), buffer.size());
        return QByteArray::fromRawData(buffer.constData(), int(qMax<qint64>(0, read)));
    };
    int parts = 0;
    int files = 0;
    bool finished = false;
    while (!m_tempFile->atEnd() && !finished && m_tempFile->error() == QFileDevice::NoError) {
        // Each part is an entry and each file an open file: both are bounded.
        if (++parts > maxMultiParts) {
            refuse("HttpRequest: too many multipart parts");
            return false;
        }
        QByteArray fieldName;
        QByteArray fileName;
        // The delimiter line that opens the part is read here and skipped like any header.
        while (!m_tempFile->atEnd() && m_tempFile->error() == QFileDevice::NoError) {
            const QByteArray line = readLine().trimmed();
            if (line.startsWith("Content-Disposition:")) {
                if (line.contains("form-data")) {
                    fieldName = quotedAttribute(line, " name=\"");
                    fileName = quotedAttribute(line, " filename=\"");
                } else {
                    qDebug("HttpRequest: ignoring a content part that is not form-data");
                }
            } else if (line.isEmpty()) {
                break;
            }
        }
        if (!fieldName.isEmpty() && !fileName.isEmpty() && ++files > maxUploadedFiles) {
            refuse("HttpRequest: too many uploaded files");
            return false;
        }

        QByteArray fieldValue;
        std::unique_ptr<QTemporaryFile> uploadedFile;
        while (!m_tempFile->atEnd() && m_tempFile->error() == QFileDevice::NoError) {
            const QByteArray line = readLine();
            if (line.startsWith(delimiter)) {
                // The CR LF before the delimiter belongs to the delimiter, not to the data.
                // Names and sizes are logged, never values: a value may be a key, and
                // a file name the key too.
                if (!fieldName.isEmpty() && fileName.isEmpty()) {
                    fieldValue.chop(2);
                    m_parameters.insert(fieldName, fieldValue);
                    qDebug("HttpRequest: set parameter %s (%i bytes)", loggable(fieldName).constData(),
                           int(fieldValue.size()));
                } else if (!fieldName.isEmpty() && !fileName.isEmpty() && uploadedFile) {
                    uploadedFile->resize(qMax<qint64>(0, uploadedFile->size() - 2));
                    uploadedFile->flush();
                    uploadedFile->seek(0);
                    m_parameters.insert(fieldName, fileName);
                    qDebug("HttpRequest: set parameter %s to an uploaded file of %lld bytes",
                           loggable(fieldName).constData(), uploadedFile->size());
                    // A second file under the same field name replaces the first.
                    delete m_uploadedFiles.value(fieldName, nullptr);
                    m_uploadedFiles.insert(fieldName, uploadedFile.release());
                }
                if (line.contains(m_boundary + "--"))
                    finished = true;
                break;
            }

            if (fieldName.isEmpty())
                continue;
            if (fileName.isEmpty()) {
                fieldValue.append(line.constData(), line.size()); // a copy, never the shared buffer
                m_currentSize += line.size();
            } else {
                if (!uploadedFile) {
                    uploadedFile = std::make_unique<QTemporaryFile>();
                    uploadedFile->open();
                }
                uploadedFile->write(line);
                if (uploadedFile->error() != QFileDevice::NoError)
                    qCritical("HttpRequest: error writing temp file, %s", qPrintable(uploadedFile->errorString()));
            }
        }
    }
    if (m_tempFile->error() != QFileDevice::NoError)
        qCritical("HttpRequest: cannot read temp file, %s", qPrintable(m_tempFile->errorString()));
    return true;
}

QByteArray HttpRequest::path() const
{
    return urlDecode(m_path);
}

QByteArray HttpRequest::header(const QByteArray& name) const
{
    return m_headers.value(name.toLower());
}

QList<QByteArray> HttpRequest::headers(const QByteArray& name) const
{
    return m_headers.values(name.toLower());
}

QByteArray HttpRequest::parameter(const QByteArray& name) const
{
    return m_parameters.value(name);
}

QList<QByteArray> HttpRequest::parameters(const QByteArray& name) const
{
    return m_parameters.values(name);
}

QByteArray HttpRequest::cookie(const QByteArray& name) const
{
    return m_cookies.value(name);
}

QTemporaryFile* HttpRequest::uploadedFile(const QByteArray& fieldName) const
{
    QTemporaryFile* file = m_uploadedFiles.value(fieldName, nullptr);
    if (file)
        file->seek(0);
    return file;
}

QByteArray HttpRequest::urlDecode(const QByteArray& source)
{
    // One pass: shifting the rest of the buffer at every escape made a body of
    // escapes cost the square of its length.
    QByteArray decoded(source.size(), Qt::Uninitialized);
    char* out = decoded.data();
    const char* in = source.constData();
    const int size = source.size();
    for (int i = 0; i < size; ++i) {
        const char c = in[i];
        if (c == '+') {
            *out++ = ' ';
        } else if (c == '%' && i + 2 < size && isHexDigit(in[i + 1]) && isHexDigit(in[i + 2])) {
            *out++ = char(hexValue(in[i + 1]) << 4 | hexValue(in[i + 2]));
            i += 2; // what an escape decodes to is not decoded again
        } else {
            *out++ = c;
        }
    }
    decoded.truncate(int(out - decoded.constData()));
    return decoded;
}

QByteArray HttpRequest::loggable(const QByteArray& bytes)
{
    constexpr int shown = 64;
    QByteArray text;
    for (int i = 0; i < bytes.size() && i < shown; ++i) {
        const uchar c = uchar(bytes.at(i));
        if (c >= 0x20 && c < 0x7F && c != '\\')
            text += char(c);
        else
            text += "\\x" + QByteArray::number(c, 16).rightJustified(2, '0');
    }
    return bytes.size() > shown ? text + "..." : text;
}
