#include "api/TpaEndpoints.h"

#include "core/PrintClient.h"
#include "terminals/Tpa.h"
#include "terminals/TpaStatus.h"

#include <QJsonArray>
#include <QStringList>

namespace {

void fail(QJsonObject& result, const QString& error)
{
    result.insert(QStringLiteral("status"), false);
    result.insert(QStringLiteral("error"), error);
}

void succeed(QJsonObject& result, const QJsonValue& data)
{
    result.insert(QStringLiteral("status"), true);
    result.insert(QStringLiteral("data"), data);
}

} // namespace

TpaEndpoints::TpaEndpoints(PrintClient* printClient)
    : m_printClient(printClient)
{}

std::shared_ptr<Tpa> TpaEndpoints::find(const QString& tpaPort) const
{
    if (tpaPort.isEmpty() || !m_printClient)
        return nullptr;
    for (const auto& candidate : m_printClient->tpaList()) {
        if (candidate->available() && candidate->tpa().portName() == tpaPort)
            return candidate;
    }
    return nullptr;
}

bool TpaEndpoints::usable(QJsonObject& result, const std::shared_ptr<Tpa>& tpa)
{
    if (!tpa) {
        fail(result, TpaStatus::NotFound);
        return false;
    }
    if (!tpa->state()) {
        fail(result, TpaStatus::Offline);
        return false;
    }
    return true;
}

bool TpaEndpoints::idle(QJsonObject& result, const std::shared_ptr<Tpa>& tpa)
{
    if (!usable(result, tpa))
        return false;
    if (tpa->isInTransaction()) {
        succeed(result, TpaStatus::Busy);
        return false;
    }
    return true;
}

void TpaEndpoints::getTpas(QJsonObject& result) const
{
    QJsonArray list;
    if (m_printClient) {
        for (const auto& tpa : m_printClient->tpaList()) {
            if (!tpa->available())
                continue;
            const auto port = tpa->tpa();
            QJsonObject entry;
            entry.insert(QStringLiteral("description"), port.description());
            entry.insert(QStringLiteral("manufacturer"), port.manufacturer());
            entry.insert(QStringLiteral("portName"), port.portName());
            entry.insert(QStringLiteral("productIdentifier"),
                         port.hasProductIdentifier() ? int(port.productIdentifier()) : 0);
            entry.insert(QStringLiteral("vendorIdentifier"),
                         port.hasVendorIdentifier() ? int(port.vendorIdentifier()) : 0);
            entry.insert(QStringLiteral("vendorId"), tpa->vendorId());
            list.append(entry);
        }
    }
    succeed(result, list);
}

void TpaEndpoints::getTpaStatus(QJsonObject& result, const QString& tpaPort, const QString& terminalTpaId) const
{
    const auto tpa = find(tpaPort);
    if (usable(result, tpa)) {
        const QString status = tpa->statusFor(terminalTpaId);
        if (status.isEmpty()) {
            fail(result, TpaStatus::StatusNotFound);
        } else {
            // The timeout family is a failure, but its text still goes under "data".
            result.insert(QStringLiteral("status"), !TpaStatus::isTimeout(status));
            result.insert(QStringLiteral("data"), status);
        }
    }
    result.insert(QStringLiteral("version"), m_printClient ? m_printClient->curVersion() : QString());
    result.insert(QStringLiteral("device"), m_printClient ? m_printClient->device() : QString());
}

void TpaEndpoints::getTpaTransactionStatus(QJsonObject& result, const QString& tpaPort,
                                           const QString& terminalTpaId) const
{
    const auto tpa = find(tpaPort);
    if (usable(result, tpa))
        succeed(result, QJsonArray::fromStringList(tpa->takeTransactionStatuses(terminalTpaId)));
}

void TpaEndpoints::clearTpaTransactionStatus(QJsonObject& result, const QString& tpaPort,
                                             const QString& terminalTpaId) const
{
    const auto tpa = find(tpaPort);
    if (!idle(result, tpa))
        return;
    succeed(result, QJsonArray::fromStringList(tpa->clearTransactionStatuses(terminalTpaId)));
}

void TpaEndpoints::sendCommand(QJsonObject& result, Command command, const QString& tpaPort,
                               const QString& terminalTpaId, const QString& tpaId, const QString& datetime,
                               const QString& amount) const
{
    const auto tpa = find(tpaPort);
    if (!usable(result, tpa))
        return;
    Tpa::SendResult handed = Tpa::Sent;
    QString sent;
    switch (command) {
    case Open:
        handed = tpa->sendOpen(terminalTpaId);
        sent = TpaStatus::OpenSent;
        break;
    case Close:
        handed = tpa->sendClose(terminalTpaId);
        sent = TpaStatus::CloseSent;
        break;
    case Purchase:
        handed = tpa->sendPurchase(terminalTpaId, amount);
        sent = TpaStatus::PurchaseSent;
        break;
    case Refund:
        handed = tpa->sendRefund(terminalTpaId, tpaId, datetime, amount);
        sent = TpaStatus::RefundSent;
        break;
    case OpenMenu:
        handed = tpa->sendOpenMenu(terminalTpaId);
        sent = TpaStatus::MenuOpenSent;
        break;
    case ReprintLastReceipt:
        handed = tpa->sendReprintLastReceipt(terminalTpaId);
        sent = TpaStatus::ReprintSent;
        break;
    }
    switch (handed) {
    case Tpa::Sent:
        succeed(result, sent);
        break;
    case Tpa::Busy:
        succeed(result, TpaStatus::Busy);
        break;
    case Tpa::InvalidCaller:
        fail(result, TpaStatus::InvalidCaller);
        break;
    case Tpa::InvalidAmount:
        fail(result, TpaStatus::InvalidAmount);
        break;
    case Tpa::InvalidReference:
        fail(result, TpaStatus::InvalidReference);
        break;
    case Tpa::InvalidDateTime:
        fail(result, TpaStatus::InvalidDateTime);
        break;
    }
}
