#pragma once

#include <QList>
#include <QMetaType>
#include <QString>
#include <QStringList>

class QSerialPortInfo;

// What the terminal code needs to know about a serial port. Real ports come from
// the system's enumeration; simulated ones (pseudo-terminals standing in for a
// terminal during integration work) come from QUORVA_LINK_SIMULATED_PORTS, since
// the system does not list pseudo-terminals nor give them USB identifiers.
class SerialPortDescription
{
    Q_GADGET
    Q_PROPERTY(QString portName READ portName CONSTANT)
    Q_PROPERTY(QString systemLocation READ systemLocation CONSTANT)
    Q_PROPERTY(QString description READ description CONSTANT)
    Q_PROPERTY(QString manufacturer READ manufacturer CONSTANT)
    Q_PROPERTY(int vendorIdentifier READ vendorIdentifier CONSTANT)
    Q_PROPERTY(int productIdentifier READ productIdentifier CONSTANT)
    Q_PROPERTY(bool simulated READ isSimulated CONSTANT)

public:
    static constexpr const char* SimulatedPortsVariable = "QUORVA_LINK_SIMULATED_PORTS";

    SerialPortDescription() = default;
    explicit SerialPortDescription(const QSerialPortInfo& info);

    // A simulated port at path (a pseudo-terminal or a link to one).
    static SerialPortDescription simulated(const QString& path, quint16 vendorIdentifier, quint16 productIdentifier);

    // The ports present now: the system's, then the simulated ones that exist.
    static QList<SerialPortDescription> availablePorts();
    // The simulated ports of the environment variable whose paths exist.
    static QList<SerialPortDescription> simulatedPorts();
    // Parses "PATH=VVVV:PPPP[,PATH=VVVV:PPPP...]" (hex identifiers); malformed
    // entries are skipped and described in errors. Paths are not checked here.
    static QList<SerialPortDescription> parseSimulatedPorts(const QString& list, QStringList* errors = nullptr);

    bool isNull() const { return m_portName.isEmpty(); }
    // Short name shown to the user (ttyUSB0 for a real port, the path for a simulated one).
    QString portName() const { return m_portName; }
    // What a serial port object opens.
    QString systemLocation() const { return m_systemLocation; }
    QString description() const { return m_description; }
    QString manufacturer() const { return m_manufacturer; }
    int vendorIdentifier() const { return m_vendorIdentifier; }
    int productIdentifier() const { return m_productIdentifier; }
    bool hasVendorIdentifier() const { return m_hasVendorIdentifier; }
    bool hasProductIdentifier() const { return m_hasProductIdentifier; }
    bool isSimulated() const { return m_simulated; }

    bool operator==(const SerialPortDescription& other) const;
    bool operator!=(const SerialPortDescription& other) const { return !(*this == other); }

private:
    QString m_portName;
    QString m_systemLocation;
    QString m_description;
    QString m_manufacturer;
    quint16 m_vendorIdentifier = 0;
    quint16 m_productIdentifier = 0;
    bool m_hasVendorIdentifier = false;
    bool m_hasProductIdentifier = false;
    bool m_simulated = false;
};

Q_DECLARE_METATYPE(SerialPortDescription)
