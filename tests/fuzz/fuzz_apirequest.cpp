// Raw bytes to the local web API: parsed by HttpRequest as a connection does,
// answered by PrintClientRequestHandler into a real socket, and the answer
// read back. Every answer must be one HTTP response; every path but the status
// page and the preflight must answer with a JSON envelope carrying "status".
#include "api/PrintClientRequestHandler.h"
#include "core/PrintClient.h"
#include "http/HttpRequest.h"
#include "http/HttpResponseWriter.h"

#include <QBuffer>
#include <QGuiApplication>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSettings>
#include <QTcpSocket>
#include <QTemporaryDir>

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {
QSettings* g_limits = nullptr;
PrintClientRequestHandler* g_handler = nullptr;
QTcpSocket* g_socket = nullptr;
int g_peer = -1;
} // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    // Never destroyed: libFuzzer leaves through exit(), after Qt's own globals are gone.
    static QTemporaryDir home;
    qputenv("XDG_CONFIG_HOME", home.path().toLocal8Bit());
    qputenv("QT_QPA_PLATFORM", "offscreen");
    new QGuiApplication(*argc, *argv);
    QCoreApplication::setOrganizationName(QStringLiteral("Quorva"));
    QCoreApplication::setApplicationName(QStringLiteral("QuorvaLink"));
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});
    auto* client = new PrintClient;
    client->setSecurityKey(QStringLiteral("Ab3dEf9hv4.0"));
    // One terminal, on a port that is no serial line (/dev/null): commands reach the
    // field checks and the building of their messages, and its worker refuses them at once.
    qputenv(SerialPortDescription::SimulatedPortsVariable, "/dev/null=0B00:0060");
    QMetaObject::invokeMethod(client, "onGetTpas",
                              Q_ARG(QList<SerialPortDescription>, SerialPortDescription::simulatedPorts()));
    g_handler = new PrintClientRequestHandler;
    g_handler->setPrintClient(client);
    // Small limits so that short inputs reach them.
    g_limits = new QSettings(home.filePath(QStringLiteral("limits.ini")), QSettings::IniFormat);
    g_limits->setValue(QStringLiteral("maxRequestSize"), 4096);
    g_limits->setValue(QStringLiteral("maxMultiPartSize"), 4096);
    int fds[2];
    if (socketpair(AF_UNIX, SOCK_STREAM, 0, fds) != 0)
        abort();
    fcntl(fds[1], F_SETFL, O_NONBLOCK);
    g_peer = fds[1];
    g_socket = new QTcpSocket;
    g_socket->setSocketDescriptor(fds[0]);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    QByteArray bytes(reinterpret_cast<const char*>(data), int(size));
    QBuffer device(&bytes);
    device.open(QIODevice::ReadOnly);
    // Pipelined requests one after another, as long as they complete.
    while (device.bytesAvailable() > 0) {
        HttpRequest request(g_limits);
        const qint64 start = device.pos();
        // (A parser that neither reads nor moves on is fuzz_httprequest's to find.)
        while (request.status() != HttpRequest::Complete && request.status() != HttpRequest::Aborted &&
               device.bytesAvailable() > 0)
            request.readFromSocket(&device);
        if (request.status() != HttpRequest::Complete)
            break;
        {
            HttpResponseWriter response(g_socket, 1000);
            g_handler->service(request, response);
            if (!response.hasSentLastPart())
                response.write(QByteArray(), true);
        }
        g_socket->flush();
        QByteArray answer;
        char buffer[65536];
        for (ssize_t count; (count = read(g_peer, buffer, sizeof buffer)) > 0;)
            answer.append(buffer, int(count));
        // Nothing written is the connection's to answer; an empty body is the preflight's.
        const int headEnd = answer.indexOf("\r\n\r\n");
        if (!answer.isEmpty() && (!answer.startsWith("HTTP/1.1 ") || headEnd < 0))
            __builtin_trap();
        const QByteArray body = answer.mid(headEnd + 4);
        if (request.path() != "/" && answer.contains("Content-Length:") && !body.isEmpty() &&
            !QJsonDocument::fromJson(body).object().contains(QStringLiteral("status")))
            __builtin_trap();
        if (device.pos() == start)
            break;
    }
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QCoreApplication::processEvents();
    return 0;
}
