#pragma once

#include "dataaccess/packet/datapacket.h"

#include <QCborValue>
#include <QString>

namespace server {

class Connection;
struct TranslatedSql;

// Runs an Oracle-dialect query for the provider "dspPublic" (and GetData) and returns the
// rows as a data packet. Result column names of unquoted identifiers are upper case;
// a repeated name gets "_1", "_2" ... appended. Writing statements are refused.
// Callers pass a connection restricted to the caller's deployment
// (Backend::acquire(sysid)), so that the query sees only its rows. Throws DbError.
quillon::DataPacket runProviderQuery(Connection &c, const QString &oracleSql,
                                     const QCborValue &params = QCborValue());
// The same answer in the binary packet form, written by the backend straight from the
// rows where it can (what the provider sends).
QByteArray runProviderQueryBinary(Connection &c, const QString &oracleSql,
                                  const QCborValue &params = QCborValue());

// The values for the placeholders of a translated statement from the request's
// parameters (array: ":1" is element 0; map: by name). Throws DbError when one is missing.
QVariantList bindProviderParams(const TranslatedSql &sql, const QCborValue &params);

} // namespace server
