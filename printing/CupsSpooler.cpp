#include "printing/CupsSpooler.h"

#include <cups/cups.h>

CupsSpooler::~CupsSpooler()
{
    closePrinter();
}

namespace {

// "queue/instance" names an instance of a queue: a set of the user's options,
// which a raw job does not use. The scheduler knows the queue only.
QByteArray queueOf(const QString& printerName)
{
    return printerName.section(QLatin1Char('/'), 0, 0).toUtf8();
}

} // namespace

bool CupsSpooler::openPrinter(const QString& printerName)
{
    closePrinter();
    m_printer = queueOf(printerName);
    // A connection of our own: the document streams over it while a cancel can
    // still go over the default one.
    m_http = connect();
    if (!m_http)
        return false;
    cups_dest_t* dest = cupsGetNamedDest(m_http, m_printer.constData(), nullptr);
    if (!dest) {
        closePrinter();
        return false;
    }
    cupsFreeDests(1, dest);
    return true;
}

bool CupsSpooler::printerReady(const QString& printerName)
{
    http_t* http = connect();
    if (!http)
        return false;
    const QByteArray name = queueOf(printerName);
    cups_dest_t* dest = cupsGetNamedDest(http, name.constData(), nullptr);
    bool ready = false;
    if (dest) {
        // printer-state: 3 idle, 4 processing, 5 stopped.
        const char* state = cupsGetOption("printer-state", dest->num_options, dest->options);
        const char* accepting = cupsGetOption("printer-is-accepting-jobs", dest->num_options, dest->options);
        ready = state && (qstrcmp(state, "3") == 0 || qstrcmp(state, "4") == 0) && accepting &&
                qstrcmp(accepting, "true") == 0;
        cupsFreeDests(1, dest);
    }
    httpClose(http);
    return ready;
}

QStringList CupsSpooler::printerNames()
{
    // The destinations the user's print dialogs offer: the scheduler's queues
    // and this user's instances of them ("queue/instance").
    cups_dest_t* dests = nullptr;
    const int count = cupsGetDests2(CUPS_HTTP_DEFAULT, &dests);
    QStringList names;
    for (int i = 0; i < count; ++i) {
        QString name = QString::fromUtf8(dests[i].name);
        if (dests[i].instance)
            name += QLatin1Char('/') + QString::fromUtf8(dests[i].instance);
        names.append(name);
    }
    cupsFreeDests(count, dests);
    return names;
}

http_t* CupsSpooler::connect()
{
    http_t* http = httpConnect2(cupsServer(), ippPort(), nullptr, AF_UNSPEC, cupsEncryption(), 1, 30000, nullptr);
    // Jobs and printer lists are asked under the web API's lock: a scheduler that
    // stops reading or answering fails the call after a while instead of holding
    // every request.
    if (http)
        httpSetTimeout(http, 30.0, nullptr, nullptr);
    return http;
}

bool CupsSpooler::startDocument(const QString& documentName)
{
    if (!m_http)
        return false;
    const QByteArray title = documentName.toUtf8();
    m_jobId = cupsCreateJob(m_http, m_printer.constData(), title.constData(), 0, nullptr);
    if (m_jobId <= 0) {
        m_jobId = 0;
        return false;
    }
    if (cupsStartDocument(m_http, m_printer.constData(), m_jobId, title.constData(), CUPS_FORMAT_RAW, 1) !=
        HTTP_STATUS_CONTINUE) {
        cancelJob();
        return false;
    }
    return true;
}

bool CupsSpooler::write(const char* data, qint64 length)
{
    if (!m_http || m_jobId <= 0)
        return false;
    // An empty chunk would end the document stream before the document is done.
    if (length <= 0)
        return true;
    return cupsWriteRequestData(m_http, data, static_cast<size_t>(length)) == HTTP_STATUS_CONTINUE;
}

bool CupsSpooler::endDocument()
{
    if (!m_http || m_jobId <= 0)
        return false;
    // Any successful status (0x0000 to 0x00FF) means the scheduler took the document.
    const bool accepted = cupsFinishDocument(m_http, m_printer.constData()) <= 0x00FF;
    if (!accepted)
        cancelJob();
    m_jobId = 0;
    return accepted;
}

void CupsSpooler::closePrinter()
{
    if (m_http) {
        httpClose(m_http);
        m_http = nullptr;
    }
    m_jobId = 0;
}

void CupsSpooler::abortDocument()
{
    cancelJob();
    // Dropping the connection abandons the unfinished document request.
    closePrinter();
}

void CupsSpooler::cancelJob()
{
    if (m_jobId > 0)
        cupsCancelJob2(CUPS_HTTP_DEFAULT, m_printer.constData(), m_jobId, 0);
    m_jobId = 0;
}
