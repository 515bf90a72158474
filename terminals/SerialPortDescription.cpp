#include "SerialPortDescription.h"

#include <algorithm>

#include <QDebug>
#include <QFileInfo>
#include <QSerialPortInfo>

SerialPortDescription::SerialPortDescription(const QSerialPortInfo& info)
    : m_portName(info.portName())
    , m_systemLocation(info.systemLocation())
    , m_description(info.description())
    , m_manufacturer(info.manufacturer())
    , m_vendorIdentifier(info.vendorIdentifier())
    , m_productIdentifier(info.productIdentifier())
    , m_hasVendorIdentifier(info.hasVendorIdentifier())
    , m_hasProductIdentifier(info.hasProductIdentifier())
{}

SerialPortDescription SerialPortDescription::simulated(const QString& path, quint16 vendorIdentifier,
                                                       quint16 productIdentifier)
{
    SerialPortDescription port;
    port.m_portName = path;
    port.m_systemLocation = path;
    port.m_description = QStringLiteral("Simulated serial port");
    port.m_manufacturer = QStringLiteral("Quorva Link");
    port.m_vendorIdentifier = vendorIdentifier;
    port.m_productIdentifier = productIdentifier;
    port.m_hasVendorIdentifier = true;
    port.m_hasProductIdentifier = true;
    port.m_simulated = true;
    return port;
}

QList<SerialPortDescription> SerialPortDescription::availablePorts()
{
    QList<SerialPortDescription> ports;
    for (const QSerialPortInfo& info : QSerialPortInfo::availablePorts())
        ports.append(SerialPortDescription(info));
    for (const SerialPortDescription& port : simulatedPorts()) {
        const bool known = std::any_of(ports.cbegin(), ports.cend(), [&port](const SerialPortDescription& p) {
            return p.systemLocation() == port.systemLocation();
        });
        if (!known)
            ports.append(port);
    }
    return ports;
}

QList<SerialPortDescription> SerialPortDescription::simulatedPorts()
{
    const QString list = qEnvironmentVariable(SimulatedPortsVariable);
    if (list.trimmed().isEmpty())
        return {};
    QStringList errors;
    QList<SerialPortDescription> ports;
    for (const SerialPortDescription& port : parseSimulatedPorts(list, &errors)) {
        // A listed path that is gone is treated like an unplugged device.
        if (QFileInfo::exists(port.systemLocation()))
            ports.append(port);
    }
    for (const QString& error : errors)
        qWarning().noquote() << SimulatedPortsVariable << ":" << error;
    return ports;
}

static bool parseIdentifier(const QString& text, quint16* value)
{
    QString digits = text.trimmed();
    if (digits.startsWith(QLatin1String("0x"), Qt::CaseInsensitive))
        digits = digits.mid(2);
    if (digits.isEmpty() || digits.size() > 4)
        return false;
    bool ok = false;
    const uint parsed = digits.toUInt(&ok, 16);
    if (!ok)
        return false;
    *value = static_cast<quint16>(parsed);
    return true;
}

QList<SerialPortDescription> SerialPortDescription::parseSimulatedPorts(const QString& list, QStringList* errors)
{
    QList<SerialPortDescription> ports;
    const QStringList entries = list.split(QLatin1Char(','), Qt::SkipEmptyParts);
    for (const QString& rawEntry : entries) {
        const QString entry = rawEntry.trimmed();
        if (entry.isEmpty())
            continue;
        // The path may itself contain "=", the identifiers never do.
        const int equals = entry.lastIndexOf(QLatin1Char('='));
        const QString path = entry.left(equals).trimmed();
        const QStringList ids = entry.mid(equals + 1).split(QLatin1Char(':'));
        quint16 vendor = 0;
        quint16 product = 0;
        if (equals <= 0 || path.isEmpty() || ids.size() != 2 || !parseIdentifier(ids.at(0), &vendor) ||
            !parseIdentifier(ids.at(1), &product)) {
            if (errors)
                errors->append(QStringLiteral("ignoring \"%1\": expected PATH=VVVV:PPPP (hex)").arg(entry));
            continue;
        }
        const bool duplicate = std::any_of(ports.cbegin(), ports.cend(), [&path](const SerialPortDescription& p) {
            return p.systemLocation() == path;
        });
        if (duplicate) {
            if (errors)
                errors->append(QStringLiteral("ignoring \"%1\": path listed twice").arg(entry));
            continue;
        }
        ports.append(simulated(path, vendor, product));
    }
    return ports;
}

bool SerialPortDescription::operator==(const SerialPortDescription& other) const
{
    return m_portName == other.m_portName && m_systemLocation == other.m_systemLocation &&
           m_description == other.m_description && m_manufacturer == other.m_manufacturer &&
           m_vendorIdentifier == other.m_vendorIdentifier && m_productIdentifier == other.m_productIdentifier &&
           m_hasVendorIdentifier == other.m_hasVendorIdentifier &&
           m_hasProductIdentifier == other.m_hasProductIdentifier && m_simulated == other.m_simulated;
}
