#include "TpaWorker.h"

#include "TpaStatus.h"

#include <QDebug>
#include <QSemaphore>
#include <QTimer>

namespace {
// Serial timeouts tolerated per message before the transaction is given up.
constexpr int MaxWriteRetries = 3;
// Far above the longest message either family sends (receipts included).
constexpr int MaxFrameBytes = 64 * 1024;
} // namespace

TpaWorker::TpaWorker(const SerialPortDescription& port, const TpaTimings& timings, QObject* parent)
    : QObject(parent)
    , m_portInfo(port)
    , m_timings(timings)
{}

TpaWorker::~TpaWorker() = default;

bool TpaWorker::isPortOpen() const
{
    return m_serialPort && m_serialPort->isOpen();
}

void TpaWorker::setNewCommand(QByteArray newCommand)
{
    if (!isPortOpen() && !openPort()) {
        // Nothing can reach the terminal: refuse at once rather than leave the
        // Tpa (which already counts itself in a transaction) waiting forever.
        emit setLastTransactionStatus(TpaStatus::Timeout);
        emit setInTransactionChanged(false);
        return;
    }
    if (!m_inTransaction && m_pendingCommand.isEmpty() && !newCommand.isEmpty()) {
        m_pendingCommand = newCommand;
        emit setLastTransactionStatus(TpaStatus::CommandAdded);
        if (!m_pollOutstanding)
            loopStatusCheck();
    } else {
        emit setLastTransactionStatus(TpaStatus::CommandRefused);
    }
}

void TpaWorker::startWorker()
{
    if (m_serialPort)
        return;
    m_serialPort = new QSerialPort(this);
    connect(m_serialPort, &QSerialPort::bytesWritten, this, &TpaWorker::bytesWritten);
    connect(m_serialPort, &QSerialPort::errorOccurred, this, &TpaWorker::errorOcurred);
    connect(m_serialPort, &QSerialPort::readyRead, this, &TpaWorker::readyRead);

    m_transactionTimer = new QTimer(this);
    connect(m_transactionTimer, &QTimer::timeout, this, &TpaWorker::transactionTimeout);
    m_loopTimer = new QTimer(this);
    connect(m_loopTimer, &QTimer::timeout, this, &TpaWorker::loopStatusCheck);

    if (!openPort()) {
        // No polls until the port opens; try again at the poll interval.
        m_loopTimer->start(m_timings.idlePoll);
        return;
    }
    m_loopTimer->start(m_timings.firstLoop);
    loopStatusCheck();
}

bool TpaWorker::openPort()
{
    if (!m_serialPort)
        return false;
    if (m_serialPort->isOpen())
        return true;
    m_serialPort->setPortName(m_portInfo.systemLocation());
    m_serialPort->setBaudRate(QSerialPort::Baud115200, QSerialPort::AllDirections);
    m_serialPort->setDataBits(QSerialPort::Data8);
    m_serialPort->setParity(QSerialPort::NoParity);
    m_serialPort->setStopBits(QSerialPort::OneStop);
    m_serialPort->setFlowControl(QSerialPort::NoFlowControl);
    if (!m_serialPort->open(QIODevice::ReadWrite)) {
        qDebug() << "not open" << m_serialPort->error() << m_portInfo.systemLocation();
        m_serialPort->clearError();
        return false;
    }
    m_inFrame = false;
    m_awaitingCheckByte = false;
    m_receiveBuffer.clear();
    m_pollOutstanding = false;
    m_pollAnswerAwaited = false;
    return true;
}

void TpaWorker::loopStatusCheck()
{
    if (!isPortOpen()) {
        if (!openPort()) {
            m_loopTimer->start(m_timings.idlePoll);
            return;
        }
        m_loopTimer->start(m_timings.firstLoop);
    }
    if (m_inTransaction && m_pendingCommand.isEmpty())
        return;
    if (!m_inTransaction && m_pendingCommand.isEmpty()) {
        m_loopTimer->start(m_timings.idlePoll);
        armPollTimer();
        m_pollAnswerAwaited = true;
        sendCommand(statusRequest());
        return;
    }
    armTransactionTimer();
    const QByteArray command = m_pendingCommand;
    m_pendingCommand.clear();
    sendCommand(command);
}

void TpaWorker::armPollTimer()
{
    m_transactionTimer->start(m_timings.pollWrite);
    if (pollSetsOutstanding())
        m_pollOutstanding = true;
}

void TpaWorker::armTransactionTimer()
{
    m_transactionTimer->setInterval(m_timings.transaction);
    m_inTransaction = true;
    emit setInTransactionChanged(true);
    m_transactionTimer->start();
}

void TpaWorker::restartTransactionTimer()
{
    if (!m_transactionTimer)
        return;
    m_transactionTimer->stop();
    m_transactionTimer->start();
}

void TpaWorker::finishTransaction()
{
    if (m_transactionTimer)
        m_transactionTimer->stop();
    if (m_inTransaction) {
        m_inTransaction = false;
        emit setInTransactionChanged(false);
        if (m_loopTimer)
            m_loopTimer->start(m_timings.afterTransaction);
    }
}

void TpaWorker::sendCommand(const QByteArray& message)
{
    m_retries = 0;
    writeFrame(message);
}

void TpaWorker::writeFrame(const QByteArray& message)
{
    m_lastMessage = message;
    writeRaw(frame(message));
}

void TpaWorker::writeRaw(const QByteArray& bytes)
{
    if (!isPortOpen())
        return;
    m_serialPort->write(bytes);
}

void TpaWorker::bytesWritten(qint64 bytes)
{
    Q_UNUSED(bytes)
    // Outside a transaction the timer only guards the write of a poll.
    if (!m_inTransaction)
        finishTransaction();
}

void TpaWorker::errorOcurred(QSerialPort::SerialPortError error)
{
    if (error == QSerialPort::NoError)
        return;
    qDebug() << "error ocurred" << error;
    if (error == QSerialPort::TimeoutError) {
        if (m_retries < MaxWriteRetries) {
            ++m_retries;
            writeFrame(m_lastMessage);
        } else if (m_inTransaction) {
            // Reported before the end so that the Tpa still knows whose it is.
            emit setLastTransactionStatus(TpaStatus::Timeout);
            finishTransaction();
        } else {
            m_pollOutstanding = false;
            emit setLastStatus(TpaStatus::Timeout);
            finishTransaction();
        }
    } else if ((error == QSerialPort::ResourceError || error == QSerialPort::ReadError) && !m_portLostQueued) {
        // The device is gone (unplugged, or the other end of a pseudo-terminal
        // closed; a hung-up line reads as end of file, a ReadError). A dead
        // descriptor keeps signalling, so close it; not from inside the port's
        // own notification, hence queued.
        m_portLostQueued = true;
        QMetaObject::invokeMethod(this, &TpaWorker::portLost, Qt::QueuedConnection);
    }
}

void TpaWorker::portLost()
{
    m_portLostQueued = false;
    if (!isPortOpen())
        return;
    qDebug() << "port lost" << m_portInfo.systemLocation();
    m_serialPort->close();
    m_serialPort->clearError();
    m_inFrame = false;
    m_awaitingCheckByte = false;
    m_receiveBuffer.clear();
    m_pollOutstanding = false;
    m_pollAnswerAwaited = false;
    abandonCommand();
    if (m_transactionTimer)
        m_transactionTimer->stop();
    // A first attempt soon (a replugged device), then at the poll interval.
    if (m_loopTimer)
        m_loopTimer->start(m_timings.afterTransaction);
}

void TpaWorker::abandonCommand()
{
    if (!m_inTransaction && m_pendingCommand.isEmpty())
        return;
    m_pendingCommand.clear();
    emit setLastTransactionStatus(TpaStatus::Timeout);
    m_inTransaction = false;
    emit setInTransactionChanged(false);
}

void TpaWorker::transactionTimeout()
{
    if (m_inTransaction) {
        emit setLastTransactionStatus(TpaStatus::Timeout);
    } else {
        m_pollOutstanding = false;
        emit setLastStatus(TpaStatus::Timeout);
    }
    finishTransaction();
}

void TpaWorker::readyRead()
{
    if (!isPortOpen())
        return;
    QSemaphore& semaphore = receiveSemaphore();
    semaphore.acquire();
    receive(m_serialPort->readAll());
    semaphore.release();
}

void TpaWorker::receive(const QByteArray& bytes)
{
    for (const char byte : bytes) {
        if (m_awaitingCheckByte) {
            char check = ETX;
            for (const char b : qAsConst(m_receiveBuffer))
                check ^= b;
            if (check == byte) {
                writeRaw(QByteArray(1, ACK));
                const QByteArray message = m_receiveBuffer;
                m_receiveBuffer.clear();
                m_awaitingCheckByte = false;
                handleFrame(message);
            } else {
                writeRaw(QByteArray(1, NAK));
                m_receiveBuffer.clear();
                m_awaitingCheckByte = false;
            }
        } else if (byte == STX) {
            if (!m_inFrame) {
                m_inFrame = true;
                m_receiveBuffer.clear();
            } else {
                m_receiveBuffer.append(byte);
            }
        } else if (byte == ETX) {
            // No escaping in either protocol: an ETX always ends the frame.
            m_inFrame = false;
            m_awaitingCheckByte = true;
        } else if (m_inFrame) {
            m_receiveBuffer.append(byte);
        }
        // Bytes outside a frame (the terminal's own ACK and NAK, noise) are ignored.
        if (m_inFrame && m_receiveBuffer.size() > MaxFrameBytes) {
            // A frame that never ends (noise, a broken device) would grow
            // without limit: drop it and ask for it again.
            writeRaw(QByteArray(1, NAK));
            m_receiveBuffer.clear();
            m_inFrame = false;
        }
    }
}
