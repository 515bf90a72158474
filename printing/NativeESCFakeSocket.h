#pragma once

#include <QIODevice>
#include <QString>

#include <memory>

class Spooler;

// The byte sink of a print job: every write goes unchanged, at once, into one raw
// document of the platform spooler. One device serves one document.
class NativeESCFakeSocket : public QIODevice
{
    Q_OBJECT

public:
    explicit NativeESCFakeSocket(QObject* parent = nullptr);
    ~NativeESCFakeSocket() override;

    // False when the printer is stopped or in error: the device stays closed and
    // the spooler is not touched.
    bool setPrinter(const QString& printerName);
    // Opens the printer, the document and its page; false (with everything it
    // opened released) when the spooler refuses.
    bool startDocument();
    // Hands the document to the spooler for printing.
    void endDocument();
    // Throws the document away unprinted.
    void discardDocument();

    // True once a write or the end of the document was refused. The document is
    // then thrown away, never printed in part.
    bool failed() const { return m_failed; }

    // The spooler document is ended by endDocument, not by close.
    void close() override {}
    qint64 bytesAvailable() const override { return 0; }
    qint64 bytesToWrite() const override { return m_pending; }

protected:
    qint64 readData(char* data, qint64 maxSize) override;
    qint64 writeData(const char* data, qint64 length) override;

private:
    QString m_printerName;
    qint64 m_pending = 0;
    bool m_opened = false;
    bool m_documentStarted = false;
    bool m_failed = false;
    std::unique_ptr<Spooler> m_spooler;
};
