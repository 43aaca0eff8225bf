// The protocol's CBOR as the server and the client read it: any request body, provider
// request, error body and session map. Bad input must be refused with ProtocolError; what
// is accepted must encode and read back the same.
#include "harness.h"

#include "dataaccess/protocol/protocol.h"

#include <QCborMap>
#include <QCborValue>
#include <QCoreApplication>

using namespace quillon::protocol;

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    fuzz::makeApplication<QCoreApplication>();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray body = fuzz::bytes(data, size);
    try {
        const QCborValue v = decodeBody(body);
        // Strict decoding: what it accepts is one whole value that survives a round trip.
        if (decodeBody(v.toCbor()).toCbor() != v.toCbor())
            fuzz::fault();
        if (v.isMap()) {
            const SessionRequest request = SessionRequest::fromCbor(v.toMap());
            if (SessionRequest::fromCbor(request.toCbor()) != request)
                fuzz::fault();
            const SessionReply reply = SessionReply::fromCbor(v.toMap());
            if (SessionReply::fromCbor(reply.toCbor()).token != reply.token)
                fuzz::fault();
        }
    } catch (const ProtocolError &) {
    }
    try {
        QString commandText;
        QCborValue params;
        decodeProviderRequest(body, &commandText, &params);
        QString again;
        QCborValue againParams;
        decodeProviderRequest(encodeProviderRequest(commandText, params), &again, &againParams);
        if (again != commandText)
            fuzz::fault();
    } catch (const ProtocolError &) {
    }
    decodeError(body);
    return 0;
}
