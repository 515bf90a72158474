// Feeds arbitrary bytes to the receive state machine of a terminal family (the
// first byte picks Ingenico or Newnote and the piece size), as a serial port
// delivers them. No port is open, so nothing is written back; frames that pass
// their check byte reach the family's message handling.
#include "terminals/TpaWorkerIngenico.h"
#include "terminals/TpaWorkerNewnote.h"

template <typename Family>
struct Fed : Family
{
    Fed()
        : Family(SerialPortDescription())
    {}
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
        Fed<TpaWorkerNewnote>().feed(bytes, piece);
    else
        Fed<TpaWorkerIngenico>().feed(bytes, piece);
    return 0;
}
