#pragma once
// The shared behaviour of the finance query windows: read-only, set up on the module's
// connection, the option panel of their subject, 切换/查询/导出/关闭 on the tool bar (print and
// chart hidden), freed when closed.

#include "baseforms/fdbquerybase_single.h"
#include "modules/tally/financefilters.h"

namespace tally {

class TfFinanceQuery : public tessera::TfDBQueryBase_Single
{
    Q_OBJECT
public:
    explicit TfFinanceQuery(QWidget *parent = nullptr);
    ~TfFinanceQuery() override;

    FinanceFilters *filters;

protected:
    void InitPDM() override;
    void FormClose(bool &freeOnClose) override;
};

} // namespace tally
