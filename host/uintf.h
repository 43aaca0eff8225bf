#pragma once
// Host services shared by the program and every module library (all link Hostcore, so
// these globals exist once per process).
//
//   host::g_lstVars    shared variable list (never null)
//   host::ParentCtrl   page control in which module windows open (set by the program)
//   host::g_FuncObj    function object: messages, line cipher, file lists, server time
//   host::g_DBConn     database object: the one server connection of the process
//   host::g_UINetIntf  module service: ShowMDIForm, CallFunc (never null)
//   host::g_UIIntf     IUIBase of the module library that initialised last
//
// A module library registers itself from a static initialiser:
//   static struct Register { Register() { host::g_UIIntf = &DM_Func; } } reg;
// and the host then calls InitConn() once and ExecFunc() for every call of a function
// "px_Module.fFunction" whose module part names that library.
//
// A module window is shown with
//   host::g_UINetIntf->ShowMDIForm<TfSendMessage>(nullptr, helpIndex, title);
// which opens it as a page of ParentCtrl, or brings an open window of the same class to
// the front. The page takes ownership; the window is deleted when it closes.

#include "host/varlist.h"

#include <QDateTime>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QTabWidget>
#include <QWidget>
#include <functional>

namespace host {

// The interface that every module library publishes in g_UIIntf.
class IUIBase
{
public:
    virtual ~IUIBase();
    // Binds the module to the host (connection from g_DBConn, g_lstVars). Called once,
    // before the first ExecFunc.
    virtual void InitConn() = 0;
    // Runs one function. callfunc is the function part of "Module.Function"; funcdesc
    // is its title (the menu caption); params are name=value lines.
    virtual void ExecFunc(const QString &callfunc, const QString &funcdesc, const QString &controls,
                          const QStringList &params, int HelpIndex) = 0;
};

// Creates a new, unparented module window.
using FormFactory = std::function<QWidget *()>;

// The module service.
class IUINetIntf
{
public:
    virtual ~IUINetIntf();

    // Shows a window of class formClass as a page of ParentCtrl titled `title` and returns
    // it. When a window of that class is already open (or `instance` is an open window)
    // it is brought to the front instead and no new window is made. Without ParentCtrl
    // the window opens as an ordinary top-level window.
    virtual QWidget *ShowMDIForm(QWidget *instance, const QString &formClass,
                                 const FormFactory &create, int HelpIndex,
                                 const QString &title) = 0;

    template<class Form> Form *ShowMDIForm(QWidget *instance, int HelpIndex, const QString &title)
    {
        return static_cast<Form *>(ShowMDIForm(
            instance, QString::fromLatin1(Form::staticMetaObject.className()),
            [] { return static_cast<QWidget *>(new Form); }, HelpIndex, title));
    }

    // Runs "Module.Function": loads the module library on first use, calls its InitConn
    // once, then ExecFunc. Throws host::UserError when the name cannot be resolved (no
    // such library, not a module, no dot); exceptions of the function itself pass
    // through unchanged. `title` defaults to the caption of the menu entry that names the
    // function (from "SysMenu"), else the function name.
    virtual void CallFunc(const QString &funcName, int HelpIndex = 0,
                          const QStringList &params = {}, const QString &title = {}) = 0;
};

// The function object.
class IFuncObj
{
public:
    virtual ~IFuncObj();
    // Modal information message (caption "提示") through the dialog presenter.
    virtual void MsgBox(const QString &text, int flags = 0) = 0;
    // Modal yes/no question (caption "询问"); true for yes.
    virtual bool MsgQuestion(const QString &text) = 0;
    // The line cipher: one printable line out per line in. DecryptStr throws
    // host::UserError for a line that was tampered with or made with another key.
    virtual QString EncryptStr(const QString &plain, int flags = 0) = 0;
    virtual QString DecryptStr(const QString &encrypted, int flags = 0) = 0;
    // Appends to `list` the full names of the files in `directory` matching `mask`
    // ("*.cds"; several masks separated by ";"), sorted by name. A missing directory
    // adds nothing.
    virtual void GetFileList(const QString &directory, QStringList &list, const QString &mask,
                             int flags = 1) = 0;
    // The application server's current time as "yyyy-MM-dd hh:mm:ss" (the local clock
    // until the program installs a server clock).
    virtual QString GetServerTime() = 0;
    virtual QDateTime GetServerDateTime() = 0;
};

// The database object.
class IDBCommObj
{
public:
    virtual ~IDBCommObj();
    // The one connection object of the process (a quillon::TMySktConnection), or nullptr
    // before the program has set it.
    virtual QObject *GetConnection() = 0;
    template<class T> T *GetConnectionAs() { return qobject_cast<T *>(GetConnection()); }
};

extern VarList *const g_lstVars;
extern QPointer<QTabWidget> ParentCtrl;
extern IFuncObj *g_FuncObj;
extern IDBCommObj *g_DBConn;
extern IUINetIntf *const g_UINetIntf;
extern IUIBase *g_UIIntf;

// Factories of the function object and the database object. Each returns the host's
// one instance (made on the first call); the host keeps it for the life of the process.
IFuncObj *CFuncObj();
IDBCommObj *CdbCommObj();

// Program-side hooks.
// The connection that GetConnection returns (not owned).
void setConnection(QObject *connection);
// The server clock behind GetServerTime; an empty function restores the local clock.
void setServerClock(std::function<QDateTime()> clock);

} // namespace host
