#pragma once

#include "api/KeyAttempts.h"
#include "http/HttpRequestHandler.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QString>

#include <functional>
#include <mutex>

class PrintClient;
struct RequestFields;

// The one request handler of the local HTTPS server: CORS, the security key,
// the route table and the JSON envelope of every answer. Requests are served
// one at a time across all connections; only the drawing of a preview, which
// uses no shared state, runs beside them.
class PrintClientRequestHandler : public HttpRequestHandler
{
    Q_OBJECT

public:
    explicit PrintClientRequestHandler(QObject* parent = nullptr);

    void service(HttpRequest& request, HttpResponseWriter& response) override;

    // The serialised envelope: indented, keys in ascending order, a final line feed.
    static QByteArray serialise(const QJsonObject& result);

    PrintClient* printClient() const { return m_printClient; }
    KeyAttempts& keyAttempts() { return m_keyAttempts; }

public slots:
    void setPrintClient(PrintClient* printClient);

private:
    // The work of a request under the lock, on the fields read before it and the
    // caller's 429 wait (0: none): headers and status set on the response, the
    // body returned for sending after the lock is released. A path whose work
    // needs no shared state leaves it in outsideLock instead, to fill result once
    // the lock is released; the body is then empty.
    QByteArray answer(HttpRequest& request, const QByteArray& path, const RequestFields& fields, qint64 blockedMs,
                      HttpResponseWriter& response, QJsonObject& result, std::function<void()>& outsideLock);
    QByteArray preflight(HttpRequest& request, HttpResponseWriter& response);
    bool route(QJsonObject& result, const QByteArray& path, const RequestFields& fields, const HttpRequest& request,
               std::function<void()>& outsideLock);

    QByteArray statusPage(HttpResponseWriter& response);
    void handleGetPrinters(QJsonObject& result);
    void handleGetPrinterStatus(QJsonObject& result, QString printer);
    void handleSendJob(QJsonObject& result, QString printer, QJsonArray job);
    void handleSendJobText(QJsonObject& result, QString printer, QString job);
    void handlePreviewJob(QJsonObject& result, QJsonArray job, QJsonValue compatibilityMode,
                          std::function<void()>& outsideLock);
    void handlePreviewJobText(QJsonObject& result, QString job, QString compatibilityMode,
                              std::function<void()>& outsideLock);
    void handleSetNotificationOrder(QJsonObject& result, QJsonObject notification);
    void handleGetStatus(QJsonObject& result, bool with_notifications);
    void handleGetTpas(QJsonObject& result);
    void handleGetTpaStatus(QJsonObject& result, QString tpa_port, QString terminal_tpa_id);
    void handleGetTpaTransactionStatus(QJsonObject& result, QString tpa_port, QString terminal_tpa_id);
    void handleClearTpaTransactionStatus(QJsonObject& result, QString tpa_port, QString terminal_tpa_id);
    void handleSendTpaOpen(QJsonObject& result, QString tpa_port, QString terminal_tpa_id);
    void handleSendTpaClose(QJsonObject& result, QString tpa_port, QString terminal_tpa_id);
    void handleSendTpaPurchase(QJsonObject& result, QString tpa_port, QString terminal_tpa_id, QString amount);
    void handleSendTpaRefund(QJsonObject& result, QString tpa_port, QString terminal_tpa_id, QString tpa_id,
                             QString datetime, QString amount);
    void handleSendTpaOpenMenu(QJsonObject& result, QString tpa_port, QString terminal_tpa_id);
    void handleSendTpaReprintLastReceipt(QJsonObject& result, QString tpa_port, QString terminal_tpa_id);

    PrintClient* m_printClient = nullptr;
    KeyAttempts m_keyAttempts;
    // A standard mutex, so that the thread sanitizer sees the serialisation;
    // timed, so that a waiting connection can give up when the server stops.
    std::timed_mutex m_lock;
};
