#include "server/auth.h"

#include "server/sql/backend.h"
#include "server/sql/oracledialect.h"

#include <QDateTime>
#include <QHash>
#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>
#include <pthread.h>
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

SessionInfo TokenSigner::verifyRemembered(const std::string &token, qint64 now) const
{
    {
        std::lock_guard lock(m_mutex);
        const auto it = m_verified.find(token);
        if (it != m_verified.end()) {
            if (now >= it->second.expiresAt)
                throw AuthError(QStringLiteral("session expired: log on again"));
            return it->second;
        }
    }
    SessionInfo info = verify(QString::fromLatin1(token.data(), qsizetype(token.size())), now);
    std::lock_guard lock(m_mutex);
    if (m_verified.size() >= 10000) // as many sessions as a server holds; start afresh beyond
        m_verified.clear();
    m_verified.emplace(token, info);
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
// The servers of this process, for bumps made outside any request.
std::mutex g_registryMutex;
std::vector<TokenGenerations *> g_registry;
// The server whose request the thread runs, and the users it bumped meanwhile.
thread_local TokenGenerations *t_serving = nullptr;
thread_local QStringList t_bumped;

qint64 nowMs()
{
    return QDateTime::currentMSecsSinceEpoch();
}
} // namespace

struct TokenGenerations::Impl
{
    struct Entry
    {
        bool exists = false;
        bool enabled = false;
        qint64 generation = 0;
        qint64 readAtMs = 0; // when the read began: the entry is at least that fresh
    };

    explicit Impl(Backend &b)
        : backend(b)
    {}

    std::optional<Entry> find(const QString &user, qint64 now)
    {
        std::lock_guard lock(mutex);
        const auto it = entries.constFind(user);
        if (it == entries.constEnd() || now - it->readAtMs >= kTokenGenerationCacheMs || now < it->readAtMs)
            return std::nullopt;
        return *it;
    }
    quint64 currentEpoch()
    {
        std::lock_guard lock(mutex);
        return epoch;
    }
    // epoch: forget() counted before the read began; a read that overlapped one is dropped,
    // it may have seen the database before the change.
    void store(const QString &user, const Entry &e, quint64 readEpoch)
    {
        std::lock_guard lock(mutex);
        if (readEpoch != epoch)
            return;
        if (entries.size() > 100000)
            entries.clear();
        entries.insert(user, e);
    }
    void storeAll(QHash<QString, Entry> &&all, quint64 readEpoch)
    {
        std::lock_guard lock(mutex);
        if (readEpoch == epoch)
            entries = std::move(all);
    }

    static void verdict(const Entry &e, const SessionInfo &session)
    {
        if (!e.exists || !e.enabled || e.generation != session.tokenGeneration)
            throw AuthError(QStringLiteral("登录已失效（密码已修改或用户已停用），请重新登录"));
    }

    Backend &backend;
    std::mutex mutex;
    QHash<QString, Entry> entries; // by user name
    quint64 epoch = 0;

    std::mutex wakeMutex;
    std::condition_variable wake;
    bool stopping = false;
    std::thread refresher;
};

TokenGenerations::TokenGenerations(Backend &backend)
    : d(std::make_unique<Impl>(backend))
{
    std::lock_guard lock(g_registryMutex);
    g_registry.push_back(this);
}

TokenGenerations::~TokenGenerations()
{
    {
        std::lock_guard lock(d->wakeMutex);
        d->stopping = true;
    }
    d->wake.notify_all();
    if (d->refresher.joinable())
        d->refresher.join();
    std::lock_guard lock(g_registryMutex);
    g_registry.erase(std::remove(g_registry.begin(), g_registry.end(), this), g_registry.end());
}

bool TokenGenerations::checkFromMemory(const SessionInfo &session)
{
    const std::optional<Impl::Entry> e = d->find(session.user, nowMs());
    if (!e)
        return false;
    Impl::verdict(*e, session);
    return true;
}

void TokenGenerations::check(const SessionInfo &session)
{
    if (checkFromMemory(session))
        return;
    const quint64 epoch = d->currentEpoch();
    Impl::Entry fresh;
    fresh.readAtMs = nowMs();
    {
        auto conn = d->backend.acquire();
        const QueryResult r = conn->query(QStringLiteral("select ENABLED, TOKENGEN from sys_user "
                                                         "where USERCODE=?"),
                                          {session.user}, true);
        if (!r.rows.isEmpty()) {
            fresh.exists = true;
            fresh.enabled = r.rows.first().at(0).toInt() == 1;
            fresh.generation = r.rows.first().at(1).toLongLong();
        }
    }
    d->store(session.user, fresh, epoch);
    Impl::verdict(fresh, session);
}

void TokenGenerations::refresh()
{
    const quint64 epoch = d->currentEpoch();
    const qint64 readAt = nowMs();
    QHash<QString, Impl::Entry> all;
    {
        auto conn = d->backend.acquire();
        const QueryResult r = conn->query(QStringLiteral("select USERCODE, ENABLED, TOKENGEN from sys_user"),
                                          {}, true);
        all.reserve(r.rows.size());
        for (const auto &row : r.rows) {
            Impl::Entry e;
            e.exists = true;
            e.enabled = row.at(1).toInt() == 1;
            e.generation = row.at(2).toLongLong();
            e.readAtMs = readAt;
            all.insert(row.at(0).toString(), e);
        }
    }
    d->storeAll(std::move(all), epoch);
}

void TokenGenerations::startRefreshing()
{
    if (d->refresher.joinable())
        return;
    d->refresher = std::thread([this] {
        pthread_setname_np(pthread_self(), "wl-generations");
        std::unique_lock lock(d->wakeMutex);
        while (!d->stopping) {
            lock.unlock();
            try {
                refresh();
            } catch (const std::exception &) {
                // The database is away: entries age out and requests read it themselves.
            }
            lock.lock();
            d->wake.wait_for(lock, std::chrono::milliseconds(kTokenGenerationRefreshMs),
                             [this] { return d->stopping; });
        }
    });
}

void TokenGenerations::forget(const QString &user)
{
    std::lock_guard lock(d->mutex);
    ++d->epoch;
    d->entries.remove(user);
}

TokenGenerations::Serving::Serving(TokenGenerations &owner)
    : m_previous(t_serving)
{
    t_serving = &owner;
}

TokenGenerations::Serving::~Serving()
{
    // The request's transaction has ended: a read that ran meanwhile may have seen the
    // database before the bump's commit.
    if (t_serving)
        for (const QString &user : std::as_const(t_bumped))
            t_serving->forget(user);
    t_bumped.clear();
    t_serving = m_previous;
}

void bumpTokenGeneration(Connection &c, const QString &user)
{
    c.execute(QStringLiteral("update sys_user set TOKENGEN=coalesce(TOKENGEN,0)+1 where USERCODE=?"),
              {user});
    if (t_serving) {
        t_serving->forget(user);
        t_bumped.append(user);
        return;
    }
    std::lock_guard lock(g_registryMutex);
    for (TokenGenerations *g : g_registry)
        g->forget(user);
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
