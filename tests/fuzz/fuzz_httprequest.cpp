// Bytes to HttpRequest as a connection feeds them, in packets of a size the first byte picks,
// pipelined while bytes remain; what complete requests hold is read.
#include "http/HttpCookie.h"
#include "http/HttpRequest.h"

#include <QBuffer>
#include <QTemporaryFile>

#include <memory>

static const HttpRequest::Limits limits{1024, 4096}; // small: short inputs reach them

static void touch(const HttpRequest& request)
{
    request.path();
    for (const QByteArray& name : request.parameterMap().uniqueKeys())
        if (QTemporaryFile* file = request.uploadedFile(name))
            file->readAll();
    for (auto it = request.cookieMap().cbegin(); it != request.cookieMap().cend(); ++it)
        HttpCookie(it.key() + '=' + it.value()).toByteArray();
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0)
        return 0;
    const int piece = data[0] % 64 == 0 ? int(size) : data[0] % 64;
    const QByteArray bytes(reinterpret_cast<const char*>(data + 1), int(size - 1));
    HttpRequest::urlDecode(bytes);
    HttpCookie::splitCsv(bytes);
    auto request = std::make_unique<HttpRequest>(limits);
    QByteArray arrived;
    for (int at = 0; at < bytes.size(); at += piece) {
        arrived += bytes.mid(at, piece);
        QBuffer socket(&arrived);
        socket.open(QIODevice::ReadOnly);
        while (socket.bytesAvailable() > 0) {
            const qint64 before = socket.pos();
            const HttpRequest::RequestStatus status = request->status();
            request->readFromSocket(&socket);
            if (request->status() == HttpRequest::Aborted)
                return 0; // the connection answers 413 and closes
            if (request->status() == HttpRequest::Complete) {
                touch(*request);
                request = std::make_unique<HttpRequest>(limits);
            } else if (socket.pos() == before && request->status() == status) {
                __builtin_trap(); // a parser that neither reads nor moves on would hang a connection
            }
        }
        arrived.remove(0, int(socket.pos()));
    }
    touch(*request);
    return 0;
}
