#pragma once
// The data module that every module library carries. A module derives its own TDM_Func
// from Tdm, overrides new_execute to map function names to windows, creates one instance
// from a static initialiser and publishes it in host::g_UIIntf:
//
//   class TDM_Func : public framework::Tdm { ... void new_execute(...) override; };
//   static struct Register { Register() { host::g_UIIntf = DM_Func(); } } reg;
//
// The host then calls InitConn() once and ExecFunc() for each "Module.Function" call.

#include "baseforms/fidm.h"
#include "host/uintf.h"

#include <QString>
#include <QStringList>

class QWidget;

namespace framework {

class Tdm : public tessera::TfIDM, public host::IUIBase
{
    Q_OBJECT
public:
    explicit Tdm(QObject *owner = nullptr);
    ~Tdm() override;

    // Version text of the module library; no module assigns it.
    QString sDllVersion;

    // ---- IUIBase ---------------------------------------------------------------------------
    // Binds the module to the host: cnServer from g_DBConn, the data module's own datasets
    // that have no connection to it, lstGVars to g_lstVars.
    void InitConn() override;
    // Runs one function: hands the five values to new_execute.
    void ExecFunc(const QString &callfunc, const QString &funcdesc, const QString &controls,
                  const QStringList &params, int HelpIndex) override;

    // ---- TfIDM ------------------------------------------------------------------------------
    // Runs "Module.Function" of any module through the host.
    void CallFunc(const QString &FuncName, const QStringList *Params) override;
    // Binds every TMyDataSet child of comp (direct children, in order) that has no
    // connection to cnServer; bound datasets stay as they are.
    void SetCdsConn(QObject *comp) override;
    // Asks the host to show a window of formClass titled `params` (the function's title).
    // `instance` is handed on as it is and never written; `controls` is not passed on.
    QWidget *MyShowMDIForm(const QString &formClass, const host::FormFactory &create,
                           QWidget *&instance, const QString &controls, int HelpIndex,
                           const QString &params) override;

    template<class Form>
    QWidget *MyShowMDIForm(QWidget *&instance, const QString &controls, int HelpIndex,
                           const QString &params)
    {
        return MyShowMDIForm(QString::fromLatin1(Form::staticMetaObject.className()),
                             [] { return static_cast<QWidget *>(new Form); }, instance, controls,
                             HelpIndex, params);
    }

    // Maps a function name to a window; does nothing here.
    virtual void new_execute(const QString &callfunc, const QString &funcdesc,
                             const QString &controls, const QStringList &params, int HelpIndex);

    // Whether two function names are equal, ignoring the case of A-Z only (the dispatch of
    // every module compares names this way).
    static bool sameFunctionName(const QString &a, const QString &b);

    // The plain message "此功能暂无法运行,请联系您的软件供应商!".
    void FuncNotExists();

protected:
    // The creation handler of the data module; empty.
    virtual void DataModuleCreate();
};

} // namespace framework
