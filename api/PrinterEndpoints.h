#pragma once

#include <QJsonArray>
#include <QJsonObject>
#include <QString>

#include <memory>

class Printer;
class PrintClient;

// /getPrinters, /getPrinterStatus and /sendJob: the printers the user has
// enabled, matched by their exact name.
class PrinterEndpoints
{
public:
    explicit PrinterEndpoints(PrintClient* printClient);

    void getPrinters(QJsonObject& result) const;
    void getPrinterStatus(QJsonObject& result, const QString& printer) const;
    void sendJob(QJsonObject& result, const QString& printer, const QJsonArray& job) const;
    // Parameter mode: the job arrives as the text of a JSON array.
    void sendJobText(QJsonObject& result, const QString& printer, const QString& job) const;

private:
    // The first enabled printer of that name, kept alive while the caller holds it.
    std::shared_ptr<Printer> find(const QString& printer) const;

    PrintClient* m_printClient;
};
