#pragma once

#include <QObject>
#include <QPoint>
#include <QPointer>
#include <QQuickWindow>
#include <QTimer>
#include <QVariantMap>

#include <memory>

class QQmlApplicationEngine;

// The main window's declarative documents, loaded only while they are needed:
// on the first show, and again after they were released because the window
// stayed hidden for a while. A till keeps the window closed nearly all day, and
// the engine with its documents (and the graphics stack it draws with) is most
// of the program's memory. What the window showed (its page, the About overlay,
// its place on the screen) comes back with it.
//
// The documents see the state object as "printClient": the program's own in
// the tests, a mirror of it in the window's process (WindowProgram).
class WindowHost : public QObject
{
    Q_OBJECT

public:
    // Hidden this long, the documents go (QUORVA_LINK_WINDOW_RELEASE_MS overrides it).
    static constexpr int defaultReleaseDelayMs = 120000;

    explicit WindowHost(QObject* client, QObject* parent = nullptr);
    ~WindowHost() override;

    void setReleaseDelay(int ms) { m_releaseTimer.setInterval(ms); }
    int releaseDelay() const { return m_releaseTimer.interval(); }
    // Null while the documents are not loaded.
    QQmlApplicationEngine* engine() const { return m_engine.get(); }
    QQuickWindow* window() const { return m_window; }
    // What the window showed when it was last released, for a later host to show again.
    QVariantMap place() const;
    void setPlace(const QVariantMap& place);

public slots:
    // Loads the documents if needed, then shows, raises and activates the window.
    void show();
    // Loads the documents with the window hidden, so that a show soon after is at once;
    // unshown, they go the usual delay after the last prepare.
    void prepare();
    // Drops the documents of a hidden window.
    void release();

signals:
    void loaded();
    void released();
    // The window shown or hidden (the state object reads its rows' states again only while shown).
    void shownChanged(bool shown);

private:
    bool load();
    void restore();

    QObject* m_client;
    std::unique_ptr<QQmlApplicationEngine> m_engine;
    QPointer<QQuickWindow> m_window;
    QTimer m_releaseTimer;
    const QString m_releaseDate;

    // Whether the window was shown since the documents were loaded: one never shown keeps the place it was given.
    bool m_shownSinceLoad = false;
    // What the window showed when it was released.
    bool m_wasLoaded = false;
    QString m_page;
    bool m_pagePicked = false;
    bool m_aboutOpen = false;
    QPoint m_position;
};
