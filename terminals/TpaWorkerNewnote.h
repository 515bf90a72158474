#pragma once

#include "TpaWorker.h"

// Type 2 terminals: DLE STX, message, DLE ETX, then the XOR of message, DLE and ETX.
class TpaWorkerNewnote : public TpaWorker
{
    Q_OBJECT

public:
    explicit TpaWorkerNewnote(const SerialPortDescription& port, const TpaTimings& timings = TpaTimings(),
                              QObject* parent = nullptr);

    // Removes the tag and control bytes that these terminals mix into their text.
    static QByteArray stripTagBytes(const QByteArray& message);

protected:
    QByteArray frame(const QByteArray& message) const override;
    QByteArray statusRequest() const override;
    void handleFrame(const QByteArray& message) override;
    // These terminals answer a poll late at times; a command does not wait for it.
    bool pollSetsOutstanding() const override { return false; }
    QSemaphore& receiveSemaphore() const override;

private:
    void interpretMessage(const QString& text);
};
