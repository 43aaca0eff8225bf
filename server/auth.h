#pragma once

#include "dataaccess/protocol/protocol.h"

#include <QByteArray>
#include <QCborMap>
#include <QString>
#include <memory>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <unordered_map>

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
    // The same for the token as it came in a request header; a token verified before is
    // answered from memory (same bytes, same verdict; its expiry checked at every call).
    SessionInfo verifyRemembered(const std::string &token, qint64 now) const;
    qint64 ttl() const { return m_ttl; }

private:
    QByteArray m_key;
    qint64 m_ttl;
    mutable std::mutex m_mutex;
    mutable std::unordered_map<std::string, SessionInfo> m_verified;
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
// bumpTokenGeneration itself (in the transaction of its change).
void bumpTokenGeneration(Connection &c, const QString &user);

// No answer about a user older than this is used (the bound within which a change made
// through another server process shows here).
constexpr qint64 kTokenGenerationCacheMs = 1000;
// How often a serving process reads every user's generation (one query).
constexpr qint64 kTokenGenerationRefreshMs = 250;

// What sys_user says about the users' token generations, kept in memory by one server so
// that a request's check needs no database round trip. A bump through this server (a
// request running under its Serving scope) forgets the user at once and once more when the
// request has finished, after its transaction; a bump outside any server (the command
// line, tests) forgets the user in every server of the process; another process's change
// shows at the next refresh, and never later than kTokenGenerationCacheMs.
class TokenGenerations
{
public:
    explicit TokenGenerations(Backend &backend);
    ~TokenGenerations();
    TokenGenerations(const TokenGenerations &) = delete;
    TokenGenerations &operator=(const TokenGenerations &) = delete;

    // Throws AuthError when the session's user no longer exists, is disabled or has a newer
    // token generation; reads the user from the database when memory cannot tell.
    void check(const SessionInfo &session);
    // The same from memory only: true when the session passed, false when memory cannot
    // tell (call check() where blocking is allowed). Throws AuthError when refused.
    bool checkFromMemory(const SessionInfo &session);
    // Reads every user's generation now.
    void refresh();
    // Refreshes every kTokenGenerationRefreshMs on a thread of its own until destroyed.
    void startRefreshing();
    void forget(const QString &user);

    // Marks the current thread as serving a request of `owner`: bumps go to it alone, and
    // it forgets their users again when the scope ends (after the request's transaction).
    class Serving
    {
    public:
        explicit Serving(TokenGenerations &owner);
        ~Serving();
        Serving(const Serving &) = delete;
        Serving &operator=(const Serving &) = delete;

    private:
        TokenGenerations *m_previous;
    };

    struct Impl;

private:
    std::unique_ptr<Impl> d;
};

// sysid of a user name: its first three characters.
QString sysidOf(const QString &user);

// The signing key of the database (created by the schema).
QByteArray tokenKey(Connection &c);

} // namespace server
