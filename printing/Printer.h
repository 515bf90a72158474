#pragma once

#include <QObject>
#include <QSettings>
#include <QString>

#include <atomic>

// One installed printer as the program sees it: its name, whether it is ready,
// and the user's switch that lets the web application print to it. The switch
// is remembered per printer name across restarts.
//
// Lives on the main thread; the web API calls name(), state() and available()
// from connection threads, so those read only data that never changes after
// construction, an atomic, or the platform.
class Printer : public QObject
{
    Q_OBJECT
    Q_PROPERTY(QString name READ name NOTIFY nameChanged)
    Q_PROPERTY(bool state READ state NOTIFY stateChanged)
    Q_PROPERTY(bool available READ available WRITE setAvailable NOTIFY availableChanged)
    Q_PROPERTY(TestPrint testPrint READ testPrint NOTIFY testPrintChanged)

public:
    // Where the window's test print is: none yet, on its way, taken by the spooler, or refused.
    enum TestPrint { TestNone, TestPrinting, TestSent, TestFailed };
    Q_ENUM(TestPrint)

    explicit Printer(const QString& name, QObject* parent = nullptr);

    QString name() const { return m_name; }
    // Ready means idle or printing; stopped, in error or no longer installed is not.
    bool state() const;
    // Tells a shown window to read state() again.
    void refreshState();
    bool available() const { return m_available.load(); }
    // Stores and announces the value on every call, unchanged or not, so every
    // flip of the switch reaches the settings store.
    void setAvailable(bool value);

    TestPrint testPrint() const { return m_testPrint; }
    // Prints the test receipt in the window's language on a worker thread; the
    // outcome arrives as testPrint. Ignored while one is on its way.
    Q_INVOKABLE void printTest(bool compatibilityMode);

    QString settingsId() const { return m_settingsId; }
    // Base64 of the SHA-1 of the name in Latin-1 (other characters count as "?").
    static QString settingsId(const QString& printerName);
    // The settings key of the switch for a printer name.
    static QString settingsKey(const QString& printerName);
    // The stored switch of a printer: only a stored true enables it.
    static bool storedAvailable(const QSettings& settings, const QString& printerName);

signals:
    void nameChanged(QString val);
    void stateChanged(bool val);
    void availableChanged(bool val);
    void testPrintChanged();

public slots:
    void persistAvailability();

private:
    const QString m_name;
    const QString m_settingsId;
    std::atomic<bool> m_available{false};
    TestPrint m_testPrint = TestNone; // main thread only
    QSettings m_settings;
};
