#pragma once

#include "server/servererror.h"

#include "dataaccess/packet/datapacket.h"
#include "server/oplog.h"

#include <QString>
#include <functional>
#include <stdexcept>

namespace server {

class Connection;

// Applies the change log of an XML data packet to a table in one transaction:
// inserts, updates matched on the table's primary key with the original values
// (a row changed or deleted meanwhile is a conflict), deletes. Packet columns that the
// table lacks are ignored; a change that touches only such columns does nothing.
// Every written row must belong to `sysid` (rows without the column are stamped with it).
// All or nothing: any failure rolls back and throws ServerError.
// Changes and deletions in tables that the deployment logs are written to the operation
// log in the same transaction, stamped with `actor`.
// Returns the packet as it now stands: change log empty, written rows re-read.
// authorize, when given, is called with the table (as declared), the operations that the
// change log holds ("I", "U", "D" in that order) and the packet before anything is written;
// it refuses by throwing ServerError, and may fill columns of the rows (values the server
// decides, such as who did it).
using ApplyAuthorizer = std::function<void(const QString &table, const QString &ops,
                                           quillon::DataPacket &packet)>;
// beforeCommit, when given, is called with the refreshed packet inside the transaction,
// just before the commit (the request id of the call is stored with it there).
using ApplyRecorder = std::function<void(const quillon::DataPacket &refreshed)>;
// updatableColumns, when not empty: the only columns an update may change; the engine
// itself refuses any other (Connection::beginLimitedUpdate), 403 and nothing written.
quillon::DataPacket applyData(Connection &c, const QString &table, const QString &xml,
                              const QString &sysid, const OpActor &actor = OpActor(),
                              const ApplyAuthorizer &authorize = {},
                              const ApplyRecorder &beforeCommit = {},
                              const QStringList &updatableColumns = {});

// Whether every backend stores `text` exactly as sent: no NUL (PostgreSQL would cut the
// text there) and no unpaired UTF-16 surrogate (it would be stored as U+FFFD).
bool isStorableText(const QString &text);
// What the user is told when a text is not: where, and what to do.
QString unstorableTextMessage(const QString &where);

// Tables that only the server writes (users, server keys).
bool isProtectedTable(const QString &table);

} // namespace server
