#include "server/sql/backend.h"

#include "server/sql/sqlitebackend.h"

namespace server {

int TableInfo::columnIndex(const QString &name) const
{
    for (qsizetype i = 0; i < columns.size(); ++i)
        if (columns.at(i).compare(name, Qt::CaseInsensitive) == 0)
            return int(i);
    return -1;
}

Backend::Lease Backend::acquire()
{
    std::unique_ptr<Connection> c;
    {
        std::lock_guard lock(m_mutex);
        if (!m_idle.empty()) {
            c = std::move(m_idle.back());
            m_idle.pop_back();
        }
    }
    if (!c)
        c = connect();
    return Lease(c.release(), [this](Connection *conn) {
        std::lock_guard lock(m_mutex);
        m_idle.emplace_back(conn);
    });
}

std::unique_ptr<Backend> Backend::open(const QString &location, bool create)
{
    if (location.startsWith(QLatin1String("postgresql://")) || location.startsWith(QLatin1String("postgres://")))
        throw DbError(QStringLiteral("the PostgreSQL backend is not built into this server yet"));
    return std::make_unique<SqliteBackend>(location, create);
}

} // namespace server
