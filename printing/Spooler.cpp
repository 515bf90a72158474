#include "printing/Spooler.h"

#include <QMutex>
#include <QMutexLocker>

#ifdef Q_OS_WIN
#include "printing/WindowsSpooler.h"

#include <QPrinterInfo>
#else
#include "printing/CupsSpooler.h"
#endif

namespace {

QMutex g_factoryMutex;
Spooler::Factory g_factory;

} // namespace

std::unique_ptr<Spooler> Spooler::create()
{
    {
        QMutexLocker lock(&g_factoryMutex);
        if (g_factory)
            return g_factory();
    }
#ifdef Q_OS_WIN
    return std::make_unique<WindowsSpooler>();
#else
    return std::make_unique<CupsSpooler>();
#endif
}

bool Spooler::printerReady(const QString& printerName)
{
#ifdef Q_OS_WIN
    const QPrinterInfo info = QPrinterInfo::printerInfo(printerName);
    // A printer that is not installed has no state to ask; it is not ready either.
    if (info.isNull())
        return false;
    const QPrinter::PrinterState state = info.state();
    return state == QPrinter::Idle || state == QPrinter::Active;
#else
    return CupsSpooler::printerReady(printerName);
#endif
}

QStringList Spooler::printerNames()
{
#ifdef Q_OS_WIN
    return QPrinterInfo::availablePrinterNames();
#else
    return CupsSpooler::printerNames();
#endif
}

void Spooler::setFactory(Factory factory)
{
    QMutexLocker lock(&g_factoryMutex);
    g_factory = std::move(factory);
}
