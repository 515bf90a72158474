#pragma once

#include <QObject>
#include <QVariantMap>

class PrintClient;
class WindowLink;

// The tray program's side of the window's process: what the window shows of
// the state object, sent as it changes (only what changed), and what the
// window asks for (its switches, the printer and terminal switches, a test
// print, the clipboard, a refresh), carried out here on the real objects.
class WindowStateSource : public QObject
{
    Q_OBJECT

public:
    // Sends the whole state at once, then follows the state object.
    WindowStateSource(PrintClient* client, WindowLink* link, QObject* parent = nullptr);

private slots:
    // Changes come in bursts (a discovery run touches every row): sent once the burst is over.
    void scheduleSync();
    void scheduleRowSync();
    void sync();

private:
    // Each row's change signals too, once (rows that stay keep their connections).
    template <typename Row>
    void follow(const QList<Row*>& rows);
    void onReceived(const QVariantMap& message);
    // The state as the window sees it: the readable values of the state object
    // with a change signal, and (with rows) the printer and terminal rows ("printers", "tpas").
    QVariantMap snapshot(bool withRows) const;

    static constexpr qint64 maxQueuedBytes = 256 * 1024;

    PrintClient* m_client;
    WindowLink* m_link;
    QVariantMap m_sent;
    bool m_syncPending = false;
    bool m_rowsChanged = false;
};
