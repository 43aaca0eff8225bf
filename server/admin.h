#pragma once

#include "server/servererror.h"

#include <QCborMap>
#include <QString>
#include <stdexcept>

namespace server {

class Backend;
struct SessionInfo;

// Runs one administration call (POST /waylink/v1/admin/<call>, docs/roles.md): accounts,
// roles and grants, the menu tree, sites, and the caller's own menu and password. Each
// call checks the caller's grant, runs in one transaction and, when it changes anything,
// writes a row of the operation log in that transaction. Throws ServerError (and DbError).
// clientAddress: the client's network address as the server sees it (the log's 操作IP).
QCborMap callAdmin(Backend &backend, const SessionInfo &session, const QString &call,
                   const QCborMap &args, const QString &clientAddress = QString());

// The minimum strength of a new password: at least 8 characters with letters and digits,
// not the user name. Returns an empty text when it is acceptable, else why not.
QString passwordWeakness(const QString &user, const QString &password);

} // namespace server
