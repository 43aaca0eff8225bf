// The XML data packet as cache files and the server read it. What is accepted is
// consistent, writes again in both forms and reads back with as many rows and changes.
#include "harness.h"

#include "dataaccess/packet/datapacket.h"

#include <QCoreApplication>

using namespace quillon;

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    fuzz::makeApplication<QCoreApplication>();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    DataPacket p;
    try {
        p = DataPacket::fromXml(QString::fromUtf8(fuzz::bytes(data, size)));
    } catch (const PacketError &) {
        return 0;
    }
    try {
        p.validate();
        const DataPacket xml = DataPacket::fromXml(p.toXml());
        const DataPacket binary = DataPacket::fromBinary(p.toBinary());
        for (const DataPacket *back : {&xml, &binary})
            if (back->fields.size() != p.fields.size() || back->rows.size() != p.rows.size()
                || back->changes.size() != p.changes.size())
                fuzz::fault();
    } catch (const PacketError &) {
        fuzz::fault(); // a packet that was read must be writable again
    }
    return 0;
}
