#pragma once

#include <QJsonObject>
#include <QString>

#include <memory>

class PrintClient;
class Tpa;

// The payment terminal paths: the list of enabled terminals, the six commands
// (handed to the terminal, which answers later through the status paths) and
// the status paths themselves. Terminals are found by their exact port name.
class TpaEndpoints
{
public:
    enum Command { Open, Close, Purchase, Refund, OpenMenu, ReprintLastReceipt };

    explicit TpaEndpoints(PrintClient* printClient);

    void getTpas(QJsonObject& result) const;
    void getTpaStatus(QJsonObject& result, const QString& tpaPort, const QString& terminalTpaId) const;
    void getTpaTransactionStatus(QJsonObject& result, const QString& tpaPort, const QString& terminalTpaId) const;
    void clearTpaTransactionStatus(QJsonObject& result, const QString& tpaPort, const QString& terminalTpaId) const;
    void sendCommand(QJsonObject& result, Command command, const QString& tpaPort, const QString& terminalTpaId,
                     const QString& tpaId = QString(), const QString& datetime = QString(),
                     const QString& amount = QString()) const;

private:
    // The first enabled terminal on that port, kept alive while the caller holds it.
    std::shared_ptr<Tpa> find(const QString& tpaPort) const;
    // Fills the not-found and offline errors; true when the terminal may be used.
    static bool usable(QJsonObject& result, const std::shared_ptr<Tpa>& tpa);
    // usable, and not in a transaction (then answered "busy"). Commands ask the
    // terminal itself, which tests and takes in one step.
    static bool idle(QJsonObject& result, const std::shared_ptr<Tpa>& tpa);

    PrintClient* m_printClient;
};
