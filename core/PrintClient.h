#pragma once

#include "api/PrintClientRequestHandler.h"
#include "core/Notification.h"
#include "core/ServerSwitch.h"
#include "http/HttpListener.h"
#include "printing/Printer.h"
#include "terminals/SerialPortDescription.h"
#include "terminals/Tpa.h"

#include <QHostAddress>
#include <QList>
#include <QNetworkReply>
#include <QObject>
#include <QQmlListProperty>
#include <QSettings>
#include <QStringList>

#include <atomic>
#include <memory>
#include <mutex>

class PrintClientThreaded;
class QNetworkAccessManager;
class QTimer;

// The one application state object, shared by the user interface and the web API.
//
// Lists read by the web API on connection threads (printerList, tpaList,
// notifications) are handed out as copies of shared pointers taken under
// m_listMutex: an entry removed by the main thread stays alive until the last
// request holding it lets go, and is then deleted on the main thread.
class PrintClient : public QObject
{
    Q_OBJECT
    Q_PROPERTY(bool started MEMBER m_started NOTIFY startedChanged)
    Q_PROPERTY(bool hasUpdate MEMBER m_hasUpdate NOTIFY hasUpdateChanged)
    Q_PROPERTY(bool licenseAccepted READ licenseAccepted WRITE setLicenseAccepted NOTIFY licenseAcceptedChanged)
    Q_PROPERTY(bool serverActive READ serverActive WRITE setServerActive NOTIFY serverActiveChanged)
    // What the switch achieved: listening, or why not (port and cause).
    Q_PROPERTY(bool serverListening READ serverListening NOTIFY serverStateChanged)
    Q_PROPERTY(QString serverError READ serverError NOTIFY serverStateChanged)
    Q_PROPERTY(QString securityKey READ securityKey WRITE setSecurityKey NOTIFY securityKeyChanged)
    Q_PROPERTY(QStringList ipAddresses READ ipAddresses NOTIFY ipAddressesChanged)
    Q_PROPERTY(QQmlListProperty<Printer> printers READ printers NOTIFY printersChanged)
    Q_PROPERTY(QQmlListProperty<Tpa> tpas READ tpas NOTIFY tpasChanged)
    Q_PROPERTY(QList<Printer*> printerList READ uiPrinterList)
    Q_PROPERTY(QList<Tpa*> TpaList READ uiTpaList)
    Q_PROPERTY(QString message READ message WRITE setMessage NOTIFY messageChanged)
    Q_PROPERTY(bool firstStartup READ firstStartup NOTIFY firstStartupChanged)
    Q_PROPERTY(bool isDebugMode READ isDebugMode WRITE setIsDebugMode NOTIFY isDebugModeChanged)
    Q_PROPERTY(QStringList debugMessages READ debugMessages WRITE setDebugMessages NOTIFY debugMessagesChanged)
    Q_PROPERTY(QString version READ version NOTIFY versionChanged)
    Q_PROPERTY(QString newVersion READ newVersion NOTIFY newVersionChanged)
    Q_PROPERTY(QString curVersion READ curVersion NOTIFY curVersionChanged)
    Q_PROPERTY(QString device READ device NOTIFY deviceChanged)
    Q_PROPERTY(QString language READ language NOTIFY languageChanged)
    Q_PROPERTY(bool compatibilityMode READ compatibilityMode WRITE setCompatibilityMode NOTIFY compatibilityModeChanged)
    Q_PROPERTY(
        QList<Notification*> notifications READ uiNotifications WRITE setNotifications NOTIFY notificationsChanged)
    Q_PROPERTY(bool fetching MEMBER m_fetching NOTIFY fetchingChanged)

public:
    static constexpr int maxNotifications = 20;
    static constexpr int notificationLifetimeSeconds = 1200;

    explicit PrintClient(QObject* parent = nullptr);
    // A fresh key for a first start.
    static QString newSecurityKey();
    ~PrintClient() override;

    // Version texts, timers, settings, discovery and server, first liveness
    // stamp and first version check. Called once, right after construction.
    void init();
    // Before init: whether to ask the maker's service for new versions (only a
    // window or a tray can tell the user about one).
    void setChecksVersions(bool on) { m_checksVersions = on; }

    // How long a version check may take before it is aborted (10 s).
    void setVersionCheckTimeout(int ms) { m_versionCheckTimeout = ms; }
    // The port of the HTTPS server (5080, or QUORVA_LINK_PORT); set before the server is built.
    void setListenerPort(quint16 port) { m_listenerPort = port; }

    bool started() const { return m_started; }
    bool hasUpdate() const { return m_hasUpdate; }
    bool licenseAccepted() const { return m_licenseAccepted; }
    bool serverActive() const { return m_serverActive; }
    // Safe on any thread.
    QString securityKey() const;
    QStringList ipAddresses() const { return m_ipAddresses; }
    QQmlListProperty<Printer> printers();
    QQmlListProperty<Tpa> tpas();
    // The server once built, else null.
    HttpListener* listener() const { return m_serverSwitch->listener(); }
    ServerSwitch* serverSwitch() const { return m_serverSwitch; }
    bool serverListening() const { return m_serverSwitch->isListening(); }
    QString serverError() const { return m_serverSwitch->failure(); }
    QString message() const { return m_message; }
    bool firstStartup() const { return m_firstStartup; }
    bool isDebugMode() const { return m_isDebugMode; }
    // Safe on any thread.
    QStringList debugMessages() const;
    QString version() const { return m_version; }
    QString newVersion() const { return m_newVersion; }
    QString curVersion() const { return m_curVersion; }
    QString device() const { return m_device; }
    QString language() const;
    // Safe on any thread.
    bool compatibilityMode() const { return m_compatibilityMode; }
    bool fetching() const { return m_fetching; }

    // Safe on any thread: snapshots whose entries stay alive while held.
    QList<std::shared_ptr<Printer>> printerList() const;
    QList<std::shared_ptr<Tpa>> tpaList() const;
    QList<std::shared_ptr<Notification>> notifications() const;
    // Main thread only: the entries are valid until control returns to the event loop.
    QList<Printer*> uiPrinterList() const;
    QList<Tpa*> uiTpaList() const;
    QList<Notification*> uiNotifications() const;

    void setLicenseAccepted(bool accepted);
    void setServerActive(bool online);
    void setSecurityKey(const QString& key);
    void setMessage(const QString& text);
    void setIsDebugMode(bool on);
    // Called from any thread by the log capture.
    void setDebugMessages(const QStringList& lines);
    void setCompatibilityMode(bool on);
    void setNotifications(const QList<Notification*>& records);
    // While the window shows, discovery has the rows' states read again; shown, at once.
    void setWindowShown(bool shown);

    // The trust step's text for the About card; needs nothing of a running program.
    static QString trustCertificateText();

    // Any thread: takes ownership of the record and keeps the newest 20.
    void addNotification(Notification* record);

signals:
    void startedChanged(bool val);
    void licenseAcceptedChanged(bool val);
    void serverActiveChanged(bool val);
    void securityKeyChanged(QString val);
    void ipAddressesChanged(QStringList val);
    void printersChanged();
    void tpasChanged();
    void messageChanged(QString val);
    void firstStartupChanged(bool val);
    void isDebugModeChanged(bool val);
    void debugMessagesChanged(QStringList val);
    void notificationsChanged();
    void versionChanged();
    void newVersionChanged();
    void curVersionChanged();
    void deviceChanged();
    void showWindow();
    void hasUpdateChanged(bool val);
    void languageChanged(QString val);
    void compatibilityModeChanged(bool val);
    void requestIPAddresses();
    void requestPrinters();
    void requestTpas();
    void requestServer(bool online, PrintClientRequestHandler* requestHandler);
    void fetchingChanged();
    void serverStateChanged();

public slots:
    void clipboard(QString val);
    // The About overlay's trust step: the text to show, where it was done and what failed.
    QString trustCertificate();
    void updatePrinters();
    void updateTpas();

private slots:
    void onGetIPAddresses(QList<QHostAddress> addresses);
    void onGetPrinters(QStringList printers);
    void onGetTpas(QList<SerialPortDescription> tpas);
    void onGetServer(HttpListener* listener);
    void onServerSwitched(ServerSwitch::Change change);
    void setKicked();
    void checkOpeness();
    void checkNewVersion();
    void checkNewVersionCompleted();
    void checkNewVersionError(QNetworkReply::NetworkError error);
    void checkNotificationDelete();

private:
    void loadSettings();
    void updateStarted();
    std::shared_ptr<Notification> adopt(Notification* record);

    const QList<int> m_ingenicoVendorIds{0x079B, 0x0B00};
    const QList<int> m_newnoteVendorIds{0x0403, 0x1E0E};
    QSettings m_settings;
    PrintClientThreaded* m_worker = nullptr;
    ServerSwitch* m_serverSwitch;
    quint16 m_listenerPort = 5080;

    QTimer* m_printerTimer = nullptr;
    QTimer* m_tpaTimer = nullptr;
    QTimer* m_versionTimer = nullptr;
    QTimer* m_notificationTimer = nullptr;
    QTimer* m_kickTimer = nullptr;
    QTimer* m_showWindowTimer = nullptr;

    bool m_ipAddressesReceived = false;
    bool m_printersReceived = false;
    bool m_tpasReceived = false;
    bool m_windowShown = false;
    bool m_serverReceived = false;
    bool m_started = false;
    bool m_licenseAccepted = false;
    bool m_serverActive = false;
    QString m_securityKey;
    std::atomic<bool> m_compatibilityMode{false};
    QStringList m_ipAddresses;
    QString m_message;
    bool m_firstStartup = true;
    bool m_hasUpdate = false;
    bool m_checksVersions = true;
    bool m_fetching = false;
    bool m_isDebugMode = false;
    QStringList m_debugMessages;
    QString m_version;
    QString m_newVersion;
    QString m_curVersion;
    QString m_device;

    // Guards the lists and the key that connection threads read; a standard
    // mutex, so that the thread sanitizer sees it. Only the main thread
    // changes printerList and TpaList; any thread adds notifications.
    mutable std::mutex m_listMutex;
    QList<std::shared_ptr<Printer>> m_printerList;
    QList<std::shared_ptr<Tpa>> m_tpaList;
    QList<std::shared_ptr<Notification>> m_notifications;
    mutable std::mutex m_debugMessagesMutex;

    QNetworkAccessManager* m_network = nullptr;
    QNetworkReply* m_versionReply = nullptr;
    bool m_versionCheckFailed = false;
    int m_versionCheckTimeout = 10000;
};
