#pragma once

#include <QByteArray>
#include <QHostAddress>
#include <QMap>
#include <QMultiMap>

class QIODevice;
class QSettings;
class QTemporaryFile;

// One HTTP request, parsed incrementally as its bytes arrive. Two limits from
// the settings cap what a client may send: maxRequestSize for everything but a
// multipart body, maxMultiPartSize for a multipart request. Fixed limits cap
// the header section and the number of parameters, parts and files, so that
// neither memory nor open files grow with what one request holds. Multipart
// bodies are spooled to a temporary file and uploaded files stay in temporary files.
class HttpRequest
{
public:
    enum RequestStatus { AwaitingRequestLine = 0, AwaitingHeaders = 1, AwaitingBody = 2, Complete = 3, Aborted = 4 };
    // Why a request was aborted, as the HTTP status of the answer before the close.
    enum Refusal { BadRequest = 400, LengthRequired = 411, TooLarge = 413 };

    static constexpr int maxParameters = 1000;
    static constexpr int maxMultiParts = 100;
    static constexpr int maxUploadedFiles = 4;

    // The settings object (group already entered) may be null: defaults apply.
    explicit HttpRequest(const QSettings* settings);
    // The same limits, read beforehand (see limitsFrom).
    struct Limits
    {
        qint64 maxSize = 16000;
        qint64 maxMultiPartSize = 1000000;
    };
    explicit HttpRequest(const Limits& limits);
    static Limits limitsFrom(const QSettings* settings);
    virtual ~HttpRequest();
    HttpRequest(const HttpRequest&) = delete;
    HttpRequest& operator=(const HttpRequest&) = delete;

    // Consumes what is available for the current state. Any device works; a
    // socket also gives the peer address.
    void readFromSocket(QIODevice* socket);

    RequestStatus status() const { return m_status; }
    // Meaningful once the status is Aborted.
    Refusal refusal() const { return m_refusal; }
    QByteArray method() const { return m_method; }
    QByteArray path() const;
    const QByteArray& rawPath() const { return m_path; }
    QByteArray version() const { return m_version; }
    QByteArray header(const QByteArray& name) const;
    QList<QByteArray> headers(const QByteArray& name) const;
    QMultiMap<QByteArray, QByteArray> headerMap() const { return m_headers; }
    QByteArray parameter(const QByteArray& name) const;
    QList<QByteArray> parameters(const QByteArray& name) const;
    QMultiMap<QByteArray, QByteArray> parameterMap() const { return m_parameters; }
    QByteArray body() const { return m_body; }
    QByteArray cookie(const QByteArray& name) const;
    const QMap<QByteArray, QByteArray>& cookieMap() const { return m_cookies; }
    QTemporaryFile* uploadedFile(const QByteArray& fieldName) const;
    QHostAddress peerAddress() const { return m_peerAddress; }

    static QByteArray urlDecode(const QByteArray& source);
    // Bytes of the peer as they may appear in a log line: printable ASCII, the
    // rest as \xHH escapes (no line ends to forge lines with), cut after 64.
    static QByteArray loggable(const QByteArray& bytes);

private:
    void refuse(const char* warning, Refusal refusal = TooLarge);
    bool readLine(QIODevice* socket, QByteArray* line);
    void readRequestLine(QIODevice* socket);
    void readHeader(QIODevice* socket);
    void finishHeaders();
    void readBody(QIODevice* socket);
    void decodeRequestParams();
    void extractCookies();
    bool parseMultiPartFile();

    QMultiMap<QByteArray, QByteArray> m_headers;
    QMultiMap<QByteArray, QByteArray> m_parameters;
    QMap<QByteArray, QTemporaryFile*> m_uploadedFiles;
    QMap<QByteArray, QByteArray> m_cookies;
    QByteArray m_body;
    QByteArray m_method;
    QByteArray m_path;
    QByteArray m_version;
    RequestStatus m_status = AwaitingRequestLine;
    Refusal m_refusal = TooLarge;
    QHostAddress m_peerAddress;
    qint64 m_maxSize;
    qint64 m_maxMultiPartSize;
    qint64 m_currentSize = 0;
    qint64 m_expectedBodySize = 0;
    int m_headerFields = 0;
    QByteArray m_currentHeader;
    QByteArray m_boundary;
    QTemporaryFile* m_tempFile = nullptr;
    QByteArray m_lineBuffer;
    // A line ended by a CR that came at the end of a packet: its LF may open the
    // next packet and must not be read as an empty line.
    bool m_skipLf = false;
};
