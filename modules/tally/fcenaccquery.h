#pragma once

#include "modules/tally/cenaccfilters.h"
#include "modules/tally/financequery.h"

namespace tally {

// "中心账单查询": the read-only view of the centre account lines with the filters of the
// editing window; query, look and export.
class TfcenAccQuery : public TfFinanceQuery
{
    Q_OBJECT
public:
    explicit TfcenAccQuery(QWidget *parent = nullptr);
    ~TfcenAccQuery() override;

    CenAccBoxes boxes;

    QString GetSql() override;

protected:
    void InitPDM() override;
};

} // namespace tally
