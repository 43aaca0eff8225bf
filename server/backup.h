#pragma once
// Backups of a whole database and their restore, with the standard tools of each engine:
// SQLite's online backup (a consistent copy while servers keep writing), PostgreSQL's
// pg_dump custom format and pg_restore (docs/deploy.md names pgBackRest for point-in-time
// recovery of a replicated cluster).

#include <QString>

namespace server {

// Writes a backup of `database` (SQLite file or PostgreSQL URL) to the file `target`
// (replaced when it exists). Throws DbError with what went wrong.
void backupDatabase(const QString &database, const QString &target);

// Replaces the contents of `database` by the backup `source`; the servers on it must be
// stopped. A PostgreSQL database is made when missing; the deployments' login roles are
// made again afterwards (roles belong to the cluster, not to the dump). Throws DbError.
void restoreDatabase(const QString &source, const QString &database);

} // namespace server
