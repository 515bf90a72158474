#include "app/SingleInstance.h"

#include <QDateTime>
#include <QSettings>

qint64 SingleInstance::localNowSeconds()
{
    const QDateTime now = QDateTime::currentDateTime();
    return now.toMSecsSinceEpoch() / 1000 + now.offsetFromUtc();
}

bool SingleInstance::isStampAlive(qint64 nowSeconds, qint64 stampSeconds)
{
    // The running copy stamps every 4 s, so a start in the same second as its
    // stamp sees an age of 0; a stamp ahead of now means the clock was set back.
    const qint64 age = nowSeconds - stampSeconds;
    return age >= -staleAfterSeconds && age <= staleAfterSeconds;
}

bool SingleInstance::anotherInstanceIsAlive(bool askForWindow)
{
    QSettings settings;
    const qint64 kicked = settings.value(QStringLiteral("kicked"), 0).toString().toLongLong();
    if (!isStampAlive(localNowSeconds(), kicked))
        return false;
    if (askForWindow) {
        settings.setValue(QStringLiteral("showWindow"), true);
        settings.sync();
    }
    return true;
}

void SingleInstance::stamp()
{
    QSettings settings;
    settings.setValue(QStringLiteral("kicked"), QString::number(localNowSeconds()));
    settings.sync();
}

void SingleInstance::claim(bool headless)
{
    QSettings settings;
    settings.setValue(QStringLiteral("headless"), headless);
    settings.setValue(QStringLiteral("showWindow"), false);
    settings.sync();
}

void SingleInstance::release()
{
    QSettings settings;
    settings.setValue(QStringLiteral("kicked"), QStringLiteral("0"));
    settings.sync();
}

bool SingleInstance::runningHeadless()
{
    return QSettings().value(QStringLiteral("headless"), false).toBool();
}
