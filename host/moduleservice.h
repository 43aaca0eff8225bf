#pragma once
// The host's module service (the object behind g_UINetIntf): finds module libraries by
// name, loads each once, and shows module windows as pages of ParentCtrl.
//
// A module "px_Tuner" is the file px_Tuner.so (px_Tuner.dll on Windows) in, in this
// order: the folders added with addModuleDirectory, the folders of the environment
// variable WAYLINK_MODULE_PATH (":"-separated, ";" on Windows), the program's folder and
// its "modules" subfolder. Module names are matched without regard to case.

#include "host/uintf.h"

#include <QHash>
#include <QList>
#include <QPointer>

class QLibrary;

namespace host {

class ModuleService : public IUINetIntf
{
public:
    static ModuleService &instance();

    QWidget *ShowMDIForm(QWidget *instance, const QString &formClass, const FormFactory &create,
                         int HelpIndex, const QString &title) override;
    using IUINetIntf::ShowMDIForm;
    void CallFunc(const QString &funcName, int HelpIndex = 0, const QStringList &params = {},
                  const QString &title = {}) override;

    void addModuleDirectory(const QString &dir);
    QStringList moduleDirectories() const;
    // Full path of the module library, or empty when it is in none of the folders.
    QString findModuleFile(const QString &moduleName) const;

    bool isLoaded(const QString &moduleName) const;
    // The interface of a loaded module (nullptr when not loaded).
    IUIBase *module(const QString &moduleName) const;
    // Registers a module that lives in the program itself (no library to load); nullptr
    // forgets it again.
    void registerModule(const QString &moduleName, IUIBase *ui);

    // The caption of the menu entry whose function is funcName, from "SysMenu".
    static QString menuTitleOf(const QString &funcName);

private:
    ModuleService() = default;
    struct Loaded
    {
        QLibrary *library = nullptr; // never unloaded: the module's objects live on
        IUIBase *ui = nullptr;
        bool connected = false;
    };
    Loaded &load(const QString &moduleName);

    QStringList m_extraDirs;
    QHash<QString, Loaded> m_modules; // key: module name in lower case
    QList<QPointer<QWidget>> m_topLevel;
};

} // namespace host
