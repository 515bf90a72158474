#pragma once

#include <QMutex>
#include <QObject>
#include <QStringList>

class QTimer;

// The one application state object, shared by the user interface and the web API.
class PrintClient : public QObject
{
    Q_OBJECT
    Q_PROPERTY(bool isDebugMode READ isDebugMode WRITE setIsDebugMode NOTIFY isDebugModeChanged)
    Q_PROPERTY(QStringList debugMessages READ debugMessages WRITE setDebugMessages NOTIFY debugMessagesChanged)
    Q_PROPERTY(QString version READ version NOTIFY versionChanged)
    Q_PROPERTY(QString newVersion READ newVersion NOTIFY newVersionChanged)
    Q_PROPERTY(QString curVersion READ curVersion NOTIFY curVersionChanged)
    Q_PROPERTY(QString device READ device NOTIFY deviceChanged)
    Q_PROPERTY(QString language READ language NOTIFY languageChanged)

public:
    explicit PrintClient(QObject* parent = nullptr);

    // Starts the timers of the single-instance scheme and stamps liveness once.
    void init();

    bool isDebugMode() const { return m_isDebugMode; }
    QStringList debugMessages() const;
    QString version() const { return m_version; }
    QString newVersion() const { return m_newVersion; }
    QString curVersion() const { return m_curVersion; }
    QString device() const { return m_device; }
    QString language() const;

public slots:
    void setIsDebugMode(bool on);
    // Called from any thread by the log capture.
    void setDebugMessages(const QStringList& lines);

signals:
    void isDebugModeChanged(bool val);
    void debugMessagesChanged(QStringList val);
    void versionChanged();
    void newVersionChanged();
    void curVersionChanged();
    void deviceChanged();
    void showWindow();
    void languageChanged(QString val);

private slots:
    void setKicked();
    void checkOpeness();

private:
    QTimer* m_kickTimer = nullptr;
    QTimer* m_showWindowTimer = nullptr;
    bool m_isDebugMode = false;
    mutable QMutex m_debugMessagesMutex;
    QStringList m_debugMessages;
    QString m_version;
    QString m_newVersion;
    QString m_curVersion;
    QString m_device;
};
