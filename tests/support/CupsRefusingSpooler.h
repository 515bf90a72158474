#pragma once

#include "printing/CupsSpooler.h"

#include <QList>

#include <memory>

// The real CUPS spooler, except that it refuses the Nth write (counted from 1)
// without passing it on, the way a spooler that gives up mid-document would.
// Install it with Spooler::setFactory; jobIds() tells which CUPS jobs it made.
class CupsRefusingSpooler : public Spooler
{
public:
    explicit CupsRefusingSpooler(int refusedWrite, QList<int>* jobIds = nullptr)
        : m_refusedWrite(refusedWrite)
        , m_jobIds(jobIds)
    {}

    bool openPrinter(const QString& printerName) override { return m_cups.openPrinter(printerName); }
    bool startDocument(const QString& documentName) override
    {
        const bool started = m_cups.startDocument(documentName);
        if (started && m_jobIds)
            m_jobIds->append(m_cups.jobId());
        return started;
    }
    bool startPage() override { return m_cups.startPage(); }
    bool write(const char* data, qint64 length) override
    {
        if (++m_writes == m_refusedWrite)
            return false;
        return m_cups.write(data, length);
    }
    bool endPage() override { return m_cups.endPage(); }
    bool endDocument() override { return m_cups.endDocument(); }
    void closePrinter() override { m_cups.closePrinter(); }
    void abortDocument() override { m_cups.abortDocument(); }

    // A factory for Spooler::setFactory.
    static Spooler::Factory factory(int refusedWrite, QList<int>* jobIds = nullptr)
    {
        return [refusedWrite, jobIds] { return std::make_unique<CupsRefusingSpooler>(refusedWrite, jobIds); };
    }

private:
    CupsSpooler m_cups;
    int m_refusedWrite;
    int m_writes = 0;
    QList<int>* m_jobIds;
};
