// Raw bytes parsed as a connection does and answered by the API into a real socket: every
// answer is one HTTP response, a JSON envelope with "status" but for "/" and the preflight.
#include "api/PrintClientRequestHandler.h"
#include "core/PrintClient.h"
#include "http/HttpRequest.h"
#include "http/HttpResponseWriter.h"

#include <QBuffer>
#include <QGuiApplication>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTcpSocket>
#include <QTemporaryDir>

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

static const HttpRequest::Limits limits{4096, 4096}; // small: short inputs reach them
static PrintClientRequestHandler* g_handler = nullptr;
static QTcpSocket* g_socket = nullptr;
static int g_peer = -1;

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    static QTemporaryDir home; // never destroyed: libFuzzer leaves through exit(), after Qt's globals
    qputenv("XDG_CONFIG_HOME", home.path().toLocal8Bit());
    qputenv("QT_QPA_PLATFORM", "offscreen");
    new QGuiApplication(*argc, *argv);
    QCoreApplication::setOrganizationName(QStringLiteral("Quorva"));
    QCoreApplication::setApplicationName(QStringLiteral("QuorvaLink"));
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});
    auto* client = new PrintClient;
    client->setSecurityKey(QStringLiteral("Ab3dEf9hv4.0"));
    // A terminal on /dev/null: commands reach the field checks and their messages; its worker refuses them.
    qputenv(SerialPortDescription::SimulatedPortsVariable, "/dev/null=0B00:0060");
    QMetaObject::invokeMethod(client, "onGetTpas",
                              Q_ARG(QList<SerialPortDescription>, SerialPortDescription::simulatedPorts()));
    g_handler = new PrintClientRequestHandler;
    g_handler->setPrintClient(client);
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
    while (device.bytesAvailable() > 0) {
        HttpRequest request(limits);
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
        // Nothing written: the connection answers; an empty body: the preflight.
        const int headEnd = answer.indexOf("\r\n\r\n");
        if (!answer.isEmpty() && (!answer.startsWith("HTTP/1.1 ") || headEnd < 0))
            __builtin_trap();
        const QByteArray body = answer.mid(headEnd + 4);
        if (request.path() != "/" && answer.contains("Content-Length:") && !body.isEmpty() &&
            !QJsonDocument::fromJson(body).object().contains(QStringLiteral("status")))
            __builtin_trap();
    }
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QCoreApplication::processEvents();
    return 0;
}
