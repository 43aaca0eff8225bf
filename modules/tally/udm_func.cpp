#include "modules/tally/udm_func.h"

#include "modules/tally/fcenaccedt.h"
#include "modules/tally/fcenaccquery.h"
#include "modules/tally/fdfkedt.h"
#include "modules/tally/fdfkquery.h"
#include "modules/tally/fdfpfedt.h"

namespace tally {

TDM_Func::TDM_Func(QObject *owner)
    : framework::Tdm(owner)
{
    setObjectName(QStringLiteral("DM_Func"));
}

TDM_Func::~TDM_Func() = default;

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
    // The form references stay empty: the host finds an open window of the class itself.
    QWidget *none = nullptr;
    if (is("fcenAccEdt"))
        MyShowMDIForm<TfcenAccEdt>(none, controls, HelpIndex, funcdesc);
    else if (is("fcenAccQuery"))
        MyShowMDIForm<TfcenAccQuery>(none, controls, HelpIndex, funcdesc);
    else if (is("fDFKEdt"))
        MyShowMDIForm<TfDFKEdt>(none, controls, HelpIndex, funcdesc);
    else if (is("fDFKQuery"))
        MyShowMDIForm<TfDFKQuery>(none, controls, HelpIndex, funcdesc);
    else if (is("fDFPFEdt"))
        MyShowMDIForm<TfDFPFEdt>(none, controls, HelpIndex, funcdesc);
    else if (is("fDFPFQuery"))
        MyShowMDIForm<TfDFPFQuery>(none, controls, HelpIndex, funcdesc);
}

} // namespace tally
