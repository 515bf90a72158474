#pragma once

#include <QQmlPropertyMap>

class WindowLink;

// One printer or terminal row of the window's process: its values as the
// tray program sends them; the switch and the test print go back to it.
class RowMirror : public QQmlPropertyMap
{
    Q_OBJECT

public:
    RowMirror(WindowLink* link, const QString& list, QObject* parent = nullptr);

    QString name() const { return value(QStringLiteral("name")).toString(); }
    void apply(const QVariantMap& values);

    Q_INVOKABLE void printTest(bool compatibilityMode);

private:
    void send(const QString& key, const QVariant& value);

    WindowLink* m_link;
    const QString m_list;
};
