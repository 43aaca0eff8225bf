#include "fwardenbase.h"

#include "dataaccess/packet/datapacket.h"
#include "host/errors.h"
#include "host/uintf.h"
#include "host/varlist.h"
#include "udm_func.h"

namespace warden {

TfWardenBase::TfWardenBase(QWidget *parent)
    : TfDBBase(parent)
{
    // The windows keep no grid layouts: their columns are few and fixed.
    SetDBGridIniFile(QString());
}

void TfWardenBase::InitPDM()
{
    TfDBBase::InitPDM();
    SetPDM(DM_Func());
    SetDBGridIniFile(QString());
}

QCborMap TfWardenBase::Call(const QString &call, const QCborMap &args)
{
    try {
        return DM_Func()->AdminCall(call, args);
    } catch (const host::UserError &e) {
        MSGWarningDialog(e.message());
        throw host::SilentAbort();
    }
}

quillon::DataPacket TfWardenBase::CallPacket(const QString &call, const QString &key,
                                             const QCborMap &args)
{
    const QCborMap answer = Call(call, args);
    try {
        return TDM_Func::PacketOf(answer, key);
    } catch (const host::UserError &e) {
        MSGErrorDialog(e.message());
        throw host::SilentAbort();
    }
}

QString TfWardenBase::logOnUser()
{
    return host::g_lstVars ? host::g_lstVars->value(QStringLiteral("LogOnUser")) : QString();
}

bool TfWardenBase::isSuperUser()
{
    return logOnUser() == QLatin1String("dk");
}

void TfWardenBase::require(bool ok, QWidget *control, const QString &message)
{
    if (ok)
        return;
    MSGWarningDialog(message);
    if (control)
        control->setFocus();
    throw host::SilentAbort();
}

} // namespace warden
