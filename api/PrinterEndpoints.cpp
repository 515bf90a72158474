#include "api/PrinterEndpoints.h"

#include "app/SafeJson.h"
#include "core/PrintClient.h"
#include "printing/JobCheck.h"
#include "printing/PrintJob.h"
#include "printing/Printer.h"

#include <QJsonDocument>

PrinterEndpoints::PrinterEndpoints(PrintClient* printClient)
    : m_printClient(printClient)
{}

std::shared_ptr<Printer> PrinterEndpoints::find(const QString& printer) const
{
    if (printer.isEmpty() || !m_printClient)
        return nullptr;
    for (const auto& candidate : m_printClient->printerList()) {
        if (candidate->available() && candidate->name() == printer)
            return candidate;
    }
    return nullptr;
}

void PrinterEndpoints::getPrinters(QJsonObject& result) const
{
    QJsonArray names;
    if (m_printClient) {
        for (const auto& printer : m_printClient->printerList()) {
            if (printer->available())
                names.append(printer->name());
        }
    }
    result.insert(QStringLiteral("status"), true);
    result.insert(QStringLiteral("data"), names);
}

void PrinterEndpoints::getPrinterStatus(QJsonObject& result, const QString& printer) const
{
    if (const auto found = find(printer)) {
        result.insert(QStringLiteral("status"), true);
        result.insert(QStringLiteral("data"), found->state());
    } else {
        result.insert(QStringLiteral("status"), false);
        result.insert(QStringLiteral("error"), QStringLiteral("Printer not found"));
    }
    result.insert(QStringLiteral("version"), m_printClient ? m_printClient->curVersion() : QString());
    result.insert(QStringLiteral("device"), m_printClient ? m_printClient->device() : QString());
}

void PrinterEndpoints::sendJob(QJsonObject& result, const QString& printer, const QJsonArray& job) const
{
    const auto found = find(printer);
    if (!found) {
        result.insert(QStringLiteral("status"), false);
        result.insert(QStringLiteral("error"), QStringLiteral("Printer not found"));
        return;
    }
    if (!found->state()) {
        result.insert(QStringLiteral("status"), false);
        result.insert(QStringLiteral("error"), QStringLiteral("Printer offline or in error state"));
        return;
    }
    if (job.isEmpty()) {
        result.insert(QStringLiteral("status"), false);
        result.insert(QStringLiteral("error"), QStringLiteral("Job is empty"));
        return;
    }
    const QString problem = JobCheck::problem(job, m_printClient->compatibilityMode());
    if (!problem.isEmpty()) {
        result.insert(QStringLiteral("status"), false);
        result.insert(QStringLiteral("error"), problem);
        return;
    }

    auto* printJob = new PrintJob(job, printer, m_printClient->compatibilityMode());
    const bool printed = printJob->print();
    // Image downloads of the job may still have objects queued for deletion
    // under it; let the event loop of this thread release it after them.
    printJob->deleteLater();
    if (printed) {
        result.insert(QStringLiteral("status"), true);
        result.insert(QStringLiteral("data"), QStringLiteral("Job completed successfully"));
    } else {
        result.insert(QStringLiteral("status"), false);
        result.insert(QStringLiteral("error"), QStringLiteral("Error printing job"));
    }
}

void PrinterEndpoints::sendJobText(QJsonObject& result, const QString& printer, const QString& job) const
{
    const QJsonDocument document = SafeJson::parse(job.toUtf8());
    if (!document.isArray()) {
        result.insert(QStringLiteral("status"), false);
        result.insert(QStringLiteral("error"), QStringLiteral("Job with incorrect format"));
        return;
    }
    sendJob(result, printer, document.array());
}
