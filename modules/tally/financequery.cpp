#include "modules/tally/financequery.h"

#include "baseforms/rzcontrols.h"
#include "dataaccess/mydataset.h"
#include "modules/tally/udm_func.h"

#include <QAction>
#include <QToolBar>
#include <QToolButton>

namespace tally {

TfFinanceQuery::TfFinanceQuery(QWidget *parent)
    : TfDBQueryBase_Single(parent)
    , filters(new FinanceFilters(this))
{
    // Hidden, they are disabled too (Ctrl+P included).
    hideAction(actPrint);
    hideAction(actChart);
}

TfFinanceQuery::~TfFinanceQuery() = default;

void TfFinanceQuery::InitPDM()
{
    TfDBQueryBase_Single::InitPDM();
    SetPDM(DM_Func());
    SetDBGridIniFile(objectName() + QStringLiteral(".ini"));
    cdsData->SetMyConn(DM_Func()->cnServer);
    filters->InitPDM();
}

void TfFinanceQuery::FormClose(bool &freeOnClose)
{
    TfDBQueryBase_Single::FormClose(freeOnClose);
    freeOnClose = true;
}

} // namespace tally
