#include "core/PrintClient.h"

#include "api/PrintClientRequestHandler.h"
#include "app/LanguageChoice.h"
#include "app/SingleInstance.h"
#include "core/PrintClientThreaded.h"
#include "core/ServerTls.h"
#include "core/SharedLists.h"
#include "core/VersionCheck.h"
#include "http/HttpListener.h"

#include <QClipboard>
#include <QDateTime>
#include <QDir>
#include <QGuiApplication>
#include <QNetworkAccessManager>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QSslSocket>
#include <QThread>
#include <QTimer>

#include <mutex>

using namespace SharedLists;

namespace {

template <typename Entry>
void refreshStates(const QList<std::shared_ptr<Entry>>& entries)
{
    for (const std::shared_ptr<Entry>& entry : entries)
        entry->refreshState();
}

const QString keySuffix = QStringLiteral("v4.0");

// QUORVA_LINK_PORT moves the server off 5080, so that a test or an integrator's
// copy runs beside an installed connector. Anything but a port number is ignored.
quint16 portFromEnvironment()
{
    bool ok = false;
    const uint port = qEnvironmentVariable("QUORVA_LINK_PORT").toUInt(&ok);
    return ok && port > 0 && port <= 65535 ? quint16(port) : PrintClientThreaded::defaultPort;
}

} // namespace

// 8 characters from [A-Za-z0-9] drawn from the system's cryptographic source:
// about 48 bits, out of reach of a web page or a LAN peer guessing keys.
QString PrintClient::newSecurityKey()
{
    static const QString alphabet = QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789");
    QString key;
    for (int i = 0; i < 8; ++i)
        key.append(alphabet.at(static_cast<int>(QRandomGenerator::system()->bounded(alphabet.size()))));
    return key + keySuffix;
}

PrintClient::PrintClient(QObject* parent)
    : QObject(parent)
    , m_serverSwitch(new ServerSwitch(this))
    , m_listenerPort(portFromEnvironment())
{
    connect(m_serverSwitch, &ServerSwitch::switched, this, &PrintClient::onServerSwitched);
    connect(m_serverSwitch, &ServerSwitch::stateChanged, this, &PrintClient::serverStateChanged);
}

PrintClient::~PrintClient() = default;

void PrintClient::init()
{
    m_version = QStringLiteral("v4.1.0");
    m_curVersion = QStringLiteral("410");
    m_device = QStringLiteral("desktop");

    m_printerTimer = new QTimer(this);
    m_printerTimer->setSingleShot(true);
    connect(m_printerTimer, &QTimer::timeout, this, &PrintClient::requestPrinters);
    m_tpaTimer = new QTimer(this);
    m_tpaTimer->setSingleShot(true);
    connect(m_tpaTimer, &QTimer::timeout, this, &PrintClient::requestTpas);
    m_notificationTimer = new QTimer(this);
    m_notificationTimer->setSingleShot(true);
    connect(m_notificationTimer, &QTimer::timeout, this, &PrintClient::checkNotificationDelete);
    m_notificationTimer->start(60000);

    m_versionTimer = new QTimer(this);
    m_versionTimer->setSingleShot(true);
    m_versionTimer->setInterval(3600000);
    connect(m_versionTimer, &QTimer::timeout, this, &PrintClient::checkNewVersion);

    loadSettings();

    m_kickTimer = new QTimer(this);
    m_kickTimer->setInterval(4000);
    connect(m_kickTimer, &QTimer::timeout, this, &PrintClient::setKicked);
    m_kickTimer->start();
    m_showWindowTimer = new QTimer(this);
    m_showWindowTimer->setInterval(200);
    connect(m_showWindowTimer, &QTimer::timeout, this, &PrintClient::checkOpeness);
    m_showWindowTimer->start();

    setKicked();
    if (m_checksVersions)
        checkNewVersion();
}

void PrintClient::loadSettings()
{
    setServerActive(m_settings.value(QStringLiteral("serverActive"), true).toBool());

    QString key = m_settings.value(QStringLiteral("securityKey")).toString();
    if (!key.isEmpty()) {
        m_firstStartup = false;
        static const QRegularExpression versionSuffix(QStringLiteral("v\\d\\.\\d$"));
        if (!versionSuffix.match(key).hasMatch())
            key += keySuffix;
    } else {
        key = newSecurityKey();
    }
    setSecurityKey(key);

    setCompatibilityMode(m_settings.value(QStringLiteral("compatibilityMode"), false).toBool());

    m_licenseAccepted = m_settings.value(QStringLiteral("licenseAccepted"), true).toBool();
    setLicenseAccepted(m_licenseAccepted);
}

void PrintClient::updateStarted()
{
    m_started = m_ipAddressesReceived && m_printersReceived && m_tpasReceived && m_serverReceived;
    emit startedChanged(m_started);
}

QString PrintClient::securityKey() const
{
    std::lock_guard<std::mutex> lock(m_listMutex);
    return m_securityKey;
}

QStringList PrintClient::debugMessages() const
{
    std::lock_guard<std::mutex> lock(m_debugMessagesMutex);
    return m_debugMessages;
}

QString PrintClient::language() const
{
    return LanguageChoice::systemLanguage();
}

void PrintClient::setLicenseAccepted(bool accepted)
{
    m_licenseAccepted = accepted;
    m_settings.setValue(QStringLiteral("licenseAccepted"), accepted);
    m_settings.sync();
    emit licenseAcceptedChanged(accepted);
    // One worker and one server per process: accepting again builds nothing new.
    if (!accepted || m_worker)
        return;

    auto* handlerThread = new QThread();
    m_worker = new PrintClientThreaded();
    m_worker->setPort(m_listenerPort);
    auto* requestHandler = new PrintClientRequestHandler();
    requestHandler->setPrintClient(this);
    requestHandler->moveToThread(handlerThread);

    // The worker lives on this thread: each request below runs its answer
    // synchronously before the emit returns.
    connect(this, &PrintClient::requestIPAddresses, m_worker, &PrintClientThreaded::getIPAddresses);
    connect(m_worker, &PrintClientThreaded::onGetAddresses, this, &PrintClient::onGetIPAddresses);
    connect(this, &PrintClient::requestPrinters, m_worker, &PrintClientThreaded::getPrinters);
    connect(this, &PrintClient::requestTpas, m_worker, &PrintClientThreaded::getTpas);
    connect(m_worker, &PrintClientThreaded::onGetPrinters, this, &PrintClient::onGetPrinters);
    connect(m_worker, &PrintClientThreaded::onGetTpas, this, &PrintClient::onGetTpas);
    connect(this, &PrintClient::requestServer, m_worker, &PrintClientThreaded::getServer);
    connect(m_worker, &PrintClientThreaded::onGetServer, this, &PrintClient::onGetServer);
    connect(this, &QObject::destroyed, handlerThread, &QThread::quit);
    connect(handlerThread, &QThread::finished, m_worker, &QObject::deleteLater);
    connect(handlerThread, &QThread::finished, requestHandler, &QObject::deleteLater);
    connect(handlerThread, &QThread::finished, handlerThread, &QObject::deleteLater);
    handlerThread->start();

    emit requestIPAddresses();
    emit requestPrinters();
    emit requestTpas();
    emit requestServer(m_serverActive, requestHandler);
}

void PrintClient::setServerActive(bool online)
{
    m_serverSwitch->switchTo(online);
    m_serverActive = online;
    m_settings.setValue(QStringLiteral("serverActive"), online);
    m_settings.sync();
    qDebug().noquote() << QStringLiteral("SSL Version: %1").arg(QSslSocket::sslLibraryVersionString());
    emit serverActiveChanged(online);
}

void PrintClient::setSecurityKey(const QString& key)
{
    {
        std::lock_guard<std::mutex> lock(m_listMutex);
        m_securityKey = key;
    }
    m_settings.setValue(QStringLiteral("securityKey"), key);
    m_settings.sync();
    emit securityKeyChanged(key);
}

void PrintClient::setMessage(const QString& text)
{
    m_message = text;
    emit messageChanged(text);
}

void PrintClient::setIsDebugMode(bool on)
{
    m_isDebugMode = on;
    emit isDebugModeChanged(on);
}

void PrintClient::setDebugMessages(const QStringList& lines)
{
    {
        std::lock_guard<std::mutex> lock(m_debugMessagesMutex);
        if (m_debugMessages != lines)
            m_debugMessages = lines;
    }
    emit debugMessagesChanged(lines);
}

void PrintClient::setCompatibilityMode(bool on)
{
    m_compatibilityMode = on;
    m_settings.setValue(QStringLiteral("compatibilityMode"), on);
    emit compatibilityModeChanged(on);
}

QQmlListProperty<Printer> PrintClient::printers()
{
    return QQmlListProperty<Printer>(this, &m_printerList, &listCount<Printer>, &listAt<Printer>);
}

QQmlListProperty<Tpa> PrintClient::tpas()
{
    return QQmlListProperty<Tpa>(this, &m_tpaList, &listCount<Tpa>, &listAt<Tpa>);
}

QList<std::shared_ptr<Printer>> PrintClient::printerList() const
{
    std::lock_guard<std::mutex> lock(m_listMutex);
    return detachedCopy(m_printerList);
}

QList<std::shared_ptr<Tpa>> PrintClient::tpaList() const
{
    std::lock_guard<std::mutex> lock(m_listMutex);
    return detachedCopy(m_tpaList);
}

QList<Printer*> PrintClient::uiPrinterList() const
{
    return rawList(m_printerList);
}

QList<Tpa*> PrintClient::uiTpaList() const
{
    return rawList(m_tpaList);
}

std::shared_ptr<Notification> PrintClient::adopt(Notification* record)
{
    // Records are usually born on a connection thread; hand them to ours so
    // their deferred deletion runs on a thread that keeps its event loop.
    if (record->thread() != thread() && record->thread() == QThread::currentThread())
        record->moveToThread(thread());
    record->m_adopted = true;
    return shared(record);
}

QList<std::shared_ptr<Notification>> PrintClient::notifications() const
{
    std::lock_guard<std::mutex> lock(m_listMutex);
    return detachedCopy(m_notifications);
}

QList<Notification*> PrintClient::uiNotifications() const
{
    std::lock_guard<std::mutex> lock(m_listMutex);
    return rawList(m_notifications);
}

void PrintClient::setNotifications(const QList<Notification*>& records)
{
    {
        std::lock_guard<std::mutex> lock(m_listMutex);
        QList<std::shared_ptr<Notification>> next;
        for (Notification* record : records) {
            if (!record)
                continue;
            auto known = std::find_if(m_notifications.cbegin(), m_notifications.cend(),
                                      [record](const auto& held) { return held.get() == record; });
            if (known != m_notifications.cend())
                next.append(*known);
            else if (!record->m_adopted)
                next.append(adopt(record));
            // Otherwise the record left the list since the caller read it (expired,
            // or pushed out by newer ones from a connection thread) and is on its
            // way to deletion: owning it a second time would delete it twice.
        }
        if (next != m_notifications)
            m_notifications = next;
    }
    emit notificationsChanged();
}

void PrintClient::addNotification(Notification* record)
{
    if (!record)
        return;
    std::shared_ptr<Notification> owned = adopt(record);
    {
        std::lock_guard<std::mutex> lock(m_listMutex);
        m_notifications.append(owned);
        while (m_notifications.size() > maxNotifications)
            m_notifications.removeFirst();
    }
    emit notificationsChanged();
}

void PrintClient::checkNotificationDelete()
{
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    {
        std::lock_guard<std::mutex> lock(m_listMutex);
        for (int i = m_notifications.size() - 1; i >= 0; --i) {
            if (m_notifications.at(i)->ageSeconds(now) > notificationLifetimeSeconds)
                m_notifications.removeAt(i);
        }
    }
    if (m_notificationTimer)
        m_notificationTimer->start(60000);
    emit notificationsChanged();
}

void PrintClient::clipboard(QString val)
{
    // Without a GUI application there is no clipboard to write to.
    if (qobject_cast<QGuiApplication*>(QCoreApplication::instance()))
        QGuiApplication::clipboard()->setText(val, QClipboard::Clipboard);
}

QString PrintClient::trustCertificate()
{
    return trustCertificateText();
}

QString PrintClient::trustCertificateText()
{
    const ServerTls::TrustReport step = ServerTls().trust();
    if (!step.deployerCertFile.isEmpty())
        return tr("O servidor usa o certificado do implementador (%1): não é preciso confiar no certificado.")
            .arg(step.deployerCertFile);
    if (!step.error.isEmpty())
        return tr("Falhou: %1").arg(step.error);
    // Shorter lines for the card: the home folder as "~".
    CertificateTrust::Result result = step.result;
    for (QStringList* list : {&result.oldAuthorities, &result.places, &result.failures})
        list->replaceInStrings(QDir::homePath() + QLatin1Char('/'), QStringLiteral("~/"));
    QStringList lines;
    if (!result.oldAuthorities.isEmpty())
        lines << tr("Autoridade de versões antigas removida de:") << result.oldAuthorities;
    if (!result.places.isEmpty())
        lines << tr("Certificado de confiança em:") << result.places;
    if (!result.failures.isEmpty())
        lines << tr("Falhou:") << result.failures;
    return lines.join(QLatin1Char('\n'));
}

void PrintClient::updatePrinters()
{
    m_fetching = true;
    emit fetchingChanged();
}

void PrintClient::updateTpas()
{
    m_fetching = true;
    emit fetchingChanged();
    emit requestTpas();
}

void PrintClient::onGetIPAddresses(QList<QHostAddress> addresses)
{
    m_ipAddresses.clear();
    for (const QHostAddress& address : addresses)
        m_ipAddresses.append(address.toString());
    emit ipAddressesChanged(m_ipAddresses);
    m_ipAddressesReceived = true;
    updateStarted();
}

void PrintClient::setWindowShown(bool shown)
{
    m_windowShown = shown;
    if (!shown)
        return;
    refreshStates(m_printerList);
    refreshStates(m_tpaList);
}

void PrintClient::onGetPrinters(QStringList printers)
{
    // Existing printers keep their object, so their switches and the bindings stay.
    QList<std::shared_ptr<Printer>> next = reconciled(
        m_printerList, printers, [](const Printer& printer, const QString& name) { return printer.name() == name; },
        [](const QString& name) { return shared(new Printer(name, nullptr)); });
    const bool changed = next != m_printerList;
    {
        std::lock_guard<std::mutex> lock(m_listMutex);
        m_printerList.swap(next);
    }
    // Removed printers go once no request holds them, by deferred deletion.
    next.clear();
    // An unchanged list keeps the window's rows: remade every 3 s, they dropped
    // the click that fell on the rebuild. Only the states are read again.
    if (changed || !m_printersReceived) {
        qDebug() << "PrintClient: printers" << names(m_printerList);
        emit printersChanged();
    } else if (m_windowShown) {
        refreshStates(m_printerList);
    }
    m_printersReceived = true;
    m_fetching = false;
    emit fetchingChanged();
    updateStarted();
    if (m_printerTimer)
        m_printerTimer->start(3000);
}

void PrintClient::onGetTpas(QList<SerialPortDescription> tpas)
{
    const auto matches = [](const Tpa& tpa, const SerialPortDescription& port) {
        const SerialPortDescription known = tpa.tpa();
        return known.vendorIdentifier() == port.vendorIdentifier() &&
               known.productIdentifier() == port.productIdentifier() && known.portName() == port.portName();
    };
    const auto create = [this](const SerialPortDescription& port) {
        const int vendor = port.vendorIdentifier();
        const int family = m_ingenicoVendorIds.contains(vendor) ? 1 : m_newnoteVendorIds.contains(vendor) ? 2 : 0;
        return family ? shared(new Tpa(port, family, nullptr)) : std::shared_ptr<Tpa>();
    };
    QList<std::shared_ptr<Tpa>> next = reconciled(m_tpaList, tpas, matches, create);
    const bool changed = next != m_tpaList;
    {
        std::lock_guard<std::mutex> lock(m_listMutex);
        m_tpaList.swap(next);
    }
    next.clear();
    if (changed || !m_tpasReceived) {
        qDebug() << "PrintClient: terminals" << names(m_tpaList);
        emit tpasChanged();
    } else if (m_windowShown) {
        refreshStates(m_tpaList);
    }
    m_tpasReceived = true;
    updateStarted();
    if (m_tpaTimer)
        m_tpaTimer->start(30000);
}

void PrintClient::onGetServer(HttpListener* listener)
{
    m_serverReceived = true;
    m_serverSwitch->setListener(listener, m_listenerPort, m_serverActive);
    updateStarted();
}

void PrintClient::onServerSwitched(ServerSwitch::Change change)
{
    switch (change) {
    case ServerSwitch::Change::Opened:
        setMessage(tr("Serviço de impressão ligado"));
        break;
    case ServerSwitch::Change::Closed:
        setMessage(tr("Serviço de impressão desligado"));
        break;
    case ServerSwitch::Change::Failed:
        setMessage(m_serverSwitch->failure());
        break;
    }
}

void PrintClient::setKicked()
{
    SingleInstance::stamp();
}

void PrintClient::checkOpeness()
{
    // The request comes from another process: without re-reading the store it
    // would only be seen when the next liveness stamp syncs it, 4 s later.
    m_settings.sync();
    if (!m_settings.value(QStringLiteral("showWindow"), false).toBool())
        return;
    m_settings.setValue(QStringLiteral("showWindow"), false);
    m_settings.sync();
    emit showWindow();
}

void PrintClient::checkNewVersion()
{
    auto* guard = new QTimer(this);
    guard->setSingleShot(true);
    guard->setInterval(m_versionCheckTimeout);
    m_versionCheckFailed = false;

    // Made at the first check: building one loads Qt's network bearer plugins,
    // which open D-Bus connections and a thread of their own.
    if (!m_network)
        m_network = new QNetworkAccessManager(this);
    m_versionReply = m_network->post(VersionCheck::request(), VersionCheck::body(m_curVersion));
    disconnect(m_versionReply, nullptr, nullptr, nullptr);
    connect(m_versionReply, &QNetworkReply::finished, this, &PrintClient::checkNewVersionCompleted);
    connect(m_versionReply, &QNetworkReply::errorOccurred, this, &PrintClient::checkNewVersionError);
    VersionCheck::limitAnswer(m_versionReply);
    connect(guard, &QTimer::timeout, m_versionReply, &QNetworkReply::abort);
    connect(guard, &QTimer::timeout, guard, &QObject::deleteLater);
    guard->start();
}

void PrintClient::checkNewVersionCompleted()
{
    auto* reply = qobject_cast<QNetworkReply*>(sender());
    if (!reply)
        return;
    if (!m_versionCheckFailed) {
        if (VersionCheck::announcesNewVersion(reply->readAll())) {
            setMessage(QStringLiteral("Existe uma nova versão do Quorva Link. Clique aqui para actualizar."));
            m_hasUpdate = true;
            emit hasUpdateChanged(true);
        } else {
            m_hasUpdate = false;
            emit hasUpdateChanged(false);
        }
    }
    reply->deleteLater();
    if (reply == m_versionReply)
        m_versionReply = nullptr;
    if (m_versionTimer)
        m_versionTimer->start();
}

void PrintClient::checkNewVersionError(QNetworkReply::NetworkError error)
{
    Q_UNUSED(error)
    m_versionCheckFailed = true;
}
