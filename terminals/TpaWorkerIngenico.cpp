#include "TpaWorkerIngenico.h"

#include <QSemaphore>
#include <QSet>

TpaWorkerIngenico::TpaWorkerIngenico(const SerialPortDescription& port, const TpaTimings& timings, QObject* parent)
    : TpaWorker(port, timings, parent)
{}

QByteArray TpaWorkerIngenico::frame(const QByteArray& message) const
{
    char check = ETX;
    for (const char byte : message)
        check ^= byte;
    QByteArray bytes;
    bytes.reserve(message.size() + 3);
    bytes.append(STX).append(message).append(ETX).append(check);
    return bytes;
}

QByteArray TpaWorkerIngenico::statusRequest() const
{
    // M000 status request: "05" "LB" "0200" "0" "0".
    return QByteArrayLiteral("M00005LB020000");
}

QSemaphore& TpaWorkerIngenico::receiveSemaphore() const
{
    static QSemaphore semaphore(1);
    return semaphore;
}

void TpaWorkerIngenico::handleFrame(const QByteArray& message)
{
    const int zero = message.indexOf('\0');
    const QString text = QString::fromLatin1(zero < 0 ? message : message.left(zero));
    if (text.left(4) != QLatin1String("M000")) {
        // Anything but a status answer is part of the transaction and proves the terminal alive.
        restartTransactionTimer();
        emit setLastTransactionStatus(text);
    } else {
        emit setLastStatus(text);
    }
    interpretMessage(text);
}

void TpaWorkerIngenico::interpretMessage(const QString& text)
{
    // Codes with which the terminal ends a transaction (results of open, close,
    // purchase and refund, and the end of the menu).
    static const QSet<QString> finalCodes = {QStringLiteral("P101"), QStringLiteral("P102"), QStringLiteral("P001"),
                                             QStringLiteral("P142"), QStringLiteral("P042"), QStringLiteral("P051"),
                                             QStringLiteral("P151"), QStringLiteral("P251"), QStringLiteral("P155"),
                                             QStringLiteral("P061"), QStringLiteral("P161"), QStringLiteral("P261"),
                                             QStringLiteral("M005")};
    const QString code = text.left(4);
    if (code == QLatin1String("M000")) {
        setPollOutstanding(false);
        setPollAnswerAwaited(false);
        if (hasPendingCommand())
            loopStatusCheck();
    } else if (code == QLatin1String("M001")) {
        // Display text only.
    } else if (finalCodes.contains(code)) {
        finishTransaction();
    } else if (code == QLatin1String("M025")) {
        // The terminal asks for confirmation; it becomes the last message, so a retry repeats it.
        writeFrame(QByteArrayLiteral("M025000"));
    } else if (code == QLatin1String("M00E")) {
        if (inTransaction() && text.mid(4, 3) == QLatin1String("001"))
            finishTransaction();
    } else if (text == QLatin1String("M01101") && inTransaction()) {
        // The terminal itself gave up waiting.
        transactionTimeout();
    }
}
