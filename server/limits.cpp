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

} // namespace server
