#pragma once

#include <QJsonArray>
#include <QString>

// Looks a job over before any byte of it is sent. A QR code or barcode that
// cannot be encoded, or that is wider than the paper, refuses the whole job: a
// receipt without its code (an invoice without its ATCUD code) must not print.
class JobCheck
{
public:
    // Empty when the job can print, else "Invalid job: operation N (op): reason",
    // N counting the job's elements from 0.
    static QString problem(const QJsonArray& job, bool compatibilityMode);
};
