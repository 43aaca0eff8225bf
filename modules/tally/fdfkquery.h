#pragma once

#include "modules/tally/financequery.h"
#include "modules/tally/recordfilters.h"

namespace tally {

// "到付款查询": the read-only view of the pay-on-delivery records with the filters of the
// editing window; SIGNTIME and SIGNCENTER follow the arrival at the centre in the grid.
class TfDFKQuery : public TfFinanceQuery
{
    Q_OBJECT
public:
    explicit TfDFKQuery(QWidget *parent = nullptr);
    ~TfDFKQuery() override;

    RecordBoxes boxes;
    QString GetSql() override;
};

// "派件费查询": the read-only view of the delivery-fee records, with footer sums.
class TfDFPFQuery : public TfFinanceQuery
{
    Q_OBJECT
public:
    explicit TfDFPFQuery(QWidget *parent = nullptr);
    ~TfDFPFQuery() override;

    RecordBoxes boxes;
    QString GetSql() override;
};

} // namespace tally
