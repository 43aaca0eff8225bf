#include "host/paths.h"

#include <QCoreApplication>
#include <QDir>

namespace host {

QString normalizePath(const QString &path)
{
    QString p = path;
    p.replace(u'\\', u'/');
    return p;
}

QString exeDir()
{
    QString dir =
        QCoreApplication::instance() ? QCoreApplication::applicationDirPath() : QDir::currentPath();
    if (!dir.endsWith(u'/'))
        dir += u'/';
    return dir;
}

} // namespace host
