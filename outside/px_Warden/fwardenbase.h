#pragma once

#include "baseforms/fdbbase.h"

#include <QCborMap>

namespace quillon {
struct DataPacket;
}

namespace warden {

// What the administration windows share: the module's data module, and server calls whose
// refusals are shown as a warning with the server's text before the action stops.
class TfWardenBase : public tessera::TfDBBase
{
    Q_OBJECT
public:
    explicit TfWardenBase(QWidget *parent = nullptr);

    // The administration call; a refusal shows its text and ends in host::SilentAbort.
    QCborMap Call(const QString &call, const QCborMap &args = QCborMap());
    quillon::DataPacket CallPacket(const QString &call, const QString &key,
                                   const QCborMap &args = QCborMap());

    // The signed-on user ("LogOnUser") and whether it is the super administrator.
    static QString logOnUser();
    static bool isSuperUser();

protected:
    void InitPDM() override;
    // A required text: warns with `message`, focuses the control and stops the action.
    void require(bool ok, QWidget *control, const QString &message);
};

} // namespace warden
