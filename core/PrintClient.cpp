#include "core/PrintClient.h"

#include "app/LanguageChoice.h"
#include "app/SingleInstance.h"
#include "core/VersionCheck.h"

#include <QClipboard>
#include <QDateTime>
#include <QGuiApplication>
#include <QMutexLocker>
#include <QNetworkAccessManager>
#include <QQmlEngine>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QSslSocket>
#include <QThread>
#include <QTimer>

namespace {

const QString keySuffix = QStringLiteral("v4.0");

// Entries leave the lists on any thread but are always deleted on the thread
// they belong to (the main thread), once nobody holds them.
void deleteLaterDeleter(QObject* object)
{
    object->deleteLater();
}

// 8 characters from [A-Za-z0-9] drawn from the system's cryptographic source:
// about 48 bits, out of reach of a web page or a LAN peer guessing keys.
QString newSecurityKey()
{
    static const QString alphabet = QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789");
    QString key;
    for (int i = 0; i < 8; ++i)
        key.append(alphabet.at(static_cast<int>(QRandomGenerator::system()->bounded(alphabet.size()))));
    return key + keySuffix;
}

} // namespace

PrintClient::PrintClient(QObject* parent)
    : QObject(parent)
    , m_network(new QNetworkAccessManager(this))
{}

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
    QMutexLocker lock(&m_listMutex);
    return m_securityKey;
}

QStringList PrintClient::debugMessages() const
{
    QMutexLocker lock(&m_debugMessagesMutex);
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
}

void PrintClient::setServerActive(bool online)
{
    m_serverActive = online;
    m_settings.setValue(QStringLiteral("serverActive"), online);
    m_settings.sync();
    qDebug().noquote() << QStringLiteral("SSL Version: %1").arg(QSslSocket::sslLibraryVersionString());
    emit serverActiveChanged(online);
}

void PrintClient::setSecurityKey(const QString& key)
{
    {
        QMutexLocker lock(&m_listMutex);
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
        QMutexLocker lock(&m_debugMessagesMutex);
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

std::shared_ptr<Notification> PrintClient::adopt(Notification* record)
{
    // Records are usually born on a connection thread; hand them to ours so
    // their deferred deletion runs on a thread that keeps its event loop.
    if (record->thread() != thread() && record->thread() == QThread::currentThread())
        record->moveToThread(thread());
    QQmlEngine::setObjectOwnership(record, QQmlEngine::CppOwnership);
    return std::shared_ptr<Notification>(record, &deleteLaterDeleter);
}

QList<std::shared_ptr<Notification>> PrintClient::notifications() const
{
    QMutexLocker lock(&m_listMutex);
    return m_notifications;
}

QList<Notification*> PrintClient::uiNotifications() const
{
    QMutexLocker lock(&m_listMutex);
    QList<Notification*> records;
    for (const auto& record : m_notifications)
        records.append(record.get());
    return records;
}

void PrintClient::setNotifications(const QList<Notification*>& records)
{
    {
        QMutexLocker lock(&m_listMutex);
        QList<std::shared_ptr<Notification>> next;
        for (Notification* record : records) {
            if (!record)
                continue;
            auto known = std::find_if(m_notifications.cbegin(), m_notifications.cend(),
                                      [record](const auto& held) { return held.get() == record; });
            next.append(known != m_notifications.cend() ? *known : adopt(record));
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
        QMutexLocker lock(&m_listMutex);
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
        QMutexLocker lock(&m_listMutex);
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

void PrintClient::setKicked()
{
    SingleInstance::stamp();
}

void PrintClient::checkOpeness()
{
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

    m_versionReply = m_network->post(VersionCheck::request(), VersionCheck::body(m_curVersion));
    disconnect(m_versionReply, nullptr, nullptr, nullptr);
    connect(m_versionReply, &QNetworkReply::finished, this, &PrintClient::checkNewVersionCompleted);
    connect(m_versionReply, &QNetworkReply::errorOccurred, this, &PrintClient::checkNewVersionError);
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
