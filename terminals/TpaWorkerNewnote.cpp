#include "TpaWorkerNewnote.h"

#include <QSemaphore>

TpaWorkerNewnote::TpaWorkerNewnote(const SerialPortDescription& port, const TpaTimings& timings, QObject* parent)
    : TpaWorker(port, timings, parent)
{}

QByteArray TpaWorkerNewnote::frame(const QByteArray& message) const
{
    // Data bytes are not escaped: a 0x10 inside the message goes out as it is.
    char check = DLE ^ ETX;
    for (const char byte : message)
        check ^= byte;
    QByteArray bytes;
    bytes.reserve(message.size() + 5);
    bytes.append(DLE).append(STX).append(message).append(DLE).append(ETX).append(check);
    return bytes;
}

QByteArray TpaWorkerNewnote::statusRequest() const
{
    // M001 status request: "10" "PQ".
    return QByteArrayLiteral("M00110PQ");
}

QSemaphore& TpaWorkerNewnote::receiveSemaphore() const
{
    static QSemaphore semaphore(1);
    return semaphore;
}

QByteArray TpaWorkerNewnote::stripTagBytes(const QByteArray& message)
{
    QByteArray text;
    text.reserve(message.size());
    for (const char byte : message) {
        switch (static_cast<unsigned char>(byte)) {
        case 0x00:
        case 0x29: // ")"
        case 0x9F: // first byte of the two-byte tags
        case 0x1C:
        case 0x9A:
        case 0x08:
        case 0x21: // "!"
        case 0x06:
        case 0x02:
        case 0x10: // the DLE before ETX, collected with the frame
            break;
        default:
            text.append(byte);
        }
    }
    return text;
}

void TpaWorkerNewnote::handleFrame(const QByteArray& message)
{
    const QString text = QString::fromLatin1(stripTagBytes(message));
    if (message.left(4) != "M001") {
        restartTransactionTimer();
        emit setLastTransactionStatus(text);
    } else {
        emit setLastStatus(text);
    }
    interpretMessage(text);
}

void TpaWorkerNewnote::interpretMessage(const QString& text)
{
    const QString code = text.left(4);
    if (code == QLatin1String("M001")) {
        setPollOutstanding(false);
        const bool answersPoll = pollAnswerAwaited();
        setPollAnswerAwaited(false);
        // A command goes out without waiting for the answer to the poll before
        // it; that late answer must not end the command's transaction, or its
        // result would reach nobody.
        if (inTransaction() && answersPoll)
            return;
        finishTransaction();
    } else if (code == QLatin1String("S000") || code == QLatin1String("S001") || code == QLatin1String("C000") ||
               code == QLatin1String("C002")) {
        // Results of open, close, purchase and refund.
        finishTransaction();
    }
}
