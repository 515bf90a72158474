#pragma once

#include <QString>
#include <QStringList>
#include <QtGlobal>

#include <functional>
#include <memory>

// One raw print document on the platform's spooler: the Windows spooler or CUPS.
// The calls follow the Windows order (open printer, start document, start page,
// write, end page, end document, close printer); each returns false when refused.
class Spooler
{
public:
    using Factory = std::function<std::unique_ptr<Spooler>()>;

    virtual ~Spooler() = default;

    virtual bool openPrinter(const QString& printerName) = 0;
    virtual bool startDocument(const QString& documentName) = 0;
    virtual bool startPage() = 0;
    virtual bool write(const char* data, qint64 length) = 0;
    virtual bool endPage() = 0;
    virtual bool endDocument() = 0;
    virtual void closePrinter() = 0;
    // Throws away the document in progress so that nothing of it prints, and
    // releases the printer.
    virtual void abortDocument() = 0;

    // Whether the platform would take a job for the printer now: installed, idle
    // or printing, and (CUPS) accepting jobs. Asked afresh at every call.
    static bool printerReady(const QString& printerName);
    // The printers installed on the platform, by name.
    static QStringList printerNames();

    // The platform's spooler, or what a test installed with setFactory.
    static std::unique_ptr<Spooler> create();
    // Replaces the platform spooler (tests only); an empty factory restores it.
    static void setFactory(Factory factory);
};
