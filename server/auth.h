#pragma once

#include "dataaccess/protocol/protocol.h"

#include <QByteArray>
#include <QCborMap>
#include <QString>
#include <optional>
#include <stdexcept>

namespace server {

class Backend;
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
    qint64 tokenGeneration = 0; // the user's token generation at log-on (sys_user.TOKENGEN)

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

// Disables or enables a user; disabling refuses the user's tokens at once.
void setUserEnabled(Connection &c, const QString &user, bool enabled);
// Deletes a user; the user's tokens are refused at their next request.
void deleteUser(Connection &c, const QString &user);

// Token generations: every token carries the generation of its user at log-on; a password
// change, disabling or deleting the user increments it, so older tokens are refused at
// their next request. Administration code that changes a user's rights calls
// bumpTokenGeneration itself (in the transaction of its change); the local cache of the
// process forgets the user at once, other server processes within kTokenGenerationCacheMs.
void bumpTokenGeneration(Connection &c, const QString &user);
// After the transaction of a bump has committed (or rolled back): forgets those users
// again, so that no request that starts after the answer uses a generation read before
// the commit. Called by the administration calls once their transaction has ended.
void forgetBumpedGenerations();
constexpr qint64 kTokenGenerationCacheMs = 2000;
// Throws AuthError when the session's user no longer exists, is disabled or has a newer
// token generation. Reads sys_user at most once per user and kTokenGenerationCacheMs.
void checkTokenGeneration(Backend &backend, const SessionInfo &session);

// sysid of a user name: its first three characters.
QString sysidOf(const QString &user);

// The signing key of the database (created by the schema).
QByteArray tokenKey(Connection &c);

} // namespace server
