#pragma once

#include "server/sql/backend.h"

namespace server {

// SQLite file database: WAL journal, case-sensitive like, the Oracle-dialect helper
// functions (wl_to_date, wl_trunc, wl_sysdate, ...) and the server functions (F_*).
class SqliteBackend : public Backend
{
public:
    // create: make the file when missing (init); otherwise a missing file is an error.
    SqliteBackend(const QString &path, bool create);
    QString describe() const override;
    // Longest run of one statement before it is stopped with an error (default 120 s;
    // 0: no limit). Applies to every SQLite connection of the process.
    static void setStatementTimeLimit(qint64 milliseconds);
    const QString &path() const { return m_path; }

protected:
    std::unique_ptr<Connection> connect() override;

private:
    QString m_path;
    bool m_create;
};

} // namespace server
