#include "server/sharedstate.h"

#include "server/applydata.h"
#include "server/sql/backend.h"

#include <QDateTime>
#include <QRegularExpression>

namespace server {

namespace {

constexpr qint64 kOutcomeKeptMs = 7LL * 24 * 3600 * 1000;

qint64 nowMs()
{
    return QDateTime::currentMSecsSinceEpoch();
}

QString userKey(const QString &user)
{
    return QStringLiteral("u:") + user.left(150);
}

QString addressKey(const QString &address)
{
    return QStringLiteral("a:") + address.left(150);
}

} // namespace

void ensureSharedStateSchema(Connection &c)
{
    c.executeScript(QStringLiteral(R"SQL(
create table if not exists sys_request (
  REQID VARCHAR2(64) not null,
  USERCODE VARCHAR2(60) not null,
  RESULT BLOB,
  CREATED BIGINT not null,
  sysid VARCHAR2(3) not null,
  primary key (sysid, REQID));
create index if not exists sys_request_created on sys_request (CREATED);
create table if not exists sys_logonfail (
  NAME VARCHAR2(160) primary key,
  FAILURES INTEGER not null,
  LASTFAIL BIGINT not null);
)SQL"));
}

bool isValidRequestId(const QString &id)
{
    static const QRegularExpression re(QStringLiteral("^[A-Za-z0-9_-]{8,64}$"));
    return re.match(id).hasMatch();
}

std::optional<QByteArray> storedOutcome(Connection &c, const QString &sysid,
                                        const QString &requestId, const QString &user)
{
    const QueryResult r = c.query(
        QStringLiteral("select USERCODE, RESULT from sys_request where sysid=? and REQID=?"),
        {sysid, requestId}, false);
    if (r.rows.isEmpty())
        return std::nullopt;
    if (r.rows.first().value(0).toString() != user)
        throw ServerError(409, QStringLiteral("这次保存的请求编号已被其他用户使用，请重新保存。"));
    return r.rows.first().value(1).toByteArray();
}

void recordOutcome(Connection &c, const QString &sysid, const QString &requestId,
                   const QString &user, const QByteArray &packet)
{
    const qint64 now = nowMs();
    c.execute(QStringLiteral("delete from sys_request where CREATED < ?"), {now - kOutcomeKeptMs});
    c.execute(QStringLiteral("insert into sys_request (REQID, USERCODE, RESULT, CREATED, sysid) "
                             "values (?,?,?,?,?)"),
              {requestId, user, packet, now, sysid});
}

SharedLogOnThrottle::ms SharedLogOnThrottle::delayAfter(const LogOnThrottlePolicy &p,
                                                        int failures, int free)
{
    if (failures < free)
        return ms(0);
    const int doublings = std::min(failures - free, 20);
    const qint64 d = p.firstDelay.count() << doublings;
    return ms(std::min<qint64>(d, p.maxDelay.count()));
}

SharedLogOnThrottle::ms SharedLogOnThrottle::waitFor(const QString &user, const QString &address)
{
    QueryResult r;
    try {
        auto c = m_backend.acquireForServer();
        r = c->query(QStringLiteral("select NAME, FAILURES, LASTFAIL from sys_logonfail "
                                    "where NAME in (?, ?)"),
                     {userKey(user), addressKey(address)}, false);
    } catch (const DbError &) {
        return ms(0);
    }
    const qint64 now = nowMs();
    const qint64 forget = qint64(m_policy.forgetAfter.count()) * 1000;
    ms wait(0);
    for (const QVariantList &row : std::as_const(r.rows)) {
        const qint64 last = row.value(2).toLongLong();
        if (now - last > forget)
            continue;
        const bool isUser = row.value(0).toString().startsWith(QLatin1String("u:"));
        const ms delay = delayAfter(m_policy, row.value(1).toInt(),
                                    isUser ? m_policy.freeUserFailures
                                           : m_policy.freeAddressFailures);
        const qint64 until = last + delay.count();
        if (until > now)
            wait = std::max(wait, ms(until - now));
    }
    return wait;
}

void SharedLogOnThrottle::failed(const QString &user, const QString &address)
{
    const qint64 now = nowMs();
    const qint64 forget = qint64(m_policy.forgetAfter.count()) * 1000;
    try {
        auto c = m_backend.acquireForServer();
        // One statement per key: concurrent failures on several servers all count.
        for (const QString &key : {userKey(user), addressKey(address)})
            c->execute(QStringLiteral(
                           "insert into sys_logonfail (NAME, FAILURES, LASTFAIL) values (?, 1, ?) "
                           "on conflict (NAME) do update set FAILURES = case when "
                           "excluded.LASTFAIL - sys_logonfail.LASTFAIL > ? then 1 "
                           "else sys_logonfail.FAILURES + 1 end, LASTFAIL = excluded.LASTFAIL"),
                       {key, now, forget});
        c->execute(QStringLiteral("delete from sys_logonfail where LASTFAIL < ?"), {now - forget});
    } catch (const DbError &) {
        // The log-on itself failed already; nothing more to tell.
    }
}

void SharedLogOnThrottle::succeeded(const QString &user)
{
    try {
        auto c = m_backend.acquireForServer();
        c->execute(QStringLiteral("delete from sys_logonfail where NAME=?"), {userKey(user)});
    } catch (const DbError &) {
    }
}

} // namespace server
