// Feeds arbitrary bytes to the receive state machine of both terminal
// families, in pieces as a serial port delivers them. The first byte picks the
// family and the piece size. No port is open, so nothing is written back; the
// frames that pass their check byte reach the family's message handling.
#include "terminals/TpaWorkerIngenico.h"
#include "terminals/TpaWorkerNewnote.h"

#include <cstddef>
#include <cstdint>

namespace {

template <typename Family>
class Fed : public Family
{
public:
    Fed()
        : Family(SerialPortDescription())
    {}
    void feed(const QByteArray& bytes) { this->receive(bytes); }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0)
        return 0;
    const int piece = 1 + (data[0] >> 1) % 32;
    const QByteArray bytes(reinterpret_cast<const char*>(data + 1), int(size - 1));
    Fed<TpaWorkerIngenico> ingenico;
    Fed<TpaWorkerNewnote> newnote;
    for (int at = 0; at < bytes.size(); at += piece) {
        if (data[0] & 1)
            newnote.feed(bytes.mid(at, piece));
        else
            ingenico.feed(bytes.mid(at, piece));
    }
    return 0;
}
