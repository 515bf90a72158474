#include "Tpa.h"

#include "TpaMessages.h"
#include "TpaStatus.h"
#include "TpaWorkerIngenico.h"
#include "TpaWorkerNewnote.h"

#include <QCryptographicHash>
#include <QSettings>
#include <QThread>
#include <algorithm>

Tpa::Tpa(const SerialPortDescription& port, int type, QObject* parent, const TpaTimings& timings)
    : QObject(parent)
    , m_portInfo(port)
    , m_type(type)
{
    qRegisterMetaType<SerialPortDescription>();
    m_available = QSettings().value(settingsKey(), true).toBool();

    if (type == Ingenico)
        m_worker = new TpaWorkerIngenico(port, timings);
    else if (type == Newnote)
        m_worker = new TpaWorkerNewnote(port, timings);

    if (m_worker) {
        m_workerThread = new QThread;
        m_worker->moveToThread(m_workerThread);
        // The worker starts talking to the device from its own thread.
        connect(m_workerThread, &QThread::started, m_worker, &TpaWorker::startWorker);
        // The worker and its port die with the thread, in the thread.
        connect(m_workerThread, &QThread::finished, m_worker, &QObject::deleteLater);
        // Queued: commands are issued from the API's connection threads and run on the worker's.
        connect(this, &Tpa::sendMessage, m_worker, &TpaWorker::setNewCommand, Qt::QueuedConnection);
        // Queued: reports cross from the worker's thread to this object's, in the order sent.
        connect(m_worker, &TpaWorker::setLastStatus, this, &Tpa::onSetStatus, Qt::QueuedConnection);
        connect(m_worker, &TpaWorker::setLastTransactionStatus, this, &Tpa::onSetTransactionStatus,
                Qt::QueuedConnection);
        connect(m_worker, &TpaWorker::setInTransactionChanged, this, &Tpa::onInTransactionChanged,
                Qt::QueuedConnection);
        m_workerThread->start(QThread::InheritPriority);
    }
    connect(this, &Tpa::availableChanged, this, &Tpa::persistAvailability);
}

Tpa::~Tpa()
{
    // Stop the worker so that its port is closed and free for a successor on the same device.
    if (m_workerThread) {
        m_workerThread->quit();
        m_workerThread->wait();
        delete m_workerThread;
    }
}

int Tpa::terminalType(int usbVendorId)
{
    switch (usbVendorId) {
    case 0x079B:
    case 0x0B00:
        return Ingenico;
    case 0x0403:
    case 0x1E0E:
        return Newnote;
    }
    return NoTerminal;
}

QString Tpa::terminalKey(quint16 vendorIdentifier, quint16 productIdentifier)
{
    // Each identifier as one UTF-16 code unit, not its decimal text; the key names the
    // device model, whatever port it is on.
    const QByteArray bytes = QString(QChar(vendorIdentifier)).toUtf8() + QString(QChar(productIdentifier)).toUtf8();
    return QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Sha1).toBase64());
}

QString Tpa::terminalKey() const
{
    return terminalKey(m_portInfo.vendorIdentifier(), m_portInfo.productIdentifier());
}

QString Tpa::settingsKey() const
{
    return QStringLiteral("tpa/%1").arg(terminalKey());
}

QString Tpa::name() const
{
    return QStringLiteral("%1 [%2]").arg(m_portInfo.description(), m_portInfo.portName());
}

bool Tpa::state() const
{
    const QList<SerialPortDescription> ports = SerialPortDescription::availablePorts();
    return std::any_of(ports.cbegin(), ports.cend(),
                       [this](const SerialPortDescription& port) { return port.portName() == m_portInfo.portName(); });
}

bool Tpa::available() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_available;
}

void Tpa::setAvailable(bool value)
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_available = value;
    }
    emit availableChanged(value);
}

void Tpa::persistAvailability()
{
    QSettings settings;
    settings.setValue(settingsKey(), available());
    settings.sync();
}

bool Tpa::isInTransaction() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_inTransaction;
}

QString Tpa::lastStatus() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_lastStatus;
}

QStringList Tpa::lastTransactionStatus() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_currentCaller >= 0 ? m_transactionStatuses.at(m_currentCaller) : QStringList();
}

int Tpa::callerIndex(const QString& callerId)
{
    int index = m_callers.indexOf(callerId);
    if (index < 0) {
        m_callers.append(callerId);
        m_transactionStatuses.append(QStringList());
        index = m_callers.size() - 1;
    }
    return index;
}

QString Tpa::statusFor(const QString& callerId)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    const int index = callerIndex(callerId);
    if (m_currentCaller >= 0 && m_currentCaller != index)
        return TpaStatus::Busy;
    return m_lastStatus;
}

QStringList Tpa::takeTransactionStatuses(const QString& callerId)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    const int index = callerIndex(callerId);
    // While its transaction runs the caller sees the whole growing list; afterwards each status once.
    if (m_inTransaction && m_currentCaller == index)
        return m_transactionStatuses.at(index);
    QStringList statuses;
    statuses.swap(m_transactionStatuses[index]);
    return statuses;
}

QStringList Tpa::clearTransactionStatuses(const QString& callerId)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    const int index = callerIndex(callerId);
    if (m_inTransaction || m_currentCaller >= 0)
        return {};
    QStringList statuses;
    statuses.swap(m_transactionStatuses[index]);
    return statuses;
}

void Tpa::issueCommand(const QString& callerId, const QByteArray& command)
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        const int index = callerIndex(callerId);
        // A command this type does not have sends nothing, so nothing runs that
        // could make the caller current and the terminal busy for the others.
        if (command.isEmpty() || !m_worker)
            return;
        m_currentCaller = index;
        m_inTransaction = true;
    }
    emit sendMessage(command);
}

void Tpa::sendOpen(const QString& callerId)
{
    issueCommand(callerId, TpaMessages::open(m_type));
}

void Tpa::sendClose(const QString& callerId)
{
    issueCommand(callerId, TpaMessages::close(m_type));
}

void Tpa::sendPurchase(const QString& callerId, const QString& amount)
{
    issueCommand(callerId, TpaMessages::purchase(m_type, amount));
}

void Tpa::sendRefund(const QString& callerId, const QString& reference, const QString& dateTime, const QString& amount)
{
    issueCommand(callerId, TpaMessages::refund(m_type, reference, dateTime, amount));
}

void Tpa::sendOpenMenu(const QString& callerId)
{
    issueCommand(callerId, TpaMessages::openMenu(m_type));
}

void Tpa::sendReprintLastReceipt(const QString& callerId)
{
    issueCommand(callerId, TpaMessages::reprintLastReceipt(m_type));
}

void Tpa::onSetStatus(QString status)
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_lastStatus = status;
    }
    emit lastStatusChanged();
}

void Tpa::onSetTransactionStatus(QString transactionStatus)
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        // Nobody to deliver it to.
        if (m_currentCaller < 0)
            return;
        m_transactionStatuses[m_currentCaller].append(transactionStatus);
    }
    emit lastTransactionStatusChanged();
}

void Tpa::onInTransactionChanged(bool inTransaction)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_inTransaction = inTransaction;
    if (!inTransaction)
        m_currentCaller = -1;
}
