#include "modules/tally/fcenaccquery.h"

#include "baseforms/rzcontrols.h"
#include "modules/tally/financetables.h"

namespace tally {

TfcenAccQuery::TfcenAccQuery(QWidget *parent)
    : TfFinanceQuery(parent)
{
    setObjectName(QStringLiteral("fcenAccQuery"));
    setWindowTitle(QStringLiteral("中心账单查询"));
    boxes = buildCenAccFilters(*filters);
    pnlOption->setFixedHeight(filters->panelHeight());
    setGridColumns(DBGridData, accountColumns());
}

TfcenAccQuery::~TfcenAccQuery() = default;

void TfcenAccQuery::InitPDM()
{
    TfFinanceQuery::InitPDM();
    setUpCenAccUser(boxes);
}

QString TfcenAccQuery::GetSql()
{
    return filters->sql(QString::fromUtf16(kCenAccHead));
}

} // namespace tally
