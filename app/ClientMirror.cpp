#include "app/ClientMirror.h"

#include "app/RowMirror.h"
#include "app/WindowLink.h"
#include "core/PrintClient.h"

ClientMirror::ClientMirror(WindowLink* link, QObject* parent)
    : QQmlPropertyMap(this, parent)
    , m_link(link)
{
    connect(link, &WindowLink::received, this,
            [this](const QVariantMap& message) { apply(message.value(QStringLiteral("state")).toMap()); });
    connect(this, &QQmlPropertyMap::valueChanged, this, [this](const QString& key, const QVariant& value) {
        m_link->send({{QStringLiteral("set"), QVariantMap{{key, value}}}});
    });
}

void ClientMirror::apply(const QVariantMap& state)
{
    for (auto it = state.cbegin(); it != state.cend(); ++it) {
        if (it.key() == QLatin1String("printers") || it.key() == QLatin1String("tpas"))
            applyRows(it.key(), it.value().toList());
        else if (value(it.key()) != it.value())
            insert(it.key(), it.value());
    }
}

void ClientMirror::applyRows(const QString& list, const QVariantList& values)
{
    QList<RowMirror*>& rows = m_rows[list];
    bool same = rows.size() == values.size();
    for (int i = 0; same && i < rows.size(); ++i)
        same = rows.at(i)->name() == values.at(i).toMap().value(QStringLiteral("name")).toString();
    if (same) {
        // The same rows: their switches and the documents' bindings stay.
        for (int i = 0; i < rows.size(); ++i)
            rows.at(i)->apply(values.at(i).toMap());
        return;
    }
    const QList<RowMirror*> old = rows;
    rows.clear();
    QVariantList objects;
    for (const QVariant& entry : values) {
        auto* row = new RowMirror(m_link, list, this);
        row->apply(entry.toMap());
        rows.append(row);
        objects.append(QVariant::fromValue<QObject*>(row));
    }
    insert(list, objects);
    // The documents may still hold the old rows until their delegates go.
    for (RowMirror* row : old)
        row->deleteLater();
}

void ClientMirror::clipboard(const QString& text)
{
    // Set by the tray program, the copy outlives this process.
    call(QStringLiteral("clipboard"), {{QStringLiteral("text"), text}});
}

void ClientMirror::updatePrinters()
{
    call(QStringLiteral("updatePrinters"));
}

void ClientMirror::updateTpas()
{
    call(QStringLiteral("updateTpas"));
}

QString ClientMirror::trustCertificate()
{
    return PrintClient::trustCertificateText();
}

void ClientMirror::call(const QString& name, const QVariantMap& arguments)
{
    QVariantMap message = arguments;
    message.insert(QStringLiteral("call"), name);
    m_link->send(message);
}
