#pragma once

#include "dataaccess/protocol/protocol.h"

#include <QByteArray>
#include <QCborMap>
#include <QString>
#include <optional>
#include <stdexcept>

namespace server {

class Connection;

// A refused log-on or token; the text is for the user.
class AuthError : public std::runtime_error
{
public:
    explicit AuthError(const QString &message)
        : std::runtime_error(message.toStdString())
        , m_message(message)
    {}
    const QString &message() const noexcept { return m_message; }

private:
    QString m_message;
};

// Who is calling: what the log-on found out, carried inside the signed token.
struct SessionInfo
{
    QString user;       // user name as entered ("001.zhang", "dk")
    QString sysid;      // first three characters of the user name
    QString siteCode;
    QString siteName;
    QString empName;
    QString finance;    // finance centre of the user's site
    QString belongSite; // parent site
    QString fbType;     // site type
    bool financeCentre = false;
    QString clientMac;
    int dbSid = 1;
    qint64 issuedAt = 0;  // seconds since the epoch
    qint64 expiresAt = 0;

    // The log-on values as name=value lines and as a map ("LogOnSiteName", ...).
    QCborMap toUserMap() const;
};

// Issues and checks signed, expiring session tokens (HMAC-SHA-256 over a CBOR payload).
class TokenSigner
{
public:
    TokenSigner(const QByteArray &key, qint64 ttlSeconds);
    QString issue(SessionInfo &info, qint64 now) const; // sets issuedAt/expiresAt
    // Throws AuthError when the token is malformed, forged or expired at `now`.
    SessionInfo verify(const QString &token, qint64 now) const;
    qint64 ttl() const { return m_ttl; }

private:
    QByteArray m_key;
    qint64 m_ttl;
};

// argon2id password hashes. fast: minimal cost (tests and benchmarks only).
QString hashPassword(const QString &password, bool fast = false);
bool verifyPassword(const QString &hash, const QString &password);
// A hash of a random password at the usual cost: what an unknown user is checked against.
const QString &dummyPasswordHash();

// Checks the log-on against sys_user and fills the session (without token times).
// Throws AuthError with a message for the user.
SessionInfo logOn(Connection &c, const quillon::protocol::SessionRequest &request);

// Administration. Throws AuthError on bad input (unknown site, bad user name ...).
void addUser(Connection &c, const QString &user, const QString &password,
             const QString &siteCode, const QString &empName, bool fastHash = false);
void setPassword(Connection &c, const QString &user, const QString &password,
                 bool fastHash = false);

// sysid of a user name: its first three characters.
QString sysidOf(const QString &user);

// The signing key of the database (created by the schema).
QByteArray tokenKey(Connection &c);

} // namespace server
