#pragma once

#include "modules/tally/financeedit.h"
#include "modules/tally/recordfilters.h"

class QComboBox;

namespace tally {

// "派件费管理": delivery-fee records of a creation- or signing-time range. The user marks
// records, refreshes their destination, sending site and weight from the server's lookup
// functions, computes their delivery fee (算费: one fee into JZPAYMONEY and PZGETMONEY) and
// saves with 保存. The footer sums WEIGHT, JZPAYMONEY and PZGETMONEY.
class TfDFPFEdt : public TfFinanceEdit
{
    Q_OBJECT
public:
    explicit TfDFPFEdt(QWidget *parent = nullptr);
    ~TfDFPFEdt() override;

    RecordBoxes boxes;
    QComboBox *cboMdd, *cboFirstSite, *cboWeight;
    QToolButton *tbRefresh, *tbCalc;

    void sbRefreshClick();
    void actCalcExecute();
    void RefreshDest();
    void RefreshFirstSite();
    void RefreshWeight();
    double CalcFee(const QString &feeType);

    QString GetSql() override;
};

} // namespace tally
