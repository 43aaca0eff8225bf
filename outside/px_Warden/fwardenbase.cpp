#include "fwardenbase.h"

#include "dataaccess/packet/datapacket.h"
#include "host/errordisplay.h"
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

void TfWardenBase::FormShow()
{
    TfDBBase::FormShow();
    if (m_shown)
        return;
    m_shown = true;
    firstShow();
}

void TfWardenBase::firstShow()
{
    host::guarded([this] {
        try {
            actQueryExecute();
        } catch (const host::SilentAbort &) {
        }
    });
}

void TfWardenBase::addEntryTools(std::function<void()> add, std::function<void()> save,
                                 std::function<void()> cancel, std::function<bool()> selected)
{
    actQuery->setText(QStringLiteral("刷新"));
    addToolButton(actQuery, QStringLiteral("btnQuery"));
    addToolButton(actNew, QStringLiteral("btnNew"));
    addToolButton(actSave, QStringLiteral("btnSave"));
    addToolButton(actCancel, QStringLiteral("btnCancel"));
    setExecuteHandler(actNew, std::move(add));
    setExecuteHandler(actSave, std::move(save));
    setExecuteHandler(actCancel, std::move(cancel));
    setUpdateHandler(actSave, [this, selected] { return m_new || selected(); });
    setUpdateHandler(actCancel, [this] { return m_new; });
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
