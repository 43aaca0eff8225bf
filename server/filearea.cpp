#include "server/filearea.h"

#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSaveFile>

#include "server/auth.h"
#include "server/sql/backend.h"

#include <QDateTime>
#include <QRandomGenerator>

namespace server {

FileArea::FileArea(const QString &root)
{
    QDir().mkpath(root);
    m_root = QFileInfo(root).canonicalFilePath();
    if (m_root.isEmpty())
        throw ServerError::technical(500, QStringLiteral("cannot use %1 as file area").arg(root));
}

FileArea::FileArea(std::shared_ptr<const DbFileStore> store, const QString &area)
    : m_root(QStringLiteral("database"))
    , m_store(std::move(store))
    , m_area(area)
{}

QStringList FileArea::pathParts(const QString &serverPath)
{
    QString p = serverPath.trimmed();
    p.replace(QLatin1Char('\\'), QLatin1Char('/'));
    auto refuse = [&serverPath]() -> ServerError {
        return ServerError::technical(403, QStringLiteral("path refused: %1").arg(serverPath));
    };
    if (p.isEmpty())
        throw ServerError::technical(400, QStringLiteral("empty server path"));
    if (p.startsWith(QLatin1Char('/')) || p.contains(QChar(0))
        || (p.size() >= 2 && p.at(1) == QLatin1Char(':')))
        throw refuse();
    QStringList parts;
    for (const QString &part : p.split(QLatin1Char('/'), Qt::SkipEmptyParts)) {
        if (part == QLatin1String("."))
            continue;
        if (part == QLatin1String("..") || part.contains(QLatin1Char(':')))
            throw refuse();
        parts.append(part);
    }
    return parts;
}

QString FileArea::resolve(const QString &serverPath) const
{
    const QStringList parts = pathParts(serverPath);
    auto refuse = [&serverPath]() -> ServerError {
        return ServerError::technical(403, QStringLiteral("path refused: %1").arg(serverPath));
    };
    if (m_store)
        return parts.join(QLatin1Char('/')); // the key of the file in its area
    if (parts.isEmpty())
        return m_root;
    const QString local = m_root + QLatin1Char('/') + parts.join(QLatin1Char('/'));
    // Links inside the area must not lead outside it: every part that exists, and every
    // link even when it leads nowhere (a write would create its target), must resolve to
    // the area's root or below it. "Below" is a whole folder name: a sibling folder whose
    // name begins with the root's name ("<root>2") is outside.
    QString probe = m_root;
    for (const QString &part : std::as_const(parts)) {
        probe += QLatin1Char('/') + part;
        const QFileInfo fi(probe);
        if (fi.isSymLink()) {
            if (!inside(fi.canonicalFilePath())) // empty for a broken link
                throw refuse();
        } else if (!fi.exists()) {
            break;
        } else if (!inside(fi.canonicalFilePath())) {
            throw refuse();
        }
    }
    return local;
}

bool FileArea::inside(const QString &canonicalPath) const
{
    return !canonicalPath.isEmpty()
           && (canonicalPath == m_root || canonicalPath.startsWith(m_root + QLatin1Char('/')));
}

std::optional<QByteArray> FileArea::read(const QString &serverPath) const
{
    if (m_store) {
        const QString key = resolve(serverPath);
        return key.isEmpty() ? std::nullopt : m_store->read(m_area, key);
    }
    const QString local = resolve(serverPath);
    QFileInfo fi(local);
    if (!fi.isFile())
        return std::nullopt;
    QFile f(local);
    if (!f.open(QIODevice::ReadOnly))
        throw ServerError::technical(500, QStringLiteral("cannot read %1: %2").arg(serverPath, f.errorString()));
    return f.readAll();
}

void FileArea::write(const QString &serverPath, const QByteArray &data) const
{
    if (m_store) {
        const QString key = resolve(serverPath);
        if (key.isEmpty() || !m_store->list(m_area, key).isEmpty())
            throw ServerError::technical(400, QStringLiteral("not a file name: %1").arg(serverPath));
        m_store->write(m_area, key, data);
        return;
    }
    const QString local = resolve(serverPath);
    if (local == m_root || QFileInfo(local).isDir())
        throw ServerError::technical(400, QStringLiteral("not a file name: %1").arg(serverPath));
    if (!QDir().mkpath(QFileInfo(local).path()))
        throw ServerError::technical(500, QStringLiteral("cannot create the folder of %1").arg(serverPath));
    QSaveFile f(local);
    if (!f.open(QIODevice::WriteOnly) || f.write(data) != data.size() || !f.commit())
        throw ServerError::technical(500, QStringLiteral("cannot write %1: %2").arg(serverPath, f.errorString()));
}

QString FileArea::list(const QString &serverFolder) const
{
    if (m_store)
        return m_store->list(m_area, serverFolder.trimmed().isEmpty() ? QString() : resolve(serverFolder));
    const QString local = serverFolder.trimmed().isEmpty() ? m_root : resolve(serverFolder);
    if (!QFileInfo(local).isDir())
        return QString();
    QStringList names;
    QDirIterator it(local, QDir::Files, QDirIterator::Subdirectories);
    const QDir base(local);
    while (it.hasNext()) {
        QString rel = base.relativeFilePath(it.next());
        rel.replace(QLatin1Char('/'), QLatin1Char('\\'));
        names.append(rel);
    }
    names.sort();
    return names.join(QLatin1String("\r\n"));
}

QString FileArea::version(const QString &serverPath) const
{
    if (m_store) {
        const QString key = resolve(serverPath);
        return key.isEmpty() ? QString() : m_store->version(m_area, key);
    }
    const QFileInfo fi(resolve(serverPath));
    if (!fi.isFile())
        return QString();
    return fi.lastModified().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")) + QLatin1Char('|')
           + QString::number(fi.size());
}

bool FileArea::remove(const QString &serverPath) const
{
    if (m_store) {
        const QString key = resolve(serverPath);
        return !key.isEmpty() && m_store->remove(m_area, key);
    }
    const QString local = resolve(serverPath);
    return QFileInfo(local).isFile() && QFile::remove(local);
}

bool mayReplaceUpdateFiles(const SessionInfo &session)
{
    return session.user == QLatin1String("dk");
}

namespace {
const QString kUpdateFolder = QStringLiteral("update");
}

SessionFiles::SessionFiles(FileArea deployment, FileArea updates, bool mayWriteUpdates)
    : m_deployment(std::move(deployment))
    , m_updates(std::move(updates))
    , m_mayWriteUpdates(mayWriteUpdates)
{}

const FileArea &SessionFiles::route(const QString &serverPath, QString *inner) const
{
    QString p = serverPath.trimmed();
    p.replace(QLatin1Char('\\'), QLatin1Char('/'));
    while (p.startsWith(QLatin1String("./")))
        p = p.mid(2);
    const qsizetype slash = p.indexOf(QLatin1Char('/'));
    const QString first = slash < 0 ? p : p.left(slash);
    if (first.compare(kUpdateFolder, Qt::CaseInsensitive) == 0) {
        *inner = slash < 0 ? QString() : p.mid(slash + 1);
        return m_updates;
    }
    *inner = serverPath;
    return m_deployment;
}

std::optional<QByteArray> SessionFiles::read(const QString &serverPath) const
{
    QString inner;
    const FileArea &area = route(serverPath, &inner);
    if (inner.trimmed().isEmpty())
        return std::nullopt;
    return area.read(inner);
}

void SessionFiles::write(const QString &serverPath, const QByteArray &data) const
{
    QString inner;
    const FileArea &area = route(serverPath, &inner);
    if (&area == &m_updates && !m_mayWriteUpdates)
        throw ServerError(403, QStringLiteral("只有系统管理员可以替换升级文件 %1。").arg(serverPath),
                          QStringLiteral("only an administrator may replace update files: %1")
                              .arg(serverPath));
    if (inner.trimmed().isEmpty())
        throw ServerError::technical(400, QStringLiteral("not a file name: %1").arg(serverPath));
    area.write(inner, data);
}

QString SessionFiles::list(const QString &serverFolder) const
{
    if (serverFolder.trimmed().isEmpty())
        return m_deployment.list(QString());
    QString inner;
    const FileArea &area = route(serverFolder, &inner);
    return area.list(inner);
}

QString SessionFiles::version(const QString &serverPath) const
{
    QString inner;
    const FileArea &area = route(serverPath, &inner);
    if (inner.trimmed().isEmpty())
        return QString();
    return area.version(inner);
}

FileAreas::FileAreas(const QString &root)
    : m_root(root)
{}

FileAreas::FileAreas(Backend &backend)
    : m_root(std::make_shared<const DbFileStore>(backend), QString())
    , m_store(std::make_shared<const DbFileStore>(backend))
{}

FileArea FileAreas::area(const QString &name) const
{
    if (m_store)
        return FileArea(m_store, name);
    return FileArea(m_root.root() + QLatin1Char('/') + name);
}

QString FileAreas::deploymentFolder(const QString &sysid)
{
    static const QRegularExpression plain(QStringLiteral("^[A-Za-z0-9_-]+$"));
    if (plain.match(sysid).hasMatch() && sysid.compare(kUpdateFolder, Qt::CaseInsensitive) != 0)
        return sysid;
    return QLatin1Char('x') + QString::fromLatin1(sysid.toUtf8().toHex());
}

FileArea FileAreas::deployment(const QString &sysid) const
{
    if (sysid.isEmpty())
        throw ServerError::technical(403, QStringLiteral("the session has no deployment"));
    return area(deploymentFolder(sysid));
}

SessionFiles FileAreas::forSession(const SessionInfo &session) const
{
    return SessionFiles(deployment(session.sysid), area(kUpdateFolder),
                        mayReplaceUpdateFiles(session));
}

// ---- files in the database --------------------------------------------------------------

void ensureFileStoreSchema(Connection &c)
{
    c.executeScript(QStringLiteral(R"SQL(
create table if not exists sys_file (
  AREA VARCHAR2(80) not null,
  PATH VARCHAR2(400) not null,
  FILEID BIGINT not null,
  FILESIZE BIGINT not null,
  MODIFIED VARCHAR2(19) not null,
  primary key (AREA, PATH));
create table if not exists sys_filechunk (
  FILEID BIGINT not null,
  SEQ INTEGER not null,
  DATA BLOB not null,
  primary key (FILEID, SEQ));
)SQL"));
}

namespace {
// A LIKE pattern that matches `prefix` literally, then anything.
QString likePrefix(const QString &prefix)
{
    QString p = prefix;
    p.replace(QLatin1Char('!'), QLatin1String("!!"));
    p.replace(QLatin1Char('%'), QLatin1String("!%"));
    p.replace(QLatin1Char('_'), QLatin1String("!_"));
    return p + QLatin1Char('%');
}

QString databaseFileError(const QString &path, const DbError &e)
{
    return QStringLiteral("cannot use the file %1 in the database: %2").arg(path, e.message());
}
} // namespace

std::optional<QByteArray> DbFileStore::read(const QString &area, const QString &path) const
{
    auto c = m_backend.acquireForServer();
    try {
        // One snapshot for the row and all its pieces: a replacement meanwhile is not mixed in.
        // (A lease handed back inside it is rolled back by the pool.)
        c->executeScript(QStringLiteral("begin isolation level repeatable read read only"));
        const QueryResult head = c->query(
            QStringLiteral("select FILEID, FILESIZE from sys_file where AREA=? and PATH=?"),
            {area, path}, false);
        if (head.rows.isEmpty()) {
            c->commit();
            return std::nullopt;
        }
        const qint64 id = head.rows.first().value(0).toLongLong();
        const qint64 size = head.rows.first().value(1).toLongLong();
        QByteArray data;
        data.reserve(qsizetype(size));
        for (int seq = 0; data.size() < size; ++seq) {
            const QueryResult piece = c->query(
                QStringLiteral("select DATA from sys_filechunk where FILEID=? and SEQ=?"),
                {id, seq}, false);
            if (piece.rows.isEmpty())
                throw ServerError::technical(500, QStringLiteral("the file %1 is incomplete in the database "
                                                    "(piece %2 missing)")
                                         .arg(path)
                                         .arg(seq));
            data.append(piece.rows.first().value(0).toByteArray());
        }
        c->commit();
        return data;
    } catch (const DbUnavailable &) {
        throw;
    } catch (const DbError &e) {
        throw ServerError::technical(500, databaseFileError(path, e));
    }
}

void DbFileStore::write(const QString &area, const QString &path, const QByteArray &data) const
{
    auto c = m_backend.acquireForServer();
    try {
        Transaction t(*c);
        const qint64 id = qint64(QRandomGenerator::system()->generate64() >> 1);
        for (qsizetype off = 0, seq = 0; off < data.size(); off += kChunkBytes, ++seq) {
            const QByteArray piece =
                QByteArray::fromRawData(data.constData() + off, std::min(kChunkBytes, data.size() - off));
            c->execute(QStringLiteral("insert into sys_filechunk (FILEID, SEQ, DATA) values (?,?,?)"),
                       {id, int(seq), piece});
        }
        const QString now = QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
        auto lockOld = [&]() -> QueryResult {
            return c->query(QStringLiteral("select FILEID from sys_file where AREA=? and PATH=? for update"),
                            {area, path}, false);
        };
        QueryResult old = lockOld();
        if (old.rows.isEmpty()
            && c->execute(QStringLiteral("insert into sys_file (AREA, PATH, FILEID, FILESIZE, MODIFIED) "
                                         "values (?,?,?,?,?) on conflict (AREA, PATH) do nothing"),
                          {area, path, id, qint64(data.size()), now})
                   == 0)
            old = lockOld(); // written by another server just now: replace that one
        if (!old.rows.isEmpty()) {
            const qint64 oldId = old.rows.first().value(0).toLongLong();
            c->execute(QStringLiteral("update sys_file set FILEID=?, FILESIZE=?, MODIFIED=? "
                                      "where AREA=? and PATH=?"),
                       {id, qint64(data.size()), now, area, path});
            c->execute(QStringLiteral("delete from sys_filechunk where FILEID=?"), {oldId});
        }
        t.commit();
    } catch (const DbUnavailable &) {
        throw;
    } catch (const DbError &e) {
        throw ServerError::technical(500, databaseFileError(path, e));
    }
}

QString DbFileStore::list(const QString &area, const QString &folder) const
{
    auto c = m_backend.acquireForServer();
    const QString prefix = folder.isEmpty() ? QString() : folder + QLatin1Char('/');
    try {
        const QueryResult r = c->query(
            QStringLiteral("select PATH from sys_file where AREA=? and PATH like ? escape '!' "
                           "order by PATH"),
            {area, likePrefix(prefix)}, false);
        QStringList names;
        for (const QVariantList &row : r.rows) {
            QString rel = row.value(0).toString().mid(prefix.size());
            rel.replace(QLatin1Char('/'), QLatin1Char('\\'));
            names.append(rel);
        }
        names.sort();
        return names.join(QLatin1String("\r\n"));
    } catch (const DbUnavailable &) {
        throw;
    } catch (const DbError &e) {
        throw ServerError::technical(500, databaseFileError(folder, e));
    }
}

QString DbFileStore::version(const QString &area, const QString &path) const
{
    auto c = m_backend.acquireForServer();
    const QueryResult r = c->query(
        QStringLiteral("select MODIFIED, FILESIZE from sys_file where AREA=? and PATH=?"),
        {area, path}, false);
    if (r.rows.isEmpty())
        return QString();
    return r.rows.first().value(0).toString() + QLatin1Char('|')
           + QString::number(r.rows.first().value(1).toLongLong());
}

bool DbFileStore::remove(const QString &area, const QString &path) const
{
    auto c = m_backend.acquireForServer();
    Transaction t(*c);
    const QueryResult old = c->query(
        QStringLiteral("select FILEID from sys_file where AREA=? and PATH=? for update"),
        {area, path}, false);
    if (old.rows.isEmpty())
        return false;
    c->execute(QStringLiteral("delete from sys_file where AREA=? and PATH=?"), {area, path});
    c->execute(QStringLiteral("delete from sys_filechunk where FILEID=?"),
               {old.rows.first().value(0).toLongLong()});
    t.commit();
    return true;
}

} // namespace server
