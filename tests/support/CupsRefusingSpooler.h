#pragma once

#include "printing/CupsSpooler.h"

#include <memory>

// The real CUPS spooler, except that it refuses the Nth write (from 1) without passing it on,
// as a spooler that gives up mid-document would. jobIds gets the CUPS jobs it made.
class CupsRefusingSpooler : public CupsSpooler
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

    bool startDocument(const QString& name) override
    {
        return CupsSpooler::startDocument(name) && (m_jobIds->append(jobId()), true);
    }
    bool write(const char* data, qint64 length) override
    {
        return ++m_writes != m_refusedWrite && CupsSpooler::write(data, length);
    }

private:
    int m_refusedWrite;
    int m_writes = 0;
    QList<int>* m_jobIds;
};
