#pragma once

#include "SerialPortDescription.h"
#include "TpaTimings.h"

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QStringList>
#include <mutex>

class QThread;
class TpaWorker;

// One payment terminal on a serial port. Commands go to a protocol worker on a
// thread of its own; what the worker reports is kept per caller (the point of
// sale's terminal id), so that a caller sees its own transaction's messages and
// the others are told the terminal is busy.
//
// The web API calls this object from its connection threads while the worker's
// reports arrive on the owner's thread: the state below is guarded by m_mutex.
class Tpa : public QObject
{
    Q_OBJECT
    Q_PROPERTY(QString name READ name NOTIFY nameChanged)
    Q_PROPERTY(SerialPortDescription tpa READ tpa NOTIFY tpaChanged)
    Q_PROPERTY(int vendorId READ vendorId NOTIFY vendorIdChanged)
    Q_PROPERTY(bool state READ state NOTIFY stateChanged)
    Q_PROPERTY(bool available READ available WRITE setAvailable NOTIFY availableChanged)
    Q_PROPERTY(QString lastStatus READ lastStatus NOTIFY lastStatusChanged)
    Q_PROPERTY(QStringList lastTransactionStatus READ lastTransactionStatus NOTIFY lastTransactionStatusChanged)

public:
    enum Type { NoTerminal = 0, Ingenico = 1, Newnote = 2 };

    Tpa(const SerialPortDescription& port, int type, QObject* parent = nullptr,
        const TpaTimings& timings = TpaTimings());
    ~Tpa() override;

    // The terminal type for a USB vendor identifier; NoTerminal when it is no known terminal.
    static int terminalType(int usbVendorId);
    // Base64 SHA-1 of the vendor and product identifiers, each taken as one UTF-16 character.
    static QString terminalKey(quint16 vendorIdentifier, quint16 productIdentifier);

    QString name() const;
    SerialPortDescription tpa() const { return m_portInfo; }
    int vendorId() const { return m_type; }
    // Whether the port is present now (looked up on every call).
    bool state() const;
    bool available() const;
    void setAvailable(bool value);
    bool isInTransaction() const;
    QString lastStatus() const;
    // The queue of the caller whose command runs now (empty when none).
    QStringList lastTransactionStatus() const;
    QString terminalKey() const;

    // Caller-aware reads; each records a caller it has not seen before.
    QString statusFor(const QString& callerId);
    QStringList takeTransactionStatuses(const QString& callerId);
    QStringList clearTransactionStatuses(const QString& callerId);

    // Commands; each makes the caller the current one and hands the message to the worker.
    void sendOpen(const QString& callerId);
    void sendClose(const QString& callerId);
    void sendPurchase(const QString& callerId, const QString& amount);
    void sendRefund(const QString& callerId, const QString& reference, const QString& dateTime, const QString& amount);
    void sendOpenMenu(const QString& callerId);
    void sendReprintLastReceipt(const QString& callerId);

signals:
    void sendMessage(QByteArray command);
    void nameChanged(QString val);
    void vendorIdChanged(int val);
    void stateChanged(bool val);
    void availableChanged(bool val);
    void tpaChanged(SerialPortDescription val);
    void lastStatusChanged();
    void lastTransactionStatusChanged();

public slots:
    void onSetStatus(QString status);
    void onSetTransactionStatus(QString transactionStatus);
    void onInTransactionChanged(bool inTransaction);
    void persistAvailability();

private:
    // Index of the caller, added with an empty queue if new. m_mutex must be held.
    int callerIndex(const QString& callerId);
    void issueCommand(const QString& callerId, const QByteArray& command);
    QString settingsKey() const;

    QThread* m_workerThread = nullptr;
    TpaWorker* m_worker = nullptr;
    const SerialPortDescription m_portInfo;
    const int m_type;

    // A standard mutex rather than QMutex: thread sanitizer runs see it.
    mutable std::mutex m_mutex;
    bool m_available = false;
    QString m_lastStatus;
    QList<QStringList> m_transactionStatuses;
    bool m_inTransaction = false;
    QStringList m_callers;
    int m_currentCaller = -1;
};
