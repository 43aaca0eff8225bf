#include "udm_func.h"

#include "dataaccess/mysktconnection.h"
#include "dataaccess/protocol/protocol.h"
#include "fconfigmenu.h"
#include "fpassedt.h"
#include "frole.h"
#include "fsites.h"
#include "fusers.h"
#include "host/errors.h"

namespace warden {

TDM_Func::TDM_Func(QObject *owner)
    : framework::Tdm(owner)
{
}

TDM_Func *DM_Func()
{
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
    if (is("fPassEdt"))
        MyShowMDIForm<TfPassEdt>(none, controls, HelpIndex, funcdesc);
    else if (is("fUsers"))
        MyShowMDIForm<TfUsers>(none, controls, HelpIndex, funcdesc);
    else if (is("fRole"))
        MyShowMDIForm<TfRole>(none, controls, HelpIndex, funcdesc);
    else if (is("fConfigMenu"))
        MyShowMDIForm<TfConfigMenu>(none, controls, HelpIndex, funcdesc);
    else if (is("fSites"))
        MyShowMDIForm<TfSites>(none, controls, HelpIndex, funcdesc);
}

QCborMap TDM_Func::AdminCall(const QString &call, const QCborMap &args)
{
    if (!cnServer)
        throw host::UserError(QStringLiteral("管理模块没有服务器连接，请重新登录后再试。"));
    try {
        return cnServer->callAdmin(call, args);
    } catch (const quillon::protocol::ProtocolError &e) {
        if (e.status() == 0)
            throw host::UserError(QStringLiteral("无法连接应用服务器，请检查网络后重试。\n%1")
                                      .arg(e.message()));
        throw host::UserError(e.message());
    }
}

quillon::DataPacket TDM_Func::PacketOf(const QCborMap &answer, const QString &key)
{
    try {
        return quillon::DataPacket::fromBinary(answer.value(key).toByteArray());
    } catch (const quillon::PacketError &) {
        throw host::UserError(QStringLiteral("服务器的回答无法读取，请升级程序或联系系统管理员。"));
    }
}

} // namespace warden
