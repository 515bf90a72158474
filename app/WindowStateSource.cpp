#include "app/WindowStateSource.h"

#include "app/WindowLink.h"
#include "core/PrintClient.h"

#include <QMetaProperty>
#include <QTimer>

namespace {

// What the rows show, and the one value the window sets on them.
const QStringList rowProperties{QStringLiteral("name"), QStringLiteral("state"), QStringLiteral("available"),
                                QStringLiteral("testPrint")};
const QString rowAvailable = QStringLiteral("available");
// The switches the window sets; anything else it might send is ignored.
const QStringList writable{QStringLiteral("licenseAccepted"), QStringLiteral("serverActive"),
                           QStringLiteral("compatibilityMode")};

bool plainValue(const QMetaProperty& property)
{
    const int type = property.userType();
    return type == QMetaType::Bool || type == QMetaType::Int || type == QMetaType::QString ||
           type == QMetaType::QStringList;
}

template <typename Row>
QVariantList rowValues(const QList<Row*>& rows)
{
    QVariantList values;
    for (const Row* row : rows) {
        QVariantMap value;
        for (const QString& name : rowProperties) {
            const QVariant property = row->property(qPrintable(name));
            // The window's documents compare the test print's state with the enum's values: plain numbers.
            if (QMetaType::typeFlags(property.userType()) & QMetaType::IsEnumeration)
                value.insert(name, property.toInt());
            else if (property.isValid())
                value.insert(name, property);
        }
        values.append(value);
    }
    return values;
}

template <typename Row>
Row* rowNamed(const QList<Row*>& rows, const QString& name)
{
    for (Row* row : rows) {
        if (row->name() == name)
            return row;
    }
    return nullptr;
}

} // namespace

WindowStateSource::WindowStateSource(PrintClient* client, WindowLink* link, QObject* parent)
    : QObject(parent)
    , m_client(client)
    , m_link(link)
{
    const QMetaObject* meta = client->metaObject();
    const QMetaMethod scheduler = metaObject()->method(metaObject()->indexOfSlot("scheduleSync()"));
    for (int i = meta->propertyOffset(); i < meta->propertyCount(); ++i) {
        const QMetaProperty property = meta->property(i);
        if (property.hasNotifySignal())
            connect(client, property.notifySignal(), this, scheduler);
    }
    connect(client, &PrintClient::printersChanged, this, [this] { follow(m_client->uiPrinterList()); });
    connect(client, &PrintClient::tpasChanged, this, [this] { follow(m_client->uiTpaList()); });
    follow(client->uiPrinterList());
    follow(client->uiTpaList());
    connect(link, &WindowLink::received, this, &WindowStateSource::onReceived);
    m_sent = snapshot(true);
    m_rowsChanged = false;
    link->send({{QStringLiteral("state"), m_sent}});
}

QVariantMap WindowStateSource::snapshot(bool withRows) const
{
    QVariantMap state;
    const QMetaObject* meta = m_client->metaObject();
    for (int i = meta->propertyOffset(); i < meta->propertyCount(); ++i) {
        const QMetaProperty property = meta->property(i);
        if (property.hasNotifySignal() && plainValue(property))
            state.insert(QString::fromLatin1(property.name()), property.read(m_client));
    }
    // A printer's state is a question to the print system: asked only when a row or a list changed.
    if (withRows) {
        state.insert(QStringLiteral("printers"), rowValues(m_client->uiPrinterList()));
        state.insert(QStringLiteral("tpas"), rowValues(m_client->uiTpaList()));
    }
    return state;
}

template <typename Row>
void WindowStateSource::follow(const QList<Row*>& rows)
{
    const QMetaMethod scheduler = metaObject()->method(metaObject()->indexOfSlot("scheduleRowSync()"));
    for (Row* row : rows) {
        const QMetaObject* meta = row->metaObject();
        for (const QString& name : rowProperties) {
            const int index = meta->indexOfProperty(qPrintable(name));
            if (index >= 0 && meta->property(index).hasNotifySignal())
                connect(row, meta->property(index).notifySignal(), this, scheduler, Qt::UniqueConnection);
        }
    }
    scheduleRowSync();
}

void WindowStateSource::scheduleRowSync()
{
    m_rowsChanged = true;
    scheduleSync();
}

void WindowStateSource::scheduleSync()
{
    if (m_syncPending)
        return;
    m_syncPending = true;
    QTimer::singleShot(0, this, &WindowStateSource::sync);
}

void WindowStateSource::sync()
{
    m_syncPending = false;
    // A window that stopped reading (hung, or busy in the trust step) gets the changes later, in one message,
    // instead of a queue of them growing here.
    if (m_link->bytesToWrite() > maxQueuedBytes) {
        m_syncPending = true;
        QTimer::singleShot(200, this, &WindowStateSource::sync);
        return;
    }
    const QVariantMap now = snapshot(m_rowsChanged);
    m_rowsChanged = false;
    QVariantMap changed;
    for (auto it = now.cbegin(); it != now.cend(); ++it) {
        if (m_sent.value(it.key()) != it.value())
            changed.insert(it.key(), it.value());
        m_sent.insert(it.key(), it.value());
    }
    if (!changed.isEmpty())
        m_link->send({{QStringLiteral("state"), changed}});
}

void WindowStateSource::onReceived(const QVariantMap& message)
{
    const QVariantMap set = message.value(QStringLiteral("set")).toMap();
    for (auto it = set.cbegin(); it != set.cend(); ++it) {
        if (writable.contains(it.key()))
            m_client->setProperty(qPrintable(it.key()), it.value());
        // Refused or unchanged, the window still shows the real value.
        m_sent.remove(it.key());
    }
    const QString call = message.value(QStringLiteral("call")).toString();
    if (call == QLatin1String("clipboard"))
        m_client->clipboard(message.value(QStringLiteral("text")).toString());
    else if (call == QLatin1String("updatePrinters"))
        m_client->updatePrinters();
    else if (call == QLatin1String("updateTpas"))
        m_client->updateTpas();

    const QVariantMap row = message.value(QStringLiteral("row")).toMap();
    if (!row.isEmpty()) {
        const QString list = row.value(QStringLiteral("list")).toString();
        const QString name = row.value(QStringLiteral("name")).toString();
        if (list == QLatin1String("printers")) {
            Printer* printer = rowNamed(m_client->uiPrinterList(), name);
            if (printer && row.contains(rowAvailable))
                printer->setAvailable(row.value(rowAvailable).toBool());
            if (printer && row.contains(QStringLiteral("printTest")))
                printer->printTest(row.value(QStringLiteral("printTest")).toBool());
        } else if (list == QLatin1String("tpas")) {
            if (Tpa* tpa = rowNamed(m_client->uiTpaList(), name); tpa && row.contains(rowAvailable))
                tpa->setAvailable(row.value(rowAvailable).toBool());
        }
        m_sent.remove(list);
        m_rowsChanged = true;
    }
    if (message.contains(QStringLiteral("shown")))
        m_client->setWindowShown(message.value(QStringLiteral("shown")).toBool());
    if (!m_syncPending && (!set.isEmpty() || !row.isEmpty()))
        scheduleSync();
}
