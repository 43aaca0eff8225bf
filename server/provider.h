#pragma once

#include "dataaccess/packet/datapacket.h"
#include "server/sql/backend.h"

#include <QCborValue>
#include <QString>

namespace server {

struct SessionInfo;
struct TranslatedSql;

// Runs an Oracle-dialect query for the provider "dspPublic" (and GetData) and returns the
// rows as a data packet. Result column names of unquoted identifiers are upper case;
// a repeated name gets "_1", "_2" ... appended. Writing statements are refused.
// Callers pass a client connection (Backend::acquireForClient), so that the query sees
// only what the caller may read. Throws DbError.
quillon::DataPacket runProviderQuery(Connection &c, const QString &oracleSql,
                                     const QCborValue &params = QCborValue());
// The same answer in the binary packet form, written by the backend straight from the
// rows where it can (what the provider sends).
QByteArray runProviderQueryBinary(Connection &c, const QString &oracleSql,
                                  const QCborValue &params = QCborValue());

// A client's query as the provider and GetData run it: with the session's rights (a table
// its roles do not grant is refused with 403 naming the function to ask for) on a
// connection restricted to the session's read scope, which the engine enforces.
QByteArray runClientQuery(Backend &backend, const SessionInfo &session, const QString &oracleSql,
                          const QCborValue &params = QCborValue());
// The same, the answer handed to `out` (Connection::PacketOutput): streamed while the rows
// are stepped once it passes `streamFrom` bytes, where the backend can.
void runClientQueryStream(Backend &backend, const SessionInfo &session, const QString &oracleSql,
                          const QCborValue &params, Connection::PacketOutput &out, qsizetype streamFrom);

// The values for the placeholders of a translated statement from the request's
// parameters (array: ":1" is element 0; map: by name). Throws DbError when one is missing.
QVariantList bindProviderParams(const TranslatedSql &sql, const QCborValue &params);

} // namespace server
