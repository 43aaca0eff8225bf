#include "server/auth.h"

#include "server/sql/backend.h"
#include "server/sql/oracledialect.h"

#include <QDateTime>
#include <QHash>
#include <mutex>
#include <utility>
#include <sodium.h>

namespace server {

namespace {
bool sodiumReady()
{
    static const bool ok = sodium_init() >= 0;
    return ok;
}

QByteArray b64(const QByteArray &data)
{
    return data.toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals);
}
} // namespace

QCborMap SessionInfo::toUserMap() const
{
    QCborMap m;
    m.insert(QStringLiteral("sysid"), sysid);
    m.insert(QStringLiteral("LogOnUser"), user);
    m.insert(QStringLiteral("LogOnSiteCode"), siteCode);
    m.insert(QStringLiteral("LogOnSiteName"), siteName);
    m.insert(QStringLiteral("LogOnEmpName"), empName);
    m.insert(QStringLiteral("LogOnTime"),
             canonicalDate(QDateTime::fromSecsSinceEpoch(issuedAt)));
    m.insert(QStringLiteral("LogOnFinance"), finance);
    m.insert(QStringLiteral("LogOnBelongSite"), belongSite);
    m.insert(QStringLiteral("LogOnFBType"), fbType);
    m.insert(QStringLiteral("LogOnFinanceType"), financeCentre ? QStringLiteral("1")
                                                               : QStringLiteral("0"));
    m.insert(QStringLiteral("DBSid"), dbSid);
    m.insert(QStringLiteral("ClientMAC"), clientMac);
    return m;
}

TokenSigner::TokenSigner(const QByteArray &key, qint64 ttlSeconds)
    : m_key(key)
    , m_ttl(ttlSeconds)
{
    sodiumReady();
    if (m_key.size() < 16)
        throw AuthError(QStringLiteral("token key too short"));
}

QString TokenSigner::issue(SessionInfo &info, qint64 now) const
{
    info.issuedAt = now;
    info.expiresAt = now + m_ttl;
    QCborArray a = {info.user, info.sysid, info.siteCode, info.siteName, info.empName,
                    info.finance, info.belongSite, info.fbType, info.financeCentre,
                    info.clientMac, info.dbSid, info.issuedAt, info.expiresAt,
                    info.tokenGeneration};
    const QByteArray payload = a.toCborValue().toCbor();
    QByteArray mac(crypto_auth_hmacsha256_BYTES, '\0');
    crypto_auth_hmacsha256(reinterpret_cast<unsigned char *>(mac.data()),
                           reinterpret_cast<const unsigned char *>(payload.constData()),
                           quint64(payload.size()),
                           reinterpret_cast<const unsigned char *>(m_key.left(32).constData()));
    return QString::fromLatin1(b64(payload) + '.' + b64(mac));
}

SessionInfo TokenSigner::verify(const QString &token, qint64 now) const
{
    const QByteArray t = token.toLatin1();
    const qsizetype dot = t.indexOf('.');
    if (token.isEmpty() || dot <= 0)
        throw AuthError(QStringLiteral("invalid session token"));
    const auto opts = QByteArray::Base64UrlEncoding | QByteArray::AbortOnBase64DecodingErrors;
    const auto payload = QByteArray::fromBase64Encoding(t.left(dot), opts);
    const auto mac = QByteArray::fromBase64Encoding(t.mid(dot + 1), opts);
    if (!payload || !mac || mac.decoded.size() != crypto_auth_hmacsha256_BYTES)
        throw AuthError(QStringLiteral("invalid session token"));
    if (crypto_auth_hmacsha256_verify(reinterpret_cast<const unsigned char *>(mac.decoded.constData()),
                                      reinterpret_cast<const unsigned char *>(payload.decoded.constData()),
                                      quint64(payload.decoded.size()),
                                      reinterpret_cast<const unsigned char *>(
                                          m_key.left(32).constData()))
        != 0)
        throw AuthError(QStringLiteral("invalid session token"));
    const QCborArray a = QCborValue::fromCbor(payload.decoded).toArray();
    if (a.size() != 14)
        throw AuthError(QStringLiteral("invalid session token"));
    SessionInfo info;
    info.user = a.at(0).toString();
    info.sysid = a.at(1).toString();
    info.siteCode = a.at(2).toString();
    info.siteName = a.at(3).toString();
    info.empName = a.at(4).toString();
    info.finance = a.at(5).toString();
    info.belongSite = a.at(6).toString();
    info.fbType = a.at(7).toString();
    info.financeCentre = a.at(8).toBool();
    info.clientMac = a.at(9).toString();
    info.dbSid = int(a.at(10).toInteger());
    info.issuedAt = a.at(11).toInteger();
    info.expiresAt = a.at(12).toInteger();
    info.tokenGeneration = a.at(13).toInteger();
    if (now >= info.expiresAt)
        throw AuthError(QStringLiteral("session expired: log on again"));
    return info;
}

QString hashPassword(const QString &password, bool fast)
{
    sodiumReady();
    const QByteArray pw = password.toUtf8();
    char out[crypto_pwhash_STRBYTES];
    const unsigned long long ops = fast ? crypto_pwhash_OPSLIMIT_MIN
                                        : crypto_pwhash_OPSLIMIT_INTERACTIVE;
    const size_t mem = fast ? crypto_pwhash_MEMLIMIT_MIN : crypto_pwhash_MEMLIMIT_INTERACTIVE;
    if (crypto_pwhash_str_alg(out, pw.constData(), quint64(pw.size()), ops, mem,
                              crypto_pwhash_ALG_ARGON2ID13)
        != 0)
        throw AuthError(QStringLiteral("out of memory while hashing a password"));
    return QString::fromLatin1(out);
}

bool verifyPassword(const QString &hash, const QString &password)
{
    sodiumReady();
    const QByteArray h = hash.toLatin1();
    const QByteArray pw = password.toUtf8();
    return crypto_pwhash_str_verify(h.constData(), pw.constData(), quint64(pw.size())) == 0;
}

const QString &dummyPasswordHash()
{
    static const QString hash = [] {
        sodiumReady();
        QByteArray secret(32, '\0');
        randombytes_buf(secret.data(), size_t(secret.size()));
        return hashPassword(QString::fromLatin1(secret.toHex()));
    }();
    return hash;
}

QString sysidOf(const QString &user)
{
    return user.left(3);
}

namespace {
bool validUserName(const QString &user)
{
    if (user == QLatin1String("dk"))
        return true;
    return user.size() >= 5 && user.at(3) == QLatin1Char('.');
}
} // namespace

SessionInfo logOn(Connection &c, const quillon::protocol::SessionRequest &request)
{
    using quillon::protocol::AuthUser;
    const AuthUser parts = AuthUser::split(request.authenticationUser);
    QString user = parts.userName.isEmpty() ? request.userName : parts.userName;
    QString site = parts.siteCode.isEmpty() ? request.siteCode : parts.siteCode;
    user = user.trimmed();
    site = site.trimmed();
    if (user.isEmpty())
        throw AuthError(QStringLiteral("请输入用户名"));
    const QueryResult r = c.query(QStringLiteral("select u.PWHASH, u.ENABLED, u.SITECODE, u.EMPNAME, "
                                                 "u.sysid, s.SiteName, s.FINANCECENTER, "
                                                 "s.BELONGSITE, s.FBTYPE, s.ISFINANCE, "
                                                 "u.TOKENGEN "
                                                 "from sys_user u left join tab_Site s "
                                                 "on s.SiteCode=u.SITECODE and s.sysid=u.sysid "
                                                 "where u.USERCODE=?"),
                                  {user}, true);
    // The same answer, after the same work, for an unknown user and a wrong password: an
    // unknown user is checked against a dummy hash of the usual cost, so that timing does
    // not tell which user names exist.
    const bool known = !r.rows.isEmpty();
    const bool passwordOk = verifyPassword(known ? r.rows.first().at(0).toString() : dummyPasswordHash(),
                                           request.authenticationPassword);
    if (!known || !passwordOk)
        throw AuthError(QStringLiteral("用户名或密码错误"));
    const QVariantList &row = r.rows.first();
    if (row.at(1).toInt() != 1)
        throw AuthError(QStringLiteral("用户已停用"));
    if (row.at(2).toString() != site)
        throw AuthError(QStringLiteral("网点编号与用户不符"));
    SessionInfo info;
    info.user = user;
    info.sysid = row.at(4).toString();
    info.siteCode = site;
    info.empName = row.at(3).toString();
    info.siteName = row.at(5).toString();
    info.finance = row.at(6).toString();
    info.belongSite = row.at(7).toString();
    info.fbType = row.at(8).toString();
    info.financeCentre = row.at(9).toInt() == 1;
    info.tokenGeneration = row.at(10).toLongLong();
    info.clientMac = parts.macName.isEmpty() ? request.clientMac : parts.macName;
    bool ok = false;
    const int sid = parts.dbSid.toInt(&ok);
    info.dbSid = ok ? sid : request.dbSid;
    if (user == QLatin1String("dk")) {
        info.siteName = QStringLiteral("总部");
        info.empName = QStringLiteral("超级管理员");
    }
    return info;
}

void addUser(Connection &c, const QString &user, const QString &password, const QString &siteCode,
             const QString &empName, bool fastHash)
{
    if (!validUserName(user))
        throw AuthError(QStringLiteral("a user name is three characters, a full stop and a name "
                                       "(or \"dk\"): %1")
                            .arg(user));
    if (password.isEmpty())
        throw AuthError(QStringLiteral("the password must not be empty"));
    const QString sysid = sysidOf(user);
    if (user != QLatin1String("dk")
        && c.query(QStringLiteral("select 1 from tab_Site where SiteCode=? and sysid=?"),
                   {siteCode, sysid}, true)
               .rows.isEmpty())
        throw AuthError(QStringLiteral("no site %1 in deployment %2").arg(siteCode, sysid));
    if (!c.query(QStringLiteral("select 1 from sys_user where USERCODE=?"), {user}, true).rows.isEmpty())
        throw AuthError(QStringLiteral("user %1 exists already").arg(user));
    c.execute(QStringLiteral("insert into sys_user (USERCODE, SITECODE, EMPNAME, PWHASH, ENABLED, "
                             "sysid, CREATETIME) values (?,?,?,?,1,?,?)"),
              {user, siteCode, empName, hashPassword(password, fastHash), sysid,
               QDateTime::currentDateTime()});
}

void setPassword(Connection &c, const QString &user, const QString &password, bool fastHash)
{
    if (password.isEmpty())
        throw AuthError(QStringLiteral("the password must not be empty"));
    if (c.execute(QStringLiteral("update sys_user set PWHASH=? where USERCODE=?"),
                  {hashPassword(password, fastHash), user})
        == 0)
        throw AuthError(QStringLiteral("no user %1").arg(user));
    bumpTokenGeneration(c, user);
}

void setUserEnabled(Connection &c, const QString &user, bool enabled)
{
    if (c.execute(QStringLiteral("update sys_user set ENABLED=? where USERCODE=?"),
                  {enabled ? 1 : 0, user})
        == 0)
        throw AuthError(QStringLiteral("no user %1").arg(user));
    bumpTokenGeneration(c, user);
}

void deleteUser(Connection &c, const QString &user)
{
    if (c.execute(QStringLiteral("delete from sys_user where USERCODE=?"), {user}) == 0)
        throw AuthError(QStringLiteral("no user %1").arg(user));
    bumpTokenGeneration(c, user);
}

namespace {
// What sys_user said about a user a moment ago, per database.
class GenerationCache
{
public:
    struct Entry
    {
        bool exists = false;
        bool enabled = false;
        qint64 generation = 0;
        qint64 readAtMs = 0;
    };

    std::optional<Entry> find(const QString &key, qint64 nowMs)
    {
        std::lock_guard lock(m_mutex);
        const auto it = m_entries.constFind(key);
        if (it == m_entries.constEnd() || nowMs - it->readAtMs >= kTokenGenerationCacheMs
            || nowMs < it->readAtMs)
            return std::nullopt;
        return *it;
    }
    // epoch: forgets() counted before the read; a read that overlapped a bump is not kept.
    void store(const QString &key, const Entry &e, quint64 epoch)
    {
        std::lock_guard lock(m_mutex);
        if (epoch != m_epoch)
            return;
        if (m_entries.size() > 10000)
            m_entries.clear();
        m_entries.insert(key, e);
    }
    quint64 epoch()
    {
        std::lock_guard lock(m_mutex);
        return m_epoch;
    }
    void forget(const QString &user)
    {
        std::lock_guard lock(m_mutex);
        ++m_epoch;
        const QString suffix = QLatin1Char('\n') + user;
        for (auto it = m_entries.begin(); it != m_entries.end();) {
            if (it.key().endsWith(suffix))
                it = m_entries.erase(it);
            else
                ++it;
        }
    }

private:
    std::mutex m_mutex;
    QHash<QString, Entry> m_entries; // "database\nuser"
    quint64 m_epoch = 0;
};

GenerationCache &generationCache()
{
    static GenerationCache cache;
    return cache;
}
} // namespace

namespace {
// Users whose generation this thread bumped in a transaction not yet settled.
thread_local QStringList t_bumped;
} // namespace

void bumpTokenGeneration(Connection &c, const QString &user)
{
    c.execute(QStringLiteral("update sys_user set TOKENGEN=coalesce(TOKENGEN,0)+1 where USERCODE=?"),
              {user});
    generationCache().forget(user);
    if (!t_bumped.contains(user))
        t_bumped.append(user);
}

void forgetBumpedGenerations()
{
    // A request that read the old generation between the bump and the commit may have
    // cached it; forgetting after the commit (with a new epoch, so that a read still in
    // flight is not kept) leaves only reads of the committed value.
    const QStringList users = std::exchange(t_bumped, QStringList());
    for (const QString &user : users)
        generationCache().forget(user);
}

void checkTokenGeneration(Backend &backend, const SessionInfo &session)
{
    const QString key = backend.describe() + QLatin1Char('\n') + session.user;
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    GenerationCache &cache = generationCache();
    std::optional<GenerationCache::Entry> e = cache.find(key, now);
    if (!e) {
        const quint64 epoch = cache.epoch();
        GenerationCache::Entry fresh;
        {
            auto conn = backend.acquireForServer();
            const QueryResult r = conn->query(QStringLiteral("select ENABLED, TOKENGEN from sys_user "
                                                             "where USERCODE=?"),
                                              {session.user}, true);
            if (!r.rows.isEmpty()) {
                fresh.exists = true;
                fresh.enabled = r.rows.first().at(0).toInt() == 1;
                fresh.generation = r.rows.first().at(1).toLongLong();
            }
        }
        fresh.readAtMs = now;
        cache.store(key, fresh, epoch);
        e = fresh;
    }
    if (!e->exists || !e->enabled || e->generation != session.tokenGeneration)
        throw AuthError(QStringLiteral("登录已失效（密码已修改或用户已停用），请重新登录"));
}

QByteArray tokenKey(Connection &c)
{
    const QueryResult r = c.query(QStringLiteral("select VALUE from sys_server where NAME='token_key'"),
                                  {}, true);
    if (r.rows.isEmpty())
        throw AuthError(QStringLiteral("the database has no signing key: run init first"));
    return r.rows.first().first().toByteArray();
}

} // namespace server
