#pragma once

#include "server/sql/backend.h"

namespace server {

struct TenantLogins;

// PostgreSQL 15 database given by a "postgresql://user@host:port/db" URL: one libpq
// connection per worker, the Oracle-dialect helpers and the server functions as SQL
// functions, and row-level security for the reads of a session: a restricted connection
// logs in as the deployment's own role (made by the server, no memberships, no rights but
// reading the business tables), whose rows the policies keep.
class PgBackend : public Backend
{
public:
    // create: make the database when it does not exist yet (init).
    PgBackend(const QString &url, bool create);
    QString describe() const override;
    // Longest run of one statement (default 120 s; 0: no limit), for every connection of
    // the process from its next statement on.
    static void setStatementTimeLimit(qint64 milliseconds);
    const QString &url() const { return m_url; }

protected:
    std::unique_ptr<Connection> connect() override;

private:
    QString m_url;
    std::shared_ptr<TenantLogins> m_tenants;
};

} // namespace server
