#pragma once

#include "printing/Spooler.h"

#include <QByteArray>

typedef struct _http_s http_t;

// Raw jobs through CUPS: one job per document, one request write per write.
class CupsSpooler : public Spooler
{
public:
    CupsSpooler() = default;
    ~CupsSpooler() override;

    bool openPrinter(const QString& printerName) override;
    bool startDocument(const QString& documentName) override;
    bool startPage() override { return m_jobId > 0; }
    bool write(const char* data, qint64 length) override;
    bool endPage() override { return m_jobId > 0; }
    bool endDocument() override;
    void closePrinter() override;
    void abortDocument() override;

    int jobId() const { return m_jobId; }

    // Asks the scheduler itself for the queue's state and whether it accepts
    // jobs: a stopped queue still takes jobs and prints them once enabled, and
    // Qt's printer information never looks at the second.
    static bool printerReady(const QString& printerName);
    static QStringList printerNames();

private:
    static http_t* connect();
    void cancelJob();

    http_t* m_http = nullptr;
    QByteArray m_printer;
    int m_jobId = 0;
};
