#pragma once

#include <QCoreApplication>
#include <QDateTime>
#include <QJsonArray>
#include <QString>

// The short receipt of the window's "Print test": the connector's name and
// version, the printer, date and time, accents and the euro sign, the three
// alignments, double size, condensed text, a small logo and a cut, in the
// language of the installed translation.
class TestReceipt
{
    Q_DECLARE_TR_FUNCTIONS(TestReceipt)

public:
    static QJsonArray job(const QString& printerName, const QDateTime& when);
};
