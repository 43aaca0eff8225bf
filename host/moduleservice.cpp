#include "host/moduleservice.h"

#include "host/errors.h"
#include "host/paths.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QLibrary>
#include <QLoggingCategory>
#include <QRegularExpression>

Q_LOGGING_CATEGORY(lcModules, "waylink.host.modules", QtWarningMsg)

namespace host {

namespace {

const char kFormClassProperty[] = "waylinkFormClass";

QString librarySuffix()
{
#if defined(Q_OS_WIN)
    return QStringLiteral(".dll");
#elif defined(Q_OS_MACOS)
    return QStringLiteral(".dylib");
#else
    return QStringLiteral(".so");
#endif
}

bool validModuleName(const QString &name)
{
    static const QRegularExpression re(QStringLiteral("^[A-Za-z0-9_]+$"));
    return re.match(name).hasMatch();
}

} // namespace

ModuleService &ModuleService::instance()
{
    static ModuleService service;
    return service;
}

void ModuleService::addModuleDirectory(const QString &dir)
{
    const QString d = normalizePath(dir);
    if (!m_extraDirs.contains(d))
        m_extraDirs.append(d);
}

QStringList ModuleService::moduleDirectories() const
{
    QStringList dirs = m_extraDirs;
    const QString env = qEnvironmentVariable("WAYLINK_MODULE_PATH");
    for (const QString &d : env.split(QDir::listSeparator(), Qt::SkipEmptyParts))
        dirs.append(normalizePath(d));
    const QString exe = exeDir();
    dirs.append(exe);
    dirs.append(exe + QStringLiteral("modules/"));
    return dirs;
}

QString ModuleService::findModuleFile(const QString &moduleName) const
{
    if (!validModuleName(moduleName))
        return {};
    const QString wanted = moduleName + librarySuffix();
    for (const QString &d : moduleDirectories()) {
        QDir dir(d);
        if (!dir.exists())
            continue;
        if (QFileInfo(dir.filePath(wanted)).isFile())
            return dir.filePath(wanted);
        // Menus written on case-blind systems may spell the module differently.
        const QStringList files = dir.entryList({QLatin1Char('*') + librarySuffix()}, QDir::Files);
        for (const QString &f : files) {
            if (f.compare(wanted, Qt::CaseInsensitive) == 0)
                return dir.filePath(f);
        }
    }
    return {};
}

bool ModuleService::isLoaded(const QString &moduleName) const
{
    return m_modules.contains(moduleName.toLower());
}

IUIBase *ModuleService::module(const QString &moduleName) const
{
    auto it = m_modules.constFind(moduleName.toLower());
    return it == m_modules.cend() ? nullptr : it->ui;
}

void ModuleService::registerModule(const QString &moduleName, IUIBase *ui)
{
    if (!ui) {
        m_modules.remove(moduleName.toLower());
        return;
    }
    Loaded &m = m_modules[moduleName.toLower()];
    m.ui = ui;
    m.connected = false;
}

ModuleService::Loaded &ModuleService::load(const QString &moduleName)
{
    auto it = m_modules.find(moduleName.toLower());
    if (it != m_modules.end())
        return *it;

    const QString path = findModuleFile(moduleName);
    if (path.isEmpty()) {
        throw UserError(QStringLiteral("找不到功能模块“%1”，此功能暂时无法使用。"
                                       "请联系系统管理员安装该模块。")
                            .arg(moduleName),
                        QStringLiteral("module library %1 not found in: %2")
                            .arg(moduleName, moduleDirectories().join(QStringLiteral("; "))));
    }
    auto *lib = new QLibrary(path);
    IUIBase *previous = g_UIIntf;
    g_UIIntf = nullptr;
    if (!lib->load()) {
        const QString why = lib->errorString();
        delete lib;
        g_UIIntf = previous;
        qCWarning(lcModules) << "cannot load" << path << why;
        throw UserError(QStringLiteral("功能模块“%1”无法载入，此功能暂时无法使用。"
                                       "请联系系统管理员重新安装该模块。")
                            .arg(moduleName),
                        QStringLiteral("cannot load %1: %2").arg(path, why));
    }
    IUIBase *ui = g_UIIntf;
    if (!ui) {
        // Not a module of ours (or its initialisation did not register it). Keep it
        // loaded: unloading code whose static objects may be alive is not safe.
        g_UIIntf = previous;
        qCWarning(lcModules) << path << "loaded but registered no module interface";
        throw UserError(QStringLiteral("功能模块“%1”无法使用，请联系系统管理员重新安装该模块。")
                            .arg(moduleName),
                        QStringLiteral("%1 loaded but registered no module interface").arg(path));
    }
    qCInfo(lcModules) << "loaded" << path;
    Loaded &m = m_modules[moduleName.toLower()];
    m.library = lib;
    m.ui = ui;
    return m;
}

QString ModuleService::menuTitleOf(const QString &funcName)
{
    const QString menu = g_lstVars->value(QStringLiteral("SysMenu"));
    if (menu.isEmpty())
        return {};
    const QChar sep(0x0E);
    for (const QString &rec : menu.split(u'/')) {
        const QStringList f = rec.split(sep);
        if (f.size() >= 4 && f.at(3).compare(funcName, Qt::CaseInsensitive) == 0)
            return f.at(2);
    }
    return {};
}

void ModuleService::CallFunc(const QString &funcName, int HelpIndex, const QStringList &params,
                             const QString &title)
{
    const QString name = funcName.trimmed();
    const qsizetype dot = name.indexOf(u'.');
    if (dot <= 0 || dot == name.size() - 1) {
        throw UserError(QStringLiteral("菜单项的功能“%1”设置有误，无法打开。请联系系统管理员检查菜单设置。")
                            .arg(funcName),
                        QStringLiteral("function name \"%1\" is not Module.Function").arg(funcName));
    }
    const QString moduleName = name.left(dot);
    const QString func = name.mid(dot + 1);
    if (!validModuleName(moduleName))
        throw UserError(QStringLiteral("菜单项的功能“%1”设置有误，无法打开。请联系系统管理员检查菜单设置。")
                            .arg(funcName),
                        QStringLiteral("invalid module name in \"%1\"").arg(funcName));

    // The module may call further modules from InitConn or ExecFunc, which can add to
    // m_modules: no reference into it is held across those calls.
    IUIBase *ui = load(moduleName).ui;
    if (!m_modules.value(moduleName.toLower()).connected) {
        ui->InitConn();
        m_modules[moduleName.toLower()].connected = true;
    }
    QString desc = title;
    if (desc.isEmpty())
        desc = menuTitleOf(name);
    if (desc.isEmpty())
        desc = func;
    ui->ExecFunc(func, desc, QString(), params, HelpIndex);
}

QWidget *ModuleService::ShowMDIForm(QWidget *instance, const QString &formClass,
                                    const FormFactory &create, int HelpIndex, const QString &title)
{
    QTabWidget *tabs = ParentCtrl.data();
    auto bringToFront = [tabs](QWidget *w) {
        if (tabs && tabs->indexOf(w) >= 0) {
            tabs->setCurrentWidget(w);
            tabs->show();
        } else {
            w->show();
            w->raise();
            w->activateWindow();
        }
        return w;
    };

    if (instance)
        return bringToFront(instance);
    if (tabs) {
        for (int i = 0; i < tabs->count(); ++i) {
            QWidget *w = tabs->widget(i);
            if (w && w->property(kFormClassProperty).toString() == formClass)
                return bringToFront(w);
        }
    }
    m_topLevel.removeAll(nullptr);
    for (const QPointer<QWidget> &w : std::as_const(m_topLevel)) {
        if (w && w->property(kFormClassProperty).toString() == formClass)
            return bringToFront(w);
    }

    QWidget *w = create ? create() : nullptr;
    if (!w)
        throw UserError(QStringLiteral("窗口“%1”无法创建").arg(formClass));
    w->setProperty(kFormClassProperty, formClass);
    w->setProperty("helpIndex", HelpIndex);
    w->setAttribute(Qt::WA_DeleteOnClose);
    if (!title.isEmpty())
        w->setWindowTitle(title);
    if (tabs) {
        const int index = tabs->addTab(w, w->windowTitle());
        QObject::connect(w, &QWidget::windowTitleChanged, tabs, [tabs, w](const QString &t) {
            const int i = tabs->indexOf(w);
            if (i >= 0)
                tabs->setTabText(i, t);
        });
        tabs->setCurrentIndex(index);
        tabs->show();
        w->setFocus();
    } else {
        m_topLevel.append(w);
        w->show();
    }
    return w;
}

} // namespace host
