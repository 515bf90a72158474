#pragma once

#include <QDateTime>
#include <QJsonObject>
#include <QObject>
#include <QString>

// One notification about a payment-terminal request, posted by one client of
// the web API and fetched by the others.
class Notification : public QObject
{
    Q_OBJECT
    Q_PROPERTY(int requestId READ requestId WRITE setRequestId NOTIFY requestIdChanged)
    Q_PROPERTY(int terminalId READ terminalId WRITE setTerminalId NOTIFY terminalIdChanged)
    Q_PROPERTY(int statusId READ statusId WRITE setStatusId NOTIFY statusIdChanged)
    Q_PROPERTY(QString title READ title WRITE setTitle NOTIFY titleChanged)
    Q_PROPERTY(QString subtitle READ subtitle WRITE setSubtitle NOTIFY subtitleChanged)
    Q_PROPERTY(QString lastModifiedBy READ lastModifiedBy WRITE setLastModifiedBy NOTIFY lastModifiedByChanged)
    Q_PROPERTY(QDateTime dateTime READ dateTime WRITE setDateTime NOTIFY dateTimeChanged)

public:
    static const QString dateFormat;

    explicit Notification(QObject* parent = nullptr);
    ~Notification() override;

    // Null when "title" or "subtitle" is missing, not a string or empty.
    static Notification* fromJson(const QJsonObject& json);
    QJsonObject toJson() const;

    // Whole seconds between the record's date and nowMsecs; an invalid date
    // counts from the epoch, so such a record is always old.
    qint64 ageSeconds(qint64 nowMsecs) const;

    int requestId() const { return m_requestId; }
    int terminalId() const { return m_terminalId; }
    int statusId() const { return m_statusId; }
    QString title() const { return m_title; }
    QString subtitle() const { return m_subtitle; }
    QString lastModifiedBy() const { return m_lastModifiedBy; }
    QDateTime dateTime() const { return m_dateTime; }

    void setRequestId(int val);
    void setTerminalId(int val);
    void setStatusId(int val);
    void setTitle(const QString& val);
    void setSubtitle(const QString& val);
    void setLastModifiedBy(const QString& val);
    void setDateTime(const QDateTime& val);

signals:
    void requestIdChanged(int val);
    void terminalIdChanged(int val);
    void statusIdChanged(int val);
    void titleChanged(QString val);
    void subtitleChanged(QString val);
    void lastModifiedByChanged(QString val);
    void dateTimeChanged(QDateTime val);

private:
    int m_requestId = 0;
    int m_terminalId = 0;
    int m_statusId = 0;
    QString m_title;
    QString m_subtitle;
    QString m_lastModifiedBy;
    QDateTime m_dateTime;
    // Set once the state object owns the record; it never owns it twice.
    bool m_adopted = false;
    friend class PrintClient;
};
