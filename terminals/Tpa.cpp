#include "Tpa.h"

#include "TpaMessages.h"
#include "TpaStatus.h"
#include "TpaWorkerIngenico.h"
#include "TpaWorkerNewnote.h"

#include <QCryptographicHash>
#include <QSettings>
#include <QThread>
#include <algorithm>
#include <utility>

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

void Tpa::refreshState()
{
    emit stateChanged(state());
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
    return m_currentCaller >= 0 ? m_callers[m_currentCaller].statuses : QStringList();
}

int Tpa::findCaller(const QString& callerId)
{
    for (int index = 0; index < int(m_callers.size()); ++index) {
        if (m_callers[index].id == callerId) {
            m_callers[index].seen = ++m_clock;
            return index;
        }
    }
    return -1;
}

int Tpa::addCaller(const QString& callerId)
{
    const int found = findCaller(callerId);
    if (found >= 0)
        return found;
    if (int(m_callers.size()) >= MaxCallers) {
        // Make room: the least recently seen caller with nothing queued loses nothing;
        // when every caller has statuses waiting, the least recently seen one's go.
        const auto rank = [](const Caller& caller) { return std::make_pair(!caller.statuses.isEmpty(), caller.seen); };
        m_callers.erase(std::min_element(m_callers.begin(), m_callers.end(),
                                         [&](const Caller& a, const Caller& b) { return rank(a) < rank(b); }));
    }
    m_callers.push_back(Caller{callerId, {}, ++m_clock});
    return int(m_callers.size()) - 1;
}

QString Tpa::statusFor(const QString& callerId)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    const int index = findCaller(callerId);
    if (m_currentCaller >= 0 && m_currentCaller != index)
        return TpaStatus::Busy;
    return m_lastStatus;
}

QStringList Tpa::takeTransactionStatuses(const QString& callerId)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    const int index = findCaller(callerId);
    if (index < 0)
        return {};
    // While its transaction runs the caller sees the whole growing list; afterwards each status once.
    if (m_inTransaction && m_currentCaller == index)
        return m_callers[index].statuses;
    QStringList statuses;
    statuses.swap(m_callers[index].statuses);
    return statuses;
}

QStringList Tpa::clearTransactionStatuses(const QString& callerId)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    const int index = findCaller(callerId);
    if (index < 0 || m_inTransaction || m_currentCaller >= 0)
        return {};
    QStringList statuses;
    statuses.swap(m_callers[index].statuses);
    return statuses;
}

Tpa::SendResult Tpa::issueCommand(const QString& callerId, const QByteArray& command)
{
    // The id is kept with the caller's statuses: its length is what a caller could grow memory with.
    if (callerId.size() > MaxCallerIdLength)
        return InvalidCaller;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        // The test and the taking are one step: two tills cannot both pass the test.
        if (m_inTransaction)
            return Busy;
        // A command this type does not have sends nothing, so nothing runs that
        // could make the caller current and the terminal busy for the others.
        if (command.isEmpty() || !m_worker)
            return Sent;
        m_currentCaller = addCaller(callerId);
        m_inTransaction = true;
    }
    emit sendMessage(command);
    return Sent;
}

Tpa::SendResult Tpa::sendOpen(const QString& callerId)
{
    return issueCommand(callerId, TpaMessages::open(m_type));
}

Tpa::SendResult Tpa::sendClose(const QString& callerId)
{
    return issueCommand(callerId, TpaMessages::close(m_type));
}

Tpa::SendResult Tpa::sendPurchase(const QString& callerId, const QString& amount)
{
    if (!TpaMessages::isValidAmount(amount))
        return InvalidAmount;
    return issueCommand(callerId, TpaMessages::purchase(m_type, amount));
}

Tpa::SendResult Tpa::sendRefund(const QString& callerId, const QString& reference, const QString& dateTime,
                                const QString& amount)
{
    if (!TpaMessages::isValidAmount(amount))
        return InvalidAmount;
    if (!TpaMessages::isValidReference(reference))
        return InvalidReference;
    if (!TpaMessages::isValidDateTime(dateTime))
        return InvalidDateTime;
    return issueCommand(callerId, TpaMessages::refund(m_type, reference, dateTime, amount));
}

Tpa::SendResult Tpa::sendOpenMenu(const QString& callerId)
{
    return issueCommand(callerId, TpaMessages::openMenu(m_type));
}

Tpa::SendResult Tpa::sendReprintLastReceipt(const QString& callerId)
{
    return issueCommand(callerId, TpaMessages::reprintLastReceipt(m_type));
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
        QStringList& statuses = m_callers[m_currentCaller].statuses;
        statuses.append(transactionStatus);
        // A terminal that talks on and a caller that never reads cannot grow the queue for ever.
        if (statuses.size() > MaxStatusesPerCaller)
            statuses.removeFirst();
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
