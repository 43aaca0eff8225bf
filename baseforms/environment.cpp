#include "baseforms/environment.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QObject>
#include <QVariant>

namespace tessera {

namespace {
QString &appPathOverride()
{
    static QString path;
    return path;
}
QString &configOverride()
{
    static QString name;
    return name;
}
} // namespace

QString appPath()
{
    QString dir = appPathOverride();
    if (dir.isEmpty())
        dir = QCoreApplication::applicationDirPath();
    if (!dir.endsWith(QLatin1Char('/')))
        dir += QLatin1Char('/');
    return dir;
}

void setAppPath(const QString &dir)
{
    appPathOverride() = QDir::fromNativeSeparators(dir);
}

QString configFileName()
{
    if (!configOverride().isEmpty())
        return configOverride();
    const QFileInfo exe(QCoreApplication::applicationFilePath());
    return appPath() + exe.completeBaseName() + QStringLiteral(".ini");
}

void setConfigFileName(const QString &fileName)
{
    configOverride() = fileName;
}

QString applicationTagText()
{
    if (auto *app = QCoreApplication::instance())
        return app->property("Tag").toString();
    return {};
}

int screenTag()
{
    if (auto *app = QCoreApplication::instance())
        return app->property("ScreenTag").toInt();
    return 0;
}

void setScreenTag(int tag)
{
    if (auto *app = QCoreApplication::instance())
        app->setProperty("ScreenTag", tag);
}

int tagOf(const QObject *object)
{
    return object ? object->property("Tag").toInt() : 0;
}

void setTag(QObject *object, int tag)
{
    if (object)
        object->setProperty("Tag", tag);
}

QColor colorFromBgr(qint64 value)
{
    return QColor(int(value & 0xFF), int((value >> 8) & 0xFF), int((value >> 16) & 0xFF));
}

qint64 bgrFromColor(const QColor &color)
{
    return qint64(color.red()) | (qint64(color.green()) << 8) | (qint64(color.blue()) << 16);
}

} // namespace tessera
