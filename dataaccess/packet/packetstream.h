#pragma once

#include "dataaccess/packet/datapacket.h"

#include <memory>

namespace quillon {

// Reads a binary packet while its bytes arrive: each piece handed to feed() is decoded as
// far as it goes, so a consumer holds the first rows while the rest is still on its way.
// The sink is called as by DataPacket::readBinary, a row only once the row is whole; views
// handed to it stay valid until the reader is destroyed. Throws PacketError on bad input
// (from feed() as soon as the damage arrives, from finish() when the packet is cut short).
class PacketStreamReader
{
public:
    explicit PacketStreamReader(PacketSink &sink);
    ~PacketStreamReader();
    PacketStreamReader(const PacketStreamReader &) = delete;
    PacketStreamReader &operator=(const PacketStreamReader &) = delete;

    // The packet's whole size when it is known in advance (a Content-Length): lets the
    // reader keep the bytes in one piece.
    void expectBytes(qsizetype total);
    void feed(QByteArrayView bytes);
    // The last bytes have arrived: the packet must be complete, the change log is handed on.
    void finish();
    bool finished() const;

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};

} // namespace quillon
