#pragma once

#include "server/servererror.h"

#include <QByteArray>
#include <QString>
#include <memory>
#include <optional>
#include <stdexcept>

namespace server {

struct SessionInfo;
class Backend;
class Connection;

// Files kept in the database instead of a folder, so that every server on it sees the
// same files (PostgreSQL, several servers): one row per file in sys_file and its bytes in
// pieces of kChunkBytes in sys_filechunk, written in one transaction (a reader sees the
// old file or the new one, never a mix) and read piece by piece in one snapshot. Areas
// are keyed by the deployment's folder name, so deployments stay apart as in folders.
class DbFileStore
{
public:
    static constexpr qsizetype kChunkBytes = 256 * 1024;
    explicit DbFileStore(Backend &backend)
        : m_backend(backend)
    {}
    std::optional<QByteArray> read(const QString &area, const QString &path) const;
    void write(const QString &area, const QString &path, const QByteArray &data) const;
    QString list(const QString &area, const QString &folder) const;
    QString version(const QString &area, const QString &path) const;
    bool remove(const QString &area, const QString &path) const;

private:
    Backend &m_backend;
};

// Adds sys_file and sys_filechunk. Inside the schema transaction.
void ensureFileStoreSchema(Connection &c);

// One file area: one root folder. Server paths use backslashes ("notice\20261207\x.rtf");
// forward slashes are accepted too. A path that leaves the root (".." parts, drive letters,
// absolute or UNC paths, links pointing outside) is refused with status 403.
class FileArea
{
public:
    explicit FileArea(const QString &root);
    // An area kept in the database under the key `area` (no folder).
    FileArea(std::shared_ptr<const DbFileStore> store, const QString &area);
    const QString &root() const { return m_root; }
    bool inDatabase() const { return bool(m_store); }

    // The local path of a server path; throws ServerError(403) when it leaves the root.
    QString resolve(const QString &serverPath) const;

    std::optional<QByteArray> read(const QString &serverPath) const; // nullopt: no such file
    void write(const QString &serverPath, const QByteArray &data) const; // creates folders
    // Files below a folder, as server paths relative to it (backslashes), sorted, one per line.
    QString list(const QString &serverFolder) const;
    // "yyyy-MM-dd HH:mm:ss" of the last change and the size ("2026-12-07 10:00:00|1234");
    // empty when there is no such file.
    QString version(const QString &serverPath) const;
    // Removes a file; false when there was none.
    bool remove(const QString &serverPath) const;

    // The parts of a server path ("a\\b/c" -> a, b, c); throws ServerError(403) for a path
    // that would leave the area (".." parts, drive letters, absolute paths), 400 when empty.
    static QStringList pathParts(const QString &serverPath);

private:
    bool inside(const QString &canonicalPath) const;
    QString m_root;                               // the folder, or "db:<area>"
    std::shared_ptr<const DbFileStore> m_store;   // set: the files are in the database
    QString m_area;
};

// What one session may do with the server's files. Server paths whose first part is
// "update" (any case) lead to the shared update area, every other path to the deployment's
// own area; the update area is read-only unless the session may replace update files.
class SessionFiles
{
public:
    SessionFiles(FileArea deployment, FileArea updates, bool mayWriteUpdates);
    std::optional<QByteArray> read(const QString &serverPath) const;
    void write(const QString &serverPath, const QByteArray &data) const;
    QString list(const QString &serverFolder) const;
    QString version(const QString &serverPath) const;

private:
    // The area of a server path and the path inside it.
    const FileArea &route(const QString &serverPath, QString *inner) const;
    FileArea m_deployment;
    FileArea m_updates;
    bool m_mayWriteUpdates;
};

// The server's files: below the root one folder per deployment (root/<sysid>) and the
// update files that every client downloads (root/update).
class FileAreas
{
public:
    explicit FileAreas(const QString &root);
    // The areas kept in the database (root() is "database").
    explicit FileAreas(Backend &backend);
    const QString &root() const { return m_root.root(); }
    SessionFiles forSession(const SessionInfo &session) const;
    // The own area of a deployment.
    FileArea deployment(const QString &sysid) const;
    // The folder name of a deployment's area: the key itself when it is plain letters,
    // digits, "_" or "-", otherwise "x" and its UTF-8 bytes in hexadecimal.
    static QString deploymentFolder(const QString &sysid);

private:
    FileArea area(const QString &name) const;
    FileArea m_root;
    std::shared_ptr<const DbFileStore> m_store;
};

// Who may replace the update files: the administrators (today the super administrator).
bool mayReplaceUpdateFiles(const SessionInfo &session);

} // namespace server
