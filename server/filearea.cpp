#include "server/filearea.h"

#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSaveFile>

#include "server/auth.h"

namespace server {

FileArea::FileArea(const QString &root)
{
    QDir().mkpath(root);
    m_root = QFileInfo(root).canonicalFilePath();
    if (m_root.isEmpty())
        throw FileError(500, QStringLiteral("cannot use %1 as file area").arg(root));
}

QString FileArea::resolve(const QString &serverPath) const
{
    QString p = serverPath.trimmed();
    p.replace(QLatin1Char('\\'), QLatin1Char('/'));
    auto refuse = [&serverPath]() -> FileError {
        return FileError(403, QStringLiteral("path refused: %1").arg(serverPath));
    };
    if (p.isEmpty())
        throw FileError(400, QStringLiteral("empty server path"));
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
    const QString local = resolve(serverPath);
    QFileInfo fi(local);
    if (!fi.isFile())
        return std::nullopt;
    QFile f(local);
    if (!f.open(QIODevice::ReadOnly))
        throw FileError(500, QStringLiteral("cannot read %1: %2").arg(serverPath, f.errorString()));
    return f.readAll();
}

void FileArea::write(const QString &serverPath, const QByteArray &data) const
{
    const QString local = resolve(serverPath);
    if (local == m_root || QFileInfo(local).isDir())
        throw FileError(400, QStringLiteral("not a file name: %1").arg(serverPath));
    if (!QDir().mkpath(QFileInfo(local).path()))
        throw FileError(500, QStringLiteral("cannot create the folder of %1").arg(serverPath));
    QSaveFile f(local);
    if (!f.open(QIODevice::WriteOnly) || f.write(data) != data.size() || !f.commit())
        throw FileError(500, QStringLiteral("cannot write %1: %2").arg(serverPath, f.errorString()));
}

QString FileArea::list(const QString &serverFolder) const
{
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
    const QFileInfo fi(resolve(serverPath));
    if (!fi.isFile())
        return QString();
    return fi.lastModified().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")) + QLatin1Char('|')
           + QString::number(fi.size());
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
        throw FileError(403, QStringLiteral("only an administrator may replace update files: %1")
                                 .arg(serverPath));
    if (inner.trimmed().isEmpty())
        throw FileError(400, QStringLiteral("not a file name: %1").arg(serverPath));
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
        throw FileError(403, QStringLiteral("the session has no deployment"));
    return FileArea(m_root.root() + QLatin1Char('/') + deploymentFolder(sysid));
}

SessionFiles FileAreas::forSession(const SessionInfo &session) const
{
    return SessionFiles(deployment(session.sysid),
                        FileArea(m_root.root() + QLatin1Char('/') + kUpdateFolder),
                        mayReplaceUpdateFiles(session));
}

} // namespace server
