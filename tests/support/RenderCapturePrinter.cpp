#include "support/RenderCapturePrinter.h"

#include <QProcess>
#include <QTcpSocket>

RenderCapturePrinter::RenderCapturePrinter(const QString& name, QObject* parent)
    : QObject(parent)
    , m_name(name)
{
    connect(&m_server, &QTcpServer::newConnection, this, [this] {
        while (QTcpSocket* socket = m_server.nextPendingConnection()) {
            ++m_connections;
            socket->setParent(this);
            connect(socket, &QTcpSocket::readyRead, this, [this, socket] { m_received += socket->readAll(); });
            connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        }
    });
}

RenderCapturePrinter::~RenderCapturePrinter()
{
    if (m_created)
        run(QStringLiteral("lpadmin"), {QStringLiteral("-x"), m_name});
}

QString RenderCapturePrinter::create()
{
    QProcess lpstat;
    lpstat.start(QStringLiteral("lpstat"), {QStringLiteral("-r")});
    if (!lpstat.waitForFinished(10000) || !lpstat.readAllStandardOutput().contains("is running"))
        return QStringLiteral("the CUPS scheduler is not running");
    if (!m_server.listen(QHostAddress::LocalHost, 0))
        return QStringLiteral("cannot listen on loopback");
    const QString device = QStringLiteral("socket://127.0.0.1:%1").arg(m_server.serverPort());
    if (!run(QStringLiteral("lpadmin"),
             {QStringLiteral("-p"), m_name, QStringLiteral("-E"), QStringLiteral("-v"), device}))
        return QStringLiteral("lpadmin could not create the queue");
    m_created = true;
    return QString();
}

bool RenderCapturePrinter::disable()
{
    return run(QStringLiteral("cupsdisable"), {m_name});
}

bool RenderCapturePrinter::run(const QString& program, const QStringList& arguments)
{
    QProcess process;
    process.start(program, arguments);
    return process.waitForFinished(30000) && process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
}
