#include "modules/framework/dmu.h"

#include "baseforms/fbase.h"
#include "dataaccess/mydataset.h"
#include "dataaccess/mysktconnection.h"
#include "modules/framework/funcs.h"

namespace framework {

Tdm::Tdm(QObject *owner)
    : tessera::TfIDM(owner)
{
    setObjectName(QStringLiteral("dm"));
    DataModuleCreate();
}

Tdm::~Tdm() = default;

void Tdm::DataModuleCreate() {}

void Tdm::InitConn()
{
    cnServer = DBConn()->GetConnectionAs<quillon::TMySktConnection>();
    SetCdsConn(this);
    lstGVars = host::g_lstVars;
}

void Tdm::ExecFunc(const QString &callfunc, const QString &funcdesc, const QString &controls,
                   const QStringList &params, int HelpIndex)
{
    new_execute(callfunc, funcdesc, controls, params, HelpIndex);
}

void Tdm::CallFunc(const QString &FuncName, const QStringList *Params)
{
    host::g_UINetIntf->CallFunc(FuncName, 0, Params ? *Params : QStringList());
}

void Tdm::SetCdsConn(QObject *comp)
{
    if (!comp)
        return;
    // A form owns its declared components; any other object its children.
    const auto *form = qobject_cast<const tessera::TfBase *>(comp);
    const QList<QObject *> owned = form ? form->components() : comp->children();
    for (QObject *child : owned) {
        auto *cds = qobject_cast<quillon::TMyDataSet *>(child);
        if (cds && !cds->MyConn())
            cds->SetMyConn(cnServer);
    }
}

QWidget *Tdm::MyShowMDIForm(const QString &formClass, const host::FormFactory &create,
                            QWidget *&instance, const QString &controls, int HelpIndex,
                            const QString &params)
{
    return host::g_UINetIntf->ShowMDIForm(instance, formClass, create, HelpIndex, params);
}

void Tdm::new_execute(const QString &, const QString &, const QString &, const QStringList &,
                      int)
{
}

void Tdm::FuncNotExists()
{
    FuncObj()->MsgBox(QStringLiteral("此功能暂无法运行,请联系您的软件供应商!"), 0);
}

bool Tdm::sameFunctionName(const QString &a, const QString &b)
{
    if (a.size() != b.size())
        return false;
    for (qsizetype i = 0; i < a.size(); ++i) {
        char16_t x = a.at(i).unicode();
        char16_t y = b.at(i).unicode();
        if (x >= u'a' && x <= u'z')
            x = x - u'a' + u'A';
        if (y >= u'a' && y <= u'z')
            y = y - u'a' + u'A';
        if (x != y)
            return false;
    }
    return true;
}

} // namespace framework
