#include "api/PrintClientRequestHandler.h"

#include "api/NotificationEndpoints.h"
#include "api/OriginGate.h"
#include "api/PreviewEndpoints.h"
#include "api/PrinterEndpoints.h"
#include "api/RequestFields.h"
#include "api/StatusEndpoints.h"
#include "api/TpaEndpoints.h"
#include "api/WebAppOrigin.h"
#include "core/PrintClient.h"
#include "http/HttpRequest.h"
#include "http/HttpResponseWriter.h"

#include <QDateTime>
#include <QJsonDocument>
#include <QLocale>
#include <QThread>

#include <chrono>

namespace {

// Compares the whole texts without stopping at the first difference, so the
// answer time tells nothing about how much of a guessed key was right.
bool sameKey(const QString& given, const QString& expected)
{
    const QByteArray a = given.toUtf8();
    const QByteArray b = expected.toUtf8();
    unsigned char difference = a.size() == b.size() ? 0 : 1;
    const int length = qMin(a.size(), b.size());
    for (int i = 0; i < length; ++i)
        difference |= static_cast<unsigned char>(a.at(i) ^ b.at(i));
    return difference == 0;
}

// A route matches its path with or without one trailing slash.
bool matches(const QByteArray& path, const char* route)
{
    const int length = int(qstrlen(route));
    if (!path.startsWith(route))
        return false;
    return path.size() == length || (path.size() == length + 1 && path.endsWith('/'));
}

} // namespace

PrintClientRequestHandler::PrintClientRequestHandler(QObject* parent)
    : HttpRequestHandler(parent)
{}

void PrintClientRequestHandler::setPrintClient(PrintClient* printClient)
{
    m_printClient = printClient;
}

QByteArray PrintClientRequestHandler::serialise(const QJsonObject& result)
{
    return QJsonDocument(result).toJson(QJsonDocument::Indented);
}

void PrintClientRequestHandler::service(HttpRequest& request, HttpResponseWriter& response)
{
    // Before the key is looked at: a foreign page's wrong keys are not counted
    // against this computer, whose web application would then be shut out.
    if (!OriginGate::admits(request.headers("Origin"), request.headers("Sec-Fetch-Site")))
        return OriginGate::refuse(response);

    // Before the lock: the fields touch nothing shared, and a large body parsed under
    // the lock would hold up every other caller. An address in its 429 window needs
    // no fields: its answer is the same whatever it sent.
    const QByteArray path = request.path();
    const bool keyed = path != "/" && !request.method().contains("OPTIONS");
    const qint64 blockedMs = keyed ? m_keyAttempts.blockedFor(request.peerAddress()) : 0;
    const RequestFields fields = blockedMs ? RequestFields() : RequestFields::extract(request);

    QByteArray body;
    QJsonObject result;
    std::function<void()> outsideLock;
    {
        // Held while the request is carried out and its answer built, also when an
        // endpoint throws: the printers, terminals and notifications are used by one
        // request at a time. Not held while the answer goes out: a client that does
        // not read it holds its own connection only.
        std::unique_lock<std::timed_mutex> locker(m_lock, std::defer_lock);
        while (!locker.try_lock_for(std::chrono::milliseconds(50))) {
            if (QThread::currentThread()->isInterruptionRequested())
                return; // the server is being switched off
        }
        if (QThread::currentThread()->isInterruptionRequested())
            return;
        body = answer(request, path, fields, blockedMs, response, result, outsideLock);
    }
    if (outsideLock) {
        // Drawing a preview uses nothing the lock guards; other requests go on meanwhile.
        outsideLock();
        body = serialise(result);
    }
    response.write(body, true);
}

QByteArray PrintClientRequestHandler::answer(HttpRequest& request, const QByteArray& path, const RequestFields& fields,
                                             qint64 blockedMs, HttpResponseWriter& response, QJsonObject& result,
                                             std::function<void()>& outsideLock)
{
    const QString origin = RequestFields::text(request.header("Origin"));
    if (fields.invalidJson) {
        result.insert(QStringLiteral("status"), false);
        result.insert(QStringLiteral("error"), QStringLiteral("Invalid Json"));
    }

    // Only allowed origins get this far; a request without one gets the web application's address.
    response.setHeader("Access-Control-Allow-Origin", WebAppOrigin::allowOriginFor(origin));
    response.setHeader("Vary", "Origin");

    if (path == "/")
        return statusPage(response);

    response.setHeader("Content-Type", "application/json; charset=UTF-8");
    if (result.isEmpty()) {
        if (request.method().contains("OPTIONS"))
            return preflight(request, response);
        // A guessing address is answered without its key being looked at. Without
        // its state object the handler knows no key, and lets nobody in.
        if (blockedMs) {
            result.insert(QStringLiteral("status"), false);
            result.insert(QStringLiteral("error"), QStringLiteral("Too many attempts"));
            response.setStatus(429, "Too Many Requests");
            response.setHeader("Retry-After", int((blockedMs + 999) / 1000));
            // A page's script may read it only when named here.
            response.setHeader("Access-Control-Expose-Headers", "Retry-After");
        } else if (!m_printClient || !sameKey(fields.token, m_printClient->securityKey())) {
            m_keyAttempts.recordFailure(request.peerAddress());
            result.insert(QStringLiteral("status"), false);
            result.insert(QStringLiteral("error"), QStringLiteral("Invalid security key"));
            response.setStatus(401, "Unauthorized");
        } else if (!route(result, path, fields, request, outsideLock)) {
            result.insert(QStringLiteral("status"), false);
            result.insert(QStringLiteral("error"), QStringLiteral("Not found"));
            response.setStatus(404, "Not found");
        }
    }
    return outsideLock ? QByteArray() : serialise(result);
}

QByteArray PrintClientRequestHandler::preflight(HttpRequest& request, HttpResponseWriter& response)
{
    const QString date = QLocale::system()
                             .toString(QDateTime::currentDateTimeUtc(), QStringLiteral("ddd, dd MMM yyyy hh:mm:ss t"))
                             .toUpper();
    response.setHeader("Date", date.toUtf8());
    response.setHeader("Access-Control-Allow-Methods", "POST, GET, OPTIONS");
    response.setHeader("Access-Control-Allow-Headers", "authorization, Authorization, Content-Type");
    response.setHeader("Access-Control-Max-Age", 86400);
    // Browsers ask before a public web page may call a server on this computer.
    if (request.header("Access-Control-Request-Private-Network").trimmed().toLower() == "true")
        response.setHeader("Access-Control-Allow-Private-Network", "true");
    return QByteArray();
}

bool PrintClientRequestHandler::route(QJsonObject& result, const QByteArray& path, const RequestFields& fields,
                                      const HttpRequest& request, std::function<void()>& outsideLock)
{
    const RequestFields& f = fields;
    if (matches(path, "/getPrinters"))
        handleGetPrinters(result);
    else if (matches(path, "/getPrinterStatus"))
        handleGetPrinterStatus(result, f.printer);
    else if (matches(path, "/sendJob")) {
        if (f.jsonMode)
            handleSendJob(result, f.printer, f.body.value(QStringLiteral("job")).toArray());
        else
            handleSendJobText(result, f.printer, RequestFields::text(request.parameter("job")));
    } else if (matches(path, "/previewJob")) {
        if (f.jsonMode)
            handlePreviewJob(result, f.body.value(QStringLiteral("job")).toArray(),
                             f.body.value(QStringLiteral("compatibilityMode")), outsideLock);
        else
            handlePreviewJobText(result, RequestFields::text(request.parameter("job")),
                                 RequestFields::text(request.parameter("compatibilityMode")), outsideLock);
    } else if (matches(path, "/setNotificationOrder")) {
        handleSetNotificationOrder(result, f.jsonMode ? f.body : NotificationEndpoints::fromParameters(request));
    } else if (matches(path, "/getStatus"))
        handleGetStatus(result, f.with_notifications);
    else if (matches(path, "/getTpas"))
        handleGetTpas(result);
    else if (matches(path, "/getTpaStatus"))
        handleGetTpaStatus(result, f.tpa_port, f.terminal_tpa_id);
    else if (matches(path, "/getTpaTransactionStatus"))
        handleGetTpaTransactionStatus(result, f.tpa_port, f.terminal_tpa_id);
    else if (matches(path, "/clearTpaTransactionStatus"))
        handleClearTpaTransactionStatus(result, f.tpa_port, f.terminal_tpa_id);
    else if (matches(path, "/sendTpaOpen"))
        handleSendTpaOpen(result, f.tpa_port, f.terminal_tpa_id);
    else if (matches(path, "/sendTpaClose"))
        handleSendTpaClose(result, f.tpa_port, f.terminal_tpa_id);
    else if (matches(path, "/sendTpaPurchase"))
        handleSendTpaPurchase(result, f.tpa_port, f.terminal_tpa_id, f.amount);
    else if (matches(path, "/sendTpaRefund"))
        handleSendTpaRefund(result, f.tpa_port, f.terminal_tpa_id, f.tpa_id, f.datetime, f.amount);
    else if (matches(path, "/sendTpaOpenMenu"))
        handleSendTpaOpenMenu(result, f.tpa_port, f.terminal_tpa_id);
    else if (matches(path, "/sendTpaReprintLastReceipt"))
        handleSendTpaReprintLastReceipt(result, f.tpa_port, f.terminal_tpa_id);
    else
        return false;
    return true;
}

QByteArray PrintClientRequestHandler::statusPage(HttpResponseWriter& response)
{
    response.setHeader("Content-Type", "text/html; charset=UTF-8");
    return StatusEndpoints::statusPage();
}

void PrintClientRequestHandler::handleGetPrinters(QJsonObject& result)
{
    PrinterEndpoints(m_printClient).getPrinters(result);
}

void PrintClientRequestHandler::handleGetPrinterStatus(QJsonObject& result, QString printer)
{
    PrinterEndpoints(m_printClient).getPrinterStatus(result, printer);
}

void PrintClientRequestHandler::handleSendJob(QJsonObject& result, QString printer, QJsonArray job)
{
    PrinterEndpoints(m_printClient).sendJob(result, printer, job);
}

void PrintClientRequestHandler::handleSendJobText(QJsonObject& result, QString printer, QString job)
{
    PrinterEndpoints(m_printClient).sendJobText(result, printer, job);
}

void PrintClientRequestHandler::handlePreviewJob(QJsonObject& result, QJsonArray job, QJsonValue compatibilityMode,
                                                 std::function<void()>& outsideLock)
{
    outsideLock = PreviewEndpoints(m_printClient).previewJob(result, job, compatibilityMode);
}

void PrintClientRequestHandler::handlePreviewJobText(QJsonObject& result, QString job, QString compatibilityMode,
                                                     std::function<void()>& outsideLock)
{
    outsideLock = PreviewEndpoints(m_printClient).previewJobText(result, job, compatibilityMode);
}

void PrintClientRequestHandler::handleSetNotificationOrder(QJsonObject& result, QJsonObject notification)
{
    NotificationEndpoints(m_printClient).setNotificationOrder(result, notification);
}

void PrintClientRequestHandler::handleGetStatus(QJsonObject& result, bool with_notifications)
{
    StatusEndpoints(m_printClient).getStatus(result, with_notifications);
}

void PrintClientRequestHandler::handleGetTpas(QJsonObject& result)
{
    TpaEndpoints(m_printClient).getTpas(result);
}

void PrintClientRequestHandler::handleGetTpaStatus(QJsonObject& result, QString tpa_port, QString terminal_tpa_id)
{
    TpaEndpoints(m_printClient).getTpaStatus(result, tpa_port, terminal_tpa_id);
}

void PrintClientRequestHandler::handleGetTpaTransactionStatus(QJsonObject& result, QString tpa_port,
                                                              QString terminal_tpa_id)
{
    TpaEndpoints(m_printClient).getTpaTransactionStatus(result, tpa_port, terminal_tpa_id);
}

void PrintClientRequestHandler::handleClearTpaTransactionStatus(QJsonObject& result, QString tpa_port,
                                                                QString terminal_tpa_id)
{
    TpaEndpoints(m_printClient).clearTpaTransactionStatus(result, tpa_port, terminal_tpa_id);
}

void PrintClientRequestHandler::handleSendTpaOpen(QJsonObject& result, QString tpa_port, QString terminal_tpa_id)
{
    TpaEndpoints(m_printClient).sendCommand(result, TpaEndpoints::Open, tpa_port, terminal_tpa_id);
}

void PrintClientRequestHandler::handleSendTpaClose(QJsonObject& result, QString tpa_port, QString terminal_tpa_id)
{
    TpaEndpoints(m_printClient).sendCommand(result, TpaEndpoints::Close, tpa_port, terminal_tpa_id);
}

void PrintClientRequestHandler::handleSendTpaPurchase(QJsonObject& result, QString tpa_port, QString terminal_tpa_id,
                                                      QString amount)
{
    TpaEndpoints(m_printClient).sendCommand(result, TpaEndpoints::Purchase, tpa_port, terminal_tpa_id, {}, {}, amount);
}

void PrintClientRequestHandler::handleSendTpaRefund(QJsonObject& result, QString tpa_port, QString terminal_tpa_id,
                                                    QString tpa_id, QString datetime, QString amount)
{
    TpaEndpoints(m_printClient)
        .sendCommand(result, TpaEndpoints::Refund, tpa_port, terminal_tpa_id, tpa_id, datetime, amount);
}

void PrintClientRequestHandler::handleSendTpaOpenMenu(QJsonObject& result, QString tpa_port, QString terminal_tpa_id)
{
    TpaEndpoints(m_printClient).sendCommand(result, TpaEndpoints::OpenMenu, tpa_port, terminal_tpa_id);
}

void PrintClientRequestHandler::handleSendTpaReprintLastReceipt(QJsonObject& result, QString tpa_port,
                                                                QString terminal_tpa_id)
{
    TpaEndpoints(m_printClient).sendCommand(result, TpaEndpoints::ReprintLastReceipt, tpa_port, terminal_tpa_id);
}
