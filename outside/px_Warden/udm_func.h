#pragma once
// The data module of px_Warden: maps the administration functions to windows and makes
// the server's administration calls for them (docs/roles.md).

#include "modules/framework/dmu.h"

#include <QCborMap>

namespace quillon {
struct DataPacket;
}

namespace warden {

class TDM_Func : public framework::Tdm
{
    Q_OBJECT
public:
    explicit TDM_Func(QObject *owner = nullptr);

    // fPassEdt, fUsers, fRole, fConfigMenu, fSites (the case of A-Z ignored); unknown
    // names are ignored.
    void new_execute(const QString &callfunc, const QString &funcdesc, const QString &controls,
                     const QStringList &params, int HelpIndex) override;

    // One administration call over the module's connection. A refusal of the server
    // throws host::UserError with the server's text; an unreachable server one that says
    // so.
    QCborMap AdminCall(const QString &call, const QCborMap &args = QCborMap());
    // A data packet that an answer carries under `key`.
    static quillon::DataPacket PacketOf(const QCborMap &answer, const QString &key);
};

// The module's one data module (made on first use, never freed).
TDM_Func *DM_Func();

} // namespace warden
