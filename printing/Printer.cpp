#include "printing/Printer.h"

#include "printing/Spooler.h"

#include <QCryptographicHash>
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

Printer::Printer(const QPrinterInfo& info, QObject* parent)
    : QObject(parent)
    , m_info(info)
    , m_name(info.printerName())
    , m_settingsId(settingsId(m_name))
{
    m_available = storedSwitch(m_settings.value(settingsKey(m_name), false));
    connect(this, &Printer::availableChanged, this, &Printer::persistAvailability);
}

bool Printer::state() const
{
    // Asked afresh each time: a copied description keeps the state it was built with.
    return Spooler::printerReady(m_name);
}

void Printer::setAvailable(bool value)
{
    m_available = value;
    emit availableChanged(value);
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
