#pragma once

#include <QList>
#include <QQmlPropertyMap>

class RowMirror;
class WindowLink;

// The state object as the window's process sees it: the values the tray
// program sends, under the names the documents bind to ("printClient"), and
// what the documents set or call sent back to be carried out there. The
// printers and terminals are lists of RowMirror.
class ClientMirror : public QQmlPropertyMap
{
    Q_OBJECT

public:
    explicit ClientMirror(WindowLink* link, QObject* parent = nullptr);

    // Values sent by the tray program; rows named as before keep their objects.
    void apply(const QVariantMap& state);

    Q_INVOKABLE void clipboard(const QString& text);
    Q_INVOKABLE void updatePrinters();
    Q_INVOKABLE void updateTpas();
    // The trust step needs nothing of the running program: done here, where the card waits for its text.
    Q_INVOKABLE QString trustCertificate();

private:
    void applyRows(const QString& list, const QVariantList& values);
    void call(const QString& name, const QVariantMap& arguments = {});

    WindowLink* m_link;
    QMap<QString, QList<RowMirror*>> m_rows;
};
