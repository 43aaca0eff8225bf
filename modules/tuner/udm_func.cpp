#include "modules/tuner/udm_func.h"

#include "modules/tuner/fdencrypt.h"
#include "modules/tuner/fstyleset.h"
#include "modules/tuner/fsyslog.h"
#include "modules/tuner/fsysupdate.h"
#include "modules/tuner/modalframe.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QProcess>

namespace tuner {

TDM_Func::TDM_Func(QObject *owner)
    : framework::Tdm(owner)
{
    openScript = [](const QString &path) {
#ifdef Q_OS_WIN
        return QProcess::startDetached(QStringLiteral("cmd.exe"), {QStringLiteral("/c"), path},
                                       QFileInfo(path).absolutePath());
#else
        return QProcess::startDetached(QStringLiteral("/bin/sh"), {path},
                                       QFileInfo(path).absolutePath());
#endif
    };
    terminate = [](int code) { QCoreApplication::exit(code); };
}

TDM_Func::~TDM_Func()
{
    // The dialogs' frames have no parent (a data module is no window): free them here.
    if (fDEncrypt)
        delete fDEncrypt->frame();
    if (fStyleSet)
        delete fStyleSet->frame();
}

TDM_Func *DM_Func()
{
    // Lives for the life of the process, as the host keeps module libraries loaded.
    static TDM_Func *dm = new TDM_Func;
    return dm;
}

void TDM_Func::new_execute(const QString &callfunc, const QString &funcdesc,
                           const QString &controls, const QStringList &, int HelpIndex)
{
    auto is = [&callfunc](const char *name) {
        return sameFunctionName(callfunc, QString::fromLatin1(name));
    };
    QWidget *none = nullptr;
    if (is("fStyleSet")) {
        if (!fStyleSet)
            fStyleSet = tessera::createForm<TfStyleSet>();
        fStyleSet->ShowModal();
    } else if (is("fSysLog")) {
        MyShowMDIForm<TfSysLog>(none, controls, HelpIndex, funcdesc);
    } else if (is("fSysUpdate")) {
        MyShowMDIForm<TfSysUpdate>(none, controls, HelpIndex, funcdesc);
    } else if (is("fDEncrypt")) {
        if (!fDEncrypt)
            fDEncrypt = tessera::createForm<TfDEncrypt>();
        fDEncrypt->ShowModal();
    }
}

} // namespace tuner
