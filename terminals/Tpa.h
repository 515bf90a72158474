#pragma once

#include "SerialPortDescription.h"
#include "TpaTimings.h"

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QStringList>
#include <mutex>
#include <vector>

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
    // What became of a command: handed to the worker, or refused with nothing sent.
    enum SendResult { Sent, Busy, InvalidCaller, InvalidAmount, InvalidReference, InvalidDateTime };

    // Callers kept at most (the least recently seen with nothing queued makes room),
    // and statuses queued per caller at most (the oldest goes).
    static constexpr int MaxCallers = 64;
    static constexpr int MaxStatusesPerCaller = 100;
    // A caller id is kept with every command: longer ones are refused (InvalidCaller).
    static constexpr int MaxCallerIdLength = 64;

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
    // Tells a shown window to read state() again.
    void refreshState();
    bool available() const;
    void setAvailable(bool value);
    bool isInTransaction() const;
    QString lastStatus() const;
    // The queue of the caller whose command runs now (empty when none).
    QStringList lastTransactionStatus() const;
    QString terminalKey() const;

    // Caller-aware reads. A caller that never sent a command has nothing queued and
    // is not recorded, so reading under made-up ids costs nothing.
    QString statusFor(const QString& callerId);
    QStringList takeTransactionStatuses(const QString& callerId);
    QStringList clearTransactionStatuses(const QString& callerId);

    // Commands. Fields are checked first; then, in one step, a terminal in a
    // transaction answers Busy, or the caller becomes the current one and the
    // message goes to the worker. Of two tills at the same instant one gets Sent.
    SendResult sendOpen(const QString& callerId);
    SendResult sendClose(const QString& callerId);
    SendResult sendPurchase(const QString& callerId, const QString& amount);
    SendResult sendRefund(const QString& callerId, const QString& reference, const QString& dateTime,
                          const QString& amount);
    SendResult sendOpenMenu(const QString& callerId);
    SendResult sendReprintLastReceipt(const QString& callerId);

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
    struct Caller
    {
        QString id;
        QStringList statuses; // transaction statuses not yet delivered, oldest first
        quint64 seen = 0;     // m_clock when last heard of
    };

    // With m_mutex held: the caller's index (marked as seen), or -1 when unknown.
    int findCaller(const QString& callerId);
    // With m_mutex held and no transaction running (so no index is current): as
    // findCaller, recording a new caller (within MaxCallers).
    int addCaller(const QString& callerId);
    SendResult issueCommand(const QString& callerId, const QByteArray& command);
    QString settingsKey() const;

    QThread* m_workerThread = nullptr;
    TpaWorker* m_worker = nullptr;
    const SerialPortDescription m_portInfo;
    const int m_type;

    // A standard mutex rather than QMutex: thread sanitizer runs see it.
    mutable std::mutex m_mutex;
    bool m_available = false;
    QString m_lastStatus;
    bool m_inTransaction = false;
    std::vector<Caller> m_callers;
    quint64 m_clock = 0;
    int m_currentCaller = -1; // index of the caller whose command runs
};
