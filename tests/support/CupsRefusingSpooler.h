#pragma once

#include "printing/CupsSpooler.h"

#include <memory>

// The real CUPS spooler, except that it refuses the Nth write (from 1) without passing it on,
// as a spooler that gives up mid-document would. jobIds gets the CUPS jobs it made.
class CupsRefusingSpooler : public Spooler
{
public:
    static Spooler::Factory factory(int refusedWrite, QList<int>* jobIds)
    {
        return [=] { return std::make_unique<CupsRefusingSpooler>(refusedWrite, jobIds); };
    }
    CupsRefusingSpooler(int refusedWrite, QList<int>* jobIds)
        : m_refusedWrite(refusedWrite)
        , m_jobIds(jobIds)
    {}

    bool openPrinter(const QString& printerName) override { return m_cups.openPrinter(printerName); }
    bool startDocument(const QString& name) override
    {
        return m_cups.startDocument(name) && (m_jobIds->append(m_cups.jobId()), true);
    }
    bool startPage() override { return m_cups.startPage(); }
    bool write(const char* data, qint64 length) override
    {
        return ++m_writes != m_refusedWrite && m_cups.write(data, length);
    }
    bool endPage() override { return m_cups.endPage(); }
    bool endDocument() override { return m_cups.endDocument(); }
    void closePrinter() override { m_cups.closePrinter(); }
    void abortDocument() override { m_cups.abortDocument(); }

private:
    CupsSpooler m_cups;
    int m_refusedWrite;
    int m_writes = 0;
    QList<int>* m_jobIds;
};
