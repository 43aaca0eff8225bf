#pragma once

#include "server/auth.h"

#include <QCborArray>
#include <QString>
#include <stdexcept>

namespace server {

class Backend;
class FileAreas;

// A refused method call (unknown method, wrong parameters); status is the HTTP status.
class MethodError : public std::runtime_error
{
public:
    MethodError(int status, const QString &message)
        : std::runtime_error(message.toStdString())
        , m_status(status)
        , m_message(message)
    {}
    int status() const noexcept { return m_status; }
    const QString &message() const noexcept { return m_message; }

private:
    int m_status;
    QString m_message;
};

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
// Throws MethodError, DbError, ApplyError, FileError.
QCborArray callServerMethod(MethodContext &ctx, const QString &method, const QCborArray &request);

// GetLstValue: "" or "*" gives every session line (name=value, CR LF separated);
// "ServerTime" the server's clock ("yyyy-MM-dd HH:mm:ss"); a line name its value;
// anything else an empty text.
QString sessionValue(const SessionInfo &session, const QString &name);

} // namespace server
