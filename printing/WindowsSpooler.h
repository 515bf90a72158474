#pragma once

#include "printing/Spooler.h"

// Raw documents through the Windows spooler (WINSPOOL).
class WindowsSpooler : public Spooler
{
public:
    WindowsSpooler() = default;
    ~WindowsSpooler() override;

    bool openPrinter(const QString& printerName) override;
    bool startDocument(const QString& documentName) override;
    bool startPage() override;
    bool write(const char* data, qint64 length) override;
    bool endPage() override;
    bool endDocument() override;
    void closePrinter() override;
    void abortDocument() override;

private:
    void* m_handle = nullptr;
};
