#include "printing/WindowsSpooler.h"

#ifdef Q_OS_WIN

#include <windows.h>
#include <winspool.h>

#include <vector>

namespace {

// The spooler wants writable UTF-16 strings.
std::vector<wchar_t> wide(const QString& text)
{
    std::vector<wchar_t> buffer(static_cast<size_t>(text.size()) + 1, L'\0');
    text.toWCharArray(buffer.data());
    return buffer;
}

} // namespace

WindowsSpooler::~WindowsSpooler()
{
    closePrinter();
}

bool WindowsSpooler::openPrinter(const QString& printerName)
{
    std::vector<wchar_t> name = wide(printerName);
    HANDLE handle = nullptr;
    if (!OpenPrinterW(name.data(), &handle, nullptr))
        return false;
    m_handle = handle;
    return true;
}

bool WindowsSpooler::startDocument(const QString& documentName)
{
    std::vector<wchar_t> name = wide(documentName);
    DOC_INFO_1W info;
    info.pDocName = name.data();
    info.pOutputFile = nullptr;
    info.pDatatype = nullptr;
    return StartDocPrinterW(static_cast<HANDLE>(m_handle), 1, reinterpret_cast<LPBYTE>(&info)) != 0;
}

bool WindowsSpooler::startPage()
{
    return StartPagePrinter(static_cast<HANDLE>(m_handle)) != 0;
}

bool WindowsSpooler::write(const char* data, qint64 length)
{
    DWORD written = 0;
    return WritePrinter(static_cast<HANDLE>(m_handle), const_cast<char*>(data), static_cast<DWORD>(length), &written) !=
           0;
}

bool WindowsSpooler::endPage()
{
    return EndPagePrinter(static_cast<HANDLE>(m_handle)) != 0;
}

bool WindowsSpooler::endDocument()
{
    return EndDocPrinter(static_cast<HANDLE>(m_handle)) != 0;
}

void WindowsSpooler::closePrinter()
{
    if (m_handle) {
        ClosePrinter(static_cast<HANDLE>(m_handle));
        m_handle = nullptr;
    }
}

void WindowsSpooler::abortDocument()
{
    // Deletes the spool file of the document in progress: no half receipt prints.
    if (m_handle)
        AbortPrinter(static_cast<HANDLE>(m_handle));
    closePrinter();
}

#endif
