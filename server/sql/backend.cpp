#include "server/sql/backend.h"

#include "server/sql/pgbackend.h"
#include "server/sql/sqlitebackend.h"

#include <algorithm>

namespace server {

QByteArray Connection::queryPacket(const QString &sql, const QVariantList &params,
                                   const NameFields &nameFields)
{
    QueryResult r = query(sql, params, true);
    nameFields(r.fields);
    quillon::DataPacket p;
    p.fields = std::move(r.fields);
    p.rows = std::move(r.rows);
    return p.toBinary();
}

int TableInfo::columnIndex(const QString &name) const
{
    for (qsizetype i = 0; i < columns.size(); ++i)
        if (columns.at(i).compare(name, Qt::CaseInsensitive) == 0)
            return int(i);
    return -1;
}

void AnswerLimit::check(qint64 rowCount, qint64 byteCount) const
{
    if (rows > 0 && rowCount > rows)
        throw AnswerTooLarge(QStringLiteral("查询结果过大，请缩小查询条件（超过 %1 行）").arg(rows));
    if (bytes > 0 && byteCount > bytes)
        throw AnswerTooLarge(QStringLiteral("查询结果过大，请缩小查询条件（超过 %1 MB）")
                                 .arg(double(bytes) / (1024.0 * 1024.0), 0, 'f', 1));
}

ClientScope ClientScope::wholeDeployment(const QString &sysid)
{
    ClientScope s;
    s.sysid = sysid;
    s.allTables = true;
    return s;
}

bool ClientScope::mayRead(const QString &table) const
{
    const QString t = table.toLower();
    if (isServerTable(t))
        return false;
    return allTables || std::binary_search(tables.cbegin(), tables.cend(), t);
}

QString ClientScope::key() const
{
    if (sysid.isEmpty())
        return QString();
    QString k = sysid + QLatin1Char('\x1f') + (allTables ? QStringLiteral("*") : tables.join(u','));
    for (auto it = rows.constBegin(); it != rows.constEnd(); ++it)
        k += QLatin1Char('\x1f') + it.key() + QLatin1Char(':') + it->columns.join(u',')
             + QLatin1Char('=') + it->value;
    if (!ownNoticeTables.isEmpty())
        k += QStringLiteral("\x1fown notices:") + ownNoticeTables.join(u',');
    return k;
}

Backend::Lease Backend::acquireForServer()
{
    return lease(ClientScope());
}

Backend::Lease Backend::acquireForClient(const ClientScope &scope)
{
    if (scope.sysid.isEmpty())
        throw AccessDenied(QStringLiteral("a client connection needs the caller's deployment"));
    ClientScope s = scope;
    for (QStringList *list : {&s.tables, &s.ownNoticeTables}) {
        for (QString &t : *list)
            t = t.toLower();
        std::sort(list->begin(), list->end());
        list->erase(std::unique(list->begin(), list->end()), list->end());
    }
    return lease(s);
}

Backend::Lease Backend::lease(const ClientScope &scope)
{
    const QString rowFilter = scope.key();
    std::unique_ptr<Connection> c;
    {
        std::lock_guard lock(m_mutex);
        // The most recently returned connection of the same restriction; otherwise, while
        // few connections are idle, a new one (switching a PostgreSQL connection to another
        // deployment means logging in again, a SQLite one rebuilds its views and statements);
        // otherwise the least recently used idle one. The workers alternate between the
        // server's own work (unrestricted) and their deployments' queries, so the pool keeps
        // room for a worker's worth of each: with only 4 spare, 50 to 500 clients on 8
        // workers made a new PostgreSQL login for every 20 or so requests.
        constexpr size_t kSpare = 16;
        // Of those, one that already shows this reader's notices, if any: setting the
        // reader costs PostgreSQL a statement.
        const bool readerMatters = !scope.ownNoticeTables.isEmpty();
        auto it = m_idle.rend();
        for (auto i = m_idle.rbegin(); i != m_idle.rend(); ++i) {
            if ((*i)->rowFilter() != rowFilter)
                continue;
            if (!readerMatters || (*i)->noticeReader() == scope.reader) {
                it = i;
                break;
            }
            if (it == m_idle.rend())
                it = i;
        }
        if (it != m_idle.rend()) {
            const auto pick = std::prev(it.base());
            c = std::move(*pick);
            m_idle.erase(pick);
        } else if (m_idle.size() >= kSpare) {
            c = std::move(m_idle.front());
            m_idle.erase(m_idle.begin());
        }
    }
    if (!c)
        c = connect();
    c->setAnswerLimit(rowFilter.isEmpty() ? AnswerLimit() : m_answerLimit);
    try {
        c->restrictRows(scope);
        if (!scope.ownNoticeTables.isEmpty())
            c->setNoticeReader(scope.reader);
    } catch (...) {
        std::lock_guard lock(m_mutex);
        m_idle.push_back(std::move(c));
        throw;
    }
    return Lease(c.release(), [this](Connection *conn) {
        conn->dropAfterCommit();
        conn->endLeftOverTransaction();
        if (conn->broken()) {
            // The database went away (stopped, failed over): the idle connections lead to
            // the same lost server, so they go too and the next lease connects afresh.
            std::vector<std::unique_ptr<Connection>> dropped;
            {
                std::lock_guard lock(m_mutex);
                dropped.swap(m_idle);
            }
            delete conn;
            return;
        }
        std::lock_guard lock(m_mutex);
        m_idle.emplace_back(conn);
    });
}

bool Backend::reachable()
{
    try {
        auto c = acquireForServer();
        c->query(QStringLiteral("select 1 from dual"), {}, false);
        return !c->broken();
    } catch (...) {
        return false;
    }
}

std::unique_ptr<Backend> Backend::open(const QString &location, bool create)
{
    if (location.startsWith(QLatin1String("postgresql://")) || location.startsWith(QLatin1String("postgres://")))
        return std::make_unique<PgBackend>(location, create);
    return std::make_unique<SqliteBackend>(location, create);
}

} // namespace server
