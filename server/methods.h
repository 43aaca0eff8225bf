#pragma once

#include "server/servererror.h"

#include "server/auth.h"

#include <QCborArray>
#include <QString>
#include <stdexcept>

namespace server {

class Backend;
class FileAreas;

struct MethodContext
{
    Backend &backend;
    const FileAreas &files; // the session sees its deployment's area and the update files
    const SessionInfo &session;
    QString clientAddress; // as the server saw it (the operation log records it)
    QString requestId;     // ApplyData: the client's id of this change (empty: none)
};

// Runs one of the fourteen methods of TfrmServerMethods. request: one value per
// non-result position; returns one value per position (in positions null).
// Throws ServerError, DbError, ServerError, ServerError.
QCborArray callServerMethod(MethodContext &ctx, const QString &method, const QCborArray &request);

// GetLstValue: "" or "*" gives every session line (name=value, CR LF separated);
// "ServerTime" the server's clock ("yyyy-MM-dd HH:mm:ss"); a line name its value;
// anything else an empty text.
QString sessionValue(const SessionInfo &session, const QString &name);

} // namespace server
