#include "app/RowMirror.h"

#include "app/WindowLink.h"

RowMirror::RowMirror(WindowLink* link, const QString& list, QObject* parent)
    : QQmlPropertyMap(this, parent)
    , m_link(link)
    , m_list(list)
{
    connect(this, &QQmlPropertyMap::valueChanged, this, &RowMirror::send);
}

void RowMirror::apply(const QVariantMap& values)
{
    for (auto it = values.cbegin(); it != values.cend(); ++it) {
        if (value(it.key()) != it.value())
            insert(it.key(), it.value());
    }
}

void RowMirror::printTest(bool compatibilityMode)
{
    send(QStringLiteral("printTest"), compatibilityMode);
}

void RowMirror::send(const QString& key, const QVariant& value)
{
    m_link->send({{QStringLiteral("row"),
                   QVariantMap{{QStringLiteral("list"), m_list}, {QStringLiteral("name"), name()}, {key, value}}}});
}
