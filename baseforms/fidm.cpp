#include "baseforms/fidm.h"

#include "dataaccess/mydataset.h"
#include "host/errors.h"

namespace tessera {

TfIDM::TfIDM(QObject *owner)
    : QObject(owner)
{
    setObjectName(QStringLiteral("fIDM"));
}

TfIDM::~TfIDM() = default;

void TfIDM::OpenCds(quillon::TMyDataSet *cds, const QString &sql)
{
    if (!cds)
        throw host::UserError(QStringLiteral("OpenCds: no dataset given"));
    cds->Close();
    cds->DisableControls();
    struct Enable
    {
        quillon::TMyDataSet *ds;
        ~Enable() { ds->EnableControls(); }
    } enable{cds};
    // A new dataset carries a private connection without a provider: it is not bound yet.
    if ((!cds->MyConn() || cds->ProviderName().isEmpty()) && cnServer)
        cds->SetMyConn(cnServer);
    if (!sql.isEmpty())
        cds->SetCommandText(sql);
    cds->Open();
}

} // namespace tessera
