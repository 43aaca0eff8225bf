#include "shell/application.h"

#include "host/errordisplay.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QLibraryInfo>
#include <QLocale>
#include <QMutex>
#include <QTranslator>

namespace shell {

// Dates in Qt's own windows (the file dialog's "修改日期") follow the system locale, which
// Qt reads once from the environment while the application starts: it has to be Chinese
// before that.
static int &withChineseDates(int &argc)
{
    preferChineseDates();
    return argc;
}

WaylinkApplication::WaylinkApplication(int &argc, char **argv)
    : QApplication(withChineseDates(argc), argv)
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

namespace {

// Texts of Qt that the distribution's Chinese catalogues lack (file types in the file
// dialog). Installed before those catalogues, so that theirs win where they have a text.
class MissingQtTexts : public QTranslator
{
public:
    using QTranslator::QTranslator;
    bool isEmpty() const override { return false; }
    QString translate(const char *context, const char *sourceText, const char *, int) const override
    {
        if (qstrcmp(context, "QAbstractFileIconProvider") != 0 && qstrcmp(context, "QFileIconProvider") != 0)
            return QString();
        static const QHash<QByteArray, QString> texts = {
            {"Folder", QStringLiteral("文件夹")},     {"File Folder", QStringLiteral("文件夹")},
            {"Drive", QStringLiteral("驱动器")},      {"File", QStringLiteral("文件")},
            {"%1 File", QStringLiteral("%1 文件")},  {"Alias", QStringLiteral("别名")},
            {"Shortcut", QStringLiteral("快捷方式")}};
        return texts.value(QByteArray(sourceText));
    }
};

} // namespace

void preferChineseDates()
{
    if (!qEnvironmentVariableIsEmpty("LC_ALL"))
        return; // the user's explicit choice for everything
    const QString time = qEnvironmentVariable("LC_TIME", qEnvironmentVariable("LANG"));
    if (!time.startsWith(QLatin1String("zh")))
        qputenv("LC_TIME", "zh_CN.UTF-8");
}

int installChineseTranslations(QCoreApplication *app)
{
    app->installTranslator(new MissingQtTexts(app));
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
