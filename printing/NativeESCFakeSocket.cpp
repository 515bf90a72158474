#include "printing/NativeESCFakeSocket.h"

#include "printing/Spooler.h"

namespace {

const QString documentName = QStringLiteral("PRN COMMNAD");

} // namespace

NativeESCFakeSocket::NativeESCFakeSocket(QObject* parent)
    : QIODevice(parent)
{}

NativeESCFakeSocket::~NativeESCFakeSocket()
{
    // A job that never reached endDocument must not print half a receipt.
    if (m_documentStarted && m_spooler)
        m_spooler->abortDocument();
}

bool NativeESCFakeSocket::setPrinter(const QString& printerName)
{
    m_printerName = printerName;
    if (!Spooler::printerReady(printerName))
        return false;
    m_opened = true;
    QIODevice::open(QIODevice::ReadWrite);
    return true;
}

bool NativeESCFakeSocket::startDocument()
{
    // One device, one document: a second start must not orphan the first.
    if (m_documentStarted)
        return true;
    if (!m_spooler)
        m_spooler = Spooler::create();
    if (!m_spooler->openPrinter(m_printerName))
        return false;
    if (!m_spooler->startDocument(documentName)) {
        m_spooler->closePrinter();
        return false;
    }
    if (!m_spooler->startPage()) {
        m_spooler->abortDocument();
        return false;
    }
    m_documentStarted = true;
    return true;
}

void NativeESCFakeSocket::endDocument()
{
    if (!m_opened || !m_documentStarted)
        return;
    m_documentStarted = false;
    if (!m_spooler->endPage()) {
        m_spooler->abortDocument();
        m_failed = true;
        return;
    }
    if (!m_spooler->endDocument())
        m_failed = true;
    m_spooler->closePrinter();
}

void NativeESCFakeSocket::discardDocument()
{
    if (!m_documentStarted)
        return;
    m_documentStarted = false;
    m_spooler->abortDocument();
}

qint64 NativeESCFakeSocket::readData(char*, qint64)
{
    return 0;
}

qint64 NativeESCFakeSocket::writeData(const char* data, qint64 length)
{
    if (!m_opened)
        return length;
    // After a refusal the document is gone; the rest of the job goes nowhere.
    if (m_failed)
        return 0;
    if (!m_documentStarted && !startDocument()) {
        m_failed = true;
        return 0;
    }
    m_pending = length;
    if (!m_spooler->write(data, length)) {
        m_spooler->abortDocument();
        m_documentStarted = false;
        m_failed = true;
        m_pending = 0;
        return 0;
    }
    m_pending = 0;
    return length;
}
