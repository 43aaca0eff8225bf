#include "shell/application.h"

#include "host/errordisplay.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLibraryInfo>
#include <QLocale>
#include <QMutex>
#include <QTranslator>

namespace shell {

WaylinkApplication::WaylinkApplication(int &argc, char **argv)
    : QApplication(argc, argv)
{
    setApplicationName(QStringLiteral("Waylink"));
    setOrganizationName(QStringLiteral("Waylink"));
    installChineseTranslations(this);
}

bool WaylinkApplication::notify(QObject *receiver, QEvent *event)
{
    try {
        return QApplication::notify(receiver, event);
    } catch (...) {
        host::showException(std::current_exception());
        return false;
    }
}

int installChineseTranslations(QCoreApplication *app)
{
    const QLocale chinese(QLocale::Chinese, QLocale::China);
    QLocale::setDefault(chinese);
    const QStringList dirs = {QCoreApplication::applicationDirPath() + QStringLiteral("/translations"),
                              QLibraryInfo::path(QLibraryInfo::TranslationsPath)};
    int installed = 0;
    for (const char *catalogue : {"qtbase", "qt"}) {
        for (const QString &dir : dirs) {
            auto *t = new QTranslator(app);
            if (t->load(chinese, QString::fromLatin1(catalogue), QStringLiteral("_"), dir)) {
                app->installTranslator(t);
                ++installed;
                break;
            }
            delete t;
        }
    }
    return installed;
}

namespace {

QString &logFileName()
{
    static QString name;
    return name;
}

QtMessageHandler &previousHandler()
{
    static QtMessageHandler h = nullptr;
    return h;
}

void logHandler(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    if (type != QtDebugMsg && type != QtInfoMsg) {
        static QMutex mutex;
        QMutexLocker lock(&mutex);
        QFile f(logFileName());
        if (f.open(QIODevice::Append | QIODevice::Text)) {
            const QString line =
                QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd hh:mm:ss "))
                + QString::fromLatin1(context.category ? context.category : "default")
                + QStringLiteral(": ") + message + u'\n';
            f.write(line.toUtf8());
        }
    }
    if (previousHandler())
        previousHandler()(type, context, message);
}

} // namespace

void installLogFile(const QString &file)
{
    QDir().mkpath(QFileInfo(file).absolutePath());
    logFileName() = file;
    previousHandler() = qInstallMessageHandler(logHandler);
}

} // namespace shell
