#include "app/DeviceCommand.h"

#include "app/SingleInstance.h"
#include "printing/Printer.h"
#include "printing/Spooler.h"
#include "terminals/SerialPortDescription.h"
#include "terminals/Tpa.h"

#include <QSettings>

#include <cstdio>

namespace {

QList<SerialPortDescription> terminalPorts()
{
    QList<SerialPortDescription> ports;
    for (const SerialPortDescription& port : SerialPortDescription::availablePorts()) {
        if (Tpa::terminalType(port.vendorIdentifier()) != Tpa::NoTerminal)
            ports.append(port);
    }
    return ports;
}

QString terminalKey(const SerialPortDescription& port)
{
    return QStringLiteral("tpa/%1").arg(Tpa::terminalKey(port.vendorIdentifier(), port.productIdentifier()));
}

const char* onOff(bool on)
{
    return on ? "on " : "off";
}

void print(const QString& text)
{
    std::fputs(text.toLocal8Bit().constData(), stdout);
}

} // namespace

int DeviceCommand::list()
{
    const QSettings settings;
    print(QStringLiteral("Printers (on: the web application may print on it):\n"));
    const QStringList printers = Spooler::printerNames();
    for (const QString& name : printers)
        print(QStringLiteral("  %1  %2\n").arg(QLatin1String(onOff(Printer::storedAvailable(settings, name))), name));
    if (printers.isEmpty())
        print(QStringLiteral("  none found\n"));
    print(QStringLiteral("Payment terminals:\n"));
    const QList<SerialPortDescription> ports = terminalPorts();
    for (const SerialPortDescription& port : ports) {
        const bool on = settings.value(terminalKey(port), true).toBool();
        print(QStringLiteral("  %1  %2 (%3)\n").arg(QLatin1String(onOff(on)), port.portName(), port.description()));
    }
    if (ports.isEmpty())
        print(QStringLiteral("  none found\n"));
    print(QStringLiteral("Switch one with: quorva-link --enable NAME, or --disable NAME\n"));
    return 0;
}

int DeviceCommand::set(const QString& name, bool available)
{
    QString key;
    QString what;
    if (Spooler::printerNames().contains(name)) {
        key = Printer::settingsKey(name);
        what = QStringLiteral("Printer %1").arg(name);
    } else {
        for (const SerialPortDescription& port : terminalPorts()) {
            if (port.portName() == name || port.systemLocation() == name) {
                key = terminalKey(port);
                what = QStringLiteral("Payment terminal on %1").arg(port.portName());
                break;
            }
        }
    }
    if (key.isEmpty()) {
        std::fprintf(stderr,
                     "quorva-link: no printer or payment terminal called \"%s\" is found now "
                     "(quorva-link --devices lists them)\n",
                     qPrintable(name));
        return 1;
    }
    QSettings settings;
    settings.setValue(key, available);
    settings.sync();
    if (settings.status() != QSettings::NoError) {
        std::fprintf(stderr, "quorva-link: the settings could not be written: %s\n", qPrintable(settings.fileName()));
        return 1;
    }
    print(QStringLiteral("%1: %2 for the web application.\n")
              .arg(what, available ? QStringLiteral("on") : QStringLiteral("off")));
    // A running copy read its switches when it found the device.
    if (SingleInstance::isStampAlive(SingleInstance::localNowSeconds(),
                                     settings.value(QStringLiteral("kicked"), 0).toString().toLongLong()))
        print(QStringLiteral("Quorva Link is running: restart it to apply this "
                             "(systemctl --user restart quorva-link for the service).\n"));
    return 0;
}
