#include "server/backup.h"

#include "server/schema.h"
#include "server/sql/backend.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <sqlite3.h>

namespace server {

namespace {

bool isPostgres(const QString &database)
{
    return database.startsWith(QLatin1String("postgresql://"))
           || database.startsWith(QLatin1String("postgres://"));
}

// Copies one SQLite database into another with the online backup API: pages are copied
// in steps, and a writer between steps makes it start over, so the copy is consistent.
void sqliteCopy(const QString &from, const QString &to, bool fromMustExist)
{
    if (fromMustExist && !QFileInfo::exists(from))
        throw DbError(QStringLiteral("no such database file: %1").arg(from));
    sqlite3 *src = nullptr;
    sqlite3 *dst = nullptr;
    auto closeBoth = [&] {
        sqlite3_close(src);
        sqlite3_close(dst);
    };
    if (sqlite3_open_v2(from.toUtf8().constData(), &src, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
        const QString msg = QString::fromUtf8(sqlite3_errmsg(src));
        closeBoth();
        throw DbError(QStringLiteral("cannot open %1: %2").arg(from, msg));
    }
    QDir().mkpath(QFileInfo(to).absolutePath());
    if (sqlite3_open_v2(to.toUtf8().constData(), &dst, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE,
                        nullptr)
        != SQLITE_OK) {
        const QString msg = QString::fromUtf8(sqlite3_errmsg(dst));
        closeBoth();
        throw DbError(QStringLiteral("cannot open %1: %2").arg(to, msg));
    }
    sqlite3_busy_timeout(dst, 10000);
    sqlite3_backup *b = sqlite3_backup_init(dst, "main", src, "main");
    if (!b) {
        const QString msg = QString::fromUtf8(sqlite3_errmsg(dst));
        closeBoth();
        throw DbError(QStringLiteral("cannot copy %1: %2").arg(from, msg));
    }
    int rc;
    do {
        rc = sqlite3_backup_step(b, 256);
        if (rc == SQLITE_BUSY || rc == SQLITE_LOCKED)
            sqlite3_sleep(20);
    } while (rc == SQLITE_OK || rc == SQLITE_BUSY || rc == SQLITE_LOCKED);
    sqlite3_backup_finish(b);
    const QString msg = QString::fromUtf8(sqlite3_errmsg(dst));
    closeBoth();
    if (rc != SQLITE_DONE)
        throw DbError(QStringLiteral("copying %1 to %2 failed: %3").arg(from, to, msg));
}

// A PostgreSQL client tool of the installed release.
QString pgTool(const QString &name)
{
    for (const QString &dir : {QStringLiteral("/usr/lib/postgresql/15/bin"), QStringLiteral("/usr/bin")}) {
        const QString path = dir + QLatin1Char('/') + name;
        if (QFileInfo(path).isExecutable())
            return path;
    }
    throw DbError(QStringLiteral("%1 is not installed (package postgresql-client-15)").arg(name));
}

void runTool(const QString &tool, const QStringList &args)
{
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(tool, args);
    if (!p.waitForStarted(10000))
        throw DbError(QStringLiteral("cannot start %1").arg(tool));
    p.waitForFinished(-1);
    const QString output = QString::fromLocal8Bit(p.readAll()).trimmed();
    if (p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0)
        throw DbError(QStringLiteral("%1 failed: %2").arg(QFileInfo(tool).fileName(), output.right(2000)));
}

} // namespace

void backupDatabase(const QString &database, const QString &target)
{
    if (isPostgres(database)) {
        QFile::remove(target);
        runTool(pgTool(QStringLiteral("pg_dump")),
                {QStringLiteral("--format=custom"), QStringLiteral("--no-owner"),
                 QStringLiteral("--file=") + target, QStringLiteral("--dbname=") + database});
        return;
    }
    const QString tmp = target + QStringLiteral(".part");
    QFile::remove(tmp);
    sqliteCopy(database, tmp, true);
    QFile::remove(target);
    if (!QFile::rename(tmp, target))
        throw DbError(QStringLiteral("cannot write %1").arg(target));
}

void restoreDatabase(const QString &source, const QString &database)
{
    if (!QFileInfo::exists(source))
        throw DbError(QStringLiteral("no such backup file: %1").arg(source));
    if (isPostgres(database)) {
        Backend::open(database, true); // makes the database when missing
        runTool(pgTool(QStringLiteral("pg_restore")),
                {QStringLiteral("--clean"), QStringLiteral("--if-exists"),
                 QStringLiteral("--no-owner"), QStringLiteral("--no-privileges"),
                 QStringLiteral("--single-transaction"), QStringLiteral("--dbname=") + database,
                 source});
    } else {
        sqliteCopy(source, database, true);
    }
    // Grants, row policies and the deployments' logins as this release makes them.
    auto backend = Backend::open(database);
    auto c = backend->acquire();
    upgradeSchema(*c);
}

} // namespace server
