#include "server/limits.h"

#include <algorithm>

namespace server {

qint64 BodyLimits::forPath(const std::string &path) const
{
    static const std::string sessionPath = "/waylink/v1/session";
    static const std::string providerPrefix = "/waylink/v1/provider/";
    static const std::string callPrefix = "/waylink/v1/call/";
    if (path == sessionPath)
        return session;
    if (path.compare(0, providerPrefix.size(), providerPrefix) == 0)
        return provider;
    if (path.compare(0, callPrefix.size(), callPrefix) == 0) {
        const std::string method = path.substr(path.rfind('.') + 1);
        if (method == "UploadByStream" || method == "MyUpDownFile")
            return upload;
        return call;
    }
    return session; // no other route exists: small, and answered "no such route"
}

qint64 BodyLimits::largest() const
{
    return std::max({session, provider, call, upload});
}

UserStatements::Slot::~Slot()
{
    if (!m_owner)
        return;
    std::lock_guard lock(m_owner->m_mutex);
    auto it = m_owner->m_running.find(m_user);
    if (it != m_owner->m_running.end() && --it.value() <= 0)
        m_owner->m_running.erase(it);
    m_owner->m_freed.notify_all();
}

UserStatements::Slot UserStatements::take(const QString &user)
{
    std::unique_lock lock(m_mutex);
    if (m_perUser > 0
        && !m_freed.wait_for(lock, m_wait, [&] { return m_running.value(user) < m_perUser; }))
        throw ServerError(429, QStringLiteral("同时进行的查询过多（最多 %1 个），请等前面的查询完成后再试")
                                  .arg(m_perUser));
    ++m_running[user];
    return Slot(this, user);
}

int UserStatements::running(const QString &user) const
{
    std::lock_guard lock(m_mutex);
    return m_running.value(user);
}

LogOnThrottle::ms LogOnThrottle::delayAfter(int failures, int free) const
{
    if (failures < free)
        return ms(0);
    const int doublings = std::min(failures - free, 20);
    const qint64 d = m_policy.firstDelay.count() << doublings;
    return ms(std::min<qint64>(d, m_policy.maxDelay.count()));
}

LogOnThrottle::ms LogOnThrottle::remaining(const QString &key, int free, Clock::time_point now)
{
    auto it = m_entries.find(key);
    if (it == m_entries.end())
        return ms(0);
    if (now - it->last > m_policy.forgetAfter) {
        m_entries.erase(it);
        return ms(0);
    }
    const auto until = it->last + delayAfter(it->failures, free);
    return until > now ? std::chrono::ceil<ms>(until - now) : ms(0);
}

LogOnThrottle::ms LogOnThrottle::waitFor(const QString &user, const QString &address,
                                         Clock::time_point now)
{
    std::lock_guard lock(m_mutex);
    return std::max(remaining(QStringLiteral("u:") + user, m_policy.freeUserFailures, now),
                    remaining(QStringLiteral("a:") + address, m_policy.freeAddressFailures, now));
}

void LogOnThrottle::note(const QString &key, Clock::time_point now)
{
    Entry &e = m_entries[key];
    if (e.failures > 0 && now - e.last > m_policy.forgetAfter)
        e.failures = 0;
    ++e.failures;
    e.last = now;
}

void LogOnThrottle::failed(const QString &user, const QString &address, Clock::time_point now)
{
    std::lock_guard lock(m_mutex);
    if (m_entries.size() >= m_policy.maxEntries) {
        // Forget the quiet ones first; if that is not enough, the oldest half.
        for (auto it = m_entries.begin(); it != m_entries.end();)
            it = now - it->last > m_policy.forgetAfter ? m_entries.erase(it) : std::next(it);
        if (m_entries.size() >= m_policy.maxEntries) {
            std::vector<Clock::time_point> times;
            times.reserve(size_t(m_entries.size()));
            for (const Entry &e : std::as_const(m_entries))
                times.push_back(e.last);
            auto mid = times.begin() + qsizetype(times.size() / 2);
            std::nth_element(times.begin(), mid, times.end());
            for (auto it = m_entries.begin(); it != m_entries.end();)
                it = it->last <= *mid ? m_entries.erase(it) : std::next(it);
        }
    }
    note(QStringLiteral("u:") + user, now);
    note(QStringLiteral("a:") + address, now);
}

void LogOnThrottle::succeeded(const QString &user)
{
    std::lock_guard lock(m_mutex);
    m_entries.remove(QStringLiteral("u:") + user);
}

} // namespace server
