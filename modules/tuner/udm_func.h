#pragma once
// The data module of px_Tuner, the system settings module: maps its four functions to
// windows. fSysLog and fSysUpdate open as pages of the main window through the host;
// fStyleSet and fDEncrypt are modal dialogs that the data module itself makes and keeps:
// a fresh skin dialog for every call, one encrypt/decrypt dialog for the life of the
// program (its texts stay between calls).

#include "modules/framework/dmu.h"

#include <QPointer>
#include <functional>

namespace tuner {

class TfDEncrypt;
class TfStyleSet;

class TDM_Func : public framework::Tdm
{
    Q_OBJECT
public:
    explicit TDM_Func(QObject *owner = nullptr);
    ~TDM_Func() override;

    // Function names (compared without regard to the case of A-Z): fStyleSet, fSysLog,
    // fSysUpdate, fDEncrypt. Unknown names are ignored.
    void new_execute(const QString &callfunc, const QString &funcdesc, const QString &controls,
                     const QStringList &params, int HelpIndex) override;

    // The two dialogs the data module owns; empty while none is made. fStyleSet empties
    // itself when its dialog closes.
    QPointer<TfStyleSet> fStyleSet;
    QPointer<TfDEncrypt> fDEncrypt;

    // Starts the restart script beside the program; returns whether it started. Tests
    // replace it. Default: the platform's script ("ReStart.sh"/"ReStart.bat") run by its
    // interpreter.
    std::function<bool(const QString &scriptPath)> openScript;
    // Ends the program after the restart script started. Default: leave the event loop.
    std::function<void(int)> terminate;

};

// The module's one data module (made on first use, never freed).
TDM_Func *DM_Func();

} // namespace tuner
