#include "core/PrintClient.h"

#include "app/LanguageChoice.h"
#include "app/SingleInstance.h"

#include <QMutexLocker>
#include <QSettings>
#include <QTimer>

PrintClient::PrintClient(QObject* parent)
    : QObject(parent)
{}

void PrintClient::init()
{
    m_version = QStringLiteral("v4.1.0");
    m_curVersion = QStringLiteral("410");
    m_device = QStringLiteral("desktop");

    m_kickTimer = new QTimer(this);
    m_kickTimer->setInterval(4000);
    connect(m_kickTimer, &QTimer::timeout, this, &PrintClient::setKicked);
    m_kickTimer->start();

    m_showWindowTimer = new QTimer(this);
    m_showWindowTimer->setInterval(200);
    connect(m_showWindowTimer, &QTimer::timeout, this, &PrintClient::checkOpeness);
    m_showWindowTimer->start();

    setKicked();
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

void PrintClient::setKicked()
{
    SingleInstance::stamp();
}

void PrintClient::checkOpeness()
{
    QSettings settings;
    if (!settings.value(QStringLiteral("showWindow"), false).toBool())
        return;
    settings.setValue(QStringLiteral("showWindow"), false);
    settings.sync();
    emit showWindow();
}
