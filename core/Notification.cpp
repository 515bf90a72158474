#include "core/Notification.h"

#include "core/SharedLists.h"

#include <QJsonValue>

const QString Notification::dateFormat = QStringLiteral("yyyy-MM-dd'T'HH:mm:ss");

Notification::Notification(QObject* parent)
    : QObject(parent)
    , m_dateTime(QDateTime::currentDateTime())
{}

Notification::~Notification()
{
    // Records are mostly made on connection threads and deleted on the main one.
    SharedLists::takeHandOver();
}

Notification* Notification::fromJson(const QJsonObject& json)
{
    const QString title = json.value(QStringLiteral("title")).toString();
    const QString subtitle = json.value(QStringLiteral("subtitle")).toString();
    if (title.isEmpty() || subtitle.isEmpty())
        return nullptr;

    auto* record = new Notification();
    // Strings of digits and fractions give 0: only integral JSON numbers count.
    record->setRequestId(json.value(QStringLiteral("request_id")).toInt());
    record->setTerminalId(json.value(QStringLiteral("terminal_id")).toInt());
    record->setStatusId(json.value(QStringLiteral("status_id")).toInt());
    record->setTitle(title);
    record->setSubtitle(subtitle);
    record->setLastModifiedBy(json.value(QStringLiteral("lastModifiedBy")).toString());

    const QString date = json.value(QStringLiteral("date")).toString();
    if (date.isEmpty())
        record->setDateTime(QDateTime::currentDateTime());
    else
        record->setDateTime(QDateTime::fromString(date, dateFormat));
    return record;
}

QJsonObject Notification::toJson() const
{
    QJsonObject json;
    json.insert(QStringLiteral("request_id"), m_requestId);
    json.insert(QStringLiteral("terminal_id"), m_terminalId);
    json.insert(QStringLiteral("status_id"), m_statusId);
    json.insert(QStringLiteral("title"), m_title);
    json.insert(QStringLiteral("subtitle"), m_subtitle);
    json.insert(QStringLiteral("lastModifiedBy"), m_lastModifiedBy);
    json.insert(QStringLiteral("date"), m_dateTime.toString(dateFormat));
    return json;
}

qint64 Notification::ageSeconds(qint64 nowMsecs) const
{
    const qint64 dated = m_dateTime.isValid() ? m_dateTime.toMSecsSinceEpoch() : 0;
    return nowMsecs / 1000 - dated / 1000;
}

void Notification::setRequestId(int val)
{
    m_requestId = val;
    emit requestIdChanged(val);
}

void Notification::setTerminalId(int val)
{
    m_terminalId = val;
    emit terminalIdChanged(val);
}

void Notification::setStatusId(int val)
{
    m_statusId = val;
    emit statusIdChanged(val);
}

void Notification::setTitle(const QString& val)
{
    m_title = val;
    emit titleChanged(val);
}

void Notification::setSubtitle(const QString& val)
{
    m_subtitle = val;
    emit subtitleChanged(val);
}

void Notification::setLastModifiedBy(const QString& val)
{
    m_lastModifiedBy = val;
    emit lastModifiedByChanged(val);
}

void Notification::setDateTime(const QDateTime& val)
{
    m_dateTime = val;
    emit dateTimeChanged(val);
}
