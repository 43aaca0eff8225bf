#include "modules/tally/fdfkquery.h"

#include "baseforms/rzcontrols.h"
#include "modules/tally/financetables.h"

namespace tally {

TfDFKQuery::TfDFKQuery(QWidget *parent)
    : TfFinanceQuery(parent)
{
    setObjectName(QStringLiteral("fDFKQuery"));
    setWindowTitle(QStringLiteral("到付款查询"));
    boxes = buildRecordFilters(*filters, true);
    pnlOption->setFixedHeight(filters->panelHeight());
    setGridColumns(DBGridData, dfkQueryColumns());
}

TfDFKQuery::~TfDFKQuery() = default;

QString TfDFKQuery::GetSql()
{
    return filters->sql(QString::fromUtf16(kDfkHead));
}

TfDFPFQuery::TfDFPFQuery(QWidget *parent)
    : TfFinanceQuery(parent)
{
    setObjectName(QStringLiteral("fDFPFQuery"));
    setWindowTitle(QStringLiteral("派件费查询"));
    boxes = buildRecordFilters(*filters, false);
    pnlOption->setFixedHeight(filters->panelHeight());
    setGridColumns(DBGridData, dfpfColumns(),
                   {QStringLiteral("WEIGHT"), QStringLiteral("JZPAYMONEY"), QStringLiteral("PZGETMONEY")});
}

TfDFPFQuery::~TfDFPFQuery() = default;

QString TfDFPFQuery::GetSql()
{
    return filters->sql(QString::fromUtf16(kDfpfHead));
}

} // namespace tally
