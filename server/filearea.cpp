#include "server/filearea.h"

#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QSaveFile>

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
    // Links inside the area must not lead outside it: check the deepest existing part.
    QString probe = local;
    while (!QFileInfo::exists(probe) && probe.size() > m_root.size())
        probe = QFileInfo(probe).path();
    const QString canon = QFileInfo(probe).canonicalFilePath();
    if (canon != m_root && !canon.startsWith(m_root + QLatin1Char('/')))
        throw refuse();
    return local;
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

} // namespace server
