// The binary data packet as the client reads it: whole (DataPacket::fromBinary) and
// streamed in pieces into the dataset's storage (PacketStreamReader, RecordStoreLoader).
// Both must agree on what they accept; what is accepted is consistent and survives both
// encodings.
#include "harness.h"

#include "dataaccess/packet/packetstream.h"
#include "dataaccess/recordstore.h"

#include <QCoreApplication>

#include <optional>

using namespace quillon;

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    fuzz::makeApplication<QCoreApplication>();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes = fuzz::bytes(data, size);
    std::optional<DataPacket> whole;
    try {
        whole = DataPacket::fromBinary(bytes);
    } catch (const PacketError &) {
    }

    // Pieces of changing sizes, as a network delivers them.
    RecordStore store;
    RecordStoreLoader loader(store);
    bool streamed = false;
    try {
        PacketStreamReader reader(loader);
        size_t at = 0;
        size_t piece = size ? 1 + data[size - 1] % 61 : 1;
        while (at < size) {
            const size_t n = std::min(piece, size - at);
            reader.feed(QByteArrayView(bytes.constData() + at, qsizetype(n)));
            at += n;
            piece = piece * 7 % 113 + 1;
        }
        reader.finish();
        store.finishLoading();
        streamed = true;
    } catch (const PacketError &) {
    }
    if (streamed != whole.has_value())
        fuzz::fault();
    if (!whole)
        return 0;
    if (store.size() != size_t(whole->rows.size()) || loader.changeLog.size() != whole->changes.size())
        fuzz::fault();
    for (qsizetype r = 0; r < whole->rows.size(); ++r)
        for (int f = 0; f < whole->fields.size(); ++f)
            if (store.isNull(int(r), f) != whole->rows.at(r).at(f).isNull())
                fuzz::fault();
    try {
        whole->validate();
        const DataPacket again = DataPacket::fromBinary(whole->toBinary());
        const DataPacket fromXml = DataPacket::fromXml(whole->toXml());
        if (again.rows.size() != whole->rows.size() || fromXml.rows.size() != whole->rows.size()
            || again.changes.size() != whole->changes.size()
            || fromXml.changes.size() != whole->changes.size())
            fuzz::fault();
    } catch (const PacketError &) {
        fuzz::fault(); // a packet read from the wire must be writable again
    }
    return 0;
}
