#pragma once

#include "TpaWorker.h"

// Type 1 terminals: STX, message, ETX, then the XOR of message and ETX.
class TpaWorkerIngenico : public TpaWorker
{
    Q_OBJECT

public:
    explicit TpaWorkerIngenico(const SerialPortDescription& port, const TpaTimings& timings = TpaTimings(),
                               QObject* parent = nullptr);

protected:
    QByteArray frame(const QByteArray& message) const override;
    QByteArray statusRequest() const override;
    void handleFrame(const QByteArray& message) override;
    bool pollSetsOutstanding() const override { return true; }
    QSemaphore& receiveSemaphore() const override;

private:
    void interpretMessage(const QString& text);
};
