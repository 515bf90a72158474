// Bytes to a terminal family's receive state machine in pieces, as a serial port delivers
// them (the first byte picks the family and the piece size); no port is open.
#include "terminals/TpaWorkerIngenico.h"
#include "terminals/TpaWorkerNewnote.h"

template <typename Family>
struct Fed : Family
{
    using Family::Family;
    void feed(const QByteArray& bytes, int piece)
    {
        for (int at = 0; at < bytes.size(); at += piece)
            this->receive(bytes.mid(at, piece));
    }
};

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0)
        return 0;
    const int piece = 1 + (data[0] >> 1) % 32;
    const QByteArray bytes(reinterpret_cast<const char*>(data + 1), int(size - 1));
    if (data[0] & 1)
        Fed<TpaWorkerNewnote>(SerialPortDescription()).feed(bytes, piece);
    else
        Fed<TpaWorkerIngenico>(SerialPortDescription()).feed(bytes, piece);
    return 0;
}
