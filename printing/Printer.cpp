#include "printing/Printer.h"

#include "printing/PrintJob.h"
#include "printing/Spooler.h"
#include "printing/TestReceipt.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QPointer>
#include <QThreadPool>
#include <QVariant>

namespace {

// Only a stored true enables a printer; a missing or garbled value counts as off.
bool storedSwitch(const QVariant& value)
{
    if (value.type() == QVariant::Bool)
        return value.toBool();
    const QString text = value.toString().trimmed();
    return text.compare(QLatin1String("true"), Qt::CaseInsensitive) == 0 || text == QLatin1String("1");
}

} // namespace

Printer::Printer(const QString& name, QObject* parent)
    : QObject(parent)
    , m_name(name)
    , m_settingsId(settingsId(m_name))
{
    m_available = storedAvailable(m_settings, m_name);
    connect(this, &Printer::availableChanged, this, &Printer::persistAvailability);
}

bool Printer::state() const
{
    // Asked afresh each time: a copied description keeps the state it was built with.
    return Spooler::printerReady(m_name);
}

void Printer::refreshState()
{
    emit stateChanged(state());
}

void Printer::setAvailable(bool value)
{
    m_available = value;
    emit availableChanged(value);
}

void Printer::printTest(bool compatibilityMode)
{
    if (m_testPrint == TestPrinting)
        return;
    m_testPrint = TestPrinting;
    emit testPrintChanged();
    // Built here, where the window's translation is at hand; spooled on a pool
    // thread so that a slow scheduler never freezes the window.
    const QJsonArray job = TestReceipt::job(m_name, QDateTime::currentDateTime());
    const QString name = m_name;
    const QPointer<Printer> self(this);
    QThreadPool::globalInstance()->start([job, name, compatibilityMode, self] {
        PrintJob printJob(job, name, compatibilityMode);
        const bool printed = printJob.print();
        // Queued to the application object, which outlives the printer: the
        // pointer is looked at on the main thread only.
        QCoreApplication* application = QCoreApplication::instance();
        if (!application)
            return; // the program is ending
        QMetaObject::invokeMethod(application, [self, printed] {
            if (!self)
                return;
            self->m_testPrint = printed ? TestSent : TestFailed;
            emit self->testPrintChanged();
        });
    });
}

void Printer::persistAvailability()
{
    m_settings.setValue(settingsKey(m_name), m_available.load());
    // Another start of the program must see the switch even if this one dies.
    m_settings.sync();
}

QString Printer::settingsId(const QString& printerName)
{
    // toLatin1 turns every character outside Latin-1 into "?".
    const QByteArray digest = QCryptographicHash::hash(printerName.toLatin1(), QCryptographicHash::Sha1);
    return QString::fromLatin1(digest.toBase64());
}

QString Printer::settingsKey(const QString& printerName)
{
    return QStringLiteral("printers/%1").arg(settingsId(printerName));
}

bool Printer::storedAvailable(const QSettings& settings, const QString& printerName)
{
    return storedSwitch(settings.value(settingsKey(printerName), false));
}
