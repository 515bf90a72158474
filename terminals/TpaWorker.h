#pragma once

#include "SerialPortDescription.h"
#include "TpaTimings.h"

#include <QByteArray>
#include <QObject>
#include <QSerialPort>

class QSemaphore;
class QTimer;

// What both terminal protocols share: the receive state machine with ACK and
// NAK, status polls while idle, one command at a time as a transaction with a
// timeout, write retries and the reporting of statuses. A family supplies its
// framing, its status request and the meaning of what the terminal says.
// Lives on the Tpa's worker thread; every slot runs there.
class TpaWorker : public QObject
{
    Q_OBJECT

public:
    TpaWorker(const SerialPortDescription& port, const TpaTimings& timings, QObject* parent = nullptr);
    ~TpaWorker() override;

    bool isPortOpen() const;
    bool inTransaction() const { return m_inTransaction; }

signals:
    void setLastStatus(QString status);
    void setLastTransactionStatus(QString transactionStatus);
    void setInTransactionChanged(bool inTransaction);

public slots:
    void setNewCommand(QByteArray newCommand);
    void startWorker();
    void loopStatusCheck();
    void bytesWritten(qint64 bytes);
    void errorOcurred(QSerialPort::SerialPortError error);
    void transactionTimeout();
    void readyRead();

protected:
    static constexpr char STX = 0x02;
    static constexpr char ETX = 0x03;
    static constexpr char ACK = 0x06;
    static constexpr char DLE = 0x10;
    static constexpr char NAK = 0x15;

    // The message wrapped in the family's frame, check byte included.
    virtual QByteArray frame(const QByteArray& message) const = 0;
    virtual QByteArray statusRequest() const = 0;
    // A frame's content whose check byte was right.
    virtual void handleFrame(const QByteArray& message) = 0;
    // Whether a status poll waits for its answer before a new command is sent.
    virtual bool pollSetsOutstanding() const = 0;
    // One per worker class: serialises the byte readers of all its instances.
    virtual QSemaphore& receiveSemaphore() const = 0;

    // The receive state machine: frames, check bytes, ACK and NAK; readyRead
    // feeds it what the port has.
    void receive(const QByteArray& bytes);
    void writeFrame(const QByteArray& message);
    void sendCommand(const QByteArray& message);
    void restartTransactionTimer();
    void finishTransaction();
    bool hasPendingCommand() const { return !m_pendingCommand.isEmpty(); }
    void setPollOutstanding(bool value) { m_pollOutstanding = value; }
    // A status request went out and its answer has not come yet (whether or
    // not the family waits for it before sending a command).
    bool pollAnswerAwaited() const { return m_pollAnswerAwaited; }
    void setPollAnswerAwaited(bool value) { m_pollAnswerAwaited = value; }

private:
    bool openPort();
    // The device went away under an open port: drop the port and try again later.
    void portLost();
    // Ends whatever the Tpa thinks is running with the timeout status.
    void abandonCommand();
    void armPollTimer();
    void armTransactionTimer();
    void writeRaw(const QByteArray& bytes);

    QSerialPort* m_serialPort = nullptr;
    SerialPortDescription m_portInfo;
    QByteArray m_lastMessage;
    bool m_inFrame = false;
    bool m_awaitingCheckByte = false;
    int m_retries = 0;
    bool m_inTransaction = false;
    bool m_pollOutstanding = false;
    QByteArray m_pendingCommand;
    QByteArray m_receiveBuffer;
    QTimer* m_loopTimer = nullptr;
    QTimer* m_transactionTimer = nullptr;
    TpaTimings m_timings;
    bool m_portLostQueued = false;
    bool m_pollAnswerAwaited = false;
};
