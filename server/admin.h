#pragma once

#include <QCborMap>
#include <QString>
#include <stdexcept>

namespace server {

class Backend;
struct SessionInfo;

// A refused administration call; status is the HTTP status, the text is for the user.
class AdminError : public std::runtime_error
{
public:
    AdminError(int status, const QString &message)
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

// Runs one administration call (POST /waylink/v1/admin/<call>, docs/roles.md): accounts,
// roles and grants, the menu tree, sites, and the caller's own menu and password. Each
// call checks the caller's grant, runs in one transaction and, when it changes anything,
// writes a row of the operation log in that transaction. Throws AdminError (and DbError).
// clientAddress: the client's network address as the server sees it (the log's 操作IP).
QCborMap callAdmin(Backend &backend, const SessionInfo &session, const QString &call,
                   const QCborMap &args, const QString &clientAddress = QString());

// The minimum strength of a new password: at least 8 characters with letters and digits,
// not the user name. Returns an empty text when it is acceptable, else why not.
QString passwordWeakness(const QString &user, const QString &password);

} // namespace server
