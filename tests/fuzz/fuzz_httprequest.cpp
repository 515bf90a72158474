// Feeds arbitrary bytes to HttpRequest the way a connection does: in pieces,
// one request after another while bytes remain (pipelining), and reads every
// accessor of the requests that complete.
#include "http/HttpCookie.h"
#include "http/HttpRequest.h"

#include <QIODevice>
#include <QSettings>
#include <QTemporaryDir>
#include <QTemporaryFile>

#include <cstddef>
#include <cstdint>
#include <memory>

namespace {

// A sequential device that lets the reader see its bytes a piece at a time,
// like a socket whose packets arrive one by one.
class PieceDevice : public QIODevice
{
public:
    explicit PieceDevice(const QByteArray& data)
        : m_data(data)
    {
        open(QIODevice::ReadOnly);
    }

    bool isSequential() const override { return true; }
    qint64 bytesAvailable() const override { return m_released - m_read + QIODevice::bytesAvailable(); }
    bool release(int count)
    {
        m_released = qMin<qint64>(m_data.size(), m_released + count);
        return m_released < m_data.size();
    }
    bool exhausted() const { return m_read == m_data.size() && QIODevice::bytesAvailable() == 0; }

protected:
    qint64 readData(char* data, qint64 maxSize) override
    {
        const qint64 count = qMin(maxSize, m_released - m_read);
        if (count > 0)
            memcpy(data, m_data.constData() + m_read, size_t(count));
        m_read += count;
        return count;
    }
    qint64 writeData(const char*, qint64) override { return -1; }

private:
    QByteArray m_data;
    qint64 m_released = 0;
    qint64 m_read = 0;
};

std::unique_ptr<QTemporaryDir> g_dir;
std::unique_ptr<QSettings> g_settings;

void touch(const HttpRequest& request)
{
    request.method();
    request.path();
    request.version();
    request.body();
    request.header("content-type");
    request.headers("x-a");
    request.parameter("a");
    const QMultiMap<QByteArray, QByteArray> parameters = request.parameterMap();
    for (auto it = parameters.cbegin(); it != parameters.cend(); ++it) {
        if (QTemporaryFile* file = request.uploadedFile(it.key()))
            file->readAll();
    }
    for (auto it = request.cookieMap().cbegin(); it != request.cookieMap().cend(); ++it)
        HttpCookie(it.key() + '=' + it.value()).toByteArray();
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    // Small limits so that short inputs reach them.
    g_dir = std::make_unique<QTemporaryDir>();
    g_settings = std::make_unique<QSettings>(g_dir->filePath(QStringLiteral("fuzz.ini")), QSettings::IniFormat);
    g_settings->setValue(QStringLiteral("maxRequestSize"), 1024);
    g_settings->setValue(QStringLiteral("maxMultiPartSize"), 4096);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0)
        return 0;
    // The first byte picks the packet size; 0 delivers everything at once.
    const int piece = data[0] % 64 == 0 ? int(size) : data[0] % 64;
    const QByteArray bytes(reinterpret_cast<const char*>(data + 1), int(size - 1));
    HttpRequest::urlDecode(bytes);
    HttpCookie::splitCsv(bytes);

    PieceDevice device(bytes);
    std::unique_ptr<HttpRequest> request;
    bool more = true;
    while (more || device.bytesAvailable() > 0) {
        more = device.release(piece);
        while (device.bytesAvailable() > 0) {
            if (!request)
                request = std::make_unique<HttpRequest>(g_settings.get());
            const qint64 available = device.bytesAvailable();
            const HttpRequest::RequestStatus before = request->status();
            request->readFromSocket(&device);
            const HttpRequest::RequestStatus status = request->status();
            if (status == HttpRequest::Aborted)
                return 0; // the connection answers 413 and closes
            if (status == HttpRequest::Complete) {
                touch(*request);
                request.reset();
                continue;
            }
            // A parser that consumes nothing and does not move on would hang a connection.
            if (device.bytesAvailable() == available && status == before)
                __builtin_trap();
        }
    }
    if (request)
        touch(*request);
    return 0;
}
